#pragma once
// The port-driving part of the download window without the window: the list
// of openable ports, the search (Timer1, Timer2), and the glue between the
// serial port and the receiver.  TForm2 shows what it reports; the benchmark
// and end-to-end tests run it headless.
//
// Search: 2000 ms after start the candidates that open are listed, then every
// openable candidate is opened in ascending
// order and sent the identification request; all stay open and the first one
// that answers (lowest candidate when several answer at once) carries the
// download, the others are closed.  If none answers within a further 5000 ms,
// notFound() is emitted.

#include "device/port_map.h"
#include "device/receiver.h"

#include <QObject>
#include <QTimer>
#include <QVector>
#include <memory>
#include <vector>

namespace device {

class SerialPort;

class DownloadSession : public QObject {
    Q_OBJECT
public:
    static constexpr int SearchDelayMs = 2000;  // Timer1
    static constexpr int NotFoundMs = 5000;     // Timer2

    DownloadSession(MemoryImage& image, DownloadState& state, QObject* parent = nullptr);
    ~DownloadSession() override;

    // FormShow: reset the download state, start Timer1; the search builds
    // the list of openable ports (Com_Act) anew each time.
    void start();
    // Button1Click: close the ports, finished(Cancel).
    void cancel();
    // FormClose: stop the timers, close the ports; emits nothing.
    void stop();

    // 0 (default): read on readyRead.  > 0: poll every ms (the old driver).
    void setPollingDelay(int ms) { pollMs_ = ms; }
    // The map from candidates to devices (default: PortMap::fromEnvironment()
    // taken on the first start).
    void setPortMap(const PortMap& map) { map_ = map; haveMap_ = true; mapGiven_ = true; }

    // Com_Act: indices of the openable candidates, built by the last search.
    const QVector<int>& openablePorts() const { return openable_; }
    Receiver& receiver() { return receiver_; }
    bool running() const { return running_; }

signals:
    void textChanged(device::Text which, const QString& text);
    void progressMaximum(int bar, int maximum);
    void progressPosition(int bar, int position);
    void portLabelChanged(const QString& text);   // Label1
    void notFound();                              // Timer2 ran out
    void finished(device::Outcome outcome, const QString& error);

private:
    void Com_Act();
    void Timer1Timer();
    void Timer2Timer();
    void onData(int candidate, const QByteArray& data);
    void closeAll();
    void finish(Outcome outcome, const QString& error);

    struct Probe {
        int index;  // candidate index
        std::unique_ptr<SerialPort> port;
        QByteArray early;  // bytes before this port won
    };

    MemoryImage& image_;
    DownloadState& state_;
    Receiver receiver_;
    PortMap map_;
    bool haveMap_ = false;
    bool mapGiven_ = false;  // setPortMap: kept; otherwise taken anew each search
    QVector<int> openable_;
    std::vector<Probe> probes_;
    int active_ = -1;  // position in probes_ of the port carrying the download
    QTimer timer1_, timer2_;
    int pollMs_ = 0;
    bool running_ = false;
};

}  // namespace device
