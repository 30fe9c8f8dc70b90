#include "ground/dialogs.h"

#include "ground/app_locale.h"

#include <QColorDialog>
#include <QDialog>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QIdentityProxyModel>
#include <QMessageBox>
#include <QPushButton>

namespace ui {
namespace {

// "Файлы данных|*.db" -> "Файлы данных (*.db)"; pairs separated by '|'.
QString qtFilter(const QString& filter)
{
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList out;
    for (int i = 0; i + 1 < parts.size(); i += 2)
        out << parts[i] + QStringLiteral(" (") + QString(parts[i + 1]).replace(QLatin1Char(';'), QLatin1Char(' ')) + QLatin1Char(')');
    return out.join(QStringLiteral(";;"));
}

// Qt's own file dialog writes sizes and dates in the machine's locale
// ("100 bytes", "9 Dec 2026" under a C locale); the program writes them the
// Russian way like everything else.
class RussianFileColumns : public QIdentityProxyModel {
public:
    using QIdentityProxyModel::QIdentityProxyModel;
    QVariant data(const QModelIndex& index, int role) const override
    {
        auto* files = qobject_cast<QFileSystemModel*>(sourceModel());
        if (role != Qt::DisplayRole || !files || !index.isValid())
            return QIdentityProxyModel::data(index, role);
        const QModelIndex source = mapToSource(index);
        switch (index.column()) {
        case 1:  // size
            return files->isDir(source) ? QString() : appLocale().formattedDataSize(files->size(source));
        case 3:  // date modified
            return appLocale().toString(files->lastModified(source), QLocale::ShortFormat);
        default:
            return QIdentityProxyModel::data(index, role);
        }
    }
};

// A desktop dialog of its own ignores the proxy.
void useRussianColumns(QFileDialog& dlg) { dlg.setProxyModel(new RussianFileColumns(&dlg)); }

class QtDialogs : public Dialogs {
public:
    QString openFile(QWidget* parent, const FileRequest& r) override
    {
        QFileDialog dlg(parent, r.caption, r.directory, qtFilter(r.filter));
        useRussianColumns(dlg);
        dlg.setAcceptMode(QFileDialog::AcceptOpen);
        dlg.setFileMode(QFileDialog::ExistingFile);
        dlg.setDefaultSuffix(r.defaultSuffix);
        if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty())
            return {};
        return dlg.selectedFiles().constFirst();
    }
    QString saveFile(QWidget* parent, const FileRequest& r) override
    {
        QFileDialog dlg(parent, r.caption, r.directory, qtFilter(r.filter));
        useRussianColumns(dlg);
        dlg.setAcceptMode(QFileDialog::AcceptSave);
        dlg.setFileMode(QFileDialog::AnyFile);
        dlg.setDefaultSuffix(r.defaultSuffix);
        dlg.setOption(QFileDialog::DontConfirmOverwrite, !r.confirmOverwrite);
        if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty())
            return {};
        return dlg.selectedFiles().constFirst();
    }
    Answer message(QWidget* parent, const QString& text, const QString& caption, Icon icon,
                   Buttons buttons) override
    {
        QMessageBox box(parent);
        box.setWindowTitle(caption);
        box.setText(text);
        switch (icon) {
        case Icon::None: box.setIcon(QMessageBox::NoIcon); break;
        case Icon::Information: box.setIcon(QMessageBox::Information); break;
        case Icon::Warning: box.setIcon(QMessageBox::Warning); break;
        case Icon::Error: box.setIcon(QMessageBox::Critical); break;
        case Icon::Question: box.setIcon(QMessageBox::Question); break;
        }
        QMessageBox::StandardButtons b = QMessageBox::Ok;
        switch (buttons) {
        case Buttons::Ok: b = QMessageBox::Ok; break;
        case Buttons::YesNo: b = QMessageBox::Yes | QMessageBox::No; break;
        case Buttons::YesNoCancel: b = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel; break;
        case Buttons::OkCancel: b = QMessageBox::Ok | QMessageBox::Cancel; break;
        }
        box.setStandardButtons(b);
        // Russian captions on the buttons whatever translations are installed.
        if (auto* x = box.button(QMessageBox::Yes)) x->setText(QStringLiteral("Да"));
        if (auto* x = box.button(QMessageBox::No)) x->setText(QStringLiteral("Нет"));
        if (auto* x = box.button(QMessageBox::Cancel)) x->setText(QStringLiteral("Отмена"));
        if (auto* x = box.button(QMessageBox::Ok)) x->setText(QStringLiteral("OK"));
        switch (box.exec()) {
        case QMessageBox::Yes: return Answer::Yes;
        case QMessageBox::No: return Answer::No;
        case QMessageBox::Ok: return Answer::Ok;
        default: return Answer::Cancel;
        }
    }
    std::optional<QColor> color(QWidget* parent, const QColor& initial) override
    {
        const QColor c = QColorDialog::getColor(initial, parent, QStringLiteral("Цвет"));
        if (!c.isValid())
            return std::nullopt;
        return c;
    }
    int exec(QDialog& dialog) override { return dialog.exec(); }
};

Dialogs* g_override = nullptr;

}  // namespace

Dialogs& dialogs()
{
    static QtDialogs real;
    return g_override ? *g_override : real;
}

void setDialogs(Dialogs* replacement) { g_override = replacement; }

void showError(QWidget* parent, const QString& text, const QString& caption)
{
    dialogs().message(parent, text, caption, Icon::Error, Buttons::Ok);
}

void showInfo(QWidget* parent, const QString& text, const QString& caption)
{
    dialogs().message(parent, text, caption, Icon::Information, Buttons::Ok);
}

QString ScriptedDialogs::openFile(QWidget*, const FileRequest& r)
{
    fileRequests.push_back(r);
    if (files.empty())
        return {};
    QString f = files.front();
    files.pop_front();
    return f;
}

QString ScriptedDialogs::saveFile(QWidget* w, const FileRequest& r) { return openFile(w, r); }

Answer ScriptedDialogs::message(QWidget*, const QString& text, const QString& caption, Icon icon,
                                Buttons buttons)
{
    messages.push_back({text, caption, icon, buttons});
    if (answers.empty())
        return buttons == Buttons::Ok || buttons == Buttons::OkCancel ? Answer::Ok : Answer::Cancel;
    Answer a = answers.front();
    answers.pop_front();
    return a;
}

std::optional<QColor> ScriptedDialogs::color(QWidget*, const QColor&)
{
    if (colors.empty())
        return std::nullopt;
    auto c = colors.front();
    colors.pop_front();
    return c;
}

}  // namespace ui

namespace ui {

int ScriptedDialogs::exec(QDialog& dialog)
{
    execLog << (dialog.objectName().isEmpty() ? QString::fromLatin1(dialog.metaObject()->className())
                                              : dialog.objectName());
    if (onExec)
        onExec(dialog);
    if (execResults.empty())
        return QDialog::Rejected;
    const int r = execResults.front();
    execResults.pop_front();
    return r;
}

}  // namespace ui
