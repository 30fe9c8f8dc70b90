// Tables written by an independent dBase writer (shapelib's dbfcreate and
// dbfadd, language driver 0x57): the program opens them, shows their rows on
// the right tabs and stores a Cyrillic note that shapelib's dbfdump and
// python3-dbfread read back exactly; a Western (1252) table refuses such a
// note with a message and stays byte for byte as it was.
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QPlainTextEdit>
#include <QProcess>
#include <QStandardPaths>
#include <QStringDecoder>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QtTest>

#include "ground/dialogs.h"
#include "ground/settings_key.h"
#include "store/dbf.h"
#include "store/measurement.h"
#include "mainwindow/main_window.h"
#include "views/observation_view.h"
#include "views/waiting_view.h"
#include "views/record_grid.h"

namespace {

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool run(const QString& program, const QStringList& args, QByteArray* out = nullptr)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PYTHONIOENCODING"), QStringLiteral("utf-8"));
    p.setProcessEnvironment(env);
    p.start(program, args);
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        qWarning("%s failed: %s", qPrintable(program), p.readAllStandardError().constData());
        return false;
    }
    if (out)
        *out = p.readAllStandardOutput();
    return true;
}

// One measurement row as dbfadd takes it: every field in table order, by name.
QStringList rowArgs(const QMap<QString, QString>& values)
{
    QStringList out;
    for (const dbf::FieldDef& f : measurementFields())
        out << values.value(f.name, f.type == 'N' ? QStringLiteral("0") : QString());
    return out;
}

// Writes a table with the measurement fields through shapelib: an operative
// measurement, a waiting series of three points and an observation series of
// two points.
bool writeWithShapelib(const QString& file)
{
    QStringList create{file};
    for (const dbf::FieldDef& f : measurementFields()) {
        if (f.type == 'N')
            create << QStringLiteral("-n") << f.name << QString::number(f.width) << QString::number(f.decimals);
        else
            create << QStringLiteral("-s") << f.name << QString::number(f.width);
    }
    if (!run(QStringLiteral("dbfcreate"), create))
        return false;
    QList<QMap<QString, QString>> rows;
    rows.append({{"N", "1"}, {"DATE", "01.02.2024"}, {"TIME", "10:00:00"}, {"R", "1.25"}, {"MODE", "0"}, {"TYPE", "3"}});
    for (int i = 1; i <= 3; ++i) {
        // A waiting point carries its series number and its own time.
        QMap<QString, QString> r{{"N", "1"}, {"DATE", "02.02.2024"}, {"TIME", "08:00:00"},
                                 {"ARTICLE", QStringLiteral("02.02.2024 08:0%1:00").arg(i)},
                                 {"R", QString::number(0.1 * i)}, {"MODE", "1"}, {"TYPE", "1"}};
        if (i == 1)
            r.insert({{"AGE", "3"}, {"M1", "2"}, {"M2", "0.5"}});
        rows.append(r);
    }
    for (int i = 1; i <= 2; ++i) {
        QMap<QString, QString> r{{"N", QString::number(i)}, {"DATE", "03.02.2024"}, {"TIME", "09:00:00"},
                                 {"R", QString::number(0.2 * i)}, {"MODE", "2"}, {"TYPE", "1"}};
        if (i == 1)
            r.insert({{"AGE", "2"}, {"M1", "1"}, {"M2", "30"}, {"ARTICLE", "03.02.2024 10:00:00"}});
        rows.append(r);
    }
    for (const auto& r : rows)
        if (!run(QStringLiteral("dbfadd"), QStringList{file} + rowArgs(r)))
            return false;
    return true;
}

}  // namespace

class ShapelibInteropTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void ansiTableTakesCyrillicNote();
    void westernTableRefusesCyrillicNote();

private:
    QTemporaryDir dir_;
};

void ShapelibInteropTest::initTestCase()
{
    // shapelib is one of the test dependencies (scripts/install-deps.sh).
    for (const char* tool : {"dbfcreate", "dbfadd", "dbfdump"})
        QVERIFY2(!QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty(),
                 "shapelib is not installed: run scripts/install-deps.sh");
}

