// A database without write permission, or one whose last records were torn
// by a crash: it opens for browsing, says so once, refuses every changing
// command with a message, and the file stays exactly as it was.
#include <QApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QtTest>

#include "ground/dialogs.h"
#include "ground/settings_key.h"
#include "store/dbf.h"
#include "store/measurement.h"
#include "mainwindow/main_window.h"
#include "views/record_grid.h"

namespace {

void writeRows(const QString& file, int rows)
{
    dbf::Table::create(file, measurementFields());
    dbf::Table t;
    t.setFileName(file);
    t.open();
    t.beginBulk();
    for (int i = 1; i <= rows; ++i) {
        t.append();
        t.setInteger("N", i);
        t.setInteger("MODE", 0);
        t.setInteger("TYPE", 3);
        t.setString("DATE", QStringLiteral("01.02.2024"));
        t.setString("COMMENT", QStringLiteral("старая"));
        t.post();
    }
}

QByteArray contents(const QString& file)
{
    QFile in(file);
    return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray();
}

// Every changing command on the open read-only database `f` of `rows` rows:
// one error message each, nothing changes.
void checkRefused(TForm1& f, ui::ScriptedDialogs& dialogs, int rows)
{
    auto refused = [&](const char* what, const std::function<void()>& command) {
        const size_t n = dialogs.messages.size();
        command();
        QVERIFY2(dialogs.messages.size() == n + 1, what);
        QCOMPARE(dialogs.messages.back().icon, ui::Icon::Error);
        QVERIFY2(dialogs.messages.back().text.contains(QStringLiteral("только для чтения")), what);
    };
    RecordGrid* g = f.DBGridPro1;
    QAbstractItemModel* m = g->model();
    const int comment = g->columnOf(QStringLiteral("COMMENT"));
    const int group = g->columnOf(QStringLiteral("GROUP"));
    QVERIFY(comment >= 0 && group >= 0);
    refused("note", [&] { QVERIFY(!m->setData(m->index(0, comment), QStringLiteral("новая"), Qt::EditRole)); });
    refused("group letter", [&] { QVERIFY(!m->setData(m->index(0, group), QStringLiteral("A"), Qt::EditRole)); });
    QCOMPARE(m->data(m->index(0, comment), Qt::DisplayRole).toString(), QStringLiteral("старая"));
    refused("delete rows", [&] {
        g->selectionModel()->select(m->index(1, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
        f.N36Click();
    });
    QCOMPARE(f.Dbf1.recordCount(), rows);
    QVERIFY(!f.db_changed);
    refused("renumber", [&] { f.N37Click(); });
    refused("save", [&] { f.N5Click(); });
    refused("append", [&] { f.N4Click(); });

    const size_t n = dialogs.messages.size();
    f.Close_DB();  // nothing changed: no question
    QCOMPARE(dialogs.messages.size(), n);
    QVERIFY(!f.Dbf1.isOpen());
}

}  // namespace

class ReadOnlyDbTest : public QObject {
    Q_OBJECT
private slots:
    void browsedNeverChanged();
    void tornRecordsBrowsedNeverChanged();
};

void ReadOnlyDbTest::browsedNeverChanged()
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("Архив.db"));
    writeRows(file, 3);
    QVERIFY(QFile::setPermissions(file, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
    const QByteArray before = contents(file);
    const QDateTime when = QFileInfo(file).lastModified();

    ui::ScriptedDialogs dialogs;
    ui::ScopedDialogs scope(&dialogs);
    SettingsKey settings(dir.filePath(QStringLiteral("cfg/ORL.reg")));
    TForm1 f(settings);
    QVERIFY(f.Open_DB(file));
    QVERIFY(f.db_open);
    QVERIFY(f.Dbf1.readOnly());
    QCOMPARE(dialogs.messages.size(), size_t(1));
    QCOMPARE(dialogs.messages[0].caption, QStringLiteral("Дополнение"));
    QCOMPARE(dialogs.messages[0].icon, ui::Icon::Information);
    QVERIFY(dialogs.messages[0].text.contains(QStringLiteral("только для чтения")));
    QCOMPARE(f.currentSheet(), 1);
    QCOMPARE(f.Dbf1.recordCount(), 3);
    QCOMPARE(f.windowTitle(), QStringLiteral("Архив - ДОРК - 5"));
    checkRefused(f, dialogs, 3);

    QCOMPARE(contents(file), before);
    QCOMPARE(QFileInfo(file).lastModified(), when);
    QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner);
}

// A power loss during an append zeroed the last records of 1000: the 997
// intact ones are browsed, the message names the damaged ones.  A file
// whose first record is damaged stays refused.
void ReadOnlyDbTest::tornRecordsBrowsedNeverChanged()
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("Архив.db"));
    writeRows(file, 1000);
    QByteArray bytes = contents(file);
    const int headerLen = 32 + 33 * 32 + 1, recLen = 547;
    for (int r : {997, 998, 999})
        bytes.replace(headerLen + r * recLen, recLen, QByteArray(recLen, '\0'));
    QFile out(file);
    QVERIFY(out.open(QIODevice::WriteOnly) && out.write(bytes) == bytes.size());
    out.close();

    ui::ScriptedDialogs dialogs;
    ui::ScopedDialogs scope(&dialogs);
    SettingsKey settings(dir.filePath(QStringLiteral("cfg/ORL.reg")));
    TForm1 f(settings);
    QVERIFY(f.Open_DB(file));
    QVERIFY(f.Dbf1.readOnly());
    QCOMPARE(dialogs.messages.size(), size_t(1));
    QCOMPARE(dialogs.messages[0].caption, QStringLiteral("Ошибка"));
    const QString text = dialogs.messages[0].text;
    QVERIFY2(text.contains(QStringLiteral("повреждены записи")) && text.contains(QStringLiteral("998–1000")) &&
                 text.contains(QStringLiteral("(997)")) && text.contains(QStringLiteral("только для чтения")),
             qPrintable(text));
    QCOMPARE(f.Dbf1.recordCount(), 997);
    checkRefused(f, dialogs, 997);
    QCOMPARE(contents(file), bytes);

    bytes.replace(headerLen, recLen, QByteArray(recLen, '\0'));
    QVERIFY(out.open(QIODevice::WriteOnly) && out.write(bytes) == bytes.size());
    out.close();
    dialogs.messages.clear();
    QVERIFY(!f.Open_DB(file));
    QVERIFY(!f.db_open);
    QCOMPARE(dialogs.messages.size(), size_t(1));
    QCOMPARE(dialogs.messages[0].text, QStringLiteral("База данных повреждена !"));
}

QTEST_MAIN(ReadOnlyDbTest)
#include "test_readonly_db.moc"
