// The column lists of the main window's record grids: DBGridPro1 on the
// operative sheet and its hidden siblings DBGridPro3 ... DBGridPro6.

#include "mainwindow/main_window.h"
#include "views/record_grid.h"

namespace {

QStringList groupLetters()
{
    QStringList letters;
    for (char c = 'A'; c <= 'Z'; ++c)
        letters << QString(QLatin1Char(c));
    return letters;
}

GridColumn col(const char* field, const QString& title, int width, Qt::Alignment align, bool visible)
{
    GridColumn c;
    c.field = QLatin1String(field);
    c.title = title;
    c.width = width;
    c.alignment = align;
    c.visible = visible;
    return c;
}

constexpr Qt::Alignment L = Qt::AlignLeft;
constexpr Qt::Alignment C = Qt::AlignHCenter;
constexpr Qt::Alignment R = Qt::AlignRight;

// The columns of the operative grid; the hidden grids start from these.
GridColumn N() { return col("N", QStringLiteral("N"), 47, R, true); }
GridColumn DATE() { return col("DATE", QStringLiteral("Дата"), 143, C, true); }
GridColumn TIME() { return col("TIME", QStringLiteral("Время"), 134, C, true); }
GridColumn GROUP(bool shown)
{
    GridColumn c = col("GROUP", QStringLiteral("Участок (Конструкция)"), 99, C, shown);
    c.readOnly = false;
    c.pickList = groupLetters();
    return c;
}
GridColumn RVAL() { return col("R", QStringLiteral("Прогиб f,мм."), 346, C, true); }
GridColumn B_135(bool shown) { return col("B_135", QStringLiteral("Класс бетона B"), 69, C, shown); }
GridColumn V_135(bool shown)
{
    GridColumn c = col("V_135", QStringLiteral("Коэфициент вариации V,%"), 76, R, shown);
    c.readOnly = false;
    c.displayFormat = QStringLiteral("0.0");
    return c;
}
GridColumn MATERIAL(bool shown) { return col("MATERIAL", QStringLiteral("Материал"), 83, C, shown); }
GridColumn ARTICLE(bool shown) { return col("ARTICLE", QStringLiteral("Изделие"), 72, C, shown); }
GridColumn DIR(bool shown)
{
    GridColumn c = col("DIR", QStringLiteral("Направление удара"), 75, C, shown);
    c.symbolFont = true;
    return c;
}
GridColumn AGE(bool shown) { return col("AGE", QStringLiteral("Возраст"), 83, C, shown); }
GridColumn COND(bool shown) { return col("COND", QStringLiteral("Условия твердения"), 101, C, shown); }
GridColumn K_C(bool shown)
{
    GridColumn c = col("K_C", QStringLiteral("Kc"), 184, R, shown);
    c.displayFormat = QStringLiteral("0.00");
    return c;
}
GridColumn S_T(bool shown)
{
    GridColumn c = col("S_T", QStringLiteral("St, МПа"), 64, R, shown);
    c.displayFormat = QStringLiteral("0.00");
    return c;
}
GridColumn COMMENT()
{
    GridColumn c = col("COMMENT", QStringLiteral("Примечание"), 322, L, true);
    c.readOnly = false;
    return c;
}

// Mean strength, one decimal (the strength grids).
GridColumn meanStrength()
{
    GridColumn c = RVAL();
    c.title = QStringLiteral("Rср, МПа");
    c.displayFormat = QStringLiteral("0.0");
    return c;
}

GridColumn titled(GridColumn c, const QString& title)
{
    c.title = title;
    return c;
}

}  // namespace

std::vector<GridColumn> gridColumnsFor(int grid)
{
    const QString variation = QStringLiteral("Коэффициент вариации V,%");
    const QString dependence = QStringLiteral("Индивидуальная зависимость №");
    switch (grid) {
    case 1:
        return {N(),           DATE(),          TIME(),           GROUP(false),   RVAL(),
                B_135(false),  V_135(false),    MATERIAL(false),  ARTICLE(false), DIR(false),
                AGE(false),    COND(false),     K_C(false),       COMMENT()};
    case 3:
        return {N(),         GROUP(true), meanStrength(), B_135(true), titled(V_135(true), variation),
                ARTICLE(true), DIR(true), K_C(true),      COMMENT()};
    case 4:
        return {N(),
                GROUP(true),
                meanStrength(),
                B_135(true),
                titled(V_135(true), variation),
                titled(ARTICLE(true), dependence),
                titled(MATERIAL(true), QStringLiteral("Изделие")),
                DIR(true),
                K_C(true),
                S_T(true),
                COMMENT()};
    case 5:
        return {titled(N(), QStringLiteral("Number")),
                titled(DATE(), QStringLiteral("Date")),
                titled(TIME(), QStringLiteral("Time")),
                titled(GROUP(true), QStringLiteral("Group")),
                meanStrength(),
                titled(B_135(false), QStringLiteral("Class B")),
                titled(V_135(false), QStringLiteral("Variation V,%")),
                titled(MATERIAL(false), QStringLiteral("Material")),
                titled(ARTICLE(false), QStringLiteral("Article")),
                titled(DIR(true), QStringLiteral("Impact direction")),
                titled(AGE(false), QStringLiteral("Age")),
                titled(COND(false), QStringLiteral("Condition")),
                titled(K_C(true), QStringLiteral("Kc")),
                titled(COMMENT(), QStringLiteral("Comment"))};
    case 6:
        return {N(),
                DATE(),
                TIME(),
                GROUP(true),
                meanStrength(),
                B_135(false),
                V_135(false),
                titled(ARTICLE(true), dependence),
                titled(MATERIAL(false), QStringLiteral("Изделие (Материал)")),
                DIR(true),
                K_C(true),
                S_T(false),
                COMMENT()};
    default:
        return {};
    }
}

void TForm1::setupGridColumns()
{
    const std::pair<RecordGrid*, int> grids[] = {
        {DBGridPro1, 1}, {DBGridPro3, 3}, {DBGridPro4, 4}, {DBGridPro5, 5}, {DBGridPro6, 6}};
    for (auto [grid, number] : grids)
        if (grid)
            grid->setColumns(gridColumnsFor(number));
}
