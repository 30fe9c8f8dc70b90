// Database commands of the main window: create from a download, open,
// append, save, close, delete rows, renumber, and building a database from a
// saved memory image.
#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPlainTextEdit>
#include <QSlider>
#include <QTabWidget>
#include <QUuid>
#include <cerrno>
#include <cstdio>
#include <cstring>
#ifdef _WIN32
#include <windows.h>
#endif

#include "app/dialogs.h"
#include "app/file_kind.h"
#include "app/system_error.h"
#include "decode/flash2orl01.h"
#include "device/download_window.h"
#include "device/memory_image.h"
#include "store/measurement.h"
#include "views/main_window.h"
#include "views/record_grid.h"
#include "views/string_grid.h"

namespace {

const QString kCorrupt = QStringLiteral("База данных повреждена !");

ui::FileRequest dbRequest(const QString& dir, const QString& filter, bool confirmOverwrite)
{
    ui::FileRequest r;
    r.caption = confirmOverwrite ? QStringLiteral("Сохранить базу данных как") : QStringLiteral("Открыть базу данных");
    r.directory = dir;
    r.filter = filter;
    r.defaultSuffix = QStringLiteral("db");
    r.confirmOverwrite = confirmOverwrite;
    return r;
}

// Says why a table could not be opened, in the user's words.
QString openFailureText(const dbf::Error& e, const QString& file)
{
    switch (e.kind()) {
    case dbf::Error::Kind::Locked:
        return QStringLiteral("База данных \"%1\" уже открыта другой программой.").arg(QDir::toNativeSeparators(file));
    case dbf::Error::Kind::ReadOnly:
        return QStringLiteral("База данных \"%1\" доступна только для чтения.").arg(QDir::toNativeSeparators(file));
    case dbf::Error::Kind::Io:
        return QStringLiteral("Не удалось открыть файл \"%1\": %2").arg(QDir::toNativeSeparators(file), e.text());
    default:
        return kCorrupt;
    }
}

// Replaces `target` by `source` in one step (same folder).
bool replaceFile(const QString& source, const QString& target, QString& error)
{
#ifdef _WIN32
    if (MoveFileExW(reinterpret_cast<LPCWSTR>(source.utf16()), reinterpret_cast<LPCWSTR>(target.utf16()),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    error = QStringLiteral("ошибка %1").arg(GetLastError());
    return false;
#else
    if (::rename(QFile::encodeName(source).constData(), QFile::encodeName(target).constData()) == 0)
        return true;
    error = systemErrorText(errno);
    return false;
#endif
}

}  // namespace

// A path that names a folder, a device or a FIFO is refused at once, before
// anything is read, written or downloaded for it.
bool TForm1::regularFileOrSay(const QString& file)
{
    const QString why = notRegularFileReason(file);
    if (why.isEmpty())
        return true;
    ui::showError(this, why);
    return false;
}

// ---------------------------------------------------------------------------
// create

void TForm1::N2Click()
{
    if (db_open)
        Close_DB();
    const QString file = ui::dialogs().saveFile(
        this, dbRequest(open_dialog_dir, QStringLiteral("Файлы данных|*.db"), /*confirmOverwrite=*/true));
    if (file.isEmpty())
        return;
    if (!regularFileOrSay(file))
        return;
    if (!form2_ || form2_->exec() != QDialog::Accepted)
        return;
    Create_DB(file);
}

bool TForm1::Create_DB(const QString& file)
{
    if (!regularFileOrSay(file))
        return false;
    db_open = false;
    db_changed = false;
    Dbf1.close();

    // A database open in another program is not replaced under it.
    if (QFileInfo::exists(file)) {
        dbf::Table probe;
        probe.setFileName(file);
        try {
            probe.open();
            probe.close();
        } catch (const dbf::Error& e) {
            if (e.kind() == dbf::Error::Kind::Locked || e.kind() == dbf::Error::Kind::ReadOnly) {
                ui::showError(this, openFailureText(e, file));
                return false;
            }
            // Any other content is replaced, as the user asked.
        }
    }

    // The new table is built beside the target and replaces it only when the
    // whole download has been written, so a failure never costs the user the
    // old file nor leaves a half-written one.
    const QFileInfo target(file);
    const QString work = target.absolutePath() + QStringLiteral("/.") + target.fileName() + QLatin1Char('.') +
                         QUuid::createUuid().toString(QUuid::Id128).left(8) + QStringLiteral(".new");
    try {
        dbf::Table::create(work, measurementFields());
        Dbf1.setFileName(work);
        Dbf1.setFiltered(false);
        Dbf1.setFilter(QString());
        Dbf1.open();
        setWindowColourOpen(true);
        // Nobody sees the work file before it is complete, so the rows go to
        // it in large writes.
        Dbf1.beginBulk();
        flash2orl01(false);
        Dbf1.close();
        QString error;
        if (!replaceFile(work, target.absoluteFilePath(), error))
            throw dbf::Error(dbf::Error::Kind::Io, error);
        Dbf1.setFileName(target.absoluteFilePath());
        Dbf1.open();
    } catch (const dbf::Error& e) {
        Dbf1.close();
        QFile::remove(work);
        Dbf1.setFileName(target.absoluteFilePath());
        setWindowColourOpen(false);
        ui::showError(this, QStringLiteral("Не удалось создать базу данных \"%1\": %2")
                                .arg(QDir::toNativeSeparators(file), e.text()));
        return false;
    }
    db_open = true;
    en_but();
    tab_vis_en();
    db_changed = false;
    return true;
}

void TForm1::flash2orl01(bool report)
{
    if (!Dbf1.isOpen() || !form2_)
        return;
    for (RecordGrid* g : {DBGridPro3, DBGridPro4}) {
        for (const char* field : {"B_135", "V_135"}) {
            const int c = g->columnOf(QLatin1String(field));
            if (c >= 0)
                g->columns()[size_t(c)].visible = false;
        }
        g->applyColumns();
    }
    const device::DownloadState& st = form2_->state();
    const bool waitingWasListed = ComboBox1->count() > 0;
    const bool observationWasListed = ComboBox2->count() > 0;
    decode::Flash2orl01Hooks hooks;
    hooks.addSeries = [this](int mode, const QString& number) {
        (mode == 1 ? ComboBox1 : ComboBox2)->addItem(number);
    };
    hooks.report = [this](const QString& text, const QString& caption) { ui::showInfo(this, text, caption); };
    decode::Flash2orl01Result r;
    try {
        r = decode::flash2orl01(Dbf1, form2_->image(), {st.RecordCount(0), st.RecordCount(1), st.RecordCount(2)},
                                report, hooks);
    } catch (...) {
        reloadGrids();
        throw;
    }
    reloadGrids();
    // Entries added to a picker select nothing: a series is shown only when
    // the user picks one.
    if (!waitingWasListed)
        ComboBox1->setCurrentIndex(-1);
    if (!observationWasListed)
        ComboBox2->setCurrentIndex(-1);
    if (r.skippedRecords > 0)
        ui::dialogs().message(this,
                              QStringLiteral("Прибор сообщил больше записей, чем вмещает образ памяти. "
                                             "Не декодировано записей: %1")
                                  .arg(r.skippedRecords),
                              QStringLiteral("Дополнение"), ui::Icon::Warning, ui::Buttons::Ok);
}

// ---------------------------------------------------------------------------
// open

void TForm1::N3Click()
{
    const QString file = ui::dialogs().openFile(this, dbRequest(open_dialog_dir, QStringLiteral("Базы данных|*.db"), false));
    if (file.isEmpty())
        return;
    if (db_open)
        Close_DB();
    default_dir = QFileInfo(file).absolutePath();
    Open_DB(file);
}

bool TForm1::Open_DB(const QString& file)
{
    if (!regularFileOrSay(file))
        return false;
    if (db_open)
        Close_DB();
    Dbf1.close();
    Dbf1.setFileName(QFileInfo(file).absoluteFilePath());
    Dbf1.setFilter(QString());
    Dbf1.setFiltered(false);
    try {
        Dbf1.open();
        // A table without the measurement fields is not one of our databases.
        for (const dbf::FieldDef& f : measurementFields()) {
            const int i = Dbf1.fieldIndex(f.name);
            if (i < 0 || Dbf1.fields()[size_t(i)].type != f.type)
                throw dbf::Error(dbf::Error::Kind::Corrupt, QStringLiteral("нет поля ") + f.name);
        }
    } catch (const dbf::Error& e) {
        Dbf1.close();
        ui::showError(this, openFailureText(e, file));
        return false;
    }
    db_open = true;
    Dbf1.refresh();
    Dbf1.first();
    // The layout kind comes from the first row in file order.
    int type = -1;
    for (uint32_t r = 0; r < Dbf1.physicalCount(); ++r)
        if (!Dbf1.isDeletedAt(r)) {
            type = int(Dbf1.floatAt(r, Dbf1.fieldIndex(u"TYPE")));
            break;
        }
    layout_kind = type == 3 ? 3 : (type == 5 || type == 2) ? 5 : 1;

    setWindowColourOpen(true);
    en_but();
    tab_vis_en();
    db_changed = false;
    // An unreadable layout was reported; the database stays open but the
    // rest of the opening (the title) is left as it was.
    if (!load_layout_all())
        return true;
    application_title = QFileInfo(file).completeBaseName() + QStringLiteral(" - ") + ProductTitle;
    setWindowTitle(application_title);
    return true;
}

// ---------------------------------------------------------------------------
// append

void TForm1::N4Click()
{
    if (!db_open) {
        const QString file =
            ui::dialogs().openFile(this, dbRequest(open_dialog_dir, QStringLiteral("Базы данных|*.db"), false));
        if (file.isEmpty())
            return;
        Open_DB(file);
    }
    if (!db_open)
        return;
    if (!form2_ || form2_->exec() != QDialog::Accepted)
        return;
    if (Dbf1.isOpen())
        reset_sort_all();
    // What the download window brings is always a deflection download, so it
    // is decoded as one whatever layout kind the database was opened with;
    // the strength-result layouts only come from memory-image files.
    try {
        flash2orl01(true);
    } catch (const dbf::Error& e) {
        ui::showError(this, e.text());
    }
    db_open = true;
    Save_DB();
    tab_vis_en();
}

// ---------------------------------------------------------------------------
// save, close

void TForm1::N5Click()
{
    if (db_open)
        Save_DB();
}

void TForm1::Save_DB()
{
    if (!db_open)
        return;
    if (Dbf1.isOpen()) {
        for (auto [sheet, grid] : {std::pair{0, DBGridPro1}, {2, DBGridPro3}, {3, DBGridPro4}})
            if (PageControl1->isTabVisible(sheet))
                grid->commitPendingEdit();
        // Rows deleted since the last save leave the file now.
        if (Dbf1.deletedCount() > 0) {
            try {
                Dbf1.pack();
            } catch (const dbf::Error& e) {
                ui::showError(this, e.text());
                return;
            }
            Dbf1.refresh();
            reloadGrids();
        }
    }
    db_changed = false;
}

void TForm1::N6Click() { Close_DB(); }

void TForm1::Close_DB()
{
    if (db_changed) {
        const ui::Answer a = ui::dialogs().message(this, QStringLiteral("Сохранить изменения в таблицах ?"),
                                                   ProductTitle, ui::Icon::Question, ui::Buttons::YesNo);
        if (a == ui::Answer::Yes) {
            Save_DB();
        } else if (Dbf1.isOpen()) {
            // "Нет" brings the deleted rows back.
            for (uint32_t r = 0; r < Dbf1.physicalCount(); ++r)
                if (Dbf1.isDeletedAt(r))
                    Dbf1.setDeleted(r, false);
        }
    }
    save_layout_all();
    db_open = false;
    db_changed = false;
    if (Dbf1.isOpen()) {
        const QString file = Dbf1.fileName();
        Dbf1.close();
        const QFileInfo fi(file);
        QFile::remove(fi.absolutePath() + QLatin1Char('/') + fi.completeBaseName() + QStringLiteral(".mdx"));
    }
    reloadGrids();
    dis_but();
    tab_vis_dis();
    application_title = ProductTitle;
    setWindowTitle(application_title);
    setWindowColourOpen(false);
}

// ---------------------------------------------------------------------------
// delete rows, renumber

void TForm1::N36Click()
{
    if (!Dbf1.isOpen() || currentSheet() != 1)
        return;
    DBGridPro1->commitPendingEdit();
    const QList<int> rows = DBGridPro1->selectedRows();
    if (rows.isEmpty())
        return;
    std::vector<uint32_t> recs;
    for (int row : rows)
        recs.push_back(Dbf1.physicalRecNoAt(row));
    // Marked rows leave every view at once; they leave the file when the
    // database is saved, and come back if the user declines to save.
    for (auto it = recs.rbegin(); it != recs.rend(); ++it)
        Dbf1.setDeleted(*it, true);
    Dbf1.refresh();
    DBGridPro1->clearSelection();
    reloadGrids();
    db_changed = true;
}

void TForm1::N37Click()
{
    if (!db_open || !Dbf1.isOpen())
        return;
    // Walk a snapshot of the view: renumbering must not move rows under the
    // walk when the view is sorted by N.
    std::vector<uint32_t> recs;
    const int n = Dbf1.recordCount();
    recs.reserve(size_t(n));
    for (int i = 0; i < n; ++i)
        recs.push_back(Dbf1.physicalRecNoAt(i));
    const int field = Dbf1.fieldIndex(u"N");
    for (int i = 0; i < n; ++i) {
        if (!Dbf1.gotoPhysical(recs[size_t(i)]))
            continue;
        Dbf1.edit();
        Dbf1.setInteger(field, i + 1);
        Dbf1.post();
    }
    Dbf1.refresh();
    Dbf1.first();
    reloadGrids();
}

// ---------------------------------------------------------------------------
// commands enabled with a database

void TForm1::dis_but()
{
    for (QAction* a : {N4, N5, N6, N8, N9, N36, N31, N28, N29, N30, N20, Excel1, SV1, N37, N34, N26, N11, N12, N13,
                       N14, N33, N16})
        setCommandEnabled(a, false);
    for (QWidget* w : std::initializer_list<QWidget*>{StringGrid1, StringGrid2, TrackBar1, TrackBar2, Memo1, Memo2})
        if (w)
            w->hide();
}

void TForm1::en_but()
{
    setCommandEnabled(N34, layout_kind != 1);
    for (QAction* a : {N4, N5, N6, N8, N9, N36, N31, N28, N29, N30, N20, Excel1, SV1, N37, N26, N11, N12, N13, N14,
                       N33, N16})
        setCommandEnabled(a, true);
    if (layout_kind == 5)
        setCommandEnabled(SV1, false);
}

void TForm1::setCommandEnabled(QAction* a, bool on)
{
    a->setEnabled(on);
    a->setProperty("commandEnabled", on);
}

bool TForm1::commandEnabled(const QAction* a) { return a->property("commandEnabled").toBool(); }

// ---------------------------------------------------------------------------
// a saved memory image

void TForm1::bin1Click()
{
    if (db_open)
        Close_DB();
    ui::FileRequest req;
    req.caption = QStringLiteral("Загрузить bin файл");
    req.directory = open_dialog_dir;
    req.filter = QStringLiteral("Двоичные файлы|*.bin");
    req.defaultSuffix = QStringLiteral("bin");
    const QString bin = ui::dialogs().openFile(this, req);
    if (bin.isEmpty() || !form2_)
        return;
    if (!regularFileOrSay(bin))
        return;
    const device::LoadResult r = device::loadBin(form2_->image(), bin);
    if (!r.ok) {
        ui::showError(this, r.message);
        return;
    }
    if (r.truncated)
        ui::dialogs().message(this, r.message, QStringLiteral("Загрузить bin файл"), ui::Icon::Warning, ui::Buttons::Ok);
    layout_kind = 3;
    const QString file = ui::dialogs().saveFile(this, dbRequest(open_dialog_dir, QStringLiteral("Базы данных|*.db"), true));
    if (file.isEmpty())
        return;
    Create_DB(file);
}
