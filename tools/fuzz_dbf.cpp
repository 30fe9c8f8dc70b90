// libFuzzer target: the input is taken as a table file.  It is opened, walked
// with and without a filter and a sort order, and every field of every record
// is read.  Any crash, sanitizer report or unexpected exception is a fault;
// dbf::Error is the expected answer to a damaged file.

#include "store/dbf.h"

#include <QDir>
#include <QFile>
#include <QString>

#include <cstdint>
#include <unistd.h>

namespace {

QString scratchPath() {
    static const QString p =
        QDir::tempPath() + QStringLiteral("/fuzz_dbf_%1.db").arg(qint64(::getpid()));
    return p;
}

void walk(dbf::Table& t) {
    const int nf = int(t.fields().size());
    for (t.first(); !t.eof(); t.next())
        for (int f = 0; f < nf; ++f) {
            (void)t.asString(f);
            (void)t.asFloat(f);
            (void)t.asInteger(f);
            (void)t.isNull(f);
        }
    for (uint32_t r = 0; r < t.physicalCount(); ++r)
        for (int f = 0; f < nf; ++f) {
            (void)t.stringAt(r, f);
            (void)t.floatAt(r, f);
            (void)t.isNullAt(r, f);
            (void)t.isDeletedAt(r);
        }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    {
        QFile f(scratchPath());
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        f.write(reinterpret_cast<const char*>(data), qint64(size));
    }
    dbf::Table t;
    t.setFileName(scratchPath());
    try {
        t.open();
    } catch (const dbf::Error&) {
        return 0;
    }
    walk(t);
    const auto& fields = t.fields();
    const QString first = fields.front().name;
    for (const QString& filter :
         {QStringLiteral("%1=0").arg(first), QStringLiteral("%1=\"A\" OR NOT %1<>1").arg(first),
          QStringLiteral("(%1>=\"\")").arg(first)}) {
        try {
            t.setFilter(filter);
        } catch (const dbf::Error&) {
            continue;  // a field name the filter syntax cannot express
        }
        t.setFiltered(true);
        walk(t);
        (void)t.locate(first, QStringLiteral("1"));
    }
    t.setFiltered(false);
    t.createIndexTag("t", first, true);
    t.selectIndex("t");
    walk(t);
    t.selectIndex("");
    // A write through the whole path, then pack the file.
    try {
        if (t.physicalCount() > 0) {
            t.setDeleted(0, true);
            t.pack();
        }
        t.append();
        for (int f = 0; f < int(fields.size()); ++f)
            t.setFloat(f, 12.5);
        t.post();
        walk(t);
    } catch (const dbf::Error&) {
    }
    t.close();
    return 0;
}
