// Decoding primitives (table-driven) and the download decoder.
#include <limits>
#include <QTemporaryDir>
#include <QtTest>
#include <cstring>
#include <vector>

#include "decode/flash2orl01.h"
#include "decode/primitives.h"
#include "device/memory_image.h"
#include "store/dbf.h"
#include "store/measurement.h"

using namespace decode;

namespace {
std::vector<uint8_t> bytes(std::initializer_list<int> v)
{
    std::vector<uint8_t> b;
    for (int x : v)
        b.push_back(uint8_t(x));
    return b;
}
void putFloat(std::span<uint8_t> b, size_t at, float f)
{
    std::memcpy(b.data() + at, &f, 4);
}
void put32(std::span<uint8_t> b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + size_t(i)] = uint8_t(v >> (8 * i));
}
void put16(std::span<uint8_t> b, size_t at, uint16_t v)
{
    b[at] = uint8_t(v);
    b[at + 1] = uint8_t(v >> 8);
}
}  // namespace

class DecodeTest : public QObject {
    Q_OBJECT
private slots:
    void numbers();
    void singles_data();
    void singles();
    void times_data();
    void times();
    void dates_data();
    void dates();
    void laterThan();
    void dateTimeTexts();

    void emptyDownload();
    void operativeRows();
    void waitingSeries();
    void observationSeries();
    void reportsCountSeriesNotPoints();
    void overCapacityStopsAtAreaEnd();

private:
    struct Db {
        QTemporaryDir dir;
        dbf::Table t;
        Db()
        {
            const QString f = dir.filePath(QStringLiteral("t.db"));
            dbf::Table::create(f, measurementFields());
            t.setFileName(f);
            t.open();
        }
        // All rows of a mode in file order.
        std::vector<uint32_t> rows(int mode)
        {
            t.setFilter(QStringLiteral("MODE=%1").arg(mode));
            t.setFiltered(true);
            t.selectIndex(QString());
            t.refresh();
            std::vector<uint32_t> r;
            for (int i = 0; i < t.recordCount(); ++i)
                r.push_back(t.physicalRecNoAt(i));
            return r;
        }
        QString s(uint32_t rec, const char* f) { return t.stringAt(rec, t.fieldIndex(QString::fromLatin1(f))); }
        double d(uint32_t rec, const char* f) { return t.floatAt(rec, t.fieldIndex(QString::fromLatin1(f))); }
        bool null(uint32_t rec, const char* f) { return t.isNullAt(rec, t.fieldIndex(QString::fromLatin1(f))); }
    };
};

void DecodeTest::numbers()
{
    const auto b = bytes({0x34, 0x12, 0x01, 0x00, 0x01, 0x00, 0xFF, 0xFF, 0xFF, 0xFF});
    QCOMPARE(get_word(b, 0), uint16_t(4660));
    QCOMPARE(get_dword(b, 2), uint32_t(65537));
    QCOMPARE(get_dword(b, 6), uint32_t(0xFFFFFFFF));
    // Reads past the end give zero bytes, never a read outside the buffer.
    QCOMPARE(get_word(b, 9), uint16_t(0xFF));
    QCOMPARE(get_dword(b, 100), uint32_t(0));
}

void DecodeTest::singles_data()
{
    QTest::addColumn<float>("in");
    QTest::addColumn<double>("out");
    QTest::newRow("25.3") << 25.3f << 25.3;
    QTest::newRow("7.456") << 7.456f << 7.46;
    QTest::newRow("zero") << 0.0f << 0.0;
    QTest::newRow("negative") << -1.234f << -1.23;
    QTest::newRow("tie to even down") << 0.125f << 0.12;  // 0.125 is exact in binary
    QTest::newRow("tie to even up") << 0.375f << 0.38;
    QTest::newRow("large") << 12345.678f << 12345.68;
}

void DecodeTest::singles()
{
    QFETCH(float, in);
    QFETCH(double, out);
    std::vector<uint8_t> b(4);
    putFloat(b, 0, in);
    QCOMPARE(get_single(b, 0), out);
}

void DecodeTest::times_data()
{
    QTest::addColumn<std::vector<uint8_t>>("b");
    QTest::addColumn<QString>("full");
    QTest::addColumn<QString>("short_");
    QTest::newRow("5,7,14") << bytes({5, 7, 14}) << "14:07:05" << "05:07";
    QTest::newRow("9,0,9") << bytes({9, 0, 9}) << "09:00:09" << "09:00";
    QTest::newRow("59,59,23") << bytes({59, 59, 23}) << "23:59:59" << "59:59";  // short: hour 59 -> 00? see below
    QTest::newRow("60,60,24") << bytes({60, 60, 24}) << "00:00:00" << "00:00";
    QTest::newRow("0,0,24") << bytes({0, 0, 24}) << "00:00:00" << "00:00";
    QTest::newRow("23,60") << bytes({23, 60, 0}) << "00:60:23" << "23:00";
}

