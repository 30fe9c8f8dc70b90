// BIFF8 workbook writer.  The Workbook stream is built record by record
// (globals, then one substream per sheet) and wrapped in a version 3
// compound file with 512-byte sectors.

#include "output/xls_writer.h"

#include "ground/file_kind.h"
#include "ground/system_error.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QSaveFile>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>

namespace xls {

// Found by argument-dependent lookup from QHash.
static size_t qHash(const CellStyle& s, size_t seed = 0) {
    return qHashMulti(seed, s.fontName, s.fontPoints, s.bold, int(s.hAlign), int(s.vAlign), s.wrap, s.border,
                      s.numberFormat);
}

namespace {

// ---------------------------------------------------------------- bytes

class Bytes {
public:
    explicit Bytes(QByteArray& b) : b_(b) {}
    void u8(unsigned v) { b_.append(char(v & 0xFF)); }
    void u16(unsigned v) {
        const char c[2] = {char(v & 0xFF), char((v >> 8) & 0xFF)};
        b_.append(c, 2);
    }
    void u32(quint32 v) {
        const char c[4] = {char(v & 0xFF), char((v >> 8) & 0xFF), char((v >> 16) & 0xFF), char((v >> 24) & 0xFF)};
        b_.append(c, 4);
    }
    void f64(double v) {
        quint64 u;
        std::memcpy(&u, &v, 8);
        u32(quint32(u & 0xFFFFFFFFu));
        u32(quint32(u >> 32));
    }
    void raw(const QByteArray& a) { b_.append(a); }
    void raw(const char* p, qsizetype n) { b_.append(p, n); }
    qsizetype size() const { return b_.size(); }
    QByteArray& data() { return b_; }

private:
    QByteArray& b_;
};

void put16(QByteArray& b, qsizetype at, unsigned v) {
    b[at] = char(v & 0xFF);
    b[at + 1] = char((v >> 8) & 0xFF);
}

void put32(QByteArray& b, qsizetype at, quint32 v) {
    for (int i = 0; i < 4; ++i)
        b[at + i] = char((v >> (8 * i)) & 0xFF);
}

constexpr int MaxRecordData = 8224;

// Record ids.
enum : unsigned {
    rEOF = 0x000A, rHORIZONTALPAGEBREAKS = 0x001B, rHEADER = 0x0014, rFOOTER = 0x0015, rDATEMODE = 0x0022,
    rLEFTMARGIN = 0x0026, rRIGHTMARGIN = 0x0027, rTOPMARGIN = 0x0028, rBOTTOMMARGIN = 0x0029,
    rFONT = 0x0031, rWINDOW1 = 0x003D, rCONTINUE = 0x003C, rCODEPAGE = 0x0042, rDEFCOLWIDTH = 0x0055,
    rOBJ = 0x005D, rCOLINFO = 0x007D, rWSBOOL = 0x0081, rHCENTER = 0x0083, rVCENTER = 0x0084,
    rBOUNDSHEET = 0x0085, rSETUP = 0x00A1, rXF = 0x00E0, rMERGEDCELLS = 0x00E5,
    rMSODRAWINGGROUP = 0x00EB, rMSODRAWING = 0x00EC, rSST = 0x00FC, rEXTSST = 0x00FF,
    rLABELSST = 0x00FD, rDIMENSIONS = 0x0200, rBLANK = 0x0201, rNUMBER = 0x0203,
    rROW = 0x0208, rWINDOW2 = 0x023E, rSTYLE = 0x0293, rBOF = 0x0809, rFORMAT = 0x041E,
};

void record(Bytes& out, unsigned id, const QByteArray& body) {
    out.u16(id);
    out.u16(unsigned(body.size()));
    out.raw(body);
}

void emptyRecord(Bytes& out, unsigned id) {
    out.u16(id);
    out.u16(0);
}

bool fitsLatin1(const QString& s) {
    for (QChar c : s)
        if (c.unicode() > 0xFF)
            return false;
    return true;
}

// Characters of a string in the one-byte or the UTF-16LE form.
void putChars(Bytes& out, const QString& s, qsizetype from, qsizetype n, bool wide) {
    const QChar* p = s.constData() + from;
    if (wide) {
        for (qsizetype i = 0; i < n; ++i)
            out.u16(p[i].unicode());
    } else {
        for (qsizetype i = 0; i < n; ++i)
            out.u8(p[i].unicode());
    }
}

// A string with a 2-byte count (or 1-byte in the short form).
void putString(Bytes& out, const QString& s, bool shortForm) {
    const bool wide = !fitsLatin1(s);
    if (shortForm)
        out.u8(unsigned(s.size()));
    else
        out.u16(unsigned(s.size()));
    out.u8(wide ? 1 : 0);
    putChars(out, s, 0, s.size(), wide);
}

QString sheetLabel(const Sheet& s) { return QStringLiteral("«%1»").arg(s.name); }

[[noreturn]] void fail(const QString& message) { throw Error(message.toStdString()); }

// ---------------------------------------------------------------- styles

struct FontKey {
    QString name;
    int twips;
    bool bold;
    bool operator==(const FontKey&) const = default;
};

size_t qHash(const FontKey& k, size_t seed = 0) { return qHashMulti(seed, k.name, k.twips, k.bold); }


// Fonts, number formats and cell XFs of the workbook, each kept once.
class StyleTable {
public:
    StyleTable() {
        // Records 0-3 are the default font, bold, italic and bold italic.
        for (int i = 0; i < 4; ++i)
            fonts_.push_back({QStringLiteral("Arial"), 200, (i & 1) != 0, (i & 2) != 0});
        fontIndex_.insert({QStringLiteral("Arial"), 200, false}, 0);
        fontIndex_.insert({QStringLiteral("Arial"), 200, true}, 1);
    }

    // XF index of a cell style.
    unsigned xf(const CellStyle& s) {
        if (haveLast_ && s == last_)
            return lastXf_;
        auto it = styleXf_.constFind(s);
        unsigned x;
        if (it != styleXf_.constEnd()) {
            x = *it;
        } else {
            x = makeXf(s);
            styleXf_.insert(s, x);
        }
        last_ = s;
        lastXf_ = x;
        haveLast_ = true;
        return x;
    }

