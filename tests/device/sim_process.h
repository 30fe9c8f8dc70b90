#pragma once
// Runs the dork5-sim tool on a pseudo-terminal for the duration of a test.

#include <QElapsedTimer>
#include <QProcess>
#include <QString>
#include <QStringList>

class SimProcess {
public:
    explicit SimProcess(const QStringList& args)
    {
        proc_.setProgram(QStringLiteral(DORK5_SIM_PATH));
        proc_.setArguments(args);
        proc_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        proc_.start();
        QElapsedTimer t;
        t.start();
        while (!proc_.canReadLine() && t.elapsed() < 10000 && proc_.state() != QProcess::NotRunning)
            proc_.waitForReadyRead(200);
        path_ = QString::fromLocal8Bit(proc_.readLine()).trimmed();
    }
    ~SimProcess()
    {
        proc_.kill();
        proc_.waitForFinished(3000);
    }
    QString path() const { return path_; }
    // The instrument goes away as if its cable were pulled.
    void kill()
    {
        proc_.kill();
        proc_.waitForFinished(3000);
    }

private:
    QProcess proc_;
    QString path_;
};
