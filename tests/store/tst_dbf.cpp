// Table engine: file layout, values, filters, navigation, editing, packing,
// sort orders, exclusive access and damaged files.

#include "store/dbf.h"
#include "store/measurement.h"
#include "store/dbf_record.h"
#include "dbf_test_util.h"
#include "tests/write_failure.h"

#include <QCoreApplication>
#include <QDate>
#include <QDateTime>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <charconv>
#include <cmath>
#include <cstring>
#include <functional>

using dbf::Error;
using dbf::Table;
using namespace dbftest;

namespace {

// Exit codes of the child that tries to open a table held by the parent.
enum ChildResult { kOpened = 0, kLocked = 3, kOther = 4 };

int tryOpenInChild(const QString& path) {
    Table t;
    t.setFileName(path);
    try {
        t.open();
        return kOpened;
    } catch (const Error& e) {
        return e.kind() == Error::Kind::Locked ? kLocked : kOther;
    }
}

Error::Kind kindOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const Error& e) {
        return e.kind();
    }
    return Error::Kind(-1);
}

// A small table for filter/navigation/sort tests.
std::vector<dbf::FieldDef> smallFields() {
    return {{"MODE", 'N', 4, 0}, {"TYPE", 'N', 4, 0}, {"R", 'N', 18, 9},
            {"GROUP", 'C', 1, 0}, {"DATE", 'C', 10, 0}};
}

struct Row {
    int mode, type;
    double r;  // NaN: left blank
    const char* group;
    const char* date;
};

void fill(Table& t, const std::vector<Row>& rows) {
    for (const Row& row : rows) {
        t.append();
        t.setInteger("MODE", row.mode);
        t.setInteger("TYPE", row.type);
        if (!std::isnan(row.r))
            t.setFloat("R", row.r);
        t.setString("GROUP", QString::fromUtf8(row.group));
        t.setString("DATE", QString::fromUtf8(row.date));
        t.post();
    }
}

// Physical record numbers of the view, in view order.
QList<uint32_t> viewRecs(Table& t) {
    QList<uint32_t> out;
    for (int i = 0; i < t.recordCount(); ++i)
        out << t.physicalRecNoAt(i);
    return out;
}

QList<uint32_t> walk(Table& t) {
    QList<uint32_t> out;
    for (t.first(); !t.eof(); t.next())
        out << t.physicalRecNo();
    return out;
}

}  // namespace

class TstDbf : public QObject {
    Q_OBJECT

    QString dir_;
    QString path(const QString& name) const { return dir_ + u'/' + name; }

    QString smallTable(const QString& name, const std::vector<Row>& rows) {
        const QString p = path(name);
        Table::create(p, smallFields());
        Table t;
        t.setFileName(p);
        t.open();
        fill(t, rows);
        return p;
    }

    const double nan = std::numeric_limits<double>::quiet_NaN();
    std::vector<Row> sample() const {
        return {
            {0, 3, 1.5, "A", "02.01.2024"},   // 0
            {1, 1, 2.0, "B", "01.02.2023"},   // 1
            {1, 1, nan, "A", "15.01.2024"},   // 2
            {2, 7, 0.0, "", "01.01.2024"},    // 3
            {2, 7, -3.25, "A", "31.12.2023"}, // 4
            {0, 3, 1.5, "C", "02.01.2024"},   // 5
            {2, 8, 10, "B", "01.01.2025"},    // 6
        };
    }

private slots:
    void initTestCase() {
        dir_ = workDir() + "/dbf";
        QDir(dir_).removeRecursively();
        QVERIFY(QDir().mkpath(dir_));
    }

    // ---- bulk writing: what a new database gets -------------------------
    void bulkWritingReachesTheFileWhole() {
        QTemporaryDir own;
        const QString p = own.filePath("bulk.db");
        Table::create(p, smallFields());
        Table t;
        t.setFileName(p);
        t.open();
        t.beginBulk();
        fill(t, sample());
        // Held back: the file still says no records; the table sees them all.
        QCOMPARE(readAll(p).size(), 32 + 32 * 5 + 1 + 1);
        QCOMPARE(t.physicalCount(), 7u);
        t.setFilter("MODE=2");
        t.setFiltered(true);
        t.refresh();
        QCOMPARE(t.recordCount(), 3);
        t.endBulk();
        const QByteArray b = readAll(p);
        const int recLen = 1 + 4 + 4 + 18 + 1 + 10;
        QCOMPARE(b.size(), 32 + 32 * 5 + 1 + 7 * recLen + 1);
        QCOMPARE(uint8_t(b[4]), 7);
        QCOMPARE(uint8_t(b[b.size() - 1]), 0x1A);

        // Closing writes what is held back, and an edit does too.
        t.beginBulk();
        fill(t, {{0, 3, 9.75, "Z", "01.01.2026"}});
        t.first();
        t.edit();
        t.setString("GROUP", "Q");
        t.post();
        QCOMPARE(uint8_t(readAll(p)[4]), 8);
        fill(t, {{0, 3, 1.0, "Y", "01.01.2026"}});
        t.close();
        Table again;
        again.setFileName(p);
        again.open();
        QCOMPARE(again.physicalCount(), 9u);
        QCOMPARE(again.stringAt(7, again.fieldIndex("GROUP")), QStringLiteral("Z"));
        QCOMPARE(again.floatAt(7, again.fieldIndex("R")), 9.75);
        QCOMPARE(again.stringAt(8, again.fieldIndex("GROUP")), QStringLiteral("Y"));
    }

    // ---- layout of a created file ----------------------------------------
    void createdFileHeaderBytes() {
        const QString p = path("layout.db");
        Table::create(p, measurementFields());
        const QByteArray b = readAll(p);
        QCOMPARE(b.size(), 1090);
        QCOMPARE(uint8_t(b[0]), 0x03);
        const QDate today = QDate::currentDate();
        QCOMPARE(int(uint8_t(b[1])), today.year() - 1900);
        QCOMPARE(int(uint8_t(b[2])), today.month());
        QCOMPARE(int(uint8_t(b[3])), today.day());
        QCOMPARE(b.mid(4, 4), QByteArray(4, '\0'));               // no records
        QCOMPARE(uint8_t(b[8]) | uint8_t(b[9]) << 8, 1089);        // header length
        QCOMPARE(uint8_t(b[10]) | uint8_t(b[11]) << 8, 547);       // record length
        QCOMPARE(b.mid(12, 17), QByteArray(17, '\0'));             // 12..28, mdx flag 0
        QCOMPARE(uint8_t(b[29]), 0xC9);
        QCOMPARE(b.mid(30, 2), QByteArray(2, '\0'));
        const auto defs = measurementFields();
        QCOMPARE(int(defs.size()), 33);
        for (int i = 0; i < 33; ++i) {
            const char* d = b.constData() + 32 + 32 * i;
            QCOMPARE(QByteArray(d), defs[size_t(i)].name.toLatin1());  // NUL padded
            QCOMPARE(d[11], defs[size_t(i)].type);
            QCOMPARE(int(uint8_t(d[16])), defs[size_t(i)].width);
            QCOMPARE(int(uint8_t(d[17])), defs[size_t(i)].decimals);
            QCOMPARE(QByteArray(d + 18, 14), QByteArray(14, '\0'));
        }
        QCOMPARE(uint8_t(b[1088]), 0x0D);
        QCOMPARE(uint8_t(b[1089]), 0x1A);
        QVERIFY(strayFiles(dir_, {"layout.db"}).isEmpty());

        Table t;
        t.setFileName(p);
        t.open();
        QCOMPARE(int(t.fields().size()), 33);
        for (int i = 0; i < 33; ++i) {
            QCOMPARE(t.fields()[size_t(i)].name, defs[size_t(i)].name);
            QCOMPARE(t.fields()[size_t(i)].type, defs[size_t(i)].type);
            QCOMPARE(t.fields()[size_t(i)].width, defs[size_t(i)].width);
            QCOMPARE(t.fields()[size_t(i)].decimals, defs[size_t(i)].decimals);
        }
        QCOMPARE(t.languageDriver(), uint8_t(0xC9));
        // An empty table: every filter yields nothing.
        for (const char* f : {"MODE=0", "MODE=1", "MODE=2 AND TYPE=7", "(GROUP=\"A\")"}) {
            t.setFilter(QString::fromLatin1(f));
            t.setFiltered(true);
            QCOMPARE(t.recordCount(), 0);
            t.first();
            QVERIFY(t.eof());
            QVERIFY(t.asString("DATE").isEmpty());
        }
    }

