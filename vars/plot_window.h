#pragma once
// "变量曲线": the watched numeric variables as curves over time, drawn from
// the session's sample store on a timer (never per received chunk), each
// curve decimated to its lowest and highest value per pixel column. A list
// beside the chart is the legend: its boxes show or hide a curve and its
// entries give every curve's value at the mouse position.

#include "vars/sample_store.h"
#include "vars/var_list.h"

#include <QWidget>
#include <memory>
#include <thread>
#include <vector>

class QCheckBox;
class QComboBox;
class QCPGraph;
class QCPItemStraightLine;
class QCustomPlot;
class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QPushButton;
class QTimer;

namespace quillon {

class Dialogs;

class PlotWindow : public QWidget {
    Q_OBJECT
public:
    // The time windows of cbPlotSpan, in its order; 0 is everything held.
    static constexpr double kSpans[] = {10, 60, 600, 0};
    static constexpr int kRedrawMs = 80;

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
    // Redraws done so far, for the benchmark.
    long redraws() const { return redraws_; }
    bool paused() const;
    // The curves as they are drawn: one per watched numeric variable.
    int curveCount() const { return static_cast<int>(curves_.size()); }
    QCustomPlot* chart() const { return plot_; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    struct Curve {
        uint64_t series;
        QString name;
        QCPGraph* graph;
        QListWidgetItem* entry;
        std::shared_ptr<vars::ColumnView> view;
    };
    // Curves for the watched numeric rows as they are now; true when they changed.
    bool followList();
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
    QTimer* timer_;
    QPushButton* csvButton_;
    std::thread exportThread_;
    std::vector<Curve> curves_;
    // What the curves were made from: series and names of the rows.
    std::vector<std::pair<uint64_t, std::string>> shownRows_;
    double lastFixedLow_ = 0;
    double lastFixedHigh_ = 100;
    double cursorAt_ = -1; // the time under the mouse, < 0 when none
    long redraws_ = 0;
};

} // namespace quillon
