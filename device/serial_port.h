#pragma once
// The serial port layer the download window needs: one port object with a
// name, open/close and byte writes, delivering received bytes as they come
// (readyRead) or, for comparison, polled like the original driver.

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <memory>
#include <vector>

class QSerialPort;

namespace device {

class SerialPort : public QObject {
    Q_OBJECT
public:
    explicit SerialPort(QObject* parent = nullptr);
    ~SerialPort() override;

    // Takes effect only while the port is closed.
    void setPortName(const QString& devicePath);
    QString portName() const { return name_; }

    // Opens exclusively with 115200 baud, 8 data bits, no parity, 2 stop
    // bits, no flow control, DTR off, RTS on; discards pending bytes.  True
    // when open afterwards (also when it already was).
    bool OpenPort();
    void ClosePort();
    bool isOpen() const;

    // Writes one frame and waits until the driver has taken all of it, at
    // most OutputTimeoutMs; then gives up without a report.  Received bytes
    // are not delivered while a frame is being written.
    void write(const QByteArray& bytes);

    static constexpr int OutputTimeoutMs = 2000;

    // Which of the devices open (each opened and closed again at once, in
    // order).
    static std::vector<bool> probe(const QStringList& devicePaths);

    // Windows: the names of the serial ports the system lists as present
    // ("COM41"; its device map and port class).  Empty elsewhere.
    static QStringList systemPortNames();

    // 0 (default): deliver on readyRead.  > 0: poll every ms milliseconds.
    void setPollingDelay(int ms) { pollMs_ = ms; }

signals:
    // OnReceiveData: every byte waiting, in arrival order.
    void dataReceived(const QByteArray& data);
    // The device went away (unplugged, read error).
    void lost();

private:
    void readWaiting();
    void drain(int timeoutMs);

    QString name_;
    std::unique_ptr<QSerialPort> port_;
    QTimer poll_;
    int pollMs_ = 0;
    bool writing_ = false;
    bool readsHandle_ = false;  // under Wine: read through the port's handle
};

}  // namespace device
