// The receiver against a simulated instrument behind an in-memory port.
// Frames are written out byte for byte here rather than taken from the code
// under test, so a wrong constant there shows up.

#include "fake_link.h"

#include <QTest>
#include <cstring>

using device::Outcome;
using device::Text;

namespace {

QByteArray bytes(std::initializer_list<int> b)
{
    QByteArray out;
    for (int v : b)
        out.append(char(v));
    return out;
}

const QByteArray I = bytes({0xA4, 0xA4, 0x04, 0x00, 0x02, 0x9A, 0x6B, 0x50});

QByteArray B(int archive, int first, int count)
{
    return bytes({0xA4, 0xA4, 0x08, 0x00, 0x03, archive, first & 0xFF, first >> 8, count, 0x9A, 0x6B, 0x50});
}

QByteArray S(int archive, uint32_t start, int count)
{
    return bytes({0xA4, 0xA4, 0x0A, 0x00, 0x04, archive, int(start & 0xFF), int((start >> 8) & 0xFF),
                  int((start >> 16) & 0xFF), int(start >> 24), count, 0x9A, 0x6B, 0x50});
}

sim::Archives scenario(std::array<int, 3> records, QList<int> waiting = {}, QList<int> observation = {},
                       uint32_t seed = 7)
{
    sim::ScenarioOptions o;
    o.seed = seed;
    o.records = records;
    o.pointsWaiting = waiting;
    o.pointsObservation = observation;
    return sim::makeScenario(o);
}

// Everything a download writes, the receive buffer aside.
bool sameImage(const device::MemoryImage& a, const device::MemoryImage& b, QString* where = nullptr)
{
    auto eq = [](std::span<const uint8_t> x, std::span<const uint8_t> y) {
        return x.size() == y.size() && std::memcmp(x.data(), y.data(), x.size()) == 0;
    };
    const struct {
        const char* name;
        bool same;
    } parts[] = {
        {"archive 0", eq(a.archive(0), b.archive(0))},
        {"archive 1", eq(a.archive(1), b.archive(1))},
        {"archive 2", eq(a.archive(2), b.archive(2))},
        {"series 1", eq(a.series(1), b.series(1))},
        {"series 2", eq(a.series(2), b.series(2))},
        {"SeriesStart 1", eq(a.seriesStartTable(1), b.seriesStartTable(1))},
        {"SeriesStart 2", eq(a.seriesStartTable(2), b.seriesStartTable(2))},
        {"PointCount 1", eq(a.pointCountTable(1), b.pointCountTable(1))},
        {"PointCount 2", eq(a.pointCountTable(2), b.pointCountTable(2))},
    };
    for (const auto& p : parts)
        if (!p.same) {
            if (where)
                *where = QString::fromLatin1(p.name);
            return false;
        }
    return true;
}

bool matchesArchives(const FakeLink& link, const sim::Archives& archives, QString* where = nullptr)
{
    auto expected = std::make_unique<device::MemoryImage>();
    sim::fillExpectedImage(archives, *expected);
    return sameImage(*link.image, *expected, where);
}

}  // namespace

class TestReceiver : public QObject {
    Q_OBJECT
private slots:
    void requestSequences_data();
    void requestSequences();
    void identificationAndHeaderTexts();
    void identificationFollowsEveryReply();
    void seriesRunsAndBufferGrowth();
    void chunkingGivesSameDownload_data();
    void chunkingGivesSameDownload();
    void unsolicitedRepliesSkipNothing();
    void blockWithoutRequestIsNotStored();
    void startMarkerSplitAcrossChunks();
    void oversizedHeaderCancels_data();
    void oversizedHeaderCancels();
    void tooManyPointsCancels();
    void overlongReplyNeverWritesOutside();
    void corruptReplyCancels();
    void truncatedReplyStallsUntilCancel();
    void emptySeriesInTheMiddleIsSkipped();
    void incompleteArchiveIsNamed();
    void resetClearsSeriesNotArchives();
};