    void write(Bytes& out) const {
        for (const Font& f : fonts_) {
            QByteArray b;
            Bytes o(b);
            o.u16(unsigned(f.twips));
            o.u16((f.bold ? 0x0001 : 0) | (f.italic ? 0x0002 : 0));  // bit 0 is what xlrd reads as bold
            o.u16(0x7FFF);
            o.u16(f.bold ? 700 : 400);
            o.u16(0);   // escapement
            o.u8(0);    // underline
            o.u8(0);    // family
            o.u8(0xCC); // Cyrillic character set
            o.u8(0);
            putString(o, f.name, true);
            record(out, rFONT, b);
        }
        for (const auto& [code, index] : formats_) {
            QByteArray b;
            Bytes o(b);
            o.u16(index);
            putString(o, code, false);
            record(out, rFORMAT, b);
        }
        // Built-in XFs: 0-14 style XFs (0 = Normal), 15 the default cell XF.
        for (int i = 0; i < 16; ++i) {
            const bool cell = i == 15;
            const unsigned font = (i == 1 || i == 2) ? 1 : (i == 3 || i == 4) ? 2 : 0;
            record(out, rXF, xfBytes(font, 0, cell ? 0x0001 : 0xFFF5, 0x20, cell ? 0x00 : (i == 0 ? 0x00 : 0xF4), false));
        }
        for (const QByteArray& x : xfs_)
            record(out, rXF, x);
        // STYLE: Normal is built-in style 0 on XF 0.
        QByteArray st;
        Bytes o(st);
        o.u16(0x8000);
        o.u8(0);
        o.u8(0xFF);
        record(out, rSTYLE, st);
    }

private:
    struct Font {
        QString name;
        int twips;
        bool bold;
        bool italic;
    };

    static QByteArray xfBytes(unsigned font, unsigned format, unsigned type, unsigned align, unsigned used, bool border) {
        QByteArray b;
        Bytes o(b);
        o.u16(font);
        o.u16(format);
        o.u16(type);
        o.u8(align);
        o.u8(0);  // rotation
        o.u8(0);  // indent, shrink, merge
        o.u8(used);
        if (border) {
            o.u32(0x1111u | (8u << 16) | (8u << 23));  // thin on four sides, black left and right
            o.u32(8u | (8u << 7));                     // black top and bottom, no fill pattern
        } else {
            o.u32(0);
            o.u32(0);
        }
        o.u16(0x20C0);
        return b;
    }

    unsigned fontFor(const CellStyle& s) {
        if (s.fontName.isEmpty() || s.fontName.size() > 31)
            fail(QStringLiteral("Недопустимое имя шрифта «%1»").arg(s.fontName));
        if (!(s.fontPoints >= 1 && s.fontPoints <= 409))
            fail(QStringLiteral("Недопустимый размер шрифта %1").arg(s.fontPoints));
        const FontKey key{s.fontName, int(std::lround(s.fontPoints * 20)), s.bold};
        auto it = fontIndex_.constFind(key);
        if (it != fontIndex_.constEnd())
            return *it;
        // Font index 4 does not exist: the fifth record is index 5.
        const unsigned index = unsigned(fonts_.size()) + 1;
        if (index > 0xFFFF)
            fail(QStringLiteral("Слишком много шрифтов"));
        fonts_.push_back({key.name, key.twips, key.bold, false});
        fontIndex_.insert(key, index);
        return index;
    }

    unsigned formatFor(const QString& code) {
        if (code.isEmpty() || code == QLatin1String("General"))
            return 0;
        static const std::pair<const char*, unsigned> builtIn[] = {
            {"0", 1}, {"0.00", 2}, {"#,##0", 3}, {"#,##0.00", 4}, {"0%", 9}, {"0.00%", 10}, {"0.00E+00", 11}, {"@", 49},
        };
        for (const auto& [text, index] : builtIn)
            if (code == QLatin1String(text))
                return index;
        if (code.size() > 255)
            fail(QStringLiteral("Слишком длинный числовой формат «%1»").arg(code.left(40)));
        for (const auto& [c, index] : formats_)
            if (c == code)
                return index;
        const unsigned index = 164 + unsigned(formats_.size());
        if (index > 0xFFFF)
            fail(QStringLiteral("Слишком много числовых форматов"));
        formats_.push_back({code, index});
        return index;
    }

    unsigned makeXf(const CellStyle& s) {
        const unsigned font = fontFor(s);
        const unsigned format = formatFor(s.numberFormat);
        unsigned align = 0;
        switch (s.hAlign) {
        case HAlign::General: align = 0; break;
        case HAlign::Left: align = 1; break;
        case HAlign::Centre: align = 2; break;
        case HAlign::Right: align = 3; break;
        }
        if (s.wrap)
            align |= 0x08;
        switch (s.vAlign) {
        case VAlign::Top: break;
        case VAlign::Centre: align |= 0x10; break;
        case VAlign::Bottom: align |= 0x20; break;
        }
        const QByteArray bytes = xfBytes(font, format, 0x0001, align, format ? 0xFC : 0xF8, s.border);
        auto it = xfIndex_.constFind(bytes);
        if (it != xfIndex_.constEnd())
            return *it;
        const unsigned index = 16 + unsigned(xfs_.size());
        if (index >= 4000)  // Excel's own limit on cell formats
            fail(QStringLiteral("Слишком много различных оформлений ячеек"));
        xfs_.push_back(bytes);
        xfIndex_.insert(bytes, index);
        return index;
    }

    std::vector<Font> fonts_;
    QHash<FontKey, unsigned> fontIndex_;
    std::vector<std::pair<QString, unsigned>> formats_;
    std::vector<QByteArray> xfs_;
    QHash<QByteArray, unsigned> xfIndex_;
    QHash<CellStyle, unsigned> styleXf_;
    CellStyle last_;
    unsigned lastXf_ = 0;
    bool haveLast_ = false;
};

// ---------------------------------------------------------------- strings

class StringTable {
public:
    quint32 index(const QString& s) {
        ++references_;
        auto it = index_.constFind(s);
        if (it != index_.constEnd())
            return *it;
        const quint32 i = quint32(strings_.size());
        strings_.push_back(s);
        index_.insert(s, i);
        return i;
    }

