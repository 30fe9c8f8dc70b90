#pragma once
// Folders and disks where writing a file fails for a known reason, for the
// tests of the reasons a failed write shows.

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QString>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace writefail {

// Makes `dir` refuse new files.  For a user: no write permission.  Root
// writes whatever the permissions say, so for root: the immutable attribute
// (chattr +i), which stops root too.  Returns why it cannot be done here, or
// an empty text when the folder now refuses new files.
inline QString lockFolder(const QString& dir) {
#ifdef _WIN32
    Q_UNUSED(dir);
    return QStringLiteral("folder permissions are POSIX");
#else
    if (::geteuid() != 0) {
        QFile::setPermissions(dir, QFile::ReadOwner | QFile::ExeOwner);
    } else if (QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("+i"), dir}) != 0) {
        return QStringLiteral("running as root, and chattr +i is not available on this file system");
    }
    QFile probe(dir + QStringLiteral("/probe"));
    if (probe.open(QIODevice::WriteOnly)) {
        probe.remove();
        return QStringLiteral("this system lets the folder be written anyway");
    }
    return QString();
#endif
}

inline void unlockFolder(const QString& dir) {
#ifndef _WIN32
    if (::geteuid() == 0)
        QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("-i"), dir});
    QFile::setPermissions(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
#else
    Q_UNUSED(dir);
#endif
}

// A full disk, for real: the test function runs again in a child of its own
// user and mount namespaces (unshare -rm, no root needed where the system
// allows user namespaces), where a 256 KB memory file system is mounted on
// a fresh folder.  Inside that child smallDisk() names the folder.
inline QString smallDisk() { return qEnvironmentVariable("DORK5_SMALL_DISK"); }

// Fills the disk that holds `dir` to the last byte.
inline void fillDisk(const QString& dir) {
    QFile f(dir + QStringLiteral("/filler"));
    if (!f.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return;
    const QByteArray chunk(512, 'x');
    while (f.write(chunk) > 0) {
    }
}

struct SmallDiskRun {
    QString skipped;  // why a small disk cannot be had here; empty if it ran
    bool passed = false;
    QString output;
};

inline SmallDiskRun runOnSmallDisk(const char* testFunction, const QString& folder) {
    SmallDiskRun run;
#ifdef _WIN32
    Q_UNUSED(testFunction);
    Q_UNUSED(folder);
    run.skipped = QStringLiteral("memory file systems are mounted with unshare on Linux only");
#else
    QDir(folder).removeRecursively();
    QDir().mkpath(folder);
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DORK5_SMALL_DISK"), folder);
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QStringLiteral("unshare"),
                {QStringLiteral("-rm"), QStringLiteral("sh"), QStringLiteral("-c"),
                 QStringLiteral("mount -t tmpfs -o size=256k tmpfs \"$1\" || exit 77; shift; exec \"$@\""),
                 QStringLiteral("sh"), folder, QCoreApplication::applicationFilePath(),
                 QString::fromLatin1(testFunction)});
    if (!child.waitForStarted(10000)) {
        run.skipped = QStringLiteral("unshare is not installed");
        return run;
    }
    child.waitForFinished(120000);
    run.output = QString::fromLocal8Bit(child.readAll());
    if (child.exitCode() == 77 || run.output.startsWith(QStringLiteral("unshare:")))
        run.skipped = QStringLiteral("no memory file system can be mounted here: ") + run.output.trimmed();
    run.passed = child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0;
#endif
    return run;
}

}  // namespace writefail

// In a test function: runs the rest of it on a small full disk (see
// runOnSmallDisk), or skips with the reason when that cannot be had.
#define WRITEFAIL_ON_SMALL_DISK(function, folder)                                \
    do {                                                                         \
        if (writefail::smallDisk().isEmpty()) {                                  \
            const writefail::SmallDiskRun run_ = writefail::runOnSmallDisk(function, folder); \
            if (!run_.skipped.isEmpty())                                         \
                QSKIP(qPrintable(run_.skipped));                                 \
            QVERIFY2(run_.passed, qPrintable(run_.output));                      \
            return;                                                              \
        }                                                                        \
    } while (false)
