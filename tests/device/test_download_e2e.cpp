// The download window and the headless session against the dork5-sim tool on
// real pseudo-terminals, found through ORL_SERIAL_PORTS.

#include "ground/dialogs.h"
#include "device/download_session.h"
#include "device/download_window.h"
#include "device/serial_port.h"
#include "fake_link.h"
#include "sim_process.h"
#include "tests/object_names.h"
#include "tools/sim/instrument.h"

#include <QApplication>
#include <QCheckBox>
#include <QProgressBar>
#include <QPushButton>
#include <QElapsedTimer>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <cstring>

using device::Outcome;

namespace {

const QString kNotFound = QStringLiteral("Прибор не обнаружен! Проверте правильность подключения согласно инструкции!");

bool sameDownload(const device::MemoryImage& got, const device::MemoryImage& expected, QString* where)
{
    auto eq = [](std::span<const uint8_t> x, std::span<const uint8_t> y) {
        return std::memcmp(x.data(), y.data(), x.size()) == 0;
    };
    for (int a = 0; a < 3; ++a)
        if (!eq(got.archive(a), expected.archive(a)))
            return *where = QStringLiteral("archive %1").arg(a), false;
    for (int a = 1; a <= 2; ++a)
        if (!eq(got.series(a), expected.series(a)) || !eq(got.pointCountTable(a), expected.pointCountTable(a)) ||
            !eq(got.seriesStartTable(a), expected.seriesStartTable(a)))
            return *where = QStringLiteral("series %1").arg(a), false;
    return true;
}

sim::Archives scenario(uint32_t seed, std::array<int, 3> records)
{
    sim::ScenarioOptions o;
    o.seed = seed;
    o.records = records;
    return sim::makeScenario(o);
}

// Runs the window modally-but-not-blocking and waits for it to close.
int runWindow(device::TForm2& w, int timeoutMs)
{
    QSignalSpy closed(&w, &QDialog::finished);
    w.open();
    if (!closed.wait(timeoutMs)) {
        w.reject();
        return -1;
    }
    return closed.first().first().toInt();
}

}  // namespace

class TestDownloadE2E : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { qunsetenv("ORL_SERIAL_PORTS"); }
    void windowDownloadsFromSecondPort();
    void sessionSurvivesSplitAndJoinedReplies();
    void badReplyEndsWithMessageAndCancel();
    void noInstrumentGivesNotFoundAfterSevenSeconds();
    void instrumentPluggedInAfterAFailedSearch();
    void cancelDuringSearch();
    void everyRequestReachesTheInstrument();
    void titleBarCloseActsAsCancel();
    void instrumentLostDuringDownload();
};

