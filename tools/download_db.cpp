// dork5-download: one download from the attached instrument into a new
// database, through the program's own "Создать" (port search, download
// window, decoder), with no one at the screen.  Builds for every platform,
// so that the databases two builds write from the same instrument can be
// compared byte for byte.
// Usage: dork5-download OUT.db   (run on the offscreen platform)

#include <QApplication>
#include <QFileInfo>
#include <cstdio>

#include "device/download_window.h"
#include "ground/app_locale.h"
#include "ground/dialogs.h"
#include "ground/settings_key.h"
#include "mainwindow/main_window.h"

int main(int argc, char** argv)
{
    installAppLocale();
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 2) {
        std::fprintf(stderr, "usage: dork5-download OUT.db\n");
        return 2;
    }
    ui::ScriptedDialogs answers;
    answers.files.push_back(QFileInfo(args[1]).absoluteFilePath());
    const ui::ScopedDialogs scope(&answers);
    SettingsKey settings;
    TForm1 form(settings);
    device::TForm2 download(&form);
    form.setDownloadWindow(&download);
    form.N2Click();
    for (const auto& m : answers.messages)
        std::fprintf(stderr, "%s: %s\n", qUtf8Printable(m.caption), qUtf8Printable(m.text));
    if (!form.db_open) {
        std::fprintf(stderr, "no database was created\n");
        return 1;
    }
    std::printf("%s: %u records\n", qUtf8Printable(args[1]), form.Dbf1.physicalCount());
    return 0;
}
