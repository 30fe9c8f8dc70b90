#include "device/download_session.h"

#include "device/serial_port.h"

namespace device {

DownloadSession::DownloadSession(MemoryImage& image, DownloadState& state, QObject* parent)
    : QObject(parent), image_(image), state_(state), receiver_(image, state)
{
    timer1_.setSingleShot(true);
    timer2_.setSingleShot(true);
    timer1_.setObjectName(QStringLiteral("Timer1"));
    timer2_.setObjectName(QStringLiteral("Timer2"));
    connect(&timer1_, &QTimer::timeout, this, &DownloadSession::Timer1Timer);
    connect(&timer2_, &QTimer::timeout, this, &DownloadSession::Timer2Timer);

    ReceiverCallbacks cb;
    cb.write = [this](QByteArrayView frame) {
        if (active_ >= 0 && active_ < int(probes_.size()))
            probes_[size_t(active_)].port->write(frame.toByteArray());
    };
    cb.setText = [this](Text t, const QString& s) { emit textChanged(t, s); };
    cb.setProgressMaximum = [this](int bar, int m) { emit progressMaximum(bar, m); };
    cb.setProgressPosition = [this](int bar, int p) { emit progressPosition(bar, p); };
    cb.deviceAnswered = [this] { timer1_.stop(); };
    cb.finished = [this](Outcome o, const QString& error) { finish(o, error); };
    receiver_.setCallbacks(std::move(cb));
}

DownloadSession::~DownloadSession()
{
    stop();
}

void DownloadSession::start()
{
    stop();
    running_ = true;
    receiver_.reset();
    for (int bar = 0; bar < 3; ++bar)
        emit progressPosition(bar, 0);
    emit textChanged(Text::RecordCounts, QString());
    emit textChanged(Text::DeviceType, QString());
    emit textChanged(Text::SoftwareVersion, QString());
    emit textChanged(Text::Status, QStringLiteral("Подождите, идет прием данных ..."));
    timer1_.start(SearchDelayMs);
}

// The list is built anew for every search: an adapter plugged in after a
// failed search (or a port the system sets up while the program starts) is
// found on the next try without restarting the program.
void DownloadSession::Com_Act()
{
    openable_.clear();
    if (!haveMap_ || !mapGiven_)
        map_ = PortMap::fromEnvironment(SerialPort::systemPortNames());
    haveMap_ = true;
    QStringList paths;
    QVector<int> indices;
    for (int i : map_.candidates()) {
        const QString path = map_.devicePath(i);
        if (path.isEmpty())
            continue;
        paths << path;
        indices << i;
    }
    const std::vector<bool> opened = SerialPort::probe(paths);
    for (qsizetype k = 0; k < indices.size(); ++k)
        if (opened[size_t(k)])
            openable_.append(indices[k]);
}

// Every openable port hears the identification request, in candidate order,
// and stays open; the first to answer carries the download.
void DownloadSession::Timer1Timer()
{
    timer1_.stop();
    closeAll();
    Com_Act();
    for (int index : std::as_const(openable_)) {
        auto port = std::make_unique<SerialPort>();
        port->setPollingDelay(pollMs_);
        port->setPortName(map_.devicePath(index));
        emit portLabelChanged(map_.label(index));
        if (!port->OpenPort())
            continue;
        const int pos = int(probes_.size());
        connect(port.get(), &SerialPort::dataReceived, this, [this, pos](const QByteArray& d) { onData(pos, d); });
        connect(port.get(), &SerialPort::lost, this, [this, pos] {
            if (pos == active_)
                finish(Outcome::Cancel, QStringLiteral("Связь с прибором потеряна."));
        });
        probes_.push_back({index, std::move(port), {}});
        state_.ReplyComplete = false;
        emit progressPosition(0, 0);
        active_ = pos;  // the request goes out on this port
        receiver_.Com_Connect();
        active_ = -1;
    }
    state_.ReplyComplete = false;
    emit progressPosition(0, 0);
    timer2_.start(NotFoundMs);
}

void DownloadSession::onData(int pos, const QByteArray& data)
{
    if (!running_)
        return;
    if (active_ < 0) {
        Probe& p = probes_[size_t(pos)];
        p.early += data;
        if (!p.early.contains(QByteArrayView("\xB8\xB8", 2)))
            return;
        // This port answered: it carries the download, the others are closed.
        active_ = pos;
        for (size_t i = 0; i < probes_.size(); ++i)
            if (int(i) != pos)
                probes_[i].port->ClosePort();
        emit portLabelChanged(map_.label(p.index));
        const QByteArray early = std::exchange(p.early, {});
        receiver_.CommPortDriver1ReceiveData(early);
        return;
    }
    if (pos == active_)
        receiver_.CommPortDriver1ReceiveData(data);
}

void DownloadSession::Timer2Timer()
{
    timer2_.stop();
    if (state_.DeviceFound)
        return;
    closeAll();
    state_.ReplyComplete = false;
    emit progressPosition(0, 0);
    running_ = false;
    emit notFound();
}

void DownloadSession::cancel()
{
    state_.ReplyComplete = false;
    emit progressPosition(0, 0);
    stop();
    emit finished(Outcome::Cancel, QString());
}

void DownloadSession::stop()
{
    timer1_.stop();
    timer2_.stop();
    closeAll();
    running_ = false;
}

void DownloadSession::closeAll()
{
    for (Probe& p : probes_)
        p.port->ClosePort();
    // The ports may be in the middle of delivering a signal; let them go later.
    for (Probe& p : probes_)
        p.port.release()->deleteLater();
    probes_.clear();
    active_ = -1;
}

void DownloadSession::finish(Outcome outcome, const QString& error)
{
    if (!running_)
        return;
    stop();
    // Reported from the event loop, not from inside the receive handler.
    QMetaObject::invokeMethod(
        this, [this, outcome, error] { emit finished(outcome, error); }, Qt::QueuedConnection);
}

}  // namespace device