    void reserve(qsizetype n) { index_.reserve(n); }

    // SST and EXTSST.  `base` is the stream offset at which `out` starts.
    void write(Bytes& out, qsizetype base) const {
        const qsizetype n = qsizetype(strings_.size());
        const qsizetype perBucket = std::max<qsizetype>(8, (n + 127) / 128);
        std::vector<std::pair<quint32, unsigned>> buckets;

        qsizetype recStart = out.size();
        out.u16(rSST);
        out.u16(0);
        out.u32(references_);
        out.u32(quint32(n));
        auto used = [&] { return out.size() - recStart - 4; };
        auto closeRecord = [&] { put16(out.data(), recStart + 2, unsigned(used())); };
        auto newContinue = [&] {
            closeRecord();
            recStart = out.size();
            out.u16(rCONTINUE);
            out.u16(0);
        };

        for (qsizetype i = 0; i < n; ++i) {
            const QString& s = strings_[size_t(i)];
            const bool wide = !fitsLatin1(s);
            const int unit = wide ? 2 : 1;
            // Count, flags and the first character stay together.
            if (used() + 3 + (s.isEmpty() ? 0 : unit) > MaxRecordData)
                newContinue();
            if (i % perBucket == 0)
                buckets.push_back({quint32(base + out.size()), unsigned(out.size() - recStart)});
            out.u16(unsigned(s.size()));
            out.u8(wide ? 1 : 0);
            qsizetype done = 0;
            while (done < s.size()) {
                qsizetype room = (MaxRecordData - used()) / unit;
                if (room == 0) {
                    newContinue();
                    out.u8(wide ? 1 : 0);  // the rest of a string starts with its flags again
                    room = (MaxRecordData - used()) / unit;
                }
                const qsizetype n2 = std::min(room, s.size() - done);
                putChars(out, s, done, n2, wide);
                done += n2;
            }
        }
        closeRecord();

        QByteArray b;
        Bytes o(b);
        o.u16(unsigned(perBucket));
        for (const auto& [abs, rel] : buckets) {
            o.u32(abs);
            o.u16(rel);
            o.u16(0);
        }
        record(out, rEXTSST, b);
    }

private:
    std::vector<QString> strings_;
    QHash<QString, quint32> index_;
    quint32 references_ = 0;
};

// ---------------------------------------------------------------- pictures

// One PNG of the workbook's picture store.
struct Blip {
    QByteArray png;
    QByteArray uid;  // 16 bytes
    int references = 0;
};

// An OfficeArt record header.
void artHeader(Bytes& o, unsigned ver, unsigned instance, unsigned type, quint32 length) {
    o.u16((ver & 0xF) | (instance << 4));
    o.u16(type);
    o.u32(length);
}

bool pngSize(const QByteArray& png, int& w, int& h) {
    static const char sig[8] = {char(0x89), 'P', 'N', 'G', '\r', '\n', char(0x1A), '\n'};
    if (png.size() < 33 || std::memcmp(png.constData(), sig, 8) != 0 || png.mid(12, 4) != "IHDR")
        return false;
    auto be32 = [&](int at) {
        return (quint32(uchar(png[at])) << 24) | (quint32(uchar(png[at + 1])) << 16) |
               (quint32(uchar(png[at + 2])) << 8) | quint32(uchar(png[at + 3]));
    };
    const quint32 pw = be32(16), ph = be32(20);
    if (pw == 0 || ph == 0 || pw > 0x7FFFFFFF || ph > 0x7FFFFFFF)
        return false;
    w = int(pw);
    h = int(ph);
    return true;
}

// Writes a drawing-group record with CONTINUE records for data over the
// record size limit.
void splitRecord(Bytes& out, unsigned id, const QByteArray& data) {
    qsizetype at = 0;
    bool first = true;
    do {
        const qsizetype n = std::min<qsizetype>(MaxRecordData, data.size() - at);
        out.u16(first ? id : rCONTINUE);
        out.u16(unsigned(n));
        out.raw(data.constData() + at, n);
        at += n;
        first = false;
    } while (at < data.size());
}

QByteArray drawingGroup(const std::vector<Blip>& blips, quint32 spidMax, const std::vector<std::pair<quint32, quint32>>& clusters,
                        quint32 shapes) {
    QByteArray store;
    Bytes s(store);
    for (const Blip& b : blips) {
        const quint32 blipLen = 8 + 17 + quint32(b.png.size());
        artHeader(s, 2, 6, 0xF007, 36 + blipLen);  // FBSE, PNG
        s.u8(6);
        s.u8(6);
        s.raw(b.uid);
        s.u16(0x00FF);
        s.u32(blipLen);
        s.u32(quint32(b.references));
        s.u32(0);  // no delay stream: the picture follows
        s.u8(0);
        s.u8(0);
        s.u8(0);
        s.u8(0);
        artHeader(s, 0, 0x6E0, 0xF01E, 17 + quint32(b.png.size()));  // BlipPNG
        s.raw(b.uid);
        s.u8(0xFF);
        s.raw(b.png);
    }

    QByteArray body;
    Bytes o(body);
    artHeader(o, 0, 0, 0xF006, 16 + 8 * quint32(clusters.size()));  // FDGG
    o.u32(spidMax);
    o.u32(quint32(clusters.size()) + 1);
    o.u32(shapes);
    o.u32(quint32(clusters.size()));
    for (const auto& [dg, used] : clusters) {
        o.u32(dg);
        o.u32(used);
    }
    artHeader(o, 0xF, unsigned(blips.size()), 0xF001, quint32(store.size()));  // BStoreContainer
    o.raw(store);
    // Default shape properties and split-menu colours, as Excel writes them.
    artHeader(o, 3, 3, 0xF00B, 18);
    o.u16(0x00BF);
    o.u32(0x00080008);
    o.u16(0x0181);
    o.u32(0x08000041);
    o.u16(0x01C0);
    o.u32(0x08000040);
    artHeader(o, 0, 4, 0xF11E, 16);
    o.u32(0x0800000D);
    o.u32(0x0800000C);
    o.u32(0x08000017);
    o.u32(0x100000F7);

    QByteArray dgg;
    Bytes d(dgg);
    artHeader(d, 0xF, 0, 0xF000, quint32(body.size()));
    d.raw(body);
    return dgg;
}

// ---------------------------------------------------------------- sheets

struct SheetGeometry {
    const Sheet& sheet;
    int colPx(int c) const {
        auto it = sheet.columnWidthsPx.find(c);
        return it == sheet.columnWidthsPx.end() ? 64 : it->second;
    }
    int rowPx(int r) const {
        auto it = sheet.rowHeightsPoints.find(r);
        return it == sheet.rowHeightsPoints.end() ? 17 : int(std::lround(it->second * 96.0 / 72.0));
    }
};

struct Anchor {
    int col1, dx1, row1, dy1, col2, dx2, row2, dy2;
};

Anchor anchorOf(const Picture& p, int w, int h, const SheetGeometry& g, const Sheet& sheet) {
    auto walk = [&](int start, int offset, bool cols, int& cell, int& rest) {
        const int limit = cols ? MaxColumns : MaxRows;
        cell = start;
        rest = offset;
        while (true) {
            const int size = cols ? g.colPx(cell) : g.rowPx(cell);
            if (rest < size)
                break;
            rest -= size;
            if (++cell >= limit)
                fail(QStringLiteral("Рисунок на листе %1 выходит за пределы листа").arg(sheetLabel(sheet)));
        }
    };
    Anchor a;
    int x1, y1, x2, y2;
    walk(p.col, p.dxPx, true, a.col1, x1);
    walk(p.row, p.dyPx, false, a.row1, y1);
    walk(a.col1, x1 + w, true, a.col2, x2);
    walk(a.row1, y1 + h, false, a.row2, y2);
    auto frac = [](int part, int whole, int scale) { return whole > 0 ? std::min(scale, part * scale / whole) : 0; };
    a.dx1 = frac(x1, g.colPx(a.col1), 1024);
    a.dy1 = frac(y1, g.rowPx(a.row1), 256);
    a.dx2 = frac(x2, g.colPx(a.col2), 1024);
    a.dy2 = frac(y2, g.rowPx(a.row2), 256);
    return a;
}

struct PlacedCell {
    quint32 key;  // row << 8 | col
    const Cell* cell;
    unsigned xf;
};

void checkName(const Workbook& book, size_t i) {
    const QString& name = book.sheets[i].name;
    static const QString bad = QStringLiteral(":\\/?*[]");
    bool ok = !name.isEmpty() && name.size() <= 31;
    for (QChar c : name)
        if (bad.contains(c) || c.unicode() < 0x20)
            ok = false;
    if (!ok)
        fail(QStringLiteral("Недопустимое имя листа «%1»: от 1 до 31 знака, без знаков : \\ / ? * [ ]").arg(name));
    for (size_t j = 0; j < i; ++j)
        if (book.sheets[j].name.compare(name, Qt::CaseInsensitive) == 0)
            fail(QStringLiteral("Имя листа «%1» повторяется").arg(name));
}

class SheetWriter {
public:
    SheetWriter(const Sheet& sheet, bool active, StyleTable& styles, StringTable& strings, std::vector<Blip>& blips,
                QHash<QByteArray, int>& blipIndex)
        : s_(sheet), active_(active), styles_(styles), strings_(strings), blips_(blips), blipIndex_(blipIndex) {}

