// The concrete-strength decoders: code tables, the computed class, the
// 47/46-byte image (flash2orl03) and the 30-byte image (flash2orl02).
// Images are written out byte by byte.
#include <QLocale>
#include <QTemporaryDir>
#include <QtTest>
#include <vector>

#include "decode/flash2orl02.h"
#include "decode/flash2orl03.h"
#include "decode/strength_layout.h"
#include "decode/strength_tables.h"
#include "store/dbf.h"
#include "store/measurement.h"
#include "tests/decode/strength_images.h"

using namespace decode;
using namespace strength_images;

namespace {

struct Messages {
    QStringList texts;
    StrengthHooks hooks()
    {
        StrengthHooks h;
        h.report = [this](const QString& t, const QString& caption) {
            QCOMPARE(caption, QStringLiteral("Дополнение"));
            texts << t;
        };
        return h;
    }
};

const QString kBasic = QStringLiteral("Добавлено записей в базовый метод: ");
const QString kIndividual = QStringLiteral("Добавлено записей в индивидуальный метод: ");

int version(const Image& img) { return firmware_version(img).value_or(0); }

// The layout a file reads as: "47", "46", "30" or "refused"; candidates 0:
// all three ("Загрузить bin файл"), 1: 47 and 46, 2: 30 (appending to a
// database of that layout).
QString layoutOf(const Image& file, int candidates = 0)
{
    using L = StrengthLayout;
    const LayoutVerdict v = candidates == 1   ? strength_layout(file, {L::Records47, L::Records46})
                            : candidates == 2 ? strength_layout(file, {L::Records30})
                                              : strength_layout(file, {L::Records47, L::Records46, L::Records30});
    if (!v.layout) {
        if (v.refusal.isEmpty())
            return QStringLiteral("refused without a reason");
        return QStringLiteral("refused");
    }
    return *v.layout == L::Records47 ? QStringLiteral("47") : *v.layout == L::Records46 ? QStringLiteral("46")
                                                                                         : QStringLiteral("30");
}

Image cut(const Image& img, size_t n) { return Image(img.begin(), img.begin() + qsizetype(std::min(n, img.size()))); }

}  // namespace

class StrengthTest : public QObject {
    Q_OBJECT
private slots:
    void computedClass_data();
    void computedClass();

    void emptyImageReportsZeros();
    void fields47();
    void ageConditionAndCodes_data();
    void ageConditionAndCodes();
    void layout46();
    void versionFromImage();
    void layoutOfAmbiguousImages_data();
    void layoutOfAmbiguousImages();
    void layoutOverCounts();
    void layoutOfCutImages();
    void skipsWhatIsStored();
    void countsPastTheImage();

    void flags30_data();
    void flags30();
    void readings30ClearFlagInImage();
    void empty30AndTwice();

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
        // Rows of a mode in file order.
        std::vector<uint32_t> rows(int mode)
        {
            t.setFilter(QStringLiteral("MODE=%1").arg(mode));
            t.setFiltered(true);
            t.refresh();
            std::vector<uint32_t> r;
            for (int i = 0; i < t.recordCount(); ++i)
                r.push_back(t.physicalRecNoAt(i));
            return r;
        }
        QString s(uint32_t rec, const char* field) { return t.stringAt(rec, t.fieldIndex(field)); }
        double d(uint32_t rec, const char* field) { return t.floatAt(rec, t.fieldIndex(field)); }
        bool null(uint32_t rec, const char* field) { return t.isNullAt(rec, t.fieldIndex(field)); }
    };
};

void StrengthTest::computedClass_data()
{
    QTest::addColumn<double>("R");
    QTest::addColumn<double>("V");
    QTest::addColumn<QString>("text");
    QTest::newRow("30/10 -> 25") << 30.0 << 10.0 << QStringLiteral("B25");
    QTest::newRow("exactly 22.5") << 22.5 << 0.0 << QStringLiteral("B22,5");
    QTest::newRow("just below 22.5") << 22.4 << 0.0 << QStringLiteral("B20");
    QTest::newRow("90 and above") << 120.0 << 0.0 << QStringLiteral("B90");
    QTest::newRow("between 80 and 90") << 89.9 << 0.0 << QStringLiteral("B80");
    QTest::newRow("smallest") << 3.5 << 0.0 << QStringLiteral("B3,5");
    QTest::newRow("below smallest") << 3.4 << 0.0 << QStringLiteral("-");
    QTest::newRow("negative") << 30.0 << 70.0 << QStringLiteral("-");
    QTest::newRow("zero") << 0.0 << 0.0 << QStringLiteral("-");
}

