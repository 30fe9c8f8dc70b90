#pragma once
// A small independent reader for the tests of the workbook writer: the
// compound file (FAT, DIFAT, directory), BIFF records and the string table.
// It checks what it reads and reports the first fault it finds.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <cstring>
#include <vector>

namespace xlstest {

inline quint32 le16(const QByteArray& b, qsizetype at) {
    return quint32(uchar(b[at])) | (quint32(uchar(b[at + 1])) << 8);
}
inline quint32 le32(const QByteArray& b, qsizetype at) { return le16(b, at) | (le16(b, at + 2) << 16); }
inline double leF64(const QByteArray& b, qsizetype at) {
    quint64 u = quint64(le32(b, at)) | (quint64(le32(b, at + 4)) << 32);
    double d;
    std::memcpy(&d, &u, 8);
    return d;
}

struct Compound {
    QByteArray stream;        // the Workbook stream, declared size
    quint32 fatSectors = 0;
    quint32 difatSectors = 0;
    QString fault;            // empty when the file is sound
};

// Reads the "Workbook" stream the way a reader of compound files does.
inline Compound readCompound(const QByteArray& f) {
    Compound c;
    auto bad = [&](const QString& why) {
        c.fault = why;
        return c;
    };
    static const unsigned char sig[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    if (f.size() < 1024 || std::memcmp(f.constData(), sig, 8) != 0)
        return bad("no compound file signature");
    if (f.size() % 512 != 0)
        return bad("file size is not whole sectors");
    if (le16(f, 0x18) != 0x3E || le16(f, 0x1A) != 3 || le16(f, 0x1C) != 0xFFFE || le16(f, 0x1E) != 9 ||
        le16(f, 0x20) != 6 || le32(f, 0x38) != 4096 || le32(f, 0x3C) != 0xFFFFFFFE || le32(f, 0x40) != 0)
        return bad("header fields");
    const quint32 sectors = quint32(f.size() / 512 - 1);
    c.fatSectors = le32(f, 0x2C);
    c.difatSectors = le32(f, 0x48);
    auto sector = [&](quint32 s) { return f.mid(qsizetype(512) * (s + 1), 512); };
    std::vector<quint32> fatList;
    for (int i = 0; i < 109; ++i) {
        const quint32 s = le32(f, 0x4C + 4 * i);
        if (s != 0xFFFFFFFF)
            fatList.push_back(s);
    }
    std::vector<quint32> difatList;
    quint32 d = le32(f, 0x44);
    for (quint32 i = 0; i < c.difatSectors; ++i) {
        if (d >= sectors)
            return bad("DIFAT chain leaves the file");
        difatList.push_back(d);
        const QByteArray s = sector(d);
        for (int k = 0; k < 127; ++k)
            if (le32(s, 4 * k) != 0xFFFFFFFF)
                fatList.push_back(le32(s, 4 * k));
        d = le32(s, 508);
    }
    if (c.difatSectors && d != 0xFFFFFFFE)
        return bad("DIFAT chain does not end");
    if (fatList.size() != c.fatSectors)
        return bad(QStringLiteral("FAT sector count %1, listed %2").arg(c.fatSectors).arg(fatList.size()));
    std::vector<quint32> fat;
    for (quint32 s : fatList) {
        if (s >= sectors)
            return bad("FAT sector outside the file");
        const QByteArray b = sector(s);
        for (int k = 0; k < 128; ++k)
            fat.push_back(le32(b, 4 * k));
    }
    if (fat.size() < sectors)
        return bad("FAT does not cover the file");
    for (quint32 s : fatList)
        if (fat[s] != 0xFFFFFFFD)
            return bad("FAT sector not marked as such");
    for (quint32 s : difatList)
        if (fat[s] != 0xFFFFFFFC)
            return bad("DIFAT sector not marked as such");
    auto chain = [&](quint32 start, std::vector<quint32>& out) {
        std::vector<char> seen(sectors, 0);
        for (quint32 s = start; s != 0xFFFFFFFE; s = fat[s]) {
            if (s >= sectors || seen[s])
                return false;
            seen[s] = 1;
            out.push_back(s);
        }
        return true;
    };
    std::vector<quint32> dir;
    if (!chain(le32(f, 0x30), dir))
        return bad("directory chain broken");
    QByteArray entries;
    for (quint32 s : dir)
        entries += sector(s);
    if (le16(entries, 64) != 22 || entries[66] != 5)
        return bad("root entry");
    if (le32(entries, 120) != 0)
        return bad("root entry claims a mini stream");
    const quint32 child = le32(entries, 76);
    if (qsizetype(child) * 128 >= entries.size())
        return bad("root entry has no child");
    const QByteArray e = entries.mid(qsizetype(child) * 128, 128);
    if (QString::fromUtf16(reinterpret_cast<const char16_t*>(e.constData()), 8) != QLatin1String("Workbook") ||
        le16(e, 64) != 18 || e[66] != 2)
        return bad("no Workbook stream entry");
    const quint32 size = le32(e, 120);
    if (size < 4096)
        return bad("Workbook stream below the mini-stream cutoff");
    std::vector<quint32> data;
    if (!chain(le32(e, 116), data))
        return bad("stream chain broken");
    if (data.size() != (size + 511) / 512)
        return bad("stream chain length does not match its size");
    c.stream.reserve(qsizetype(data.size()) * 512);
    for (quint32 s : data)
        c.stream += sector(s);
    c.stream.truncate(size);
    return c;
}

struct Record {
    quint32 id;
    QByteArray data;
    qsizetype offset;  // of the record header in the stream
};

// Records from `from` to the end of the data (zero padding ends it).
inline std::vector<Record> records(const QByteArray& s, qsizetype from = 0) {
    std::vector<Record> out;
    qsizetype at = from;
    while (at + 4 <= s.size()) {
        const quint32 id = le16(s, at), len = le16(s, at + 2);
        if (id == 0 && len == 0)
            break;
        out.push_back({id, s.mid(at + 4, len), at});
        at += 4 + len;
    }
    return out;
}

// Records of one substream: from the BOF at `offset` through its EOF.
inline std::vector<Record> substream(const QByteArray& s, qsizetype offset) {
    std::vector<Record> all = records(s, offset), out;
    for (const Record& r : all) {
        out.push_back(r);
        if (r.id == 0x000A)
            break;
    }
    return out;
}

// The strings of an SST record and its CONTINUE records, each checked for
// the splitting rules.
struct Sst {
    quint32 total = 0, unique = 0;
    QStringList strings;
    std::vector<qsizetype> stringOffset;  // stream offset of each string
    QString fault;
};

inline Sst readSst(const std::vector<Record>& recs, size_t sstIndex) {
    Sst out;
    std::vector<const Record*> parts{&recs[sstIndex]};
    for (size_t i = sstIndex + 1; i < recs.size() && recs[i].id == 0x003C; ++i)
        parts.push_back(&recs[i]);
    out.total = le32(parts[0]->data, 0);
    out.unique = le32(parts[0]->data, 4);
    size_t p = 0;
    qsizetype pos = 8;
    auto avail = [&] { return parts[p]->data.size() - pos; };
    for (quint32 i = 0; i < out.unique; ++i) {
        if (avail() == 0) {
            if (++p >= parts.size()) {
                out.fault = QStringLiteral("string %1 missing").arg(i);
                return out;
            }
            pos = 0;
        }
        if (avail() < 3) {
            out.fault = QStringLiteral("string %1: count and flags split").arg(i);
            return out;
        }
        out.stringOffset.push_back(parts[p]->offset + 4 + pos);
        const QByteArray& d0 = parts[p]->data;
        const quint32 count = le16(d0, pos);
        uchar flags = uchar(d0[pos + 2]);
        pos += 3;
        if (flags > 1) {
            out.fault = QStringLiteral("string %1: flags %2").arg(i).arg(flags);
            return out;
        }
        if (count > 0 && avail() < (flags ? 2 : 1)) {
            out.fault = QStringLiteral("string %1: first character split from its count").arg(i);
            return out;
        }
        QString s;
        s.reserve(count);
        while (quint32(s.size()) < count) {
            if (avail() == 0) {
                if (++p >= parts.size()) {
                    out.fault = QStringLiteral("string %1 runs past the last record").arg(i);
                    return out;
                }
                pos = 0;
                flags = uchar(parts[p]->data[0]);
                pos = 1;
                if (flags > 1) {
                    out.fault = QStringLiteral("string %1: continued flags %2").arg(i).arg(flags);
                    return out;
                }
            }
            const QByteArray& d = parts[p]->data;
            const int unit = flags ? 2 : 1;
            if (avail() % unit != 0 && avail() < unit) {
                out.fault = QStringLiteral("string %1: a character is split").arg(i);
                return out;
            }
            while (quint32(s.size()) < count && avail() >= unit) {
                s.append(QChar(char16_t(unit == 2 ? le16(d, pos) : quint32(uchar(d[pos])))));
                pos += unit;
            }
            if (quint32(s.size()) < count && avail() != 0) {
                out.fault = QStringLiteral("string %1: a character is split").arg(i);
                return out;
            }
        }
        out.strings << s;
    }
    if (p + 1 != parts.size() || avail() != 0)
        out.fault = "bytes left after the last string";
    return out;
}

// A record's string with a 2-byte count (or a 1-byte count: shortForm).
inline QString readString(const QByteArray& d, qsizetype at, bool shortForm) {
    const quint32 n = shortForm ? quint32(uchar(d[at])) : le16(d, at);
    at += shortForm ? 1 : 2;
    const bool wide = d[at++] & 1;
    QString s;
    for (quint32 i = 0; i < n; ++i)
        s.append(QChar(char16_t(wide ? le16(d, at + 2 * i) : quint32(uchar(d[at + i])))));
    return s;
}

}  // namespace xlstest
