// Timing of the workbook writer on the largest report.
//
//   bench_xls [folder]   (default: the current folder)
//
// Builds a 150,000-row workbook of two columns (a number and a date-time
// text per row) split over three sheets, with a chart-sized picture on the
// first sheet, then times toBytes and save and prints the file size.

#include "output/xls_writer.h"

#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <cstdio>

namespace {

constexpr int kRows = 150000;
constexpr int kSheets = 3;

double seconds(QElapsedTimer& t) { return double(t.nsecsElapsed()) / 1e9; }

QByteArray chartPng() {
    QImage img(800, 400, QImage::Format_RGB32);
    img.fill(Qt::white);
    QPainter p(&img);
    p.setPen(QPen(Qt::blue, 2));
    for (int x = 1; x < 800; ++x)
        p.drawLine(x - 1, 200 + (x * 37 % 150) - 75, x, 200 + ((x + 1) * 37 % 150) - 75);
    p.end();
    QByteArray png;
    QBuffer b(&png);
    b.open(QIODevice::WriteOnly);
    img.save(&b, "PNG");
    return png;
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QString dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath();

    QElapsedTimer t;
    t.start();
    xls::Workbook book;
    const int perSheet = (kRows + kSheets - 1) / kSheets;
    xls::CellStyle number;
    number.border = true;
    number.numberFormat = QStringLiteral("0.000");
    xls::CellStyle text;
    text.border = true;
    for (int s = 0; s < kSheets; ++s) {
        xls::Sheet sheet;
        sheet.name = QStringLiteral("Лист %1").arg(s + 1);
        sheet.columnWidthsPx = {{0, 90}, {1, 140}};
        const int first = s * perSheet, last = std::min(kRows, first + perSheet);
        sheet.cells.reserve(size_t(last - first) * 2);
        for (int r = first; r < last; ++r) {
            const int sec = r % 86400;
            const QString when = QStringLiteral("%1.%2.2024 %3:%4:%5")
                                     .arg(r / 86400 % 28 + 1, 2, 10, QChar('0'))
                                     .arg(r / 86400 / 28 % 12 + 1, 2, 10, QChar('0'))
                                     .arg(sec / 3600, 2, 10, QChar('0'))
                                     .arg(sec / 60 % 60, 2, 10, QChar('0'))
                                     .arg(sec % 60, 2, 10, QChar('0'));
            sheet.cells.push_back({r - first, 0, r * 0.001 - 20, number});
            sheet.cells.push_back({r - first, 1, when, text});
        }
        book.sheets.push_back(std::move(sheet));
    }
    book.sheets[0].pictures.push_back({chartPng(), 2, 3, 0, 0, 0, 0});
    const double build = seconds(t);

    t.restart();
    const QByteArray bytes = xls::toBytes(book);
    const double toBytes = seconds(t);

    const QString path = dir + "/bench.xls";
    t.restart();
    xls::save(book, path);
    const double save = seconds(t);

    std::printf("rows %d over %d sheets, picture PNG %lld bytes\n", kRows, kSheets,
                qlonglong(book.sheets[0].pictures[0].png.size()));
    std::printf("build workbook %7.3f s\n", build);
    std::printf("toBytes        %7.3f s\n", toBytes);
    std::printf("save           %7.3f s  (toBytes and write)\n", save);
    std::printf("file size      %lld bytes (%.1f MB)\n", qlonglong(bytes.size()), bytes.size() / 1048576.0);
    return 0;
}
