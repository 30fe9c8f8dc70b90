// dBase III+/IV table engine.  See dbf.h for the interface.
//
// Layout on disk: a 32-byte header, one 32-byte descriptor per field, 0x0D,
// then fixed-length records (deletion flag + fields), then 0x1A.
//
// Decisions worth knowing when reading this file:
//  * Accepted version bytes: 0x03 (dBase III+/IV) and the variants that share
//    its layout (0x43, 0x63 dBase IV SQL tables; 0x83, 0x8B, 0xCB, 0xF5 memo
//    variants, only as long as no memo field is declared, since memo fields are
//    refused).  Anything else (dBase 7, Visual FoxPro ...) is Corrupt.
//  * Field types: C and N; F is handled exactly like N; D and L are handled as
//    character fields (their text is read and written as is, a date of zeros
//    reads as empty/null).  Any other type makes the file Corrupt.
//  * A number too wide for its field is stored with fewer decimals; if even
//    the integer part does not fit, the field is filled with '*' (as dBase
//    does), which reads back as null.  Neighbouring fields are never touched.
//  * The record count in the header is authoritative as long as the file holds
//    that many records; a file shorter than that is Corrupt.  Bytes after the
//    last counted record are ignored.

#include "store/dbf.h"

#include "app/system_error.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRandomGenerator>
#include <QStringDecoder>

#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <map>
#include <mutex>
#include <numeric>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace dbf {

namespace {

using E = Error::Kind;

[[noreturn]] void fail(E kind, const QString& msg) { throw Error(kind, msg); }

// ===========================================================================
// Platform file access.  Everything that differs between Windows and POSIX is
// in this namespace: exclusive open, positioned reads/writes, flush, replace.
// ===========================================================================
namespace os {

#ifdef _WIN32
using Handle = HANDLE;
const Handle kNoHandle = INVALID_HANDLE_VALUE;

std::wstring native(const QString& path) {
    return QDir::toNativeSeparators(path).toStdWString();
}

QString lastErrorText() {
    const DWORD code = GetLastError();
    wchar_t* buf = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                       FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, code, 0, reinterpret_cast<LPWSTR>(&buf), 0, nullptr);
    QString text = buf ? QString::fromWCharArray(buf).trimmed() : QString::number(code);
    if (buf)
        LocalFree(buf);
    return text;
}

// Opens an existing file for reading and writing with no sharing at all.
Handle openExclusive(const QString& path) {
    const std::wstring p = native(path);
    const DWORD attrs = GetFileAttributesW(p.c_str());
    if (attrs == INVALID_FILE_ATTRIBUTES)
        fail(E::Io, QStringLiteral("Файл %1 не найден").arg(path));
    if (attrs & FILE_ATTRIBUTE_DIRECTORY)
        fail(E::Io, QStringLiteral("%1 — папка, а не файл").arg(path));
    if (attrs & FILE_ATTRIBUTE_READONLY)
        fail(E::ReadOnly, QStringLiteral("Файл %1 только для чтения").arg(path));
    HANDLE h = CreateFileW(p.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        if (code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION)
            fail(E::Locked, QStringLiteral("Файл %1 открыт другой программой").arg(path));
        if (code == ERROR_ACCESS_DENIED || code == ERROR_WRITE_PROTECT)
            fail(E::ReadOnly, QStringLiteral("Нет права записи в файл %1").arg(path));
        fail(E::Io, QStringLiteral("Не удалось открыть %1: %2").arg(path, lastErrorText()));
    }
    return h;
}

// Creates a new file that must not exist yet, opened exclusively.
Handle createNew(const QString& path) {
    HANDLE h = CreateFileW(native(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                           CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        if (code == ERROR_ACCESS_DENIED || code == ERROR_WRITE_PROTECT)
            fail(E::ReadOnly, QStringLiteral("Нет права записи в папку файла %1").arg(path));
        fail(E::Io, QStringLiteral("Не удалось создать %1: %2").arg(path, lastErrorText()));
    }
    return h;
}

bool readAt(Handle h, qint64 off, void* buf, qint64 len) {
    char* p = static_cast<char*>(buf);
    while (len > 0) {
        OVERLAPPED ov{};
        ov.Offset = DWORD(off & 0xFFFFFFFF);
        ov.OffsetHigh = DWORD(quint64(off) >> 32);
        const DWORD chunk = DWORD(std::min<qint64>(len, 1 << 30));
        DWORD got = 0;
        if (!ReadFile(h, p, chunk, &got, &ov) || got == 0)
            return false;
        p += got;
        off += got;
        len -= got;
    }
    return true;
}

bool writeAt(Handle h, qint64 off, const void* buf, qint64 len) {
    const char* p = static_cast<const char*>(buf);
    while (len > 0) {
        OVERLAPPED ov{};
        ov.Offset = DWORD(off & 0xFFFFFFFF);
        ov.OffsetHigh = DWORD(quint64(off) >> 32);
        const DWORD chunk = DWORD(std::min<qint64>(len, 1 << 30));
        DWORD put = 0;
        if (!WriteFile(h, p, chunk, &put, &ov) || put == 0)
            return false;
        p += put;
        off += put;
        len -= put;
    }
    return true;
}

qint64 size(Handle h) {
    LARGE_INTEGER s{};
    if (!GetFileSizeEx(h, &s))
        return -1;
    return s.QuadPart;
}

bool sync(Handle h) { return FlushFileBuffers(h) != 0; }

void close(Handle& h) {
    if (h != INVALID_HANDLE_VALUE)
        CloseHandle(h);
    h = INVALID_HANDLE_VALUE;
}

void remove(const QString& path) { DeleteFileW(native(path).c_str()); }

bool replace(const QString& from, const QString& to, QString& why) {
    if (MoveFileExW(native(from).c_str(), native(to).c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    why = lastErrorText();
    return false;
}

// Windows keeps no write bits on folders; creating the file tells.
bool folderWritable(const QString&) { return true; }
bool fileMarkedReadOnly(const QString& path) {
    const DWORD attrs = GetFileAttributesW(native(path).c_str());
    return attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_READONLY);
}

// On Windows the exclusive handles must be closed before a rename.
constexpr bool kRenameNeedsClose = true;

#else  // POSIX

using Handle = int;
constexpr Handle kNoHandle = -1;

QByteArray native(const QString& path) { return QFile::encodeName(path); }

QString errnoText(int e) { return systemErrorText(e); }

bool anyWriteBit(const QString& path, bool& exists) {
    struct stat st {};
    exists = ::stat(native(path).constData(), &st) == 0;
    return exists && (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH));
}

// A file or folder without any write permission bit counts as read-only even
// for a user (root) whom the system would let write anyway, the way the
// read-only attribute works on Windows.
bool fileMarkedReadOnly(const QString& path) {
    bool exists = false;
    const bool w = anyWriteBit(path, exists);
    return exists && !w;
}

bool folderWritable(const QString& dir) {
    bool exists = false;
    const bool w = anyWriteBit(dir, exists);
    return !exists || w;  // a missing folder fails later with its own error
}

Handle openExclusive(const QString& path) {
    const QByteArray p = native(path);
    struct stat st {};
    if (::stat(p.constData(), &st) != 0)
        fail(E::Io, QStringLiteral("Файл %1 не найден").arg(path));
    if (!S_ISREG(st.st_mode))
        fail(E::Io, QStringLiteral("%1 — не обычный файл").arg(path));
    if (!(st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)))
        fail(E::ReadOnly, QStringLiteral("Файл %1 только для чтения").arg(path));
    const int fd = ::open(p.constData(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        const int e = errno;
        if (e == EACCES || e == EROFS || e == EPERM)
            fail(E::ReadOnly, QStringLiteral("Нет права записи в файл %1").arg(path));
        fail(E::Io, QStringLiteral("Не удалось открыть %1: %2").arg(path, errnoText(e)));
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int e = errno;
        ::close(fd);
        if (e == EWOULDBLOCK || e == EAGAIN)
            fail(E::Locked, QStringLiteral("Файл %1 открыт другой программой").arg(path));
        fail(E::Io, QStringLiteral("Не удалось захватить %1: %2").arg(path, errnoText(e)));
    }
    return fd;
}

Handle createNew(const QString& path) {
    const int fd = ::open(native(path).constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        const int e = errno;
        if (e == EACCES || e == EROFS || e == EPERM)
            fail(E::ReadOnly, QStringLiteral("Нет права записи в папку файла %1").arg(path));
        fail(E::Io, QStringLiteral("Не удалось создать %1: %2").arg(path, errnoText(e)));
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        fail(E::Io, QStringLiteral("Не удалось захватить %1").arg(path));
    }
    return fd;
}

bool readAt(Handle h, qint64 off, void* buf, qint64 len) {
    char* p = static_cast<char*>(buf);
    while (len > 0) {
        const ssize_t n = ::pread(h, p, size_t(std::min<qint64>(len, 1 << 30)), off_t(off));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        off += n;
        len -= n;
    }
    return true;
}

bool writeAt(Handle h, qint64 off, const void* buf, qint64 len) {
    const char* p = static_cast<const char*>(buf);
    while (len > 0) {
        const ssize_t n = ::pwrite(h, p, size_t(std::min<qint64>(len, 1 << 30)), off_t(off));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        off += n;
        len -= n;
    }
    return true;
}

qint64 size(Handle h) {
    struct stat st {};
    if (::fstat(h, &st) != 0)
        return -1;
    return st.st_size;
}

bool sync(Handle h) { return ::fsync(h) == 0; }

void close(Handle& h) {
    if (h >= 0)
        ::close(h);  // releases the flock
    h = -1;
}

void remove(const QString& path) { ::unlink(native(path).constData()); }

bool replace(const QString& from, const QString& to, QString& why) {
    if (::rename(native(from).constData(), native(to).constData()) == 0)
        return true;
    why = errnoText(errno);
    return false;
}

// POSIX keeps a lock on the file itself, so the locked temp file can be
// renamed into place and its handle kept: no moment without the lock.
constexpr bool kRenameNeedsClose = false;

#endif

// Closes a handle on scope exit unless released.
struct HandleGuard {
    Handle h = kNoHandle;
    explicit HandleGuard(Handle handle) : h(handle) {}
    ~HandleGuard() { close(h); }
    Handle release() {
        Handle r = h;
        h = kNoHandle;
        return r;
    }
    HandleGuard(const HandleGuard&) = delete;
    HandleGuard& operator=(const HandleGuard&) = delete;
};

QString tempNameBeside(const QString& path) {
    const QFileInfo fi(path);
    return fi.absoluteDir().filePath(
        QStringLiteral(".%1.%2.tmp")
            .arg(fi.fileName())
            .arg(QRandomGenerator::global()->generate64(), 16, 16, QLatin1Char('0')));
}

}  // namespace os

// ===========================================================================
// Code pages.  Single-byte code pages are turned into tables once, through
// QStringDecoder; if the Qt build cannot convert a code page we need, the
// built-in table of that code page is used instead.
// ===========================================================================

constexpr char16_t kCp1251[128] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039,
    0x040A, 0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0xFFFD, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408,
    0x00A4, 0x0490, 0x00A6, 0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB,
    0x0458, 0x0405, 0x0455, 0x0457, 0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417,
    0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F, 0x0420, 0x0421, 0x0422, 0x0423,
    0x0424, 0x0425, 0x0426, 0x0427, 0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437, 0x0438, 0x0439, 0x043A, 0x043B,
    0x043C, 0x043D, 0x043E, 0x043F, 0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F,
};
constexpr char16_t kCp866[128] = {
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417, 0x0418, 0x0419, 0x041A, 0x041B,
    0x041C, 0x041D, 0x041E, 0x041F, 0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427,
    0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F, 0x0430, 0x0431, 0x0432, 0x0433,
    0x0434, 0x0435, 0x0436, 0x0437, 0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557,
    0x255D, 0x255C, 0x255B, 0x2510, 0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559,
    0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447, 0x0448, 0x0449, 0x044A, 0x044B,
    0x044C, 0x044D, 0x044E, 0x044F, 0x0401, 0x0451, 0x0404, 0x0454, 0x0407, 0x0457, 0x040E, 0x045E,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x2116, 0x00A4, 0x25A0, 0x00A0,
};
constexpr char16_t kCp1252[128] = {
    0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160, 0x2039,
    0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178, 0x00A0, 0x00A1, 0x00A2, 0x00A3,
    0x00A4, 0x00A5, 0x00A6, 0x00A7, 0x00A8, 0x00A9, 0x00AA, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x00AF,
    0x00B0, 0x00B1, 0x00B2, 0x00B3, 0x00B4, 0x00B5, 0x00B6, 0x00B7, 0x00B8, 0x00B9, 0x00BA, 0x00BB,
    0x00BC, 0x00BD, 0x00BE, 0x00BF, 0x00C0, 0x00C1, 0x00C2, 0x00C3, 0x00C4, 0x00C5, 0x00C6, 0x00C7,
    0x00C8, 0x00C9, 0x00CA, 0x00CB, 0x00CC, 0x00CD, 0x00CE, 0x00CF, 0x00D0, 0x00D1, 0x00D2, 0x00D3,
    0x00D4, 0x00D5, 0x00D6, 0x00D7, 0x00D8, 0x00D9, 0x00DA, 0x00DB, 0x00DC, 0x00DD, 0x00DE, 0x00DF,
    0x00E0, 0x00E1, 0x00E2, 0x00E3, 0x00E4, 0x00E5, 0x00E6, 0x00E7, 0x00E8, 0x00E9, 0x00EA, 0x00EB,
    0x00EC, 0x00ED, 0x00EE, 0x00EF, 0x00F0, 0x00F1, 0x00F2, 0x00F3, 0x00F4, 0x00F5, 0x00F6, 0x00F7,
    0x00F8, 0x00F9, 0x00FA, 0x00FB, 0x00FC, 0x00FD, 0x00FE, 0x00FF,
};

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
    // page lacks become '?'.
    int encode(QStringView s, char* out, int width) const {
        int n = 0;
        for (qsizetype i = 0; i < s.size() && n < width; ++i) {
            const char16_t c = s[i].unicode();
            if (c < 0x80) {
                out[n++] = char(c);
            } else {
                const uint8_t b = fromUnicode[c];
                out[n++] = b ? char(b) : '?';
            }
        }
        return n;
    }
};

