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
#include <algorithm>

#include "ground/dialogs.h"
#include "ground/file_kind.h"
#include "ground/system_error.h"
#include "decode/flash2orl01.h"
#include "decode/strength_layout.h"
#include "device/download_window.h"
#include "device/memory_image.h"
#include "store/measurement.h"
#include "mainwindow/main_window.h"
#include "views/record_grid.h"
#include "views/observation_view.h"
#include "views/waiting_view.h"

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
    case dbf::Error::Kind::Memory:  // too large for memory: the engine says how much it needs
    case dbf::Error::Kind::Io:
        return QStringLiteral("Не удалось открыть файл \"%1\": %2").arg(QDir::toNativeSeparators(file), e.text());
    default:
        return kCorrupt;
    }
}

// File records (0-based) as the user counts them, runs joined:
// "5, 500–1000"; a long list ends with how many more there are.
QString recordList(const std::vector<uint32_t>& recs)
{
    QStringList runs;
    int listed = 0;
    for (size_t i = 0; i < recs.size();) {
        size_t j = i;
        while (j + 1 < recs.size() && recs[j + 1] == recs[j] + 1)
            ++j;
        if (runs.size() == 10) {
            runs << QStringLiteral("и ещё %1").arg(recs.size() - size_t(listed));
            break;
        }
        runs << (j == i ? QString::number(recs[i] + 1)
                        : QStringLiteral("%1–%2").arg(recs[i] + 1).arg(recs[j] + 1));
        listed += int(j - i + 1);
        i = j + 1;
    }
    return runs.join(QStringLiteral(", "));
}

