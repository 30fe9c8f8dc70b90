// Record grid over a real measurement table: column lists, cell texts,
// editing, title clicks, fit-to-width, layouts and a very large table.

#include <QComboBox>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QLineEdit>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include "ground/app_locale.h"
#include "ground/dialogs.h"
#include "store/dbf.h"
#include "store/measurement.h"
#include "tests/store/dbf_test_util.h"
#include "views/record_grid.h"

namespace {

struct Row {
    int n;
    const char* date;
    double r;
    int mode;
    const char* comment;
    const char* dir;
};

// Operative rows (MODE 0) mixed with a waiting series (MODE 1).
const Row kRows[] = {
    {1, "01.02.2024", 2.5, 0, "first", "б"},   {2, "02.02.2024", 0.75, 0, "", "д"},
    {3, "03.02.2024", 10.0, 0, "", "а"},       {7, "03.02.2024", 5.0, 1, "series", ""},
    {4, "04.02.2024", 1.25, 0, "", "ж"},       {5, "05.02.2024", 7.5, 0, "last", "вx"},
};

class Fixture {
public:
    Fixture()
    {
        path = dir.filePath(QStringLiteral("grid.db"));
        dbf::Table::create(path, measurementFields());
        table.setFileName(path);
        table.open();
        for (const Row& r : kRows) {
            table.append();
            table.setFloat(u"N", r.n);
            table.setString(u"DATE", QString::fromUtf8(r.date));
            table.setString(u"TIME", QStringLiteral("12:00:00"));
            table.setFloat(u"R", r.r);
            table.setInteger(u"MODE", r.mode);
            table.setInteger(u"TYPE", r.mode == 0 ? 3 : 1);
            table.setString(u"COMMENT", QString::fromUtf8(r.comment));
            table.setString(u"DIR", QString::fromUtf8(r.dir));
            table.setFloat(u"K_C", 1.0 / 3.0);
            table.post();
        }
        table.setFilter(QStringLiteral("MODE=0"));
        table.setFiltered(true);
        table.refresh();
    }

    QTemporaryDir dir;
    QString path;
    dbf::Table table;
};

QString cell(const RecordGrid& g, int row, const char* field, int role = Qt::DisplayRole)
{
    return g.model()->index(row, g.columnOf(QLatin1String(field))).data(role).toString();
}

QStringList columnTexts(const RecordGrid& g, const char* field)
{
    QStringList out;
    for (int r = 0; r < g.model()->rowCount(); ++r)
        out << cell(g, r, field);
    return out;
}

int shownTotal(const RecordGrid& g)
{
    int sum = 0;
    for (size_t i = 0; i < g.columns().size(); ++i)
        if (!g.isColumnHidden(int(i)))
            sum += g.columnWidth(int(i));
    return sum;
}

}  // namespace