const Codec& codecFor(const QByteArray& name) {
    static std::mutex mutex;
    static std::map<QByteArray, std::unique_ptr<Codec>> cache;
    std::lock_guard<std::mutex> lock(mutex);
    auto& slot = cache[name];
    if (slot)
        return *slot;
    auto c = std::make_unique<Codec>();
    for (int b = 0; b < 128; ++b)
        c->toUnicode[b] = char16_t(b);
    const char16_t* builtIn = name == "windows-1251" ? kCp1251
                              : name == "IBM866"     ? kCp866
                              : name == "windows-1252" ? kCp1252
                                                       : nullptr;
    QStringDecoder dec(name.constData(), QStringConverter::Flag::Stateless);
    for (int b = 128; b < 256; ++b) {
        char16_t u = builtIn ? builtIn[b - 128] : char16_t(0xFFFD);
        if (dec.isValid()) {
            const char byte = char(b);
            const QString one = dec.decode(QByteArrayView(&byte, 1));
            if (one.size() == 1)
                u = one.at(0).unicode();
        }
        c->toUnicode[b] = u;
    }
    c->fromUnicode.assign(65536, 0);
    for (int b = 255; b >= 128; --b)  // lowest byte wins for duplicates
        if (c->toUnicode[b] != 0xFFFD)
            c->fromUnicode[c->toUnicode[b]] = uint8_t(b);
    slot = std::move(c);
    return *slot;
}

// ===========================================================================
// Numbers in records
// ===========================================================================

// Parses a numeric field.  Blank, '*'-filled and malformed text is null
// (returns false).  Accepts leading/trailing blanks, a sign, '.' or ',' as the
// decimal point and an exponent.
bool parseNumber(const char* p, int w, double& out) {
    int b = 0, e = w;
    while (b < e && p[b] == ' ')
        ++b;
    while (e > b && (p[e - 1] == ' ' || p[e - 1] == '\0'))
        --e;
    if (b == e)
        return false;
    if (p[b] == '+')
        ++b;
    if (b == e)
        return false;
    char buf[300];
    const char* s = p + b;
    const int n = e - b;
    if (n >= int(sizeof buf))
        return false;
    if (std::memchr(s, ',', size_t(n))) {
        std::memcpy(buf, s, size_t(n));
        std::replace(buf, buf + n, ',', '.');
        s = buf;
    }
    // from_chars would also accept "inf" and "nan"; a field holds digits only.
    const char c0 = s[0] == '-' && n > 1 ? s[1] : s[0];
    if (!((c0 >= '0' && c0 <= '9') || c0 == '.'))
        return false;
    double v = 0;
    const auto r = std::from_chars(s, s + n, v);
    if (r.ec != std::errc() || r.ptr != s + n || !std::isfinite(v))
        return false;
    out = v;
    return true;
}

