#pragma once
// "变量曲线": the watched numeric variables as curves over time, taken from
// the session's sample store on a timer (never per received chunk), each
// curve decimated to its lowest and highest value per pixel column. The
// chart (QCustomPlot) lays out the axes; the curves are drawn into a picture
// on a thread of their own, so even fifty noisy curves cost the window's
// thread, and the reader waiting on it, next to nothing. A list beside the
// chart is the legend: its boxes show or hide a curve and its entries give
// every curve's value at the mouse position.

#include "vars/sample_store.h"
#include "vars/var_list.h"

#include <QColor>
#include <QWidget>
#include <memory>
#include <thread>
#include <vector>

class QCheckBox;
class QHBoxLayout;
class QComboBox;
class QCPItemPixmap;
class QCPItemStraightLine;
class QCustomPlot;
class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QPushButton;
class QTimer;
class QImage;

namespace quillon {
class Dialogs;
}

namespace quillon::vars {

class CurveRenderer;

class PlotWindow : public QWidget {
    Q_OBJECT
public:
    // The time windows of cbPlotSpan, in its order; 0 is everything held.
    static constexpr double kSpans[] = {10, 60, 600, 0};
    static constexpr int kRedrawMs = 80;
    // Samples a redraw may scan for columns it has not seen yet.
    static constexpr size_t kScanBudget = 1'000'000;

    PlotWindow(Dialogs& dialogs, const vars::VarList& list, const vars::SampleStore& store, QWidget* parent = nullptr);
    ~PlotWindow() override;

    // Takes the store's news onto the chart (the timer's work).
    void redraw();
    void btnPlotPauseClick();
    void btnPlotCsvClick();
    void btnPlotPngClick();
    void cbPlotAutoYClick();
    void edPlotYExit();
    // The readout for the time under the mouse.
    void showValuesAt(double time);

    // A CSV file is being written.
    bool exporting() const { return exportThread_.joinable(); }
    // Redraws done so far, and pictures of them put on screen.
    long redraws() const { return redraws_; }
    long framesShown() const { return frames_; }
    // The last picture asked for is on screen.
    bool upToDate() const { return shownSerial_ == submitted_; }
    bool paused() const;
    // The curves as they are drawn: one per watched numeric variable.
    int curveCount() const { return static_cast<int>(curves_.size()); }
    // What the last redraw took from the store for curve `i`, and whether it is drawn.
    const std::vector<vars::SamplePoint>& shownPoints(int i) const { return curves_.at(static_cast<size_t>(i)).points; }
    bool curveShown(int i) const { return curves_.at(static_cast<size_t>(i)).visible; }
    QCustomPlot* chart() const { return plot_; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    struct Curve {
        uint64_t series;
        QString name;
        QColor color;
        QListWidgetItem* entry;
        std::shared_ptr<vars::ColumnView> view;
        std::vector<vars::SamplePoint> points;
        bool visible = true;
    };
    QHBoxLayout* buildToolBar();
    QWidget* buildChart();
    void connectHandlers();
    // Curves for the watched numeric rows as they are now; true when they changed.
    bool followList();
    // Has the curves drawn as they are, for the window last taken.
    void render();
    void curvesDrawn(const QImage& image, uint64_t serial, double x0, double x1, double y0, double y1);
    void legendToggled(QListWidgetItem* item);
    void mouseMoved(int x);
    void csvExported(bool ok);
    bool fixedRange(double& low, double& high) const;

    Dialogs& dialogs_;
    const vars::VarList& list_;
    const vars::SampleStore& store_;
    QCustomPlot* plot_;
    QWidget* chartArea_; // the chart and its legend, as a picture exports them
    QListWidget* legend_;
    QComboBox* span_;
    QPushButton* pause_;
    QCheckBox* autoY_;
    QLineEdit* yMin_;
    QLineEdit* yMax_;
    QLabel* arrays_;
    QLabel* cursorTime_;
    QCPItemStraightLine* cursorLine_ = nullptr;
    QCPItemPixmap* curvesImage_ = nullptr;
    std::unique_ptr<CurveRenderer> renderer_;
    QTimer* timer_;
    QPushButton* csvButton_;
    QPushButton* pngButton_;
    std::thread exportThread_;
    std::vector<Curve> curves_;
    // What the curves were made from: series and names of the rows.
    std::vector<std::pair<uint64_t, std::string>> shownRows_;
    double lastFixedLow_ = 0;
    double lastFixedHigh_ = 100;
    double cursorAt_ = -1; // the time under the mouse, < 0 when none
    long redraws_ = 0;
    long frames_ = 0;
    uint64_t submitted_ = 0;
    uint64_t shownSerial_ = 0;
    double shownFrom_ = 0;
    double shownTo_ = kSpans[0];
    double shownLast_ = 0; // the newest sample time the curves show
};

} // namespace quillon::vars
