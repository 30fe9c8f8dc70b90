#pragma once
// Text form of a record grid's column layout, as kept in the settings key
// ("Table_1", "Table_3" ... "Table_6").  Window-free: the grid converts its
// columns to and from ColumnLayout.
//
// The text is a list of lines, each ending in CR LF:
//
//   dork5 grid layout 1
//   column N width=47 align=right
//   column R width=346 align=center sort=up order=1 color=#ffc0ffc0
//   column COMMENT width=322 font="Arial,10,-1,5,400,0,0,0,0,0,0,0,0,0,0,1"
//   end
//
// The first line names the format and its version.  Then one "column" line
// per grid column: the field name, then key=value pairs for those kept
// properties that differ from their defaults, separated by single spaces:
//
//   width=<pixels>             design width the grid stretches from (default 64)
//   sort=up|down               title sort indicator (default none)
//   order=<n>                  sort order number (default 0)
//   color=#aarrggbb            cell background (default: the grid's own)
//   align=left|center|right    cell alignment (default left)
//   font="<description>"       the column's font as QFont writes it; a quote
//                              or backslash inside is escaped with a backslash
//                              (default: the grid's font)
//
// The closing "end" line makes a cut-off value detectable.  Reading accepts
// CR LF, LF or CR line ends and ignores empty lines; anything else that does
// not fit the form above makes the whole text unreadable.

#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

enum class SortIndicator { None, Up, Down };

namespace layout {

enum class HAlign { Left, Center, Right };

struct ColumnLayout {
    QString field;
    int width = 64;
    SortIndicator sort = SortIndicator::None;
    int sortOrder = 0;
    std::optional<uint32_t> color;  // 0xAARRGGBB
    HAlign alignment = HAlign::Left;
    std::optional<QString> font;    // QFont::toString() description

    bool operator==(const ColumnLayout&) const = default;
};

inline constexpr int kDefaultWidth = 64;

// Every line break (CR LF, lone LF, lone CR) becomes CR LF.
QString normaliseLineEnds(const QString& text);

// The text of a column list; every line ends in CR LF.
QString toText(const std::vector<ColumnLayout>& columns);

// Reads a column list back.  Returns nothing when the text is not a layout;
// then *error (when given) says which line and why.
std::optional<std::vector<ColumnLayout>> fromText(const QString& text, QString* error = nullptr);

}  // namespace layout
