// dork5-sim: a simulated ДОРК-5 on a pseudo-terminal.  Prints the device path
// to open as the first line on stdout, then answers the download protocol
// until it is killed.

#include "tools/sim/instrument.h"

#include <QCoreApplication>
#include <QFile>
#include <QStringList>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kLineBytesPerSecond = 115200.0 / 11.0;  // 8N2: start + 8 data + 2 stop bits

[[noreturn]] void usage(const char* why)
{
    std::fprintf(stderr,
                 "dork5-sim: %s\n"
                 "usage: dork5-sim [--seed N] [--records c0,c1,c2] [--points N | --points w1,w2,..:o1,o2,..]\n"
                 "                 [--total-points P] [--image FILE] [--pace] [--split] [--join]\n"
                 "                 [--truncate K] [--corrupt K] [--overlong K] [--silent] [--dump-image FILE]\n"
                 "                 [--log FILE]\n",
                 why);
    std::exit(2);
}

QList<int> intList(const QString& s)
{
    QList<int> out;
    for (const QString& p : s.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        bool ok = false;
        out << p.toInt(&ok);
        if (!ok)
            usage("bad number list");
    }
    return out;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    sim::ScenarioOptions scenario;
    sim::Faults faults;
    QString imagePath, dumpPath, logPath;
    bool pace = false, split = false, recordsGiven = false;
    auto value = [&](int& i) -> QString {
        if (i + 1 >= args.size())
            usage("missing value");
        return args[++i];
    };
    for (int i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == QLatin1String("--seed")) {
            scenario.seed = value(i).toUInt();
        } else if (a == QLatin1String("--records")) {
            const QList<int> c = intList(value(i));
            if (c.size() != 3)
                usage("--records needs c0,c1,c2");
            scenario.records = {c[0], c[1], c[2]};
            recordsGiven = true;
        } else if (a == QLatin1String("--points")) {
            const QString v = value(i);
            if (v.contains(QLatin1Char(':'))) {
                scenario.pointsWaiting = intList(v.section(QLatin1Char(':'), 0, 0));
                scenario.pointsObservation = intList(v.section(QLatin1Char(':'), 1, 1));
            } else {
                scenario.pointsAll = v.toInt();
            }
        } else if (a == QLatin1String("--total-points")) {
            scenario.totalPoints = value(i).toLongLong();
        } else if (a == QLatin1String("--image")) {
            imagePath = value(i);
        } else if (a == QLatin1String("--log")) {
            logPath = value(i);
        } else if (a == QLatin1String("--dump-image")) {
            dumpPath = value(i);
        } else if (a == QLatin1String("--pace")) {
            pace = true;
        } else if (a == QLatin1String("--split")) {
            split = true;
        } else if (a == QLatin1String("--join")) {
            faults.join = true;
        } else if (a == QLatin1String("--silent")) {
            faults.silent = true;
        } else if (a == QLatin1String("--truncate")) {
            faults.truncate = value(i).toInt();
        } else if (a == QLatin1String("--corrupt")) {
            faults.corrupt = value(i).toInt();
        } else if (a == QLatin1String("--overlong")) {
            faults.overlong = value(i).toInt();
        } else {
            usage("unknown option");
        }
    }

    sim::Archives archives;
    if (!imagePath.isEmpty()) {
        if (!recordsGiven)
            usage("--image needs --records c0,c1,c2");
        QString error;
        if (!sim::archivesFromImageFile(imagePath, scenario.records, archives, &error)) {
            std::fprintf(stderr, "dork5-sim: %s\n", qPrintable(error));
            return 1;
        }
    } else {
        archives = sim::makeScenario(scenario);
    }
    if (!dumpPath.isEmpty()) {
        auto image = std::make_unique<device::MemoryImage>();
        sim::fillExpectedImage(archives, *image);
        if (!sim::writeImageFile(dumpPath, *image)) {
            std::fprintf(stderr, "dork5-sim: cannot write %s\n", qPrintable(dumpPath));
            return 1;
        }
    }

    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        std::perror("dork5-sim: pseudo-terminal");
        return 1;
    }
    const char* slaveName = ptsname(master);
    // Holding the slave open keeps the master readable while the program
    // closes and reopens the port during its search.
    const int keeper = open(slaveName, O_RDWR | O_NOCTTY);
    termios t{};
    if (keeper < 0 || tcgetattr(keeper, &t) != 0) {
        std::perror("dork5-sim: slave");
        return 1;
    }
    cfmakeraw(&t);
    cfsetispeed(&t, B115200);
    cfsetospeed(&t, B115200);
    tcsetattr(keeper, TCSANOW, &t);
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    std::printf("%s\n", slaveName);
    std::fflush(stdout);

    sim::Instrument instrument(archives, faults);
    // Request log: one line per received frame, its bytes in hex, written
    // through at once so that a reader sees every frame the moment it came.
    FILE* log = nullptr;
    if (!logPath.isEmpty()) {
        log = std::fopen(QFile::encodeName(logPath).constData(), "w");
        if (!log) {
            std::perror("dork5-sim: --log");
            return 1;
        }
        std::setvbuf(log, nullptr, _IONBF, 0);
        instrument.setRequestObserver([log](const QByteArray& frame) {
            const QByteArray line = frame.toHex(' ') + '\n';
            std::fwrite(line.constData(), 1, size_t(line.size()), log);
        });
    }
    QByteArray out;
    qsizetype sent = 0;
    auto lastRequest = Clock::now();
    auto lineFree = Clock::now();  // when the line can take the next byte (pacing)
    uint32_t rng = scenario.seed * 747796405u + 1;
    auto random = [&]() { rng ^= rng << 13; rng ^= rng >> 17; rng ^= rng << 5; return rng; };

    for (;;) {
        const bool pending = sent < out.size();
        pollfd p{master, short(POLLIN | (pending ? POLLOUT : 0)), 0};
        int timeout = pending ? 1 : 50;
        if (pending && pace) {
            const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(lineFree - Clock::now()).count();
            timeout = int(std::clamp<long long>(wait, 0, 5));
        }
        if (poll(&p, 1, timeout) < 0 && errno != EINTR)
            break;
        if (p.revents & POLLIN) {
            char buf[4096];
            const ssize_t n = read(master, buf, sizeof buf);
            if (n > 0) {
                const auto now = Clock::now();
                // A request after a long pause belongs to a new download.
                if (now - lastRequest > std::chrono::milliseconds(1000) && sent >= out.size())
                    instrument.restart();
                lastRequest = now;
                const QByteArray reply = instrument.feed(QByteArrayView(buf, n));
                if (!reply.isEmpty()) {
                    if (sent >= out.size()) {
                        out.clear();
                        sent = 0;
                        lineFree = std::max(lineFree, now);
                    }
                    out += reply;
                }
            }
        }
        if (sent < out.size()) {
            const auto now = Clock::now();
            qsizetype n = out.size() - sent;
            if (pace) {
                if (lineFree < now - std::chrono::milliseconds(20))
                    lineFree = now;  // the line was idle: no credit for the idle time
                const double due = std::chrono::duration<double>(now - lineFree).count() * kLineBytesPerSecond;
                n = due < 0 ? 0 : std::min<qsizetype>(n, 1 + qsizetype(due));
            }
            if (split)
                n = std::min<qsizetype>(n, qsizetype(1 + random() % 64));
            if (n > 0) {
                const ssize_t w = write(master, out.constData() + sent, size_t(n));
                if (w > 0) {
                    sent += w;
                    if (pace)
                        lineFree += std::chrono::nanoseconds(qint64(double(w) * 1e9 / kLineBytesPerSecond));
                    if (split)
                        std::this_thread::sleep_for(std::chrono::microseconds(random() % 3000));
                }
            }
        }
    }
    return 0;
}
