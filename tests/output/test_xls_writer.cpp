// The workbook writer's bytes, read back with an independent reader of the
// compound file and the BIFF records; and save() refusing or failing without
// harm.

#include "output/xls_writer.h"
#include "xls_reader.h"
#include "tests/write_failure.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QtTest>

#include <csignal>
#include <functional>
#ifndef _WIN32
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace xlstest;

namespace {

QString workDir() {
    const QString d = qEnvironmentVariable("DORK5_TEST_WORKDIR", QDir::tempPath()) + "/xls_writer";
    QDir().mkpath(d);
    return d;
}

xls::Cell text(int r, int c, const QString& s, xls::CellStyle st = {}) { return {r, c, s, st}; }
xls::Cell number(int r, int c, double v, xls::CellStyle st = {}) { return {r, c, v, st}; }

// Stream and records of a workbook, checked on the way.
struct Parsed {
    QByteArray stream;
    std::vector<Record> globals;
    std::vector<std::vector<Record>> sheets;
    QStringList names;
    Sst sst;
};

Parsed parse(const QByteArray& file) {
    Parsed p;
    const Compound c = readCompound(file);
    if (!c.fault.isEmpty())
        qFatal("compound file: %s", qPrintable(c.fault));
    p.stream = c.stream;
    p.globals = substream(p.stream, 0);
    for (size_t i = 0; i < p.globals.size(); ++i) {
        const Record& r = p.globals[i];
        if (r.id == 0x0085) {
            p.names << readString(r.data, 6, true);
            p.sheets.push_back(substream(p.stream, le32(r.data, 0)));
        } else if (r.id == 0x00FC) {
            p.sst = readSst(p.globals, i);
        }
    }
    return p;
}

std::vector<const Record*> all(const std::vector<Record>& recs, quint32 id) {
    std::vector<const Record*> out;
    for (const Record& r : recs)
        if (r.id == id)
            out.push_back(&r);
    return out;
}

QByteArray fakePng(int w, int h, int payload) {
    QByteArray png = QByteArray::fromHex("89504e470d0a1a0a0000000d49484452");
    for (int v : {w, h})
        for (int i = 3; i >= 0; --i)
            png.append(char((v >> (8 * i)) & 0xFF));
    png.append(QByteArray::fromHex("0802000000"));
    QRandomGenerator rng(7);
    for (int i = 0; i < payload; ++i)
        png.append(char(rng.bounded(256)));
    return png;
}

xls::Workbook oneSheet(std::vector<xls::Cell> cells) {
    xls::Workbook b;
    b.sheets.push_back({});
    b.sheets[0].name = QStringLiteral("Лист1");
    b.sheets[0].cells = std::move(cells);
    return b;
}

}  // namespace

class TestXlsWriter : public QObject {
    Q_OBJECT

private slots:
    // Compound file framing, sheet offsets, cell records in row order.
    void structure() {
        xls::Workbook b;
        for (const char* n : {"Оперативный", "Ждущий", "Sheet 3"}) {
            xls::Sheet s;
            s.name = QString::fromUtf8(n);
            s.cells = {number(5, 2, 1.5), text(0, 0, QStringLiteral("Прогиб, мм")), {3, 1, std::monostate{}, {}},
                       text(5, 0, QStringLiteral("Прогиб, мм"))};
            b.sheets.push_back(s);
        }
        const QByteArray file = xls::toBytes(b);
        const Compound c = readCompound(file);
        QVERIFY2(c.fault.isEmpty(), qPrintable(c.fault));
        QCOMPARE(c.stream.size() % 512, 0);
        QCOMPARE(c.difatSectors, 0u);
        QCOMPARE(file.size(), 512 * (1 + c.stream.size() / 512 + c.fatSectors + 1));

        const Parsed p = parse(file);
        QCOMPARE(p.globals.front().id, 0x0809u);
        QCOMPARE(le16(p.globals.front().data, 2), 0x0005u);
        QCOMPARE(p.globals.back().id, 0x000Au);
        QCOMPARE(p.names, (QStringList{"Оперативный", "Ждущий", "Sheet 3"}));
        QCOMPARE(p.sst.fault, QString());
        QCOMPARE(p.sst.total, 6u);
        QCOMPARE(p.sst.strings, QStringList{"Прогиб, мм"});
        // Each sheet: BOF, DIMENSIONS before the cells, cells in row order, EOF.
        for (const auto& s : p.sheets) {
            QCOMPARE(s.front().id, 0x0809u);
            QCOMPARE(le16(s.front().data, 2), 0x0010u);
            QCOMPARE(s.back().id, 0x000Au);
            std::vector<std::pair<quint32, quint32>> order;
            bool dims = false;
            for (const Record& r : s) {
                if (r.id == 0x0200) {
                    dims = true;
                    QCOMPARE(le32(r.data, 0), 0u);
                    QCOMPARE(le32(r.data, 4), 6u);
                    QCOMPARE(le16(r.data, 8), 0u);
                    QCOMPARE(le16(r.data, 10), 3u);
                }
                if (r.id == 0x0203 || r.id == 0x00FD || r.id == 0x0201) {
                    QVERIFY(dims);
                    order.push_back({le16(r.data, 0), le16(r.data, 2)});
                }
                if (r.id == 0x0203)
                    QCOMPARE(leF64(r.data, 6), 1.5);
            }
            QCOMPARE(order, (std::vector<std::pair<quint32, quint32>>{{0, 0}, {3, 1}, {5, 0}, {5, 2}}));
        }
        // WINDOW2: only the first sheet is selected.
        QCOMPARE(le16(all(p.sheets[0], 0x023E)[0]->data, 0), 0x06B6u);
        QCOMPARE(le16(all(p.sheets[1], 0x023E)[0]->data, 0), 0x00B6u);
    }

