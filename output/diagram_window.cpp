#include "output/diagram_window.h"

#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImageWriter>
#include <QLocale>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QPushButton>
#include <QSaveFile>
#include <QScreen>
#include <cerrno>
#include <cmath>

#include "ground/app_locale.h"
#include "ground/dialogs.h"
#include "ground/system_error.h"
#include "store/dbf.h"

namespace {

constexpr int kDesignWidth = 570;
constexpr int kDesignHeight = 357;
constexpr int kGap = 8;
constexpr int kMaxReadings = 15;  // fields M1 ... M15
const QColor kMarked(255, 0, 0);
const QColor kPlain(0, 0, 255);

QFont chartFont(int points) { return QFont(QStringLiteral("Arial"), points); }

}  // namespace

// ---------------------------------------------------------------------------
// bars

ReadingBars::ReadingBars(QCPAxis* keyAxis, QCPAxis* valueAxis) : QCPBars(keyAxis, valueAxis) {}

void ReadingBars::clearBars()
{
    data()->clear();
    colours_.clear();
}

void ReadingBars::addBar(double key, double value, const QColor& colour)
{
    addData(key, value);
    colours_[key] = colour;
}

QColor ReadingBars::colourAt(double key) const
{
    const auto it = colours_.find(key);
    return it == colours_.end() ? QColor() : it->second;
}

QString ReadingBars::labelAt(double key) const
{
    const auto it = data()->findBegin(key, false);
    if (it == data()->constEnd() || it->key != key)
        return {};
    return valueText(it->value);
}

QString ReadingBars::valueText(double value)
{
    QLocale loc = appLocale();
    loc.setNumberOptions(QLocale::OmitGroupSeparator);
    return loc.toString(value, 'g', QLocale::FloatingPointShortest);
}

void ReadingBars::draw(QCPPainter* painter)
{
    if (!mKeyAxis || !mValueAxis)
        return;
    for (auto it = mDataContainer->constBegin(); it != mDataContainer->constEnd(); ++it) {
        const QColor c = colourAt(it->key);
        painter->setPen(QPen(c.darker(150), 1));
        painter->setBrush(c);
        painter->drawRect(getBarRect(it->key, it->value));
    }
}

// ---------------------------------------------------------------------------
// window