// Writes v right-aligned into a numeric field of `width` with `decimals`
// digits after the point (printf "%W.Df").  Too wide: fewer decimals, else
// '*' fill.  NaN/infinity store a blank (null).
void formatNumber(double v, int width, int decimals, char* out) {
    if (!std::isfinite(v)) {
        std::memset(out, ' ', size_t(width));
        return;
    }
    if (v == 0)
        v = 0;  // no "-0.000"
    // Whole numbers (counts, numbers, modes) are most of what is written:
    // digits, then the point and zeros, without the general conversion.
    if (std::fabs(v) < 1e15 && v == std::trunc(v)) {
        char digits[24];
        int n = 0;
        unsigned long long u = static_cast<unsigned long long>(std::fabs(v));
        do {
            digits[n++] = char('0' + u % 10);
            u /= 10;
        } while (u);
        const int len = (v < 0) + n + (decimals > 0 ? 1 + decimals : 0);
        if (len <= width) {
            char* p = out;
            std::memset(p, ' ', size_t(width - len));
            p += width - len;
            if (v < 0)
                *p++ = '-';
            while (n)
                *p++ = digits[--n];
            if (decimals > 0) {
                *p++ = '.';
                std::memset(p, '0', size_t(decimals));
            }
            return;
        }
    }
    char buf[400];
    for (int dec = decimals; dec >= 0; --dec) {
        const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, dec);
        if (r.ec != std::errc())
            break;
        const int len = int(r.ptr - buf);
        if (len <= width) {
            std::memset(out, ' ', size_t(width - len));
            std::memcpy(out + (width - len), buf, size_t(len));
            return;
        }
    }
    std::memset(out, '*', size_t(width));
}

QByteArrayView trimmedBytes(const char* p, int w) {
    int b = 0, e = w;
    while (b < e && p[b] == ' ')
        ++b;
    while (e > b && (p[e - 1] == ' ' || p[e - 1] == '\0'))
        --e;
    return QByteArrayView(p + b, e - b);
}

// ===========================================================================
// Filter expressions
// ===========================================================================

struct Field {
    FieldDef def;
    int offset = 0;        // from the start of the record (flag byte included)
    bool numeric = false;  // N or F
    bool date = false;     // D: zeros or blanks read as null
};

enum class Cmp { Eq, Ne, Lt, Gt, Le, Ge };

struct Node {
    enum Kind { And, Or, Not, Compare } kind = Compare;
    int a = -1, b = -1;  // children (node indexes)
    // Compare:
    int offset = 0, width = 0;
    bool numericField = false;
    Cmp op = Cmp::Eq;
    bool numberLiteral = false;  // literal compared as a number
    bool emptyLiteral = false;   // numeric field against "": null test
    double number = 0;
    QByteArray bytes;  // text literal in the file's code page, trimmed
    QString text;      // text literal, trimmed (ordering comparisons)
};

template <typename T>
bool applyCmp(Cmp op, const T& l, const T& r) {
    switch (op) {
    case Cmp::Eq: return l == r;
    case Cmp::Ne: return !(l == r);
    case Cmp::Lt: return l < r;
    case Cmp::Gt: return r < l;
    case Cmp::Le: return !(r < l);
    case Cmp::Ge: return !(l < r);
    }
    return false;
}

struct Filter {
    std::vector<Node> nodes;
    int root = -1;
    const Codec* codec = nullptr;

    bool eval(const char* rec) const { return root < 0 || evalNode(root, rec); }

    bool evalNode(int i, const char* rec) const {
        const Node& n = nodes[size_t(i)];
        switch (n.kind) {
        case Node::And: return evalNode(n.a, rec) && evalNode(n.b, rec);
        case Node::Or: return evalNode(n.a, rec) || evalNode(n.b, rec);
        case Node::Not: return !evalNode(n.a, rec);
        case Node::Compare: break;
        }
        const char* p = rec + n.offset;
        if (n.emptyLiteral) {  // numeric field = ""
            double v;
            const bool isNull = !parseNumber(p, n.width, v);
            return n.op == Cmp::Eq ? isNull : n.op == Cmp::Ne ? !isNull : false;
        }
        if (n.numberLiteral) {
            double v;
            if (!parseNumber(p, n.width, v))
                return false;  // a blank number compares with nothing
            return applyCmp(n.op, v, n.number);
        }
        const QByteArrayView t = trimmedBytes(p, n.width);
        if (n.op == Cmp::Eq)
            return t == QByteArrayView(n.bytes);
        if (n.op == Cmp::Ne)
            return t != QByteArrayView(n.bytes);
        const int c = QString::compare(codec->decode(t.data(), t.size()), n.text);
        return applyCmp(n.op, c, 0);
    }
};

class FilterParser {
public:
    FilterParser(const QString& text, const std::vector<Field>& fields, const Codec& codec,
                 const std::function<int(QStringView)>& lookup)
        : s_(text), fields_(fields), codec_(codec), lookup_(lookup) {}

    Filter parse() {
        Filter f;
        f.codec = &codec_;
        out_ = &f;
        skipSpace();
        if (pos_ < s_.size()) {
            f.root = parseOr();
            skipSpace();
            if (pos_ < s_.size())
                error(QStringLiteral("лишний текст"));
        }
        return f;
    }

private:
    QString s_;
    qsizetype pos_ = 0;
    const std::vector<Field>& fields_;
    const Codec& codec_;
    const std::function<int(QStringView)>& lookup_;
    Filter* out_ = nullptr;

    [[noreturn]] void error(const QString& what) const {
        fail(E::Filter, QStringLiteral("Ошибка в фильтре \"%1\" (позиция %2): %3")
                            .arg(s_)
                            .arg(pos_ + 1)
                            .arg(what));
    }
    void skipSpace() {
        while (pos_ < s_.size() && s_[pos_].isSpace())
            ++pos_;
    }
    static bool identStart(QChar c) {
        return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || c == u'_';
    }
    static bool identChar(QChar c) { return identStart(c) || (c >= u'0' && c <= u'9'); }

    // Consumes a keyword (AND/OR/NOT, also in the dotted .AND. form).
    bool keyword(QLatin1StringView kw) {
        skipSpace();
        qsizetype p = pos_;
        const bool dotted = p < s_.size() && s_[p] == u'.';
        if (dotted)
            ++p;
        if (p + kw.size() > s_.size())
            return false;
        if (QStringView(s_).mid(p, kw.size()).compare(kw, Qt::CaseInsensitive) != 0)
            return false;
        p += kw.size();
        if (dotted) {
            if (p >= s_.size() || s_[p] != u'.')
                return false;
            ++p;
        } else if (p < s_.size() && identChar(s_[p])) {
            return false;
        }
        pos_ = p;
        return true;
    }

    int add(Node n) {
        out_->nodes.push_back(std::move(n));
        return int(out_->nodes.size() - 1);
    }
    int parseOr() {
        int l = parseAnd();
        while (keyword(QLatin1StringView("OR"))) {
            Node n;
            n.kind = Node::Or;
            n.a = l;
            n.b = parseAnd();
            l = add(std::move(n));
        }
        return l;
    }
    int parseAnd() {
        int l = parseNot();
        while (keyword(QLatin1StringView("AND"))) {
            Node n;
            n.kind = Node::And;
            n.a = l;
            n.b = parseNot();
            l = add(std::move(n));
        }
        return l;
    }
    int parseNot() {
        if (keyword(QLatin1StringView("NOT"))) {
            Node n;
            n.kind = Node::Not;
            n.a = parseNot();
            return add(std::move(n));
        }
        return parsePrimary();
    }

    struct Operand {
        enum { FieldRef, Number, Text } kind;
        int field = -1;
        double number = 0;
        QString text;
    };

    Operand parseOperand() {
        skipSpace();
        if (pos_ >= s_.size())
            error(QStringLiteral("ожидалось поле или значение"));
        const QChar c = s_[pos_];
        if (c == u'"' || c == u'\'') {
            const qsizetype end = s_.indexOf(c, pos_ + 1);
            if (end < 0)
                error(QStringLiteral("нет закрывающей кавычки"));
            Operand o{Operand::Text, -1, 0, {}};
            o.text = s_.mid(pos_ + 1, end - pos_ - 1);
            pos_ = end + 1;
            return o;
        }
        if (c.isDigit() || c == u'-' || c == u'+' || c == u'.') {
            qsizetype p = pos_;
            if (s_[p] == u'-' || s_[p] == u'+')
                ++p;
            while (p < s_.size() && (s_[p].isDigit() || s_[p] == u'.'))
                ++p;
            bool ok = false;
            const double v = s_.mid(pos_, p - pos_).toDouble(&ok);
            if (!ok)
                error(QStringLiteral("неверное число"));
            pos_ = p;
            return Operand{Operand::Number, -1, v, {}};
        }
        if (identStart(c)) {
            qsizetype p = pos_;
            while (p < s_.size() && identChar(s_[p]))
                ++p;
            const QStringView name = QStringView(s_).mid(pos_, p - pos_);
            const int idx = lookup_(name);
            if (idx < 0)
                error(QStringLiteral("нет поля %1").arg(name));
            pos_ = p;
            return Operand{Operand::FieldRef, idx, 0, {}};
        }
        error(QStringLiteral("непонятный символ '%1'").arg(c));
    }