    // A long string table over many CONTINUE records: every string comes
    // back, and the index (EXTSST) points at string starts.
    void stringTable() {
        std::vector<xls::Cell> cells;
        QStringList expect;
        QRandomGenerator rng(42);
        for (int i = 0; i < 3000; ++i) {
            const int len = int(rng.bounded(300));
            QString s;
            for (int k = 0; k < len; ++k)
                s.append(i % 3 ? QChar(char16_t(u'а' + (k + i) % 32)) : QChar(char16_t('a' + (k + i) % 26)));
            if (i % 7 == 0)
                s = QStringLiteral("Серия %1").arg(i);
            if (i == 1500)
                s = QString(20000, QChar(u'ж'));  // longer than one record
            if (i == 1501)
                s = QString();
            if (!expect.contains(s))
                expect << s;
            cells.push_back(text(i, 0, s));
            cells.push_back(text(i, 1, s));  // each string twice
        }
        const Parsed p = parse(xls::toBytes(oneSheet(cells)));
        QCOMPARE(p.sst.fault, QString());
        QCOMPARE(p.sst.total, 6000u);
        QCOMPARE(p.sst.unique, quint32(expect.size()));
        QCOMPARE(p.sst.strings, expect);
        size_t continues = 0;
        for (const Record& r : p.globals) {
            QVERIFY(r.data.size() <= 8224);
            continues += r.id == 0x003C;
        }
        QVERIFY(continues > 50);

        const Record* ext = all(p.globals, 0x00FF)[0];
        const quint32 perBucket = le16(ext->data, 0);
        QVERIFY(perBucket >= 8);
        const qsizetype buckets = (ext->data.size() - 2) / 8;
        QCOMPARE(buckets, (qsizetype(expect.size()) + perBucket - 1) / perBucket);
        QVERIFY(buckets <= 128);
        for (qsizetype k = 0; k < buckets; ++k) {
            const quint32 abs = le32(ext->data, 2 + 8 * k);
            const quint32 rel = le16(ext->data, 6 + 8 * k);
            QCOMPARE(qsizetype(abs), p.sst.stringOffset[size_t(k * perBucket)]);
            // The record holding it starts rel bytes before it.
            const auto rec = std::find_if(p.globals.begin(), p.globals.end(),
                                          [&](const Record& r) { return r.offset == qsizetype(abs - rel); });
            QVERIFY(rec != p.globals.end());
            QVERIFY(rec->id == 0x00FC || rec->id == 0x003C);
        }

        // LABELSST indexes match the strings.
        for (const Record* r : all(p.sheets[0], 0x00FD)) {
            const int row = int(le16(r->data, 0));
            QCOMPARE(p.sst.strings[qsizetype(le32(r->data, 6))], std::get<QString>(cells[size_t(2 * row)].value));
        }
    }