    // Pictures' shape ids: the first of this sheet and the drawing id.
    void setDrawing(quint32 dgId, quint32 firstSpid) {
        dgId_ = dgId;
        firstSpid_ = firstSpid;
    }

    void prepare() {
        if (s_.page.scalePercent < 10 || s_.page.scalePercent > 400)
            fail(QStringLiteral("Недопустимый масштаб печати %1 % на листе %2").arg(s_.page.scalePercent).arg(sheetLabel(s_)));
        placeCells();
        checkMerges();
        for (const Picture& p : s_.pictures)
            preparePicture(p);
    }

    void write(Bytes& out) {
        QByteArray b;
        Bytes o(b);
        bof(out, 0x0010);
        // 0x0100: fit to pages (the SETUP record says how many).
        o.u16(s_.page.fitToWidth ? 0x05C1 : 0x04C1);
        record(out, rWSBOOL, b);
        pageBreaks(out);
        emptyRecord(out, rHEADER);
        emptyRecord(out, rFOOTER);
        u16Record(out, rHCENTER, 0);
        u16Record(out, rVCENTER, 0);
        f64Record(out, rLEFTMARGIN, s_.page.leftInch);
        f64Record(out, rRIGHTMARGIN, s_.page.rightInch);
        f64Record(out, rTOPMARGIN, s_.page.topInch);
        f64Record(out, rBOTTOMMARGIN, s_.page.bottomInch);
        setup(out);
        u16Record(out, rDEFCOLWIDTH, 8);
        colinfo(out);
        dimensions(out);
        rows(out);
        cells(out);
        drawings(out);
        window2(out);
        merges(out);
        emptyRecord(out, rEOF);
    }

private:
    static void u16Record(Bytes& out, unsigned id, unsigned v) {
        out.u16(id);
        out.u16(2);
        out.u16(v);
    }
    static void f64Record(Bytes& out, unsigned id, double v) {
        out.u16(id);
        out.u16(8);
        out.f64(v);
    }

public:
    static void bof(Bytes& out, unsigned type) {
        out.u16(rBOF);
        out.u16(16);
        out.u16(0x0600);
        out.u16(type);
        out.u16(0x0DBB);
        out.u16(0x07CC);
        out.u32(0);
        out.u32(6);
    }

private:
    void placeCells() {
        placed_.reserve(s_.cells.size());
        for (const Cell& c : s_.cells) {
            if (c.row < 0 || c.row >= MaxRows || c.col < 0 || c.col >= MaxColumns)
                fail(QStringLiteral("Ячейка (строка %1, столбец %2) листа %3 вне листа: не более %4 строк и %5 столбцов")
                         .arg(c.row + 1)
                         .arg(c.col + 1)
                         .arg(sheetLabel(s_))
                         .arg(MaxRows)
                         .arg(MaxColumns));
            if (const QString* t = std::get_if<QString>(&c.value); t && t->size() > 32767)
                fail(QStringLiteral("Текст ячейки (строка %1, столбец %2) листа %3 длиннее 32767 знаков")
                         .arg(c.row + 1)
                         .arg(c.col + 1)
                         .arg(sheetLabel(s_)));
            placed_.push_back({(quint32(c.row) << 8) | quint32(c.col), &c, styles_.xf(c.style)});
        }
        std::sort(placed_.begin(), placed_.end(), [](const PlacedCell& a, const PlacedCell& b) { return a.key < b.key; });
        for (size_t i = 1; i < placed_.size(); ++i)
            if (placed_[i].key == placed_[i - 1].key)
                fail(QStringLiteral("Ячейка (строка %1, столбец %2) листа %3 задана дважды")
                         .arg(placed_[i].cell->row + 1)
                         .arg(placed_[i].cell->col + 1)
                         .arg(sheetLabel(s_)));
    }