    void createRejectsBadFieldListsAndLeavesNothing() {
        const QString p = path("bad.db");
        QCOMPARE(kindOf([&] { Table::create(p, {}); }), Error::Kind::Usage);
        QCOMPARE(kindOf([&] { Table::create(p, {{"TOOLONGNAME1", 'C', 5, 0}}); }), Error::Kind::Usage);
        QCOMPARE(kindOf([&] { Table::create(p, {{"A", 'C', 5, 2}}); }), Error::Kind::Usage);
        QCOMPARE(kindOf([&] { Table::create(p, {{"A", 'M', 10, 0}}); }), Error::Kind::Usage);
        QCOMPARE(kindOf([&] { Table::create(p, {{"A", 'C', 5, 0}, {"a", 'N', 4, 0}}); }),
                 Error::Kind::Usage);
        QVERIFY(!QFile::exists(p));
        QCOMPARE(kindOf([&] { Table::create(path("no/such/dir/x.db"), smallFields()); }),
                 Error::Kind::Io);
    }

    // ---- values --------------------------------------------------------------
    void roundTripEveryFieldKind() {
        const QString p = path("values.db");
        Table::create(p, measurementFields());
        Table t;
        MeasurementFields m(t);  // made while closed: indexes resolve on use
        t.setFileName(p);
        t.open();

        const QString comment = QString(50, QChar(u'Ж'));
        const QString longCyr = QStringLiteral("Ёлка ёжик Щука ЪЬЭЮЯ абвгдеёжзийклмнопрстуфхцчшщъыьэюя");
        t.append();
        m.Dbf1N.setInteger(1);
        m.Dbf1DATE.setString("02.01.2024");
        m.Dbf1TIME.setString("13:45:07");
        m.Dbf1R.setFloat(-123.456789012);
        m.Dbf1DIR.setString(longCyr);                 // cut to 25
        m.Dbf1K_C.setFloat(0.0);                      // zero, not blank
        m.Dbf1ARTICLE.setString(longCyr);             // cut to 30
        m.Dbf1MATERIAL.setString(QStringLiteral("тяж. бетон на известняке"));
        m.Dbf1AGE.setInteger(100);                    // number into a text field
        m.Dbf1COND.setString(QStringLiteral("Норм."));
        for (int i = 1; i <= 15; ++i)
            if (i != 7)
                m.m(i).setFloat(i * 1.1);
        m.Dbf1COUNT.setInteger(14);
        m.Dbf1MODE.setInteger(0);
        m.Dbf1COMMENT.setString(comment);
        // S_T left blank
        m.Dbf1GROUP.setString("Я");
        m.Dbf1B_135.setString("B22.5");
        m.Dbf1TYPE.setInteger(3);
        m.Dbf1V_135.setFloat(12345678.123456789);
        t.post();

        t.append();
        m.Dbf1AGE.setString(QStringLiteral("100 суток"));
        m.Dbf1MODE.setInteger(2);
        m.Dbf1S_T.setFloat(0.5);
        t.post();
        t.close();

        t.open();
        QCOMPARE(t.physicalCount(), 2u);
        t.first();
        QCOMPARE(m.Dbf1N.asInteger(), 1);
        QCOMPARE(m.Dbf1DATE.asString(), QString("02.01.2024"));
        QCOMPARE(m.Dbf1TIME.asString(), QString("13:45:07"));
        QCOMPARE(m.Dbf1R.asFloat(), -123.456789012);
        QCOMPARE(m.Dbf1R.asString(), QString("-123.456789012"));
        QCOMPARE(m.Dbf1DIR.asString(), longCyr.left(25));
        QVERIFY(!m.Dbf1K_C.isNull());
        QCOMPARE(m.Dbf1K_C.asFloat(), 0.0);
        QCOMPARE(m.Dbf1ARTICLE.asString(), longCyr.left(30));
        QCOMPARE(m.Dbf1MATERIAL.asString(), QStringLiteral("тяж. бетон на известняке"));
        QCOMPARE(m.Dbf1AGE.asString(), QString("100"));
        QCOMPARE(m.Dbf1COND.asString(), QStringLiteral("Норм."));
        for (int i = 1; i <= 15; ++i) {
            if (i == 7) {
                QVERIFY(m.m(i).isNull());
                QCOMPARE(m.m(i).asFloat(), 0.0);
            } else {
                QVERIFY(!m.m(i).isNull());
                QCOMPARE(m.m(i).asFloat(), i * 1.1);
            }
        }
        QCOMPARE(m.Dbf1COUNT.asInteger(), 14);
        QVERIFY(!m.Dbf1MODE.isNull());
        QCOMPARE(m.Dbf1MODE.asInteger(), 0);
        QCOMPARE(m.Dbf1COMMENT.asString(), comment);
        QVERIFY(m.Dbf1S_T.isNull());
        QCOMPARE(m.Dbf1GROUP.asString(), QStringLiteral("Я"));
        QCOMPARE(m.Dbf1B_135.asString(), QString("B22.5"));
        QCOMPARE(m.Dbf1TYPE.asInteger(), 3);
        QCOMPARE(m.Dbf1V_135.asFloat(), 12345678.123456789);
        t.next();
        QCOMPARE(m.Dbf1AGE.asString(), QStringLiteral("100 суток"));
        QCOMPARE(m.Dbf1S_T.asFloat(), 0.5);
        QVERIFY(m.Dbf1N.isNull());
        // Field names are case-insensitive.
        QCOMPARE(t.asString("Age"), QStringLiteral("100 суток"));
        QCOMPARE(t.asInteger(u"mode"), 2);
        QCOMPARE(t.fieldIndex("type"), 31);
        QCOMPARE(t.fieldIndex(u"nope"), -1);
        QCOMPARE(kindOf([&] { t.asString("NOPE"); }), Error::Kind::Field);
        t.close();

        // The bytes on disk: layout of the first record.
        const QByteArray b = readAll(p);
        QCOMPARE(b.size(), 1089 + 2 * 547 + 1);
        QCOMPARE(uint8_t(b[4]), 2);
        QCOMPARE(uint8_t(b.back()), 0x1A);
        const char* r0 = b.constData() + 1089;
        QCOMPARE(r0[0], ' ');
        QCOMPARE(QByteArray(r0 + 1, 18), QByteArray("       1.000000000"));
        QCOMPARE(QByteArray(r0 + 1 + 18 + 10 + 8, 18), QByteArray("    -123.456789012"));
        QCOMPARE(QByteArray(r0 + 37 + 18 + 25, 18), QByteArray("       0.000000000"));
        const QByteArray cp1251Cond("\xCD\xEE\xF0\xEC.", 5);
        QCOMPARE(QByteArray(r0 + 1 + 18 + 10 + 8 + 18 + 25 + 18 + 30 + 30 + 10, 5), cp1251Cond);
        // Blank numeric = all spaces (M7), text padded with spaces (AGE).
        const int m1 = 1 + 18 + 10 + 8 + 18 + 25 + 18 + 30 + 30 + 10 + 5;
        QCOMPARE(QByteArray(r0 + m1 + 6 * 18, 18), QByteArray(18, ' '));
        QCOMPARE(QByteArray(r0 + 1 + 18 + 10 + 8 + 18 + 25 + 18 + 30 + 30, 10), QByteArray("100       "));
    }

