// S and V arithmetic, input checks and result texts, called directly.
#include <QtTest>
#include <cmath>

#include "stats/sv_stats.h"

using stats::Check;

class SvStatsTest : public QObject {
    Q_OBJECT
private slots:
    void workedExamples();
    void sectionSpreadTerm();
    void constructionDivisorIsLastGroup();
    void zeroMeanHasNoVariation();
    void rCheck_data();
    void rCheck();
    void stCheckManual_data();
    void stCheckManual();
    void stCheckAutomatic();
    void texts();
};

// The three examples with their printed digits.
void SvStatsTest::workedExamples()
{
    const std::vector<double> section{20, 22, 24, 26};

    const auto a = stats::calc_uch(section, 0, 0.7);
    QVERIFY(std::abs(a.sm - 3.26834) < 1e-5);
    QVERIFY(std::abs(a.vm - 14.2102) < 1e-4);
    QCOMPARE(stats::smText(a.sm), QStringLiteral("=3,27 МПа"));
    QCOMPARE(stats::vmText(a.vm), QStringLiteral("=14,2%"));

    const auto b = stats::calc_uch(section, 1.2, 0.8);
    QVERIFY(std::abs(b.sm - 3.46743) < 1e-5);
    QVERIFY(std::abs(b.vm - 15.0758) < 1e-4);
    QCOMPARE(stats::smText(b.sm), QStringLiteral("=3,47 МПа"));
    QCOMPARE(stats::vmText(b.vm), QStringLiteral("=15,1%"));

    // Means 20, 22, 24, 26; the last group holds five records.
    const std::vector<std::vector<double>> construction{
        {19, 21, 20, 20}, {22, 22, 22, 22}, {23, 25, 24, 24, 24, 24}, {26, 25, 27, 26, 26}};
    const auto c = stats::calc_const(construction, 1.5);
    QVERIFY(std::abs(c.sm - 2.66771) < 1e-5);
    QVERIFY(std::abs(c.vm - 11.5987) < 1e-4);
    QCOMPARE(stats::smText(c.sm), QStringLiteral("=2,67 МПа"));
    QCOMPARE(stats::vmText(c.vm), QStringLiteral("=11,6%"));
}

// Sт enters the section result divided by n - 1, outside the root, unsquared.
void SvStatsTest::sectionSpreadTerm()
{
    const auto flat = stats::calc_uch({10, 10, 10, 10, 10, 10, 10}, 3, 0.7);
    QVERIFY(std::abs(flat.sm - (3.0 / 6) / 0.79) < 1e-12);
    // Only the spread and Sт move it: the level of the values does not.
    const auto low = stats::calc_uch({1, 2, 3, 4}, 2, 1);
    const auto high = stats::calc_uch({101, 102, 103, 104}, 2, 1);
    QVERIFY(std::abs(low.sm - high.sm) < 1e-9);
    QVERIFY(std::abs(low.sm - (std::sqrt(5.0 / 3) + 2.0 / 3)) < 1e-12);
}

void SvStatsTest::constructionDivisorIsLastGroup()
{
    // The same four means; only the size of the last group changes Sm.
    std::vector<std::vector<double>> g{{10, 10, 10, 10}, {12, 12, 12, 12}, {14, 14, 14, 14}, {16, 16, 16, 16}};
    const double d = 20.0 / 3;
    QVERIFY(std::abs(stats::calc_const(g, 2).sm - std::sqrt(d + 4.0 / 4)) < 1e-12);
    g.back() = {16, 16, 16, 16, 16, 16, 16, 16};
    QVERIFY(std::abs(stats::calc_const(g, 2).sm - std::sqrt(d + 4.0 / 8)) < 1e-12);
    // A large first group does not enter the divisor.
    g.front() = {10, 10};
    QVERIFY(std::abs(stats::calc_const(g, 2).sm - std::sqrt(d + 4.0 / 8)) < 1e-12);
    // Each group weighs the same, whatever its size: the mean is 13, not 15.
    const auto w = stats::calc_const({{10}, {16, 16, 16, 16, 16, 16, 16, 16, 16}}, 0);
    QVERIFY(std::abs(w.vm - std::sqrt(18.0) * 100 / 13) < 1e-9);
}

void SvStatsTest::zeroMeanHasNoVariation()
{
    const auto s = stats::calc_uch({0, 0, 0, 0}, 1.5, 0.7);
    QCOMPARE(stats::smText(s.sm), QStringLiteral("=0,63 МПа"));
    QCOMPARE(stats::vmText(s.vm), QStringLiteral("="));
    const auto c = stats::calc_const({{0, 0, 0, 0}, {1, 1, 1, 1}, {-1, -1, -1, -1}, {0, 0, 0, 0}}, 0);
    QVERIFY(std::isfinite(c.sm));
    QCOMPARE(stats::vmText(c.vm), QStringLiteral("="));
    // Too few values for a spread: nothing to show.
    QCOMPARE(stats::smText(stats::calc_uch({5}, 0, 0.7).sm), QStringLiteral("="));
}

