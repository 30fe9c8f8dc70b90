// Timing of the download decoder: a full-capacity memory image (4,681
// operative records, 201 waiting and 201 observation series with 150,000
// points each) written into a new database, against plain file I/O of the
// same number of bytes.  Each figure is the best of three runs taken one
// after the other (the machine may be busy with other work).
//
//   bench_decode [folder]   (default: the current folder)

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "decode/flash2orl01.h"
#include "device/memory_image.h"
#include "store/dbf.h"
#include "store/measurement.h"
#include "tools/sim/instrument.h"

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QString dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath();
    const QString db = dir + QStringLiteral("/bench_decode.db");
    const QString raw = dir + QStringLiteral("/bench_decode.raw");

    sim::ScenarioOptions o;
    o.records = {4681, 201, 201};
    o.totalPoints = 150000;
    const sim::Archives archives = sim::makeScenario(o);
    device::MemoryImage image;
    sim::fillExpectedImage(archives, image);

    QElapsedTimer t;
    dbf::Table table;
    decode::Flash2orl01Result r;
    double decodeSecs = 1e300;
    for (int i = 0; i < 3; ++i) {
        QFile::remove(db);  // dropping the last run's file is not timed
        t.restart();
        dbf::Table::create(db, measurementFields());
        table.setFileName(db);
        table.open();
        table.beginBulk();
        r = decode::flash2orl01(table, image, {4681, 201, 201}, false);
        table.close();
        decodeSecs = std::min(decodeSecs, double(t.nsecsElapsed()) / 1e9);
    }

    // The same with every post written through at once (appending to an
    // open database).
    QFile::remove(db);
    t.restart();
    dbf::Table::create(db, measurementFields());
    table.setFileName(db);
    table.open();
    decode::flash2orl01(table, image, {4681, 201, 201}, false);
    table.close();
    const double throughSecs = double(t.nsecsElapsed()) / 1e9;
    const qint64 bytes = QFileInfo(db).size();

    double plainSecs = 1e300;
    for (int i = 0; i < 3; ++i) {
        QFile::remove(raw);
        t.restart();
        std::FILE* f = std::fopen(QFile::encodeName(raw).constData(), "wb");
        if (!f)
            return 1;
        std::vector<char> rec(547, ' ');
        for (qint64 done = 0; done < bytes; done += qint64(rec.size())) {
            rec[1 + (done / 547) % 500] = char('0' + done % 10);
            std::fwrite(rec.data(), 1, rec.size(), f);
        }
        std::fclose(f);
        plainSecs = std::min(plainSecs, double(t.nsecsElapsed()) / 1e9);
    }
    QFile::remove(db);
    QFile::remove(raw);

    std::printf("rows decoded:            %d (%lld bytes)\n", r.rows, static_cast<long long>(bytes));
    std::printf("decode into new table:   %.3f s (bulk writes, as \"Создать\" does)\n", decodeSecs);
    std::printf("decode, post by post:    %.3f s (every post written at once)\n", throughSecs);
    std::printf("plain write, same bytes: %.3f s\n", plainSecs);
    std::printf("ratio:                   %.2fx (aim: within 2x); post by post %.2fx\n", decodeSecs / plainSecs,
                throughSecs / plainSecs);
    return 0;
}
