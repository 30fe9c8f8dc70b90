// The commands that decode strength results, end to end with scripted
// dialogs: "Загрузить bin файл" builds a database from the layout its file
// reads as and from the file's bytes alone,
// "Дополнить" appends an image of the database's own layout, a deflection
// database still takes a download; the rows as python3-dbfread reads them.
#include <QAction>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include "ground/app_locale.h"
#include "ground/dialogs.h"
#include "ground/settings_key.h"
#include "device/download_window.h"
#include "store/dbf.h"
#include "store/measurement.h"
#include "tests/decode/strength_images.h"
#include "mainwindow/main_window.h"
#include "views/record_grid.h"

using namespace strength_images;

namespace {

const char* kFields = "N,DATE,TIME,R,DIR,K_C,ARTICLE,MATERIAL,AGE,COND,M1,M2,M3,M15,COUNT,MODE,COMMENT,S_T,GROUP,B_135,TYPE,V_135";

// Rows as an independent reader sees them, fields tab-separated.
QStringList readWithDbfread(const QString& path)
{
    const QString script = QStringLiteral(
        "import sys, dbfread\n"
        "t = dbfread.DBF(sys.argv[1], encoding='cp1251')\n"
        "for r in t:\n"
        "    print('\\t'.join('' if r[f] is None else str(r[f]) for f in sys.argv[2].split(',')))\n");
    QProcess p;
    p.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), script, path, QLatin1String(kFields)});
    if (!p.waitForFinished(60000) || p.exitCode() != 0)
        return {QStringLiteral("reader failed: ") + QString::fromUtf8(p.readAllStandardError())};
    return QString::fromUtf8(p.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

bool haveDbfread()
{
    return QProcess::execute(QStringLiteral("/usr/bin/python3"),
                             {QStringLiteral("-c"), QStringLiteral("import dbfread")}) == 0;
}

}  // namespace

class StrengthCommandsTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void binBuildsStrengthDatabase();
    void binReadsTheFilesLayout_data();
    void binReadsTheFilesLayout();
    void shortAndEmptyFilesAfterAFullOne();
    void appendImageOfTheSameLayout();
    void append30ByteImage();
    void deflectionDatabaseTakesADownload();
    void hiddenGridsShowStrengthRows();

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

    QString path(const QString& name) const { return dir_->filePath(name); }
    QString writeBin(const QString& name, const Image& img)
    {
        QFile f(path(name));
        if (!f.open(QIODevice::WriteOnly))
            return {};
        f.write(bytesOf(img));
        return f.fileName();
    }
    QStringList texts() const
    {
        QStringList t;
        for (const auto& m : dialogs_->messages)
            t << m.text;
        return t;
    }
    // The 47-byte image the bin test starts from: two basic results, one
    // individual result.
    static Image image47()
    {
        Image img;
        add16(img, 2);
        rec47(img, 253, 4, 95, 2, 2, 123, 0, 9, 0x81, {5, 7, 14}, {7, 3, 5}, {0, 250, 0, 310});
        rec47(img, 301, 1, 100, 11, 9, 80, 0, 0, 0x02, {0, 8, 14}, {7, 3, 5}, {301});
        add16(img, 1);
        rec47(img, 300, 0, 100, 7, 1, 50, 1234, 12, 0, {0, 0, 9}, {8, 3, 5}, {100, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 500});
        return img;
    }
};

void StrengthCommandsTest::init()
{
    dir_ = std::make_unique<QTemporaryDir>();
    dialogs_ = std::make_unique<ui::ScriptedDialogs>();
    scope_ = std::make_unique<ui::ScopedDialogs>(dialogs_.get());
    prog_ = std::make_unique<Program>(dir_->filePath(QStringLiteral("cfg/ORL.reg")));
}

void StrengthCommandsTest::cleanup()
{
    prog_.reset();
    scope_.reset();
    dialogs_.reset();
    dir_.reset();
}

