#include "decode/strength_section.h"

#include "decode/primitives.h"
#include "store/dbf.h"

namespace decode {

StrengthFields::StrengthFields(const dbf::Table& t)
    : N(t.fieldIndex(u"N")), DATE(t.fieldIndex(u"DATE")), TIME(t.fieldIndex(u"TIME")), R(t.fieldIndex(u"R")),
      DIR(t.fieldIndex(u"DIR")), K_C(t.fieldIndex(u"K_C")), ARTICLE(t.fieldIndex(u"ARTICLE")),
      MATERIAL(t.fieldIndex(u"MATERIAL")), AGE(t.fieldIndex(u"AGE")), COND(t.fieldIndex(u"COND")),
      COUNT(t.fieldIndex(u"COUNT")), MODE(t.fieldIndex(u"MODE")), COMMENT(t.fieldIndex(u"COMMENT")),
      S_T(t.fieldIndex(u"S_T")), B_135(t.fieldIndex(u"B_135")), TYPE(t.fieldIndex(u"TYPE")),
      V_135(t.fieldIndex(u"V_135"))
{
    for (int n = 1; n <= 15; ++n)
        M[size_t(n - 1)] = t.fieldIndex(QStringLiteral("M%1").arg(n));
}

SavedFilter::SavedFilter(dbf::Table& t) : table_(t), filter_(t.filter()), filtered_(t.filtered()) {}

SavedFilter::~SavedFilter()
{
    try {
        if (table_.editing())
            table_.cancel();
        table_.setFiltered(false);
        table_.setFilter(filter_);
        table_.setFiltered(filtered_);
        table_.refresh();
        table_.first();
    } catch (...) {
        // The run already failed; the caller reports that failure.
    }
}

QString startSection(dbf::Table& t, const QString& filter)
{
    t.setFiltered(false);
    t.setFilter(filter);
    t.setFiltered(true);
    t.refresh();
    if (t.recordCount() == 0)
        return EmptyReference;
    t.last();
    return t.asString(u"DATE") + t.asString(u"TIME");
}

}  // namespace decode