void TestDownloadE2E::windowDownloadsFromSecondPort()
{
    QTemporaryDir dir;
    const QString dump = dir.filePath(QStringLiteral("expected.img"));
    SimProcess silent({QStringLiteral("--silent")});
    SimProcess instrument({QStringLiteral("--seed"), QStringLiteral("11"), QStringLiteral("--records"),
                           QStringLiteral("37,3,2"), QStringLiteral("--dump-image"), dump});
    QVERIFY(!silent.path().isEmpty() && !instrument.path().isEmpty());
    // The silent port comes first: the search must not stop there.
    qputenv("ORL_SERIAL_PORTS", (QStringLiteral("/nonexistent/tty0:") + silent.path() + QLatin1Char(':') +
                                 instrument.path()).toLocal8Bit());

    ui::ScriptedDialogs dialogs;
    ui::ScopedDialogs scoped(&dialogs);
    device::TForm2 w;
    QCOMPARE(w.windowTitle(), QStringLiteral("Передача данных"));
    QVERIFY(w.CheckBox1->isHidden());
    QCOMPARE(w.StaticText2->text(), QStringLiteral("Ожидание готовности прибора..."));
    // Every element is found under the window by its member's name, once.
    verifyObjectNames(w, {{w.StaticText2, "StaticText2"}, {w.StaticText8, "StaticText8"},
                          {w.ProgressBar1, "ProgressBar1"}, {w.StaticText9, "StaticText9"},
                          {w.ProgressBar2, "ProgressBar2"}, {w.StaticText10, "StaticText10"},
                          {w.ProgressBar3, "ProgressBar3"}, {w.GroupBox1, "GroupBox1"},
                          {w.StaticText4, "StaticText4"}, {w.StaticText5, "StaticText5"},
                          {w.StaticText3, "StaticText3"}, {w.StaticText1, "StaticText1"},
                          {w.StaticText6, "StaticText6"}, {w.StaticText7, "StaticText7"}, {w.Label1, "Label1"},
                          {w.CheckBox1, "CheckBox1"}, {w.Button1, "Button1"}});

    QElapsedTimer t;
    t.start();
    QCOMPARE(runWindow(w, 20000), int(QDialog::Accepted));
    QVERIFY2(t.elapsed() >= 1900, "the search starts 2000 ms after show");
    QVERIFY(dialogs.messages.empty());
    QCOMPARE(w.StaticText5->text(), QStringLiteral("ДОРК-5"));
    QCOMPARE(w.StaticText7->text(), QStringLiteral("37/3/2"));
    QCOMPARE(w.StaticText2->text(), QStringLiteral("Подождите, идет прием данных ..."));
    QCOMPARE(w.StaticText10->text(), QStringLiteral("Архив наблюдения OK!!!"));
    QVERIFY2(w.Label1->text().startsWith(QStringLiteral("\\\\.\\COM3 (")), qPrintable(w.Label1->text()));
    QCOMPARE(w.session().openablePorts(), (QVector<int>{1, 2}));
    QCOMPARE(w.state().RecordCount(0), 37);
    QCOMPARE(w.state().RecordCount(1), 3);
    QCOMPARE(w.state().RecordCount(2), 2);

    auto expected = std::make_unique<device::MemoryImage>();
    sim::fillExpectedImage(scenario(11, {37, 3, 2}), *expected);
    QString where;
    QVERIFY2(sameDownload(w.image(), *expected, &where), qPrintable(where));
    // The tool's own dump of what it serves says the same.
    QFile f(dump);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.size(), sim::kImageFileSize);
    const QByteArray dumped = f.readAll();
    const QByteArray serialized = sim::serializeImage(*expected);
    QCOMPARE(dumped.left(0x30000), serialized.left(0x30000));            // archives
    QCOMPARE(dumped.mid(0x50000), serialized.mid(0x50000));              // series and tables

    // A second download in the same run asks the instrument again and works.
    std::memset(w.image().series(1).data(), 0x99, 16);
    QCOMPARE(runWindow(w, 20000), int(QDialog::Accepted));
    QVERIFY2(sameDownload(w.image(), *expected, &where), qPrintable(where));
}

void TestDownloadE2E::sessionSurvivesSplitAndJoinedReplies()
{
    SimProcess instrument({QStringLiteral("--seed"), QStringLiteral("5"), QStringLiteral("--records"),
                           QStringLiteral("50,4,3"), QStringLiteral("--split"), QStringLiteral("--join")});
    QVERIFY(!instrument.path().isEmpty());
    auto image = std::make_unique<device::MemoryImage>();
    device::DownloadState state;
    device::DownloadSession session(*image, state);
    session.setPortMap(device::PortMap({instrument.path()}));
    QSignalSpy done(&session, &device::DownloadSession::finished);
    session.start();
    QVERIFY(done.wait(30000));
    QCOMPARE(done.first().first().value<Outcome>(), Outcome::Ok);
    auto expected = std::make_unique<device::MemoryImage>();
    sim::fillExpectedImage(scenario(5, {50, 4, 3}), *expected);
    QString where;
    QVERIFY2(sameDownload(*image, *expected, &where), qPrintable(where));
}

void TestDownloadE2E::badReplyEndsWithMessageAndCancel()
{
    SimProcess instrument({QStringLiteral("--records"), QStringLiteral("40,0,0"), QStringLiteral("--overlong"),
                           QStringLiteral("2")});
    qputenv("ORL_SERIAL_PORTS", instrument.path().toLocal8Bit());
    ui::ScriptedDialogs dialogs;
    ui::ScopedDialogs scoped(&dialogs);
    device::TForm2 w;
    QCOMPARE(runWindow(w, 20000), int(QDialog::Rejected));
    QCOMPARE(dialogs.messages.size(), size_t(1));
    QCOMPARE(dialogs.messages[0].caption, QStringLiteral("Ошибка"));
    QVERIFY(dialogs.messages[0].icon == ui::Icon::Error);
    QVERIFY(dialogs.messages[0].text.contains(QStringLiteral("оперативный")));
}

