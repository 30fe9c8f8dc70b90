// The database commands of the main window, end to end: "Создать" against the
// simulated instrument on a pseudo-terminal, open, close with the save
// question, delete rows, damaged and locked files, memory-image files.
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <cstring>
#ifndef _WIN32
#include <sys/resource.h>
#endif
#include <sys/stat.h>

#include "ground/dialogs.h"
#include "ground/settings_key.h"
#include "decode/primitives.h"
#include "device/download_window.h"
#include "store/dbf.h"
#include "store/measurement.h"
#include "tests/device/sim_process.h"
#include "tests/write_failure.h"
#include "tools/sim/instrument.h"
#include "mainwindow/main_window.h"
#include "views/observation_view.h"
#include "views/waiting_view.h"
#include "views/record_grid.h"
#include "views/string_grid.h"

namespace {

const QString kCorrupt = QStringLiteral("База данных повреждена !");

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Rows of a table file as an independent reader sees them: one line per row,
// fields separated by tabs, numbers as Python prints them.
QStringList readWithDbfread(const QString& path, const QStringList& fields)
{
    const QString script = QStringLiteral(
        "import sys, dbfread\n"
        "t = dbfread.DBF(sys.argv[1], encoding='cp1251')\n"
        "for r in t:\n"
        "    print('\\t'.join('' if r[f] is None else str(r[f]) for f in sys.argv[2].split(',')))\n");
    QProcess p;
    p.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), script, path, fields.join(QLatin1Char(','))});
    if (!p.waitForFinished(60000) || p.exitCode() != 0)
        return {QStringLiteral("reader failed: ") + QString::fromUtf8(p.readAllStandardError())};
    return QString::fromUtf8(p.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

bool haveDbfread()
{
    return QProcess::execute(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), QStringLiteral("import dbfread")}) == 0;
}

QString num(double v)
{
    // Python's str() of a float read from an N field.
    QString s = QString::number(v, 'g', 12);
    if (!s.contains(QLatin1Char('.')) && !s.contains(QLatin1Char('e')))
        s += QStringLiteral(".0");
    return s;
}

float floatAt(const QByteArray& b, qsizetype at)
{
    float f;
    std::memcpy(&f, b.constData() + at, 4);
    return f;
}
uint32_t u32(const QByteArray& b, qsizetype at)
{
    uint32_t v;
    std::memcpy(&v, b.constData() + at, 4);
    return v;
}

double rounded(float f) { return std::nearbyint(double(f) / 0.01) * 0.01; }

}  // namespace

class DbCommandsTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void createFromInstrument();
    void createCancelledKeepsOldFile();
    void openDamagedAndEmpty();
    void openLockedOrReadOnly();
    void deleteRowsSaveQuestion();
    void memoryImageFile();
    void appendDownload();
    void specialFilesRefusedAtOnce();
    void failedCreateLeavesNoDatabase();

private:
    struct Program {
        SettingsKey settings;
        TForm1 form1;
        device::TForm2 form2;
        explicit Program(const QString& cfg) : settings(cfg), form1(settings), form2(&form1)
        {
            form1.setDownloadWindow(&form2);
        }
    };
    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<ui::ScriptedDialogs> dialogs_;
    std::unique_ptr<ui::ScopedDialogs> scope_;
    std::unique_ptr<Program> prog_;

    Program& program()
    {
        if (!prog_)
            prog_ = std::make_unique<Program>(dir_->filePath(QStringLiteral("cfg/ORL.reg")));
        return *prog_;
    }
    QString path(const QString& name) const { return dir_->filePath(name); }
    // A database created from the simulator through "Создать".
    QString createFromSim(const QString& name, const QStringList& simArgs);
};

void DbCommandsTest::init()
{
    dir_ = std::make_unique<QTemporaryDir>();
    dialogs_ = std::make_unique<ui::ScriptedDialogs>();
    scope_ = std::make_unique<ui::ScopedDialogs>(dialogs_.get());
}

