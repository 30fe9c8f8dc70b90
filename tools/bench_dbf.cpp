// Timing of the table engine against plain file I/O of the same bytes.
//
//   bench_dbf [folder]   (default: the current folder)
//
// Appends 305,000 measurement rows the way a download does (4,681 operative
// rows, then waiting and observation series), reopens the file, counts and
// walks one series through a filter, and walks the whole table.  Open and
// walk are set against a plain read of the same file, each the best of three
// runs taken one after the other (the machine may be busy with other work).

#include "store/dbf.h"
#include "store/measurement.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int kRows = 305000;
constexpr int kOperative = 4681;
constexpr int kRecLen = 547;

double seconds(QElapsedTimer& t) { return double(t.nsecsElapsed()) / 1e9; }

// Best of three runs.
template <typename F>
double bestOfThree(F&& f) {
    double best = 1e300;
    for (int i = 0; i < 3; ++i) {
        QElapsedTimer t;
        t.start();
        f();
        best = std::min(best, seconds(t));
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QString dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath();
    const QString dbPath = dir + "/bench.db";
    const QString rawPath = dir + "/bench.raw";

    // ---- plain I/O: the same bytes, record by record ---------------------
    QElapsedTimer t;
    t.start();
    {
        std::FILE* f = std::fopen(QFile::encodeName(rawPath).constData(), "wb");
        if (!f)
            return 1;
        std::vector<char> rec(kRecLen, ' ');
        std::vector<char> head(1089, 0);
        std::fwrite(head.data(), 1, head.size(), f);
        for (int i = 0; i < kRows; ++i) {
            rec[1 + (i % 500)] = char('0' + i % 10);
            std::fwrite(rec.data(), 1, rec.size(), f);
        }
        std::fclose(f);
    }
    const double rawWrite = seconds(t);
    t.restart();
    long long sum = 0;
    {
        std::FILE* f = std::fopen(QFile::encodeName(rawPath).constData(), "rb");
        std::vector<char> rec(kRecLen);
        std::fseek(f, 1089, SEEK_SET);
        while (std::fread(rec.data(), 1, rec.size(), f) == rec.size())
            sum += rec[1];
        std::fclose(f);
    }
    const double rawRead = seconds(t);

    // ---- the floor for writing through: per record one write of the record
    // and the end marker, one write of the header count, as every post does.
    t.restart();
    {
        QFile f(rawPath);
        if (!f.open(QIODevice::ReadWrite | QIODevice::Truncate | QIODevice::Unbuffered))
            return 1;
        std::vector<char> rec(kRecLen + 1, ' ');
        rec.back() = 0x1A;
        f.write(std::vector<char>(1089, 0).data(), 1089);
        for (int i = 0; i < kRows; ++i) {
            f.seek(1089 + qint64(i) * kRecLen);
            f.write(rec.data(), qint64(rec.size()));
            f.seek(4);
            const quint32 n = quint32(i + 1);
            f.write(reinterpret_cast<const char*>(&n), 4);
        }
    }
    const double rawThrough = seconds(t);

    // ---- engine: append ------------------------------------------------------
    t.restart();
    dbf::Table::create(dbPath, measurementFields());
    dbf::Table table;
    MeasurementFields m(table);
    table.setFileName(dbPath);
    table.open();
    table.setFilter("MODE=0");
    table.setFiltered(true);
    int series = 0, point = 0, seriesLen = 0, mode = 0;
    for (int i = 0; i < kRows; ++i) {
        table.append();
        m.Dbf1N.setInteger(i + 1);
        m.Dbf1DATE.setString(QStringLiteral("%1.03.2024").arg(i % 28 + 1, 2, 10, QChar('0')));
        m.Dbf1TIME.setString(QStringLiteral("12:%1:%2")
                                 .arg(i / 60 % 60, 2, 10, QChar('0'))
                                 .arg(i % 60, 2, 10, QChar('0')));
        m.Dbf1R.setFloat(0.001 * (i % 5000));
        m.Dbf1COMMENT.setString(QString());
        if (i < kOperative) {
            m.Dbf1MODE.setInteger(0);
            m.Dbf1TYPE.setInteger(3);
            m.Dbf1ARTICLE.setString(QStringLiteral("Плита перекрытия"));
            m.Dbf1MATERIAL.setString(QStringLiteral("тяж. бетон на известняке"));
        } else {
            if (point == seriesLen) {  // next series: 1000..4000 points
                ++series;
                point = 0;
                seriesLen = 1000 + (series * 733) % 3000;
                mode = i < kRows / 2 ? 1 : 2;
                if (mode == 2 && series > 0 && i - kRows / 2 < seriesLen)
                    series = 1;  // observation ordinals restart
            }
            m.Dbf1MODE.setInteger(mode);
            m.Dbf1TYPE.setInteger(series);
            if (point == 0) {
                m.Dbf1AGE.setInteger(seriesLen);
                m.Dbf1M1.setFloat(24);
                m.Dbf1M2.setFloat(0.5);
            }
            ++point;
        }
        table.post();
    }
    const double engineAppend = seconds(t);
    table.close();

    // ---- plain read of the table file itself, record by record ----------------
    long long dbSum = 0;
    const double plainDbRead = bestOfThree([&] {
        std::FILE* f = std::fopen(QFile::encodeName(dbPath).constData(), "rb");
        if (!f)
            return;
        std::vector<char> rec(kRecLen);
        std::fseek(f, 1089, SEEK_SET);
        while (std::fread(rec.data(), 1, rec.size(), f) == rec.size())
            dbSum += rec[1];
        std::fclose(f);
    });

    // ---- engine: open, then walk every row ------------------------------------
    double acc = 0;
    int all = 0;
    table.setFiltered(false);
    double engineOpen = 1e300, engineOpenScan = 1e300;
    for (int i = 0; i < 3; ++i) {  // closing (freeing the records) is not timed
        t.restart();
        table.open();
        engineOpen = std::min(engineOpen, seconds(t));
        table.close();
        t.restart();
        table.open();
        all = 0;
        for (table.first(); !table.eof(); table.next()) {
            acc += m.Dbf1R.asFloat();
            ++all;
        }
        engineOpenScan = std::min(engineOpenScan, seconds(t));
        table.close();
    }

    // ---- engine: filter one series, walk --------------------------------------
    table.open();
    t.restart();
    table.setFilter("MODE=2 AND TYPE=7");
    table.setFiltered(true);
    const int n = table.recordCount();
    for (table.first(); !table.eof(); table.next())
        acc += m.Dbf1R.asFloat();
    const double engineFilter = seconds(t);
    table.close();

    std::printf("rows %d, record %d bytes\n", kRows, kRecLen);
    std::printf("plain write        %7.3f s\n", rawWrite);
    std::printf("plain read         %7.3f s\n", rawRead);
    std::printf("engine append      %7.3f s  (%.1fx plain write)\n", engineAppend,
                engineAppend / rawWrite);
    std::printf("plain write-through%7.3f s  (engine append %.1fx of it)\n", rawThrough,
                engineAppend / rawThrough);
    std::printf("plain read of the table file %7.3f s\n", plainDbRead);
    std::printf("engine open        %7.3f s  (%.2fx plain read of the same file)\n", engineOpen,
                engineOpen / plainDbRead);
    std::printf("open + full walk   %7.3f s  (%.2fx plain read of the same file; aim: within 2x)\n",
                engineOpenScan, engineOpenScan / plainDbRead);
    std::printf("filter MODE=2 AND TYPE=7: %d rows, count+walk %.3f s\n", n, engineFilter);
    std::printf("(checks %lld %lld %d %.1f)\n", sum, dbSum, all, acc);
    QFile::remove(rawPath);
    QFile::remove(dbPath);
    return 0;
}