    void tooWideValuesStayInTheirField() {
        const QString p = path("wide.db");
        Table::create(p, {{"A", 'C', 3, 0}, {"SMALL", 'N', 4, 0}, {"F", 'N', 8, 3}, {"Z", 'C', 2, 0}});
        Table t;
        t.setFileName(p);
        t.open();
        t.append();
        t.setString("A", QStringLiteral("абвгд"));
        t.setInteger("SMALL", 12345);      // no room: '*' fill, reads as null
        t.setFloat("F", 123456.789);       // no room for 3 decimals: one is kept
        t.setString("Z", "zz");
        t.post();
        t.append();
        t.setInteger("SMALL", -999);
        t.setFloat("F", -0.0);
        t.post();
        t.close();
        const QByteArray b = readAll(p);
        const int hl = 32 + 4 * 32 + 1;
        QCOMPARE(b.mid(hl, 18), QByteArray(" \xE0\xE1\xE2****123456.8zz"));
        QCOMPARE(b.mid(hl + 18, 18), QByteArray(" " "   " "-999" "   0.000" "  "));
        t.open();
        t.first();
        QVERIFY(t.isNull("SMALL"));
        QCOMPARE(t.asFloat("F"), 123456.8);
        QCOMPARE(t.asString("Z"), QString("zz"));
        t.next();
        QCOMPARE(t.asInteger("SMALL"), -999);
        QCOMPARE(kindOf([&] { t.edit(); t.setString("F", "abc"); }), Error::Kind::Usage);
        t.setString("F", "2,5");  // decimal comma accepted from text
        t.post();
        QCOMPARE(t.asFloat("F"), 2.5);
        QCOMPARE(kindOf([&] { t.setString("A", "x"); }), Error::Kind::Usage);  // not editing
        QCOMPARE(kindOf([&] { t.post(); }), Error::Kind::Usage);
    }

    // Every post is on disk at once: count, date, record and end marker.
    void postWritesThroughAtOnce() {
        const QString p = path("through.db");
        Table::create(p, smallFields());
        Table t;
        t.setFileName(p);
        t.open();
        const int hl = 32 + 5 * 32 + 1, rl = 1 + 4 + 4 + 18 + 1 + 10;
        for (int i = 1; i <= 3; ++i) {
            t.append();
            t.setInteger("MODE", i);
            t.post();
            const QByteArray b = readAll(p);
            QCOMPARE(b.size(), hl + i * rl + 1);
            QCOMPARE(int(uint8_t(b[4])), i);
            QCOMPARE(uint8_t(b.back()), 0x1A);
            QCOMPARE(b.mid(hl + (i - 1) * rl + 1, 4), QByteArray("   ") + char('0' + i));
        }
        t.first();
        t.edit();
        t.setInteger("MODE", 9);
        t.post();
        QCOMPARE(readAll(p).mid(hl + 1, 4), QByteArray("   9"));
        t.edit();
        t.setInteger("MODE", 5);
        t.cancel();
        QCOMPARE(t.asInteger("MODE"), 9);
        t.close();
        t.open();
        QCOMPARE(t.recordCount(), 3);
        QCOMPARE(t.asInteger("MODE"), 9);
    }

    // ---- filters and navigation ---------------------------------------------
    void filters_data() {
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QList<uint32_t>>("rows");
        using L = QList<uint32_t>;
        QTest::newRow("mode0") << "MODE=0" << L{0, 5};
        QTest::newRow("series") << "MODE=2 AND TYPE=7" << L{3, 4};
        QTest::newRow("lowercase") << "mode=1 and type=1" << L{1, 2};
        QTest::newRow("spaces") << "  MODE = 2  And  TYPE = 8 " << L{6};
        QTest::newRow("group") << "(GROUP=\"A\")" << L{0, 2, 4};
        QTest::newRow("group quote1") << "GROUP='B'" << L{1, 6};
        QTest::newRow("empty text") << "GROUP=\"\"" << L{3};
        QTest::newRow("or") << "MODE=0 OR TYPE=8" << L{0, 5, 6};
        QTest::newRow("not") << "NOT MODE=2" << L{0, 1, 2, 5};
        QTest::newRow("dotted") << "MODE=2 .AND. .NOT. TYPE=7" << L{6};
        QTest::newRow("parens") << "(MODE=1 OR MODE=2) AND (GROUP=\"A\")" << L{2, 4};
        QTest::newRow("ne") << "MODE<>2" << L{0, 1, 2, 5};
        QTest::newRow("lt") << "R<1.5" << L{3, 4};
        QTest::newRow("le") << "R<=1.5" << L{0, 3, 4, 5};
        QTest::newRow("gt") << "R>1.5" << L{1, 6};
        QTest::newRow("ge") << "R>=2" << L{1, 6};
        QTest::newRow("negative") << "R=-3.25" << L{4};
        QTest::newRow("zero is not blank") << "R=0" << L{3};
        QTest::newRow("blank fails <>") << "R<>0" << L{0, 1, 4, 5, 6};
        QTest::newRow("blank test") << "R=\"\"" << L{2};
        QTest::newRow("literal first") << "3=TYPE" << L{0, 5};
        QTest::newRow("text order") << "DATE>\"31.12.2023\"" << L{};
        QTest::newRow("text lt") << "DATE<\"02\"" << L{1, 3, 6};
        QTest::newRow("empty filter") << "" << L{0, 1, 2, 3, 4, 5, 6};
    }
    void filters() {
        QFETCH(QString, filter);
        QFETCH(QList<uint32_t>, rows);
        static QString p;
        if (p.isEmpty())
            p = smallTable("filters.db", sample());
        Table t;
        t.setFileName(p);
        t.open();
        t.setFilter(filter);
        QCOMPARE(t.recordCount(), 7);  // filtering still off
        t.setFiltered(true);
        QCOMPARE(t.recordCount(), int(rows.size()));
        QCOMPARE(walk(t), rows);
        QCOMPARE(viewRecs(t), rows);
    }

