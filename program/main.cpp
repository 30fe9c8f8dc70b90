// Program entry: the start-up sequence.
#include <QApplication>
#include <QIcon>
#include <new>

#include "views/about_window.h"
#include "ground/dialogs.h"
#include "store/dbf.h"
#include "ground/app_locale.h"
#include "ground/icons.h"
#include "ground/qt_translations.h"
#include "ground/settings_key.h"
#include "device/download_window.h"
#include "output/diagram_window.h"
#include "stats/sv_window.h"
#include "mainwindow/main_window.h"

namespace {

// A failure that reaches the event loop (a table that cannot be written, a
// value that cannot be read) ends the command that raised it with a message
// box; the program goes on.
class Application : public QApplication {
public:
    using QApplication::QApplication;
    bool notify(QObject* receiver, QEvent* event) override
    {
        try {
            return QApplication::notify(receiver, event);
        } catch (const dbf::Error& e) {
            ui::showError(activeWindow(), e.text());
        } catch (const std::bad_alloc&) {
            ui::showError(activeWindow(), QStringLiteral("Недостаточно памяти для выполнения команды."));
        } catch (const std::exception& e) {
            // The program's own failures carry Russian text in UTF-8.
            ui::showError(activeWindow(), QString::fromUtf8(e.what()));
        }
        return false;
    }
};

}  // namespace

int main(int argc, char** argv)
{
    Application app(argc, argv);
    // The application title: what the task bar and an untitled main window show.
    QApplication::setApplicationName(QStringLiteral("ДОРК-5"));
    QApplication::setOrganizationName(QStringLiteral("Morvisk"));
    QApplication::setWindowIcon(appIcon(AppIcon::New));
    installAppLocale();
    // Standard dialogs (file, colour, print) speak Russian like the program.
    installQtTranslations();

    SettingsKey settings;

    // Windows in their fixed order; the main window's FormCreate runs in its
    // constructor, before any other window exists.
    TForm1 form1(settings);
    device::TForm2 form2(&form1);
    TForm5 form5(form1.Dbf1, &form1);
    TForm3 form3(form1.Dbf1, settings, &form1);
    auto* form4 = new TForm4;
    Tform6 form6(&form1);
    form1.setDownloadWindow(&form2);
    form1.setAboutWindow(&form6);
    form1.setSvWindow(&form3);
    form1.setDiagramWindow(&form5);

    // The splash closes itself after 3000 ms and is destroyed at once.
    form4->exec();
    delete form4;

    form1.showMaximized();
    return app.exec();
}