void ShapelibInteropTest::ansiTableTakesCyrillicNote()
{
    const QString file = dir_.filePath(QStringLiteral("shapelib.dbf"));
    QVERIFY(writeWithShapelib(file));
    QCOMPARE(uint8_t(readFile(file).at(29)), uint8_t(0x57));

    ui::ScriptedDialogs dialogs;
    ui::ScopedDialogs scope(&dialogs);
    SettingsKey settings(dir_.filePath(QStringLiteral("cfg/ORL.reg")));
    TForm1 f(settings);
    QVERIFY(f.Open_DB(file));
    QVERIFY(dialogs.messages.empty());
    QVERIFY(f.PageControl1->isTabVisible(0));  // operative
    QVERIFY(f.PageControl1->isTabVisible(1));  // waiting
    QVERIFY(f.PageControl1->isTabVisible(2));  // observation
    QCOMPARE(f.currentSheet(), 1);
    QCOMPARE(f.Dbf1.recordCount(), 1);
    f.PageControl1->setCurrentIndex(1);
    QCOMPARE(f.Dbf1.recordCount(), 3);
    f.PageControl1->setCurrentIndex(2);
    QCOMPARE(f.Dbf1.recordCount(), 2);
    f.PageControl1->setCurrentIndex(0);

    const QString note = QStringLiteral("Прогиб у опоры №3, ёлка");
    RecordGrid* g = f.DBGridPro1;
    const int comment = g->columnOf(QStringLiteral("COMMENT"));
    QVERIFY(comment >= 0);
    QVERIFY(g->model()->setData(g->model()->index(0, comment), note, Qt::EditRole));
    QVERIFY(dialogs.messages.empty());
    f.Close_DB();

    QByteArray dump;
    QVERIFY(run(QStringLiteral("dbfdump"), {QStringLiteral("-m"), file}, &dump));
    const QString text = QStringDecoder("windows-1251").decode(dump);
    QStringList comments;
    for (const QString& line : text.split(QLatin1Char('\n')))
        if (line.startsWith(QStringLiteral("COMMENT:")))
            comments << line.mid(8).trimmed();
    const QString none = QStringLiteral("(NULL)");  // dbfdump's word for an empty text
    QCOMPARE(comments, (QStringList{note, none, none, none, none, none}));

    QByteArray py;
    QVERIFY(run(QStringLiteral("/usr/bin/python3"),
                {QStringLiteral("-c"),
                 QStringLiteral("import sys, dbfread\n"
                                "for r in dbfread.DBF(sys.argv[1], encoding='cp1251'):\n"
                                "    print(int(r['MODE']), int(r['N']), r['COMMENT'])\n"),
                 file},
                &py));
    QCOMPARE(QString::fromUtf8(py).split(QLatin1Char('\n'), Qt::SkipEmptyParts),
             (QStringList{QStringLiteral("0 1 ") + note, "1 1 ", "1 1 ", "1 1 ", "2 1 ", "2 2 "}));
}

void ShapelibInteropTest::westernTableRefusesCyrillicNote()
{
    const QString file = dir_.filePath(QStringLiteral("western.dbf"));
    QVERIFY(writeWithShapelib(file));
    QByteArray bytes = readFile(file);
    bytes[29] = char(0x03);  // Windows-1252
    {
        QFile out(file);
        QVERIFY(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        out.write(bytes);
    }

    ui::ScriptedDialogs dialogs;
    ui::ScopedDialogs scope(&dialogs);
    SettingsKey settings(dir_.filePath(QStringLiteral("cfg2/ORL.reg")));
    TForm1 f(settings);
    QVERIFY(f.Open_DB(file));
    RecordGrid* g = f.DBGridPro1;
    const int comment = g->columnOf(QStringLiteral("COMMENT"));
    QVERIFY(!g->model()->setData(g->model()->index(0, comment), QStringLiteral("Прогиб"), Qt::EditRole));
    QCOMPARE(dialogs.messages.size(), size_t(1));
    QVERIFY(dialogs.messages[0].text.contains(QStringLiteral("COMMENT")));
    QVERIFY(dialogs.messages[0].text.contains(QStringLiteral("Windows-1252")));
    QCOMPARE(g->model()->data(g->model()->index(0, comment), Qt::DisplayRole).toString(), QString());

    // The series note: refused the same way, the view stays where it was.
    f.PageControl1->setCurrentIndex(1);
    const int at = f.waitingView->ComboBox1->findText(QStringLiteral("1"));
    QVERIFY(at >= 0);
    f.waitingView->ComboBox1->setCurrentIndex(at);
    emit f.waitingView->ComboBox1->activated(at);
    const QString filter = f.Dbf1.filter();
    const int rows = f.Dbf1.recordCount();
    f.waitingView->Memo1->setPlainText(QStringLiteral("Примечание: ночная серия"));
    QCOMPARE(dialogs.messages.size(), size_t(2));
    QVERIFY(dialogs.messages[1].text.contains(QStringLiteral("COMMENT")));
    QCOMPARE(f.waitingView->Memo1->toPlainText(), QStringLiteral("Примечание: "));  // what the file holds
    QVERIFY(!f.waitingView->Memo1->isReadOnly());  // a western note can still be written
    QCOMPARE(f.Dbf1.filter(), filter);
    QCOMPARE(f.Dbf1.recordCount(), rows);
    f.Close_DB();
    // Header date included: nothing was written.
    QCOMPARE(readFile(file), bytes);

    // Western text goes into the file in its own code page.
    QVERIFY(f.Open_DB(file));
    QVERIFY(g->model()->setData(g->model()->index(0, comment), QStringLiteral("Größe"), Qt::EditRole));
    f.Close_DB();
    QCOMPARE(dialogs.messages.size(), size_t(2));
    QVERIFY(readFile(file).contains("Gr\xF6\xDF" "e"));
}

QTEST_MAIN(ShapelibInteropTest)
#include "test_shapelib_interop.moc"
