#pragma once
// The report preview: the prepared pages one under another, painted only
// as they come into view, so that a report of thousands of pages opens at
// once.  Opens zoomed to one whole page; offers zoom, print, help and close.

#include <QAbstractScrollArea>
#include <QDialog>
#include <functional>

#include "output/report_painter.h"

class QAction;
class QLabel;

namespace report {

class PageView : public QAbstractScrollArea {
    Q_OBJECT
public:
    PageView(const PreparedReport& report, QWidget* parent = nullptr);

    enum class Fit { WholePage, PageWidth, None };
    void setFit(Fit fit);
    void setZoom(double zoom);  // screen pixels per report unit; stops fitting
    double zoom() const { return zoom_; }
    int currentPage() const;  // 0-based page at the top of the view
    void showPage(int index);

    // Pages painted since the view was made (tests: pages come on demand).
    int pagesPainted() const { return painted_; }

signals:
    void currentPageChanged(int index);

protected:
    void paintEvent(QPaintEvent*) override;
    void resizeEvent(QResizeEvent*) override;
    void wheelEvent(QWheelEvent*) override;

private:
    void relayout();
    double pageTop(int index) const;
    QSizeF largestPage() const;

    const PreparedReport& report_;
    PagePainter painter_;
    std::vector<double> tops_;  // page tops in report units (unscaled)
    double totalHeight_ = 0;
    double zoom_ = 1;
    Fit fit_ = Fit::WholePage;
    int fitPage_ = 0;  // the page "whole page" fits (the one in view when chosen)
    int painted_ = 0;
};

class ReportPreview : public QDialog {
    Q_OBJECT
public:
    // `print` prints the report (with its print dialog); `help` shows help.
    ReportPreview(const PreparedReport& report, std::function<void()> print, std::function<void()> help,
                  QWidget* parent = nullptr);

    PageView* view() const { return view_; }
    QAction* printAction() const { return print_; }

private:
    void updatePageLabel();

    PageView* view_ = nullptr;
    QLabel* pageLabel_ = nullptr;
    QAction* print_ = nullptr;
    int pages_ = 0;
};

}  // namespace report