    // Fonts and XFs once per distinct style; font index 4 never used.
    void stylesDeduplicated() {
        xls::CellStyle plain, bold, border, times, fmt;
        bold.bold = true;
        border.border = true;
        border.hAlign = xls::HAlign::Centre;
        border.vAlign = xls::VAlign::Centre;
        border.wrap = true;
        times.fontName = QStringLiteral("Times New Roman");
        times.fontPoints = 12;
        times.bold = true;
        fmt.numberFormat = QStringLiteral("0.000");
        xls::CellStyle times2 = times;
        times2.fontPoints = 12.0001;  // same font size in twips
        std::vector<xls::Cell> cells;
        const xls::CellStyle styles[] = {plain, bold, border, times, fmt, times2, bold, fmt};
        for (int i = 0; i < 80; ++i)
            cells.push_back(number(i, 0, i, styles[i % 8]));
        xls::Workbook b = oneSheet(cells);
        b.sheets.push_back({});
        b.sheets[1].name = QStringLiteral("Два");
        b.sheets[1].cells = {number(0, 0, 1, fmt), number(0, 1, 2, times)};
        const Parsed p = parse(xls::toBytes(b));

        const auto fonts = all(p.globals, 0x0031);
        const auto xfs = all(p.globals, 0x00E0);
        const auto formats = all(p.globals, 0x041E);
        QCOMPARE(fonts.size(), size_t(5));  // four built-in, Times bold
        QCOMPARE(xfs.size(), size_t(16 + 5));
        QCOMPARE(formats.size(), size_t(1));
        QCOMPARE(le16(formats[0]->data, 0), 164u);
        QCOMPARE(readString(formats[0]->data, 2, false), QString("0.000"));
        auto fontOfIndex = [&](quint32 i) { return fonts[i < 4 ? i : i - 1]; };
        for (const Record* x : xfs)
            QVERIFY(le16(x->data, 0) != 4);
        QCOMPARE(readString(fontOfIndex(5)->data, 14, true), QString("Times New Roman"));
        QCOMPARE(le16(fontOfIndex(5)->data, 0), 240u);
        QCOMPARE(le16(fontOfIndex(5)->data, 6), 700u);
        QCOMPARE(le16(fontOfIndex(1)->data, 6), 700u);
        QCOMPARE(le16(fontOfIndex(0)->data, 6), 400u);
        for (const Record* f : fonts)
            QCOMPARE(uchar(f->data[12]), uchar(0xCC));

        std::map<int, quint32> xfOfRow;
        for (const Record* r : all(p.sheets[0], 0x0203))
            xfOfRow[int(le16(r->data, 0))] = le16(r->data, 4);
        for (int i = 0; i < 80; ++i) {
            const quint32 x = xfOfRow[i];
            QVERIFY(x >= 15 && x < 21);
            const QByteArray& d = xfs[x]->data;
            QCOMPARE(le16(d, 4) & 0x0004u, 0u);  // a cell XF
            const xls::CellStyle& st = styles[i % 8];
            QCOMPARE(le16(fontOfIndex(le16(d, 0))->data, 6), st.bold ? 700u : 400u);
            QCOMPARE(le16(d, 2), st.numberFormat.isEmpty() ? 0u : 164u);
            if (st.border) {
                QCOMPARE(le32(d, 10) & 0xFFFF, 0x1111u);
                QCOMPARE((le32(d, 10) >> 16) & 0x7F, 8u);
                QCOMPARE((le32(d, 10) >> 23) & 0x7F, 8u);
                QCOMPARE(le32(d, 14) & 0x3FFF, 8u | (8u << 7));
                QCOMPARE(uchar(d[6]), uchar(0x02 | 0x08 | 0x10));
            } else {
                QCOMPARE(le32(d, 10), 0u);
            }
        }
        QCOMPARE(le16(xfs[15]->data, 4), 0x0001u);
        QCOMPARE(le16(xfs[0]->data, 4), 0xFFF5u);
    }

