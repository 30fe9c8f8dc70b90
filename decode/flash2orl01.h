#pragma once
// The download decoder: what one download left in the memory image becomes
// rows of the measurement table.  Operative records become MODE 0 rows;
// every point of every waiting series a MODE 1 row and every point of every
// observation series a MODE 2 row, TYPE being the series' position in its
// archive.

#include <QString>
#include <array>
#include <functional>

namespace dbf {
class Table;
}
namespace device {
class MemoryImage;
}

namespace decode {

struct Flash2orl01Hooks {
    // A series number for the waiting (1) or observation (2) picker.
    std::function<void(int mode, const QString& seriesNumber)> addSeries;
    // A message for the user (text, caption), shown when reporting is on.
    std::function<void(const QString& text, const QString& caption)> report;
};

struct Flash2orl01Result {
    int rows = 0;  // rows appended
    // Records the counts announced but the image cannot hold: operative
    // records, series headers and series points left out at an area's end.
    int skippedRecords = 0;
};

// Appends the download to the open table (nothing when it is closed).  Leaves
// the table filtered on "MODE=2".  counts are the RecordCount values of the
// download state (taken as unsigned 16-bit).
Flash2orl01Result flash2orl01(dbf::Table& table, const device::MemoryImage& image,
                              const std::array<int, 3>& counts, bool report,
                              const Flash2orl01Hooks& hooks = {});

}  // namespace decode