    bool parseOp(Cmp& op) {
        skipSpace();
        auto at = [&](const char* t) {
            const qsizetype n = qsizetype(std::strlen(t));
            if (QStringView(s_).mid(pos_, n) == QLatin1StringView(t)) {
                pos_ += n;
                return true;
            }
            return false;
        };
        if (at("<>") || at("!=") || at("#")) op = Cmp::Ne;
        else if (at("<=")) op = Cmp::Le;
        else if (at(">=")) op = Cmp::Ge;
        else if (at("==") || at("=")) op = Cmp::Eq;
        else if (at("<")) op = Cmp::Lt;
        else if (at(">")) op = Cmp::Gt;
        else return false;
        return true;
    }

    static Cmp mirror(Cmp op) {
        switch (op) {
        case Cmp::Lt: return Cmp::Gt;
        case Cmp::Gt: return Cmp::Lt;
        case Cmp::Le: return Cmp::Ge;
        case Cmp::Ge: return Cmp::Le;
        default: return op;
        }
    }

    int parsePrimary() {
        skipSpace();
        if (pos_ < s_.size() && s_[pos_] == u'(') {
            ++pos_;
            const int inner = parseOr();
            skipSpace();
            if (pos_ >= s_.size() || s_[pos_] != u')')
                error(QStringLiteral("нет закрывающей скобки"));
            ++pos_;
            return inner;
        }
        Operand l = parseOperand();
        Cmp op;
        if (!parseOp(op))
            error(QStringLiteral("ожидалось сравнение (= <> < > <= >=)"));
        Operand r = parseOperand();
        if (l.kind != Operand::FieldRef) {
            std::swap(l, r);
            op = mirror(op);
        }
        if (l.kind != Operand::FieldRef || r.kind == Operand::FieldRef)
            error(QStringLiteral("сравнение должно связывать поле и значение"));
        const Field& f = fields_[size_t(l.field)];
        Node n;
        n.kind = Node::Compare;
        n.offset = f.offset;
        n.width = f.def.width;
        n.numericField = f.numeric;
        n.op = op;
        if (f.numeric) {
            if (r.kind == Operand::Number) {
                n.numberLiteral = true;
                n.number = r.number;
            } else if (r.text.trimmed().isEmpty()) {
                n.emptyLiteral = true;
            } else {
                bool ok = false;
                n.number = r.text.trimmed().replace(u',', u'.').toDouble(&ok);
                if (!ok)
                    error(QStringLiteral("поле %1 числовое, а значение — текст").arg(f.def.name));
                n.numberLiteral = true;
            }
        } else if (r.kind == Operand::Number) {
            // A character field against a number: its text read as a number.
            n.numberLiteral = true;
            n.number = r.number;
        } else {
            n.text = r.text.trimmed();
            QByteArray enc(n.text.size(), Qt::Uninitialized);
            enc.resize(codec_.encode(n.text, enc.data(), int(enc.size())));
            n.bytes = enc;
        }
        return add(std::move(n));
    }
};

// Today as the header's YY MM DD.  Reading the local date costs a time-zone
// lookup, so it is done at most once a second (posts come in bursts).
QByteArray todayBytes() {
    thread_local QByteArray cached;
    thread_local std::chrono::steady_clock::time_point when;
    const auto now = std::chrono::steady_clock::now();
    if (cached.isEmpty() || now - when > std::chrono::seconds(1)) {
        const QDate d = QDate::currentDate();
        QByteArray b(3, 0);
        b[0] = char(std::clamp(d.year() - 1900, 0, 255));
        b[1] = char(d.month());
        b[2] = char(d.day());
        cached = b;
        when = now;
    }
    return cached;
}

void put16(char* p, quint32 v) {
    p[0] = char(v & 0xFF);
    p[1] = char((v >> 8) & 0xFF);
}
void put32(char* p, quint32 v) {
    for (int i = 0; i < 4; ++i)
        p[i] = char((v >> (8 * i)) & 0xFF);
}
quint32 get16(const char* p) { return quint32(uint8_t(p[0])) | quint32(uint8_t(p[1])) << 8; }
quint32 get32(const char* p) {
    return quint32(uint8_t(p[0])) | quint32(uint8_t(p[1])) << 8 | quint32(uint8_t(p[2])) << 16 |
           quint32(uint8_t(p[3])) << 24;
}

bool acceptedVersion(uint8_t v) {
    switch (v) {
    case 0x03: case 0x43: case 0x63: case 0x83: case 0x8B: case 0xCB: case 0xF5:
        return true;
    default:
        return false;
    }
}

// Builds the header (with terminator) of a table with these fields.
QByteArray buildHeader(const std::vector<FieldDef>& fields, uint8_t ldid, quint32 count) {
    const int n = int(fields.size());
    const int headerLen = 32 + 32 * n + 1;
    int recLen = 1;
    for (const FieldDef& f : fields)
        recLen += f.width;
    QByteArray h(headerLen, '\0');
    h[0] = 0x03;
    const QByteArray today = todayBytes();
    std::memcpy(h.data() + 1, today.constData(), 3);
    put32(h.data() + 4, count);
    put16(h.data() + 8, quint32(headerLen));
    put16(h.data() + 10, quint32(recLen));
    h[29] = char(ldid);
    for (int i = 0; i < n; ++i) {
        char* d = h.data() + 32 + 32 * i;
        const QByteArray name = fields[size_t(i)].name.toUpper().toLatin1();
        std::memcpy(d, name.constData(), size_t(std::min<qsizetype>(name.size(), 10)));
        d[11] = fields[size_t(i)].type;
        d[16] = char(fields[size_t(i)].width);
        d[17] = char(fields[size_t(i)].type == 'C' ? 0 : fields[size_t(i)].decimals);
    }
    h[headerLen - 1] = 0x0D;
    return h;
}

}  // namespace

// ===========================================================================

QByteArray codecForLanguageDriver(uint8_t ldid) {
    switch (ldid) {
    case 0x26:
    case 0x65: return "IBM866";
    case 0x03:
    case 0x57: return "windows-1252";
    case 0x01: return "IBM437";
    case 0x02: return "IBM850";
    case 0x64: return "IBM852";
    case 0xC8: return "windows-1250";
    case 0xC9:
    default: return "windows-1251";
    }
}

struct Table::Impl {
    QString path;
    os::Handle fh = os::kNoHandle;
    quint64 generation = 0;

    // Layout
    QByteArray header;  // the whole header as on disk (count/date kept current)
    std::vector<Field> fields;
    std::vector<FieldDef> defs;  // the same, as handed out by fields()
    QHash<QString, int> byName;  // upper-case name -> index (first wins)
    int headerLen = 0;
    int recLen = 0;
    uint8_t ldid = 0;
    const Codec* codec = nullptr;

    // Records, back to back, flag byte first.
    std::vector<char> data;
    quint32 count = 0;
    quint32 deleted = 0;
    // Bulk writing: records from `written` on are in memory only.
    bool bulk = false;
    quint32 written = 0;

    // Writes the records held back by bulk writing, the end marker and the count.
    void flushBulk() {
        if (written == count || !isOpen()) {
            written = count;
            return;
        }
        const qint64 from = qint64(written) * recLen;
        const qint64 len = qint64(count - written) * recLen;
        if (!os::writeAt(fh, qint64(headerLen) + from, data.data() + from, len) ||
            !os::writeAt(fh, qint64(headerLen) + from + len, "\x1A", 1))
            fail(E::Io, QStringLiteral("Ошибка записи в файл %1").arg(path));
        writeCountAndDate(count);
        written = count;
    }

    // Filter
    QString filterText;
    Filter filter;
    bool filterOn = false;

    // Index tags
    struct Tag {
        QString name;
        int field = 0;
        bool descending = false;
    };
    std::map<QString, Tag> tags;  // key: upper-case tag name
    QString currentTag;           // key into tags, empty: file order

    // View
    std::vector<quint32> view;
    bool viewStale = true;
    bool firstAfterRebuild = true;  // else reposition on curPhys
    int cur = -1;
    qint64 curPhys = -1;
    bool atEof = true, atBof = true;

    // Edit buffer
    enum class Mode { Browse, Append, Edit } mode = Mode::Browse;
    std::vector<char> buffer;
    quint32 editRec = 0;

