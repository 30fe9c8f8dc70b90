#include "output/report_preview.h"

#include <QAction>
#include <QGuiApplication>
#include <QLabel>
#include <QPaintEvent>
#include <QPainter>
#include <QScreen>
#include <QScrollBar>
#include <QToolBar>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <algorithm>

namespace report {
namespace {

constexpr double Gap = 12;  // screen pixels between pages and around them
constexpr double MinZoom = 0.1, MaxZoom = 4.0;

}  // namespace

PageView::PageView(const PreparedReport& report, QWidget* parent)
    : QAbstractScrollArea(parent), report_(report), painter_(report)
{
    setObjectName(QStringLiteral("PageView"));
    viewport()->setBackgroundRole(QPalette::Dark);
    viewport()->setAutoFillBackground(true);
    verticalScrollBar()->setSingleStep(40);
    horizontalScrollBar()->setSingleStep(40);
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, [this] { emit currentPageChanged(currentPage()); });
    relayout();
}

QSizeF PageView::largestPage() const
{
    QSizeF s(1, 1);
    for (const PreparedPage& p : report_.pages)
        s = s.expandedTo(p.size);
    return s;
}

void PageView::relayout()
{
    const QSizeF vp = viewport()->size();
    const QSizeF largest = largestPage();
    if (fit_ == Fit::WholePage && !report_.pages.empty()) {
        const QSizeF page = report_.pages[size_t(std::clamp(fitPage_, 0, int(report_.pages.size()) - 1))].size;
        zoom_ = std::min((vp.width() - 2 * Gap) / page.width(), (vp.height() - 2 * Gap) / page.height());
    } else if (fit_ == Fit::PageWidth) {
        zoom_ = (vp.width() - 2 * Gap - verticalScrollBar()->sizeHint().width()) / largest.width();
    }
    zoom_ = std::clamp(zoom_, MinZoom, MaxZoom);
    tops_.resize(report_.pages.size());
    double y = 0;
    for (size_t i = 0; i < report_.pages.size(); ++i) {
        tops_[i] = y;
        y += report_.pages[i].size.height();
    }
    totalHeight_ = y;
    const double contentH = totalHeight_ * zoom_ + Gap * (double(report_.pages.size()) + 1);
    const double contentW = largest.width() * zoom_ + 2 * Gap;
    verticalScrollBar()->setRange(0, std::max(0, int(contentH - vp.height())));
    verticalScrollBar()->setPageStep(int(vp.height()));
    horizontalScrollBar()->setRange(0, std::max(0, int(contentW - vp.width())));
    horizontalScrollBar()->setPageStep(int(vp.width()));
    viewport()->update();
}

double PageView::pageTop(int index) const { return tops_[size_t(index)] * zoom_ + Gap * (index + 1); }

int PageView::currentPage() const
{
    if (report_.pages.empty())
        return 0;
    const double y = verticalScrollBar()->value() + Gap + 1;
    int lo = 0, hi = int(tops_.size()) - 1;
    while (lo < hi) {
        const int mid = (lo + hi + 1) / 2;
        if (pageTop(mid) <= y)
            lo = mid;
        else
            hi = mid - 1;
    }
    return lo;
}

void PageView::showPage(int index)
{
    if (report_.pages.empty())
        return;
    index = std::clamp(index, 0, int(report_.pages.size()) - 1);
    verticalScrollBar()->setValue(int(pageTop(index) - Gap));
}

void PageView::setFit(Fit fit)
{
    const int page = currentPage();
    fit_ = fit;
    fitPage_ = page;
    relayout();
    showPage(page);
}

void PageView::setZoom(double zoom)
{
    const int page = currentPage();
    fit_ = Fit::None;
    zoom_ = zoom;
    relayout();
    showPage(page);
}