    void badFiltersAreRejected_data() {
        QTest::addColumn<QString>("filter");
        for (const char* f : {"MODE=", "MODE 1", "(MODE=1", "MODE=1 AND", "NOPE=1", "MODE=\"x",
                              "MODE=\"abc\"", "MODE=1 XOR TYPE=2", "1=1", "MODE=TYPE", "MODE=1)"})
            QTest::newRow(f) << QString::fromLatin1(f);
    }
    void badFiltersAreRejected() {
        QFETCH(QString, filter);
        static QString p;
        if (p.isEmpty())
            p = smallTable("badfilters.db", sample());
        Table t;
        t.setFileName(p);
        t.open();
        t.setFilter("MODE=0");
        t.setFiltered(true);
        QCOMPARE(kindOf([&] { t.setFilter(filter); }), Error::Kind::Filter);
        // The previous filter stays in force.
        QCOMPARE(t.filter(), QString("MODE=0"));
        QCOMPARE(t.recordCount(), 2);
    }

    void navigation() {
        const QString p = smallTable("nav.db", sample());
        Table t;
        t.setFileName(p);
        t.open();
        t.setFilter("MODE=2");
        t.setFiltered(true);
        QCOMPARE(t.recordCount(), 3);
        t.first();
        QVERIFY(t.bof());
        QVERIFY(!t.eof());
        QCOMPARE(t.recNo(), 0);
        QCOMPARE(t.physicalRecNo(), 3u);
        t.next();
        QVERIFY(!t.bof());
        QCOMPARE(t.physicalRecNo(), 4u);
        t.last();
        QCOMPARE(t.physicalRecNo(), 6u);
        QVERIFY(!t.eof());
        t.next();
        QVERIFY(t.eof());
        QCOMPARE(t.physicalRecNo(), 6u);  // stays on the last row
        t.prior();
        QVERIFY(!t.eof());
        QCOMPARE(t.physicalRecNo(), 4u);
        t.prior();
        t.prior();
        QVERIFY(t.bof());
        QCOMPARE(t.physicalRecNo(), 3u);
        t.moveTo(99);
        QCOMPARE(t.recNo(), 2);
        t.moveTo(-5);
        QCOMPARE(t.recNo(), 0);
        QVERIFY(t.gotoPhysical(6));
        QCOMPARE(t.recNo(), 2);
        QVERIFY(!t.gotoPhysical(0));   // not in the view
        QCOMPARE(t.recNo(), 2);
        QCOMPARE(t.stringAt(0, 4), QString("02.01.2024"));  // any record for models
        QVERIFY(t.isNullAt(2, 2));
        QCOMPARE(t.floatAt(4, 2), -3.25);
        QCOMPARE(kindOf([&] { t.stringAt(7, 0); }), Error::Kind::Usage);

        // locate works within the view and makes the row current.
        QVERIFY(t.locate("TYPE", "8"));
        QCOMPARE(t.physicalRecNo(), 6u);
        QVERIFY(t.locate(u"R", "-3.25"));
        QCOMPARE(t.physicalRecNo(), 4u);
        QVERIFY(!t.locate("GROUP", "C"));  // row 5 exists but is filtered out
        QCOMPARE(t.physicalRecNo(), 4u);
        QVERIFY(t.locate("GROUP", " B "));
        QCOMPARE(t.physicalRecNo(), 6u);
        t.setFiltered(false);
        QVERIFY(t.locate("GROUP", "C"));
        QCOMPARE(t.physicalRecNo(), 5u);
        QVERIFY(t.locate("R", ""));  // the blank number
        QCOMPARE(t.physicalRecNo(), 2u);
        QVERIFY(t.locate("r", "1.500"));
        QCOMPARE(t.physicalRecNo(), 0u);
        QCOMPARE(kindOf([&] { t.locate("NOPE", "1"); }), Error::Kind::Field);
    }

    void appendWithFilterOn() {
        const QString p = smallTable("append.db", sample());
        Table t;
        t.setFileName(p);
        t.open();
        t.setFilter("MODE=2 AND TYPE=7");
        t.setFiltered(true);
        QCOMPARE(t.recordCount(), 2);
        t.append();
        t.setInteger("MODE", 2);
        t.setInteger("TYPE", 7);
        t.setFloat("R", 42);
        QCOMPARE(t.asFloat("R"), 42.0);  // reads see the edit buffer
        t.post();
        QCOMPARE(t.recordCount(), 3);
        QCOMPARE(t.physicalRecNo(), 7u);
        QCOMPARE(t.asFloat("R"), 42.0);
        t.append();
        t.setInteger("MODE", 1);
        t.post();
        QCOMPARE(t.recordCount(), 3);
        QCOMPARE(t.physicalRecNo(), 7u);  // the row outside the view did not move us
        QCOMPARE(t.physicalCount(), 9u);
        QCOMPARE(walk(t), (QList<uint32_t>{3, 4, 7}));
        t.append();
        t.setInteger("MODE", 2);
        t.cancel();  // dropped
        QCOMPARE(t.physicalCount(), 9u);
    }

    // ---- delete and pack -------------------------------------------------------
    void deleteAndPack() {
        const QString p = smallTable("pack.db", sample());
        const int hl = 32 + 5 * 32 + 1, rl = 38;
        Table t;
        t.setFileName(p);
        t.open();
        t.setFilter("MODE=2");
        t.setFiltered(true);
        t.first();
        t.next();  // record 4
        t.deleteCurrent();
        QCOMPARE(readAll(p)[hl + 4 * rl], '*');  // on disk at once
        QCOMPARE(t.recordCount(), 2);
        QCOMPARE(t.physicalRecNo(), 6u);  // the following row is current
        t.setDeleted(0, true);
        t.setDeleted(1, true);
        t.setDeleted(1, false);
        QCOMPARE(t.deletedCount(), 2u);
        QVERIFY(t.isDeletedAt(0));
        QVERIFY(!t.isDeletedAt(1));
        t.setFiltered(false);
        QCOMPARE(t.recordCount(), 5);
        QCOMPARE(walk(t), (QList<uint32_t>{1, 2, 3, 5, 6}));

        t.pack();
        QCOMPARE(t.physicalCount(), 5u);
        QCOMPARE(t.deletedCount(), 0u);
        QCOMPARE(t.recordCount(), 5);
        QStringList groups, dates;
        for (t.first(); !t.eof(); t.next()) {
            groups << t.asString("GROUP");
            dates << t.asString("DATE");
        }
        QCOMPARE(groups, (QStringList{"B", "A", "", "C", "B"}));
        QCOMPARE(dates, (QStringList{"01.02.2023", "15.01.2024", "01.01.2024", "02.01.2024",
                                     "01.01.2025"}));
        QVERIFY(strayFiles(dir_ + "", QDir(dir_).entryList(QDir::Files)).isEmpty());
        // Still exclusive after the file was replaced.
        QCOMPARE(tryOpenInChild(p), int(kLocked));
        // The table stays usable and writes to the new file.
        t.append();
        t.setInteger("MODE", 5);
        t.post();
        t.close();
        const QByteArray b = readAll(p);
        QCOMPARE(b.size(), hl + 6 * rl + 1);
        QCOMPARE(int(uint8_t(b[4])), 6);
        QCOMPARE(uint8_t(b[28]), 0);
        t.open();
        QCOMPARE(t.recordCount(), 6);
        t.last();
        QCOMPARE(t.asInteger("MODE"), 5);
    }