    bool isOpen() const { return fh != os::kNoHandle; }
    const char* rec(quint32 r) const { return data.data() + size_t(r) * size_t(recLen); }
    char* rec(quint32 r) { return data.data() + size_t(r) * size_t(recLen); }

    void requireOpen() const {
        if (!isOpen())
            fail(E::Usage, QStringLiteral("Таблица не открыта"));
    }

    int lookup(QStringView name) const {
        auto it = byName.constFind(name.toString().toUpper());
        return it == byName.cend() ? -1 : it.value();
    }
    int need(QStringView name) const {
        requireOpen();
        const int i = lookup(name);
        if (i < 0)
            fail(E::Field, QStringLiteral("Поле %1 не найдено").arg(name));
        return i;
    }
    const Field& field(int i) const {
        requireOpen();
        if (i < 0 || size_t(i) >= fields.size())
            fail(E::Field, QStringLiteral("Нет поля с номером %1").arg(i));
        return fields[size_t(i)];
    }

    bool filterActive() const { return filterOn && filter.root >= 0; }
    bool passes(const char* r) const {
        return r[0] != '*' && (!filterActive() || filter.eval(r));
    }

    // ---- view ----------------------------------------------------------
    void markStale(bool goFirst) {
        viewStale = true;
        if (goFirst)
            firstAfterRebuild = true;
    }

    void rebuild() {
        view.clear();
        for (quint32 r = 0; r < count; ++r)
            if (passes(rec(r)))
                view.push_back(r);
        if (!currentTag.isEmpty())
            sortView();
        viewStale = false;
        if (firstAfterRebuild || curPhys < 0) {
            firstAfterRebuild = false;
            goFirst();
        } else {
            auto it = std::find(view.begin(), view.end(), quint32(curPhys));
            if (it != view.end()) {
                setCur(int(it - view.begin()));
            } else {
                goFirst();
            }
        }
    }

    void sortView() {
        const Tag& t = tags.at(currentTag);
        const Field& f = fields[size_t(t.field)];
        const size_t n = view.size();
        std::vector<size_t> order(n);
        std::iota(order.begin(), order.end(), size_t(0));
        if (f.numeric) {
            // Null sorts below every number.
            std::vector<double> key(n);
            for (size_t i = 0; i < n; ++i) {
                double v;
                key[i] = parseNumber(rec(view[i]) + f.offset, f.def.width, v)
                             ? v
                             : -std::numeric_limits<double>::infinity();
            }
            if (t.descending)
                std::stable_sort(order.begin(), order.end(),
                                 [&](size_t a, size_t b) { return key[b] < key[a]; });
            else
                std::stable_sort(order.begin(), order.end(),
                                 [&](size_t a, size_t b) { return key[a] < key[b]; });
        } else {
            std::vector<QString> key(n);
            for (size_t i = 0; i < n; ++i)
                key[i] = textOf(rec(view[i]), f);
            if (t.descending)
                std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
                    return QString::compare(key[b], key[a]) < 0;
                });
            else
                std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
                    return QString::compare(key[a], key[b]) < 0;
                });
        }
        std::vector<quint32> sorted(n);
        for (size_t i = 0; i < n; ++i)
            sorted[i] = view[order[i]];
        view.swap(sorted);
    }

    void ensureView() {
        if (isOpen() && viewStale)
            rebuild();
    }

    void setCur(int i) {
        cur = i;
        curPhys = view[size_t(i)];
        atEof = atBof = false;
    }
    void goFirst() {
        if (view.empty()) {
            cur = -1;
            curPhys = -1;
            atEof = atBof = true;
        } else {
            setCur(0);
            atBof = true;
        }
    }

    // Removes one physical record from a valid view, keeping the cursor on the
    // row that followed it.
    void dropFromView(quint32 r) {
        if (viewStale)
            return;
        auto it = std::find(view.begin(), view.end(), r);
        if (it == view.end())
            return;
        const int pos = int(it - view.begin());
        view.erase(it);
        if (view.empty()) {
            cur = -1;
            curPhys = -1;
            atEof = atBof = true;
        } else if (pos < cur) {
            --cur;
        } else if (pos == cur) {
            setCur(std::min(cur, int(view.size()) - 1));
        }
    }

    // ---- reading ---------------------------------------------------------
    QString textOf(const char* r, const Field& f) const {
        const char* p = r + f.offset;
        if (f.numeric) {
            const QByteArrayView t = trimmedBytes(p, f.def.width);
            return QString::fromLatin1(t.data(), t.size());
        }
        int e = f.def.width;
        while (e > 0 && (p[e - 1] == ' ' || p[e - 1] == '\0'))
            --e;
        if (f.date && isZeroDate(p, f.def.width))
            return QString();
        return codec->decode(p, e);
    }
    static bool isZeroDate(const char* p, int w) {
        for (int i = 0; i < w; ++i)
            if (p[i] != '0' && p[i] != ' ' && p[i] != '\0')
                return false;
        return true;
    }
    bool nullOf(const char* r, const Field& f) const {
        const char* p = r + f.offset;
        if (f.numeric) {
            double v;
            return !parseNumber(p, f.def.width, v);
        }
        if (f.date)
            return isZeroDate(p, f.def.width);
        return false;
    }
    double floatOf(const char* r, const Field& f) const {
        double v = 0;
        if (f.numeric) {
            if (!parseNumber(r + f.offset, f.def.width, v))
                v = 0;
        } else {
            const QByteArrayView t = trimmedBytes(r + f.offset, f.def.width);
            if (!parseNumber(t.data(), int(t.size()), v))
                v = 0;
        }
        return v;
    }

    // The row that field reads address: the edit buffer while editing, else
    // the current row; null when there is none.
    const char* currentRow() {
        if (mode != Mode::Browse)
            return buffer.data();
        ensureView();
        if (cur < 0 || curPhys < 0)
            return nullptr;
        return rec(quint32(curPhys));
    }

    const char* physical(quint32 r) const {
        requireOpen();
        if (r >= count)
            fail(E::Usage, QStringLiteral("Нет записи с номером %1").arg(r));
        return rec(r);
    }

    // ---- writing ---------------------------------------------------------
    char* editField(int i, const Field*& f) {
        f = &field(i);
        if (mode == Mode::Browse)
            fail(E::Usage, QStringLiteral("Запись не в режиме правки (нужен append или edit)"));
        return buffer.data() + f->offset;
    }

    void writeOrThrow(qint64 off, const void* p, qint64 len) {
        if (!os::writeAt(fh, off, p, len))
            fail(E::Io, QStringLiteral("Ошибка записи в файл %1").arg(path));
    }

    // Keeps the header's record count and update date true on disk.
    void writeCountAndDate(quint32 newCount) {
        char h[7];
        const QByteArray today = todayBytes();
        std::memcpy(h, today.constData(), 3);
        put32(h + 3, newCount);
        writeOrThrow(1, h, 7);
        std::memcpy(header.data() + 1, h, 7);
    }

    void closeFile() {
        os::close(fh);
        header.clear();
        fields.clear();
        defs.clear();
        byName.clear();
        data.clear();
        data.shrink_to_fit();
        count = deleted = 0;
        written = 0;
        bulk = false;
        tags.clear();
        currentTag.clear();
        view.clear();
        viewStale = true;
        firstAfterRebuild = true;
        cur = -1;
        curPhys = -1;
        atEof = atBof = true;
        mode = Mode::Browse;
        buffer.clear();
        filter = Filter();
        ++generation;
    }

    // Reads and checks the layout of the open file `h`, then its records.
    void load(os::Handle h) {
        const qint64 size = os::size(h);
        if (size < 0)
            fail(E::Io, QStringLiteral("Не удалось узнать размер %1").arg(path));
        auto corrupt = [&](const QString& why) {
            fail(E::Corrupt, QStringLiteral("Файл %1 не является таблицей dBase: %2").arg(path, why));
        };
        if (size < 32)
            corrupt(QStringLiteral("короче заголовка (%1 байт)").arg(size));
        char top[32];
        if (!os::readAt(h, 0, top, 32))
            fail(E::Io, QStringLiteral("Ошибка чтения %1").arg(path));
        const uint8_t version = uint8_t(top[0]);
        if (!acceptedVersion(version))
            corrupt(QStringLiteral("неизвестный вид файла 0x%1").arg(version, 2, 16, QLatin1Char('0')));
        const int hLen = int(get16(top + 8));
        const int rLen = int(get16(top + 10));
        const quint32 cnt = get32(top + 4);
        if (hLen < 32 + 32 + 1 || (hLen - 33) % 32 != 0)
            corrupt(QStringLiteral("неверная длина заголовка %1").arg(hLen));
        if (hLen > size)
            corrupt(QStringLiteral("заголовок (%1 байт) длиннее файла").arg(hLen));
        QByteArray hdr(hLen, Qt::Uninitialized);
        if (!os::readAt(h, 0, hdr.data(), hLen))
            fail(E::Io, QStringLiteral("Ошибка чтения %1").arg(path));
        int n = 0;
        while (32 + 32 * n < hLen && hdr[32 + 32 * n] != 0x0D)
            ++n;
        if (32 + 32 * n + 1 != hLen)
            corrupt(QStringLiteral("длина заголовка %1 не согласуется с %2 описаниями полей")
                        .arg(hLen)
                        .arg(n));
        if (n == 0)
            corrupt(QStringLiteral("нет ни одного поля"));

        ldid = uint8_t(top[29]);
        codec = &codecFor(codecForLanguageDriver(ldid));
        std::vector<Field> fs;
        QHash<QString, int> names;
        int offset = 1;
        for (int i = 0; i < n; ++i) {
            const char* d = hdr.constData() + 32 + 32 * i;
            int nameLen = 0;
            while (nameLen < 11 && d[nameLen] != '\0')
                ++nameLen;
            Field f;
            f.def.name = codec->decode(d, nameLen).trimmed().toUpper();
            if (f.def.name.isEmpty())
                corrupt(QStringLiteral("поле %1 без имени").arg(i + 1));
            const char type = char(QChar::fromLatin1(d[11]).toUpper().toLatin1());
            f.def.type = type;
            f.def.width = uint8_t(d[16]);
            f.def.decimals = uint8_t(d[17]);
            switch (type) {
            case 'N':
            case 'F':
                f.numeric = true;
                if (f.def.decimals > 0 && f.def.decimals >= f.def.width)
                    corrupt(QStringLiteral("у поля %1 знаков после точки не меньше ширины")
                                .arg(f.def.name));
                break;
            case 'D':
                f.date = true;
                f.def.decimals = 0;
                break;
            case 'C':
            case 'L':
                f.def.decimals = 0;  // some writers keep junk there; width is byte 16
                break;
            default:
                corrupt(QStringLiteral("поле %1 неподдерживаемого типа '%2'")
                            .arg(f.def.name, QString::fromLatin1(&d[11], 1)));
            }
            if (f.def.width == 0)
                corrupt(QStringLiteral("поле %1 нулевой ширины").arg(f.def.name));
            f.offset = offset;
            offset += f.def.width;
            if (!names.contains(f.def.name))
                names.insert(f.def.name, i);
            fs.push_back(f);
        }
        if (offset != rLen)
            corrupt(QStringLiteral("длина записи %1, а сумма ширин полей %2").arg(rLen).arg(offset));
        const qint64 need = qint64(hLen) + qint64(cnt) * qint64(rLen);
        if (need > size)
            corrupt(QStringLiteral("в заголовке %1 записей, а в файле их %2")
                        .arg(cnt)
                        .arg((size - hLen) / rLen));
        std::vector<char> recs(size_t(cnt) * size_t(rLen));
        if (!recs.empty() && !os::readAt(h, hLen, recs.data(), qint64(recs.size())))
            fail(E::Io, QStringLiteral("Ошибка чтения %1").arg(path));

        header = hdr;
        fields = std::move(fs);
        defs.clear();
        for (const Field& f : fields)
            defs.push_back(f.def);
        byName = std::move(names);
        headerLen = hLen;
        recLen = rLen;
        data = std::move(recs);
        count = cnt;
        written = cnt;
        deleted = 0;
        for (quint32 r = 0; r < count; ++r)
            if (rec(r)[0] == '*')
                ++deleted;
        fh = h;
    }

    // Recompiles the filter text against the current fields.
    void compileFilter() {
        filter = Filter();
        if (!isOpen())
            return;
        const std::function<int(QStringView)> lk = [this](QStringView n) { return lookup(n); };
        filter = FilterParser(filterText, fields, *codec, lk).parse();
    }
};