TForm5::TForm5(dbf::Table& table, QWidget* parent) : QDialog(parent), table_(table)
{
    setObjectName(QStringLiteral("TForm5"));
    setWindowTitle(QStringLiteral("График"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMaximizeButtonHint |
                   Qt::WindowCloseButtonHint);
    resize(kDesignWidth, kDesignHeight);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(kDesignWidth / 2, kDesignHeight / 2));
    }

    Chart1 = new QCustomPlot(this);
    Chart1->setObjectName(QStringLiteral("Chart1"));
    Chart1->setBackground(Qt::white);
    Chart1->axisRect()->setBackground(Qt::white);

    Label1 = new QCPTextElement(Chart1, QString(), chartFont(12));
    Label1->setObjectName(QStringLiteral("Label1"));
    Chart1->plotLayout()->insertRow(0);
    Chart1->plotLayout()->addElement(0, 0, Label1);

    QCPAxis* x = Chart1->xAxis;
    QCPAxis* y = Chart1->yAxis;
    y->setLabel(QStringLiteral("R, MPa"));
    for (QCPAxis* a : {x, y}) {
        a->setTickLabelFont(chartFont(16));
        a->setLabelFont(chartFont(16));
    }
    x->setTicker(QSharedPointer<QCPAxisTickerText>(new QCPAxisTickerText));
    x->grid()->setVisible(false);

    Series1 = new ReadingBars(x, y);
    Series1->setObjectName(QStringLiteral("Series1"));
    Series1->setWidth(0.6);
    Series1->removeFromLegend();
    Series2 = Chart1->addGraph(x, y);
    Series2->setObjectName(QStringLiteral("Series2"));
    Series2->setName(QStringLiteral("Среднее"));
    Series2->setPen(QPen(Qt::black, 3));

    // Legend under the chart, centred between the buttons, plain text.
    auto* bottom = new QCPLayoutGrid;
    Chart1->plotLayout()->addElement(2, 0, bottom);
    bottom->addElement(0, 0, new QCPLayoutElement(Chart1));
    bottom->addElement(0, 1, Chart1->legend);
    bottom->addElement(0, 2, new QCPLayoutElement(Chart1));
    bottom->setColumnStretchFactors({1, 0.001, 1});
    bottom->setMargins(QMargins(0, 0, 0, 4));
    Chart1->plotLayout()->setRowStretchFactor(2, 0.001);
    Chart1->legend->setVisible(true);
    Chart1->legend->setFont(chartFont(16));
    Chart1->legend->setBorderPen(Qt::NoPen);
    Chart1->legend->setBrush(Qt::NoBrush);
    Chart1->legend->setFillOrder(QCPLegend::foColumnsFirst);

    // Zoom by dragging a rectangle; a double click shows everything again.
    Chart1->setSelectionRectMode(QCP::srmZoom);
    Chart1->axisRect()->setRangeZoom(Qt::Horizontal | Qt::Vertical);
    connect(Chart1, &QCustomPlot::mouseDoubleClick, this, [this](QMouseEvent*) { restoreRanges(); });

    BitBtn1 = new QPushButton(QStringLiteral("Печать"), this);
    BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
    Button1 = new QPushButton(QStringLiteral("Export to bmp"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    for (QPushButton* b : {BitBtn1, Button1}) {
        b->setAutoDefault(false);
        b->resize(b->sizeHint().expandedTo(QSize(90, 25)));
    }
    connect(BitBtn1, &QPushButton::clicked, this, &TForm5::BitBtn1Click);
    connect(Button1, &QPushButton::clicked, this, &TForm5::Button1Click);
    // "Export to bmp" keeps its place at the design size's bottom right.
    Button1->move(kDesignWidth - kGap - Button1->width(), kDesignHeight - kGap - Button1->height());
    placeChildren();
}

void TForm5::placeChildren()
{
    Chart1->setGeometry(rect());
    BitBtn1->move(kGap, height() - kGap - BitBtn1->height());
    BitBtn1->raise();
    Button1->raise();
}

void TForm5::resizeEvent(QResizeEvent* e)
{
    QDialog::resizeEvent(e);
    placeChildren();
}

TForm5::Reading TForm5::reading(double stored)
{
    const qint64 w = qint64(std::nearbyint(stored * 10));  // ties to even
    return {double(w & 0x7FFF) / 10, (w >> 15) == 1};
}

void TForm5::FormShow()
{
    Series1->clearBars();
    Series2->data()->clear();
    Chart1->clearItems();
    auto ticker = qSharedPointerCast<QCPAxisTickerText>(Chart1->xAxis->ticker());
    ticker->clear();
    Label1->setText(QString());
    Series2->setName(QStringLiteral("Среднее"));

    double top = 0;
    int c = 0;
    if (table_.isOpen() && table_.recordCount() > 0 && table_.recNo() >= 0) {
        Label1->setText(table_.asString("DATE") + QLatin1Char(' ') + table_.asString("TIME"));
        const double r = table_.asFloat("R");
        // Only M1 ... M15 exist; a larger count draws those.
        c = std::min(table_.asInteger("COUNT"), kMaxReadings);
        for (int i = 1; i <= c; ++i) {
            const QString field = QStringLiteral("M%1").arg(i);
            // A reading without a value leaves its place empty.
            if (!table_.isNull(field)) {
                const Reading m = reading(table_.asFloat(field));
                Series1->addBar(i - 1, m.value, m.marked ? kMarked : kPlain);
                top = std::max(top, m.value);
                // The value above its bar, over the line of the mean.
                auto* label = new QCPItemText(Chart1);
                label->position->setCoords(i - 1, m.value);
                label->setPositionAlignment(Qt::AlignHCenter | Qt::AlignBottom);
                label->setText(ReadingBars::valueText(m.value));
                label->setFont(chartFont(11));
                label->setBrush(Qt::white);
                label->setPadding(QMargins(2, 0, 2, 1));
            }
            Series2->addData(i - 1, r);
            ticker->addTick(i - 1, QString::number(i));
        }
        Series2->setName(QStringLiteral("Av (") + ReadingBars::valueText(r) + QLatin1Char(')'));
        top = std::max(top, r);
    }
    keyRange_ = QCPRange(-0.5, std::max(c, 1) - 0.5);
    // Room above the tallest bar for its value.
    valueRange_ = QCPRange(0, top > 0 ? top * 1.15 : 1);
    restoreRanges();
}

void TForm5::restoreRanges()
{
    Chart1->xAxis->setRange(keyRange_);
    Chart1->yAxis->setRange(valueRange_);
    Chart1->replot();
}

// ---------------------------------------------------------------------------
// print

void TForm5::BitBtn1Click()
{
    QPrinter printer(QPrinter::HighResolution);
    // Margins of 4 % of the paper on each side.
    const QSizeF paper = printer.pageLayout().fullRect(QPageLayout::Millimeter).size();
    printer.setPageMargins(QMarginsF(paper.width() * 0.04, paper.height() * 0.04, paper.width() * 0.04,
                                     paper.height() * 0.04),
                           QPageLayout::Millimeter);
    QPrintPreviewDialog preview(&printer, this);
    preview.setObjectName(QStringLiteral("PrintPreview"));
    preview.setWindowTitle(QStringLiteral("Печать графика"));
    connect(&preview, &QPrintPreviewDialog::paintRequested, this, &TForm5::printChart);
    ui::dialogs().exec(preview);
    Chart1->replot();
}

void TForm5::printChart(QPrinter* printer)
{
    const QRectF area = printer->pageRect(QPrinter::DevicePixel);
    const int w = std::max(1, Chart1->width()), h = std::max(1, Chart1->height());
    // The chart keeps its proportions and fills the printable area.
    const double scale = std::min(area.width() / w, area.height() / h);
    QCPPainter painter(printer);
    painter.setMode(QCPPainter::pmVectorized);
    painter.setMode(QCPPainter::pmNoCaching);
    painter.setMode(QCPPainter::pmNonCosmetic);
    painter.scale(scale, scale);
    Chart1->toPainter(&painter, w, h);
}

// ---------------------------------------------------------------------------
// bitmap

void TForm5::Button1Click()
{
    ui::FileRequest r;
    r.caption = QStringLiteral("Сохранить график");
    r.filter = QStringLiteral("*.bmp|*.bmp");
    r.defaultSuffix = QStringLiteral("bmp");
    r.confirmOverwrite = true;
    QString name = ui::dialogs().saveFile(this, r);
    if (name.isEmpty())
        return;
    if (QFileInfo(name).suffix().isEmpty())
        name += QStringLiteral(".bmp");
    const QFileInfo target(name);
    if (target.exists() && !target.isFile()) {
        ui::showError(this, QStringLiteral("\"%1\" — не обычный файл: записать в него рисунок нельзя.")
                                .arg(QDir::toNativeSeparators(name)));
        return;
    }
    QImage image(Chart1->size(), QImage::Format_RGB32);
    image.fill(Qt::white);
    {
        QCPPainter painter(&image);
        Chart1->toPainter(&painter, image.width(), image.height());
    }
    // The picture is encoded in memory, then written beside the target and
    // renamed into place when complete.  The reason of a failure is taken
    // from errno right after the failing call (Qt's own texts are English,
    // or empty when a write stops short on a full disk).
    QByteArray bytes;
    {
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter(&buffer, "bmp").write(image);
    }
    QSaveFile file(name);
    QString why;
    errno = 0;
    if (!file.open(QIODevice::WriteOnly)) {
        why = fileErrorText(file.error(), errno);
    } else {
        errno = 0;
        if (file.write(bytes) != bytes.size() || !file.flush()) {
            why = fileErrorText(file.error(), errno);
            file.cancelWriting();
        } else {
            errno = 0;
            if (!file.commit())
                why = fileErrorText(file.error(), errno);
        }
    }
    if (!why.isEmpty())
        ui::showError(this,
                      QStringLiteral("Не удалось записать файл \"%1\": %2").arg(QDir::toNativeSeparators(name), why));
}
