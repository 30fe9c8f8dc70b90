#pragma once
// The measurement table: its field list and named field objects, so that code
// reads and writes the current row as Dbf1N.asFloat(), Dbf1DATE.asString() ...

#include "store/dbf.h"

#include <vector>

// The 33 fields of a measurement table in file order (record length 547,
// header length 1089).
std::vector<dbf::FieldDef> measurementFields();

// One field of a table, reached by name.  The index is looked up on first use
// and again after the table was reopened, so a FieldRef may be made while the
// table is still closed.  Unknown names throw dbf::Error(Field) on use.
class FieldRef {
public:
    FieldRef(dbf::Table& table, const char* name);

    QString asString() const;
    double asFloat() const;
    int asInteger() const;
    bool isNull() const;

    void setString(const QString& value);
    void setFloat(double value);
    void setInteger(qint64 value);
    void setNull();

    int index() const;
    const QString& name() const { return name_; }

private:
    dbf::Table* table_;
    QString name_;
    mutable int index_ = -1;
    mutable quint64 generation_ = ~quint64(0);
};

struct MeasurementFields {
    explicit MeasurementFields(dbf::Table& table);

    FieldRef Dbf1N, Dbf1DATE, Dbf1TIME, Dbf1R, Dbf1DIR, Dbf1K_C, Dbf1ARTICLE, Dbf1MATERIAL,
        Dbf1AGE, Dbf1COND, Dbf1M1, Dbf1M2, Dbf1M3, Dbf1M4, Dbf1M5, Dbf1M6, Dbf1M7, Dbf1M8, Dbf1M9,
        Dbf1M10, Dbf1M11, Dbf1M12, Dbf1M13, Dbf1M14, Dbf1M15, Dbf1COUNT, Dbf1MODE, Dbf1COMMENT,
        Dbf1S_T, Dbf1GROUP, Dbf1B_135, Dbf1TYPE, Dbf1V_135;

    // M1..M15 by number (1-based), for loops over the single readings.
    FieldRef& m(int n);
};