void TestDownloadE2E::noInstrumentGivesNotFoundAfterSevenSeconds()
{
    SimProcess silent({QStringLiteral("--silent")});
    qputenv("ORL_SERIAL_PORTS", silent.path().toLocal8Bit());
    ui::ScriptedDialogs dialogs;
    ui::ScopedDialogs scoped(&dialogs);
    device::TForm2 w;
    QElapsedTimer t;
    t.start();
    QCOMPARE(runWindow(w, 15000), int(QDialog::Rejected));
    const qint64 elapsed = t.elapsed();
    QVERIFY2(elapsed >= 6900 && elapsed < 9000, qPrintable(QString::number(elapsed)));
    QCOMPARE(dialogs.messages.size(), size_t(1));
    QCOMPARE(dialogs.messages[0].text, kNotFound);
    QCOMPARE(dialogs.messages[0].caption, QStringLiteral("Ошибка"));
    QVERIFY(dialogs.messages[0].icon == ui::Icon::Error);
    QVERIFY(dialogs.messages[0].buttons == ui::Buttons::Ok);
    QCOMPARE(w.Label1->text(), QString());
}

// The user forgot the cable: the first search finds nothing; plugged in,
// the instrument is found on the next try, without restarting the program.
void TestDownloadE2E::instrumentPluggedInAfterAFailedSearch()
{
    QTemporaryDir dir;
    const QString adapter = dir.filePath(QStringLiteral("ttyUSB0"));
    qputenv("ORL_SERIAL_PORTS", adapter.toLocal8Bit());
    ui::ScriptedDialogs dialogs;
    ui::ScopedDialogs scoped(&dialogs);
    device::TForm2 w;
    QCOMPARE(runWindow(w, 15000), int(QDialog::Rejected));
    QCOMPARE(dialogs.messages.size(), size_t(1));
    QCOMPARE(dialogs.messages[0].text, kNotFound);

    SimProcess instrument({QStringLiteral("--seed"), QStringLiteral("3"), QStringLiteral("--records"),
                           QStringLiteral("5,1,1")});
    QVERIFY(QFile::link(instrument.path(), adapter));
    QCOMPARE(runWindow(w, 20000), int(QDialog::Accepted));
    QCOMPARE(dialogs.messages.size(), size_t(1));
    QCOMPARE(w.state().RecordCount(0), 5);
}

void TestDownloadE2E::cancelDuringSearch()
{
    SimProcess instrument({QStringLiteral("--records"), QStringLiteral("3,0,0")});
    qputenv("ORL_SERIAL_PORTS", instrument.path().toLocal8Bit());
    ui::ScriptedDialogs dialogs;
    ui::ScopedDialogs scoped(&dialogs);
    device::TForm2 w;
    QSignalSpy closed(&w, &QDialog::finished);
    w.open();
    QTest::qWait(300);
    QTest::mouseClick(w.Button1, Qt::LeftButton);
    QCOMPARE(closed.size(), 1);
    QCOMPARE(closed.first().first().toInt(), int(QDialog::Rejected));
    QVERIFY(dialogs.messages.empty());
    QVERIFY(!w.session().running());
    QTest::qWait(2300);  // the search timer was stopped with the window
    QVERIFY(!w.state().DeviceFound);
    // The port was closed: it opens (exclusively) again.
    device::SerialPort probe;
    probe.setPortName(instrument.path());
    QVERIFY(probe.OpenPort());
}

