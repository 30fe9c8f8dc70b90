#include "ground/help.h"

#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QTextBrowser>
#include <QVBoxLayout>

#include "ground/dialogs.h"

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#endif

QString findHelpFile(const QString& programDir)
{
    const QDir dir(programDir);
    for (const QString& candidate : {dir.filePath(QStringLiteral("orl.hlp")),
                                     dir.filePath(QStringLiteral("../share/dork5/orl.hlp"))})
        if (QFileInfo(candidate).isFile())
            return QDir::cleanPath(candidate);
    return {};
}

void showHelp(QWidget* parent, const QString& helpFile, int command, int data)
{
    Q_UNUSED(command);
    Q_UNUSED(data);
    if (!QFileInfo::exists(helpFile)) {
        ui::showError(parent, QStringLiteral("Файл справки \"%1\" не найден.").arg(helpFile),
                      QStringLiteral("Помощь"));
        return;
    }
#ifdef _WIN32
    // The finder of the old help viewer is gone from current Windows; the
    // system opens the guide with whatever is registered for it.
    ShellExecuteW(nullptr, L"open", reinterpret_cast<LPCWSTR>(helpFile.utf16()), nullptr, nullptr, SW_SHOWNORMAL);
#else
    static QPointer<QDialog> window;
    if (!window) {
        window = new QDialog(parent);
        window->setWindowTitle(QStringLiteral("Помощь"));
        window->setAttribute(Qt::WA_DeleteOnClose);
        auto* lay = new QVBoxLayout(window);
        auto* browser = new QTextBrowser(window);
        browser->setObjectName(QStringLiteral("HelpBrowser"));
        browser->setOpenExternalLinks(false);
        lay->addWidget(browser);
        window->resize(720, 560);
    }
    QFile f(helpFile);
    if (f.open(QIODevice::ReadOnly)) {
        auto* browser = window->findChild<QTextBrowser*>(QStringLiteral("HelpBrowser"));
        browser->setHtml(QString::fromUtf8(f.readAll()));
    }
    window->show();
    window->raise();
#endif
}