void TestReceiver::requestSequences_data()
{
    QTest::addColumn<QList<int>>("records");
    QTest::addColumn<QList<QByteArray>>("expected");

    // Identification (Com_Connect), identification after the identification
    // reply, identification after the header, then the blocks.
    QTest::newRow("all counts 0 complete at once") << QList<int>{0, 0, 0} << QList<QByteArray>{I, I, I};
    QTest::newRow("count 16: full block, then an empty last block")
        << QList<int>{16, 0, 0} << QList<QByteArray>{I, I, I, B(0, 0, 16), I, B(0, 16, 0), I};
    QTest::newRow("count 5: only the last block")
        << QList<int>{5, 0, 0} << QList<QByteArray>{I, I, I, B(0, 0, 5), I};
    QTest::newRow("count 37: two blocks and a last one of 5")
        << QList<int>{37, 0, 0} << QList<QByteArray>{I, I, I, B(0, 0, 16), I, B(0, 16, 16), I, B(0, 32, 5), I};
}

void TestReceiver::requestSequences()
{
    QFETCH(QList<int>, records);
    QFETCH(QList<QByteArray>, expected);
    const auto archives = scenario({records[0], records[1], records[2]});
    FakeLink link(archives);
    link.run();
    QCOMPARE(link.requests, expected);
    QCOMPARE(link.outcome, Outcome::Ok);
    QCOMPARE(link.finishedCalls, 1);
    QCOMPARE(int(link.state.archive[0].StoredBytes), 14 * records[0]);
    QCOMPARE(link.state.RecordCount(0), records[0]);
    QVERIFY(matchesArchives(link, archives));
    QCOMPARE(link.texts.value(Text::Archive0), QStringLiteral("Архив оперативный OK!!!"));
    QCOMPARE(link.texts.value(Text::Archive1), QStringLiteral("Архив ждущий OK!!!"));
    QCOMPARE(link.texts.value(Text::Archive2), QStringLiteral("Архив наблюдения OK!!!"));
    // ProgressBar1: maximum FullBlocks, standing full from the first request on.
    if (records[0] > 0) {
        QCOMPARE(link.barMax.value(0, -1), records[0] / 16);
        QCOMPARE(link.barPos.value(0, -1), records[0] / 16);
    }
}

void TestReceiver::identificationAndHeaderTexts()
{
    FakeLink link(scenario({120, 5, 3}, {1, 1, 1, 1, 1}, {1, 1, 1}));
    link.run();
    QCOMPARE(link.outcome, Outcome::Ok);
    QCOMPARE(link.texts.value(Text::DeviceType), QStringLiteral("ДОРК-5"));
    QVERIFY(link.texts.contains(Text::SoftwareVersion));
    QCOMPARE(link.texts.value(Text::SoftwareVersion), QString());
    QCOMPARE(link.texts.value(Text::RecordCounts), QStringLiteral("120/5/3"));
    QVERIFY(link.state.DeviceFound);
    QVERIFY(link.deviceAnswered > 0);
    QCOMPARE(link.barMax.value(1), 5);
    QCOMPARE(link.barMax.value(2), 3);
    QCOMPARE(link.barPos.value(1), 5);
    QCOMPARE(link.barPos.value(2), 3);
}

void TestReceiver::identificationFollowsEveryReply()
{
    FakeLink link(scenario({40, 3, 2}));
    link.run();
    QCOMPARE(link.outcome, Outcome::Ok);
    // Every reply is answered by an identification request first; a data
    // request never goes out without one just before it.
    QCOMPARE(link.requests.count(I), link.instrument.repliesSent() + 1);
    for (int i = 0; i < link.requests.size(); ++i)
        if (link.requests[i] != I)
            QCOMPARE(link.requests[i - 1], I);
    QCOMPARE(link.requests.last(), I);
}

