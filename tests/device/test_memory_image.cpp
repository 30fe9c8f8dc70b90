// The memory image layout, the ".bin" loader and the port map.

#include "device/memory_image.h"
#include "device/port_map.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <memory>

using device::MemoryImage;

namespace {

void fill(std::span<uint8_t> s, uint8_t v) { std::fill(s.begin(), s.end(), v); }

bool all(std::span<const uint8_t> s, uint8_t v)
{
    return std::all_of(s.begin(), s.end(), [v](uint8_t b) { return b == v; });
}

QString writeFile(const QTemporaryDir& dir, const QString& name, const QByteArray& data)
{
    const QString path = dir.filePath(name);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(data) != data.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

QByteArray pattern(qsizetype n)
{
    QByteArray b(n, 0);
    for (qsizetype i = 0; i < n; ++i)
        b[i] = char((i * 7 + 3) & 0xFF);
    return b;
}

}  // namespace

class TestMemoryImage : public QObject {
    Q_OBJECT
private slots:
    void layout();
    void clearSeriesKeepsArchives();
    void binLoading_data();
    void binLoading();
    void oversizeBinIsTruncatedAndTold();
    void unreadableBinLeavesImage();
    void portNames();
    void deviceScanOrder();
};

void TestMemoryImage::layout()
{
    auto img = std::make_unique<MemoryImage>();
    const uint8_t* base = img->leading().data();
    QCOMPARE(img->leading().size(), size_t(327680));
    QCOMPARE(img->archive(0).data() - base, 0);
    QCOMPARE(img->archive(1).data() - base, 0x10000);
    QCOMPARE(img->archive(2).data() - base, 0x20000);
    QCOMPARE(img->receiveBuffer().data() - base, 0x30000);
    QCOMPARE(img->archive(2).size(), size_t(65536));
    QCOMPARE(img->receiveBuffer().size(), size_t(131072));
    QCOMPARE(img->series(1).size(), size_t(1500001));
    QCOMPARE(img->series(2).size(), size_t(600001));
    QCOMPARE(img->seriesStartTable(1).size(), size_t(10001));
    QCOMPARE(img->seriesStartTable(2).size(), size_t(10001));
    QCOMPARE(img->pointCountTable(1).size(), size_t(804));
    QCOMPARE(img->pointCountTable(2).size(), size_t(804));
    QVERIFY(all(img->leading(), 0) && all(img->series(1), 0) && all(img->pointCountTable(2), 0));
    QCOMPARE(MemoryImage::MaxOperativeRecords * 14, 65534);

    // Little-endian table entries, record k at 4k.
    uint8_t* pc = img->pointCountTable(2).data();
    pc[800] = 0x01; pc[801] = 0x02; pc[802] = 0x03; pc[803] = 0x04;
    QCOMPARE(img->pointCount(2, 200), 0x04030201u);
    uint8_t* ss = img->seriesStartTable(1).data();
    ss[4] = 0x78; ss[5] = 0x56; ss[6] = 0x34; ss[7] = 0x12;
    QCOMPARE(img->seriesStart(1, 1), 0x12345678u);
}

void TestMemoryImage::clearSeriesKeepsArchives()
{
    auto img = std::make_unique<MemoryImage>();
    fill(img->leading(), 0x11);
    for (int a : {1, 2}) {
        fill(img->series(a), 0x22);
        fill(img->seriesStartTable(a), 0x33);
        fill(img->pointCountTable(a), 0x44);
    }
    img->clearSeries();
    QVERIFY(all(img->leading(), 0x11));
    for (int a : {1, 2})
        QVERIFY(all(img->series(a), 0) && all(img->seriesStartTable(a), 0) && all(img->pointCountTable(a), 0));
}

void TestMemoryImage::binLoading_data()
{
    QTest::addColumn<qsizetype>("size");
    QTest::newRow("empty file changes nothing") << qsizetype(0);
    QTest::newRow("10 bytes") << qsizetype(10);
    QTest::newRow("exactly archive 0") << qsizetype(65536);
    QTest::newRow("into the receive buffer") << qsizetype(0x30000 + 5);
    QTest::newRow("exactly the leading regions") << qsizetype(327680);
}

void TestMemoryImage::binLoading()
{
    QFETCH(qsizetype, size);
    QTemporaryDir dir;
    auto img = std::make_unique<MemoryImage>();
    fill(img->leading(), 0xC5);
    fill(img->series(1), 0x5C);
    const QByteArray data = pattern(size);
    const auto r = device::loadBin(*img, writeFile(dir, QStringLiteral("a.bin"), data));
    QVERIFY(r.ok);
    QVERIFY(!r.truncated);
    QCOMPARE(r.bytesRead, size);
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(img->leading().data()), size), data);
    QVERIFY(all(img->leading().subspan(size), 0xC5));
    QVERIFY(all(img->series(1), 0x5C));
}