void DecodeTest::times()
{
    QFETCH(std::vector<uint8_t>, b);
    QFETCH(QString, full);
    QFETCH(QString, short_);
    if (QTest::currentDataTag() == QLatin1String("59,59,23")) {
        QCOMPARE(time_str(b, 0), full);
        QCOMPARE(hm_str(b, 0), QStringLiteral("00:59"));  // hour 59 is out of range
        return;
    }
    if (QTest::currentDataTag() == QLatin1String("23,60")) {
        QCOMPARE(hm_str(b, 0), short_);
        QCOMPARE(time_str(b, 0), QStringLiteral("00:00:23"));
        return;
    }
    QCOMPARE(time_str(b, 0), full);
    QCOMPARE(hm_str(b, 0), short_);
    QCOMPARE(time_str(b, 0).size(), 8);
}

void DecodeTest::dates_data()
{
    QTest::addColumn<std::vector<uint8_t>>("b");
    QTest::addColumn<QString>("text");
    QTest::newRow("7,3,5") << bytes({7, 3, 5}) << "07.03.2015";
    QTest::newRow("0,0,0") << bytes({0, 0, 0}) << "01.01.2010";
    QTest::newRow("31,12,255") << bytes({31, 12, 255}) << "31.12.2265";
    QTest::newRow("32,13,0") << bytes({32, 13, 0}) << "01.01.2010";
    QTest::newRow("1,12,16") << bytes({1, 12, 16}) << "01.12.2026";
}

void DecodeTest::dates()
{
    QFETCH(std::vector<uint8_t>, b);
    QFETCH(QString, text);
    QCOMPARE(date_str(b, 0), text);
}

void DecodeTest::laterThan()
{
    const QString rec = QStringLiteral("07.03.201514:07:05");
    QVERIFY(later_than(EmptyReference, rec));
    QVERIFY(later_than(EmptyReference, QStringLiteral("01.01.201000:00:00")));
    QVERIFY(!later_than(rec, rec));  // equal is not later
    QVERIFY(later_than(rec, QStringLiteral("07.03.201514:07:06")));
    QVERIFY(!later_than(rec, QStringLiteral("07.03.201514:07:04")));
    // Year decides before month and day.
    QVERIFY(later_than(QStringLiteral("31.12.201423:59:59"), QStringLiteral("01.01.201500:00:00")));
    QVERIFY(!later_than(QStringLiteral("01.02.201500:00:00"), QStringLiteral("28.01.201523:00:00")));
    // Short times count as second 0.
    QVERIFY(!later_than(QStringLiteral("07.03.201514:07"), QStringLiteral("07.03.201514:07")));
    QVERIFY(later_than(QStringLiteral("07.03.201514:07"), QStringLiteral("07.03.201514:08")));
}

void DecodeTest::dateTimeTexts()
{
    QCOMPARE(dateTimeText(QDateTime(QDate(2015, 3, 2), QTime(16, 0), Qt::UTC)), QStringLiteral("02.03.2015 16:00:00"));
    QCOMPARE(dateTimeText(QDateTime(QDate(2015, 3, 2), QTime(0, 0), Qt::UTC)), QStringLiteral("02.03.2015"));
    QCOMPARE(parseDateTimeText(QStringLiteral("02.03.2015 16:00:00")), QDateTime(QDate(2015, 3, 2), QTime(16, 0), Qt::UTC));
    QCOMPARE(parseDateTimeText(QStringLiteral("02.03.2015")), QDateTime(QDate(2015, 3, 2), QTime(0, 0), Qt::UTC));
    QCOMPARE(parseDateTimeText(QStringLiteral("2.3.2015 6:05")), QDateTime(QDate(2015, 3, 2), QTime(6, 5), Qt::UTC));
    QVERIFY(!parseDateTimeText(QStringLiteral("31.02.2015 10:00:00")).isValid());
    QVERIFY(!parseDateTimeText(QStringLiteral("garbage")).isValid());
    QVERIFY(!parseDateTimeText(QString()).isValid());
}