// ===========================================================================

Table::Table() : d(std::make_unique<Impl>()) {}
Table::~Table() {
    if (d->isOpen()) {
        try {
            d->flushBulk();
        } catch (const Error&) {
            // Nothing to report to from a destructor; the file keeps what
            // reached it, with a count that matches.
        }
        d->closeFile();
    }
}

void Table::beginBulk() {
    d->requireOpen();
    d->flushBulk();
    d->bulk = true;
}

void Table::reserveRows(uint32_t rows) {
    d->requireOpen();
    const size_t want = size_t(rows) * size_t(d->recLen);
    if (want > d->data.capacity())
        d->data.reserve(want);
    if (d->view.capacity() < rows)
        d->view.reserve(rows);
}

void Table::endBulk() {
    d->bulk = false;
    d->flushBulk();
}

void Table::setFileName(const QString& path) {
    if (d->isOpen())
        fail(E::Usage, QStringLiteral("Имя файла меняется только у закрытой таблицы"));
    d->path = path;
}
QString Table::fileName() const { return d->path; }

void Table::create(const QString& path, const std::vector<FieldDef>& fields, uint8_t languageDriver) {
    if (fields.empty())
        fail(E::Usage, QStringLiteral("Таблица без полей"));
    if (fields.size() > 255)
        fail(E::Usage, QStringLiteral("Слишком много полей"));
    int recLen = 1;
    QStringList seen;
    for (const FieldDef& f : fields) {
        const QString up = f.name.toUpper();
        bool okName = !up.isEmpty() && up.size() <= 10 && up[0].isLetter();
        for (QChar c : up)
            okName = okName && c.unicode() < 0x80 && (c.isLetterOrNumber() || c == u'_');
        if (!okName)
            fail(E::Usage, QStringLiteral("Недопустимое имя поля \"%1\"").arg(f.name));
        if (seen.contains(up))
            fail(E::Usage, QStringLiteral("Поле %1 повторяется").arg(up));
        seen << up;
        if (f.type != 'C' && f.type != 'N' && f.type != 'F' && f.type != 'D' && f.type != 'L')
            fail(E::Usage, QStringLiteral("Поле %1: неподдерживаемый тип").arg(up));
        if (f.width < 1 || f.width > 254)
            fail(E::Usage, QStringLiteral("Поле %1: ширина %2 вне 1..254").arg(up).arg(f.width));
        if ((f.type == 'N' || f.type == 'F') &&
            (f.decimals < 0 || (f.decimals > 0 && f.decimals > f.width - 2)))
            fail(E::Usage, QStringLiteral("Поле %1: неверное число знаков после точки").arg(up));
        if (f.type != 'N' && f.type != 'F' && f.decimals != 0)
            fail(E::Usage, QStringLiteral("Поле %1: у текста нет знаков после точки").arg(up));
        recLen += f.width;
    }
    if (recLen > 65535)
        fail(E::Usage, QStringLiteral("Слишком длинная запись"));

    const QFileInfo fi(path);
    const QString dir = fi.absolutePath();
    if (!QFileInfo(dir).isDir())
        fail(E::Io, QStringLiteral("Папка %1 не существует").arg(dir));
    if (!os::folderWritable(dir))
        fail(E::ReadOnly, QStringLiteral("Нет права записи в папку %1").arg(dir));
    if (fi.exists()) {
        if (os::fileMarkedReadOnly(path))
            fail(E::ReadOnly, QStringLiteral("Файл %1 только для чтения").arg(path));
        // Refuses to replace a table that is open (here or elsewhere).
        os::HandleGuard probe(os::openExclusive(path));
    }

    QByteArray bytes = buildHeader(fields, languageDriver, 0);
    bytes.append(char(0x1A));
    const QString tmp = os::tempNameBeside(path);
    os::Handle h = os::createNew(tmp);
    const bool ok = os::writeAt(h, 0, bytes.constData(), bytes.size()) && os::sync(h);
    os::close(h);
    QString why;
    if (!ok || !os::replace(tmp, path, why)) {
        os::remove(tmp);
        fail(E::Io, QStringLiteral("Не удалось записать %1 %2").arg(path, why));
    }
}

void Table::open() {
    if (d->isOpen())
        return;
    if (d->path.isEmpty())
        fail(E::Usage, QStringLiteral("Не задано имя файла таблицы"));
    os::HandleGuard g(os::openExclusive(d->path));
    d->load(g.h);  // throws; the guard closes the file
    g.release();
    ++d->generation;
    try {
        d->compileFilter();
    } catch (const Error&) {
        // A filter that names fields this table lacks: filtering is dropped.
        d->filterText.clear();
        d->filter = Filter();
    }
    d->markStale(true);
}

void Table::close() {
    if (d->isOpen()) {
        d->bulk = false;
        struct Closer {
            Impl& m;
            ~Closer() { m.closeFile(); }
        } closer{*d};
        d->flushBulk();
    }
}
bool Table::isOpen() const { return d->isOpen(); }