void StrengthTest::computedClass()
{
    QFETCH(double, R);
    QFETCH(double, V);
    QFETCH(QString, text);
    QCOMPARE(calc_class_text(R, V), text);
}

void StrengthTest::emptyImageReportsZeros()
{
    Db db;
    db.t.setFilter(QStringLiteral("MODE=2"));
    db.t.setFiltered(true);
    Image img;
    add(img, {0, 0, 0, 0});
    Messages m;
    const StrengthResult r = flash2orl03(db.t, img, 70219, true, m.hooks());
    QCOMPARE(m.texts, QStringList({kBasic + "0", kIndividual + "0"}));
    QCOMPARE(r.basicRows + r.individualRows + r.skippedRecords, 0);
    QCOMPARE(db.t.physicalCount(), 0u);
    // The caller's filter is back.
    QCOMPARE(db.t.filter(), QStringLiteral("MODE=2"));
    QVERIFY(db.t.filtered());

    // A closed table: nothing at all.
    db.t.close();
    m.texts.clear();
    flash2orl03(db.t, img, 70219, true, m.hooks());
    QVERIFY(m.texts.isEmpty());
}

void StrengthTest::fields47()
{
    Db db;
    Image img;
    add16(img, 1);  // B
    rec47(img, 253, 4, 95, 2, 2, 123, 0x2211, 9, 0x81, {5, 7, 14}, {7, 3, 5}, {0, 250, 0, 310});
    add16(img, 1);  // I
    std::vector<int> all15;
    for (int n = 1; n <= 15; ++n)
        all15.push_back(100 + n);
    rec47(img, 300, 0, 100, 7, 1, 50, 1234, 0, 0x55, {0, 0, 9}, {31, 12, 16}, all15);
    QCOMPARE(img.size(), size_t(2 + 47 + 2 + 47));
    QCOMPARE(version(img), 70219);

    db.t.setFiltered(false);
    Messages m;
    const StrengthResult r = flash2orl03(db.t, img, 70219, true, m.hooks());
    QCOMPARE(m.texts, QStringList({kBasic + "1", kIndividual + "1"}));
    QCOMPARE(r.basicRows, 1);
    QCOMPARE(r.individualRows, 1);
    QVERIFY(!db.t.filtered());
    QCOMPARE(db.t.recNo(), 0);

    const auto basic = db.rows(0);
    QCOMPARE(basic.size(), size_t(1));
    const uint32_t b = basic[0];
    QCOMPARE(db.d(b, "N"), 1.0);
    QCOMPARE(db.d(b, "R"), 25.3);
    QCOMPARE(db.s(b, "DIR"), QStringLiteral("в"));
    QCOMPARE(db.d(b, "K_C"), 0.95);
    QCOMPARE(db.s(b, "ARTICLE"), QStringLiteral("колонна"));
    QCOMPARE(db.s(b, "MATERIAL"), QStringLiteral("тяж. бетон на известняке"));
    QCOMPARE(db.d(b, "V_135"), 12.3);
    QCOMPARE(db.d(b, "S_T"), 0.0);
    QVERIFY(!db.null(b, "S_T"));
    QCOMPARE(db.s(b, "B_135"), QStringLiteral("B22.5"));
    QCOMPARE(db.s(b, "COND"), QStringLiteral("ТВО"));
    QCOMPARE(db.s(b, "AGE"), QStringLiteral("28 суток"));
    QCOMPARE(db.s(b, "TIME"), QStringLiteral("14:07:05"));
    QCOMPARE(db.s(b, "DATE"), QStringLiteral("07.03.2015"));
    QVERIFY(db.null(b, "M1"));
    QCOMPARE(db.d(b, "M2"), 25.0);
    QVERIFY(db.null(b, "M3"));
    QCOMPARE(db.d(b, "M4"), 31.0);
    QVERIFY(db.null(b, "M5"));
    QCOMPARE(db.d(b, "COUNT"), 2.0);
    QCOMPARE(db.d(b, "TYPE"), 3.0);
    QCOMPARE(db.s(b, "COMMENT"), QString());
    QCOMPARE(db.s(b, "GROUP"), QString());

    const auto ind = db.rows(1);
    QCOMPARE(ind.size(), size_t(1));
    const uint32_t i = ind[0];
    QCOMPARE(db.d(i, "N"), 1.0);
    QCOMPARE(db.d(i, "R"), 30.0);
    QCOMPARE(db.s(i, "DIR"), QStringLiteral("б"));
    QCOMPARE(db.d(i, "K_C"), 1.0);
    QCOMPARE(db.s(i, "ARTICLE"), QStringLiteral("7"));
    QCOMPARE(db.s(i, "MATERIAL"), QStringLiteral("фунд. блок"));
    QCOMPARE(db.d(i, "V_135"), 5.0);
    QCOMPARE(db.d(i, "S_T"), 12.34);
    QCOMPARE(db.s(i, "B_135"), QStringLiteral("-"));
    QCOMPARE(db.s(i, "AGE"), QString());
    QCOMPARE(db.s(i, "COND"), QString());
    QCOMPARE(db.s(i, "TIME"), QStringLiteral("09:00:00"));
    QCOMPARE(db.s(i, "DATE"), QStringLiteral("31.12.2026"));
    QCOMPARE(db.d(i, "M1"), 10.1);
    QCOMPARE(db.d(i, "M15"), 11.5);
    QCOMPARE(db.d(i, "COUNT"), 15.0);
    QCOMPARE(db.d(i, "TYPE"), 3.0);
}