void TestReceiver::seriesRunsAndBufferGrowth()
{
    {   // A waiting record with 70 points: runs of 32, 32 and 6; 700 bytes.
        const auto archives = scenario({0, 1, 0}, {70});
        const uint32_t a = archives.seriesAddress(1, 0);
        FakeLink link(archives);
        link.run();
        QCOMPARE(link.dataRequests(), (QList<QByteArray>{B(1, 0, 1), S(1, a, 32), S(1, a + 32, 32), S(1, a + 64, 6)}));
        QCOMPARE(link.state.archive[1].SeriesBytes, 700);
        QCOMPARE(link.image->pointCount(1, 0), 70u);
        QCOMPARE(link.image->seriesStart(1, 0), a);
        QCOMPARE(link.outcome, Outcome::Ok);
        QVERIFY(matchesArchives(link, archives));
    }
    {   // An observation record with 128 points: 64, 64 and a last run of 0.
        const auto archives = scenario({0, 0, 1}, {}, {128});
        const uint32_t a = archives.seriesAddress(2, 0);
        FakeLink link(archives);
        link.run();
        QCOMPARE(link.dataRequests(), (QList<QByteArray>{B(2, 0, 1), S(2, a, 64), S(2, a + 64, 64), S(2, a + 128, 0)}));
        QCOMPARE(link.state.archive[2].SeriesBytes, 512);
        QCOMPARE(link.outcome, Outcome::Ok);
    }
    {   // Archive 1 empty: after archive 0's last block comes archive 2's first block.
        const auto archives = scenario({3, 0, 2}, {}, {1, 1});
        FakeLink link(archives);
        link.run();
        const auto d = link.dataRequests();
        QVERIFY(d.size() >= 2);
        QCOMPARE(d[0], B(0, 0, 3));
        QCOMPARE(d[1], B(2, 0, 2));
        QCOMPARE(link.outcome, Outcome::Ok);
    }
}

void TestReceiver::chunkingGivesSameDownload_data()
{
    QTest::addColumn<uint32_t>("seed");
    for (uint32_t seed = 1; seed <= 25; ++seed)
        QTest::addRow("seed %u", seed) << seed;
}

void TestReceiver::chunkingGivesSameDownload()
{
    QFETCH(uint32_t, seed);
    std::mt19937 rng(seed);
    const std::array<int, 3> records = {int(rng() % 70), int(rng() % 6), int(rng() % 6)};
    QList<int> waiting, observation;
    for (int k = 0; k < records[1]; ++k)
        waiting << int(rng() % 5 == 0 ? 0 : rng() % 150);
    for (int k = 0; k < records[2]; ++k)
        observation << int(rng() % 5 == 0 ? 0 : rng() % 300);
    const auto archives = scenario(records, waiting, observation, seed);

    FakeLink whole(archives);
    whole.run(Chunking::Whole);
    QCOMPARE(whole.outcome, Outcome::Ok);
    QString where;
    QVERIFY2(matchesArchives(whole, archives, &where), qPrintable(where));

    for (Chunking mode : {Chunking::Random, Chunking::Bytes}) {
        FakeLink cut(archives);
        cut.run(mode, seed);
        QCOMPARE(cut.outcome, Outcome::Ok);
        QCOMPARE(cut.requests, whole.requests);
        QVERIFY2(sameImage(*cut.image, *whole.image, &where), qPrintable(where));
    }
    // An instrument that also answers the repeated identification requests:
    // each data reply then comes joined to an identification reply, and cut
    // anywhere.  The same blocks and runs must be asked for and stored.
    sim::Faults join;
    join.join = true;
    for (Chunking mode : {Chunking::AllQueued, Chunking::Random}) {
        FakeLink joined(archives, join);
        joined.run(mode, seed + 100);
        QCOMPARE(joined.outcome, Outcome::Ok);
        QCOMPARE(joined.dataRequests(), whole.dataRequests());
        QVERIFY2(sameImage(*joined.image, *whole.image, &where), qPrintable(where));
    }
}