const std::vector<FieldDef>& Table::fields() const { return d->defs; }
int Table::fieldIndex(QStringView name) const { return d->lookup(name); }
int Table::fieldIndex(const char* name) const { return d->lookup(QString::fromLatin1(name)); }
uint8_t Table::languageDriver() const { return d->ldid; }
quint64 Table::generation() const { return d->generation; }

// ---- filter ---------------------------------------------------------------

void Table::setFilter(const QString& text) {
    const QString old = d->filterText;
    d->filterText = text;
    try {
        d->compileFilter();
    } catch (const Error&) {
        d->filterText = old;
        d->compileFilter();
        throw;
    }
    if (d->filterOn)
        d->markStale(true);
}
QString Table::filter() const { return d->filterText; }
void Table::setFiltered(bool on) {
    if (d->filterOn == on)
        return;
    d->filterOn = on;
    d->markStale(true);
}
bool Table::filtered() const { return d->filterOn; }

void Table::refresh() {
    d->requireOpen();
    d->markStale(true);
    d->ensureView();
}

// ---- navigation -------------------------------------------------------------

int Table::recordCount() const {
    if (!d->isOpen())
        return 0;
    d->ensureView();
    return int(d->view.size());
}
void Table::first() {
    d->requireOpen();
    d->ensureView();
    d->goFirst();
}
void Table::last() {
    d->requireOpen();
    d->ensureView();
    if (d->view.empty()) {
        d->goFirst();
    } else {
        d->setCur(int(d->view.size()) - 1);
    }
}
void Table::next() {
    d->requireOpen();
    d->ensureView();
    if (d->view.empty()) {
        d->atEof = true;
        return;
    }
    if (d->cur + 1 < int(d->view.size())) {
        d->setCur(d->cur + 1);
    } else {
        d->atEof = true;
        d->atBof = false;
    }
}
void Table::prior() {
    d->requireOpen();
    d->ensureView();
    if (d->view.empty()) {
        d->atBof = true;
        return;
    }
    if (d->cur > 0) {
        d->setCur(d->cur - 1);
    } else {
        d->atBof = true;
        d->atEof = false;
    }
}
bool Table::eof() const {
    if (!d->isOpen())
        return true;
    d->ensureView();
    return d->atEof;
}
bool Table::bof() const {
    if (!d->isOpen())
        return true;
    d->ensureView();
    return d->atBof;
}
int Table::recNo() const {
    if (!d->isOpen())
        return -1;
    d->ensureView();
    return d->cur;
}
void Table::moveTo(int viewRow) {
    d->requireOpen();
    d->ensureView();
    if (d->view.empty()) {
        d->goFirst();
        return;
    }
    d->setCur(std::clamp(viewRow, 0, int(d->view.size()) - 1));
}
uint32_t Table::physicalRecNo() const {
    d->requireOpen();
    d->ensureView();
    if (d->curPhys < 0)
        fail(E::Usage, QStringLiteral("Нет текущей записи"));
    return uint32_t(d->curPhys);
}
uint32_t Table::physicalRecNoAt(int viewRow) const {
    d->requireOpen();
    d->ensureView();
    if (viewRow < 0 || size_t(viewRow) >= d->view.size())
        fail(E::Usage, QStringLiteral("Нет строки %1").arg(viewRow));
    return d->view[size_t(viewRow)];
}
uint32_t Table::physicalCount() const { return d->count; }

bool Table::gotoPhysical(uint32_t recno) {
    d->requireOpen();
    d->ensureView();
    auto it = std::find(d->view.begin(), d->view.end(), recno);
    if (it == d->view.end())
        return false;
    d->setCur(int(it - d->view.begin()));
    return true;
}

// ---- reading ----------------------------------------------------------------

QString Table::asString(int field) const {
    const Field& f = d->field(field);
    const char* r = d->currentRow();
    return r ? d->textOf(r, f) : QString();
}
QString Table::asString(QStringView name) const { return asString(d->need(name)); }
QString Table::asString(const char* name) const { return asString(QString::fromLatin1(name)); }

double Table::asFloat(int field) const {
    const Field& f = d->field(field);
    const char* r = d->currentRow();
    return r ? d->floatOf(r, f) : 0.0;
}
double Table::asFloat(QStringView name) const { return asFloat(d->need(name)); }
double Table::asFloat(const char* name) const { return asFloat(QString::fromLatin1(name)); }

int Table::asInteger(int field) const {
    const double v = std::round(asFloat(field));
    if (v >= double(std::numeric_limits<int>::max()))
        return std::numeric_limits<int>::max();
    if (v <= double(std::numeric_limits<int>::min()))
        return std::numeric_limits<int>::min();
    return int(v);
}
int Table::asInteger(QStringView name) const { return asInteger(d->need(name)); }
int Table::asInteger(const char* name) const { return asInteger(QString::fromLatin1(name)); }

bool Table::isNull(int field) const {
    const Field& f = d->field(field);
    const char* r = d->currentRow();
    return r ? d->nullOf(r, f) : true;
}
bool Table::isNull(QStringView name) const { return isNull(d->need(name)); }
bool Table::isNull(const char* name) const { return isNull(QString::fromLatin1(name)); }

QString Table::stringAt(uint32_t recno, int field) const {
    const Field& f = d->field(field);
    return d->textOf(d->physical(recno), f);
}
double Table::floatAt(uint32_t recno, int field) const {
    const Field& f = d->field(field);
    return d->floatOf(d->physical(recno), f);
}
bool Table::isNullAt(uint32_t recno, int field) const {
    const Field& f = d->field(field);
    return d->nullOf(d->physical(recno), f);
}
bool Table::isDeletedAt(uint32_t recno) const { return d->physical(recno)[0] == '*'; }

// ---- writing ----------------------------------------------------------------

void Table::append() {
    d->requireOpen();
    d->buffer.assign(size_t(d->recLen), ' ');
    d->mode = Impl::Mode::Append;
}

void Table::edit() {
    d->requireOpen();
    if (d->mode != Impl::Mode::Browse)
        return;  // already editing: keep the buffer
    d->ensureView();
    if (d->curPhys < 0)
        fail(E::Usage, QStringLiteral("Нет текущей записи для правки"));
    d->editRec = quint32(d->curPhys);
    const char* r = d->rec(d->editRec);
    d->buffer.assign(r, r + d->recLen);
    d->mode = Impl::Mode::Edit;
}

void Table::setString(int field, const QString& value) {
    const Field* f = nullptr;
    char* p = d->editField(field, f);
    const int w = f->def.width;
    if (f->numeric) {
        const QString t = value.trimmed();
        if (t.isEmpty()) {
            std::memset(p, ' ', size_t(w));
            return;
        }
        const QByteArray a = t.toLatin1();
        double v;
        if (!parseNumber(a.constData(), int(a.size()), v))
            fail(E::Usage, QStringLiteral("\"%1\" — не число (поле %2)").arg(value, f->def.name));
        formatNumber(v, w, f->def.decimals, p);
        return;
    }
    const int n = d->codec->encode(value, p, w);
    std::memset(p + n, ' ', size_t(w - n));
}
void Table::setString(QStringView name, const QString& value) { setString(d->need(name), value); }
void Table::setString(const char* name, const QString& value) {
    setString(d->need(QString::fromLatin1(name)), value);
}

void Table::setFloat(int field, double value) {
    const Field* f = nullptr;
    char* p = d->editField(field, f);
    if (f->numeric) {
        formatNumber(value, f->def.width, f->def.decimals, p);
    } else {
        setString(field, std::isfinite(value) ? QString::number(value, 'g', 15) : QString());
    }
}
void Table::setFloat(QStringView name, double value) { setFloat(d->need(name), value); }
void Table::setFloat(const char* name, double value) {
    setFloat(d->need(QString::fromLatin1(name)), value);
}

void Table::setInteger(int field, qint64 value) {
    const Field* f = nullptr;
    d->editField(field, f);
    if (f->numeric)
        setFloat(field, double(value));
    else
        setString(field, QString::number(value));
}
void Table::setInteger(QStringView name, qint64 value) { setInteger(d->need(name), value); }
void Table::setInteger(const char* name, qint64 value) {
    setInteger(d->need(QString::fromLatin1(name)), value);
}

void Table::setNull(int field) {
    const Field* f = nullptr;
    char* p = d->editField(field, f);
    std::memset(p, ' ', size_t(f->def.width));
}
void Table::setNull(QStringView name) { setNull(d->need(name)); }