void StrengthTest::ageConditionAndCodes_data()
{
    QTest::addColumn<int>("dir");
    QTest::addColumn<int>("product");
    QTest::addColumn<int>("material");
    QTest::addColumn<int>("cls");
    QTest::addColumn<int>("age");
    QTest::addColumn<QStringList>("expected");  // DIR ARTICLE MATERIAL B_135 COND AGE
    QTest::newRow("0x81 concrete") << 1 << 0 << 1 << 1 << 0x81
                                   << QStringList{"д", "изделие", "тяж. бетон на граните", "B3.5", "ТВО", "28 суток"};
    QTest::newRow("0x02 concrete") << 2 << 11 << 7 << 2 << 0x02
                                   << QStringList{"а", "полы", "шлакопемзобетон", "B3.5", "Норм.", "100 суток"};
    QTest::newRow("0x80 heat day one") << 3 << 5 << 0 << 23 << 0x80
                                       << QStringList{"ж", "плита", "материал", "B90", "ТВО", "1 суток"};
    QTest::newRow("material 9 brick") << 0 << 1 << 9 << 0 << 0x81
                                      << QStringList{"б", "фундаментный блок", "кирпич керамический", "-", "", ""};
    QTest::newRow("material 8 brick") << 0 << 1 << 8 << 0 << 0x00
                                      << QStringList{"б", "фундаментный блок", "кирпич силикатный", "-", "", ""};
    QTest::newRow("codes past the tables") << 5 << 12 << 10 << 24 << 0x83
                                           << QStringList{"", "", "", "", "", ""};
    QTest::newRow("age code past its table") << 255 << 255 << 3 << 255 << 0x7F
                                             << QStringList{"", "", "тяж. бетон на гравии", "", "Норм.", ""};
}

void StrengthTest::ageConditionAndCodes()
{
    QFETCH(int, dir);
    QFETCH(int, product);
    QFETCH(int, material);
    QFETCH(int, cls);
    QFETCH(int, age);
    QFETCH(QStringList, expected);
    Db db;
    Image img;
    add16(img, 1);
    rec47(img, 200, dir, 100, product, material, 0, 0, cls, age, {0, 0, 12}, {1, 1, 3}, {200});
    add16(img, 0);
    flash2orl03(db.t, img, 70219, false);
    const auto rows = db.rows(0);
    QCOMPARE(rows.size(), size_t(1));
    QStringList got;
    for (const char* field : {"DIR", "ARTICLE", "MATERIAL", "B_135", "COND", "AGE"})
        got << db.s(rows[0], field);
    QCOMPARE(got, expected);
}