    const PlacedCell* find(quint32 key) const {
        auto it = std::lower_bound(placed_.begin(), placed_.end(), key,
                                   [](const PlacedCell& a, quint32 k) { return a.key < k; });
        return it != placed_.end() && it->key == key ? &*it : nullptr;
    }

    void checkMerges() {
        std::vector<Merge> ms;
        for (const Merge& m : s_.merges) {
            if (m.firstRow < 0 || m.firstCol < 0 || m.lastRow >= MaxRows || m.lastCol >= MaxColumns ||
                m.firstRow > m.lastRow || m.firstCol > m.lastCol)
                fail(QStringLiteral("Недопустимое объединение ячеек на листе %1").arg(sheetLabel(s_)));
            if (m.firstRow != m.lastRow || m.firstCol != m.lastCol)
                ms.push_back(m);
        }
        std::sort(ms.begin(), ms.end(), [](const Merge& a, const Merge& b) { return a.firstRow < b.firstRow; });
        for (size_t i = 0; i < ms.size(); ++i)
            for (size_t j = i + 1; j < ms.size() && ms[j].firstRow <= ms[i].lastRow; ++j)
                if (ms[j].firstCol <= ms[i].lastCol && ms[i].firstCol <= ms[j].lastCol)
                    fail(QStringLiteral("Объединения ячеек на листе %1 перекрываются").arg(sheetLabel(s_)));
        // The other cells of a merged area take the top-left cell's format,
        // so that its borders are drawn around the whole area.
        std::vector<PlacedCell> extra;
        for (const Merge& m : ms) {
            const PlacedCell* top = find((quint32(m.firstRow) << 8) | quint32(m.firstCol));
            if (!top || top->cell->style == CellStyle{})
                continue;
            for (int r = m.firstRow; r <= m.lastRow; ++r)
                for (int c = m.firstCol; c <= m.lastCol; ++c) {
                    const quint32 key = (quint32(r) << 8) | quint32(c);
                    if (!find(key))
                        extra.push_back({key, nullptr, top->xf});
                }
        }
        if (!extra.empty()) {
            placed_.insert(placed_.end(), extra.begin(), extra.end());
            std::sort(placed_.begin(), placed_.end(), [](const PlacedCell& a, const PlacedCell& b) { return a.key < b.key; });
        }
        merges_ = std::move(ms);
    }

    void preparePicture(const Picture& p) {
        int w = 0, h = 0;
        if (!pngSize(p.png, w, h))
            fail(QStringLiteral("Рисунок на листе %1 не является файлом PNG").arg(sheetLabel(s_)));
        if (p.widthPx > 0)
            w = p.widthPx;
        if (p.heightPx > 0)
            h = p.heightPx;
        if (p.row < 0 || p.row >= MaxRows || p.col < 0 || p.col >= MaxColumns || p.dxPx < 0 || p.dyPx < 0 ||
            p.widthPx < 0 || p.heightPx < 0)
            fail(QStringLiteral("Недопустимое положение рисунка на листе %1").arg(sheetLabel(s_)));
        const Anchor a = anchorOf(p, w, h, SheetGeometry{s_}, s_);
        const QByteArray uid = QCryptographicHash::hash(p.png, QCryptographicHash::Md5);
        auto it = blipIndex_.constFind(uid);
        int index;
        if (it == blipIndex_.constEnd()) {
            index = int(blips_.size());
            blips_.push_back({p.png, uid, 0});
            blipIndex_.insert(uid, index);
        } else {
            index = *it;
        }
        ++blips_[size_t(index)].references;
        pictures_.push_back({index + 1, a});
    }

    void setup(Bytes& out) const {
        out.u16(rSETUP);
        out.u16(34);
        out.u16(unsigned(s_.page.paperSize));
        out.u16(unsigned(s_.page.scalePercent));
        out.u16(1);    // first page number
        out.u16(1);    // fit width
        out.u16(s_.page.fitToWidth ? 0 : 1);  // fit height; 0: as many pages as needed
        out.u16(s_.page.landscape ? 0x0000 : 0x0002);
        out.u16(600);
        out.u16(600);
        out.f64(s_.page.headerInch);
        out.f64(s_.page.footerInch);
        out.u16(1);
    }

    // Each break starts a printed page at its row, across every column.
    void pageBreaks(Bytes& out) const {
        const std::vector<int>& breaks = s_.pageBreaks;
        if (breaks.empty())
            return;
        if (int(breaks.size()) > MaxPageBreaks)
            fail(QStringLiteral("Слишком много разрывов страниц на листе %1").arg(sheetLabel(s_)));
        for (size_t i = 0; i < breaks.size(); ++i)
            if (breaks[i] <= 0 || breaks[i] >= MaxRows || (i > 0 && breaks[i] <= breaks[i - 1]))
                fail(QStringLiteral("Недопустимый разрыв страницы перед строкой %1 на листе %2")
                         .arg(breaks[i] + 1)
                         .arg(sheetLabel(s_)));
        out.u16(rHORIZONTALPAGEBREAKS);
        out.u16(unsigned(2 + 6 * breaks.size()));
        out.u16(unsigned(breaks.size()));
        for (int row : breaks) {
            out.u16(unsigned(row));
            out.u16(0);
            out.u16(MaxColumns - 1);
        }
    }

