// Table files against independent readers and writers: Python's dbfread reads
// what the engine writes; a writer built only from struct.pack, and
// LibreOffice when installed, produce files the engine must read.

#include "store/dbf.h"
#include "store/measurement.h"
#include "dbf_test_util.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QtTest>

using dbf::Table;
using namespace dbftest;

namespace {

const char* kPython = "/usr/bin/python3";

bool runPython(const QString& script, const QStringList& args, QByteArray& out, QString& err) {
    QProcess p;
    p.start(QString::fromLatin1(kPython), QStringList{"-c", script} + args);
    if (!p.waitForFinished(60000)) {
        err = "python did not finish";
        return false;
    }
    out = p.readAllStandardOutput();
    err = QString::fromLocal8Bit(p.readAllStandardError());
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

bool haveDbfread() {
    QByteArray out;
    QString err;
    return QFile::exists(kPython) && runPython("import dbfread", {}, out, err);
}

struct Expected {
    QString text[10];  // DATE TIME DIR ARTICLE MATERIAL AGE COND COMMENT GROUP B_135
    double r, kc, st, v;
    double m[15];  // NaN: blank
    int n, count, mode, type;
};

}  // namespace

class TstDbfInterop : public QObject {
    Q_OBJECT

    QString dir_;

private slots:
    void initTestCase() {
        dir_ = workDir() + "/interop";
        QDir(dir_).removeRecursively();
        QVERIFY(QDir().mkpath(dir_));
    }

