#include "device/serial_port.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QSerialPort>
#include <algorithm>
#include <utility>

namespace device {

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
    if (pollMs_ > 0)
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

void SerialPort::readWaiting()
{
    if (writing_ || !isOpen() || port_->bytesAvailable() <= 0)
        return;
    const QByteArray data = port_->readAll();
    if (!data.isEmpty())
        emit dataReceived(data);
}

}  // namespace device