class TestGridModel : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { installAppLocale(); }

    // ---- column lists ------------------------------------------------------

    void operativeColumns()
    {
        const auto cols = gridColumnsFor(1);
        struct Want {
            const char* field;
            const char* title;
            int width;
            Qt::Alignment align;
            bool shown;
        };
        const Want want[] = {
            {"N", "N", 47, Qt::AlignRight, true},
            {"DATE", "Дата", 143, Qt::AlignHCenter, true},
            {"TIME", "Время", 134, Qt::AlignHCenter, true},
            {"GROUP", "Участок (Конструкция)", 99, Qt::AlignHCenter, false},
            {"R", "Прогиб f,мм.", 346, Qt::AlignHCenter, true},
            {"B_135", "Класс бетона B", 69, Qt::AlignHCenter, false},
            {"V_135", "Коэфициент вариации V,%", 76, Qt::AlignRight, false},
            {"MATERIAL", "Материал", 83, Qt::AlignHCenter, false},
            {"ARTICLE", "Изделие", 72, Qt::AlignHCenter, false},
            {"DIR", "Направление удара", 75, Qt::AlignHCenter, false},
            {"AGE", "Возраст", 83, Qt::AlignHCenter, false},
            {"COND", "Условия твердения", 101, Qt::AlignHCenter, false},
            {"K_C", "Kc", 184, Qt::AlignRight, false},
            {"COMMENT", "Примечание", 322, Qt::AlignLeft, true},
        };
        QCOMPARE(cols.size(), std::size(want));
        for (size_t i = 0; i < cols.size(); ++i) {
            QCOMPARE(cols[i].field, QLatin1String(want[i].field));
            QCOMPARE(cols[i].title, QString::fromUtf8(want[i].title));
            QCOMPARE(cols[i].width, want[i].width);
            QCOMPARE(cols[i].alignment, want[i].align);
            QCOMPARE(cols[i].visible, want[i].shown);
            const bool editable = cols[i].field == u"GROUP" || cols[i].field == u"V_135" || cols[i].field == u"COMMENT";
            QCOMPARE(!cols[i].readOnly, editable);
            QCOMPARE(cols[i].symbolFont, cols[i].field == u"DIR");
        }
        QStringList letters;
        for (char c = 'A'; c <= 'Z'; ++c)
            letters << QString(QLatin1Char(c));
        QCOMPARE(cols[3].pickList, letters);
        QCOMPARE(cols[6].displayFormat, QStringLiteral("0.0"));
        QCOMPARE(cols[12].displayFormat, QStringLiteral("0.00"));
        QCOMPARE(cols[4].displayFormat, QString());  // R: the number's plain text
    }

    void hiddenGridColumns()
    {
        auto fields = [](int grid) {
            QStringList f;
            for (const GridColumn& c : gridColumnsFor(grid))
                f << c.field + (c.visible ? QString() : QStringLiteral("-"));
            return f.join(u' ');
        };
        QCOMPARE(fields(3), QStringLiteral("N GROUP R B_135 V_135 ARTICLE DIR K_C COMMENT"));
        QCOMPARE(fields(4), QStringLiteral("N GROUP R B_135 V_135 ARTICLE MATERIAL DIR K_C S_T COMMENT"));
        QCOMPARE(fields(5),
                 QStringLiteral("N DATE TIME GROUP R B_135- V_135- MATERIAL- ARTICLE- DIR AGE- COND- K_C COMMENT"));
        QCOMPARE(fields(6), QStringLiteral("N DATE TIME GROUP R B_135- V_135- ARTICLE MATERIAL- DIR K_C S_T- COMMENT"));
        QVERIFY(gridColumnsFor(2).empty());

        auto column = [](int grid, const char* field) {
            for (const GridColumn& c : gridColumnsFor(grid))
                if (c.field == QLatin1String(field))
                    return c;
            return GridColumn{};
        };
        for (int g : {3, 4, 5, 6}) {
            QCOMPARE(column(g, "R").title, QStringLiteral("Rср, МПа"));
            QCOMPARE(column(g, "R").displayFormat, QStringLiteral("0.0"));
            QCOMPARE(column(g, "K_C").displayFormat, QStringLiteral("0.00"));
            QCOMPARE(column(g, "V_135").displayFormat, QStringLiteral("0.0"));
        }
        QCOMPARE(column(3, "V_135").title, QStringLiteral("Коэффициент вариации V,%"));
        QCOMPARE(column(4, "ARTICLE").title, QStringLiteral("Индивидуальная зависимость №"));
        QCOMPARE(column(4, "MATERIAL").title, QStringLiteral("Изделие"));
        QCOMPARE(column(4, "S_T").title, QStringLiteral("St, МПа"));
        QCOMPARE(column(4, "S_T").displayFormat, QStringLiteral("0.00"));
        QCOMPARE(column(6, "MATERIAL").title, QStringLiteral("Изделие (Материал)"));
        QCOMPARE(column(6, "S_T").displayFormat, QStringLiteral("0.00"));
        QCOMPARE(column(5, "DIR").title, QStringLiteral("Impact direction"));
        QCOMPARE(column(5, "COMMENT").title, QStringLiteral("Comment"));
        QCOMPARE(column(5, "N").title, QStringLiteral("Number"));
        QCOMPARE(column(5, "GROUP").pickList.size(), 26);
    }

    // ---- cell texts ----------------------------------------------------------

    void displayTexts()
    {
        GridColumn plain, one, two, dir;
        one.displayFormat = QStringLiteral("0.0");
        two.displayFormat = QStringLiteral("0.00");
        dir.symbolFont = true;
        QCOMPARE(RecordModel::displayText(plain, {}, true, 12.5, false), QStringLiteral("12,5"));
        QCOMPARE(RecordModel::displayText(plain, {}, true, 3.0, false), QStringLiteral("3"));
        QCOMPARE(RecordModel::displayText(plain, {}, true, 0.07, false), QStringLiteral("0,07"));
        QCOMPARE(RecordModel::displayText(plain, {}, true, 123456789.0, false), QStringLiteral("123456789"));
        QCOMPARE(RecordModel::displayText(plain, {}, true, 0.0, true), QString());
        QCOMPARE(RecordModel::displayText(one, {}, true, 12.34, false), QStringLiteral("12,3"));
        QCOMPARE(RecordModel::displayText(one, {}, true, 7.0, false), QStringLiteral("7,0"));
        QCOMPARE(RecordModel::displayText(two, {}, true, 1.0 / 3.0, false), QStringLiteral("0,33"));
        QCOMPARE(RecordModel::displayText(two, {}, true, 0.0, true), QString());
        QCOMPARE(RecordModel::displayText(dir, QStringLiteral("бдажв"), false, 0, false), QStringLiteral("↑↗→↘↓"));
        QCOMPARE(RecordModel::displayText(dir, QStringLiteral("xЖ-"), false, 0, false), QStringLiteral("xЖ-"));
        QCOMPARE(RecordModel::displayText(plain, QStringLiteral("бд"), false, 0, false), QStringLiteral("бд"));
    }

    void modelReadsTheFilteredTable()
    {
        Fixture f;
        RecordGrid g(f.table);
        g.setColumns(gridColumnsFor(1));
        QCOMPARE(g.model()->rowCount(), 0);  // nothing read before reload
        g.reload();
        QCOMPARE(g.model()->rowCount(), 5);
        QCOMPARE(g.model()->columnCount(), 14);
        QCOMPARE(columnTexts(g, "N"), QStringList({"1", "2", "3", "4", "5"}));
        QCOMPARE(columnTexts(g, "R"), QStringList({"2,5", "0,75", "10", "1,25", "7,5"}));
        QCOMPARE(columnTexts(g, "K_C").first(), QStringLiteral("0,33"));
        QCOMPARE(columnTexts(g, "DIR"), QStringList({"↑", "↗", "→", "↘", "↓x"}));
        QCOMPARE(cell(g, 0, "COMMENT"), QStringLiteral("first"));
        QCOMPARE(cell(g, 0, "V_135"), QString());  // blank number
        QCOMPARE(cell(g, 0, "DATE"), QStringLiteral("01.02.2024"));

        // Filter change: the grid follows after a reload.
        f.table.setFilter(QStringLiteral("MODE=1"));
        f.table.refresh();
        g.reload();
        QCOMPARE(g.model()->rowCount(), 1);
        QCOMPARE(cell(g, 0, "COMMENT"), QStringLiteral("series"));

        // Titles, alignment, flags.
        const int r = g.columnOf(QStringLiteral("R"));
        QCOMPARE(g.model()->headerData(r, Qt::Horizontal, Qt::DisplayRole).toString(), QStringLiteral("Прогиб f,мм."));
        const int headerAlign = g.model()->headerData(r, Qt::Horizontal, Qt::TextAlignmentRole).toInt();
        QVERIFY(headerAlign & Qt::AlignHCenter);
        QVERIFY(headerAlign & Qt::TextWordWrap);
        const int nAlign = g.model()->index(0, 0).data(Qt::TextAlignmentRole).toInt();
        QVERIFY(nAlign & Qt::AlignRight);
        for (int c = 0; c < 14; ++c) {
            const bool editable = g.model()->index(0, c).flags() & Qt::ItemIsEditable;
            QCOMPARE(editable, !g.columns()[size_t(c)].readOnly);
            QCOMPARE(g.isColumnHidden(c), !g.columns()[size_t(c)].visible);
        }
        QCOMPARE(g.columnOf(QStringLiteral("comment")), 13);
        QCOMPARE(g.columnOf(QStringLiteral("S_T")), -1);

        // A closed table shows nothing.
        f.table.close();
        g.reload();
        QCOMPARE(g.model()->rowCount(), 0);
    }

    void gridLooks()
    {
        Fixture f;
        RecordGrid g(f.table);
        g.setColumns(gridColumnsFor(1));
        QCOMPARE(g.selectionMode(), QAbstractItemView::ExtendedSelection);
        QCOMPARE(g.selectionBehavior(), QAbstractItemView::SelectRows);
        QVERIFY(g.showGrid());
        QStyleOptionViewItem opt;
        QCOMPARE(QColor::fromRgba(QRgb(g.style()->styleHint(QStyle::SH_Table_GridLineColor, &opt, &g))),
                 QColor(0xc0, 0xc0, 0xc0));
        QVERIFY(!g.horizontalHeader()->sectionsMovable());
        QVERIFY(g.horizontalHeader()->minimumHeight() >= 2 * g.fontMetrics().lineSpacing());
    }

    // ---- editing -------------------------------------------------------------

    void editsPostAtOnce()
    {
        Fixture f;
        RecordGrid g(f.table);
        g.setColumns(gridColumnsFor(1));
        g.reload();
        QSignalSpy spy(g.recordModel(), &RecordModel::edited);
        QAbstractItemModel* m = g.model();
        const int comment = g.columnOf(QStringLiteral("COMMENT"));

        QVERIFY(m->setData(m->index(2, comment), QStringLiteral("заметка"), Qt::EditRole));
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).toString(), QStringLiteral("COMMENT"));
        QVERIFY(!f.table.editing());
        QCOMPARE(f.table.stringAt(f.table.physicalRecNoAt(2), f.table.fieldIndex(u"COMMENT")), QStringLiteral("заметка"));

        // Longer than the field: cut to 50.
        QVERIFY(m->setData(m->index(1, comment), QString(60, u'ж'), Qt::EditRole));
        QCOMPARE(cell(g, 1, "COMMENT"), QString(50, u'ж'));

        // Group: one letter of the list only.
        const int group = g.columnOf(QStringLiteral("GROUP"));
        QVERIFY(m->setData(m->index(0, group), QStringLiteral("B"), Qt::EditRole));
        QCOMPARE(cell(g, 0, "GROUP"), QStringLiteral("B"));
        for (const char* bad : {"AB", "1", "b", "Ж"})
            QVERIFY2(!m->setData(m->index(0, group), QString::fromUtf8(bad), Qt::EditRole), bad);
        QCOMPARE(cell(g, 0, "GROUP"), QStringLiteral("B"));

        // Variation: a number with one decimal shown, comma or point typed.
        const int v = g.columnOf(QStringLiteral("V_135"));
        QVERIFY(m->setData(m->index(0, v), QStringLiteral("12,34"), Qt::EditRole));
        QCOMPARE(cell(g, 0, "V_135"), QStringLiteral("12,3"));
        QCOMPARE(cell(g, 0, "V_135", Qt::EditRole), QStringLiteral("12,34"));
        QVERIFY(m->setData(m->index(0, v), QStringLiteral("8.5"), Qt::EditRole));
        QCOMPARE(f.table.floatAt(f.table.physicalRecNoAt(0), f.table.fieldIndex(u"V_135")), 8.5);
        QVERIFY(!m->setData(m->index(0, v), QStringLiteral("abc"), Qt::EditRole));
        QCOMPARE(cell(g, 0, "V_135"), QStringLiteral("8,5"));
        QVERIFY(m->setData(m->index(0, v), QString(), Qt::EditRole));
        QVERIFY(f.table.isNullAt(f.table.physicalRecNoAt(0), f.table.fieldIndex(u"V_135")));

        // Read-only columns refuse.
        QVERIFY(!m->setData(m->index(0, g.columnOf(QStringLiteral("N"))), QStringLiteral("9"), Qt::EditRole));
        QCOMPARE(cell(g, 0, "N"), QStringLiteral("1"));

        // An unchanged value posts nothing.
        const int before = spy.count();
        QVERIFY(m->setData(m->index(2, comment), QStringLiteral("заметка"), Qt::EditRole));
        QCOMPARE(spy.count(), before);

        // The edits are in the file: read it again.
        f.table.close();
        f.table.open();
        f.table.setFilter(QStringLiteral("MODE=0"));
        f.table.setFiltered(true);
        f.table.refresh();
        g.reload();
        QCOMPARE(cell(g, 2, "COMMENT"), QStringLiteral("заметка"));
        QCOMPARE(cell(g, 0, "GROUP"), QStringLiteral("B"));
    }

    void editorsOfTheColumns()
    {
        Fixture f;
        RecordGrid g(f.table);
        g.setColumns(gridColumnsFor(5));  // GROUP shown here
        g.resize(900, 300);
        g.show();
        QVERIFY(QTest::qWaitForWindowExposed(&g));
        g.reload();
        QSignalSpy started(&g, &RecordGrid::editStarted);

        const int group = g.columnOf(QStringLiteral("GROUP"));
        g.setCurrentIndex(g.model()->index(1, group));
        g.edit(g.model()->index(1, group));
        auto* box = g.findChild<QComboBox*>();
        QVERIFY(box);
        QCOMPARE(started.count(), 1);
        QCOMPARE(box->count(), 26);
        QVERIFY(!box->isEditable());
        box->setCurrentIndex(box->findText(QStringLiteral("Z")));
        g.commitPendingEdit();
        QCOMPARE(cell(g, 1, "GROUP"), QStringLiteral("Z"));

        const int comment = g.columnOf(QStringLiteral("COMMENT"));
        g.setCurrentIndex(g.model()->index(3, comment));
        g.edit(g.model()->index(3, comment));
        auto* line = g.findChild<QLineEdit*>();
        QVERIFY(line);
        QCOMPARE(line->maxLength(), 50);
        line->setText(QStringLiteral("через редактор"));
        g.commitPendingEdit();
        QCOMPARE(cell(g, 3, "COMMENT"), QStringLiteral("через редактор"));
        QTRY_VERIFY(!g.findChild<QLineEdit*>());  // the editor is closed
    }

    void currentRowIsTheTableRecord()
    {
        Fixture f;
        RecordGrid g(f.table);
        g.setColumns(gridColumnsFor(1));
        f.table.moveTo(3);
        g.reload();
        QCOMPARE(g.currentIndex().row(), 3);
        QCOMPARE(f.table.recNo(), 3);
        g.setCurrentIndex(g.model()->index(1, 0));
        QCOMPARE(f.table.recNo(), 1);
    }

    void severalRowsSelected()
    {
        Fixture f;
        RecordGrid g(f.table);
        g.setColumns(gridColumnsFor(1));
        g.reload();
        auto* sel = g.selectionModel();
        sel->clearSelection();
        sel->select(g.model()->index(3, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
        sel->select(g.model()->index(0, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
        sel->select(g.model()->index(4, 2), QItemSelectionModel::Select | QItemSelectionModel::Rows);
        QCOMPARE(g.selectedRows(), QList<int>({0, 3, 4}));
    }

    // ---- title clicks ----------------------------------------------------------

    void titleClickCyclesTheIndicator()
    {
        Fixture f;
        RecordGrid g(f.table);
        g.setColumns(gridColumnsFor(1));
        QSignalSpy spy(&g, &RecordGrid::titleStateChanged);
        const int r = g.columnOf(QStringLiteral("R"));
        const int n = g.columnOf(QStringLiteral("N"));
        auto sortOf = [&](int c) { return g.columns()[size_t(c)].sort; };

        g.titleClick(r);
        QCOMPARE(sortOf(r), SortIndicator::Up);
        QCOMPARE(g.columns()[size_t(r)].sortOrder, 1);
        g.titleClick(r);
        QCOMPARE(sortOf(r), SortIndicator::Down);
        g.titleClick(r);
        QCOMPARE(sortOf(r), SortIndicator::Up);
        g.titleClick(r, Qt::ControlModifier);
        QCOMPARE(sortOf(r), SortIndicator::None);
        QCOMPARE(g.columns()[size_t(r)].sortOrder, 0);
        QCOMPARE(spy.count(), 4);
        QCOMPARE(spy.last().at(0).toInt(), r);

        // One indicator at a time.
        g.titleClick(r);
        g.titleClick(n);
        QCOMPARE(sortOf(n), SortIndicator::Up);
        QCOMPARE(sortOf(r), SortIndicator::None);
        QCOMPARE(g.columns()[size_t(r)].sortOrder, 0);
        int marked = 0;
        for (const GridColumn& c : g.columns())
            marked += c.sort != SortIndicator::None;
        QCOMPARE(marked, 1);
    }

    void mouseOnTheTitles()
    {
        Fixture f;
        RecordGrid g(f.table);
        g.setColumns(gridColumnsFor(1));
        g.resize(1001, 300);
        g.show();
        QVERIFY(QTest::qWaitForWindowExposed(&g));
        g.reload();
        QSignalSpy spy(&g, &RecordGrid::titleStateChanged);
        QHeaderView* h = g.horizontalHeader();
        const int r = g.columnOf(QStringLiteral("R"));
        const QPoint at(h->sectionViewportPosition(r) + h->sectionSize(r) / 2, h->height() / 2);

        QTest::mouseClick(h->viewport(), Qt::LeftButton, Qt::NoModifier, at);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(g.columns()[size_t(r)].sort, SortIndicator::Up);
        QTest::mouseClick(h->viewport(), Qt::LeftButton, Qt::NoModifier, at);
        QCOMPARE(g.columns()[size_t(r)].sort, SortIndicator::Down);
        QTest::mouseClick(h->viewport(), Qt::LeftButton, Qt::ControlModifier, at);
        QCOMPARE(g.columns()[size_t(r)].sort, SortIndicator::None);
        QCOMPARE(spy.count(), 3);
        QCOMPARE(spy.last().at(0).toInt(), r);
        // The grid never sorts by itself: the table's order is untouched.
        QCOMPARE(columnTexts(g, "N"), QStringList({"1", "2", "3", "4", "5"}));
    }

    // The indicator is drawn in the title of the sorted column, nowhere else.
    void indicatorIsDrawn()
    {
        Fixture f;
        RecordGrid g(f.table);
        g.setColumns(gridColumnsFor(1));
        g.resize(1001, 300);
        g.show();
        QVERIFY(QTest::qWaitForWindowExposed(&g));
        g.reload();
        QHeaderView* h = g.horizontalHeader();
        const int r = g.columnOf(QStringLiteral("R"));
        auto darkPixelsNearRightEdge = [&](int column) {
            const QImage img = h->viewport()->grab().toImage();
            const int right = h->sectionViewportPosition(column) + h->sectionSize(column) - 1;
            int dark = 0;
            for (int x = right - 14; x < right; ++x)
                for (int y = 0; y < img.height(); ++y)
                    if (qGray(img.pixel(x, y)) < 80)
                        ++dark;
            return dark;
        };
        QCOMPARE(darkPixelsNearRightEdge(r), 0);
        g.titleClick(r, Qt::NoModifier);
        QVERIFY(darkPixelsNearRightEdge(r) > 5);
        QCOMPARE(darkPixelsNearRightEdge(g.columnOf(QStringLiteral("DATE"))), 0);
        g.reload();
        QVERIFY(darkPixelsNearRightEdge(r) > 5);
    }

    // ---- widths --------------------------------------------------------------

    void fitToWidthFillsTheGrid()
    {
        Fixture f;
        RecordGrid g(f.table);
        g.setColumns(gridColumnsFor(1));
        g.resize(1001, 300);
        g.show();
        QVERIFY(QTest::qWaitForWindowExposed(&g));
        g.reload();
        QVERIFY(g.fitToWidth());
        QCOMPARE(shownTotal(g), g.viewport()->width());
        // In proportion to the design widths: R (346) is about 7.4 times N (47).
        const int n = g.columnWidth(g.columnOf(QStringLiteral("N")));
        const int r = g.columnWidth(g.columnOf(QStringLiteral("R")));
        QVERIFY2(std::abs(r * 47 - n * 346) <= 346 + 47, qPrintable(QStringLiteral("%1 %2").arg(n).arg(r)));
        QCOMPARE(g.horizontalScrollBar()->maximum(), 0);

        // Follows the grid's size.
        g.resize(700, 300);
        QCoreApplication::processEvents();
        QCOMPARE(shownTotal(g), g.viewport()->width());

        // Off: the design widths.
        g.setFitToWidth(false);
        QCOMPARE(g.columnWidth(g.columnOf(QStringLiteral("R"))), 346);
        QCOMPARE(g.columns()[4].width, 346);

        // Equal widths stretch to equal parts.
        for (GridColumn& c : g.columns())
            c.width = 71;
        g.setFitToWidth(true);
        const int part = g.viewport()->width() / 5;
        for (size_t i = 0; i < g.columns().size(); ++i)
            if (g.columns()[i].visible)
                QVERIFY(std::abs(g.columnWidth(int(i)) - part) <= 1);
    }

    // ---- layouts --------------------------------------------------------------

    void layoutOfTheGrid()
    {
        Fixture f;
        RecordGrid g(f.table);
        g.setColumns(gridColumnsFor(1));
        g.reload();
        const int comment = g.columnOf(QStringLiteral("COMMENT"));
        g.columns()[size_t(comment)].color = QColor(10, 200, 30);
        g.titleClick(g.columnOf(QStringLiteral("R")));
        QFont font(QStringLiteral("Courier"), 14);
        font.setBold(true);
        g.columns()[0].font = font;
        g.applyColumns();
        QCOMPARE(g.model()->index(0, comment).data(Qt::BackgroundRole).value<QBrush>().color(), QColor(10, 200, 30));
        QVERIFY(!g.model()->index(0, 0).data(Qt::BackgroundRole).isValid());
        QCOMPARE(g.model()->index(0, 0).data(Qt::FontRole).value<QFont>(), font);

        const QString text = layout::toText(g.layout());
        const auto read = layout::fromText(text);
        QVERIFY(read.has_value());

        RecordGrid other(f.table);
        other.setColumns(gridColumnsFor(1));
        QVERIFY(other.applyLayout(*read));
        for (size_t i = 0; i < g.columns().size(); ++i) {
            const GridColumn& a = g.columns()[i];
            const GridColumn& b = other.columns()[i];
            QCOMPARE(b.width, a.width);
            QCOMPARE(b.sort, a.sort);
            QCOMPARE(b.sortOrder, a.sortOrder);
            QCOMPARE(b.color, a.color);
            QCOMPARE(b.alignment & Qt::AlignHorizontal_Mask, a.alignment & Qt::AlignHorizontal_Mask);
            QCOMPARE(b.font.has_value(), a.font.has_value());
        }
        QCOMPARE(*other.columns()[0].font, font);
        // Copying an indicator sorts nothing.
        QCOMPARE(f.table.currentIndex(), QString());
    }

    void layoutEntriesMatchByField()
    {
        Fixture f;
        RecordGrid g(f.table);
        g.setColumns(gridColumnsFor(1));
        std::vector<layout::ColumnLayout> l(2);
        l[0].field = QStringLiteral("nosuch");
        l[0].width = 5;
        l[1].field = QStringLiteral("comment");
        l[1].width = 99;
        l[1].color = 0xff112233u;
        QVERIFY(g.applyLayout(l));
        QCOMPARE(g.columns()[13].width, 99);
        QCOMPARE(*g.columns()[13].color, QColor(0x11, 0x22, 0x33));
        QCOMPARE(g.columns()[13].alignment, Qt::AlignLeft);
        QCOMPARE(g.columns()[4].width, 346);  // not named: kept
        QCOMPARE(g.columns()[0].alignment, Qt::AlignRight);

        // A bad font changes nothing.
        l[1].width = 1;
        l[1].font = QStringLiteral("no,font,at,all,xx,yy,zz");
        QString error;
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("QFont::fromString")));
        QVERIFY(!g.applyLayout(l, &error));
        QVERIFY(!error.isEmpty());
        QCOMPARE(g.columns()[13].width, 99);
    }

    // ---- a very large table ----------------------------------------------------

    void largeTableIsReadOnDemand()
    {
        constexpr int kRowsBig = 305000;
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("big.db"));
        QByteArray bytes = dbftest::makeTable({{"N", 'N', 18, 9}, {"R", 'N', 18, 9}, {"MODE", 'N', 4, 0},
                                               {"COMMENT", 'C', 50, 0}},
                                              {});
        bytes.chop(1);  // end-of-file marker, written again after the rows
        const qsizetype head = bytes.size();
        constexpr int kRecLen = 91;
        bytes.resize(head + qsizetype(kRowsBig) * kRecLen + 1, ' ');
        for (int i = 0; i < kRowsBig; ++i) {
            char* rec = bytes.data() + head + qsizetype(i) * kRecLen;
            const QByteArray n = QByteArray::number(i + 1) + ".000000000";
            memcpy(rec + 1 + 18 - n.size(), n.constData(), size_t(n.size()));
            const QByteArray r = QByteArray::number((qint64(i) * 7919) % 1000) + ".250000000";
            memcpy(rec + 19 + 18 - r.size(), r.constData(), size_t(r.size()));
            rec[1 + 36 + 3] = char('0' + i % 2);
        }
        bytes[bytes.size() - 1] = char(0x1A);
        for (int k = 0; k < 4; ++k)
            bytes[4 + k] = char((quint32(kRowsBig) >> (8 * k)) & 0xFF);
        QVERIFY(dbftest::writeAll(path, bytes));

        dbf::Table table;
        table.setFileName(path);
        QElapsedTimer clock;
        clock.start();
        table.open();
        const qint64 openMs = clock.restart();

        RecordGrid g(table);
        std::vector<GridColumn> cols(3);
        cols[0].field = QStringLiteral("N");
        cols[1].field = QStringLiteral("R");
        cols[2].field = QStringLiteral("COMMENT");
        g.setColumns(cols);
        g.resize(800, 600);
        g.show();
        QVERIFY(QTest::qWaitForWindowExposed(&g));
        g.reload();
        QCOMPARE(g.model()->rowCount(), kRowsBig);
        QCOMPARE(cell(g, 0, "N"), QStringLiteral("1"));
        QCOMPARE(cell(g, kRowsBig - 1, "N"), QString::number(kRowsBig));
        QCOMPARE(cell(g, 152500, "R"), QString::number((qint64(152500) * 7919) % 1000) + QStringLiteral(",25"));
        g.scrollToBottom();
        QCoreApplication::processEvents();
        const qint64 showMs = clock.restart();

        table.setFilter(QStringLiteral("MODE=1"));
        table.setFiltered(true);
        table.refresh();
        g.reload();
        QCOMPARE(g.model()->rowCount(), kRowsBig / 2);
        QCOMPARE(cell(g, 0, "N"), QStringLiteral("2"));
        g.scrollToBottom();
        QCoreApplication::processEvents();
        const qint64 filterMs = clock.elapsed();
        qInfo("%d rows: open %lld ms, reload+scroll %lld ms, filter+reload+scroll %lld ms", kRowsBig, openMs,
              showMs, filterMs);
    }
};

QTEST_MAIN(TestGridModel)
#include "test_grid_model.moc"