    void dbfreadReadsWhatWeWrite() {
        if (!haveDbfread())
            QSKIP("/usr/bin/python3 has no dbfread module");
        const QString p = dir_ + "/engine.db";
        Table::create(p, measurementFields());
        Table t;
        MeasurementFields m(t);
        t.setFileName(p);
        t.open();
        const double nan = std::numeric_limits<double>::quiet_NaN();
        std::vector<Expected> rows;
        for (int i = 0; i < 40; ++i) {
            Expected e;
            e.text[0] = QStringLiteral("%1.%2.2024").arg(i % 28 + 1, 2, 10, QChar('0')).arg(i % 12 + 1, 2, 10, QChar('0'));
            e.text[1] = QStringLiteral("12:%1:05").arg(i % 60, 2, 10, QChar('0'));
            e.text[2] = i % 2 ? QStringLiteral("Сверху вниз") : QStringLiteral("Горизонтально");
            e.text[3] = QStringLiteral("Плита перекрытия ПК-%1").arg(i);
            e.text[4] = QStringLiteral("тяж. бетон на известняке");
            e.text[5] = QStringLiteral("100 суток");
            e.text[6] = QStringLiteral("Норм.");
            e.text[7] = QString(50, QChar(u'ю'));
            e.text[8] = QString(QChar(u'A' + i % 26));
            e.text[9] = QStringLiteral("B22.5");
            e.r = i * 0.125 - 2;
            e.kc = 1.05;
            e.st = i % 3 ? nan : 0.0;
            e.v = 12.3;
            for (int k = 0; k < 15; ++k)
                e.m[k] = k < i % 16 ? 30.0 + k * 0.1 + i : nan;
            e.n = i + 1;
            e.count = i % 16;
            e.mode = i % 3;
            e.type = i % 3 ? i % 5 + 1 : 3;
            rows.push_back(e);

            t.append();
            FieldRef* text[10] = {&m.Dbf1DATE, &m.Dbf1TIME, &m.Dbf1DIR, &m.Dbf1ARTICLE, &m.Dbf1MATERIAL,
                                  &m.Dbf1AGE, &m.Dbf1COND, &m.Dbf1COMMENT, &m.Dbf1GROUP, &m.Dbf1B_135};
            for (int k = 0; k < 10; ++k)
                text[k]->setString(e.text[k]);
            m.Dbf1R.setFloat(e.r);
            m.Dbf1K_C.setFloat(e.kc);
            if (!std::isnan(e.st))
                m.Dbf1S_T.setFloat(e.st);
            m.Dbf1V_135.setFloat(e.v);
            for (int k = 0; k < 15; ++k)
                if (!std::isnan(e.m[k]))
                    m.m(k + 1).setFloat(e.m[k]);
            m.Dbf1N.setInteger(e.n);
            m.Dbf1COUNT.setInteger(e.count);
            m.Dbf1MODE.setInteger(e.mode);
            m.Dbf1TYPE.setInteger(e.type);
            t.post();
        }
        t.close();

        const QString script = QStringLiteral(R"(
import dbfread, json, sys
t = dbfread.DBF(sys.argv[1], load=True)
out = {'encoding': t.encoding, 'fields': [[f.name, f.type, f.length, f.decimal_count] for f in t.fields],
       'records': [dict(r) for r in t.records]}
print(json.dumps(out))
)");
        QByteArray out;
        QString err;
        QVERIFY2(runPython(script, {p}, out, err), qPrintable(err));
        const QJsonObject doc = QJsonDocument::fromJson(out).object();
        QCOMPARE(doc["encoding"].toString(), QString("cp1251"));
        const QJsonArray fields = doc["fields"].toArray();
        const auto defs = measurementFields();
        QCOMPARE(fields.size(), qsizetype(defs.size()));
        for (size_t i = 0; i < defs.size(); ++i) {
            const QJsonArray f = fields[qsizetype(i)].toArray();
            QCOMPARE(f[0].toString(), defs[i].name);
            QCOMPARE(f[1].toString(), QString(QChar(defs[i].type)));
            QCOMPARE(f[2].toInt(), defs[i].width);
            QCOMPARE(f[3].toInt(), defs[i].decimals);
        }
        const QJsonArray recs = doc["records"].toArray();
        QCOMPARE(recs.size(), qsizetype(rows.size()));
        const char* textNames[10] = {"DATE", "TIME", "DIR", "ARTICLE", "MATERIAL",
                                     "AGE", "COND", "COMMENT", "GROUP", "B_135"};
        auto number = [](const QJsonValue& v, double want) {
            if (std::isnan(want))
                return v.isNull();
            return qFuzzyCompare(1 + v.toDouble(), 1 + want);
        };
        for (size_t i = 0; i < rows.size(); ++i) {
            const QJsonObject r = recs[qsizetype(i)].toObject();
            const Expected& e = rows[i];
            for (int k = 0; k < 10; ++k)
                QCOMPARE(r[textNames[k]].toString(), e.text[k]);
            QVERIFY(number(r["R"], e.r));
            QVERIFY(number(r["K_C"], e.kc));
            QVERIFY2(number(r["S_T"], e.st), qPrintable(QString::number(i)));
            QVERIFY(number(r["V_135"], e.v));
            for (int k = 0; k < 15; ++k)
                QVERIFY(number(r[QStringLiteral("M%1").arg(k + 1)], e.m[k]));
            QCOMPARE(r["N"].toInt(), e.n);
            QCOMPARE(r["COUNT"].toInt(), e.count);
            QCOMPARE(r["MODE"].toInt(), e.mode);
            QCOMPARE(r["TYPE"].toInt(), e.type);
        }
    }