    void failedPackLeavesOriginal() {
#ifdef _WIN32
        QSKIP("a folder's read-only attribute does not stop new files on Windows");
#endif
        const QString sub = dir_ + "/ro";
        QVERIFY(QDir().mkpath(sub));
        const QString p = sub + "/pack.db";
        Table::create(p, smallFields());
        Table t;
        t.setFileName(p);
        t.open();
        fill(t, sample());
        t.setDeleted(2, true);
        const QByteArray before = readAll(p);
        QVERIFY(QFile::setPermissions(sub, QFile::ReadOwner | QFile::ExeOwner));
        const auto kind = kindOf([&] { t.pack(); });
        QFile::setPermissions(sub, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QCOMPARE(kind, Error::Kind::ReadOnly);
        QCOMPARE(readAll(p), before);
        QCOMPARE(QDir(sub).entryList(QDir::Files | QDir::Hidden), QStringList{"pack.db"});
        // The table is still open and intact.
        QCOMPARE(t.recordCount(), 6);
        QCOMPARE(t.deletedCount(), 1u);
        // create() into a read-only folder fails the same way and leaves nothing.
        QVERIFY(QFile::setPermissions(sub, QFile::ReadOwner | QFile::ExeOwner));
        const auto kind2 = kindOf([&] { Table::create(sub + "/new.db", smallFields()); });
        QFile::setPermissions(sub, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QCOMPARE(kind2, Error::Kind::ReadOnly);
        QVERIFY(!QFile::exists(sub + "/new.db"));
    }

    // ---- index tags -------------------------------------------------------------
    void indexTags() {
        const QString p = smallTable("index.db", sample());
        Table t;
        t.setFileName(p);
        t.open();
        // Numbers: null lowest, ties in file order (rows 0 and 5 both 1.5).
        t.createIndexTag("tab1", "R", false);
        QCOMPARE(viewRecs(t), (QList<uint32_t>{0, 1, 2, 3, 4, 5, 6}));  // not selected yet
        t.selectIndex("tab1");
        QCOMPARE(t.currentIndex(), QString("tab1"));
        QCOMPARE(viewRecs(t), (QList<uint32_t>{2, 4, 3, 0, 5, 1, 6}));
        QCOMPARE(walk(t), (QList<uint32_t>{2, 4, 3, 0, 5, 1, 6}));
        // Re-sort the way the grids do it: no index, delete, create, select.
        t.selectIndex("");
        t.deleteIndexTag("tab1");
        t.createIndexTag("tab1", u"r", true);
        t.selectIndex("TAB1");
        QCOMPARE(viewRecs(t), (QList<uint32_t>{6, 1, 0, 5, 3, 4, 2}));
        // Text: compared as text, so dd.mm.yyyy orders by day first.
        t.createIndexTag("tab3", "DATE", false);
        t.selectIndex("tab3");
        QCOMPARE(viewRecs(t), (QList<uint32_t>{3, 6, 1, 0, 5, 2, 4}));
        t.createIndexTag("tab3", "GROUP", true);  // replaced in place, re-sorted
        QCOMPARE(viewRecs(t), (QList<uint32_t>{5, 1, 6, 0, 2, 4, 3}));
        // Filter and sort together, and the cursor keeps its record.
        t.setFilter("MODE=2");
        t.setFiltered(true);
        QCOMPARE(viewRecs(t), (QList<uint32_t>{6, 4, 3}));
        t.last();
        QCOMPARE(t.physicalRecNo(), 3u);
        t.selectIndex("tab1");
        QCOMPARE(viewRecs(t), (QList<uint32_t>{6, 3, 4}));
        QCOMPARE(t.physicalRecNo(), 3u);
        QCOMPARE(t.recNo(), 1);
        // An appended row lands at its sorted place.
        t.append();
        t.setInteger("MODE", 2);
        t.setFloat("R", 5);
        t.post();
        QCOMPARE(viewRecs(t), (QList<uint32_t>{6, 7, 3, 4}));
        QCOMPARE(t.physicalRecNo(), 7u);

        QCOMPARE(t.indexTags(), (QStringList{"tab1", "tab3"}));
        QCOMPARE(kindOf([&] { t.deleteIndexTag("tab9"); }), Error::Kind::Usage);
        QCOMPARE(kindOf([&] { t.selectIndex("tab9"); }), Error::Kind::Usage);
        QCOMPARE(kindOf([&] { t.createIndexTag("tab2", "NOPE", false); }), Error::Kind::Field);
        t.deleteIndexTag("tab1");  // the selected one: back to file order
        QCOMPARE(t.currentIndex(), QString());
        QCOMPARE(viewRecs(t), (QList<uint32_t>{3, 4, 6, 7}));
        t.close();
        t.open();
        QVERIFY(t.indexTags().isEmpty());
    }

    // ---- exclusive access, read-only files -----------------------------------
    void exclusiveOpen() {
        const QString p = smallTable("lock.db", sample());
        Table a;
        a.setFileName(p);
        a.open();
        Table b;
        b.setFileName(p);
        QCOMPARE(kindOf([&] { b.open(); }), Error::Kind::Locked);
        QVERIFY(!b.isOpen());
        QCOMPARE(tryOpenInChild(p), int(kLocked));  // another descriptor, same process

        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), {"--try-open", p});
        QVERIFY(child.waitForFinished(30000));
        QCOMPARE(child.exitCode(), int(kLocked));
        // create() must not replace a table that is open.
        QCOMPARE(kindOf([&] { Table::create(p, smallFields()); }), Error::Kind::Locked);

        a.close();
        b.open();
        QVERIFY(b.isOpen());
        QCOMPARE(b.recordCount(), 7);
        b.close();
        child.start(QCoreApplication::applicationFilePath(), {"--try-open", p});
        QVERIFY(child.waitForFinished(30000));
        QCOMPARE(child.exitCode(), int(kOpened));
    }

    void readOnlyFile() {
        const QString p = smallTable("ro.db", sample());
        QVERIFY(QFile::setPermissions(p, QFile::ReadOwner | QFile::ReadGroup));
        Table t;
        t.setFileName(p);
        const auto kind = kindOf([&] { t.open(); });
        const auto kind2 = kindOf([&] { Table::create(p, smallFields()); });
        QFile::setPermissions(p, QFile::ReadOwner | QFile::WriteOwner);
        QCOMPARE(kind, Error::Kind::ReadOnly);
        QCOMPARE(kind2, Error::Kind::ReadOnly);
        QVERIFY(!t.isOpen());
        t.setFileName(path("missing.db"));
        QCOMPARE(kindOf([&] { t.open(); }), Error::Kind::Io);
    }