    void colinfo(Bytes& out) const {
        auto it = s_.columnWidthsPx.begin();
        while (it != s_.columnWidthsPx.end()) {
            const int first = it->first;
            const int px = it->second;
            if (first < 0 || first >= MaxColumns)
                fail(QStringLiteral("Недопустимый номер столбца %1 на листе %2").arg(first + 1).arg(sheetLabel(s_)));
            const qint64 units = px < 0 ? -1 : columnWidthUnits(px);
            if (units < 0 || units > 0xFFFF)
                fail(QStringLiteral("Недопустимая ширина столбца %1 на листе %2").arg(first + 1).arg(sheetLabel(s_)));
            int last = first;
            auto next = std::next(it);
            while (next != s_.columnWidthsPx.end() && next->first == last + 1 && next->second == px) {
                last = next->first;
                ++next;
            }
            out.u16(rCOLINFO);
            out.u16(12);
            out.u16(unsigned(first));
            out.u16(unsigned(std::min(last, MaxColumns - 1)));
            out.u16(unsigned(units));
            out.u16(15);
            out.u16(px == 0 ? 0x0001 : 0x0000);
            out.u16(0);
            it = next;
        }
    }

    void dimensions(Bytes& out) const {
        quint32 r0 = 0, r1 = 0;
        unsigned c0 = 0, c1 = 0;
        if (!placed_.empty()) {
            r0 = placed_.front().key >> 8;
            r1 = (placed_.back().key >> 8) + 1;
            c0 = 0xFF;
            for (const PlacedCell& p : placed_) {
                c0 = std::min(c0, unsigned(p.key & 0xFF));
                c1 = std::max(c1, unsigned(p.key & 0xFF) + 1);
            }
        }
        out.u16(rDIMENSIONS);
        out.u16(14);
        out.u32(r0);
        out.u32(r1);
        out.u16(c0);
        out.u16(c1);
        out.u16(0);
    }

    void rows(Bytes& out) const {
        for (const auto& [row, points] : s_.rowHeightsPoints) {
            if (row < 0 || row >= MaxRows)
                fail(QStringLiteral("Недопустимый номер строки %1 на листе %2").arg(row + 1).arg(sheetLabel(s_)));
            if (!(points >= 0 && points <= MaxRowPoints))
                fail(QStringLiteral("Недопустимая высота строки %1 на листе %2").arg(row + 1).arg(sheetLabel(s_)));
            const unsigned twips = unsigned(std::lround(points * 20));
            // Columns used in this row.
            auto lo = std::lower_bound(placed_.begin(), placed_.end(), quint32(row) << 8,
                                       [](const PlacedCell& a, quint32 k) { return a.key < k; });
            unsigned c0 = 0, c1 = 0;
            if (lo != placed_.end() && (lo->key >> 8) == quint32(row)) {
                c0 = lo->key & 0xFF;
                auto hi = lo;
                while (hi != placed_.end() && (hi->key >> 8) == quint32(row))
                    c1 = (hi++->key & 0xFF) + 1;
            }
            out.u16(rROW);
            out.u16(16);
            out.u16(unsigned(row));
            out.u16(c0);
            out.u16(c1);
            out.u16(twips);
            out.u16(0);
            out.u16(0);
            out.u32(0x000F0140u | (twips == 0 ? 0x20u : 0u));
        }
    }

    void cells(Bytes& out) const {
        for (const PlacedCell& p : placed_) {
            const unsigned row = p.key >> 8, col = p.key & 0xFF;
            const double* number = p.cell ? std::get_if<double>(&p.cell->value) : nullptr;
            const QString* text = p.cell ? std::get_if<QString>(&p.cell->value) : nullptr;
            if (number && std::isfinite(*number)) {
                out.u16(rNUMBER);
                out.u16(14);
                out.u16(row);
                out.u16(col);
                out.u16(p.xf);
                out.f64(*number);
            } else if (text) {
                out.u16(rLABELSST);
                out.u16(10);
                out.u16(row);
                out.u16(col);
                out.u16(p.xf);
                out.u32(strings_.index(*text));
            } else {
                // Empty cells, and numbers a sheet cannot hold (NaN, infinity).
                out.u16(rBLANK);
                out.u16(6);
                out.u16(row);
                out.u16(col);
                out.u16(p.xf);
            }
        }
    }