void PageView::paintEvent(QPaintEvent* e)
{
    QPainter p(viewport());
    const double top = verticalScrollBar()->value();
    const double left = horizontalScrollBar()->value();
    const QRectF visible(left, top + e->rect().top(), viewport()->width(), e->rect().height());
    const double contentW = std::max(double(viewport()->width()), largestPage().width() * zoom_ + 2 * Gap);
    // First page that reaches into view: binary search over the page tops.
    int i = 0;
    {
        int lo = 0, hi = int(tops_.size()) - 1;
        while (lo < hi) {
            const int mid = (lo + hi + 1) / 2;
            if (pageTop(mid) <= visible.top())
                lo = mid;
            else
                hi = mid - 1;
        }
        i = lo;
    }
    for (; i < int(report_.pages.size()); ++i) {
        const double y = pageTop(i);
        if (y > visible.bottom())
            break;
        const QSizeF size = report_.pages[size_t(i)].size * zoom_;
        const QRectF sheet((contentW - size.width()) / 2 - left, y - top, size.width(), size.height());
        p.fillRect(sheet.translated(3, 3), QColor(0, 0, 0, 90));
        p.fillRect(sheet, Qt::white);
        painter_.paint(p, i, sheet.topLeft(), zoom_);
        ++painted_;
    }
}

void PageView::resizeEvent(QResizeEvent* e)
{
    QAbstractScrollArea::resizeEvent(e);
    const int page = currentPage();
    fitPage_ = page;
    relayout();
    if (fit_ != Fit::None)
        showPage(page);
}

void PageView::wheelEvent(QWheelEvent* e)
{
    if (e->modifiers() & Qt::ControlModifier) {
        setZoom(zoom_ * (e->angleDelta().y() > 0 ? 1.25 : 0.8));
        e->accept();
        return;
    }
    QAbstractScrollArea::wheelEvent(e);
}

ReportPreview::ReportPreview(const PreparedReport& report, std::function<void()> print, std::function<void()> help,
                             QWidget* parent)
    : QDialog(parent), pages_(report.pageCount())
{
    setObjectName(QStringLiteral("ReportPreview"));
    setWindowTitle(QStringLiteral("Предварительный просмотр"));
    setWindowFlag(Qt::WindowMaximizeButtonHint, true);
    setSizeGripEnabled(true);
    if (const QScreen* s = QGuiApplication::primaryScreen()) {
        const QRect a = s->availableGeometry();
        resize(int(a.width() * 0.8), int(a.height() * 0.9));
    } else {
        resize(1000, 800);
    }

    auto* lay = new QVBoxLayout(this);
    lay->setContentsMargins(0, 0, 0, 0);
    lay->setSpacing(0);
    auto* bar = new QToolBar(this);
    bar->setObjectName(QStringLiteral("PreviewToolBar"));
    bar->setToolButtonStyle(Qt::ToolButtonTextOnly);
    view_ = new PageView(report, this);
    lay->addWidget(bar);
    lay->addWidget(view_, 1);

    bar->addAction(QStringLiteral("Целая страница"), this, [this] { view_->setFit(PageView::Fit::WholePage); });
    bar->addAction(QStringLiteral("По ширине"), this, [this] { view_->setFit(PageView::Fit::PageWidth); });
    bar->addAction(QStringLiteral("100 %"), this, [this] { view_->setZoom(1.0); });
    bar->addAction(QStringLiteral("Крупнее"), this, [this] { view_->setZoom(view_->zoom() * 1.25); });
    bar->addAction(QStringLiteral("Мельче"), this, [this] { view_->setZoom(view_->zoom() * 0.8); });
    bar->addSeparator();
    bar->addAction(QStringLiteral("<"), this, [this] { view_->showPage(view_->currentPage() - 1); });
    pageLabel_ = new QLabel(bar);
    pageLabel_->setMargin(6);
    bar->addWidget(pageLabel_);
    bar->addAction(QStringLiteral(">"), this, [this] { view_->showPage(view_->currentPage() + 1); });
    bar->addSeparator();
    print_ = bar->addAction(QStringLiteral("Печать"), this, [print] {
        if (print)
            print();
    });
    print_->setShortcut(QKeySequence(QStringLiteral("Ctrl+P")));
    QAction* helpAction = bar->addAction(QStringLiteral("Справка"), this, [help] {
        if (help)
            help();
    });
    helpAction->setShortcut(QKeySequence(Qt::Key_F1));
    bar->addAction(QStringLiteral("Закрыть"), this, &QDialog::reject);

    connect(view_, &PageView::currentPageChanged, this, &ReportPreview::updatePageLabel);
    updatePageLabel();
}

void ReportPreview::updatePageLabel()
{
    pageLabel_->setText(QStringLiteral("Стр. %1 из %2").arg(pages_ ? view_->currentPage() + 1 : 0).arg(pages_));
}

}  // namespace report
