#pragma once
// Single-byte code pages of table files: byte <-> UTF-16 tables, built once
// per code page.

#include <QByteArray>
#include <QString>
#include <QStringView>

#include <cstdint>
#include <vector>

namespace dbf::detail {

struct Codec {
    char16_t toUnicode[256];
    std::vector<uint8_t> fromUnicode;  // 65536 entries; 0 = not representable

    QString decode(const char* p, qsizetype n) const {
        QString s(n, Qt::Uninitialized);
        QChar* out = s.data();
        for (qsizetype i = 0; i < n; ++i)
            out[i] = QChar(toUnicode[uint8_t(p[i])]);
        return s;
    }
    // Writes at most `width` bytes; returns the count.  Characters the code
    // page lacks become '?', and `missing` (when given) is set to the index
    // in `s` of the first of them, else left alone.
    int encode(QStringView s, char* out, int width, qsizetype* missing = nullptr) const {
        int n = 0;
        for (qsizetype i = 0; i < s.size() && n < width; ++i) {
            const char16_t c = s[i].unicode();
            if (c < 0x80) {
                out[n++] = char(c);
            } else {
                const uint8_t b = fromUnicode[c];
                if (!b && missing && *missing < 0)
                    *missing = i;
                out[n++] = b ? char(b) : '?';
            }
        }
        return n;
    }
};

// The tables of a code page named as QStringDecoder names it.
const Codec& codecFor(const QByteArray& name);

// The code page's name as the user knows it ("Windows-1251", "DOS 866" ...).
QString codePageTitle(const QByteArray& name);

}  // namespace dbf::detail