    void drawings(Bytes& out) const {
        if (pictures_.empty())
            return;
        const quint32 n = quint32(pictures_.size());
        constexpr quint32 groupLen = 8 + 24 + 16;   // SpContainer of the group shape
        constexpr quint32 pictureLen = 8 + 16 + 26 + 26 + 8;
        const quint32 spgrLen = groupLen + n * pictureLen;
        for (quint32 k = 0; k < n; ++k) {
            QByteArray b;
            Bytes o(b);
            if (k == 0) {
                artHeader(o, 0xF, 0, 0xF002, 16 + 8 + spgrLen);  // DgContainer
                artHeader(o, 0, dgId_, 0xF008, 8);                 // FDG
                o.u32(n + 1);
                o.u32(firstSpid_ + n);
                artHeader(o, 0xF, 0, 0xF003, spgrLen);  // SpgrContainer
                artHeader(o, 0xF, 0, 0xF004, groupLen - 8);
                artHeader(o, 1, 0, 0xF009, 16);  // FSPGR
                o.u32(0);
                o.u32(0);
                o.u32(0);
                o.u32(0);
                artHeader(o, 2, 0, 0xF00A, 8);  // FSP: group, patriarch
                o.u32(firstSpid_);
                o.u32(0x0005);
            }
            const auto& [pib, a] = pictures_[k];
            artHeader(o, 0xF, 0, 0xF004, pictureLen - 8);
            artHeader(o, 2, 75, 0xF00A, 8);  // FSP: picture frame with an anchor
            o.u32(firstSpid_ + 1 + k);
            o.u32(0x0A00);
            artHeader(o, 3, 3, 0xF00B, 18);  // FOPT
            o.u16(0x4104);                   // pib: picture store entry
            o.u32(quint32(pib));
            o.u16(0x01BF);
            o.u32(0x00010000);
            o.u16(0x03BF);
            o.u32(0x00080000);
            artHeader(o, 0, 0, 0xF010, 18);  // ClientAnchor
            o.u16(0x0002);                   // moves with cells, keeps its size
            o.u16(unsigned(a.col1));
            o.u16(unsigned(a.dx1));
            o.u16(unsigned(a.row1));
            o.u16(unsigned(a.dy1));
            o.u16(unsigned(a.col2));
            o.u16(unsigned(a.dx2));
            o.u16(unsigned(a.row2));
            o.u16(unsigned(a.dy2));
            artHeader(o, 0, 0, 0xF011, 0);  // ClientData
            record(out, rMSODRAWING, b);

            QByteArray ob;
            Bytes obj(ob);
            obj.u16(0x0015);  // ftCmo: a picture
            obj.u16(18);
            obj.u16(0x0008);
            obj.u16(k + 1);
            obj.u16(0x6011);
            obj.u32(0);
            obj.u32(0);
            obj.u32(0);
            obj.u16(0x0007);  // ftCf
            obj.u16(2);
            obj.u16(0xFFFF);
            obj.u16(0x0008);  // ftPioGrbit
            obj.u16(2);
            obj.u16(0x0001);
            obj.u32(0);  // ftEnd
            record(out, rOBJ, ob);
        }
    }

    void window2(Bytes& out) const {
        out.u16(rWINDOW2);
        out.u16(18);
        out.u16(active_ ? 0x06B6 : 0x00B6);
        out.u16(0);
        out.u16(0);
        out.u16(0x0040);
        out.u16(0);
        out.u16(0);
        out.u16(0);
        out.u32(0);
    }

