// The main window's side of the strength-result decoders: which decoder an
// append uses, running flash2orl03 / flash2orl02 over the bytes of the
// ".bin" file in the memory image when the file reads as their layout, and
// what they change in the window; and "Диаграмма", the diagram of a
// result's readings.
#include <QAction>

#include "ground/dialogs.h"
#include "decode/flash2orl02.h"
#include "decode/flash2orl03.h"
#include "decode/strength_layout.h"
#include "device/download_window.h"
#include "device/memory_image.h"
#include "output/diagram_window.h"
#include "mainwindow/main_window.h"
#include "views/record_grid.h"

namespace {

decode::StrengthHooks hooksFor(QWidget* parent)
{
    decode::StrengthHooks h;
    h.report = [parent](const QString& text, const QString& caption) { ui::showInfo(parent, text, caption); };
    return h;
}

// Records the file announces but does not hold whole are left out; the
// user is told how many.
void reportSkipped(QWidget* parent, const decode::StrengthResult& r)
{
    QString text;
    if (r.skippedRecords > 0)
        text = QStringLiteral("Не добавлено записей, которых нет в файле целиком: %1.").arg(r.skippedRecords);
    if (r.individualCountMissing)
        text += (text.isEmpty() ? QString() : QStringLiteral(" ")) +
                QStringLiteral("Файл обрывается до числа записей индивидуального метода: они не добавлены.");
    if (!text.isEmpty())
        ui::dialogs().message(parent, text, QStringLiteral("Дополнение"), ui::Icon::Warning, ui::Buttons::Ok);
}

// The layout the file reads as, among those of the decoder; none (after
// telling the user) when it reads as none of them or cannot be told.
std::optional<decode::StrengthLayout> layoutOrSay(QWidget* parent, decode::Bytes file,
                                                  std::initializer_list<decode::StrengthLayout> layouts)
{
    const decode::LayoutVerdict v = decode::strength_layout(file, layouts);
    if (!v.layout)
        ui::showError(parent, v.refusal + QStringLiteral(" Записи из файла не добавлены."));
    return v.layout;
}

void showClassColumn(RecordGrid* g)
{
    const int c = g->columnOf(QStringLiteral("B_135"));
    if (c >= 0)
        g->columns()[size_t(c)].visible = true;
    g->applyColumns();
}

}  // namespace

int TForm1::layout_kind_of_table() const
{
    if (!Dbf1.isOpen())
        return 1;
    const int typeField = Dbf1.fieldIndex(u"TYPE");
    for (uint32_t r = 0; r < Dbf1.physicalCount(); ++r)
        if (!Dbf1.isDeletedAt(r)) {
            const int type = int(Dbf1.floatAt(r, typeField));
            return type == 3 ? 3 : (type == 5 || type == 2) ? 5 : 1;
        }
    return 1;
}

int TForm1::append_decoder() const
{
    if (layout_kind == 5)
        return 5;
    if (layout_kind != 3 || !Dbf1.isOpen())
        return 1;
    // Layout kind 3 is both a download that begins with an operative row and
    // a database of 47-byte strength results; the decoder writes COUNT and
    // B_135 on every strength row and never on a download row.  A database
    // without rows has kind 3 only when it was built from a ".bin" file.
    const int type = Dbf1.fieldIndex(u"TYPE"), count = Dbf1.fieldIndex(u"COUNT"),
              cls = Dbf1.fieldIndex(u"B_135");
    bool anyRow = false;
    for (uint32_t r = 0; r < Dbf1.physicalCount(); ++r) {
        if (Dbf1.isDeletedAt(r))
            continue;
        anyRow = true;
        if (int(Dbf1.floatAt(r, type)) == 3 && (!Dbf1.isNullAt(r, count) || !Dbf1.stringAt(r, cls).isEmpty()))
            return 3;
    }
    return anyRow ? 1 : 3;
}

void TForm1::flash2orl03(bool report)
{
    if (!Dbf1.isOpen() || !form2_)
        return;
    const decode::Bytes image = bin_image();
    const auto layout =
        layoutOrSay(this, image, {decode::StrengthLayout::Records47, decode::StrengthLayout::Records46});
    if (!layout)
        return;
    // The class column that the download decoder hides is shown again.
    for (RecordGrid* g : {DBGridPro3, DBGridPro4})
        showClassColumn(g);
    const int V = *layout == decode::StrengthLayout::Records46 ? decode::kFirstVersionWith47 - 1
                                                                : decode::kFirstVersionWith47;
    decode::StrengthResult r;
    try {
        r = decode::flash2orl03(Dbf1, image, V, report, hooksFor(this));
    } catch (...) {
        reloadGrids();
        throw;
    }
    reloadGrids();
    reportSkipped(this, r);
}

void TForm1::flash2orl02(bool report)
{
    if (!Dbf1.isOpen() || !form2_)
        return;
    const std::span<uint8_t> image = bin_image();
    if (!layoutOrSay(this, decode::Bytes(image.data(), image.size()), {decode::StrengthLayout::Records30}))
        return;
    for (RecordGrid* g : {DBGridPro3, DBGridPro4})
        showClassColumn(g);
    decode::StrengthResult r;
    try {
        r = decode::flash2orl02(Dbf1, image, report, hooksFor(this));
    } catch (...) {
        setCommandEnabled(SV1, false);
        reloadGrids();
        throw;
    }
    setCommandEnabled(SV1, false);
    reloadGrids();
    reportSkipped(this, r);
}

void TForm1::N34Click()
{
    if (!form5_ || !Dbf1.isOpen())
        return;
    form5_->FormShow();
    ui::dialogs().exec(*form5_);
}
