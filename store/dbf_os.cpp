// Platform file access of the table engine (see dbf_os.h).
#include "store/dbf_os.h"

#include "ground/system_error.h"

#include "store/dbf_fail.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <algorithm>
#include <cstring>

#include <limits>
#include <utility>

#ifndef _WIN32
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace dbf::os {

using detail::E;
using detail::fail;

#ifdef _WIN32
namespace {

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

}  // namespace

// Sharing works as the POSIX locks do: the writer lets others read (a copy
// or a backup of an open database still works) but not write; this program's
// own readers ask for no writer beside them, so they and a second writer are
// refused while the file is open for writing.
constexpr DWORD kWriterShares = FILE_SHARE_READ;

// Opens an existing file for reading and writing; nobody else may write.
Handle openExclusive(const QString& path) {
    const std::wstring p = native(path);
    const DWORD attrs = GetFileAttributesW(p.c_str());
    if (attrs == INVALID_FILE_ATTRIBUTES)
        fail(E::Io, QStringLiteral("Файл %1 не найден").arg(path));
    if (attrs & FILE_ATTRIBUTE_DIRECTORY)
        fail(E::Io, QStringLiteral("%1 — папка, а не файл").arg(path));
    if (attrs & FILE_ATTRIBUTE_READONLY)
        fail(E::ReadOnly, QStringLiteral("Файл %1 только для чтения").arg(path));
    HANDLE h = CreateFileW(p.c_str(), GENERIC_READ | GENERIC_WRITE, kWriterShares, nullptr, OPEN_EXISTING,
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

Handle openForReading(const QString& path) {
    const std::wstring p = native(path);
    const DWORD attrs = GetFileAttributesW(p.c_str());
    if (attrs == INVALID_FILE_ATTRIBUTES)
        fail(E::Io, QStringLiteral("Файл %1 не найден").arg(path));
    if (attrs & FILE_ATTRIBUTE_DIRECTORY)
        fail(E::Io, QStringLiteral("%1 — папка, а не файл").arg(path));
    HANDLE h = CreateFileW(p.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        if (code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION)
            fail(E::Locked, QStringLiteral("Файл %1 открыт другой программой").arg(path));
        fail(E::Io, QStringLiteral("Не удалось открыть %1: %2").arg(path, lastErrorText()));
    }
    return h;
}

bool syncFile(const QString& path) {
    HANDLE h = CreateFileW(native(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    const bool ok = FlushFileBuffers(h) != 0;
    CloseHandle(h);
    return ok;
}

namespace {
// Deletes a stale work file; a file still open elsewhere is not deleted.
void removeIfUnused(const QString& path) { DeleteFileW(native(path).c_str()); }
}  // namespace

qint64 memoryAvailable() {
    MEMORYSTATUSEX st{};
    st.dwLength = sizeof st;
    if (!GlobalMemoryStatusEx(&st))
        return -1;
    return qint64(std::min<DWORDLONG>(st.ullAvailPageFile, st.ullAvailVirtual));
}

// Creates a new file that must not exist yet, opened as a writer.
Handle createNew(const QString& path) {
    HANDLE h = CreateFileW(native(path).c_str(), GENERIC_READ | GENERIC_WRITE, kWriterShares, nullptr,
                           CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        if (code == ERROR_ACCESS_DENIED || code == ERROR_WRITE_PROTECT)
            fail(E::ReadOnly, QStringLiteral("Не удалось создать %1: %2").arg(path, writeErrorTextWin(code)));
        fail(E::Io, QStringLiteral("Не удалось создать %1: %2").arg(path, writeErrorTextWin(code)));
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
        if (!WriteFile(h, p, chunk, &put, &ov))
            return false;
        if (put == 0) {
            SetLastError(ERROR_HANDLE_DISK_FULL);  // the file takes no more bytes: no room
            return false;
        }
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

QString lastWriteError() { return writeErrorTextWin(GetLastError()); }

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
    why = writeErrorTextWin(GetLastError());
    return false;
}

// Windows keeps no write bits on folders; creating the file tells.
bool folderWritable(const QString&) { return true; }
bool fileMarkedReadOnly(const QString& path) {
    const DWORD attrs = GetFileAttributesW(native(path).c_str());
    return attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_READONLY);
}

#else  // POSIX

namespace {

QByteArray native(const QString& path) { return QFile::encodeName(path); }

QString errnoText(int e) { return systemErrorText(e); }

bool anyWriteBit(const QString& path, bool& exists) {
    struct stat st {};
    exists = ::stat(native(path).constData(), &st) == 0;
    return exists && (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH));
}

}  // namespace

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

// The file's status; fails unless it exists and is a regular file.
struct stat regularFileOrFail(const QByteArray& p, const QString& path) {
    struct stat st {};
    if (::stat(p.constData(), &st) != 0)
        fail(E::Io, QStringLiteral("Файл %1 не найден").arg(path));
    if (!S_ISREG(st.st_mode))
        fail(E::Io, QStringLiteral("%1 — не обычный файл").arg(path));
    return st;
}

// Takes the lock (LOCK_EX or LOCK_SH) without waiting; when another holder
// has it, the file is closed and the open fails.
void lockOrFail(int fd, int how, const QString& path) {
    if (::flock(fd, how | LOCK_NB) == 0)
        return;
    const int e = errno;
    ::close(fd);
    if (e == EWOULDBLOCK || e == EAGAIN)
        fail(E::Locked, QStringLiteral("Файл %1 открыт другой программой").arg(path));
    fail(E::Io, QStringLiteral("Не удалось захватить %1: %2").arg(path, errnoText(e)));
}

Handle openExclusive(const QString& path) {
    const QByteArray p = native(path);
    const struct stat st = regularFileOrFail(p, path);
    if (!(st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)))
        fail(E::ReadOnly, QStringLiteral("Файл %1 только для чтения").arg(path));
    const int fd = ::open(p.constData(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        const int e = errno;
        if (e == EACCES || e == EROFS || e == EPERM)
            fail(E::ReadOnly, QStringLiteral("Нет права записи в файл %1").arg(path));
        fail(E::Io, QStringLiteral("Не удалось открыть %1: %2").arg(path, errnoText(e)));
    }
    lockOrFail(fd, LOCK_EX, path);
    return fd;
}

Handle openForReading(const QString& path) {
    const QByteArray p = native(path);
    regularFileOrFail(p, path);
    const int fd = ::open(p.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        const int e = errno;
        if (e == EACCES || e == EPERM)
            fail(E::Io, QStringLiteral("Нет права чтения файла %1").arg(path));
        fail(E::Io, QStringLiteral("Не удалось открыть %1: %2").arg(path, errnoText(e)));
    }
    lockOrFail(fd, LOCK_SH, path);
    return fd;
}

bool syncFile(const QString& path) {
    const int fd = ::open(native(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

namespace {

// Flushes a folder's entries (a rename in it) to disk.  File systems that
// cannot sync a folder say EINVAL; there is nothing more to do on them.
void syncFolder(const QString& dir) {
    const int fd = ::open(native(dir).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

// Deletes a stale work file unless a process holds it open (every work file
// is locked while it is written).
void removeIfUnused(const QString& path) {
    const QByteArray p = native(path);
    struct stat st {};
    if (::lstat(p.constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return;
    const int fd = ::open(p.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return;
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
        ::unlink(p.constData());
    ::close(fd);
}

// A control group's limit file ("max" or a number) minus its usage, or -1.
qint64 cgroupRoom() {
    QFile lim(QStringLiteral("/sys/fs/cgroup/memory.max"));
    QFile cur(QStringLiteral("/sys/fs/cgroup/memory.current"));
    if (!lim.open(QIODevice::ReadOnly) || !cur.open(QIODevice::ReadOnly))
        return -1;
    bool ok1 = false, ok2 = false;
    const qint64 max = lim.readAll().trimmed().toLongLong(&ok1);
    const qint64 used = cur.readAll().trimmed().toLongLong(&ok2);
    if (!ok1 || !ok2)
        return -1;  // "max": no limit
    return std::max<qint64>(0, max - used);
}

}  // namespace

qint64 memoryAvailable() {
    qint64 room = -1;
    auto limit = [&](qint64 v) {
        if (v >= 0)
            room = room < 0 ? v : std::min(room, v);
    };
    QFile info(QStringLiteral("/proc/meminfo"));
    if (info.open(QIODevice::ReadOnly)) {
        qint64 avail = -1, swap = 0;
        for (const QByteArray& line : info.readAll().split('\n')) {
            const QList<QByteArray> parts = line.simplified().split(' ');
            if (parts.size() < 2)
                continue;
            if (parts[0] == "MemAvailable:")
                avail = parts[1].toLongLong() * 1024;
            else if (parts[0] == "SwapFree:")
                swap = parts[1].toLongLong() * 1024;
        }
        if (avail >= 0)
            limit(avail + swap);
    }
    limit(cgroupRoom());
    // An address-space or data limit (ulimit -v, -d) bounds what one process
    // can map, whatever the machine has; what is mapped already counts.
    qint64 vmSize = 0, vmData = 0;
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly))
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (line.startsWith("VmSize:"))
                vmSize = line.simplified().split(' ').value(1).toLongLong() * 1024;
            else if (line.startsWith("VmData:"))
                vmData = line.simplified().split(' ').value(1).toLongLong() * 1024;
        }
    const std::pair<int, qint64> limits[] = {{RLIMIT_AS, vmSize}, {RLIMIT_DATA, vmData}};
    for (const auto& [res, used] : limits) {
        struct rlimit rl {};
        if (::getrlimit(res, &rl) == 0 && rl.rlim_cur != RLIM_INFINITY) {
            const qint64 cap = qint64(std::min<rlim_t>(rl.rlim_cur, rlim_t(std::numeric_limits<qint64>::max())));
            limit(std::max<qint64>(0, cap - used));
        }
    }
    return room;
}

Handle createNew(const QString& path) {
    const int fd = ::open(native(path).constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        const int e = errno;
        if (e == EACCES || e == EROFS || e == EPERM)
            fail(E::ReadOnly, QStringLiteral("Не удалось создать %1: %2").arg(path, writeErrorText(e)));
        fail(E::Io, QStringLiteral("Не удалось создать %1: %2").arg(path, writeErrorText(e)));
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
        if (n == 0)
            errno = ENOSPC;  // a regular file takes no more bytes: no room
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

QString lastWriteError() { return writeErrorText(errno); }

void close(Handle& h) {
    if (h >= 0)
        ::close(h);  // releases the flock
    h = -1;
}

void remove(const QString& path) { ::unlink(native(path).constData()); }

bool replace(const QString& from, const QString& to, QString& why) {
    if (::rename(native(from).constData(), native(to).constData()) != 0) {
        why = writeErrorText(errno);
        return false;
    }
    syncFolder(QFileInfo(to).absolutePath());
    return true;
}

#endif

void removeStaleWorkFiles(const QString& path) {
    const QFileInfo fi(path);
    // ".<name>.<hex>.tmp", and ".<that>.<hex>.tmp" for a work file's own
    // work file (a table created under a work name).
    static const QString hex = QStringLiteral("\\.[0-9a-f]{16}\\.tmp");
#ifdef _WIN32
    // Names that differ in case only are one file there.
    const auto options = QRegularExpression::CaseInsensitiveOption;
#else
    const auto options = QRegularExpression::NoPatternOption;
#endif
    const QRegularExpression own(QStringLiteral("^\\.{1,2}") + QRegularExpression::escape(fi.fileName()) +
                                     QStringLiteral("(%1){1,2}$").arg(hex),
                                 options);
    const QDir dir = fi.absoluteDir();
    const QStringList names = dir.entryList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString& n : names) {
        const QRegularExpressionMatch m = own.match(n);
        if (!m.hasMatch())
            continue;
        // The leading dots and the suffixes go in pairs.
        const int dots = n.startsWith(QStringLiteral("..")) ? 2 : 1;
        const int suffixes = int((n.size() - dots - fi.fileName().size()) / 21);
        if (dots == suffixes)
            removeIfUnused(dir.filePath(n));
    }
}

QString tempNameBeside(const QString& path) {
    const QFileInfo fi(path);
    return fi.absoluteDir().filePath(
        QStringLiteral(".%1.%2.tmp")
            .arg(fi.fileName())
            .arg(QRandomGenerator::global()->generate64(), 16, 16, QLatin1Char('0')));
}


}  // namespace dbf::os
