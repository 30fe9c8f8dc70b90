#pragma once
// A prepared report as an Excel workbook: the pages one under another on a
// sheet, each text in the cell (or merged cells) under its place on the
// page, framed texts with thin borders, numbers as number cells in their
// display format, the chart as a picture.  Each page prints as one page, in
// its own orientation: a page break before it, a print scale at which it
// fits the paper, a new sheet where the orientation changes.  A sheet that
// would pass the format's row or page-break limit goes on in the next one.

#include "output/report_model.h"
#include "output/xls_writer.h"

namespace report {

xls::Workbook toWorkbook(const PreparedReport& report, int maxRowsPerSheet = xls::MaxRows);

}  // namespace report
