#include "output/report_data.h"

#include "store/dbf.h"
#include "series/series_logic.h"

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

PreparedReport prepareOperative(const dbf::Table& table, const TextMetrics& metrics)
{
    PreparedReport r;
    TableRecords records(table, recordsInViewOrder(table));
    prepare(frReport1(), &records, {}, r, metrics);
    return r;
}

namespace {

// A series report: the chart is picture 0, the handler fills the information
// texts.  It lists the records of the series its header names, in stored
// order, whatever the table's filter is now: the series view's filter is gone
// after a tab change while the view still shows its series.
template <typename Texts>
PreparedReport prepareSeries(const Template& tpl, int mode, const dbf::Table& table, const Texts& texts,
                             PictureSource chart, void (*fill)(ObjectFill&, const Texts&, int),
                             const TextMetrics& metrics)
{
    PreparedReport r;
    r.pictures.push_back(std::move(chart));
    bool isOrdinal = false;
    const int ordinal = texts.series.trimmed().toInt(&isOrdinal);
    TableRecords records(table, isOrdinal ? series::seriesRecords(table, mode, ordinal) : std::vector<uint32_t>{});
    prepare(tpl, &records, [&texts, fill](ObjectFill& o) { fill(o, texts, 0); }, r, metrics);
    return r;
}

}  // namespace

PreparedReport prepareWaiting(const dbf::Table& table, const WaitingTexts& texts, PictureSource chart,
                              const TextMetrics& metrics)
{
    return prepareSeries(frReport2(), 1, table, texts, std::move(chart), &frReport2BeforePrint, metrics);
}

PreparedReport prepareObservation(const dbf::Table& table, const ObservationTexts& texts, PictureSource chart,
                                  const TextMetrics& metrics)
{
    return prepareSeries(frReport3(), 2, table, texts, std::move(chart), &frReport3BeforePrint, metrics);
}

}  // namespace report
