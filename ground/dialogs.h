#pragma once
// The one seam through which every modal question reaches the user: file
// dialogs, message boxes and the colour dialog.  The program uses the Qt
// dialogs; tests install a ScriptedDialogs and answer from a queue.

#include <QColor>
#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <optional>

class QDialog;
class QWidget;

namespace ui {

enum class Icon { None, Information, Warning, Error, Question };
enum class Answer { Ok, Yes, No, Cancel };
enum class Buttons { Ok, YesNo, YesNoCancel, OkCancel };

struct FileRequest {
    QString caption;
    QString directory;      // initial directory
    QString filter;         // "Файлы данных|*.db" (the pipe form, as the program shows it)
    QString defaultSuffix;  // "db" without the point
    bool confirmOverwrite = false;
};

class Dialogs {
public:
    virtual ~Dialogs() = default;
    // Empty string: cancelled.
    virtual QString openFile(QWidget* parent, const FileRequest& request) = 0;
    virtual QString saveFile(QWidget* parent, const FileRequest& request) = 0;
    virtual Answer message(QWidget* parent, const QString& text, const QString& caption,
                           Icon icon, Buttons buttons) = 0;
    virtual std::optional<QColor> color(QWidget* parent, const QColor& initial) = 0;
    // Any other modal window (print dialog, report preview, the program's own
    // modal windows): runs it and returns its result code (QDialog::Accepted
    // or Rejected).  Tests answer without showing it.
    virtual int exec(QDialog& dialog) = 0;
};

// The dialogs in force: the Qt ones unless a test installed others.
Dialogs& dialogs();
// Installs a replacement (not owned); nullptr restores the Qt dialogs.
void setDialogs(Dialogs* replacement);

// Convenience wrappers used throughout the program.
void showError(QWidget* parent, const QString& text, const QString& caption = QStringLiteral("Ошибка"));
void showInfo(QWidget* parent, const QString& text, const QString& caption);

// Scripted answers for tests.  Every question is logged; an unexpected
// question (empty queue) is answered with Cancel / empty / OK and logged too.
class ScriptedDialogs : public Dialogs {
public:
    struct Message {
        QString text, caption;
        Icon icon;
        Buttons buttons;
    };
    std::deque<QString> files;      // answers to openFile / saveFile, in order
    std::deque<Answer> answers;     // answers to message()
    std::deque<std::optional<QColor>> colors;
    // Results for exec(), in order; when the queue is empty the window is
    // rejected.  onExec runs first with the window (set up, not shown), so a
    // test can look at it or drive it.
    std::deque<int> execResults;
    std::function<void(QDialog&)> onExec;
    QStringList execLog;  // class name (objectName when set) of every window run
    std::vector<Message> messages;  // every message asked, in order
    std::vector<FileRequest> fileRequests;

    QString openFile(QWidget*, const FileRequest& r) override;
    QString saveFile(QWidget*, const FileRequest& r) override;
    Answer message(QWidget*, const QString& text, const QString& caption, Icon icon,
                   Buttons buttons) override;
    std::optional<QColor> color(QWidget*, const QColor& initial) override;
    int exec(QDialog& dialog) override;
};

// RAII: installs scripted dialogs for the lifetime of a test.
class ScopedDialogs {
public:
    explicit ScopedDialogs(Dialogs* d) { setDialogs(d); }
    ~ScopedDialogs() { setDialogs(nullptr); }
};

}  // namespace ui