void Table::post() {
    d->requireOpen();
    Impl& m = *d;
    if (m.mode == Impl::Mode::Browse)
        fail(E::Usage, QStringLiteral("Нечего записывать: запись не в режиме правки"));
    if (m.mode == Impl::Mode::Edit) {
        m.flushBulk();
        m.buffer[0] = m.rec(m.editRec)[0];  // deletion flag is not the edit's business
        m.writeOrThrow(qint64(m.headerLen) + qint64(m.editRec) * m.recLen, m.buffer.data(), m.recLen);
        std::memcpy(m.rec(m.editRec), m.buffer.data(), size_t(m.recLen));
        m.mode = Impl::Mode::Browse;
        m.writeCountAndDate(m.count);
        return;
    }
    // Append: the record and the end marker first, then the count, so an
    // interruption leaves the old count and an intact file.
    if (m.count == std::numeric_limits<quint32>::max())
        fail(E::Usage, QStringLiteral("Таблица переполнена"));
    const quint32 r = m.count;
    m.buffer[0] = ' ';
    if (m.bulk) {
        m.data.insert(m.data.end(), m.buffer.begin(), m.buffer.end());
        m.count = r + 1;
        if (qint64(m.count - m.written) * m.recLen >= (qint64(16) << 20))
            m.flushBulk();
    } else {
    m.buffer.push_back(char(0x1A));
    const bool ok = os::writeAt(m.fh, qint64(m.headerLen) + qint64(r) * m.recLen, m.buffer.data(),
                                qint64(m.buffer.size()));
    m.buffer.pop_back();
    if (!ok)
        fail(E::Io, QStringLiteral("Ошибка записи в файл %1").arg(m.path));
    m.writeCountAndDate(r + 1);
    m.data.insert(m.data.end(), m.buffer.begin(), m.buffer.end());
    m.count = r + 1;
    m.written = m.count;
    }
    m.mode = Impl::Mode::Browse;

    if (!m.passes(m.rec(r)))
        return;
    if (m.viewStale || !m.currentTag.isEmpty()) {
        // With a sort order the place of the row is known only after sorting.
        m.viewStale = true;
        m.firstAfterRebuild = false;
        m.curPhys = r;
        return;
    }
    m.view.push_back(r);
    m.setCur(int(m.view.size()) - 1);
}

void Table::cancel() {
    d->mode = Impl::Mode::Browse;
    d->buffer.clear();
}
bool Table::editing() const { return d->mode != Impl::Mode::Browse; }

void Table::deleteCurrent() {
    d->requireOpen();
    if (d->mode == Impl::Mode::Append) {  // deleting an unposted row drops it
        cancel();
        return;
    }
    cancel();
    d->ensureView();
    if (d->curPhys < 0)
        fail(E::Usage, QStringLiteral("Нет текущей записи для удаления"));
    setDeleted(uint32_t(d->curPhys), true);
}

void Table::setDeleted(uint32_t recno, bool deleted) {
    d->requireOpen();
    char* r = const_cast<char*>(d->physical(recno));
    const char flag = deleted ? '*' : ' ';
    if (r[0] == flag)
        return;
    d->flushBulk();
    d->writeOrThrow(qint64(d->headerLen) + qint64(recno) * d->recLen, &flag, 1);
    d->writeCountAndDate(d->count);
    r[0] = flag;
    if (deleted) {
        ++d->deleted;
        d->dropFromView(recno);
    } else {
        --d->deleted;
        d->viewStale = true;  // the row comes back at its place on the next read
        d->firstAfterRebuild = false;
    }
}
uint32_t Table::deletedCount() const { return d->deleted; }

void Table::pack() {
    d->requireOpen();
    Impl& m = *d;
    cancel();
    m.flushBulk();
    const QString dir = QFileInfo(m.path).absolutePath();
    if (!os::folderWritable(dir))
        fail(E::ReadOnly, QStringLiteral("Нет права записи в папку %1").arg(dir));

    const quint32 live = m.count - m.deleted;
    QByteArray head = m.header;
    const QByteArray today = todayBytes();
    std::memcpy(head.data() + 1, today.constData(), 3);
    put32(head.data() + 4, live);
    head[28] = 0;  // no production index goes with the packed file

    std::vector<char> packed;
    packed.reserve(size_t(live) * size_t(m.recLen));
    for (quint32 r = 0; r < m.count; ++r)
        if (m.rec(r)[0] != '*')
            packed.insert(packed.end(), m.rec(r), m.rec(r) + m.recLen);

    const QString tmp = os::tempNameBeside(m.path);
    os::HandleGuard t(os::createNew(tmp));
    const char eof = 0x1A;
    bool ok = os::writeAt(t.h, 0, head.constData(), head.size()) &&
              (packed.empty() || os::writeAt(t.h, head.size(), packed.data(), qint64(packed.size()))) &&
              os::writeAt(t.h, head.size() + qint64(packed.size()), &eof, 1) && os::sync(t.h);
    if (!ok) {
        os::close(t.h);
        os::remove(tmp);
        fail(E::Io, QStringLiteral("Не удалось записать сжатую таблицу рядом с %1").arg(m.path));
    }
    QString why;
    if (!os::kRenameNeedsClose) {
        if (!os::replace(tmp, m.path, why)) {
            os::close(t.h);
            os::remove(tmp);
            fail(E::Io, QStringLiteral("Не удалось заменить %1: %2").arg(m.path, why));
        }
        os::close(m.fh);
        m.fh = t.release();  // the locked temp file now is the table
    } else {
        os::close(t.h);
        os::close(m.fh);
        const bool replaced = os::replace(tmp, m.path, why);
        if (!replaced)
            os::remove(tmp);
        try {
            m.fh = os::openExclusive(m.path);
        } catch (const Error&) {
            m.closeFile();
            throw;
        }
        if (!replaced)
            fail(E::Io, QStringLiteral("Не удалось заменить %1: %2").arg(m.path, why));
    }
    m.header = head;
    m.data = std::move(packed);
    m.count = live;
    m.written = live;
    m.deleted = 0;
    m.markStale(true);
}

bool Table::locate(QStringView fieldName, const QString& value) {
    const int fi = d->need(fieldName);
    const Field& f = d->fields[size_t(fi)];
    d->ensureView();
    const QString want = value.trimmed();
    double num = 0;
    bool wantNumber = false;
    if (f.numeric && !want.isEmpty()) {
        const QByteArray a = want.toLatin1();
        wantNumber = parseNumber(a.constData(), int(a.size()), num);
        if (!wantNumber)
            return false;
    }
    for (size_t i = 0; i < d->view.size(); ++i) {
        const char* r = d->rec(d->view[i]);
        bool hit;
        if (f.numeric) {
            double v;
            const bool has = parseNumber(r + f.offset, f.def.width, v);
            hit = wantNumber ? (has && v == num) : !has;
        } else {
            hit = d->textOf(r, f).trimmed() == want;
        }
        if (hit) {
            d->setCur(int(i));
            return true;
        }
    }
    return false;
}

bool Table::locate(const char* field, const QString& value) {
    return locate(QString::fromLatin1(field), value);
}

// ---- index tags -------------------------------------------------------------

void Table::createIndexTag(const QString& tag, QStringView field, bool descending) {
    d->requireOpen();
    const QString key = tag.trimmed().toUpper();
    if (key.isEmpty())
        fail(E::Usage, QStringLiteral("Пустое имя индекса"));
    const int fi = d->need(field);
    d->tags[key] = Impl::Tag{tag.trimmed(), fi, descending};
    if (d->currentTag == key)
        d->markStale(false);
}

void Table::createIndexTag(const QString& tag, const char* field, bool descending) {
    createIndexTag(tag, QString::fromLatin1(field), descending);
}

void Table::selectIndex(const QString& tag) {
    d->requireOpen();
    const QString key = tag.trimmed().toUpper();
    if (!key.isEmpty() && !d->tags.count(key))
        fail(E::Usage, QStringLiteral("Нет индекса %1").arg(tag));
    if (d->currentTag == key)
        return;
    d->ensureView();  // settle the cursor's record, then keep it across the change
    d->currentTag = key;
    d->markStale(false);
}

QString Table::currentIndex() const {
    if (d->currentTag.isEmpty())
        return QString();
    return d->tags.at(d->currentTag).name;
}

void Table::deleteIndexTag(const QString& tag) {
    d->requireOpen();
    const QString key = tag.trimmed().toUpper();
    auto it = d->tags.find(key);
    if (it == d->tags.end())
        fail(E::Usage, QStringLiteral("Нет индекса %1").arg(tag));
    d->tags.erase(it);
    if (d->currentTag == key) {
        d->currentTag.clear();
        d->markStale(false);
    }
}

QStringList Table::indexTags() const {
    QStringList out;
    for (const auto& [key, t] : d->tags)
        out << t.name;
    return out;
}

}  // namespace dbf
