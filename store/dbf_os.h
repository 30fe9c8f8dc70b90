#pragma once
// Platform file access of the table engine.  Everything that differs between
// Windows and POSIX is here: exclusive open, positioned reads and writes,
// flush, replace, and the names of work files.

#include <QString>
#include <QtGlobal>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

namespace dbf::os {

#ifdef _WIN32
using Handle = HANDLE;
inline const Handle kNoHandle = INVALID_HANDLE_VALUE;
// On Windows the exclusive handles must be closed before a rename.
constexpr bool kRenameNeedsClose = true;
#else
using Handle = int;
constexpr Handle kNoHandle = -1;
// POSIX keeps a lock on the file itself, so the locked temp file can be
// renamed into place and its handle kept: no moment without the lock.
constexpr bool kRenameNeedsClose = false;
#endif

// Opens an existing regular file for reading and writing with no sharing at
// all (POSIX: an exclusive flock).  Throws Error (Io, ReadOnly, Locked).
Handle openExclusive(const QString& path);
// Opens an existing regular file for reading only, shared with other
// readers (POSIX: a shared flock).  Throws Error (Io, Locked).
Handle openForReading(const QString& path);
// Creates a new file that must not exist yet, opened exclusively.
Handle createNew(const QString& path);

bool readAt(Handle h, qint64 off, void* buf, qint64 len);
bool writeAt(Handle h, qint64 off, const void* buf, qint64 len);
qint64 size(Handle h);
bool sync(Handle h);
void close(Handle& h);
void remove(const QString& path);
// Renames `from` over `to` (same folder) and then flushes the folder's entry
// to disk (POSIX) or moves with write-through (Windows).  The caller flushes
// the file itself first.
bool replace(const QString& from, const QString& to, QString& why);
// Flushes an existing file, by name, to disk.
bool syncFile(const QString& path);
// Why the last failed call above (write, sync, create) failed, in Russian
// ("Недостаточно места на диске", "Нет прав на запись" ...).  Call it right
// after the failure, before anything else touches the system's error value.
QString lastWriteError();

// A folder or file without any write permission (POSIX) or with the
// read-only attribute (Windows).
bool folderWritable(const QString& dir);
bool fileMarkedReadOnly(const QString& path);

// A fresh work-file name beside `path`: ".<name>.<16 hex digits>.tmp".
QString tempNameBeside(const QString& path);
// Removes the work files of `path` that no process holds open: names of the
// pattern above, and the work files of such a work file.
void removeStaleWorkFiles(const QString& path);

// Bytes of memory this process can still get (physical memory and swap
// available, within the process's and its control group's limits); -1 when
// it cannot be told.
qint64 memoryAvailable();

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

}  // namespace dbf::os