    // Page setup, column widths, row heights, merges over several records.
    void sheetSettings() {
        xls::Workbook b = oneSheet({text(0, 0, "x", [] {
            xls::CellStyle s;
            s.border = true;
            return s;
        }())});
        xls::Sheet& s = b.sheets[0];
        s.page.landscape = true;
        s.page.leftInch = 0.4;
        s.columnWidthsPx = {{0, 140}, {1, 64}, {2, 64}, {7, 0}};
        s.rowHeightsPoints = {{0, 30}, {3, 12.75}};
        s.merges.push_back({0, 1, 0, 2});  // with the styled top-left cell
        for (int i = 0; i < 1500; ++i)
            s.merges.push_back({10 + 2 * i, 11 + 2 * i, 5, 6});
        xls::Workbook portrait = b;
        portrait.sheets[0].page.landscape = false;
        const Parsed p = parse(xls::toBytes(b));
        const auto& r = p.sheets[0];

        const QByteArray setup = all(r, 0x00A1)[0]->data;
        QCOMPARE(setup.size(), 34);
        QCOMPARE(le16(setup, 0), 9u);
        QCOMPARE(le16(setup, 10) & 0x46u, 0u);  // landscape, initialised
        QCOMPARE(le16(all(parse(xls::toBytes(portrait)).sheets[0], 0x00A1)[0]->data, 10) & 0x46u, 0x02u);
        QCOMPARE(leF64(all(r, 0x0026)[0]->data, 0), 0.4);

        const auto cols = all(r, 0x007D);
        QCOMPARE(cols.size(), size_t(3));
        QCOMPARE(le16(cols[0]->data, 4), 4937u);  // (140 - 5) / 7 characters
        QCOMPARE(le16(cols[1]->data, 0), 1u);
        QCOMPARE(le16(cols[1]->data, 2), 2u);
        QCOMPARE(le16(cols[1]->data, 4), 2157u);  // Excel's standard 8.43 characters
        QCOMPARE(le16(cols[2]->data, 8) & 1u, 1u);  // width 0: hidden

        const auto rows = all(r, 0x0208);
        QCOMPARE(rows.size(), size_t(2));
        QCOMPARE(le16(rows[0]->data, 6), 600u);
        QCOMPARE(le16(rows[0]->data, 4), 3u);  // cells up to column 2 (merge fill)
        QCOMPARE(le16(rows[1]->data, 6), 255u);
        QVERIFY(le32(rows[0]->data, 12) & 0x40);

        // The merged area around the styled cell is filled with its format.
        const auto blanks = all(r, 0x0201);
        QCOMPARE(blanks.size(), size_t(5));
        const quint32 xf = le16(all(r, 0x00FD)[0]->data, 4);
        for (const Record* bl : blanks)
            QCOMPARE(le16(bl->data, 4), xf);

        const auto merged = all(r, 0x00E5);
        QCOMPARE(merged.size(), size_t(2));
        QCOMPARE(le16(merged[0]->data, 0), 1027u);
        QCOMPARE(le16(merged[1]->data, 0), 1501u - 1027u);
        for (const Record* m : merged)
            QCOMPARE(qsizetype(m->data.size()), qsizetype(2 + 8 * le16(m->data, 0)));
        // Order: page setup, COLINFO, DIMENSIONS, ROW, cells, WINDOW2, MERGEDCELLS.
        std::vector<quint32> order;
        for (const Record& x : r)
            if (order.empty() || order.back() != x.id)
                order.push_back(x.id);
        auto pos = [&](quint32 id) { return std::find(order.begin(), order.end(), id) - order.begin(); };
        QVERIFY(pos(0x00A1) < pos(0x007D));
        QVERIFY(pos(0x007D) < pos(0x0200));
        QVERIFY(pos(0x0200) < pos(0x0208));
        QVERIFY(pos(0x0208) < pos(0x00FD));
        QVERIFY(pos(0x00FD) < pos(0x023E));
        QVERIFY(pos(0x023E) < pos(0x00E5));
    }