// A read-only database is browsed, never changed: every changing command
// says so and does nothing.
bool refusedReadOnly(TForm1* form)
{
    if (!form->Dbf1.isOpen() || !form->Dbf1.readOnly())
        return false;
    ui::showError(form, QStringLiteral("База данных \"%1\" открыта только для чтения: изменить её нельзя.")
                            .arg(QDir::toNativeSeparators(form->Dbf1.fileName())));
    return true;
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

bool TForm1::Create_DB(const QString& file, int decoder)
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
    // No database is open from here on: the views start empty, so a
    // download fills the pickers with its own series only.
    tab_vis_dis();

    const QFileInfo target(file);
    // Work files of an earlier run that was killed go first.
    dbf::removeStaleWorkFiles(target.absoluteFilePath());
    const QString work = dbf::workFileBeside(target.absoluteFilePath());
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
        if (decoder == 3)
            flash2orl03(true);
        else if (decoder == 5)
            flash2orl02(true);
        else
            flash2orl01(false);
        Dbf1.close();
        // On disk before it replaces the user's file.
        dbf::replaceWithWorkFile(work, target.absoluteFilePath());
        Dbf1.setFileName(target.absoluteFilePath());
        Dbf1.open();
    } catch (const dbf::Error& e) {
        // Closing writes out the rows still held for a large write; on a full
        // disk that fails again, and the work file goes anyway.
        try {
            Dbf1.close();
        } catch (const dbf::Error&) {
        }
        QFile::remove(work);
        Dbf1.setFileName(target.absoluteFilePath());
        setWindowColourOpen(false);
        // The series the failed download listed belong to no database.
        reloadGrids();
        dis_but();
        tab_vis_dis();
        ui::showError(this, QStringLiteral("Не удалось создать базу данных \"%1\": %2")
                                .arg(QDir::toNativeSeparators(file), e.text()));
        return false;
    }
    db_open = true;
    // The layout kind follows what was just written, as opening the file
    // would find it, so that commands and appends do not go by the
    // database open before.
    layout_kind = decoder == 1 ? layout_kind_of_table() : decoder;
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
    const bool waitingWasListed = waitingView->listedSeries() > 0;
    const bool observationWasListed = observationView->listedSeries() > 0;
    decode::Flash2orl01Hooks hooks;
    hooks.addSeries = [this](int mode, const QString& number) {
        (mode == 1 ? static_cast<SeriesView*>(waitingView) : observationView)->addSeries(number);
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
    waitingView->selectNoneIf(!waitingWasListed);
    observationView->selectNoneIf(!observationWasListed);
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
        try {
            Dbf1.open();
        } catch (const dbf::Error& e) {
            // A file without write permission, or on read-only media, is
            // opened for browsing, printing and export; so are the intact
            // records of a file with torn records (a crash during an append).
            if (e.kind() != dbf::Error::Kind::ReadOnly && e.kind() != dbf::Error::Kind::Damaged)
                throw;
            Dbf1.openReadOnly();
        }
        // A table without the measurement fields is not one of our databases.
        for (const dbf::FieldDef& f : measurementFields()) {
            const int i = Dbf1.fieldIndex(f.name);
            if (i < 0 || Dbf1.fields()[size_t(i)].type != f.type)
                throw dbf::Error(dbf::Error::Kind::Corrupt, QStringLiteral("нет поля ") + f.name);
        }
    } catch (const dbf::Error& e) {
        Dbf1.close();
        reloadGrids();
        dis_but();
        tab_vis_dis();
        ui::showError(this, openFailureText(e, file));
        return false;
    }
    db_open = true;
    Dbf1.refresh();
    Dbf1.first();
    layout_kind = layout_kind_of_table();
    if (!Dbf1.damagedRecords().empty())
        ui::dialogs().message(this,
                              QStringLiteral("В базе данных \"%1\" повреждены записи (номера по порядку в файле): "
                                             "%2. Остальные записи (%3) открыты только для чтения: их можно "
                                             "просматривать, печатать и выводить в Excel, но не изменять.")
                                  .arg(QDir::toNativeSeparators(file), recordList(Dbf1.damagedRecords()))
                                  .arg(Dbf1.physicalCount() - Dbf1.deletedCount()),
                              QStringLiteral("Ошибка"), ui::Icon::Warning, ui::Buttons::Ok);
    else if (Dbf1.readOnly())
        ui::dialogs().message(this,
                              QStringLiteral("Файл \"%1\" открыт только для чтения: его можно просматривать, "
                                             "печатать и выводить в Excel, но не изменять.")
                                  .arg(QDir::toNativeSeparators(file)),
                              QStringLiteral("Дополнение"), ui::Icon::Information, ui::Buttons::Ok);

    setWindowColourOpen(true);
    en_but();
    tab_vis_en();
    db_changed = false;
    // An unreadable layout is reported and replaced inside; the opening
    // goes on to the title.
    load_layout_all();
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
    if (!db_open || refusedReadOnly(this) || !form2_)
        return;
    // A database of deflection measurements takes a download; one of
    // strength results takes a memory image of its layout from a ".bin"
    // file, since the download brings only the deflection archives.
    const int decoder = append_decoder();
    if (decoder == 1) {
        if (form2_->exec() != QDialog::Accepted)
            return;
    } else if (!loadImageFile()) {
        return;
    }
    if (Dbf1.isOpen())
        reset_sort_all();
    try {
        if (decoder == 3)
            flash2orl03(true);
        else if (decoder == 5)
            flash2orl02(true);
        else
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
    if (db_open && !refusedReadOnly(this))
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
    if (!Dbf1.isOpen() || currentSheet() != 1 || refusedReadOnly(this))
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
    if (!db_open || !Dbf1.isOpen() || refusedReadOnly(this))
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
    waitingView->hideSeries();
    observationView->hideSeries();
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
    if (!form2_ || !loadImageFile())
        return;
    // The file holds strength results, not a download: the record counts of
    // the last download say nothing about it.  Nothing in it names its
    // layout; it is decoded only as the layout its bytes read as.
    const decode::LayoutVerdict v =
        decode::strength_layout(bin_image(), {decode::StrengthLayout::Records47, decode::StrengthLayout::Records46,
                                              decode::StrengthLayout::Records30});
    if (!v.layout) {
        ui::showError(this, v.refusal + QStringLiteral(" База данных не создана."));
        return;
    }
    const int decoder = *v.layout == decode::StrengthLayout::Records30 ? 5 : 3;
    layout_kind = decoder;
    const QString file = ui::dialogs().saveFile(this, dbRequest(open_dialog_dir, QStringLiteral("Базы данных|*.db"), true));
    if (file.isEmpty())
        return;
    Create_DB(file, decoder);
}

bool TForm1::loadImageFile()
{
    ui::FileRequest req;
    req.caption = QStringLiteral("Загрузить bin файл");
    req.directory = open_dialog_dir;
    req.filter = QStringLiteral("Двоичные файлы|*.bin");
    req.defaultSuffix = QStringLiteral("bin");
    const QString bin = ui::dialogs().openFile(this, req);
    if (bin.isEmpty() || !form2_)
        return false;
    if (!regularFileOrSay(bin))
        return false;
    const device::LoadResult r = device::loadBin(form2_->image(), bin);
    if (!r.ok) {
        ui::showError(this, r.message);
        return false;
    }
    // Whatever the image held after the file's bytes belongs to no file.
    bin_length = r.bytesRead;
    if (r.bytesRead == 0) {
        ui::showError(this, QStringLiteral("Файл \"%1\" пуст: в нём нет результатов измерений.")
                                .arg(QDir::toNativeSeparators(bin)));
        return false;
    }
    if (r.truncated)
        ui::dialogs().message(this, r.message, QStringLiteral("Загрузить bin файл"), ui::Icon::Warning, ui::Buttons::Ok);
    return true;
}

std::span<uint8_t> TForm1::bin_image()
{
    if (!form2_)
        return {};
    return form2_->image().leading().first(size_t(std::clamp<qsizetype>(bin_length, 0, device::MemoryImage::LeadingSize)));
}