void DbCommandsTest::cleanup()
{
    prog_.reset();
    scope_.reset();
    dialogs_.reset();
    dir_.reset();
}

QString DbCommandsTest::createFromSim(const QString& name, const QStringList& simArgs)
{
    SimProcess sim(simArgs);
    if (sim.path().isEmpty())
        return {};
    qputenv("ORL_SERIAL_PORTS", sim.path().toLocal8Bit());
    const QString file = QDir::isAbsolutePath(name) ? name : path(name);
    dialogs_->files.push_back(file);
    program().form1.N2Click();
    return file;
}

void DbCommandsTest::createFromInstrument()
{
    const QStringList args = {QStringLiteral("--seed"), QStringLiteral("7"), QStringLiteral("--records"),
                              QStringLiteral("12,2,2"), QStringLiteral("--points"), QStringLiteral("40,3:70,1")};
    const QString file = createFromSim(QStringLiteral("Проба.db"), args);
    QVERIFY(!file.isEmpty());
    TForm1& f = program().form1;
    QVERIFY(f.db_open);
    QVERIFY(!f.db_changed);
    QVERIFY(QFile::exists(file));
    // The save dialog asked to confirm a replace, with the program's filter.
    QCOMPARE(dialogs_->fileRequests.size(), size_t(1));
    QCOMPARE(dialogs_->fileRequests[0].filter, QStringLiteral("Файлы данных|*.db"));
    QVERIFY(dialogs_->fileRequests[0].confirmOverwrite);
    QVERIFY(dialogs_->messages.empty());
    // Creating leaves the title as it was and shows the tabs for the data.
    QCOMPARE(f.windowTitle(), QString());
    QVERIFY(f.PageControl1->isTabVisible(0));
    QVERIFY(f.PageControl1->isTabVisible(1));
    QVERIFY(f.PageControl1->isTabVisible(2));
    QVERIFY(f.N5->isEnabled());
    QCOMPARE(f.waitingView->ComboBox1->count(), 2);
    QCOMPARE(f.observationView->ComboBox2->count(), 2);
    // No work file is left beside the database.
    QCOMPARE(QDir(dir_->path()).entryList(QDir::Files | QDir::Hidden), QStringList({QStringLiteral("Проба.db")}));

    // What the instrument holds, row by row, as an independent reader sees it.
    if (!haveDbfread())
        QSKIP("python3-dbfread is not installed for /usr/bin/python3");
    sim::ScenarioOptions o;
    o.seed = 7;
    o.records = {12, 2, 2};
    o.pointsWaiting = {40, 3};
    o.pointsObservation = {70, 1};
    const sim::Archives a = sim::makeScenario(o);
    QStringList expected;
    auto bytes = [](const QByteArray& b) {
        return std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(b.constData()), size_t(b.size()));
    };
    const QByteArray& op = a.records[0];
    for (int i = 0; i < a.count(0); ++i) {
        const qsizetype r = i * 14;
        expected << QStringList{num(u32(op, r + 6)), decode::date_str(bytes(op), r + 3), decode::time_str(bytes(op), r),
                                num(rounded(floatAt(op, r + 10))), QStringLiteral("0"), QStringLiteral("3"),
                                QString(), QString(), QString()}
                        .join(QLatin1Char('\t'));
    }
    for (int mode : {1, 2}) {
        const QByteArray& h = a.records[size_t(mode)];
        const QByteArray& pts = a.series[size_t(mode)];
        qsizetype q = 0;
        for (int t = 0; t < a.count(mode); ++t) {
            const qsizetype o26 = t * 26;
            const uint32_t n = a.pointCount(mode, t);
            for (uint32_t k = 1; k <= n; ++k) {
                QString article;
                double value;
                if (mode == 1) {
                    article = decode::date_str(bytes(pts), q + 3) + QLatin1Char(' ') + decode::time_str(bytes(pts), q);
                    value = rounded(floatAt(pts, q + 6));
                    q += 10;
                } else {
                    if (k == 1) {
                        const QDateTime start = decode::parseDateTimeText(decode::date_str(bytes(h), o26 + 3) +
                                                                          QLatin1Char(' ') + decode::time_str(bytes(h), o26));
                        article = decode::dateTimeText(start.addSecs(qint64(u32(h, o26 + 10)) * 3600));
                    }
                    value = rounded(floatAt(pts, q));
                    q += 4;
                }
                expected << QStringList{mode == 1 ? num(u32(h, o26 + 6)) : num(k), decode::date_str(bytes(h), o26 + 3),
                                        decode::time_str(bytes(h), o26), num(value), QString::number(mode),
                                        QString::number(t + 1), article, k == 1 ? QString::number(n) : QString(),
                                        k == 1 ? num(uint16_t(u32(h, o26 + 10))) : QString()}
                                .join(QLatin1Char('\t'));
            }
        }
    }
    f.Close_DB();
    const QStringList got = readWithDbfread(
        file, {"N", "DATE", "TIME", "R", "MODE", "TYPE", "ARTICLE", "AGE", "M1"});
    QCOMPARE(got.size(), expected.size());
    for (int i = 0; i < got.size(); ++i)
        QCOMPARE(got[i], expected[i]);
}