    // A file that cannot be written is read, shared with other readers, and
    // stays exactly as it was whatever is tried on it.
    void readOnlyOpen() {
        const QString p = smallTable("ro2.db", sample());
        {
            Table t;
            t.setFileName(p);
            t.open();
            t.setDeleted(1, true);  // a marked row stays hidden when read
        }
        QVERIFY(QFile::setPermissions(p, QFile::ReadOwner | QFile::ReadGroup));
        const QByteArray before = readAll(p);
        const QDateTime when = QFileInfo(p).lastModified();
        Table t;
        t.setFileName(p);
        QCOMPARE(kindOf([&] { t.open(); }), Error::Kind::ReadOnly);
        t.openReadOnly();
        QVERIFY(t.isOpen());
        QVERIFY(t.readOnly());
        QCOMPARE(t.recordCount(), 6);
        t.setFilter("MODE=2");
        t.setFiltered(true);
        t.createIndexTag("r", "R", true);
        t.selectIndex("r");
        QCOMPARE(viewRecs(t), (QList<uint32_t>{6, 3, 4}));
        Table other;  // a second reader is welcome, a writer is not
        other.setFileName(p);
        other.openReadOnly();
        QCOMPARE(other.recordCount(), 6);
        other.close();
        QCOMPARE(tryOpenInChild(p), int(kOther));  // ReadOnly, not Locked

        t.first();
        for (const auto& change : std::vector<std::function<void()>>{
                 [&] { t.append(); }, [&] { t.edit(); }, [&] { t.post(); }, [&] { t.deleteCurrent(); },
                 [&] { t.setDeleted(1, false); }, [&] { t.pack(); }, [&] { t.beginBulk(); }})
            QCOMPARE(kindOf(change), Error::Kind::ReadOnly);
        QVERIFY(!t.editing());
        QCOMPARE(t.deletedCount(), 1u);
        t.close();
        QVERIFY(!t.readOnly());
        QFile::setPermissions(p, QFile::ReadOwner | QFile::WriteOwner);
        QCOMPARE(readAll(p), before);
        QCOMPARE(QFileInfo(p).lastModified(), when);
        // Writable again: the next open is an ordinary one.
        t.open();
        QVERIFY(!t.readOnly());
        t.close();
    }

    // A failed write names its cause in Russian: a folder that refuses new
    // files (root included), and a full disk.
    void writeFailuresNameTheCause() {
        const QString locked = path("locked");
        QVERIFY(QDir().mkpath(locked));
        const QString cannot = writefail::lockFolder(locked);
        QString text;
        if (cannot.isEmpty()) {
            try {
                Table::create(locked + "/t.db", smallFields());
            } catch (const Error& e) {
                text = e.text();
            }
        }
        writefail::unlockFolder(locked);
        if (!cannot.isEmpty())
            QSKIP(qPrintable(cannot));
        QVERIFY2(text.contains(QStringLiteral("Нет прав на запись")), qPrintable(text));
    }
    void fullDiskNamesTheCause() {
        WRITEFAIL_ON_SMALL_DISK("fullDiskNamesTheCause", path("small"));
        const QString disk = writefail::smallDisk();
        const QString p = disk + "/t.db";
        Table::create(p, smallFields());
        Table t;
        t.setFileName(p);
        t.open();
        fill(t, sample());
        writefail::fillDisk(disk);
        auto failure = [](const std::function<void()>& f) {
            try {
                f();
            } catch (const Error& e) {
                return e.text();
            }
            return QString();
        };
        const QStringList texts{
            failure([&] { Table::create(disk + "/new.db", smallFields()); }),
            failure([&] {
                for (int i = 0; i < 200; ++i)
                    fill(t, sample());
            }),
            failure([&] {
                t.setDeleted(0, true);
                t.pack();
            }),
            failure([&] {
                t.beginBulk();
                for (int i = 0; i < 1000; ++i)
                    fill(t, sample());
                t.endBulk();
            }),
        };
        for (const QString& text : texts)
            QVERIFY2(text.contains(QStringLiteral(": Недостаточно места на диске")), qPrintable(text));
    }

    // ---- damaged files ------------------------------------------------------------
    void corruptFiles_data() {
        QTest::addColumn<QByteArray>("bytes");
        const std::vector<RawField> f{{"MODE", 'N', 4, 0}, {"NAME", 'C', 6, 0}};
        const QByteArray good = makeTable(f, {{"   1", "abc"}, {"   2", "def"}});
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("31 bytes") << good.left(31);
        QTest::newRow("header cut") << good.left(60);
        QByteArray b = good;
        b[0] = 0x30;  // Visual FoxPro
        QTest::newRow("version 0x30") << b;
        // Records must start with ' ' or '*': a file starting with a
        // zero-filled region is no data (later damage: tornRecords).
        QByteArray zeros = good;
        zeros[32 + 64 + 1] = '\0';  // flag byte of the first record
        QTest::newRow("NUL deletion flag") << zeros;
        QByteArray shifted = good;
        shifted[32 + 64 + 1] = 'x';
        QTest::newRow("letter as deletion flag") << shifted;
        b = good;
        b[0] = 0x04;  // dBase 7, different descriptors
        QTest::newRow("version 0x04") << b;
        b = good;
        b[8] = char(32 + 64);  // header length without the terminator
        QTest::newRow("header length -1") << b;
        b = good;
        b[8] = char(32 + 32 + 1);  // one field declared, two described
        QTest::newRow("header length short") << b;
        b = good;
        b[32 + 64] = ' ';  // terminator missing
        QTest::newRow("no terminator") << b;
        b = good;
        b[10] = 12;
        QTest::newRow("record length") << b;
        b = good;
        b[32 + 32 + 11] = 'M';
        QTest::newRow("memo field") << b;
        b = good;
        b[32 + 11] = 'X';
        QTest::newRow("unknown type") << b;
        b = good;
        b[32 + 16] = 0;
        b[10] = 7;
        QTest::newRow("zero width") << b;
        b = good;
        b[32 + 17] = 4;  // N4.4
        QTest::newRow("decimals >= width") << b;
        b = good;
        b[32] = 0;  // nameless field
        QTest::newRow("no name") << b;
        b = good;
        b[4] = 3;  // three records claimed, two present
        QTest::newRow("truncated records") << b;
        QTest::newRow("last record cut") << good.left(good.size() - 3);
        b = good;
        b[4] = char(0xFF);
        b[7] = char(0x7F);
        QTest::newRow("huge count") << b;
        b = good;
        b[8] = char(0xFF);
        b[9] = char(0xFF);
        QTest::newRow("header past end") << b;
    }
    void corruptFiles() {
        QFETCH(QByteArray, bytes);
        const QString p = path("corrupt.db");
        QVERIFY(writeAll(p, bytes));
        Table t;
        t.setFileName(p);
        try {
            t.open();
            QFAIL("opened a damaged file");
        } catch (const Error& e) {
            QCOMPARE(e.kind(), Error::Kind::Corrupt);
            QVERIFY(!e.text().isEmpty());
        }
        QVERIFY(!t.isOpen());
        QCOMPARE(tryOpenInChild(p), int(kOther));  // and no lock is left behind
        QCOMPARE(readAll(p), bytes);                // nothing written
    }