void DecodeTest::emptyDownload()
{
    Db db;
    device::MemoryImage img;
    int series = 0, messages = 0;
    Flash2orl01Hooks hooks{[&](int, const QString&) { ++series; }, [&](const QString&, const QString&) { ++messages; }};
    const auto r = flash2orl01(db.t, img, {0, 0, 0}, true, hooks);
    QCOMPARE(r.rows, 0);
    QCOMPARE(series, 0);
    QCOMPARE(messages, 0);
    QCOMPARE(db.t.physicalCount(), 0u);
    QCOMPARE(db.t.filter(), QStringLiteral("MODE=2"));

    // A closed table: nothing at all.
    dbf::Table closed;
    QCOMPARE(flash2orl01(closed, img, {5, 0, 0}, true, hooks).rows, 0);
}

void DecodeTest::operativeRows()
{
    Db db;
    device::MemoryImage img;
    auto a = img.archive(0);
    for (int i = 0; i < 3; ++i) {
        const size_t r = size_t(i) * 14;
        a[r] = uint8_t(5 + i);  // second
        a[r + 1] = 7;
        a[r + 2] = 14;
        a[r + 3] = 7;
        a[r + 4] = 3;
        a[r + 5] = 15;
        put32(a, r + 6, uint32_t(100 + i));
        putFloat(a, r + 10, 1.234f * float(i + 1));
    }
    const auto r = flash2orl01(db.t, img, {3, 0, 0}, false);
    QCOMPARE(r.rows, 3);
    const auto rows = db.rows(0);
    QCOMPARE(rows.size(), size_t(3));
    QCOMPARE(db.d(rows[0], "N"), 100.0);
    QCOMPARE(db.s(rows[0], "DATE"), QStringLiteral("07.03.2025"));
    QCOMPARE(db.s(rows[1], "TIME"), QStringLiteral("14:07:06"));
    QCOMPARE(db.d(rows[1], "R"), 2.47);
    QCOMPARE(db.d(rows[2], "TYPE"), 3.0);
    QCOMPARE(db.s(rows[2], "COMMENT"), QString());
    QVERIFY(db.null(rows[0], "M1"));  // fields the decoder leaves alone stay blank
    QVERIFY(db.null(rows[0], "K_C"));
}

void DecodeTest::waitingSeries()
{
    Db db;
    device::MemoryImage img;
    auto h = img.archive(1);
    // Two series of 3 and 2 points, numbers 11 and 12, then one of 0 points.
    const uint32_t counts[3] = {3, 2, 0};
    for (int t = 0; t < 3; ++t) {
        const size_t o = size_t(t) * 26;
        h[o] = 0; h[o + 1] = 30; h[o + 2] = 9;           // 09:30:00
        h[o + 3] = 1; h[o + 4] = 3; h[o + 5] = 5;        // 01.03.2015
        put32(h, o + 6, uint32_t(11 + t));
        put32(h, o + 10, 48);                             // hours
        put16(h, o + 14, 5);                              // threshold mm
        put32(h, o + 22, counts[t]);
        put32(img.pointCountTable(1), size_t(t) * 4, counts[t]);
    }
    auto p = img.series(1);
    for (int k = 0; k < 5; ++k) {
        const size_t q = size_t(k) * 10;
        p[q] = uint8_t(k); p[q + 1] = 0; p[q + 2] = 10;   // 10:00:0k
        p[q + 3] = 2; p[q + 4] = 3; p[q + 5] = 5;         // 02.03.2015
        putFloat(p, q + 6, 0.5f * float(k));
    }
    QStringList picker;
    Flash2orl01Hooks hooks;
    hooks.addSeries = [&](int mode, const QString& n) {
        QCOMPARE(mode, 1);
        picker << n;
    };
    QCOMPARE(flash2orl01(db.t, img, {0, 3, 0}, false, hooks).rows, 5);
    QCOMPARE(picker, QStringList({"11", "12", "13"}));  // the empty series is listed too

    const auto rows = db.rows(1);
    QCOMPARE(rows.size(), size_t(5));
    // Rows 1-3: series 1 at point offsets 0, 10, 20; rows 4-5: series 2.
    for (int i = 0; i < 5; ++i) {
        const uint32_t r = rows[size_t(i)];
        QCOMPARE(db.d(r, "TYPE"), i < 3 ? 1.0 : 2.0);
        QCOMPARE(db.d(r, "N"), i < 3 ? 11.0 : 12.0);
        QCOMPARE(db.s(r, "DATE"), QStringLiteral("01.03.2015"));
        QCOMPARE(db.s(r, "TIME"), QStringLiteral("09:30:00"));
        QCOMPARE(db.s(r, "ARTICLE"), QStringLiteral("02.03.2015 10:00:0%1").arg(i));
        QCOMPARE(db.d(r, "R"), 0.5 * i);
        const bool first = i == 0 || i == 3;
        QCOMPARE(db.null(r, "M1"), !first);
        QCOMPARE(db.s(r, "AGE"), first ? (i == 0 ? QStringLiteral("3") : QStringLiteral("2")) : QString());
        if (first) {
            QCOMPARE(db.d(r, "M1"), 48.0);
            QCOMPARE(db.d(r, "M2"), 5.0);
        }
    }
}