void DbCommandsTest::createCancelledKeepsOldFile()
{
    const QString keep = path(QStringLiteral("keep.db"));
    {
        QFile f(keep);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("the user's old database");
    }
    // The instrument never answers; the user cancels while the window searches.
    SimProcess sim({QStringLiteral("--silent")});
    qputenv("ORL_SERIAL_PORTS", sim.path().toLocal8Bit());
    dialogs_->files.push_back(keep);
    TForm1& f = program().form1;
    QTimer::singleShot(2600, [this] { program().form2.Button1->click(); });
    f.N2Click();
    QVERIFY(!f.db_open);
    QCOMPARE(readFile(keep), QByteArray("the user's old database"));
    QCOMPARE(QDir(dir_->path()).entryList(QDir::Files | QDir::Hidden), QStringList({QStringLiteral("keep.db")}));
    QVERIFY(!f.N5->isEnabled());
}

void DbCommandsTest::openDamagedAndEmpty()
{
    TForm1& f = program().form1;
    const QString bad = path(QStringLiteral("bad.db"));
    {
        QFile out(bad);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(QByteArray(40, '\x03'));
    }
    dialogs_->files.push_back(bad);
    f.N3Click();
    QCOMPARE(dialogs_->messages.size(), size_t(1));
    QCOMPARE(dialogs_->messages[0].text, kCorrupt);
    QCOMPARE(dialogs_->messages[0].caption, QStringLiteral("Ошибка"));
    QCOMPARE(dialogs_->messages[0].icon, ui::Icon::Error);
    QVERIFY(!f.db_open);
    QVERIFY(!f.Dbf1.isOpen());
    QVERIFY(!f.N6->isEnabled());

    // A zero-filled region of records is damage too, not rows.
    const QString zeros = path(QStringLiteral("zeros.db"));
    dbf::Table::create(zeros, measurementFields());
    {
        QFile out(zeros);
        QVERIFY(out.open(QIODevice::ReadWrite));
        QByteArray head = out.read(1089);
        const quint32 rows = 1000;
        std::memcpy(head.data() + 4, &rows, 4);
        out.seek(0);
        out.write(head);
        QVERIFY(out.resize(1089 + 1000 * 547 + 1));
    }
    QVERIFY(!f.Open_DB(zeros));
    QCOMPARE(dialogs_->messages.back().text, kCorrupt);

#ifndef _WIN32
    // A table too large for the memory the program may use: said so, not
    // "damaged" and not an allocation failure.
    {
        const QString huge = path(QStringLiteral("huge.db"));
        QVERIFY(QFile::copy(zeros, huge));
        QFile out(huge);
        QVERIFY(out.open(QIODevice::ReadWrite));
        const quint32 rows = 8000000;  // 4.4 GB
        out.seek(4);
        out.write(reinterpret_cast<const char*>(&rows), 4);
        QVERIFY(out.resize(1089 + qint64(rows) * 547 + 1));  // sparse
        out.close();
        struct rlimit old {};
        QVERIFY(::getrlimit(RLIMIT_AS, &old) == 0);
        struct rlimit tight = old;
        tight.rlim_cur = rlim_t(3) << 30;  // 3 GB of address space
        QVERIFY(::setrlimit(RLIMIT_AS, &tight) == 0);
        const bool opened = f.Open_DB(huge);
        ::setrlimit(RLIMIT_AS, &old);
        QVERIFY(!opened);
        QVERIFY2(dialogs_->messages.back().text.contains(QStringLiteral("слишком велик")),
                 qPrintable(dialogs_->messages.back().text));
        QVERIFY(!f.db_open);
        QFile::remove(huge);
    }
#endif

    // A valid table of some other program is not taken for a database.
    const QString foreign = path(QStringLiteral("foreign.db"));
    dbf::Table::create(foreign, {{QStringLiteral("NAME"), 'C', 20, 0}, {QStringLiteral("TYPE"), 'N', 4, 0}});
    QVERIFY(!f.Open_DB(foreign));
    QCOMPARE(dialogs_->messages.back().text, kCorrupt);
    QVERIFY(!f.db_open);
    QVERIFY(!f.Dbf1.isOpen());

    // An empty database: layout kind 1, no tabs, "Диаграмма" disabled; the
    // title follows the file's name.
    const QString empty = path(QStringLiteral("Проба.db"));
    dbf::Table::create(empty, measurementFields());
    dialogs_->files.push_back(empty);
    f.N3Click();
    QVERIFY(f.db_open);
    QCOMPARE(f.layout_kind, 1);
    QVERIFY(!TForm1::commandEnabled(f.N34));
    QVERIFY(TForm1::commandEnabled(f.SV1));
    for (int i = 0; i < 6; ++i)
        QVERIFY(!f.PageControl1->isTabVisible(i));
    QCOMPARE(f.windowTitle(), QStringLiteral("Проба - ДОРК - 5"));
    QCOMPARE(f.application_title, QStringLiteral("Проба - ДОРК - 5"));
    QCOMPARE(f.default_dir, dir_->path());
    // The first opening wrote the grid layouts.
    for (const char* name : {"Table_1", "Table_3", "Table_4", "Table_5", "Table_6"})
        QVERIFY2(program().settings.exists(QLatin1String(name)), name);

    // The index file beside the database goes on close; the database stays.
    const QString mdx = path(QStringLiteral("Проба.mdx"));
    {
        QFile m(mdx);
        QVERIFY(m.open(QIODevice::WriteOnly));
    }
    f.N6Click();
    QVERIFY(!QFile::exists(mdx));
    QVERIFY(QFile::exists(empty));
    QCOMPARE(f.windowTitle(), QStringLiteral("ДОРК - 5"));
    QVERIFY(!f.db_open);

    // Layout kinds from the first row's TYPE: 2 -> 5 (no S and V), 3 -> 3.
    for (auto [type, kind] : {std::pair{2, 5}, {3, 3}, {7, 1}}) {
        const QString p = path(QStringLiteral("kind%1.db").arg(type));
        dbf::Table::create(p, measurementFields());
        dbf::Table t;
        t.setFileName(p);
        t.open();
        t.append();
        t.setInteger(u"TYPE", type);
        t.setInteger(u"MODE", 0);
        t.post();
        t.close();
        QVERIFY(f.Open_DB(p));
        QCOMPARE(f.layout_kind, kind);
        QCOMPARE(TForm1::commandEnabled(f.SV1), kind != 5);
        QCOMPARE(TForm1::commandEnabled(f.N34), kind != 1);
        f.Close_DB();
    }
}