void StrengthTest::layout46()
{
    Db db;
    Image img;
    add16(img, 2);
    // Record 1: R 30.0, V 10.0 -> a = 25.08 -> B25; age byte at 9 (0x81),
    // offset 10 unused (0x55); readings at 17.. ; the record is 46 bytes.
    add(img, {0x2C, 0x01, 4, 100, 3, 1, 100, 0x11, 0x22, 0x81, 0x55, 0, 30, 8, 2, 4, 6});
    for (int n = 1; n <= 14; ++n)
        add16(img, n == 14 ? 140 : 0);
    add(img, {0x77});  // reading 15's low byte: not taken
    // Record 2: R 22.5, V 0 -> B22,5 (the program's decimal separator).
    add(img, {0xE1, 0x00, 0, 100, 0, 2, 0, 0, 0, 0x02, 0x00, 0, 31, 8, 2, 4, 6});
    for (int n = 1; n <= 14; ++n)
        add16(img, n == 1 ? 225 : 0);
    add(img, {0x00});
    add16(img, 0);
    QCOMPARE(img.size(), size_t(2 + 46 * 2 + 2));
    QCOMPARE(version(img), 70218);

    flash2orl03(db.t, img, 70218, false);
    const auto rows = db.rows(0);
    QCOMPARE(rows.size(), size_t(2));
    QCOMPARE(db.s(rows[0], "B_135"), QStringLiteral("B25"));
    QCOMPARE(db.s(rows[0], "COND"), QStringLiteral("ТВО"));
    QCOMPARE(db.s(rows[0], "AGE"), QStringLiteral("28 суток"));
    QCOMPARE(db.s(rows[0], "TIME"), QStringLiteral("08:30:00"));
    QCOMPARE(db.d(rows[0], "M14"), 14.0);
    QVERIFY(db.null(rows[0], "M15"));
    QCOMPARE(db.d(rows[0], "COUNT"), 1.0);
    QCOMPARE(db.s(rows[1], "B_135"), QStringLiteral("B22,5"));
    QCOMPARE(db.s(rows[1], "COND"), QStringLiteral("Норм."));
    QCOMPARE(db.s(rows[1], "AGE"), QStringLiteral("100 суток"));
    QCOMPARE(db.d(rows[1], "N"), 2.0);
    QCOMPARE(db.d(rows[1], "R"), 22.5);
}

void StrengthTest::versionFromImage()
{
    // Nothing to tell the layouts apart: 47.
    Image empty;
    add(empty, {0, 0, 0, 0});
    QCOMPARE(version(empty), 70219);
    QCOMPARE(basic_record_length(70219), 47);
    QCOMPARE(basic_record_length(70218), 46);
    QCOMPARE(basic_record_length(0), 46);

    // Three 47-byte records read as 46 bytes land on bytes that are no date.
    Image img;
    add16(img, 3);
    for (int k = 0; k < 3; ++k)
        rec47(img, 250, 0, 100, 0, 1, 0, 0, 1, 0, {0, 0, 10 + k}, {15, 6, 12}, {250});
    add16(img, 0);
    QCOMPARE(version(img), 70219);
    // One record and no individual ones: the codes tell.  A 46-byte record
    // with its age byte 0x81 at offset 9 would be class code 129 ...
    Image one46;
    add16(one46, 1);
    add(one46, {0x2C, 0x01, 4, 100, 3, 1, 100, 0, 0, 0x81, 0, 0, 30, 8, 2, 4, 6});
    for (int n = 1; n <= 14; ++n)
        add16(one46, 100);
    add(one46, {0, 0, 0});  // reading 15's low byte, I
    add(one46, {0, 0, 0, 0});  // what the image holds after the file
    QCOMPARE(version(one46), 70218);
    // ... and a 47-byte record with class code 9 would be age code 9.
    Image one47;
    add16(one47, 1);
    rec47(one47, 250, 0, 100, 0, 1, 0, 0, 9, 0x81, {0, 0, 10}, {15, 6, 12}, {250});
    add16(one47, 0);
    add(one47, {0, 0});
    QCOMPARE(version(one47), 70219);
    // Counts that do not fit the image in either reading: no version.
    Image big;
    add(big, {0xFF, 0xFF, 0, 0});
    QCOMPARE(version(big), 0);
}

