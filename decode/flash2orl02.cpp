#include "decode/flash2orl02.h"

#include <algorithm>

#include "decode/strength_section.h"
#include "decode/strength_tables.h"
#include "store/dbf.h"

namespace decode {
namespace {

constexpr int kRecordSize = 30;
constexpr int kFirst = 4;
constexpr int kFlags = 20, kCoefficient = 21, kValue = 23, kDate = 25, kTime = 28;

QString recordDateTime(Bytes img, qsizetype p) { return date_str(img, p + kDate) + hm_str(img, p + kTime); }

}  // namespace

StrengthResult flash2orl02(dbf::Table& table, std::span<uint8_t> image, bool report, const StrengthHooks& hooks)
{
    StrengthResult result;
    if (!table.isOpen())
        return result;
    const Bytes img(image.data(), image.size());
    const SavedFilter saved(table);
    const StrengthFields f(table);
    const qsizetype size = qsizetype(img.size());

    const int c = get_word(img, 0);
    const int fit = int(std::min<qsizetype>(c, std::max<qsizetype>(0, (size - kFirst) / kRecordSize)));
    result.skippedRecords = c - fit;
    table.reserveRows(table.physicalCount() + uint32_t(fit));

    // Both methods come in one list, so the last stored row of either is
    // what the image has already given.
    const QString reference = startSection(table, QStringLiteral("MODE=0 OR MODE=1"));
    int k = 0;
    while (k < fit && !later_than(reference, recordDateTime(img, kFirst + qsizetype(k) * kRecordSize)))
        ++k;
    for (int r = k; r < fit; ++r) {
        const qsizetype p = kFirst + qsizetype(r) * kRecordSize;
        table.append();
        table.setInteger(f.N, r + 1);
        table.setFloat(f.R, get_word(img, p + kValue) / 100.0);
        table.setFloat(f.K_C, get_word(img, p + kCoefficient) / 100.0);
        const int flags = img[size_t(p + kFlags)];
        table.setString(f.DIR, direction_letter(flags & 0x0F));
        const int method = flags >> 4;
        if (method == 9) {
            table.setString(f.ARTICLE, QStringLiteral("Basic"));
            table.setInteger(f.MODE, 0);
        } else {
            if (method <= 8)
                table.setString(f.ARTICLE, QString::number(9 - method));
            table.setInteger(f.MODE, 1);
        }
        int count = 0;
        for (int n = 1; n <= 10; ++n) {
            const size_t w = size_t(p + 2 * (n - 1));
            image[w + 1] &= 0x7F;  // the flag bit is not part of the value
            const uint16_t value = get_word(img, qsizetype(w));
            if (value != 0) {
                table.setFloat(f.M[size_t(n - 1)], value / 100.0);
                ++count;
            }
        }
        table.setInteger(f.COUNT, count);
        table.setString(f.TIME, hm_str(img, p + kTime));
        table.setString(f.DATE, date_str(img, p + kDate));
        table.setString(f.COMMENT, QString());
        table.setInteger(f.TYPE, 2);
        table.post();
        ++result.basicRows;
    }
    if (report && hooks.report)
        hooks.report(QStringLiteral("Добавлено записей в базовый метод: ") + QString::number(result.basicRows),
                     QStringLiteral("Дополнение"));
    return result;
}

}  // namespace decode
