#include "ground/version_info.h"

#include <QFile>
#include <QStringList>
#include <QtEndian>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

constexpr uint32_t kFixedSignature = 0xFEEF04BD;
constexpr int kFixedSize = 52;

void putU16(QByteArray& b, int at, uint16_t v) { qToLittleEndian<uint16_t>(v, b.data() + at); }
void appendU16(QByteArray& b, uint16_t v)
{
    char x[2];
    qToLittleEndian<uint16_t>(v, x);
    b.append(x, 2);
}
void appendU32(QByteArray& b, uint32_t v)
{
    char x[4];
    qToLittleEndian<uint32_t>(v, x);
    b.append(x, 4);
}
void appendWide(QByteArray& b, const QString& s)
{
    for (QChar c : s)
        appendU16(b, c.unicode());
    appendU16(b, 0);
}
void pad32(QByteArray& b)
{
    while (b.size() % 4)
        b.append('\0');
}

// One node: header (length, value length, type), key, padding, value,
// padding, children.  valueLength counts words for text values.
QByteArray node(const QString& key, const QByteArray& value, uint16_t valueLength, uint16_t type,
                const std::vector<QByteArray>& children)
{
    QByteArray b;
    appendU16(b, 0);
    appendU16(b, valueLength);
    appendU16(b, type);
    appendWide(b, key);
    pad32(b);
    b.append(value);
    for (const QByteArray& c : children) {
        pad32(b);
        b.append(c);
    }
    putU16(b, 0, uint16_t(b.size()));
    return b;
}

struct Node {
    QString key;
    QByteArray value;
    uint16_t type = 0;
    int childrenStart = 0, end = 0;
};

uint16_t u16(const QByteArray& b, int at) { return qFromLittleEndian<uint16_t>(b.constData() + at); }

// Parses the node at offset `at` within [at, limit); false when malformed.
bool parseNode(const QByteArray& b, int at, int limit, Node& n)
{
    if (at < 0 || at + 6 > limit)
        return false;
    const int length = u16(b, at);
    const int valueLength = u16(b, at + 2);
    n.type = u16(b, at + 4);
    if (length < 6 || at + length > limit)
        return false;
    n.end = at + length;
    int p = at + 6;
    n.key.clear();
    while (true) {
        if (p + 2 > n.end)
            return false;
        const uint16_t c = u16(b, p);
        p += 2;
        if (!c)
            break;
        n.key += QChar(c);
    }
    p = (p + 3) & ~3;
    const int valueBytes = n.type == 1 ? valueLength * 2 : valueLength;
    if (p + valueBytes > n.end)
        return false;
    n.value = b.mid(p, valueBytes);
    n.childrenStart = (p + valueBytes + 3) & ~3;
    return true;
}

bool validBlock(const QByteArray& b, int at)
{
    Node root;
    if (!parseNode(b, at, b.size(), root) || root.key != QLatin1String("VS_VERSION_INFO"))
        return false;
    return root.value.size() == kFixedSize && qFromLittleEndian<uint32_t>(root.value.constData()) == kFixedSignature;
}

}  // namespace

QByteArray buildVersionInfo(const VersionFields& f)
{
    QByteArray fixed;
    appendU32(fixed, kFixedSignature);
    appendU32(fixed, 0x00010000);  // structure version
    appendU32(fixed, uint32_t(f.major) << 16 | f.minor);
    appendU32(fixed, uint32_t(f.patch) << 16 | f.build);
    appendU32(fixed, uint32_t(f.major) << 16 | f.minor);
    appendU32(fixed, uint32_t(f.patch) << 16 | f.build);
    appendU32(fixed, 0x3F);  // flags mask
    appendU32(fixed, 0);     // flags
    appendU32(fixed, 0x40004);  // VOS_NT_WINDOWS32
    appendU32(fixed, 1);        // VFT_APP
    appendU32(fixed, 0);
    appendU32(fixed, 0);
    appendU32(fixed, 0);

    std::vector<QByteArray> strings;
    for (const auto& [name, text] : f.strings) {
        QByteArray v;
        appendWide(v, text);
        strings.push_back(node(name, v, uint16_t(text.size() + 1), 1, {}));
    }
    const QString tableKey = QStringLiteral("%1%2")
                                 .arg(f.language, 4, 16, QLatin1Char('0'))
                                 .arg(f.codePage, 4, 16, QLatin1Char('0'))
                                 .toUpper();
    const QByteArray table = node(tableKey, {}, 0, 1, strings);
    const QByteArray stringInfo = node(QStringLiteral("StringFileInfo"), {}, 0, 1, {table});
    QByteArray translation;
    appendU16(translation, f.language);
    appendU16(translation, f.codePage);
    const QByteArray var = node(QStringLiteral("Translation"), translation, 4, 0, {});
    const QByteArray varInfo = node(QStringLiteral("VarFileInfo"), {}, 0, 1, {var});
    return node(QStringLiteral("VS_VERSION_INFO"), fixed, kFixedSize, 0, {stringInfo, varInfo});
}

