#include "app/system_error.h"

#include <cerrno>
#include <cstring>

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