void StrengthCommandsTest::binBuildsStrengthDatabase()
{
    TForm1& f = prog_->form1;
    // A download earlier in the run left record counts behind.
    prog_->form2.state().archive[0].RecordCount = 3;
    prog_->form2.state().archive[2].RecordCount = 1;
    dialogs_->files.push_back(writeBin(QStringLiteral("s.bin"), image47()));
    const QString db = path(QStringLiteral("strength.db"));
    dialogs_->files.push_back(db);
    f.bin1Click();
    QCOMPARE(texts(), QStringList({QStringLiteral("Добавлено записей в базовый метод: 2"),
                                   QStringLiteral("Добавлено записей в индивидуальный метод: 1")}));
    QCOMPARE(dialogs_->messages[0].caption, QStringLiteral("Дополнение"));
    QCOMPARE(dialogs_->messages[0].icon, ui::Icon::Information);
    QVERIFY(f.db_open);
    QCOMPARE(f.layout_kind, 3);
    QVERIFY(TForm1::commandEnabled(f.N34));
    QCOMPARE(f.Dbf1.physicalCount(), 3u);
    QCOMPARE(f.append_decoder(), 3);
    f.Close_DB();

    if (!haveDbfread())
        QSKIP("python3-dbfread is not installed for /usr/bin/python3");
    const QStringList expected = {
        "1.0\t07.03.2015\t14:07:05\t25.3\tв\t0.95\tколонна\tтяж. бетон на известняке\t28 суток\tТВО\t\t25.0\t\t\t2\t0\t\t0.0\t\tB22.5\t3\t12.3",
        "2.0\t07.03.2015\t14:08:00\t30.1\tд\t1.0\tполы\tкирпич керамический\t\t\t30.1\t\t\t\t1\t0\t\t0.0\t\t-\t3\t8.0",
        "1.0\t08.03.2015\t09:00:00\t30.0\tб\t1.0\t7\tфунд. блок\t\t\t10.0\t\t\t50.0\t2\t1\t\t12.34\t\tB30\t3\t5.0",
    };
    QCOMPARE(readWithDbfread(db), expected);
}

void StrengthCommandsTest::binReadsTheFilesLayout_data()
{
    QTest::addColumn<Image>("file");
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<int>("kind");  // 0: refused, no database
    QTest::addColumn<uint32_t>("rows");
    const QString basic = QStringLiteral("Добавлено записей в базовый метод: "),
                  individual = QStringLiteral("Добавлено записей в индивидуальный метод: ");
    QTest::newRow("30-byte records") << resultImage(30, 3) << QStringList{basic + "3"} << 5 << 3u;
    QTest::newRow("30-byte records, whole image") << padded(resultImage(30, 3)) << QStringList{basic + "3"} << 5
                                                  << 3u;
    QTest::newRow("47: 1 + 3, whole image") << padded(resultImage(47, 1, 3))
                                            << QStringList{basic + "1", individual + "3"} << 3 << 4u;
    QTest::newRow("46: 2 + 3, whole image") << padded(resultImage(46, 2, 3))
                                            << QStringList{basic + "2", individual + "3"} << 3 << 5u;
    QTest::newRow("46: one record, age byte 0, whole image")
        << padded(resultImage(46, 1, 0))
        << QStringList{QStringLiteral("Файл читается одинаково и как записи по 47 байт, и как записи по 46 байт: "
                                      "определить формат записей нельзя. База данных не создана.")}
        << 0 << 0u;
}

void StrengthCommandsTest::binReadsTheFilesLayout()
{
    QFETCH(Image, file);
    QFETCH(QStringList, messages);
    QFETCH(int, kind);
    QFETCH(uint32_t, rows);
    TForm1& f = prog_->form1;
    const QString db = path(QStringLiteral("s.db"));
    dialogs_->files = {writeBin(QStringLiteral("s.bin"), file), db};
    f.bin1Click();
    QCOMPARE(texts(), messages);
    QCOMPARE(f.db_open, kind != 0);
    if (kind == 0) {
        QCOMPARE(dialogs_->messages[0].icon, ui::Icon::Error);
        QCOMPARE(dialogs_->fileRequests.size(), size_t(1));  // no database asked for
        return;
    }
    QCOMPARE(f.layout_kind, kind);
    QCOMPARE(f.append_decoder(), kind);
    QCOMPARE(TForm1::commandEnabled(f.SV1), kind != 5);
    QCOMPARE(f.Dbf1.physicalCount(), rows);
    QCOMPARE(f.Dbf1.floatAt(0, f.Dbf1.fieldIndex(u"TYPE")), kind == 5 ? 2.0 : 3.0);
    QCOMPARE(f.Dbf1.stringAt(0, f.Dbf1.fieldIndex(u"DATE")), QStringLiteral("01.01.2022"));
}

