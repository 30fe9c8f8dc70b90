#pragma once
// Running the independent readers the output tests check against: any
// program with a time limit, and LibreOffice headless with a profile and HOME
// of its own so that parallel runs do not clash.

#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <QUrl>

namespace tooltest {

inline bool run(const QString& program, const QStringList& args, QByteArray& out, QString& err,
                int timeoutMs = 90000,
                const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment())
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(program, args);
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        err = program + QStringLiteral(" did not finish");
        return false;
    }
    out = p.readAllStandardOutput();
    err = QString::fromLocal8Bit(p.readAllStandardError());
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

inline bool haveSoffice() { return !QStandardPaths::findExecutable(QStringLiteral("soffice")).isEmpty(); }

// soffice --headless with its profile and HOME under `home`.
inline bool soffice(const QString& home, const QStringList& args, QString& err)
{
    const QString exe = QStandardPaths::findExecutable(QStringLiteral("soffice"));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home + QStringLiteral("/home"));
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    QDir().mkpath(home + QStringLiteral("/home"));
    QByteArray out;
    const QStringList all =
        QStringList{QStringLiteral("-env:UserInstallation=") + QUrl::fromLocalFile(home + QStringLiteral("/profile")).toString(),
                    QStringLiteral("--headless"), QStringLiteral("--norestore")} +
        args;
    return run(exe, all, out, err, 120000, env);
}

}  // namespace tooltest