QByteArray queryVersionValue(const QByteArray& block, const QString& path)
{
    Node cur;
    if (!parseNode(block, 0, block.size(), cur))
        return {};
    const QStringList parts = path.split(QLatin1Char('\\'), Qt::SkipEmptyParts);
    for (const QString& part : parts) {
        bool found = false;
        for (int p = cur.childrenStart; p + 6 <= cur.end;) {
            Node child;
            if (!parseNode(block, p, cur.end, child))
                return {};
            if (child.key.compare(part, Qt::CaseInsensitive) == 0) {
                cur = child;
                found = true;
                break;
            }
            p = (child.end + 3) & ~3;
        }
        if (!found)
            return {};
    }
    return cur.value;
}

QString queryVersionString(const QByteArray& block, const QString& path)
{
    const QByteArray v = queryVersionValue(block, path);
    QString s;
    for (int i = 0; i + 1 < v.size(); i += 2) {
        const uint16_t c = u16(v, i);
        if (!c)
            break;
        s += QChar(c);
    }
    return s;
}

QString versionFromBlock(const QByteArray& block)
{
    QString key;
    const QByteArray tr = queryVersionValue(block, QStringLiteral("\\VarFileInfo\\Translation"));
    if (tr.size() > 3)
        key = QStringLiteral("%1%2")
                  .arg(u16(tr, 0), 4, 16, QLatin1Char('0'))
                  .arg(u16(tr, 2), 4, 16, QLatin1Char('0'))
                  .toUpper();
    const QString v = queryVersionString(block, QStringLiteral("\\StringFileInfo\\") + key + QStringLiteral("\\FileVersion"));
    return v.size() < 2 ? QStringLiteral("0.0.0.0") : v;
}

QByteArray findVersionBlock(const QByteArray& bytes)
{
    QByteArray key;
    appendWide(key, QStringLiteral("VS_VERSION_INFO"));
    for (qsizetype at = bytes.indexOf(key); at >= 0; at = bytes.indexOf(key, at + 1)) {
        const qsizetype start = at - 6;
        if (start < 0)
            continue;
        // Offsets inside the block are aligned to its own start.
        const QByteArray block = bytes.mid(start, u16(bytes, int(start)));
        if (validBlock(block, 0))
            return block;
    }
    return {};
}

namespace {

// The version block found in a file's bytes.
QString scannedVersion(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QStringLiteral("0.0.0.0");
    const QByteArray block = findVersionBlock(f.readAll());
    return block.isEmpty() ? QStringLiteral("0.0.0.0") : versionFromBlock(block);
}

}  // namespace

QString get_version(const QString& path)
{
#ifdef _WIN32
    // The system reads executables; any other file is searched as elsewhere.
    const std::wstring w = path.toStdWString();
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeW(w.c_str(), &handle);
    if (size == 0)
        return scannedVersion(path);
    QByteArray data(int(size) + 1, '\0');
    if (!GetFileVersionInfoW(w.c_str(), 0, size, data.data()))
        return QStringLiteral("0.0.0.0");
    QString key;
    void* p = nullptr;
    UINT len = 0;
    if (VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation", &p, &len) && len > 3) {
        const auto* words = static_cast<const uint16_t*>(p);
        key = QStringLiteral("%1%2").arg(words[0], 4, 16, QLatin1Char('0')).arg(words[1], 4, 16, QLatin1Char('0')).toUpper();
    }
    const std::wstring q = (QStringLiteral("\\StringFileInfo\\") + key + QStringLiteral("\\FileVersion")).toStdWString();
    if (!VerQueryValueW(data.data(), q.c_str(), &p, &len) || len < 2)
        return QStringLiteral("0.0.0.0");
    return QString::fromWCharArray(static_cast<const wchar_t*>(p));
#else
    return scannedVersion(path);
#endif
}