    // Records torn by a crash (zero-filled, as a power loss during an append
    // leaves them): a writable open refuses the file, a read-only open shows
    // every intact record and says which are damaged; a damaged first record
    // refuses the file either way.
    void tornRecords_data() {
        QTest::addColumn<QList<int>>("torn");
        QTest::newRow("first") << QList<int>{0};
        QTest::newRow("second") << QList<int>{1};
        QTest::newRow("middle") << QList<int>{500};
        QTest::newRow("last") << QList<int>{999};
        QTest::newRow("several") << QList<int>{1, 2, 3, 500, 998, 999};
    }
    void tornRecords() {
        QFETCH(QList<int>, torn);
        const std::vector<RawField> f{{"N", 'N', 5, 0}, {"NAME", 'C', 6, 0}};
        std::vector<std::vector<QByteArray>> rows;
        for (int i = 1; i <= 1000; ++i)
            rows.push_back({QByteArray::number(i).rightJustified(5), "abc"});
        QByteArray bytes = makeTable(f, rows);
        const int headerLen = 32 + 64 + 1, recLen = 12;
        for (int r : torn)
            bytes.replace(headerLen + r * recLen, recLen, QByteArray(recLen, '\0'));
        bytes[headerLen + 10 * recLen] = '*';  // a deleted record is no damage
        const QString p = path("torn.db");
        QVERIFY(writeAll(p, bytes));
        Table t;
        t.setFileName(p);
        const bool first = torn.contains(0);
        QCOMPARE(kindOf([&] { t.open(); }), first ? Error::Kind::Corrupt : Error::Kind::Damaged);
        QCOMPARE(kindOf([&] { t.openReadOnly(); }), first ? Error::Kind::Corrupt : Error::Kind(-1));
        if (first) {
            QVERIFY(!t.isOpen());
            QCOMPARE(readAll(p), bytes);
            return;
        }
        QVERIFY(t.readOnly());
        const std::vector<uint32_t>& damaged = t.damagedRecords();
        QCOMPARE(QList<uint32_t>(damaged.begin(), damaged.end()), QList<uint32_t>(torn.begin(), torn.end()));
        QCOMPARE(t.physicalCount(), 1000u);
        QList<int> seen, intact;
        for (t.first(); !t.eof(); t.next())
            seen << t.asInteger("N");
        for (int r = 0; r < 1000; ++r)
            if (!torn.contains(r) && r != 10)
                intact << r + 1;
        QCOMPARE(seen, intact);
        QCOMPARE(kindOf([&] { t.append(); }), Error::Kind::ReadOnly);
        t.close();
        QVERIFY(t.damagedRecords().empty());
        QCOMPARE(readAll(p), bytes);
    }

    void tolerantReading() {
        const std::vector<RawField> f{{"MODE", 'N', 4, 0}, {"NAME", 'C', 6, 0}, {"X", 'F', 8, 2},
                                      {"D", 'D', 8, 0}, {"L", 'L', 1, 0}};
        // '*'-filled and blank numbers are null; zero dates are empty.
        QByteArray b = makeTable(f, {{"****", "abc", "   -1.50", "00000000", "T"},
                                     {"   7", "\x1A" "bc", "        ", "20240102", "F"}},
                                 0xC9, 0x03, false);
        b[1] = b[2] = b[3] = 0;  // zero update date
        const QString p = path("tolerant.db");
        QVERIFY(writeAll(p, b));
        Table t;
        t.setFileName(p);
        t.open();
        QCOMPARE(t.recordCount(), 2);  // no end marker needed; 0x1A inside data is data
        t.first();
        QVERIFY(t.isNull("MODE"));
        QCOMPARE(t.asFloat("X"), -1.5);
        QVERIFY(t.isNull("D"));
        QCOMPARE(t.asString("D"), QString());
        QCOMPARE(t.asString("L"), QString("T"));
        t.next();
        QCOMPARE(t.asInteger("MODE"), 7);
        QVERIFY(t.isNull("X"));
        QCOMPARE(t.asString("D"), QString("20240102"));
        // Appending to a file without end marker adds one.
        t.append();
        t.setInteger("MODE", 8);
        t.setString("D", "20250101");
        t.post();
        t.close();
        const QByteArray after = readAll(p);
        QCOMPARE(after.size(), b.size() + 28 + 1);
        QCOMPARE(uint8_t(after.back()), 0x1A);

        // More bytes than the count says: the count wins.
        QByteArray extra = makeTable(f, {{"   1"}, {"   2"}, {"   3"}});
        extra[4] = 2;
        QVERIFY(writeAll(p, extra));
        t.open();
        QCOMPARE(t.recordCount(), 2);
        t.close();
        // Version variants of the same layout are read.
        for (uint8_t v : {0x43, 0x83, 0x8B, 0xF5}) {
            QVERIFY(writeAll(p, makeTable(f, {{"   1"}}, 0xC9, v)));
            t.open();
            QCOMPARE(t.recordCount(), 1);
            t.close();
        }
    }

    // ---- code pages ------------------------------------------------------------------
    void codePages_data() {
        QTest::addColumn<int>("ldid");
        QTest::addColumn<QByteArray>("codec");
        QTest::addColumn<QByteArray>("bytes");  // the text in that code page, from its chart
        const QByteArray cp1251 = QByteArray::fromHex("cff0eee3e8e120a8b820b9");
        const QByteArray cp866 = QByteArray::fromHex("8fe0aea3a8a120f0f120fc");
        QTest::newRow("1251") << 0xC9 << QByteArray("windows-1251") << cp1251;
        QTest::newRow("unknown 0 as 1251") << 0x00 << QByteArray("windows-1251") << cp1251;
        QTest::newRow("unmapped as 1251") << 0x7E << QByteArray("windows-1251") << cp1251;
        QTest::newRow("866 OEM") << 0x26 << QByteArray("IBM866") << cp866;
        QTest::newRow("866 DOS") << 0x65 << QByteArray("IBM866") << cp866;
        QTest::newRow("1252") << 0x03 << QByteArray("windows-1252") << QByteArray::fromHex("4772f6df6520636166e92080");
        QTest::newRow("ANSI 0x57 as 1251") << 0x57 << QByteArray("windows-1251") << cp1251;
    }
    void codePages() {
        QFETCH(int, ldid);
        QFETCH(QByteArray, codec);
        QFETCH(QByteArray, bytes);
        QCOMPARE(dbf::codecForLanguageDriver(uint8_t(ldid)), codec);
        const QString text = codec == "windows-1252" ? QStringLiteral("Größe café €")
                                                     : QStringLiteral("Прогиб Ёё №");
        const std::vector<RawField> f{{"NAME", 'C', 20, 0}};
        const QString p = path("cp.db");
        QVERIFY(writeAll(p, makeTable(f, {{bytes}}, uint8_t(ldid))));
        Table t;
        t.setFileName(p);
        t.open();
        QCOMPARE(t.languageDriver(), uint8_t(ldid));
        t.first();
        QCOMPARE(t.asString("NAME"), text);
        // Text written back goes into the file's own code page.
        t.edit();
        t.setString("NAME", text + "!");
        t.post();
        QCOMPARE(t.locate("NAME", text + "!"), true);
        t.close();
        QCOMPARE(readAll(p).mid(32 + 32 + 1 + 1, bytes.size() + 1), bytes + "!");
    }

