#include "ground/file_kind.h"

#include <QDir>
#include <QFileInfo>

#ifdef _WIN32
#include <QFileInfo>
#include <QRegularExpression>
#else
#include <QFile>
#include <sys/stat.h>
#endif

namespace {

QString named(const QString& path, const QString& what)
{
    return QStringLiteral("«%1» — %2, а не обычный файл.").arg(QDir::toNativeSeparators(path), what);
}

}  // namespace

QString notRegularFileReason(const QString& path)
{
    if (path.isEmpty())
        return QStringLiteral("Не указано имя файла.");
#ifdef _WIN32
    // Device names (NUL, CON, COM1 ...) exist in every folder.
    static const QRegularExpression device(QStringLiteral("^(CON|PRN|AUX|NUL|COM[1-9]|LPT[1-9])(\\..*)?$"),
                                           QRegularExpression::CaseInsensitiveOption);
    const QFileInfo fi(path);
    if (path.startsWith(QLatin1String("\\\\.\\")) || device.match(fi.fileName()).hasMatch())
        return named(path, QStringLiteral("это устройство"));
    if (!fi.exists())
        return {};
    if (fi.isDir())
        return named(path, QStringLiteral("это папка"));
    if (!fi.isFile())
        return named(path, QStringLiteral("это особый файл"));
    return {};
#else
    struct stat st {};
    // stat follows links: a link to a regular file is that file.
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return {};  // nothing there (or unreachable): opening says why
    if (S_ISREG(st.st_mode))
        return {};
    if (S_ISDIR(st.st_mode))
        return named(path, QStringLiteral("это папка"));
    if (S_ISFIFO(st.st_mode))
        return named(path, QStringLiteral("это канал (FIFO)"));
    if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode))
        return named(path, QStringLiteral("это устройство"));
    if (S_ISSOCK(st.st_mode))
        return named(path, QStringLiteral("это сокет"));
    return named(path, QStringLiteral("это особый файл"));
#endif
}

QString existingFolderOr(const QString& folder, const QString& fallback)
{
    if (folder.trimmed().isEmpty())
        return fallback;
    QFileInfo fi(QDir::cleanPath(QDir::fromNativeSeparators(folder)));
    if (fi.isRelative())
        return fallback;
    if (fi.isDir())
        return folder;
    for (int depth = 0; depth < 256; ++depth) {
        if (fi.isDir())
            return fi.absoluteFilePath();
        const QString parent = fi.absolutePath();
        if (parent == fi.absoluteFilePath())
            break;
        fi = QFileInfo(parent);
    }
    return fallback;
}