void StrengthTest::layoutOfAmbiguousImages_data()
{
    QTest::addColumn<Image>("file");
    QTest::addColumn<int>("candidates");
    QTest::addColumn<QString>("layout");
    // Counts that a misreading finds in the bytes after the real records
    // point into zero-filled space: 768 individual records when the first
    // two bytes after a 47-byte basic record are taken as the count, 250
    // when the first two of the individual section are.
    QTest::newRow("47: 1 basic + 3 individual") << resultImage(47, 1, 3) << 0 << "47";
    QTest::newRow("47: 1 basic + 3 individual, zero-filled") << padded(resultImage(47, 1, 3)) << 0 << "47";
    QTest::newRow("46: 2 basic + 3 individual") << resultImage(46, 2, 3) << 0 << "46";
    QTest::newRow("46: 2 basic + 3 individual, zero-filled") << padded(resultImage(46, 2, 3)) << 0 << "46";
    // One 46-byte record whose age byte is also a valid class code: only
    // the file's length tells it from a 47-byte one.
    for (int age : {0, 1, 2}) {
        Image one;
        add16(one, 1);
        rec46(one, 300, 1, 100, 3, 1, 100, age, 0, {0, 30, 8}, {2, 4, 6}, {300});
        add16(one, 0);
        QTest::addRow("46: one record, age byte %d", age) << one << 1 << "46";
        QTest::addRow("46: one record, age byte %d, zero-filled", age) << padded(one) << 1 << "refused";
    }
    Image one46;
    add16(one46, 1);
    rec46(one46, 300, 1, 100, 3, 1, 100, 0x81, 0, {0, 30, 8}, {2, 4, 6}, {300});
    add16(one46, 0);
    QTest::newRow("46: one record, age byte 0x81 (class code 129 as 47)") << padded(one46) << 1 << "46";
    Image one47;
    add16(one47, 1);
    rec47(one47, 250, 0, 100, 0, 1, 0, 0, 9, 0x81, {0, 0, 10}, {15, 6, 12}, {250});
    add16(one47, 0);
    QTest::newRow("47: one record, class code 9 (age code 9 as 46)") << padded(one47) << 1 << "47";
    QTest::newRow("30: three records") << resultImage(30, 3) << 0 << "30";
    QTest::newRow("30: three records, zero-filled") << padded(resultImage(30, 3)) << 0 << "30";
    QTest::newRow("30 only: a 47-byte image") << resultImage(47, 2, 1) << 2 << "refused";
    QTest::newRow("47 or 46 only: a 30-byte image") << resultImage(30, 3) << 1 << "refused";
    QTest::newRow("no records") << resultImage(47, 0, 0) << 0 << "47";
    QTest::newRow("no records, 30 only") << resultImage(30, 0) << 2 << "30";
    QTest::newRow("counts past the file") << Image{0xFF, 0xFF, 0, 0} << 0 << "refused";
    QTest::newRow("cut inside the first record") << cut(resultImage(47, 2, 1), 48) << 0 << "refused";
}

void StrengthTest::layoutOfAmbiguousImages()
{
    QFETCH(Image, file);
    QFETCH(int, candidates);
    QFETCH(QString, layout);
    QCOMPARE(layoutOf(file, candidates), layout);
}

void StrengthTest::layoutOverCounts()
{
    // Every small count of both sections, for both basic lengths and the
    // 30-byte layout: a file of just the records reads as its own layout
    // (without basic records the lengths read alike, and without any record
    // every layout writes nothing); the same records in a zero-filled image
    // read as their own layout or are refused, never as another.
    for (int L : {47, 46, 30})
        for (int basic = 0; basic <= (L == 30 ? 8 : 4); ++basic)
            for (int individual = 0; individual <= (L == 30 ? 0 : 4); ++individual) {
                const Image img = resultImage(L, basic, individual);
                const QString own = QString::number(L);
                const QString exact = layoutOf(img), inImage = layoutOf(padded(img));
                const QString what = QStringLiteral("L %1, %2 + %3: ").arg(L).arg(basic).arg(individual);
                const bool alike = basic == 0 && (L == 46 || individual == 0);
                QVERIFY2(exact == own || (alike && exact == "47"), qPrintable(what + exact));
                QVERIFY2(inImage == own || inImage == "refused" || (alike && inImage == "47"),
                         qPrintable(what + inImage));
            }
}

void StrengthTest::layoutOfCutImages()
{
    // A file that ends anywhere reads as its own layout (whose records that
    // the file holds whole are then decoded) or is refused.  One basic
    // 47-byte record and a count cut one byte short is itself a whole
    // 46-byte image, and is left out.
    for (int L : {47, 46, 30})
        for (int basic = 1; basic <= (L == 30 ? 6 : 4); ++basic)
            for (int individual = 0; individual <= (L == 30 ? 0 : 3); ++individual) {
                const Image img = resultImage(L, basic, individual);
                for (size_t n = 0; n < img.size(); ++n) {
                    if (L == 47 && basic == 1 && individual == 0 && n + 1 == img.size())
                        continue;
                    const QString got = layoutOf(cut(img, n));
                    QVERIFY2(got == QString::number(L) || got == "refused",
                             qPrintable(QStringLiteral("L %1, %2 + %3 cut at %4: %5")
                                            .arg(L).arg(basic).arg(individual).arg(n).arg(got)));
                }
                QCOMPARE(layoutOf(img), QString::number(L));
            }
}

