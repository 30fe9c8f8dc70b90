// dork5-sim-bench: one download from dork5-sim over a pseudo-terminal, timed
// against the pure line time of every reply byte at 115200 baud 8N2.
// Usage: dork5-sim-bench SIM_PATH [--records c0,c1,c2] [--total-points P] [--poll MS]

#include "device/download_session.h"
#include "tools/sim/instrument.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <cstdio>

namespace {

// Bytes the instrument sends in a clean download of these archives.
qint64 replyBytes(const sim::Archives& archives)
{
    auto image = std::make_unique<device::MemoryImage>();
    device::DownloadState state;
    sim::Instrument instrument(archives);
    QList<QByteArray> queue;
    device::ReceiverCallbacks cb;
    cb.write = [&](QByteArrayView f) {
        const QByteArray r = instrument.feed(f);
        if (!r.isEmpty())
            queue << r;
    };
    device::Receiver rx(*image, state, cb);
    rx.reset();
    rx.Com_Connect();
    while (!queue.isEmpty())
        rx.CommPortDriver1ReceiveData(queue.takeFirst());
    return instrument.replyBytes();
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: dork5-sim-bench SIM_PATH [--records c0,c1,c2] [--total-points P] [--poll MS]\n");
        return 2;
    }
    QString records = QStringLiteral("4681,201,201"), total = QStringLiteral("150000");
    int poll = 0;
    for (int i = 2; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--records"))
            records = args[i + 1];
        else if (args[i] == QLatin1String("--total-points"))
            total = args[i + 1];
        else if (args[i] == QLatin1String("--poll"))
            poll = args[i + 1].toInt();
    }
    sim::ScenarioOptions o;
    const QStringList c = records.split(QLatin1Char(','));
    o.records = {c.value(0).toInt(), c.value(1).toInt(), c.value(2).toInt()};
    o.totalPoints = total.toLongLong();
    const qint64 bytes = replyBytes(sim::makeScenario(o));
    const double lineSeconds = double(bytes) * 11.0 / 115200.0;

    QProcess simulator;
    simulator.start(args[1], {QStringLiteral("--records"), records, QStringLiteral("--total-points"), total,
                              QStringLiteral("--pace")});
    while (!simulator.canReadLine() && simulator.waitForReadyRead(5000)) {
    }
    const QString path = QString::fromLocal8Bit(simulator.readLine()).trimmed();
    if (path.isEmpty()) {
        std::fprintf(stderr, "dork5-sim did not start\n");
        return 1;
    }

    auto image = std::make_unique<device::MemoryImage>();
    device::DownloadState state;
    device::DownloadSession session(*image, state);
    session.setPortMap(device::PortMap({path}));
    session.setPollingDelay(poll);
    QElapsedTimer clock;
    bool started = false;
    QObject::connect(&session, &device::DownloadSession::portLabelChanged, [&] {
        if (!std::exchange(started, true))
            clock.start();  // the search sends the first request now
    });
    int rc = 1;
    QObject::connect(&session, &device::DownloadSession::finished, [&](device::Outcome outcome, const QString& e) {
        const double seconds = double(clock.nsecsElapsed()) / 1e9;
        if (outcome == device::Outcome::Ok) {
            std::printf("%s: %lld reply bytes, line time %.2f s, download %.2f s, ratio %.3f\n",
                        poll ? qPrintable(QStringLiteral("polling every %1 ms").arg(poll)) : "readyRead",
                        static_cast<long long>(bytes), lineSeconds, seconds, seconds / lineSeconds);
            rc = 0;
        } else {
            std::printf("download failed: %s\n", qPrintable(e));
        }
        app.quit();
    });
    QObject::connect(&session, &device::DownloadSession::notFound, [&] {
        std::printf("instrument not found\n");
        app.quit();
    });
    session.start();
    app.exec();
    simulator.kill();
    simulator.waitForFinished(3000);
    return rc;
}