void DecodeTest::observationSeries()
{
    Db db;
    device::MemoryImage img;
    auto h = img.archive(2);
    h[0] = 0; h[1] = 0; h[2] = 10;            // 10:00:00
    h[3] = 1; h[4] = 3; h[5] = 5;              // 01.03.2015
    put32(h, 6, 7);
    put32(h, 10, 30);                          // 30 hours -> 02.03.2015 16:00:00
    put16(h, 14, 15);                          // minutes
    put32(img.pointCountTable(2), 0, 3);
    // Second series: 14:00 + 10 hours ends exactly at midnight.
    h[26] = 0; h[27] = 0; h[28] = 14; h[29] = 1; h[30] = 3; h[31] = 5;
    put32(h, 32, 8);
    put32(h, 36, 10);
    put32(img.pointCountTable(2), 4, 1);
    for (int k = 0; k < 4; ++k)
        putFloat(img.series(2), size_t(k) * 4, float(k) + 0.25f);

    flash2orl01(db.t, img, {0, 0, 2}, false);
    const auto rows = db.rows(2);
    QCOMPARE(rows.size(), size_t(4));
    QCOMPARE(db.d(rows[0], "N"), 1.0);
    QCOMPARE(db.d(rows[2], "N"), 3.0);
    QCOMPARE(db.d(rows[3], "N"), 1.0);
    QCOMPARE(db.s(rows[0], "ARTICLE"), QStringLiteral("02.03.2015 16:00:00"));
    QCOMPARE(db.s(rows[1], "ARTICLE"), QString());
    QCOMPARE(db.s(rows[3], "ARTICLE"), QStringLiteral("02.03.2015"));
    QCOMPARE(db.s(rows[0], "AGE"), QStringLiteral("3"));
    QCOMPARE(db.d(rows[0], "M2"), 15.0);
    QCOMPARE(db.d(rows[3], "R"), 3.25);
    QCOMPARE(db.d(rows[3], "TYPE"), 2.0);
}

void DecodeTest::reportsCountSeriesNotPoints()
{
    Db db;
    device::MemoryImage img;
    put32(img.pointCountTable(1), 0, 4);
    put32(img.pointCountTable(1), 4, 6);
    QStringList said;
    Flash2orl01Hooks hooks;
    hooks.report = [&](const QString& text, const QString& caption) {
        QCOMPARE(caption, QStringLiteral("Дополнение"));
        said << text;
    };
    flash2orl01(db.t, img, {5, 2, 0}, true, hooks);
    QCOMPARE(said, QStringList({QStringLiteral("Добавлено записей в базовый метод: 5"),
                                QStringLiteral("Добавлено записей в индивидуальный метод: 2")}));
    said.clear();
    flash2orl01(db.t, img, {5, 2, 0}, false, hooks);
    QVERIFY(said.isEmpty());
}

void DecodeTest::overCapacityStopsAtAreaEnd()
{
    Db db;
    device::MemoryImage img;
    // 65,535 operative records cannot be in a 65,536-byte area: 4,681 fit.
    auto r = flash2orl01(db.t, img, {65535, 0, 0}, false);
    QCOMPARE(r.rows, 4681);
    QCOMPARE(r.skippedRecords, 65535 - 4681);

    // Points beyond the observation area's 600,001 bytes are not read.
    Db db2;
    put32(img.pointCountTable(2), 0, 200000);
    r = flash2orl01(db2.t, img, {0, 0, 1}, false);
    QCOMPARE(r.rows, 150000);
    QCOMPARE(r.skippedRecords, 50000);

    // Point counts near 2^31 on every series: the count of left-out points
    // saturates instead of overflowing.
    Db db3;
    device::MemoryImage huge;
    for (int k = 0; k < 3; ++k)
        put32(huge.pointCountTable(2), 4 * k, 0x7FFFFFFF);
    r = flash2orl01(db3.t, huge, {0, 0, 3}, false);
    QCOMPARE(r.rows, 150000);
    QCOMPARE(r.skippedRecords, std::numeric_limits<int>::max());
}

QTEST_GUILESS_MAIN(DecodeTest)
#include "test_decode.moc"