void StrengthCommandsTest::shortAndEmptyFilesAfterAFullOne()
{
    TForm1& f = prog_->form1;
    const Image full = image47();
    dialogs_->files = {writeBin(QStringLiteral("full.bin"), full), path(QStringLiteral("full.db"))};
    f.bin1Click();
    QCOMPARE(f.Dbf1.physicalCount(), 3u);

    // The same file cut inside its individual record, then inside its
    // second basic record: the memory image still holds the rest of the
    // full file after the short one's bytes.
    const QString left = QStringLiteral("Не добавлено записей, которых нет в файле целиком: 1.");
    const struct {
        size_t length;
        QStringList messages;
        uint32_t rows;
    } cases[] = {
        {140, {"Добавлено записей в базовый метод: 2", "Добавлено записей в индивидуальный метод: 0", left}, 2},
        {60,
         {"Добавлено записей в базовый метод: 1", "Добавлено записей в индивидуальный метод: 0",
          left + " Файл обрывается до числа записей индивидуального метода: они не добавлены."},
         1},
    };
    for (const auto& c : cases) {
        dialogs_->messages.clear();
        dialogs_->files = {writeBin(QStringLiteral("short.bin"), Image(full.begin(), full.begin() + c.length)),
                           path(QStringLiteral("short.db"))};
        f.bin1Click();
        QCOMPARE(texts(), c.messages);
        QCOMPARE(dialogs_->messages.back().icon, ui::Icon::Warning);
        QCOMPARE(f.Dbf1.physicalCount(), c.rows);
    }

    // An empty file: a message, and neither a database nor an append.
    const QString empty = writeBin(QStringLiteral("empty.bin"), {});
    const QString emptyText =
        QStringLiteral("Файл \"%1\" пуст: в нём нет результатов измерений.").arg(QDir::toNativeSeparators(empty));
    dialogs_->messages.clear();
    dialogs_->fileRequests.clear();
    dialogs_->files = {empty, path(QStringLiteral("empty.db"))};
    f.bin1Click();
    QCOMPARE(texts(), QStringList{emptyText});
    QCOMPARE(dialogs_->messages[0].icon, ui::Icon::Error);
    QCOMPARE(dialogs_->fileRequests.size(), size_t(1));
    QVERIFY(!f.db_open);
    QVERIFY(!QFile::exists(path(QStringLiteral("empty.db"))));

    dialogs_->messages.clear();
    dialogs_->files = {path(QStringLiteral("short.db")), empty};
    f.N4Click();
    QCOMPARE(texts(), QStringList{emptyText});
    QCOMPARE(f.Dbf1.physicalCount(), 1u);

    // Nor does a file of another layout than the database's.
    dialogs_->messages.clear();
    dialogs_->files = {writeBin(QStringLiteral("c.bin"), resultImage(30, 3))};
    f.N4Click();
    QCOMPARE(texts(), QStringList{QStringLiteral("Записи файла не читаются как записи по 47 или 46 байт: их даты и "
                                                 "время вне допустимых значений. Записи из файла не добавлены.")});
    QCOMPARE(f.Dbf1.physicalCount(), 1u);
}

