#pragma once
// Helpers shared by the table engine tests: hand-built table files and raw
// file access.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <vector>

namespace dbftest {

struct RawField {
    QByteArray name;
    char type;
    int width;
    int decimals;
};

// Builds table bytes the way an independent writer would: every value given
// as the exact bytes of the field (flag byte excluded).
inline QByteArray makeTable(const std::vector<RawField>& fields,
                            const std::vector<std::vector<QByteArray>>& rows, uint8_t ldid = 0xC9,
                            uint8_t version = 0x03, bool eofMarker = true) {
    const int headerLen = 32 + 32 * int(fields.size()) + 1;
    int recLen = 1;
    for (const RawField& f : fields)
        recLen += f.width;
    QByteArray h(headerLen, '\0');
    h[0] = char(version);
    h[1] = char(124);
    h[2] = 5;
    h[3] = 17;
    const quint32 n = quint32(rows.size());
    for (int i = 0; i < 4; ++i)
        h[4 + i] = char((n >> (8 * i)) & 0xFF);
    h[8] = char(headerLen & 0xFF);
    h[9] = char(headerLen >> 8);
    h[10] = char(recLen & 0xFF);
    h[11] = char(recLen >> 8);
    h[29] = char(ldid);
    for (size_t i = 0; i < fields.size(); ++i) {
        char* d = h.data() + 32 + 32 * i;
        memcpy(d, fields[i].name.constData(), size_t(fields[i].name.size()));
        d[11] = fields[i].type;
        d[16] = char(fields[i].width);
        d[17] = char(fields[i].decimals);
    }
    h[headerLen - 1] = 0x0D;
    for (const auto& row : rows) {
        QByteArray rec(1, ' ');
        for (size_t i = 0; i < fields.size(); ++i) {
            QByteArray v = i < row.size() ? row[i] : QByteArray();
            if (v.size() < fields[i].width)
                v += QByteArray(fields[i].width - v.size(), ' ');
            rec += v.left(fields[i].width);
        }
        h += rec;
    }
    if (eofMarker)
        h += char(0x1A);
    return h;
}

inline QByteArray readAll(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

inline bool writeAll(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return f.write(bytes) == bytes.size();
}

// Files in a folder other than the given names (leftover temp files).
inline QStringList strayFiles(const QString& dir, const QStringList& expected) {
    QStringList out;
    const auto all = QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& f : all)
        if (!expected.contains(f))
            out << f;
    return out;
}

inline QString workDir() {
    const QString w = qEnvironmentVariable("DORK5_TEST_WORKDIR");
    return w.isEmpty() ? QDir::currentPath() : w;
}

}  // namespace dbftest
