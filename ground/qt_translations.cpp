#include "ground/qt_translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <cstring>

namespace {

// Texts that Qt 6 asks for under contexts the distribution's catalogue does
// not carry yet (the file type column of the file dialog, for one).
class MissingQtTexts : public QTranslator {
public:
    using QTranslator::QTranslator;
    bool isEmpty() const override { return false; }
    QString translate(const char* context, const char* sourceText, const char* /*disambiguation*/,
                      int /*n*/) const override
    {
        struct Entry {
            const char* context;
            const char* source;
            const char* russian;
        };
        static const Entry entries[] = {
            {"QAbstractFileIconProvider", "Folder", "Папка"},
            {"QAbstractFileIconProvider", "File Folder", "Папка"},
            {"QAbstractFileIconProvider", "Drive", "Диск"},
            {"QAbstractFileIconProvider", "Shortcut", "Ярлык"},
            {"QAbstractFileIconProvider", "Alias", "Псевдоним"},
            {"QAbstractFileIconProvider", "Unknown", "Неизвестный"},
        };
        if (!context || !sourceText)
            return {};
        for (const Entry& e : entries)
            if (std::strcmp(e.context, context) == 0 && std::strcmp(e.source, sourceText) == 0)
                return QString::fromUtf8(e.russian);
        return {};
    }
};

}  // namespace

QString qtTranslationsFolder()
{
    return QLibraryInfo::path(QLibraryInfo::TranslationsPath);
}

bool installQtTranslations()
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        return false;
    // Installed first, asked last: Qt's catalogue has the final word.
    QCoreApplication::installTranslator(new MissingQtTexts(app));
    auto* qt = new QTranslator(app);
    if (!qt->load(QLocale(QLocale::Russian), QStringLiteral("qtbase"), QStringLiteral("_"), qtTranslationsFolder())) {
        delete qt;
        return false;
    }
    QCoreApplication::installTranslator(qt);
    return true;
}