void StrengthCommandsTest::appendImageOfTheSameLayout()
{
    TForm1& f = prog_->form1;
    dialogs_->files.push_back(writeBin(QStringLiteral("s.bin"), image47()));
    const QString db = path(QStringLiteral("strength.db"));
    dialogs_->files.push_back(db);
    f.bin1Click();
    f.Close_DB();

    // The same image plus one later basic result, appended to the database
    // opened through "Дополнить": only the new result is added, and the
    // image comes from a ".bin" file, not from the download window.
    Image more;
    add16(more, 3);
    {
        const Image base = image47();
        more.insert(more.end(), base.begin() + 2, base.begin() + 2 + 2 * 47);
    }
    rec47(more, 222, 2, 90, 0, 1, 0, 0, 3, 0x00, {0, 0, 15}, {7, 3, 5}, {222});
    {
        const Image base = image47();
        more.insert(more.end(), base.begin() + 2 + 2 * 47, base.end());
    }
    dialogs_->messages.clear();
    dialogs_->fileRequests.clear();
    dialogs_->files.push_back(db);
    dialogs_->files.push_back(writeBin(QStringLiteral("more.bin"), more));
    f.N4Click();
    QVERIFY(f.db_open);
    QCOMPARE(f.layout_kind, 3);
    QCOMPARE(dialogs_->fileRequests.size(), size_t(2));
    QCOMPARE(dialogs_->fileRequests[1].filter, QStringLiteral("Двоичные файлы|*.bin"));
    QVERIFY(dialogs_->execLog.isEmpty());
    QCOMPARE(texts(), QStringList({QStringLiteral("Добавлено записей в базовый метод: 1"),
                                   QStringLiteral("Добавлено записей в индивидуальный метод: 0")}));
    QCOMPARE(f.Dbf1.physicalCount(), 4u);
    const uint32_t last = 3;
    QCOMPARE(f.Dbf1.floatAt(last, f.Dbf1.fieldIndex(u"N")), 3.0);
    QCOMPARE(f.Dbf1.stringAt(last, f.Dbf1.fieldIndex(u"B_135")), QStringLiteral("B5"));

    // Again: nothing new.  Cancelling the file dialog appends nothing.
    dialogs_->messages.clear();
    dialogs_->files.push_back(path(QStringLiteral("more.bin")));
    f.N4Click();
    QCOMPARE(texts(), QStringList({QStringLiteral("Добавлено записей в базовый метод: 0"),
                                   QStringLiteral("Добавлено записей в индивидуальный метод: 0")}));
    dialogs_->messages.clear();
    f.N4Click();
    QVERIFY(dialogs_->messages.empty());
    QCOMPARE(f.Dbf1.physicalCount(), 4u);
    QVERIFY(!f.db_changed);
}

void StrengthCommandsTest::append30ByteImage()
{
    TForm1& f = prog_->form1;
    // A database of 30-byte results: its first row has TYPE 2.
    const QString db = path(QStringLiteral("compact.db"));
    dbf::Table::create(db, measurementFields());
    {
        dbf::Table t;
        t.setFileName(db);
        t.open();
        t.append();
        t.setInteger(u"MODE", 0);
        t.setInteger(u"TYPE", 2);
        t.setString(u"DATE", QStringLiteral("01.02.2020"));
        t.setString(u"TIME", QStringLiteral("08:00"));
        t.post();
    }
    QVERIFY(f.Open_DB(db));
    QCOMPARE(f.layout_kind, 5);
    QVERIFY(!TForm1::commandEnabled(f.SV1));
    QCOMPARE(f.append_decoder(), 5);

    Image img;
    add16(img, 3);
    add16(img, 0);
    rec30(img, {100}, 0x94, 100, 1000, {1, 2, 10}, {8, 0});             // stored already
    rec30(img, {0x8064, 0x8000, 0x00C8}, 0x74, 95, 2534, {1, 2, 10}, {9, 5});  // individual 2
    rec30(img, {250}, 0x92, 100, 2500, {1, 2, 10}, {9, 6});
    dialogs_->files.push_back(writeBin(QStringLiteral("c.bin"), img));
    f.N4Click();
    QCOMPARE(texts(), QStringList({QStringLiteral("Добавлено записей в базовый метод: 2")}));
    QVERIFY(!TForm1::commandEnabled(f.SV1));
    // The flag bits are gone from the image.
    QCOMPARE(uint8_t(prog_->form2.image().leading()[4 + 30 + 1]), uint8_t(0x00));
    f.Close_DB();

    if (!haveDbfread())
        QSKIP("python3-dbfread is not installed for /usr/bin/python3");
    const QStringList got = readWithDbfread(db);
    QCOMPARE(got.size(), 3);
    QCOMPARE(got[1], QStringLiteral("2.0\t01.02.2020\t09:05\t25.34\tв\t0.95\t2\t\t\t\t1.0\t\t2.0\t\t2\t1\t\t\t\t\t2\t"));
    QCOMPARE(got[2], QStringLiteral("3.0\t01.02.2020\t09:06\t25.0\tа\t1.0\tBasic\t\t\t\t2.5\t\t\t\t1\t0\t\t\t\t\t2\t"));
}