void TestMemoryImage::oversizeBinIsTruncatedAndTold()
{
    QTemporaryDir dir;
    auto img = std::make_unique<MemoryImage>();
    const QByteArray data = pattern(327680 + 1000);
    const auto r = device::loadBin(*img, writeFile(dir, QStringLiteral("big.bin"), data));
    QVERIFY(r.ok);
    QVERIFY(r.truncated);
    QCOMPARE(r.bytesRead, qint64(327680));
    QVERIFY(r.message.contains(QStringLiteral("327680")));
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(img->leading().data()), 327680), data.left(327680));
    QVERIFY(all(img->series(1), 0));  // nothing spills into the series buffers
}

void TestMemoryImage::unreadableBinLeavesImage()
{
    QTemporaryDir dir;
    auto img = std::make_unique<MemoryImage>();
    fill(img->leading(), 0x77);
    for (const QString& path : {dir.filePath(QStringLiteral("missing.bin")), dir.path()}) {
        const auto r = device::loadBin(*img, path);
        QVERIFY2(!r.ok, qPrintable(path));
        QVERIFY(!r.message.isEmpty());
        QCOMPARE(r.bytesRead, qint64(0));
        QVERIFY(all(img->leading(), 0x77));
    }
}

void TestMemoryImage::portNames()
{
    QCOMPARE(device::candidateName(0), QStringLiteral("\\\\.\\COM1"));
    QCOMPARE(device::candidateName(37), QStringLiteral("\\\\.\\COM38"));
#ifdef _WIN32
    // The candidates are the system's COM ports themselves; no list replaces them.
    qputenv("ORL_SERIAL_PORTS", "/dev/pts/7");
    const auto map = device::PortMap::fromEnvironment();
    qunsetenv("ORL_SERIAL_PORTS");
    QCOMPARE(map.devicePath(0), QStringLiteral("\\\\.\\COM1"));
    QCOMPARE(map.devicePath(37), QStringLiteral("\\\\.\\COM38"));
    QCOMPARE(map.label(0), QStringLiteral("\\\\.\\COM1"));
#else
    qputenv("ORL_SERIAL_PORTS", "/dev/pts/7::/tmp/x");
    const auto map = device::PortMap::fromEnvironment();
    qunsetenv("ORL_SERIAL_PORTS");
    QCOMPARE(map.devicePath(0), QStringLiteral("/dev/pts/7"));
    QCOMPARE(map.devicePath(1), QStringLiteral("/tmp/x"));
    QCOMPARE(map.devicePath(2), QString());
    QCOMPARE(map.label(0), QStringLiteral("\\\\.\\COM1 (/dev/pts/7)"));
    QCOMPARE(map.label(5), QStringLiteral("\\\\.\\COM6"));
    qputenv("ORL_SERIAL_PORTS", "");
    QVERIFY(device::PortMap::fromEnvironment().paths().isEmpty());
    qunsetenv("ORL_SERIAL_PORTS");
#endif

    // COM ports above 38 follow the 38, ascending, each once; nothing else
    // the system lists is a candidate.
    QCOMPARE(device::comNumbersAbove38({"COM41", "COM3", "\\\\.\\COM39", "com200", "COM41", "COM257", "COM40x",
                                        "LPT1", "COM038", "COM39"}),
             (QList<int>{39, 41, 200}));
    const auto com = device::PortMap::comPorts({41, 39});
    QList<int> expected;
    for (int i = 0; i < 38; ++i)
        expected << i;
    QCOMPARE(com.candidates(), expected + QList<int>({38, 40}));
    QCOMPARE(com.devicePath(37), QStringLiteral("\\\\.\\COM38"));
    QCOMPARE(com.devicePath(38), QStringLiteral("\\\\.\\COM39"));
    QCOMPARE(com.devicePath(39), QString());  // COM40 is not present
    QCOMPARE(com.devicePath(40), QStringLiteral("\\\\.\\COM41"));
    QCOMPARE(com.label(40), QStringLiteral("\\\\.\\COM41"));
    QCOMPARE(device::PortMap::comPorts().candidates(), expected);
    QCOMPARE(device::PortMap::comPorts().devicePath(38), QString());
    // The device list maps the 38 only.
    const device::PortMap many(QStringList(45, QStringLiteral("/dev/x")));
    QCOMPARE(many.candidates(), expected);
    QCOMPARE(many.devicePath(40), QString());
}

void TestMemoryImage::deviceScanOrder()
{
    QTemporaryDir dir;
    for (const char* n : {"ttyS10", "ttyS2", "ttyACM0", "ttyUSB1", "ttyUSB0", "ttyS", "ttySx1", "tty0", "ttyUSB10"})
        writeFile(dir, QString::fromLatin1(n), {});
    QStringList names;
    for (const QString& p : device::PortMap::scanDevices(dir.path()))
        names << QFileInfo(p).fileName();
    QCOMPARE(names, (QStringList{"ttyUSB0", "ttyUSB1", "ttyUSB10", "ttyACM0", "ttyS2", "ttyS10"}));
}

QTEST_GUILESS_MAIN(TestMemoryImage)
#include "test_memory_image.moc"