void StrengthTest::skipsWhatIsStored()
{
    Db db;
    Image img;
    add16(img, 3);
    for (int k = 0; k < 3; ++k)
        rec47(img, 200 + k, 0, 100, 0, 1, 0, 0, 1, 0, {0, 0, 10 + k}, {15, 6, 12}, {250});
    add16(img, 2);
    for (int k = 0; k < 2; ++k)
        rec47(img, 300 + k, 0, 100, 1, 1, 0, 0, 1, 0, {0, 30, 10 + k}, {15, 6, 12}, {250});

    Messages m;
    flash2orl03(db.t, img, 70219, true, m.hooks());
    QCOMPARE(m.texts, QStringList({kBasic + "3", kIndividual + "2"}));
    // The same image again adds nothing.
    m.texts.clear();
    flash2orl03(db.t, img, 70219, true, m.hooks());
    QCOMPARE(m.texts, QStringList({kBasic + "0", kIndividual + "0"}));
    QCOMPARE(db.t.physicalCount(), 5u);

    // A database that holds the results up to the second basic one: the
    // third is appended with its own number.
    Db part;
    part.t.append();
    part.t.setInteger(u"MODE", 0);
    part.t.setString(u"DATE", QStringLiteral("15.06.2022"));
    part.t.setString(u"TIME", QStringLiteral("11:00:00"));
    part.t.post();
    m.texts.clear();
    flash2orl03(part.t, img, 70219, true, m.hooks());
    QCOMPARE(m.texts, QStringList({kBasic + "1", kIndividual + "2"}));
    const auto rows = part.rows(0);
    QCOMPARE(rows.size(), size_t(2));
    QCOMPARE(part.d(rows[1], "N"), 3.0);
    QCOMPARE(part.d(rows[1], "R"), 20.2);
}

void StrengthTest::countsPastTheImage()
{
    // Five basic records announced, four fit; the individual count lies
    // past the end.
    Db db;
    Image img;
    add16(img, 5);
    for (int k = 0; k < 4; ++k)
        rec47(img, 200, 0, 100, 0, 1, 0, 0, 1, 0, {0, k, 10}, {15, 6, 12}, {250});
    add(img, {1, 2, 3});
    StrengthResult r = flash2orl03(db.t, img, 70219, false);
    QCOMPARE(r.basicRows, 4);
    QCOMPARE(r.individualRows, 0);
    QCOMPARE(r.skippedRecords, 1);

    // Three individual records announced, two fit.
    Db db2;
    Image img2;
    add16(img2, 0);
    add16(img2, 3);
    for (int k = 0; k < 2; ++k)
        rec47(img2, 200, 0, 100, 0, 1, 0, 0, 1, 0, {0, k, 10}, {15, 6, 12}, {250});
    add(img2, {9, 9, 9, 9, 9});
    r = flash2orl03(db2.t, img2, 70219, false);
    QCOMPARE(r.individualRows, 2);
    QCOMPARE(r.skippedRecords, 1);
}

// ---------------------------------------------------------------------------
// 30-byte records


void StrengthTest::flags30_data()
{
    QTest::addColumn<int>("flags");
    QTest::addColumn<QString>("article");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("dir");
    QTest::newRow("0x94") << 0x94 << "Basic" << 0 << "в";
    QTest::newRow("0x00") << 0x00 << "9" << 1 << "б";
    QTest::newRow("0xF7") << 0xF7 << "" << 1 << "";
    QTest::newRow("0x81") << 0x81 << "1" << 1 << "д";
    QTest::newRow("0x13") << 0x13 << "8" << 1 << "ж";
    QTest::newRow("0xA2") << 0xA2 << "" << 1 << "а";
    QTest::newRow("0x45") << 0x45 << "5" << 1 << "";
}