void TestReceiver::unsolicitedRepliesSkipNothing()
{
    // An identification reply arrives while a block is awaited, then the block.
    const auto archives = scenario({40, 0, 0});
    FakeLink link(archives);
    link.rx.reset();
    link.rx.Com_Connect();
    while (link.dataRequests().size() < 2)  // first block answered, second asked
        link.pump(Chunking::Whole, 1, 1);
    const QByteArray ident = sim::Instrument::frame(1, QByteArray(3, 0));
    const QByteArray header = sim::Instrument::frame(7, QByteArray(12, 0));  // a type we do not know
    link.replies.prepend(ident + header);
    link.pump(Chunking::Whole);
    QCOMPARE(link.outcome, Outcome::Ok);
    QCOMPARE(link.dataRequests(), (QList<QByteArray>{B(0, 0, 16), B(0, 16, 16), B(0, 32, 8)}));
    QVERIFY(matchesArchives(link, archives));
}

void TestReceiver::blockWithoutRequestIsNotStored()
{
    FakeLink link(scenario({0, 0, 0}));
    link.rx.reset();
    QByteArray payload(14, char(0x5A));
    link.rx.CommPortDriver1ReceiveData(sim::Instrument::frame(3, payload));
    QCOMPARE(int(link.state.archive[0].StoredBytes), 0);
    QCOMPARE(int(link.image->archive(0)[0]), 0);
    QVERIFY(link.dataRequests().isEmpty());
}

void TestReceiver::startMarkerSplitAcrossChunks()
{
    FakeLink link(scenario({0, 0, 0}));
    link.rx.reset();
    link.rx.CommPortDriver1ReceiveData(QByteArray("\x00\xB8", 2));
    QVERIFY(!link.state.DeviceFound);
    link.rx.CommPortDriver1ReceiveData(QByteArray("\xB8", 1));
    QVERIFY(link.state.DeviceFound);
    QCOMPARE(link.deviceAnswered, 1);
}

void TestReceiver::oversizedHeaderCancels_data()
{
    QTest::addColumn<QList<int>>("records");
    QTest::addColumn<QString>("named");
    QTest::newRow("operative 4682") << QList<int>{4682, 0, 0} << QStringLiteral("Архив оперативный");
    QTest::newRow("waiting 202") << QList<int>{1, 202, 0} << QStringLiteral("Архив ждущий");
    QTest::newRow("observation 65535") << QList<int>{0, 0, 65535} << QStringLiteral("Архив наблюдения");
}

void TestReceiver::oversizedHeaderCancels()
{
    QFETCH(QList<int>, records);
    QFETCH(QString, named);
    FakeLink link(scenario({records[0], records[1], records[2]}, {}, {}, 3));
    link.run();
    QCOMPARE(link.outcome, Outcome::Cancel);
    QCOMPARE(link.finishedCalls, 1);
    QVERIFY2(link.error.contains(named), qPrintable(link.error));
    QVERIFY(link.dataRequests().isEmpty());
}

void TestReceiver::tooManyPointsCancels()
{
    sim::ScenarioOptions o;
    o.records = {0, 2, 0};
    o.pointsAll = 75001;  // 150,002 points in all
    FakeLink link(sim::makeScenario(o));
    link.run();
    QCOMPARE(link.outcome, Outcome::Cancel);
    QVERIFY(link.error.contains(QStringLiteral("150000")));
    QCOMPARE(link.dataRequests(), (QList<QByteArray>{B(1, 0, 2)}));
    QCOMPARE(link.image->pointCount(1, 0), 0u);  // tables left as reset
}

void TestReceiver::overlongReplyNeverWritesOutside()
{
    // A full operative archive: 292 blocks of 16 and a last of 9, ending 2
    // bytes short of archive 1.  The last reply brings a tenth record.
    const auto archives = scenario({4681, 0, 0});
    sim::Faults f;
    f.overlong = 293;
    FakeLink link(archives, f);
    std::memset(link.image->archive(1).data(), 0xEE, 64);
    link.run(Chunking::Random, 5);
    QCOMPARE(link.outcome, Outcome::Cancel);
    QVERIFY(!link.error.isEmpty());
    QCOMPARE(int(link.state.archive[0].StoredBytes), 292 * 16 * 14);
    for (int i = 0; i < 64; ++i)
        QCOMPARE(int(link.image->archive(1)[i]), 0xEE);

    // The same for a series run.
    const auto series = scenario({0, 1, 0}, {40});
    sim::Faults g;
    g.overlong = 3;  // block, run of 32, run of 8 (+1)
    FakeLink run(series, g);
    run.run();
    QCOMPARE(run.outcome, Outcome::Cancel);
    QCOMPARE(run.state.archive[1].SeriesBytes, 320);
    QCOMPARE(int(run.image->series(1)[320]), 0);
}

