#pragma once
// Preparing the three reports from the measurement table as it is filtered
// at that moment.

#include <cstdint>
#include <vector>

#include "output/report_model.h"
#include "output/report_templates.h"

namespace dbf {
class Table;
}

namespace report {

// The list band's records: given physical records of a table.  Numbers are
// shown in their shortest general form with a decimal comma, texts as stored.
class TableRecords : public RecordSource {
public:
    TableRecords(const dbf::Table& table, std::vector<uint32_t> records);
    int count() const override { return int(records_.size()); }
    void moveTo(int row) override { current_ = records_[size_t(row)]; }
    QString text(const QString& field) const override;
    std::optional<double> number(const QString& field) const override;

private:
    int field(const QString& name) const;
    const dbf::Table& table_;
    std::vector<uint32_t> records_;
    uint32_t current_ = 0;
    // Field indexes of the last names asked for (the engine asks for a few
    // names over and over).
    mutable std::vector<std::pair<QString, int>> fields_;
};

// The records of the table's current view in view order (the operative
// grid's sort).
std::vector<uint32_t> recordsInViewOrder(const dbf::Table& table);

// With `metrics` every text is kept inside its box (see prepare()).
PreparedReport prepareOperative(const dbf::Table& table, const TextMetrics& metrics = {});
// The series reports list the series named by texts.series (its ordinal).
PreparedReport prepareWaiting(const dbf::Table& table, const WaitingTexts& texts, PictureSource chart,
                              const TextMetrics& metrics = {});
PreparedReport prepareObservation(const dbf::Table& table, const ObservationTexts& texts, PictureSource chart,
                                  const TextMetrics& metrics = {});

}  // namespace report