    // A picture larger than one record: the drawing group is continued and
    // carries the PNG whole; one PNG used twice is stored once.
    void pictures() {
        const QByteArray png = fakePng(300, 200, 20000);
        xls::Workbook b = oneSheet({number(0, 0, 1)});
        b.sheets[0].columnWidthsPx = {{0, 100}, {1, 100}, {2, 100}, {3, 100}};
        b.sheets[0].pictures.push_back({png, 1, 1, 50, 0, 0, 0});  // size from the PNG
        b.sheets.push_back(b.sheets[0]);
        b.sheets[1].name = "Второй";
        b.sheets[1].pictures.push_back({fakePng(10, 10, 100), 20, 0, 0, 0, 40, 40});
        const Parsed p = parse(xls::toBytes(b));

        QByteArray dgg;
        for (size_t i = 0; i < p.globals.size(); ++i)
            if (p.globals[i].id == 0x00EB) {
                dgg = p.globals[i].data;
                for (size_t k = i + 1; k < p.globals.size() && p.globals[k].id == 0x003C; ++k)
                    dgg += p.globals[k].data;
            }
        QVERIFY(dgg.size() > 20000);
        QCOMPARE(le16(dgg, 2), 0xF000u);
        QCOMPARE(qsizetype(le32(dgg, 4)), dgg.size() - 8);
        // Walk the containers and collect the PNG blips.
        std::vector<QByteArray> blips;
        std::vector<quint32> refs;
        std::function<void(qsizetype, qsizetype)> walk = [&](qsizetype at, qsizetype end) {
            while (at < end) {
                const quint32 verInst = le16(dgg, at), type = le16(dgg, at + 2), len = le32(dgg, at + 4);
                QVERIFY(at + 8 + len <= quint32(end));
                if ((verInst & 0xF) == 0xF)
                    walk(at + 8, at + 8 + len);
                else if (type == 0xF007) {
                    refs.push_back(le32(dgg, at + 8 + 24));
                    walk(at + 8 + 36, at + 8 + len);
                } else if (type == 0xF01E)
                    blips.push_back(dgg.mid(at + 8 + 17, len - 17));
                at += 8 + len;
            }
        };
        walk(0, dgg.size());
        QCOMPARE(blips.size(), size_t(2));
        QCOMPARE(blips[0], png);
        QCOMPARE(refs, (std::vector<quint32>{2, 1}));

        // Sheet drawing: the anchor follows the column widths.
        const auto draw = all(p.sheets[0], 0x00EC);
        const auto objs = all(p.sheets[0], 0x005D);
        QCOMPARE(draw.size(), size_t(1));
        QCOMPARE(objs.size(), size_t(1));
        const QByteArray& d = draw[0]->data;
        const qsizetype anchor = d.indexOf(QByteArray::fromHex("000010f012000000"));
        QVERIFY(anchor > 0);
        const qsizetype a = anchor + 8;
        QCOMPARE(le16(d, a + 2), 1u);                 // col1: 50 px into column 1
        QCOMPARE(le16(d, a + 4), 50u * 1024 / 100);
        QCOMPARE(le16(d, a + 6), 1u);                 // row1
        QCOMPARE(le16(d, a + 10), 4u);                // col2: 50 px into column 4 (default 64 px)
        QCOMPARE(le16(d, a + 12), 50u * 1024 / 64);
        QCOMPARE(le16(d, a + 14), 1u + 200 / 17);     // rows of 17 px
        QCOMPARE(qsizetype(le32(d, 4)), d.size() - 8);  // one picture: the container ends here
        QCOMPARE(le16(objs[0]->data, 4), 8u);        // a picture object
        QCOMPARE(all(p.sheets[1], 0x00EC).size(), size_t(2));
    }

    // A workbook beyond 109 FAT sectors needs DIFAT sectors.
    void bigWorkbookUsesDifat() {
        xls::Workbook b;
        for (int s = 0; s < 3; ++s) {
            xls::Sheet sh;
            sh.name = QStringLiteral("Лист %1").arg(s + 1);
            sh.cells.reserve(65536 * 4);
            for (int r = 0; r < 65536; ++r)
                for (int c = 0; c < 4; ++c)
                    sh.cells.push_back(number(r, c, r * 4 + c));
            b.sheets.push_back(std::move(sh));
        }
        const QByteArray file = xls::toBytes(b);
        const Compound c = readCompound(file);
        QVERIFY2(c.fault.isEmpty(), qPrintable(c.fault));
        QVERIFY(c.fatSectors > 109);
        QVERIFY(c.difatSectors >= 1);
        const Parsed p = parse(file);
        QCOMPARE(p.sheets.size(), size_t(3));
        const auto nums = all(p.sheets[2], 0x0203);
        QCOMPARE(nums.size(), size_t(65536 * 4));
        QCOMPARE(leF64(nums.back()->data, 6), 65535.0 * 4 + 3);
        QCOMPARE(p.sheets[2].back().id, 0x000Au);
    }