    void merges(Bytes& out) const {
        for (size_t at = 0; at < merges_.size(); at += 1027) {
            const size_t n = std::min<size_t>(1027, merges_.size() - at);
            out.u16(rMERGEDCELLS);
            out.u16(unsigned(2 + 8 * n));
            out.u16(unsigned(n));
            for (size_t i = at; i < at + n; ++i) {
                out.u16(unsigned(merges_[i].firstRow));
                out.u16(unsigned(merges_[i].lastRow));
                out.u16(unsigned(merges_[i].firstCol));
                out.u16(unsigned(merges_[i].lastCol));
            }
        }
    }

public:
    quint32 pictureCount() const { return quint32(pictures_.size()); }

private:
    const Sheet& s_;
    bool active_;
    StyleTable& styles_;
    StringTable& strings_;
    std::vector<Blip>& blips_;
    QHash<QByteArray, int>& blipIndex_;
    std::vector<PlacedCell> placed_;
    std::vector<Merge> merges_;
    std::vector<std::pair<int, Anchor>> pictures_;  // picture store entry (1-based), anchor
    quint32 dgId_ = 0;
    quint32 firstSpid_ = 0;
};

// ---------------------------------------------------------------- compound file

constexpr quint32 FreeSect = 0xFFFFFFFF, EndOfChain = 0xFFFFFFFE, FatSect = 0xFFFFFFFD, DifSect = 0xFFFFFFFC;

// Wraps the Workbook stream, which `file` holds from offset 512, in a
// compound file: stream sectors, FAT, DIFAT, one directory sector.
void wrapCompoundFile(QByteArray& file) {
    qsizetype stream = file.size() - 512;
    qsizetype padded = std::max<qsizetype>(4096, (stream + 511) / 512 * 512);
    file.append(QByteArray(padded - stream, '\0'));
    const quint32 n = quint32(padded / 512);
    quint32 f = 1, d = 0;
    while (true) {
        d = f > 109 ? (f - 109 + 126) / 127 : 0;
        if (quint64(f) * 128 >= quint64(n) + 1 + f + d)
            break;
        ++f;
    }
    const quint32 fatStart = n, difStart = n + f, dirSector = n + f + d;
    const quint32 total = dirSector + 1;

    std::vector<quint32> fat(size_t(f) * 128, FreeSect);
    for (quint32 i = 0; i < n; ++i)
        fat[i] = i + 1 < n ? i + 1 : EndOfChain;
    for (quint32 i = 0; i < f; ++i)
        fat[fatStart + i] = FatSect;
    for (quint32 i = 0; i < d; ++i)
        fat[difStart + i] = DifSect;
    fat[dirSector] = EndOfChain;

    file.reserve(qsizetype(512) * (total + 1));
    Bytes out(file);
    for (quint32 v : fat)
        out.u32(v);
    for (quint32 i = 0; i < d; ++i) {
        for (quint32 k = 0; k < 127; ++k) {
            const quint32 fatIndex = 109 + i * 127 + k;
            out.u32(fatIndex < f ? fatStart + fatIndex : FreeSect);
        }
        out.u32(i + 1 < d ? difStart + i + 1 : EndOfChain);
    }
    // Directory: root, Workbook, two unused entries.
    auto entry = [&](const QString& name, unsigned type, quint32 child, quint32 start, quint32 size) {
        QByteArray e(128, '\0');
        for (int i = 0; i < name.size(); ++i)
            put16(e, 2 * i, name[i].unicode());
        if (type != 0) {
            put16(e, 64, unsigned(2 * (name.size() + 1)));
            e[66] = char(type);
            e[67] = 1;  // black
        }
        put32(e, 68, FreeSect);
        put32(e, 72, FreeSect);
        put32(e, 76, child);
        put32(e, 116, type != 0 ? start : 0);
        put32(e, 120, size);
        out.raw(e);
    };
    entry(QStringLiteral("Root Entry"), 5, 1, EndOfChain, 0);
    entry(QStringLiteral("Workbook"), 2, FreeSect, 0, quint32(padded));
    entry(QString(), 0, FreeSect, 0, 0);
    entry(QString(), 0, FreeSect, 0, 0);

    QByteArray h(512, '\0');
    const unsigned char sig[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    std::memcpy(h.data(), sig, 8);
    put16(h, 0x18, 0x003E);
    put16(h, 0x1A, 0x0003);
    put16(h, 0x1C, 0xFFFE);
    put16(h, 0x1E, 9);
    put16(h, 0x20, 6);
    put32(h, 0x2C, f);
    put32(h, 0x30, dirSector);
    put32(h, 0x38, 4096);
    put32(h, 0x3C, EndOfChain);
    put32(h, 0x44, d ? difStart : EndOfChain);
    put32(h, 0x48, d);
    for (quint32 i = 0; i < 109; ++i)
        put32(h, 0x4C + 4 * i, i < f ? fatStart + i : FreeSect);
    std::memcpy(file.data(), h.constData(), 512);
}

}  // namespace

int columnWidthUnits(int px) {
    if (px >= 12)
        return int(std::min<qint64>(qint64(px - 5) * 256 / 7, 0x10000));
    return std::max(0, px) * 256 / 12;
}

QByteArray toBytes(const Workbook& book) {
    if (book.sheets.empty())
        fail(QStringLiteral("В книге нет ни одного листа"));
    for (size_t i = 0; i < book.sheets.size(); ++i)
        checkName(book, i);
    if (book.sheets.size() > 0xFFFF)
        fail(QStringLiteral("Слишком много листов"));

    StyleTable styles;
    StringTable strings;
    std::vector<Blip> blips;
    QHash<QByteArray, int> blipIndex;
    size_t cellCount = 0;
    for (const Sheet& s : book.sheets)
        cellCount += s.cells.size();
    strings.reserve(qsizetype(std::min<size_t>(cellCount, 1u << 20)));

    std::vector<SheetWriter> writers;
    writers.reserve(book.sheets.size());
    for (size_t i = 0; i < book.sheets.size(); ++i) {
        writers.emplace_back(book.sheets[i], i == 0, styles, strings, blips, blipIndex);
        writers.back().prepare();
    }
    // Drawings: shape ids in clusters of 1024 per sheet with pictures.
    std::vector<std::pair<quint32, quint32>> clusters;
    quint32 spidMax = 1024, shapes = 0, dg = 0;
    for (SheetWriter& w : writers) {
        const quint32 n = w.pictureCount();
        if (n == 0)
            continue;
        if (n + 1 > 1024)
            fail(QStringLiteral("Слишком много рисунков на одном листе"));
        ++dg;
        const quint32 first = (spidMax + 1023) / 1024 * 1024;
        w.setDrawing(dg, first);
        spidMax = first + n + 1;
        shapes += n + 1;
        clusters.push_back({dg, n + 1});
    }

    // Sheets first: they fill the string and style tables.
    QByteArray sheetBytes;
    sheetBytes.reserve(qsizetype(cellCount) * 20 + 4096);
    Bytes sheetsOut(sheetBytes);
    std::vector<qsizetype> sheetStart;
    for (SheetWriter& w : writers) {
        sheetStart.push_back(sheetsOut.size());
        w.write(sheetsOut);
    }

    QByteArray file(512, '\0');  // the compound file header goes here
    file.reserve(512 + sheetBytes.size() + qsizetype(cellCount) * 12 + 65536);
    QByteArray globals;
    Bytes g(globals);
    SheetWriter::bof(g, 0x0005);
    record(g, rCODEPAGE, QByteArray::fromHex("b004"));
    record(g, rWINDOW1, QByteArray::fromHex("00000000bc2572153800000000000100" "5802"));
    record(g, rDATEMODE, QByteArray::fromHex("0000"));
    styles.write(g);
    std::vector<qsizetype> boundsheetAt;
    for (const Sheet& s : book.sheets) {
        QByteArray b;
        Bytes o(b);
        o.u32(0);  // offset, filled in below
        o.u8(0);
        o.u8(0);
        putString(o, s.name, true);
        boundsheetAt.push_back(g.size() + 4);
        record(g, rBOUNDSHEET, b);
    }
    if (!blips.empty())
        splitRecord(g, rMSODRAWINGGROUP, drawingGroup(blips, spidMax, clusters, shapes));
    strings.write(g, 0);
    emptyRecord(g, rEOF);

    if (globals.size() + sheetBytes.size() > qsizetype(0x7FFF0000))
        fail(QStringLiteral("Книга слишком велика для формата .xls"));
    for (size_t i = 0; i < boundsheetAt.size(); ++i)
        put32(globals, boundsheetAt[i], quint32(globals.size() + sheetStart[i]));
    file.append(globals);
    globals.clear();
    file.append(sheetBytes);
    sheetBytes.clear();
    sheetBytes.squeeze();
    wrapCompoundFile(file);
    return file;
}

void save(const Workbook& book, const QString& path) {
    const QString shown = QDir::toNativeSeparators(path);
    auto failed = [&](const QString& why) { fail(QStringLiteral("Не удалось записать файл %1: %2").arg(shown, why)); };
    const QFileInfo info(path);
    if (info.exists() && !info.isFile())
        failed(info.isDir() ? QStringLiteral("это папка") : QStringLiteral("это не обычный файл"));
    if (info.exists() && !info.isWritable())
        failed(QStringLiteral("файл защищён от записи"));
    if (!notRegularFileReason(path).isEmpty())  // a device name (NUL, COM1 ...) on Windows
        failed(QStringLiteral("это не обычный файл"));

    const QByteArray bytes = toBytes(book);
    QSaveFile out(path);
    out.setDirectWriteFallback(false);
    // The reason is taken from errno right after the failing call: a write
    // that stops short (a full disk) leaves the device without an error.
    errno = 0;
    if (!out.open(QIODevice::WriteOnly))
        failed(fileErrorText(out.error(), errno));
    errno = 0;
    if (out.write(bytes) != bytes.size() || !out.flush()) {
        const QString why = fileErrorText(out.error(), errno);
        out.cancelWriting();
        failed(why);
    }
    errno = 0;
    if (!out.commit())
        failed(fileErrorText(out.error(), errno));
}

}  // namespace xls
