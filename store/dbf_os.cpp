// Platform file access of the table engine (see dbf_os.h).
#include "store/dbf_os.h"

#include "store/dbf_fail.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <algorithm>
#include <cstring>

#ifndef _WIN32
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
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

#else  // POSIX

namespace {

QByteArray native(const QString& path) { return QFile::encodeName(path); }

QString errnoText(int e) { return QString::fromLocal8Bit(strerror(e)); }

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

#endif

QString tempNameBeside(const QString& path) {
    const QFileInfo fi(path);
    return fi.absoluteDir().filePath(
        QStringLiteral(".%1.%2.tmp")
            .arg(fi.fileName())
            .arg(QRandomGenerator::global()->generate64(), 16, 16, QLatin1Char('0')));
}


}  // namespace dbf::os