    // What the format cannot hold is refused.
    void refusesWhatCannotBeRepresented() {
        auto refused = [](const xls::Workbook& b) {
            try {
                xls::toBytes(b);
            } catch (const xls::Error& e) {
                return !QString::fromStdString(e.what()).isEmpty();
            }
            return false;
        };
        QVERIFY(refused({}));
        QVERIFY(refused(oneSheet({number(65536, 0, 1)})));
        QVERIFY(refused(oneSheet({number(0, 256, 1)})));
        QVERIFY(refused(oneSheet({number(-1, 0, 1)})));
        QVERIFY(refused(oneSheet({number(1, 1, 1), text(1, 1, "a")})));
        QVERIFY(refused(oneSheet({text(0, 0, QString(32768, 'a'))})));
        QVERIFY(!refused(oneSheet({text(0, 0, QString(32767, u'я'))})));
        for (const QString& name : {QString(), QString(32, 'a'), QStringLiteral("a:b"), QStringLiteral("a/b"),
                                    QStringLiteral("[x]"), QStringLiteral("a*"), QStringLiteral("?")}) {
            xls::Workbook b = oneSheet({});
            b.sheets[0].name = name;
            QVERIFY2(refused(b), qPrintable(name));
        }
        xls::Workbook dup = oneSheet({});
        dup.sheets.push_back(dup.sheets[0]);
        dup.sheets[1].name = QStringLiteral("ЛИСТ1");
        QVERIFY(refused(dup));
        dup.sheets[1].name = QStringLiteral("Лист2");
        QVERIFY(!refused(dup));

        xls::Workbook m = oneSheet({});
        m.sheets[0].merges = {{0, 2, 0, 2}, {2, 3, 2, 3}};
        QVERIFY(refused(m));
        m.sheets[0].merges = {{0, 2, 0, 2}, {3, 3, 0, 3}};
        QVERIFY(!refused(m));
        xls::Workbook pic = oneSheet({});
        pic.sheets[0].pictures.push_back({QByteArray("GIF89a"), 0, 0, 0, 0, 10, 10});
        QVERIFY(refused(pic));
        pic.sheets[0].pictures[0] = {fakePng(10, 10, 10), 65535, 0, 0, 0, 10, 100};
        QVERIFY(refused(pic));  // runs off the bottom of the sheet
    }

    // Non-finite numbers become empty cells instead of garbage values.
    void nonFiniteNumbersAreBlank() {
        const Parsed p = parse(xls::toBytes(oneSheet({number(0, 0, std::nan("")), number(0, 1, INFINITY), number(0, 2, 2)})));
        QCOMPARE(all(p.sheets[0], 0x0201).size(), size_t(2));
        QCOMPARE(all(p.sheets[0], 0x0203).size(), size_t(1));
    }

    void saveWritesTheBytes() {
        const QString path = workDir() + "/ok.xls";
        QFile::remove(path);
        const xls::Workbook b = oneSheet({text(0, 0, "Прогиб")});
        xls::save(b, path);
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), xls::toBytes(b));
        f.close();
        xls::save(oneSheet({number(0, 0, 1)}), path);  // replaces an existing file
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), xls::toBytes(oneSheet({number(0, 0, 1)})));
    }

    // Targets that are not regular files, and folders that cannot be written,
    // are refused with a message naming the file; nothing is left behind.
    void saveRefuses() {
        const QString dir = workDir() + "/refuse";
        QDir(dir).removeRecursively();
        QVERIFY(QDir().mkpath(dir + "/folder.xls"));
#ifdef _WIN32
        const QString fifo = dir + "/nul.xls";  // a device name: no file can have it
#else
        const QString fifo = dir + "/pipe.xls";
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
#endif
        QFile plain(dir + "/plain");
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.close();
        const xls::Workbook b = oneSheet({number(0, 0, 1)});
        auto message = [&](const QString& path) {
            try {
                xls::save(b, path);
            } catch (const xls::Error& e) {
                return QString::fromStdString(e.what());
            }
            return QString();
        };
        for (const QString& p : {dir + "/folder.xls", fifo, dir + "/plain/book.xls", dir + "/missing/book.xls"}) {
            const QString m = message(p);
            QVERIFY2(m.startsWith("Не удалось записать файл "), qPrintable(p));
            QVERIFY2(m.contains(QDir::toNativeSeparators(p)), qPrintable(m));
        }
#ifdef _WIN32
        QCOMPARE(QDir(dir).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System).size(), 2);
        QVERIFY(QDir(dir + "/folder.xls").isEmpty());