namespace {

QStringList hexLines(const QList<QByteArray>& frames)
{
    QStringList out;
    for (const QByteArray& f : frames)
        out << QString::fromLatin1(f.toHex(' '));
    return out;
}

QStringList readLog(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLatin1(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

}  // namespace

// What the instrument receives over the pseudo-terminal is exactly what the
// receiver writes, to the last frame: the identification request that follows
// the final reply goes out although the window closes right after it.
void TestDownloadE2E::everyRequestReachesTheInstrument()
{
    QTemporaryDir dir;
    const QString log = dir.filePath(QStringLiteral("requests.log"));
    const std::array<int, 3> counts = {21, 3, 2};
    SimProcess instrument({QStringLiteral("--seed"), QStringLiteral("7"), QStringLiteral("--records"),
                           QStringLiteral("21,3,2"), QStringLiteral("--log"), log});
    QVERIFY(!instrument.path().isEmpty());
    qputenv("ORL_SERIAL_PORTS", instrument.path().toLocal8Bit());

    FakeLink reference(scenario(7, counts));
    reference.run();
    QCOMPARE(reference.outcome, Outcome::Ok);
    const QStringList expected = hexLines(reference.requests);
    QCOMPARE(expected.last(), QStringLiteral("a4 a4 04 00 02 9a 6b 50"));

    ui::ScriptedDialogs dialogs;
    ui::ScopedDialogs scoped(&dialogs);
    // Two downloads in one run of the window: the second is logged after the first.
    device::TForm2 w;
    for (int run = 0; run < 2; ++run) {
        const qsizetype before = readLog(log).size();
        QCOMPARE(runWindow(w, 20000), int(QDialog::Accepted));
        // The tool reads every 50 ms; give it time to log what is on the line.
        QStringList got;
        QElapsedTimer t;
        t.start();
        do {
            QTest::qWait(50);
            got = readLog(log).mid(before);
        } while (got.size() < expected.size() && t.elapsed() < 3000);
        QCOMPARE(got.size(), expected.size());
        QCOMPARE(got, expected);
    }
}

void TestDownloadE2E::titleBarCloseActsAsCancel()
{
    SimProcess instrument({QStringLiteral("--records"), QStringLiteral("2000,0,0"), QStringLiteral("--pace")});
    qputenv("ORL_SERIAL_PORTS", instrument.path().toLocal8Bit());
    ui::ScriptedDialogs dialogs;
    ui::ScopedDialogs scoped(&dialogs);
    device::TForm2 w;
    QSignalSpy closed(&w, &QDialog::finished);
    w.open();
    // Wait until the download runs and the first bar has moved.
    QTRY_VERIFY_WITH_TIMEOUT(w.state().DeviceFound && w.ProgressBar1->value() > 0, 15000);
    w.close();  // what the title bar's close button sends
    QCOMPARE(closed.size(), 1);
    QCOMPARE(closed.first().first().toInt(), int(QDialog::Rejected));
    QVERIFY(!w.isVisible());
    QVERIFY(!w.session().running());
    QVERIFY(!w.state().ReplyComplete);
    QCOMPARE(w.ProgressBar1->value(), 0);
    QVERIFY(dialogs.messages.empty());
    device::SerialPort probe;
    probe.setPortName(instrument.path());
    QVERIFY(probe.OpenPort());
}

// The instrument vanishes while frames go out: the window ends with one
// message and Cancel, and nothing waits on a port that is gone.
void TestDownloadE2E::instrumentLostDuringDownload()
{
    SimProcess instrument({QStringLiteral("--records"), QStringLiteral("2000,0,0"), QStringLiteral("--pace")});
    qputenv("ORL_SERIAL_PORTS", instrument.path().toLocal8Bit());
    ui::ScriptedDialogs dialogs;
    ui::ScopedDialogs scoped(&dialogs);
    device::TForm2 w;
    QSignalSpy closed(&w, &QDialog::finished);
    w.open();
    QTRY_VERIFY_WITH_TIMEOUT(w.state().DeviceFound && w.ProgressBar1->value() > 0, 15000);
    instrument.kill();
    QTRY_COMPARE_WITH_TIMEOUT(closed.size(), 1, 10000);
    QCOMPARE(closed.first().first().toInt(), int(QDialog::Rejected));
    QVERIFY(!w.session().running());
    QCOMPARE(dialogs.messages.size(), size_t(1));
    QCOMPARE(dialogs.messages[0].caption, QStringLiteral("Ошибка"));
}

QTEST_MAIN(TestDownloadE2E)
#include "test_download_e2e.moc"
