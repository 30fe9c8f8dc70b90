#include "store/measurement.h"

std::vector<dbf::FieldDef> measurementFields() {
    auto num = [](const char* n) { return dbf::FieldDef{QString::fromLatin1(n), 'N', 18, 9}; };
    auto small = [](const char* n) { return dbf::FieldDef{QString::fromLatin1(n), 'N', 4, 0}; };
    auto text = [](const char* n, int w) { return dbf::FieldDef{QString::fromLatin1(n), 'C', w, 0}; };
    std::vector<dbf::FieldDef> f{
        num("N"),          text("DATE", 10),    text("TIME", 8),  num("R"),
        text("DIR", 25),   num("K_C"),          text("ARTICLE", 30), text("MATERIAL", 30),
        text("AGE", 10),   text("COND", 5),
    };
    for (int i = 1; i <= 15; ++i)
        f.push_back(num(QByteArray("M" + QByteArray::number(i)).constData()));
    f.push_back(small("COUNT"));
    f.push_back(small("MODE"));
    f.push_back(text("COMMENT", 50));
    f.push_back(num("S_T"));
    f.push_back(text("GROUP", 1));
    f.push_back(text("B_135", 5));
    f.push_back(small("TYPE"));
    f.push_back(num("V_135"));
    return f;
}

FieldRef::FieldRef(dbf::Table& table, const char* name)
    : table_(&table), name_(QString::fromLatin1(name)) {}

int FieldRef::index() const {
    if (generation_ != table_->generation()) {
        index_ = table_->fieldIndex(name_);
        generation_ = table_->generation();
    }
    if (index_ < 0)
        throw dbf::Error(dbf::Error::Kind::Field,
                         QStringLiteral("Поле %1 не найдено").arg(name_));
    return index_;
}

QString FieldRef::asString() const { return table_->asString(index()); }
double FieldRef::asFloat() const { return table_->asFloat(index()); }
int FieldRef::asInteger() const { return table_->asInteger(index()); }
bool FieldRef::isNull() const { return table_->isNull(index()); }
void FieldRef::setString(const QString& value) { table_->setString(index(), value); }
void FieldRef::setFloat(double value) { table_->setFloat(index(), value); }
void FieldRef::setInteger(qint64 value) { table_->setInteger(index(), value); }
void FieldRef::setNull() { table_->setNull(index()); }

MeasurementFields::MeasurementFields(dbf::Table& t)
    : Dbf1N(t, "N"), Dbf1DATE(t, "DATE"), Dbf1TIME(t, "TIME"), Dbf1R(t, "R"), Dbf1DIR(t, "DIR"),
      Dbf1K_C(t, "K_C"), Dbf1ARTICLE(t, "ARTICLE"), Dbf1MATERIAL(t, "MATERIAL"),
      Dbf1AGE(t, "AGE"), Dbf1COND(t, "COND"), Dbf1M1(t, "M1"), Dbf1M2(t, "M2"), Dbf1M3(t, "M3"),
      Dbf1M4(t, "M4"), Dbf1M5(t, "M5"), Dbf1M6(t, "M6"), Dbf1M7(t, "M7"), Dbf1M8(t, "M8"),
      Dbf1M9(t, "M9"), Dbf1M10(t, "M10"), Dbf1M11(t, "M11"), Dbf1M12(t, "M12"),
      Dbf1M13(t, "M13"), Dbf1M14(t, "M14"), Dbf1M15(t, "M15"), Dbf1COUNT(t, "COUNT"),
      Dbf1MODE(t, "MODE"), Dbf1COMMENT(t, "COMMENT"), Dbf1S_T(t, "S_T"), Dbf1GROUP(t, "GROUP"),
      Dbf1B_135(t, "B_135"), Dbf1TYPE(t, "TYPE"), Dbf1V_135(t, "V_135") {}

FieldRef& MeasurementFields::m(int n) {
    FieldRef* all[15] = {&Dbf1M1, &Dbf1M2,  &Dbf1M3,  &Dbf1M4,  &Dbf1M5,  &Dbf1M6,  &Dbf1M7, &Dbf1M8,
                         &Dbf1M9, &Dbf1M10, &Dbf1M11, &Dbf1M12, &Dbf1M13, &Dbf1M14, &Dbf1M15};
    if (n < 1 || n > 15)
        throw dbf::Error(dbf::Error::Kind::Field, QStringLiteral("Нет поля M%1").arg(n));
    return *all[n - 1];
}
