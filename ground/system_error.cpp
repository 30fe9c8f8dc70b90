#include "ground/system_error.h"

#include <cerrno>
#include <cstring>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

QString systemErrorText(int e)
{
    const char* text = nullptr;
    switch (e) {
    case ENOENT: text = "нет такого файла или папки"; break;
    case EACCES: text = "нет доступа"; break;
    case EPERM: text = "операция не разрешена"; break;
    case EROFS: text = "носитель только для чтения"; break;
    case ENOSPC: text = "на диске нет места"; break;
#ifdef EDQUOT
    case EDQUOT: text = "превышена дисковая квота"; break;
#endif
    case EISDIR: text = "это папка"; break;
    case ENOTDIR: text = "часть пути не является папкой"; break;
    case EEXIST: text = "файл уже существует"; break;
    case EBUSY: text = "устройство или файл заняты"; break;
    case EAGAIN: text = "ресурс временно недоступен (файл занят другой программой)"; break;
    case EIO: text = "ошибка ввода-вывода"; break;
    case EMFILE:
    case ENFILE: text = "открыто слишком много файлов"; break;
    case ENAMETOOLONG: text = "слишком длинное имя файла"; break;
#ifdef ELOOP
    case ELOOP: text = "слишком много символических ссылок"; break;
#endif
    case EFBIG: text = "файл слишком велик"; break;
    case ENOMEM: text = "недостаточно памяти"; break;
    case EINVAL: text = "недопустимый аргумент"; break;
    case ENXIO: text = "нет такого устройства"; break;
    case ENODEV: text = "устройство не поддерживает операцию"; break;
#ifdef ETXTBSY
    case ETXTBSY: text = "файл занят"; break;
#endif
    case EXDEV: text = "файлы на разных дисках"; break;
    case EINTR: text = "операция прервана"; break;
    default: break;
    }
    if (text)
        return QString::fromUtf8(text);
    return QStringLiteral("ошибка системы %1 (%2)").arg(e).arg(QString::fromLocal8Bit(std::strerror(e)));
}

namespace {

const char* const kNoSpace = "Недостаточно места на диске";
const char* const kNoRights = "Нет прав на запись";
const char* const kReadOnlyMedium = "Носитель только для чтения";

QString sentence(QString s)
{
    if (!s.isEmpty())
        s[0] = s[0].toUpper();
    return s;
}

}  // namespace

QString writeErrorText(int e)
{
    switch (e) {
    case ENOSPC: return QString::fromUtf8(kNoSpace);
#ifdef EDQUOT
    case EDQUOT: return QStringLiteral("Недостаточно места на диске: превышена дисковая квота");
#endif
    // A folder without write permission (EACCES) or one the system lets
    // nobody change, root included (EPERM: an immutable folder or file).
    case EACCES:
    case EPERM: return QString::fromUtf8(kNoRights);
    case EROFS: return QString::fromUtf8(kReadOnlyMedium);
    case EFBIG: return QStringLiteral("Файл больше, чем позволяет система");
    case 0: return QStringLiteral("Ошибка записи на диск");
    default: return sentence(systemErrorText(e));
    }
}

#ifdef _WIN32
QString writeErrorTextWin(unsigned long code)
{
    switch (code) {
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return QString::fromUtf8(kNoSpace);
    case ERROR_ACCESS_DENIED: return QString::fromUtf8(kNoRights);
    case ERROR_WRITE_PROTECT: return QString::fromUtf8(kReadOnlyMedium);
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION: return QStringLiteral("Файл открыт другой программой");
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: return QStringLiteral("Нет такого файла или папки");
    default: {
        // The system's own text, in the language of the Windows installed.
        wchar_t* buf = nullptr;
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, DWORD(code), 0, reinterpret_cast<LPWSTR>(&buf), 0, nullptr);
        const QString text = buf ? QString::fromWCharArray(buf).trimmed() : QString();
        if (buf)
            LocalFree(buf);
        return QStringLiteral("Ошибка системы %1 (%2)").arg(code).arg(text);
    }
    }
}
#endif

QString fileErrorText(QFileDevice::FileError error, int e)
{
    if (e != 0)
        return writeErrorText(e);
    switch (error) {
    // Qt says ResourceError for a disk that is full.
    case QFileDevice::ResourceError: return QString::fromUtf8(kNoSpace);
    case QFileDevice::PermissionsError: return QString::fromUtf8(kNoRights);
    case QFileDevice::OpenError: return QStringLiteral("Не удалось создать файл");
    case QFileDevice::RenameError: return QStringLiteral("Не удалось заменить файл");
    case QFileDevice::RemoveError: return QStringLiteral("Не удалось удалить файл");
    case QFileDevice::ResizeError: return QStringLiteral("Не удалось изменить размер файла");
    case QFileDevice::ReadError: return QStringLiteral("Ошибка чтения");
    default: return writeErrorText(0);
    }
}
