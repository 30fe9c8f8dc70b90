#include "device/serial_port.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QSerialPort>
#include <QSerialPortInfo>
#include <algorithm>
#include <utility>

#ifdef _WIN32
#include <windows.h>
#endif

namespace device {

#ifdef _WIN32
namespace {

// Wine completes a port's overlapped WaitCommEvent at once but posts no
// packet to the I/O completion port that Qt's serial port waits on, so Qt
// never reads what arrives.  Under Wine the port is polled and read through
// its handle instead; Windows itself never takes this path.
bool underWine()
{
    static const bool wine =
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
    return wine;
}

// Everything in the port's input queue, read without waiting for more.
QByteArray readQueued(HANDLE h)
{
    DWORD errors = 0;
    COMSTAT st{};
    if (!ClearCommError(h, &errors, &st) || st.cbInQue == 0)
        return {};
    QByteArray buf(int(st.cbInQue), Qt::Uninitialized);
    OVERLAPPED ov{};
    HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!done)
        return {};
    // The low bit keeps the completion off Qt's completion port.
    ov.hEvent = reinterpret_cast<HANDLE>(reinterpret_cast<ULONG_PTR>(done) | 1);
    DWORD got = 0;
    if (!ReadFile(h, buf.data(), st.cbInQue, &got, &ov) &&
        (GetLastError() != ERROR_IO_PENDING || !GetOverlappedResult(h, &ov, &got, TRUE)))
        got = 0;
    CloseHandle(done);
    buf.resize(int(got));
    return buf;
}

}  // namespace
#endif

SerialPort::SerialPort(QObject* parent) : QObject(parent)
{
    connect(&poll_, &QTimer::timeout, this, &SerialPort::readWaiting);
}

SerialPort::~SerialPort()
{
    ClosePort();
}

void SerialPort::setPortName(const QString& devicePath)
{
    if (!isOpen())
        name_ = devicePath;
}

bool SerialPort::isOpen() const
{
    return port_ && port_->isOpen();
}

bool SerialPort::OpenPort()
{
    if (isOpen())
        return true;
    if (name_.isEmpty())
        return false;
    auto port = std::make_unique<QSerialPort>();
    port->setPortName(name_);
    port->setBaudRate(115200);
    port->setDataBits(QSerialPort::Data8);
    port->setParity(QSerialPort::NoParity);
    port->setStopBits(QSerialPort::TwoStop);
    port->setFlowControl(QSerialPort::NoFlowControl);
    if (!port->open(QIODevice::ReadWrite))  // exclusive: a port in use does not open
        return false;
    // Modem lines do not exist on every device (a pseudo-terminal has none);
    // a refusal here is not a reason to give the port up.
    port->setDataTerminalReady(false);
    port->setRequestToSend(true);
    port->clear(QSerialPort::AllDirections);
    port->clearError();
    port_ = std::move(port);
    connect(port_.get(), &QSerialPort::errorOccurred, this, [this](QSerialPort::SerialPortError e) {
        if (e == QSerialPort::ResourceError || e == QSerialPort::ReadError)
            emit lost();
    });
#ifdef _WIN32
    readsHandle_ = underWine();
#endif
    if (readsHandle_)
        poll_.start(5);
    else if (pollMs_ > 0)
        poll_.start(pollMs_);
    else
        connect(port_.get(), &QIODevice::readyRead, this, &SerialPort::readWaiting);
    return true;
}

void SerialPort::ClosePort()
{
    poll_.stop();
    if (!port_)
        return;
    // Closing drops whatever is still queued; the last frame of a download
    // (the identification request after the final reply) must go out too.
    // Not from inside a wait of our own (a lost device reported during a
    // write) nor on a port that has failed: there is nothing left to wait for.
    if (!writing_ && port_->error() == QSerialPort::NoError)
        drain(OutputTimeoutMs);
    port_->disconnect(this);
    port_->close();
    // The port may be in the middle of one of its own calls (a wait, or the
    // signal that reported the failure); it goes when that call is over.
    if (QCoreApplication::instance())
        port_.release()->deleteLater();
    else
        port_.reset();
}

void SerialPort::write(const QByteArray& bytes)
{
    // Write failures are not reported: a stalled download is ended with Cancel.
    if (!isOpen())
        return;
    port_->write(bytes);
    drain(OutputTimeoutMs);
}

void SerialPort::drain(int timeoutMs)
{
    if (!isOpen() || port_->bytesToWrite() <= 0)
        return;
    // Waiting may read incoming bytes into the port's buffer and announce
    // them; they are delivered after the frame is out, never in the middle
    // of the handler that writes it.
    const bool nested = std::exchange(writing_, true);
    const QDeadlineTimer deadline(timeoutMs);
    // A lost device may close the port under the wait.
    while (isOpen() && port_->bytesToWrite() > 0 && !deadline.hasExpired()) {
        if (!port_->waitForBytesWritten(int(std::max<qint64>(1, deadline.remainingTime()))))
            break;
    }
    writing_ = nested;
    if (!writing_ && isOpen() && port_->bytesAvailable() > 0)
        QMetaObject::invokeMethod(this, &SerialPort::readWaiting, Qt::QueuedConnection);
}

std::vector<bool> SerialPort::probe(const QStringList& devicePaths)
{
    std::vector<bool> opened(size_t(devicePaths.size()), false);
    for (qsizetype i = 0; i < devicePaths.size(); ++i) {
        SerialPort port;
        port.setPortName(devicePaths[i]);
        opened[size_t(i)] = port.OpenPort();
        port.ClosePort();
    }
    return opened;
}

QStringList SerialPort::systemPortNames()
{
    QStringList names;
#ifdef _WIN32
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts())
        names << info.portName();
#endif
    // Elsewhere the device list of the port map stands for the system's.
    return names;
}

void SerialPort::readWaiting()
{
#ifdef _WIN32
    if (readsHandle_) {
        if (writing_ || !isOpen())
            return;
        const QByteArray data = readQueued(reinterpret_cast<HANDLE>(port_->handle()));
        if (!data.isEmpty())
            emit dataReceived(data);
        return;
    }
#endif
    if (writing_ || !isOpen() || port_->bytesAvailable() <= 0)
        return;
    const QByteArray data = port_->readAll();
    if (!data.isEmpty())
        emit dataReceived(data);
}

}  // namespace device
