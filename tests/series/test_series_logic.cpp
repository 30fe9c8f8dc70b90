// Window-free rules of the series views: number and date texts, picker
// contents, reading a series in stored order, the note rule.

#include <QTemporaryDir>
#include <QtTest>

#include "ground/app_locale.h"
#include "test_series_data.h"
#include "series/series_logic.h"

using namespace seriestest;

class TestSeriesLogic : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QString path_;
    dbf::Table table_;

    void openStandard()
    {
        table_.close();
        path_ = dir_.filePath(QStringLiteral("series.db"));
        writeTable(path_, standardRows());
        table_.setFileName(path_);
        table_.open();
    }

private slots:
    void init() { openStandard(); }
    void cleanup() { table_.close(); }

    void numberTexts_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("fraction") << 0.7 << "0,7";
        QTest::newRow("whole") << 12.0 << "12";
        QTest::newRow("zero") << 0.0 << "0";
        QTest::newRow("negative zero") << -0.0 << "0";
        QTest::newRow("negative") << -3.25 << "-3,25";
        QTest::newRow("two decimals") << 7.46 << "7,46";
        QTest::newRow("million stays plain") << 1000000.0 << "1000000";
        QTest::newRow("large count") << 150000.0 << "150000";
        QTest::newRow("no group separator") << 12345.5 << "12345,5";
    }
    void numberTexts()
    {
        QFETCH(double, value);
        QFETCH(QString, text);
        QCOMPARE(series::numberText(value), text);
        // What the list shows reads back as the same number.
        QCOMPARE(series::parseNumber(text).value(), value);
    }

    void numberParsing()
    {
        QCOMPARE(series::parseNumber(QStringLiteral("0,7")).value(), 0.7);
        QCOMPARE(series::parseNumber(QStringLiteral("0.7")).value(), 0.7);
        QCOMPARE(series::parseNumber(QStringLiteral(" -2 ")).value(), -2.0);
        QVERIFY(!series::parseNumber(QString()).has_value());
        QVERIFY(!series::parseNumber(QStringLiteral("Прогиб")).has_value());
        QVERIFY(!series::parseNumber(QStringLiteral("1,2,3")).has_value());
        QCOMPARE(series::wholeNumberOf(QStringLiteral("12")), 12);
        QCOMPARE(series::wholeNumberOf(QStringLiteral("3,5")), 3);
        QCOMPARE(series::wholeNumberOf(QStringLiteral("№")), 0);
    }

    void numberFieldTexts()
    {
        // Record 9 has a blank M1 and M2 = 5; record 2 has M2 = 2,6.
        const int m1 = table_.fieldIndex(u"M1"), m2 = table_.fieldIndex(u"M2");
        QCOMPARE(series::numberFieldText(table_, 9, m1), QString());
        QCOMPARE(series::numberFieldText(table_, 9, m2), QStringLiteral("5"));
        QCOMPARE(series::numberFieldText(table_, 2, m2), QStringLiteral("2,6"));
        QCOMPARE(series::numberFieldText(table_, 2, -1), QString());
    }

    void dateTimes_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QDateTime>("expected");  // invalid: the text is rejected
        const auto utc = [](int y, int mo, int d, int h, int mi, int s) {
            return QDateTime(QDate(y, mo, d), QTime(h, mi, s), Qt::UTC);
        };
        QTest::newRow("full") << "02.03.2015 16:00:00" << utc(2015, 3, 2, 16, 0, 0);
        QTest::newRow("date only is midnight") << "02.03.2015" << utc(2015, 3, 2, 0, 0, 0);
        QTest::newRow("no seconds") << "02.03.2015 16:05" << utc(2015, 3, 2, 16, 5, 0);
        QTest::newRow("short day and hour") << "2.3.2015 9:07:05" << utc(2015, 3, 2, 9, 7, 5);
        QTest::newRow("padded by the field") << " 31.12.2265 23:59:59 " << utc(2265, 12, 31, 23, 59, 59);
        QTest::newRow("fallback date") << "01.01.2010 00:00:00" << utc(2010, 1, 1, 0, 0, 0);
        QTest::newRow("no such day") << "31.02.2015 10:00:00" << QDateTime();
        QTest::newRow("hour 24") << "02.03.2015 24:00:00" << QDateTime();
        QTest::newRow("two-digit year") << "02.03.15 10:00:00" << QDateTime();
        QTest::newRow("trailing text") << "02.03.2015 10:00:00x" << QDateTime();
        QTest::newRow("joined") << "02.03.201510:00:00" << QDateTime();
        QTest::newRow("title") << "Дата" << QDateTime();
        QTest::newRow("empty") << "" << QDateTime();
    }
    void dateTimes()
    {
        QFETCH(QString, text);
        QFETCH(QDateTime, expected);
        const auto got = series::parsePointDateTime(text);
        QCOMPARE(got.has_value(), expected.isValid());
        if (got) {
            QCOMPARE(*got, expected);
            QCOMPARE(got->timeSpec(), Qt::UTC);
        }
    }

    void chartKeysAreUtcSeconds()
    {
        // 02.03.2015 16:00:00 is 1425312000 s after the epoch in UTC, on any
        // machine whatever its time zone.
        QCOMPARE(series::pointKey(QStringLiteral("02.03.2015 16:00:00")).value(), 1425312000.0);
        QCOMPARE(series::pointKey(QStringLiteral("02.03.2015 16:00:01")).value(), 1425312001.0);
        QVERIFY(!series::pointKey(QStringLiteral("xx")).has_value());
    }

    void pickerOrdinalsInStoredOrder()
    {
        QCOMPARE(series::seriesOrdinalTexts(table_, 1), (QStringList{"1", "2", "3"}));
        QCOMPARE(series::seriesOrdinalTexts(table_, 2), (QStringList{"1", "2"}));
        QCOMPARE(series::seriesOrdinalTexts(table_, 5), QStringList());

        // An appended download starts its ordinals at 1 again: every change
        // of TYPE adds an entry, repeats included.  Deleted records do not count.
        appendRows(table_, {{1, 1, 20, 1, 2, 3, QStringLiteral("07.03.2015"), QStringLiteral("10:00:00"),
                             QStringLiteral("07.03.2015 10:00:00"), {}},
                            {1, 4, 21, 1, 2, 3, QStringLiteral("07.03.2015"), QStringLiteral("10:00:00"),
                             QStringLiteral("07.03.2015 10:00:00"), {}}});
        QCOMPARE(series::seriesOrdinalTexts(table_, 1), (QStringList{"1", "2", "3", "1", "4"}));
        table_.setDeleted(12, true);  // waiting series 3
        table_.setDeleted(13, true);  // the appended series 1
        QCOMPARE(series::seriesOrdinalTexts(table_, 1), (QStringList{"1", "2", "4"}));

        // The filter and the sort of the table play no part.
        table_.setFilter(QStringLiteral("MODE=0"));
        table_.setFiltered(true);
        table_.refresh();
        QCOMPARE(series::seriesOrdinalTexts(table_, 2), (QStringList{"1", "2"}));

        dbf::Table closed;
        QCOMPARE(series::seriesOrdinalTexts(closed, 1), QStringList());
    }

    void storedOrderWhateverTheSort()
    {
        table_.setFilter(QStringLiteral("MODE=1 AND TYPE=1"));
        table_.setFiltered(true);
        table_.createIndexTag(QStringLiteral("tab1"), u"R", true);
        table_.selectIndex(QStringLiteral("tab1"));
        table_.refresh();
        QCOMPARE(table_.recordCount(), 3);
        QCOMPARE(table_.physicalRecNoAt(0), 3u);  // largest R first in the sorted view
        const auto recs = series::viewRecordsInStoredOrder(table_);
        QCOMPARE(recs, (std::vector<uint32_t>{2, 3, 4}));
    }

    void firstRecordOfSeries()
    {
        QCOMPARE(series::firstRecordOf(table_, 1, 1).value(), 2u);
        QCOMPARE(series::firstRecordOf(table_, 1, 2).value(), 9u);
        QCOMPARE(series::firstRecordOf(table_, 2, 1).value(), 5u);
        QCOMPARE(series::firstRecordOf(table_, 2, 2).value(), 11u);
        QVERIFY(!series::firstRecordOf(table_, 1, 9).has_value());
        // A deleted first record hands the series to its next record.
        table_.setDeleted(2, true);
        QCOMPARE(series::firstRecordOf(table_, 1, 1).value(), 3u);
    }

    void waitingSeriesRead()
    {
        const auto s = series::readWaitingSeries(table_, {2, 3, 4});
        QCOMPARE(s.count, 3);
        QCOMPARE(s.duration, QStringLiteral("24час."));
        QCOMPARE(s.threshold, QStringLiteral("2,6мм."));
        QCOMPARE(s.start, QStringLiteral("01.03.2015 10:00:00"));
        QCOMPARE(s.thresholdValue, 3);
        QCOMPARE(s.firstRecord, 2u);
        QCOMPARE(s.comment, QString());
        QCOMPARE(s.dates, (QStringList{"Дата", "01.03.2015 10:00:00", "01.03.2015 10:30:00", "01.03.2015 11:00:00"}));
        QCOMPARE(s.values, (QStringList{"Прогиб", "0,5", "1,25", "-3"}));
        const double k0 = QDateTime(QDate(2015, 3, 1), QTime(10, 0), Qt::UTC).toSecsSinceEpoch();
        QCOMPARE(s.keys, (QVector<double>{k0, k0 + 1800, k0 + 3600}));
        QCOMPARE(s.deflections, (QVector<double>{0.5, 1.25, -3}));
        QVERIFY(s.hasLineKeys);
        QCOMPARE(s.firstKey, k0);
        QCOMPARE(s.lastKey, k0 + 3600);
        QVERIFY(s.badDates.isEmpty());
    }

    void waitingSeriesEdgeCases()
    {
        // Blank M1: the unit alone; the note comes from the first record.
        const auto two = series::readWaitingSeries(table_, {9, 10});
        QCOMPARE(two.duration, QStringLiteral("час."));
        QCOMPARE(two.threshold, QStringLiteral("5мм."));
        QCOMPARE(two.comment, QStringLiteral("Первая серия утром"));

        // One record: the lines start and end at the same time.
        const auto one = series::readWaitingSeries(table_, {12});
        QCOMPARE(one.count, 1);
        QCOMPARE(one.firstKey, one.lastKey);
        QCOMPARE(one.thresholdValue, 0);
        QCOMPARE(one.dates.size(), 2);

        // No records: only the title row.
        const auto none = series::readWaitingSeries(table_, {});
        QCOMPARE(none.count, 0);
        QCOMPARE(none.dates, QStringList{"Дата"});
        QCOMPARE(none.values, QStringList{"Прогиб"});
        QVERIFY(none.keys.isEmpty());
        QVERIFY(!none.hasLineKeys);

        // A date that cannot be read keeps its list row but gets no bar.
        appendRows(table_, {{1, 5, 1, 2.5, 1, 2.5, QStringLiteral("01.01.2010"), QStringLiteral("00:00:00"),
                             QStringLiteral("31.02.2015 10:00:00"), {}},
                            {1, 5, 1, 3.5, {}, {}, QStringLiteral("01.01.2010"), QStringLiteral("00:00:00"),
                             QStringLiteral("01.03.2015 10:00:00"), {}}});
        const auto bad = series::readWaitingSeries(table_, {13, 14});
        QCOMPARE(bad.count, 2);
        QCOMPARE(bad.dates.size(), 3);
        QCOMPARE(bad.keys.size(), 1);
        QCOMPARE(bad.badDates, QStringList{"31.02.2015 10:00:00"});
        QCOMPARE(bad.firstKey, bad.lastKey);
        QCOMPARE(bad.thresholdValue, 2);  // 2,5 rounds to the even 2
    }

    void observationSeriesRead()
    {
        const auto s = series::readObservationSeries(table_, {5, 6, 7, 8});
        QCOMPARE(s.count, 4);
        QCOMPARE(s.duration, QStringLiteral("30час."));
        QCOMPARE(s.interval, QStringLiteral("15мин."));
        QCOMPARE(s.start, QStringLiteral("01.03.2015 10:00:00"));
        QCOMPARE(s.end, QStringLiteral("02.03.2015 16:00:00"));
        QCOMPARE(s.numbers, (QStringList{"№", "1", "2", "3", "4"}));
        QCOMPARE(s.values, (QStringList{"Прогиб", "0,7", "1", "1,5", "2"}));
        QCOMPARE(s.keys, (QVector<double>{1, 2, 3, 4}));
        QCOMPARE(s.sliderMin, 1);
        QCOMPARE(s.sliderMax, 4);
        QCOMPARE(s.tickFrequency.value(), 1);

        const auto one = series::readObservationSeries(table_, {11});
        QCOMPARE(one.end, QStringLiteral("05.03.2015"));
        QCOMPARE(one.sliderMin, 1);
        QCOMPARE(one.sliderMax, 1);
        QVERIFY(!one.tickFrequency.has_value());

        const auto none = series::readObservationSeries(table_, {});
        QCOMPARE(none.count, 0);
        QCOMPARE(none.numbers, QStringList{"№"});
    }

    void noteRule()
    {
        const QString prefix = series::notePrefix();
        QCOMPARE(prefix, QStringLiteral("Примечание: "));
        QCOMPARE(prefix.size(), 12);
        QVERIFY(!series::noteShouldBeStored(prefix, QString()));
        QVERIFY(series::noteShouldBeStored(prefix + QLatin1Char('a'), QString()));
        QVERIFY(!series::noteShouldBeStored(prefix + QLatin1Char('a'), prefix + QLatin1Char('a')));
        QVERIFY(!series::noteShouldBeStored(QStringLiteral("коротко"), QString()));
    }

    void chartGeometry()
    {
        QCOMPARE(series::barWidth({}), 9.0);
        QCOMPARE(series::barWidth({100}), 9.0);
        QCOMPARE(series::barWidth({0, 600, 1200}), 90.0);
        QCOMPARE(series::barWidth({5, 5}), 9.0);
        const auto [lo, hi] = series::paddedRange(0, 10, 0.1, 1);
        QCOMPARE(lo, -1.0);
        QCOMPARE(hi, 11.0);
        const auto [lo1, hi1] = series::paddedRange(4, 4, 0.1, 1);
        QCOMPARE(lo1, 3.0);
        QCOMPARE(hi1, 5.0);
    }
};

int main(int argc, char** argv)
{
    installAppLocale();
    QCoreApplication app(argc, argv);
    TestSeriesLogic t;
    return QTest::qExec(&t, argc, argv);
}

#include "test_series_logic.moc"