    // A writer that shares no code with the engine: Python's struct module.
    void weReadAnIndependentWriter() {
        if (!QFile::exists(kPython))
            QSKIP("/usr/bin/python3 is not installed");
        const QString p = dir_ + "/python.db";
        const QString script = QStringLiteral(R"(
import struct, sys, datetime
fields = [('N', 'N', 18, 9), ('DATE', 'C', 10, 0), ('ARTICLE', 'C', 30, 0), ('MODE', 'N', 4, 0), ('GROUP', 'C', 1, 0)]
rows = [(1.5, '02.01.2024', 'Балка Б-1', 0, 'A'), (None, '', 'Ригель', 2, 'Б'), (-7.25, '31.12.2023', '', 1, ''),
        (1234567.123456789, '01.01.2000', 'x' * 30, 9999, 'Z')]
deleted = {2}
reclen = 1 + sum(f[2] for f in fields)
hdrlen = 32 + 32 * len(fields) + 1
today = datetime.date.today()
out = struct.pack('<BBBBIHH20x', 3, today.year - 1900, today.month, today.day, len(rows), hdrlen, reclen)
out = out[:29] + bytes([0xC9]) + out[30:]
for name, typ, width, dec in fields:
    out += struct.pack('<11sc4xBB14x', name.encode('ascii'), typ.encode('ascii'), width, dec)
out += b'\r'
for i, row in enumerate(rows):
    rec = b'*' if i in deleted else b' '
    for (name, typ, width, dec), value in zip(fields, row):
        if typ == 'N':
            text = ' ' * width if value is None else ('%*.*f' % (width, dec, value))
            rec += text.encode('ascii')
        else:
            rec += value.encode('cp1251').ljust(width, b' ')[:width]
    out += rec
out += b'\x1a'
open(sys.argv[1], 'wb').write(out)
)");
        QByteArray out;
        QString err;
        QVERIFY2(runPython(script, {p}, out, err), qPrintable(err));
        Table t;
        t.setFileName(p);
        t.open();
        QCOMPARE(t.physicalCount(), 4u);
        QCOMPARE(t.deletedCount(), 1u);
        QCOMPARE(t.recordCount(), 3);
        t.first();
        QCOMPARE(t.asFloat("N"), 1.5);
        QCOMPARE(t.asString("DATE"), QString("02.01.2024"));
        QCOMPARE(t.asString("ARTICLE"), QStringLiteral("Балка Б-1"));
        QCOMPARE(t.asInteger("MODE"), 0);
        QCOMPARE(t.asString("GROUP"), QString("A"));
        t.next();
        QVERIFY(t.isNull("N"));
        QCOMPARE(t.asString("DATE"), QString());
        QCOMPARE(t.asString("ARTICLE"), QStringLiteral("Ригель"));
        QCOMPARE(t.asString("GROUP"), QStringLiteral("Б"));
        t.next();
        QCOMPARE(t.asFloat("N"), 1234567.123456789);
        QCOMPARE(t.asString("ARTICLE"), QString(30, 'x'));
        QCOMPARE(t.asInteger("MODE"), 9999);
        t.setFilter("MODE=2 AND GROUP=\"Б\"");
        t.setFiltered(true);
        QCOMPARE(t.recordCount(), 1);
    }

    void libreOfficeConversion() {
        const QString soffice = QStandardPaths::findExecutable("soffice");
        if (soffice.isEmpty())
            QSKIP("LibreOffice (soffice) is not installed; conversion to dbf not checked");
        const QString csv = dir_ + "/lo.csv";
        QVERIFY(writeAll(csv, "NAME,VALUE\nabc,1.5\ndef,-2\n"));
        QProcess p;
        p.setWorkingDirectory(dir_);
        p.start(soffice, {"--headless", "--convert-to", "dbf", "--outdir", dir_, csv});
        QVERIFY(p.waitForFinished(180000));
        const QString dbfPath = dir_ + "/lo.dbf";
        if (!QFile::exists(dbfPath))
            QSKIP("soffice produced no dbf file");
        Table t;
        t.setFileName(dbfPath);
        t.open();
        QCOMPARE(t.recordCount(), 2);
        t.first();
        QCOMPARE(t.asString("NAME"), QString("abc"));
        QCOMPARE(t.asFloat("VALUE"), 1.5);
        t.next();
        QCOMPARE(t.asFloat("VALUE"), -2.0);
    }
};

QTEST_GUILESS_MAIN(TstDbfInterop)
#include "tst_dbf_interop.moc"