    // A text the file's code page cannot hold never reaches the file as '?'.
    void unstorableTextIsRefused_data() {
        QTest::addColumn<int>("ldid");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown");  // the character the message names
        QTest::newRow("Cyrillic into 1252") << 0x03 << QStringLiteral("Прогиб") << QStringLiteral("П");
        QTest::newRow("umlaut into 1251") << 0xC9 << QStringLiteral("ok ä") << QStringLiteral("ä");
        QTest::newRow("euro into 866") << 0x26 << QStringLiteral("Цена €") << QStringLiteral("€");
        QTest::newRow("emoji into 1251") << 0x57 << QStringLiteral("Да \U0001F600") << QStringLiteral("\U0001F600");
    }
    void unstorableTextIsRefused() {
        QFETCH(int, ldid);
        QFETCH(QString, text);
        QFETCH(QString, shown);
        const std::vector<RawField> f{{"COMMENT", 'C', 20, 0}, {"MODE", 'N', 4, 0}};
        const QString p = path("refuse.db");
        QVERIFY(writeAll(p, makeTable(f, {{"old", "   1"}}, uint8_t(ldid))));
        const QByteArray before = readAll(p);
        Table t;
        t.setFileName(p);
        t.open();
        t.first();
        t.edit();
        t.setInteger("MODE", 2);
        QString message;
        try {
            t.setString("COMMENT", text);
        } catch (const Error& e) {
            QCOMPARE(e.kind(), Error::Kind::CodePage);
            message = e.text();
        }
        QVERIFY(message.contains("COMMENT"));
        QVERIFY2(message.contains(shown), qPrintable(message));
        QCOMPARE(t.asString("COMMENT"), QString("old"));  // the buffer kept the old text
        t.cancel();
        // A filter on such a text matches no row, its negation every row.
        t.setFilter("COMMENT=\"" + text + "\"");
        t.setFiltered(true);
        QCOMPARE(t.recordCount(), 0);
        t.setFilter("COMMENT<>\"" + text + "\"");
        QCOMPARE(t.recordCount(), 1);
        t.close();
        QCOMPARE(readAll(p), before);
    }

    // Numbers read through the short path for plain "digits.digits" fields
    // come out exactly as the general conversion reads them.
    void numbersReadExactly() {
        QRandomGenerator rng(1234);
        char buf[64];
        for (int i = 0; i < 200000; ++i) {
            const int decimals = int(rng.bounded(10));
            const double v = (rng.generateDouble() - 0.5) * std::pow(10.0, double(rng.bounded(12)));
            const int n = std::snprintf(buf, sizeof buf, "%18.*f", decimals, v);
            double fast = 0, general = 0;
            QVERIFY(dbf::detail::parseNumber(buf, n, fast));
            const char* b = buf;
            while (*b == ' ')
                ++b;
            std::from_chars(b, buf + n, general);
            if (fast != general || std::signbit(fast) != std::signbit(general))
                QFAIL(qPrintable(QStringLiteral("\"%1\": %2 against %3")
                                     .arg(QString::fromLatin1(buf))
                                     .arg(fast, 0, 'g', 17)
                                     .arg(general, 0, 'g', 17)));
        }
        for (const char* text : {"1.", ".5", "-0.25", "  7", "1e3", "-", ".", "--1", "1.2.3", "12a"}) {
            double fast = 0, general = 0;
            const bool ok = dbf::detail::parseNumber(text, int(std::strlen(text)), fast);
            const auto r = std::from_chars(text + (text[0] == ' ' ? 2 : 0), text + std::strlen(text), general);
            const bool whole = r.ec == std::errc() && r.ptr == text + std::strlen(text);
            QCOMPARE(ok, whole);
            if (ok)
                QCOMPARE(fast, general);
        }
    }

    // Numbers written through the short paths read as the general
    // conversion prints them, at every width and number of decimals.
    void numbersWrittenExactly() {
        auto general = [](double v, int width, int decimals) {
            char buf[400];
            for (int dec = decimals; dec >= 0; --dec) {
                const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, dec);
                const int len = int(r.ptr - buf);
                if (len <= width)
                    return QByteArray(width - len, ' ') + QByteArray(buf, len);
            }
            return QByteArray(width, '*');
        };
        QRandomGenerator rng(4321);
        std::vector<double> values{0.005, -0.005, 0.125, 1e-10, -1e-10, 0.5e-9, 1.5e-9, 2.5e-9, 999999.9999999995,
                                   1125899906.8426240, -12.345, 99.995, 1e15, -1e15, 4.35, 0.1 + 0.2};
        for (int i = 0; i < 300000; ++i) {
            const double digits = std::pow(10.0, double(rng.bounded(14)) - 4);
            double v = (rng.generateDouble() - 0.5) * digits;
            if (i % 3 == 0)  // two decimals, as the instrument's values are rounded
                v = std::nearbyint(v / 0.01) * 0.01;
            values.push_back(v);
        }
        char out[40];
        for (const double v : values)
            for (const auto& [width, decimals] : {std::pair{18, 9}, {10, 2}, {6, 3}, {20, 15}, {8, 1}, {4, 0}}) {
                dbf::detail::formatNumber(v, width, decimals, out);
                const QByteArray want = general(v == 0 ? 0.0 : v, width, decimals);
                if (QByteArray(out, width) != want)
                    QFAIL(qPrintable(QStringLiteral("%1 as N(%2,%3): \"%4\" against \"%5\"")
                                         .arg(v, 0, 'g', 17)
                                         .arg(width)
                                         .arg(decimals)
                                         .arg(QString::fromLatin1(out, width), QString::fromLatin1(want))));
            }
    }

    void everyByteOf1251RoundTrips() {
        const QString p = path("bytes.db");
        Table::create(p, {{"T", 'C', 127, 0}});
        QByteArray all;
        for (int c = 0x80; c < 0x100; ++c)
            if (c != 0x98)  // the one undefined byte of the code page
                all += char(c);
        // Those bytes' characters, from the code page's chart.
        const QString text = QStringLiteral(
            "ЂЃ‚ѓ„…†‡€‰Љ‹ЊЌЋЏђ‘’“”•–—™љ›њќћџ\u00A0ЎўЈ¤Ґ¦§Ё©Є«¬\u00AD®Ї°±Ііґµ¶·ё№є»јЅѕї"
            "АБВГДЕЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯабвгдежзийклмнопрстуфхцчшщъыьэюя");
        QCOMPARE(text.size(), all.size());
        Table t;
        t.setFileName(p);
        t.open();
        t.append();
        t.setString("T", text);
        t.post();
        QCOMPARE(t.asString("T"), text);
        t.close();
        QCOMPARE(readAll(p).mid(32 + 32 + 1 + 1, all.size()), all);
    }
};

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--try-open") == 0)
        return tryOpenInChild(QString::fromLocal8Bit(argv[2]));
    QCoreApplication app(argc, argv);
    TstDbf t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_dbf.moc"
