#include "device/serial_port.h"

#include <QSerialPort>

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
    port_->disconnect(this);
    port_->close();
    port_.reset();
}

void SerialPort::write(const QByteArray& bytes)
{
    // Write failures are not reported: a stalled download is ended with Cancel.
    if (isOpen())
        port_->write(bytes);
}

void SerialPort::readWaiting()
{
    if (!isOpen() || port_->bytesAvailable() <= 0)
        return;
    const QByteArray data = port_->readAll();
    if (!data.isEmpty())
        emit dataReceived(data);
}

}  // namespace device
