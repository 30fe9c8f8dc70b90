#include "decode/flash2orl03.h"

#include <algorithm>

#include "decode/strength_layout.h"
#include "decode/strength_section.h"
#include "decode/strength_tables.h"
#include "store/dbf.h"

namespace decode {
namespace {

constexpr int kIndividualSize = 47;
constexpr int kTime = 11, kDate = 14, kReadings = 17;

uint8_t at(Bytes b, qsizetype p) { return p >= 0 && p < qsizetype(b.size()) ? b[size_t(p)] : 0; }

QString recordDateTime(Bytes img, qsizetype p) { return date_str(img, p + kDate) + time_str(img, p + kTime); }

// Fields written by both sections.
void writeCommon(dbf::Table& t, const StrengthFields& f, Bytes img, qsizetype p, int number, int readings)
{
    t.setInteger(f.N, number);
    t.setFloat(f.R, get_word(img, p) / 10.0);
    t.setString(f.DIR, direction_letter(at(img, p + 2)));
    t.setFloat(f.K_C, at(img, p + 3) / 100.0);
    t.setFloat(f.V_135, at(img, p + 6) / 10.0);
    t.setString(f.TIME, time_str(img, p + kTime));
    t.setString(f.DATE, date_str(img, p + kDate));
    int count = 0;
    for (int n = 1; n <= readings; ++n) {
        const uint16_t w = get_word(img, p + kReadings + 2 * (n - 1));
        if (w != 0) {
            t.setFloat(f.M[size_t(n - 1)], w / 10.0);
            ++count;
        }
    }
    t.setInteger(f.COUNT, count);
    t.setString(f.COMMENT, QString());
    t.setInteger(f.TYPE, 3);
}

}  // namespace

int basic_record_length(int V) { return V >= kFirstVersionWith47 ? 47 : 46; }

std::optional<int> firmware_version(Bytes image)
{
    const LayoutVerdict v = strength_layout(image, {StrengthLayout::Records47, StrengthLayout::Records46});
    if (!v.layout)
        return std::nullopt;
    return *v.layout == StrengthLayout::Records46 ? kFirstVersionWith47 - 1 : kFirstVersionWith47;
}

StrengthResult flash2orl03(dbf::Table& table, Bytes img, int V, bool report, const StrengthHooks& hooks)
{
    StrengthResult result;
    if (!table.isOpen())
        return result;
    const SavedFilter saved(table);
    const StrengthFields f(table);
    const int L = basic_record_length(V);
    // The fifteenth reading of a 46-byte record would take its high byte from
    // the next record, so that layout carries fourteen.
    const int basicReadings = L == 47 ? 15 : 14;
    const qsizetype size = qsizetype(img.size());
    auto say = [&](const QString& text) {
        if (report && hooks.report)
            hooks.report(text, QStringLiteral("Дополнение"));
    };

    // Basic section.
    const int b = get_word(img, 0);
    const int bFit = int(std::min<qsizetype>(b, std::max<qsizetype>(0, (size - 2) / L)));
    const qsizetype iAt = 2 + qsizetype(b) * L;
    const int i = iAt + 2 <= size ? get_word(img, iAt) : 0;
    const int iFit = int(std::min<qsizetype>(i, std::max<qsizetype>(0, (size - iAt - 2) / kIndividualSize)));
    result.skippedRecords = (b - bFit) + (i - iFit);
    result.individualCountMissing = iAt + 2 > size;
    table.reserveRows(table.physicalCount() + uint32_t(bFit + iFit));

    QString reference = startSection(table, QStringLiteral("MODE=0"));
    int k = 0;
    while (k < bFit && !later_than(reference, recordDateTime(img, 2 + qsizetype(k) * L)))
        ++k;
    for (int r = k; r < bFit; ++r) {
        const qsizetype p = 2 + qsizetype(r) * L;
        table.append();
        writeCommon(table, f, img, p, r + 1, basicReadings);
        table.setString(f.ARTICLE, product_long(at(img, p + 4)));
        const int material = at(img, p + 5);
        table.setString(f.MATERIAL, material_name(material));
        table.setFloat(f.S_T, 0);
        const int ageAndCondition = at(img, p + (L == 47 ? 10 : 9));
        if (material < 8) {
            table.setString(f.COND, condition_text(ageAndCondition));
            table.setString(f.AGE, age_text(ageAndCondition));
        }
        if (L == 47)
            table.setString(f.B_135, class_code_text(at(img, p + 9)));
        else
            table.setString(f.B_135, calc_class_text(get_word(img, p) / 10.0, at(img, p + 6) / 10.0));
        table.setInteger(f.MODE, 0);
        table.post();
        ++result.basicRows;
    }
    say(QStringLiteral("Добавлено записей в базовый метод: ") + QString::number(result.basicRows));

    // Individual section.
    const qsizetype first = iAt + 2;
    reference = startSection(table, QStringLiteral("MODE=1"));
    k = 0;
    while (k < iFit && !later_than(reference, recordDateTime(img, first + qsizetype(k) * kIndividualSize)))
        ++k;
    for (int r = k; r < iFit; ++r) {
        const qsizetype p = first + qsizetype(r) * kIndividualSize;
        table.append();
        writeCommon(table, f, img, p, r + 1, 15);
        table.setString(f.ARTICLE, QString::number(at(img, p + 4)));
        table.setString(f.MATERIAL, product_short(at(img, p + 5)));
        table.setFloat(f.S_T, get_word(img, p + 7) / 100.0);
        table.setString(f.B_135, class_code_text(at(img, p + 9)));
        table.setInteger(f.MODE, 1);
        table.post();
        ++result.individualRows;
    }
    say(QStringLiteral("Добавлено записей в индивидуальный метод: ") + QString::number(result.individualRows));
    return result;
}

}  // namespace decode