void SvStatsTest::rCheck_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("message");
    const QString range = QStringLiteral("Вне диапазона (не менее 0.7) !");
    const QString format = QStringLiteral("Неверный формат данных!");
    QTest::newRow("0,69 passes") << "0,69" << true << 0.69 << QString();
    QTest::newRow("0,7") << "0,7" << true << 0.7 << QString();
    QTest::newRow("blanks around") << " 0,85 " << true << 0.85 << QString();
    QTest::newRow("large") << "5" << true << 5.0 << QString();
    QTest::newRow("0,68") << "0,68" << false << 0.68 << range;
    QTest::newRow("negative") << "-1" << false << -1.0 << range;
    QTest::newRow("letters keep previous") << "abc" << false << 0.9 << format;
    QTest::newRow("empty") << "" << false << 0.9 << format;
    QTest::newRow("point is not the separator") << "0.8" << false << 0.9 << format;
    QTest::newRow("infinity") << "inf" << false << 0.9 << format;
    QTest::newRow("nan") << "nan" << false << 0.9 << format;
}

void SvStatsTest::rCheck()
{
    QFETCH(QString, text);
    QFETCH(bool, accepted);
    QFETCH(double, value);
    QFETCH(QString, message);
    const Check c = stats::check_kp(true, text, 0.9);
    QCOMPARE(c.accepted, accepted);
    QCOMPARE(c.value, value);
    QCOMPARE(c.message, message);
    // Without manual entry the text is not read: 0.7 whatever it holds.
    const Check off = stats::check_kp(false, text, 0.9);
    QVERIFY(off.accepted);
    QCOMPARE(off.value, 0.7);
    QVERIFY(off.message.isEmpty());
}

void SvStatsTest::stCheckManual_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("message");
    const QString range = QStringLiteral("Вне диапазона (от 0 до 100 МПа) !");
    const QString format = QStringLiteral("Неверный формат данных!");
    QTest::newRow("0") << "0" << true << 0.0 << QString();
    QTest::newRow("0,00") << "0,00" << true << 0.0 << QString();
    QTest::newRow("100") << "100" << true << 100.0 << QString();
    QTest::newRow("12,5") << "12,5" << true << 12.5 << QString();
    QTest::newRow("100,01") << "100,01" << false << 100.01 << range;
    QTest::newRow("-0,01") << "-0,01" << false << -0.01 << range;
    QTest::newRow("abc") << "abc" << false << 7.0 << format;
    QTest::newRow("thousands") << "1 000" << false << 7.0 << format;
}

void SvStatsTest::stCheckManual()
{
    QFETCH(QString, text);
    QFETCH(bool, accepted);
    QFETCH(double, value);
    QFETCH(QString, message);
    for (bool operative : {false, true}) {
        const Check c = stats::check_st(true, operative, text, 7);
        QCOMPARE(c.accepted, accepted);
        QCOMPARE(c.value, value);
        QCOMPARE(c.message, message);
    }
}

// Without manual entry the computation always goes on: a bad text still gets
// its message, with the previous value (0 under the operative filter), and an
// out-of-range value is used as it stands.
void SvStatsTest::stCheckAutomatic()
{
    Check c = stats::check_st(false, false, QStringLiteral("abc"), 7);
    QVERIFY(c.accepted);
    QCOMPARE(c.value, 7.0);
    QCOMPARE(c.message, QStringLiteral("Неверный формат данных!"));
    c = stats::check_st(false, true, QStringLiteral("abc"), 7);
    QVERIFY(c.accepted);
    QCOMPARE(c.value, 0.0);
    c = stats::check_st(false, true, QStringLiteral("2,5"), 7);
    QVERIFY(c.accepted);
    QCOMPARE(c.value, 2.5);
    QVERIFY(c.message.isEmpty());
    c = stats::check_st(false, false, QStringLiteral("150"), 7);
    QVERIFY(c.accepted);
    QCOMPARE(c.value, 150.0);
    QCOMPARE(c.message, QStringLiteral("Вне диапазона (от 0 до 100 МПа) !"));
}

void SvStatsTest::texts()
{
    QCOMPARE(stats::smText(0), QStringLiteral("=0,00 МПа"));
    QCOMPARE(stats::smText(1234.567), QStringLiteral("=1234,57 МПа"));
    QCOMPARE(stats::vmText(5), QStringLiteral("=5,0%"));
    QCOMPARE(stats::vmText(-2.26), QStringLiteral("=-2,3%"));
    QCOMPARE(stats::smText(std::nan("")), QStringLiteral("="));
    QCOMPARE(stats::vmText(INFINITY), QStringLiteral("="));
    QCOMPARE(stats::decimalText(1.5), QStringLiteral("1,5"));
    QCOMPARE(stats::decimalText(0), QStringLiteral("0"));
    QCOMPARE(stats::decimalText(12.25), QStringLiteral("12,25"));
    QCOMPARE(stats::decimalText(2000), QStringLiteral("2000"));
}

QTEST_GUILESS_MAIN(SvStatsTest)
#include "test_sv_stats.moc"
