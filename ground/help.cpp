#include "ground/help.h"

#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QTextBrowser>
#include <QVBoxLayout>

#include "ground/dialogs.h"

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
    // The guide is HTML in a file with the old help viewer's extension;
    // current Windows has no viewer for ".hlp" files, so every system shows
    // it in the program's own window.
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
}