#else
        QVERIFY(QFileInfo(fifo).exists() && !QFileInfo(fifo).isFile());
        QCOMPARE(QDir(dir).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System).size(), 3);
        QVERIFY(QDir(dir + "/folder.xls").isEmpty());

        if (::geteuid() != 0) {  // permissions do not stop root
            const QString locked = dir + "/locked";
            QVERIFY(QDir().mkpath(locked));
            QFile::setPermissions(locked, QFile::ReadOwner | QFile::ExeOwner);
            QVERIFY(message(locked + "/book.xls").startsWith("Не удалось записать файл "));
            QFile::setPermissions(locked, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
            QVERIFY(QDir(locked).isEmpty());
            // A write-protected file is not replaced behind the user's back.
            const QString ro = dir + "/readonly.xls";
            QFile f(ro);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("keep");
            f.close();
            QFile::setPermissions(ro, QFile::ReadOwner);
            QVERIFY(message(ro).startsWith("Не удалось записать файл "));
            QFile::setPermissions(ro, QFile::ReadOwner | QFile::WriteOwner);
            QVERIFY(f.open(QIODevice::ReadOnly));
            QCOMPARE(f.readAll(), QByteArray("keep"));
        }
#endif
    }

    // The reason of a failed save is Russian and names the cause: a folder
    // that refuses new files (root included), a full disk.
    static QString saveFailure(const QString& path, const xls::Workbook& b) {
        try {
            xls::save(b, path);
        } catch (const xls::Error& e) {
            return QString::fromStdString(e.what());
        }
        return QString();
    }
    void lockedFolderNamesTheCause() {
        const QString dir = workDir() + "/locked-folder";
        QDir(dir).removeRecursively();
        QVERIFY(QDir().mkpath(dir));
        const QString cannot = writefail::lockFolder(dir);
        const QString m = cannot.isEmpty() ? saveFailure(dir + "/book.xls", oneSheet({number(0, 0, 1)})) : QString();
        writefail::unlockFolder(dir);
        if (!cannot.isEmpty())
            QSKIP(qPrintable(cannot));
        QVERIFY2(m.endsWith(QStringLiteral(": Нет прав на запись")), qPrintable(m));
    }
    void fullDiskNamesTheCause() {
        WRITEFAIL_ON_SMALL_DISK("fullDiskNamesTheCause", workDir() + "/small-disk");
        std::vector<xls::Cell> cells;
        for (int r = 0; r < 30000; ++r)
            cells.push_back(number(r, 0, r));
        const QString dir = writefail::smallDisk();
        const QString m = saveFailure(dir + "/book.xls", oneSheet(cells));
        QVERIFY2(m.endsWith(QStringLiteral(": Недостаточно места на диске")), qPrintable(m));
        QCOMPARE(QDir(dir).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden), QStringList());
    }

    // A write that fails part way (here: the file size limit) leaves the
    // existing file as it was and no work file beside it.
    void failedWriteKeepsTheOldFile() {
#ifdef _WIN32
        QSKIP("the file size limit that makes the write fail is POSIX");
#else
        const QString dir = workDir() + "/fail";
        QDir(dir).removeRecursively();
        QVERIFY(QDir().mkpath(dir));
        const QString path = dir + "/report.xls";
        const QByteArray old("old contents");
        {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(old);
        }
        std::vector<xls::Cell> cells;
        for (int r = 0; r < 20000; ++r)
            cells.push_back(number(r, 0, r));
        const xls::Workbook b = oneSheet(cells);

        rlimit saved;
        QCOMPARE(::getrlimit(RLIMIT_FSIZE, &saved), 0);
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit small = saved;
        small.rlim_cur = 64 * 1024;
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);
        QString message;
        try {
            xls::save(b, path);
        } catch (const xls::Error& e) {
            message = QString::fromStdString(e.what());
        }
        ::setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, oldHandler);

        QVERIFY2(message.startsWith("Не удалось записать файл " + QDir::toNativeSeparators(path)), qPrintable(message));
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), old);
        QCOMPARE(QDir(dir).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList{"report.xls"});

        // A workbook that cannot be represented does not touch the file either.
        try {
            xls::save(xls::Workbook{}, path);
            QFAIL("no error");
        } catch (const xls::Error&) {
        }
        f.seek(0);
        QCOMPARE(f.readAll(), old);
    #endif
    }
};

QTEST_GUILESS_MAIN(TestXlsWriter)
#include "test_xls_writer.moc"