void StrengthCommandsTest::deflectionDatabaseTakesADownload()
{
    TForm1& f = prog_->form1;
    // A database that begins with an operative measurement has layout kind
    // 3 but holds no strength results: appends take a download.
    const QString db = path(QStringLiteral("deflection.db"));
    dbf::Table::create(db, measurementFields());
    {
        dbf::Table t;
        t.setFileName(db);
        t.open();
        t.append();
        t.setInteger(u"MODE", 0);
        t.setInteger(u"TYPE", 3);
        t.setFloat(u"R", 1.25);
        t.post();
    }
    QVERIFY(f.Open_DB(db));
    QCOMPARE(f.layout_kind, 3);
    QCOMPARE(f.append_decoder(), 1);
    // The download window is asked for (and cancelled here); no file dialog.
    bool downloadShown = false;
    QTimer::singleShot(0, [&] {
        downloadShown = prog_->form2.isVisible();
        prog_->form2.reject();
    });
    f.N4Click();
    QVERIFY(downloadShown);
    QVERIFY(dialogs_->fileRequests.empty());
    QCOMPARE(f.Dbf1.physicalCount(), 1u);
    f.Close_DB();

    // A database created from a download takes the layout kind of what it
    // holds, not of the database open before it (here kind 5).
    f.layout_kind = 5;
    QVERIFY(f.Create_DB(path(QStringLiteral("fresh.db"))));
    QCOMPARE(f.layout_kind, 1);
    QCOMPARE(f.append_decoder(), 1);
    QVERIFY(TForm1::commandEnabled(f.SV1));
}

void StrengthCommandsTest::hiddenGridsShowStrengthRows()
{
    TForm1& f = prog_->form1;
    dialogs_->files.push_back(writeBin(QStringLiteral("s.bin"), image47()));
    dialogs_->files.push_back(path(QStringLiteral("strength.db")));
    f.bin1Click();
    QVERIFY(f.db_open);
    // No state shows the strength sheets; their grids still show the rows
    // of their filter, with their titles and formats.
    f.TabSheet5Show();
    QAbstractItemModel* m = f.DBGridPro5->model();
    QCOMPARE(m->rowCount(), 2);
    const int r = f.DBGridPro5->columnOf(QStringLiteral("R"));
    QCOMPARE(m->headerData(r, Qt::Horizontal, Qt::DisplayRole).toString(), QStringLiteral("Rср, МПа"));
    QCOMPARE(m->index(0, r).data().toString(), appLocale().toString(25.3, 'f', 1));
    const int kc = f.DBGridPro5->columnOf(QStringLiteral("K_C"));
    QCOMPARE(m->index(0, kc).data().toString(), appLocale().toString(0.95, 'f', 2));

    f.TabSheet6Show();
    m = f.DBGridPro6->model();
    QCOMPARE(m->rowCount(), 1);
    const int article = f.DBGridPro6->columnOf(QStringLiteral("ARTICLE"));
    QCOMPARE(m->headerData(article, Qt::Horizontal, Qt::DisplayRole).toString(),
             QStringLiteral("Индивидуальная зависимость №"));
    QCOMPARE(m->index(0, article).data().toString(), QStringLiteral("7"));

    f.TabSheet4Show();
    m = f.DBGridPro4->model();
    QCOMPARE(m->rowCount(), 1);
    const int cls = f.DBGridPro4->columnOf(QStringLiteral("B_135"));
    QVERIFY(f.DBGridPro4->columns()[size_t(cls)].visible);
    QCOMPARE(m->index(0, cls).data().toString(), QStringLiteral("B30"));
    const int st = f.DBGridPro4->columnOf(QStringLiteral("S_T"));
    QCOMPARE(m->index(0, st).data().toString(), appLocale().toString(12.34, 'f', 2));
    const int v = f.DBGridPro4->columnOf(QStringLiteral("V_135"));
    QCOMPARE(m->headerData(v, Qt::Horizontal, Qt::DisplayRole).toString(), QStringLiteral("Коэффициент вариации V,%"));
    QCOMPARE(m->index(0, v).data().toString(), appLocale().toString(5.0, 'f', 1));
}

QTEST_MAIN(StrengthCommandsTest)
#include "test_strength_commands.moc"