void TestReceiver::corruptReplyCancels()
{
    sim::Faults f;
    f.corrupt = 4;  // the second block reply loses its end marker
    FakeLink link(scenario({40, 0, 0}), f);
    link.run();
    QCOMPARE(link.outcome, Outcome::Cancel);
    QCOMPARE(int(link.state.archive[0].StoredBytes), 224);
}

void TestReceiver::truncatedReplyStallsUntilCancel()
{
    sim::Faults f;
    f.truncate = 4;
    FakeLink link(scenario({40, 0, 0}), f);
    link.run();
    QCOMPARE(link.outcome, Outcome::Pending);
    QCOMPARE(link.finishedCalls, 0);
    QVERIFY(!link.rx.incomplete());
    QCOMPARE(link.dataRequests().size(), 2);
    QCOMPARE(int(link.state.archive[0].StoredBytes), 224);
}

void TestReceiver::emptySeriesInTheMiddleIsSkipped()
{
    const auto archives = scenario({2, 4, 3}, {5, 0, 0, 7}, {0, 65, 0});
    FakeLink link(archives);
    link.run(Chunking::Random, 9);
    QCOMPARE(link.outcome, Outcome::Ok);
    const uint32_t w0 = archives.seriesAddress(1, 0), w3 = archives.seriesAddress(1, 3);
    const uint32_t o1 = archives.seriesAddress(2, 1);
    QCOMPARE(link.dataRequests(), (QList<QByteArray>{B(0, 0, 2), B(1, 0, 4), S(1, w0, 5), S(1, w3, 7), B(2, 0, 3),
                                                     S(2, o1, 64), S(2, o1 + 64, 1)}));
    QVERIFY(matchesArchives(link, archives));
}

void TestReceiver::incompleteArchiveIsNamed()
{
    const auto archives = scenario({3, 1, 0}, {10});
    FakeLink link(archives);
    link.rx.reset();
    link.rx.Com_Connect();
    // Let everything through up to the series run, then let the byte count drift by one point.
    while (link.outcome == Outcome::Pending && !link.replies.isEmpty()) {
        if (link.replies.first().size() > 4 && link.replies.first()[4] == 4)
            link.state.archive[1].SeriesBytes += 10;
        link.pump(Chunking::Whole, 1, 1);
    }
    QCOMPARE(link.outcome, Outcome::Pending);
    QVERIFY(link.rx.incomplete());
    QCOMPARE(link.texts.value(Text::Archive0), QStringLiteral("Архив оперативный OK!!!"));
    QVERIFY(link.texts.value(Text::Archive1).startsWith(QStringLiteral("Архив ждущий")));
    QVERIFY(!link.texts.value(Text::Archive1).contains(QStringLiteral("OK")));
}

void TestReceiver::resetClearsSeriesNotArchives()
{
    const auto archives = scenario({4, 2, 2});
    FakeLink link(archives);
    link.run();
    QCOMPARE(link.outcome, Outcome::Ok);
    const QByteArray before(reinterpret_cast<const char*>(link.image->archive(0).data()), 56);
    link.rx.reset();
    QCOMPARE(link.state.RecordCount(0), 0);
    QVERIFY(!link.state.DeviceFound);
    QCOMPARE(link.image->pointCount(1, 0), 0u);
    QCOMPARE(int(link.image->series(2)[0]) | int(link.image->series(2)[1]), 0);
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(link.image->archive(0).data()), 56), before);
    // A second download in the same run works the same way.
    link.instrument.restart();
    link.requests.clear();
    link.run();
    QCOMPARE(link.outcome, Outcome::Ok);
}

QTEST_GUILESS_MAIN(TestReceiver)
#include "test_receiver.moc"