void DbCommandsTest::openLockedOrReadOnly()
{
    TForm1& f = program().form1;
    const QString file = path(QStringLiteral("busy.db"));
    dbf::Table::create(file, measurementFields());
    {
        dbf::Table other;
        other.setFileName(file);
        other.open();
        QVERIFY(!f.Open_DB(file));
        QCOMPARE(dialogs_->messages.size(), size_t(1));
        QVERIFY(dialogs_->messages[0].text.contains(QStringLiteral("уже открыта")));
        QVERIFY(!f.db_open);
        QVERIFY(!f.Dbf1.isOpen());
    }
    // Without write permission it opens for reading (test_readonly_db has the rest).
    QFile::setPermissions(file, QFile::ReadOwner);
    QVERIFY(f.Open_DB(file));
    QVERIFY(dialogs_->messages.back().text.contains(QStringLiteral("только для чтения")));
    QVERIFY(f.Dbf1.readOnly());
    f.Close_DB();
    QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner);
    QVERIFY(f.Open_DB(file));
    QVERIFY(!f.Dbf1.readOnly());
}

void DbCommandsTest::deleteRowsSaveQuestion()
{
    const QString file = createFromSim(QStringLiteral("del.db"),
                                       {QStringLiteral("--records"), QStringLiteral("10,0,0")});
    TForm1& f = program().form1;
    QVERIFY(f.db_open);
    f.Close_DB();
    QVERIFY(f.Open_DB(file));
    QCOMPARE(f.currentSheet(), 1);
    QCOMPARE(f.Dbf1.recordCount(), 10);
    const QByteArray before = readFile(file);

    auto deleteRows = [&](std::initializer_list<int> rows) {
        f.DBGridPro1->clearSelection();
        for (int r : rows)
            f.DBGridPro1->selectionModel()->select(f.DBGridPro1->model()->index(r, 0),
                                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
        f.N36Click();
    };
    deleteRows({1, 4, 5});
    QVERIFY(f.db_changed);
    QCOMPARE(f.Dbf1.recordCount(), 7);
    QCOMPARE(f.DBGridPro1->model()->rowCount(), 7);

    // "Нет" brings the rows back: the file holds what it held.
    dialogs_->answers.push_back(ui::Answer::No);
    f.N6Click();
    QCOMPARE(dialogs_->messages.size(), size_t(1));
    QCOMPARE(dialogs_->messages[0].text, QStringLiteral("Сохранить изменения в таблицах ?"));
    QCOMPARE(dialogs_->messages[0].caption, QStringLiteral("ДОРК - 5"));
    QCOMPARE(dialogs_->messages[0].buttons, ui::Buttons::YesNo);
    QCOMPARE(readFile(file).mid(32), before.mid(32));  // header date aside

    // "Да" removes them for good; closing again right after asks nothing.
    QVERIFY(f.Open_DB(file));
    deleteRows({0, 9});
    dialogs_->answers.push_back(ui::Answer::Yes);
    f.N6Click();
    QCOMPARE(dialogs_->messages.size(), size_t(2));
    f.N6Click();
    QCOMPARE(dialogs_->messages.size(), size_t(2));
    QVERIFY(f.Open_DB(file));
    QCOMPARE(f.Dbf1.recordCount(), 8);

    // Deleting on another sheet does nothing.
    f.PageControl1->setCurrentIndex(1);
    f.N36Click();
    QVERIFY(!f.db_changed);
}

void DbCommandsTest::memoryImageFile()
{
    TForm1& f = program().form1;
    const QString bin = path(QStringLiteral("image.bin"));
    {
        // No strength results (B = 0, I = 0), then filler past the image.
        QFile out(bin);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(QByteArray(4, '\0') + QByteArray(device::MemoryImage::LeadingSize + 6, '\x11'));
    }
    // Counts of an earlier download must not be applied to the file's bytes.
    program().form2.state().archive[0].RecordCount = 5;
    program().form2.state().archive[1].RecordCount = 1;
    dialogs_->files.push_back(bin);
    dialogs_->files.push_back(path(QStringLiteral("from_bin.db")));
    f.bin1Click();
    // The extra bytes were reported; the image was decoded as strength
    // results, of which it holds none.
    QCOMPARE(dialogs_->messages.size(), size_t(3));
    QCOMPARE(dialogs_->messages[0].icon, ui::Icon::Warning);
    QCOMPARE(dialogs_->messages[1].text, QStringLiteral("Добавлено записей в базовый метод: 0"));
    QCOMPARE(dialogs_->messages[2].text, QStringLiteral("Добавлено записей в индивидуальный метод: 0"));
    QCOMPARE(dialogs_->fileRequests[0].filter, QStringLiteral("Двоичные файлы|*.bin"));
    QCOMPARE(dialogs_->fileRequests[1].filter, QStringLiteral("Базы данных|*.db"));
    QCOMPARE(program().form2.image().archive(0)[5], uint8_t(0x11));
    QVERIFY(f.db_open);
    QCOMPARE(f.layout_kind, 3);
    QCOMPARE(f.Dbf1.physicalCount(), 0u);

    // A file that cannot be read leaves everything as it was.
    f.Close_DB();
    dialogs_->messages.clear();
    dialogs_->files.push_back(path(QStringLiteral("missing.bin")));
    f.bin1Click();
    QCOMPARE(dialogs_->messages.size(), size_t(1));
    QCOMPARE(dialogs_->messages[0].icon, ui::Icon::Error);
    QVERIFY(!f.db_open);
}

void DbCommandsTest::appendDownload()
{
    SimProcess sim({QStringLiteral("--records"), QStringLiteral("5,1,0"), QStringLiteral("--points"), QStringLiteral("4")});
    qputenv("ORL_SERIAL_PORTS", sim.path().toLocal8Bit());
    const QString file = path(QStringLiteral("append.db"));
    dialogs_->files.push_back(file);
    TForm1& f = program().form1;
    f.N2Click();
    QVERIFY(f.db_open);
    f.Close_DB();
    QVERIFY(dialogs_->messages.empty());

    // Appending with no database open asks for one first.  The database
    // begins with an operative row (layout kind 3), yet a download is always
    // decoded as a download.
    dialogs_->files.push_back(file);
    f.N4Click();
    QVERIFY(f.db_open);
    QCOMPARE(f.layout_kind, 3);
    QCOMPARE(dialogs_->messages.size(), size_t(2));
    QCOMPARE(dialogs_->messages[0].text, QStringLiteral("Добавлено записей в базовый метод: 5"));
    QCOMPARE(dialogs_->messages[0].caption, QStringLiteral("Дополнение"));
    QCOMPARE(dialogs_->messages[0].icon, ui::Icon::Information);
    QCOMPARE(dialogs_->messages[1].text, QStringLiteral("Добавлено записей в индивидуальный метод: 1"));
    QVERIFY(!f.db_changed);
    f.Close_DB();
    dbf::Table t;
    t.setFileName(file);
    t.open();
    QCOMPARE(t.physicalCount(), 2u * (5 + 4));
}

// A FIFO (a device on Windows) or a folder given as a database or an image file is refused with an
// error box before anything is read, downloaded or written.
void DbCommandsTest::specialFilesRefusedAtOnce()
{
    TForm1& f = program().form1;
#ifdef _WIN32
    // Device names stand for the special files there.
    const QString fifo = path(QStringLiteral("nul.db"));
    const QString bin = path(QStringLiteral("com1.bin"));
    const QString kind = QStringLiteral("устройство");
#else
    const QString fifo = path(QStringLiteral("pipe.db"));
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QString bin = path(QStringLiteral("pipe.bin"));
    QCOMPARE(::mkfifo(QFile::encodeName(bin).constData(), 0600), 0);
    const QString kind = QStringLiteral("FIFO");
#endif
    const QString folder = path(QStringLiteral("folder.db"));
    QVERIFY(QDir().mkdir(folder));
    QElapsedTimer t;
    t.start();

    dialogs_->files.push_back(fifo);
    f.N3Click();  // open
    QVERIFY(!f.db_open);
    dialogs_->files.push_back(folder);
    f.N2Click();  // create: the download window is not shown
    QVERIFY(!f.db_open);
    QVERIFY(!program().form2.session().running());
    QVERIFY(program().form2.isHidden());

    dialogs_->files.push_back(bin);
    f.bin1Click();  // the second dialog (the new database) is not asked
    QVERIFY(!f.db_open);
    QCOMPARE(dialogs_->fileRequests.size(), size_t(3));
    QVERIFY(t.elapsed() < 2000);

    QCOMPARE(dialogs_->messages.size(), size_t(3));
    for (const auto& m : dialogs_->messages) {
        QCOMPARE(m.caption, QStringLiteral("Ошибка"));
        QCOMPARE(m.icon, ui::Icon::Error);
    }
    QVERIFY(dialogs_->messages[0].text.contains(kind));
    QVERIFY(dialogs_->messages[1].text.contains(QStringLiteral("папка")));
    QVERIFY(dialogs_->messages[2].text.contains(kind));
    QVERIFY(QFileInfo(folder).isDir());
}

// A download that does not fit on the disk: no database, and nothing of the
// failed download (series numbers, texts) is left to mix with the next
// database opened.
void DbCommandsTest::failedCreateLeavesNoDatabase()
{
    WRITEFAIL_ON_SMALL_DISK("failedCreateLeavesNoDatabase", path(QStringLiteral("small")));
    // Another database: one waiting series, one observation series.
    const QString other = path(QStringLiteral("other.db"));
    dbf::Table::create(other, measurementFields());
    {
        dbf::Table t;
        t.setFileName(other);
        t.open();
        for (int mode : {1, 2}) {
            t.append();
            t.setFloat(u"N", 1);
            t.setFloat(u"R", 0.5);
            t.setString(u"DATE", QStringLiteral("01.03.2024"));
            t.setString(u"TIME", QStringLiteral("10:00:00"));
            t.setString(u"ARTICLE", QStringLiteral("01.03.2024 10:00:00"));
            t.setInteger(u"MODE", mode);
            t.setInteger(u"TYPE", 1);
            t.post();
        }
    }
    TForm1& f = program().form1;
    // About 1,000 records: far more than the 256 KB disk holds.
    createFromSim(writefail::smallDisk() + QStringLiteral("/big.db"),
                  {QStringLiteral("--records"), QStringLiteral("3,3,2"), QStringLiteral("--points"),
                   QStringLiteral("300,300,300:60,60")});
    QVERIFY(!f.db_open);
    QVERIFY(!dialogs_->messages.empty());
    QVERIFY(dialogs_->messages.back().text.startsWith(QStringLiteral("Не удалось создать базу данных")));
    QCOMPARE(f.waitingView->ComboBox1->count(), 0);
    QCOMPARE(f.observationView->ComboBox2->count(), 0);
    QVERIFY(f.waitingView->StaticText5->text().isEmpty());
    QVERIFY(f.PageControl1->isHidden());
    QVERIFY(!f.N5->isEnabled());

    QVERIFY(f.Open_DB(other));
    f.PageControl1->setCurrentIndex(2);
    QCOMPARE(f.observationView->ComboBox2->count(), 1);
    f.PageControl1->setCurrentIndex(1);
    QCOMPARE(f.waitingView->ComboBox1->count(), 1);
    f.waitingView->ComboBox1->setCurrentIndex(0);
    f.waitingView->ComboBox1Change();
    QCOMPARE(f.waitingView->shownSeries, 1);
    QCOMPARE(f.waitingView->StringGrid1->rowCount(), 2);
}

QTEST_MAIN(DbCommandsTest)
#include "test_db_commands.moc"