void StrengthTest::flags30()
{
    QFETCH(int, flags);
    QFETCH(QString, article);
    QFETCH(int, mode);
    QFETCH(QString, dir);
    Db db;
    Image img;
    add16(img, 1);
    add16(img, 0xBEEF);  // not read
    rec30(img, {1000}, flags, 95, 2534, {9, 5, 14}, {9, 5});
    flash2orl02(db.t, img, false);
    const auto rows = db.rows(mode);
    QCOMPARE(rows.size(), size_t(1));
    QCOMPARE(db.s(rows[0], "ARTICLE"), article);
    QCOMPARE(db.s(rows[0], "DIR"), dir);
    QCOMPARE(db.d(rows[0], "R"), 25.34);
    QCOMPARE(db.d(rows[0], "K_C"), 0.95);
    QCOMPARE(db.s(rows[0], "DATE"), QStringLiteral("09.05.2024"));
    QCOMPARE(db.s(rows[0], "TIME"), QStringLiteral("09:05"));
    QCOMPARE(db.d(rows[0], "TYPE"), 2.0);
    QCOMPARE(db.d(rows[0], "N"), 1.0);
    QCOMPARE(db.s(rows[0], "B_135"), QString());
}

void StrengthTest::readings30ClearFlagInImage()
{
    Db db;
    Image img;
    add16(img, 1);
    add16(img, 0);
    rec30(img, {0x8064, 0x8000, 0, 0x0096, 0, 0, 0, 0, 0, 0x8001}, 0x94, 100, 100, {1, 1, 1}, {0, 0});
    flash2orl02(db.t, img, false);
    const auto rows = db.rows(0);
    QCOMPARE(rows.size(), size_t(1));
    const uint32_t r = rows[0];
    QCOMPARE(db.d(r, "M1"), 1.0);
    QVERIFY(db.null(r, "M2"));
    QVERIFY(db.null(r, "M3"));
    QCOMPARE(db.d(r, "M4"), 1.5);
    QCOMPARE(db.d(r, "M10"), 0.01);
    QCOMPARE(db.d(r, "COUNT"), 3.0);
    // The image holds the words without their flag bit.
    QCOMPARE(img[4], uint8_t(0x64));
    QCOMPARE(img[5], uint8_t(0x00));
    QCOMPARE(img[6], uint8_t(0x00));
    QCOMPARE(img[7], uint8_t(0x00));
    QCOMPARE(img[4 + 18 + 1], uint8_t(0x00));
    QCOMPARE(img[4 + 20], uint8_t(0x94));  // the flags byte is untouched
}

void StrengthTest::empty30AndTwice()
{
    Db db;
    Image none;
    add(none, {0, 0, 0, 0});
    Messages m;
    flash2orl02(db.t, none, true, m.hooks());
    QCOMPARE(m.texts, QStringList({kBasic + "0"}));

    // Basic, individual, basic, individual in time order: all four counted
    // in the one message; the same image again adds nothing, although it
    // ends with an individual result.
    Image img;
    add16(img, 4);
    add16(img, 0);
    rec30(img, {100}, 0x94, 100, 100, {2, 2, 20}, {8, 0});
    rec30(img, {100}, 0x84, 100, 100, {2, 2, 20}, {8, 1});
    rec30(img, {100}, 0x94, 100, 100, {2, 2, 20}, {8, 2});
    rec30(img, {100}, 0x04, 100, 100, {2, 2, 20}, {8, 3});
    db.t.setFilter(QStringLiteral("MODE=0"));
    db.t.setFiltered(true);
    m.texts.clear();
    flash2orl02(db.t, img, true, m.hooks());
    QCOMPARE(m.texts, QStringList({kBasic + "4"}));
    QCOMPARE(db.t.physicalCount(), 4u);
    QCOMPARE(db.t.filter(), QStringLiteral("MODE=0"));
    QCOMPARE(db.t.recordCount(), 2);
    m.texts.clear();
    flash2orl02(db.t, img, true, m.hooks());
    QCOMPARE(m.texts, QStringList({kBasic + "0"}));
    QCOMPARE(db.t.physicalCount(), 4u);

    // Counts past the image stop at its end.
    Db db2;
    Image cut(img.begin(), img.end() - 10);
    const StrengthResult r = flash2orl02(db2.t, cut, false);
    QCOMPARE(r.basicRows, 3);
    QCOMPARE(r.skippedRecords, 1);
}

QTEST_MAIN(StrengthTest)
#include "test_strength.moc"
