#include "output/report_data.h"

#include "store/dbf.h"
#include "views/series_logic.h"

namespace report {

TableRecords::TableRecords(const dbf::Table& table, std::vector<uint32_t> records)
    : table_(table), records_(std::move(records))
{
}

int TableRecords::field(const QString& name) const
{
    for (const auto& [n, i] : fields_)
        if (n == name)
            return i;
    const int i = table_.fieldIndex(name);
    fields_.emplace_back(name, i);
    return i;
}

QString TableRecords::text(const QString& name) const
{
    const int f = field(name);
    if (f < 0)
        return {};
    if (table_.fields()[size_t(f)].type == 'N')
        return series::numberFieldText(table_, current_, f);
    return table_.stringAt(current_, f);
}

std::optional<double> TableRecords::number(const QString& name) const
{
    const int f = field(name);
    if (f < 0 || table_.fields()[size_t(f)].type != 'N' || table_.isNullAt(current_, f))
        return std::nullopt;
    return table_.floatAt(current_, f);
}

std::vector<uint32_t> recordsInViewOrder(const dbf::Table& table)
{
    std::vector<uint32_t> out;
    if (!table.isOpen())
        return out;
    const int n = table.recordCount();
    out.reserve(size_t(n));
    for (int i = 0; i < n; ++i)
        out.push_back(table.physicalRecNoAt(i));
    return out;
}

PreparedReport prepareOperative(const dbf::Table& table)
{
    PreparedReport r;
    TableRecords records(table, recordsInViewOrder(table));
    prepare(frReport1(), &records, {}, r);
    return r;
}

namespace {

// A series report: the chart is picture 0, the series' records in stored
// order, the handler fills the information texts.
template <typename Texts>
PreparedReport prepareSeries(const Template& tpl, const dbf::Table& table, const Texts& texts, PictureSource chart,
                             void (*fill)(ObjectFill&, const Texts&, int))
{
    PreparedReport r;
    r.pictures.push_back(std::move(chart));
    TableRecords records(table, series::viewRecordsInStoredOrder(table));
    prepare(tpl, &records, [&texts, fill](ObjectFill& o) { fill(o, texts, 0); }, r);
    return r;
}

}  // namespace

PreparedReport prepareWaiting(const dbf::Table& table, const WaitingTexts& texts, PictureSource chart)
{
    return prepareSeries(frReport2(), table, texts, std::move(chart), &frReport2BeforePrint);
}

PreparedReport prepareObservation(const dbf::Table& table, const ObservationTexts& texts, PictureSource chart)
{
    return prepareSeries(frReport3(), table, texts, std::move(chart), &frReport3BeforePrint);
}

}  // namespace report
