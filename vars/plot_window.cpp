#include "vars/plot_window.h"

#include "app/dialogs.h"
#include "app/handler.h"
#include "app/qt_text.h"
#include "common/codepage.h"
#include "common/numbers.h"
#include "common/output_file.h"
#include "vars/curve_renderer.h"

#include <QBuffer>
#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <qcustomplot.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <streambuf>
#include <unistd.h>

namespace quillon::vars {

namespace {

// Curves that stay apart on a white chart: twelve chosen colours, then hues
// spread by the golden angle. Always solid: a dashed line draws several
// times slower than a plain one.
QColor curveColor(size_t index)
{
    static const QColor colors[] = {QColor(31, 119, 180),  QColor(214, 39, 40),   QColor(44, 160, 44),
                                    QColor(255, 127, 14),  QColor(148, 103, 189), QColor(140, 86, 75),
                                    QColor(227, 119, 194), QColor(23, 190, 207),  QColor(188, 189, 34),
                                    QColor(127, 127, 127), QColor(0, 0, 128),     QColor(128, 0, 0)};
    constexpr size_t n = sizeof colors / sizeof colors[0];
    const QColor color = index < n ? colors[index]
                                   : QColor::fromHsv(static_cast<int>((index * 137) % 360), 200 + (index % 3) * 25,
                                                     150 + (index % 4) * 25);
    return color;
}

QIcon swatch(const QColor& color)
{
    QPixmap pm(14, 14);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.fillRect(1, 5, 12, 4, color);
    return QIcon(pm);
}

QString numberText(double v) { return QString::number(v, 'g', 10); }

} // namespace

PlotWindow::PlotWindow(Dialogs& dialogs, const vars::VarList& list, const vars::SampleStore& store, QWidget* parent)
    : QWidget(parent, Qt::Window), dialogs_(dialogs), list_(list), store_(store)
{
    setObjectName(QStringLiteral("frmPlot"));
    setWindowTitle(QStringLiteral("变量曲线"));
    resize(860, 520);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->addLayout(buildToolBar());
    layout->addWidget(buildChart(), 1);
    auto* foot = new QHBoxLayout;
    cursorTime_ = new QLabel;
    cursorTime_->setObjectName(QStringLiteral("lPlotCursor"));
    arrays_ = new QLabel;
    arrays_->setObjectName(QStringLiteral("lPlotArrays"));
    arrays_->setWordWrap(true);
    foot->addWidget(cursorTime_);
    foot->addWidget(arrays_, 1);
    layout->addLayout(foot);
    connectHandlers();
}

QHBoxLayout* PlotWindow::buildToolBar()
{
    span_ = new QComboBox;
    span_->setObjectName(QStringLiteral("cbPlotSpan"));
    span_->addItems(
        {QStringLiteral("10 秒"), QStringLiteral("60 秒"), QStringLiteral("10 分钟"), QStringLiteral("全部")});
    span_->setToolTip(QStringLiteral("显示最近多长时间的数据"));
    pause_ = new QPushButton(QStringLiteral("暂停"));
    pause_->setObjectName(QStringLiteral("btnPlotPause"));
    pause_->setCheckable(true);
    pause_->setToolTip(QStringLiteral("冻结画面，数据照常记录"));
    autoY_ = new QCheckBox(QStringLiteral("自动Y轴"));
    autoY_->setObjectName(QStringLiteral("cbPlotAutoY"));
    autoY_->setChecked(true);
    yMin_ = new QLineEdit(QStringLiteral("0"));
    yMin_->setObjectName(QStringLiteral("edPlotYMin"));
    yMax_ = new QLineEdit(QStringLiteral("100"));
    yMax_->setObjectName(QStringLiteral("edPlotYMax"));
    for (QLineEdit* e : {yMin_, yMax_}) {
        e->setFixedWidth(64);
        e->setEnabled(false);
    }
    auto* csv = csvButton_ = new QPushButton(QStringLiteral("导出CSV"));
    csv->setObjectName(QStringLiteral("btnPlotCsv"));
    csv->setToolTip(QStringLiteral("把记录的全部数据存为CSV文件"));
    auto* png = pngButton_ = new QPushButton(QStringLiteral("导出图片"));
    png->setObjectName(QStringLiteral("btnPlotPng"));
    png->setToolTip(QStringLiteral("把当前曲线图存为PNG图片"));

    auto* bar = new QHBoxLayout;
    auto* spanLabel = new QLabel(QStringLiteral("时间窗:"));
    spanLabel->setObjectName(QStringLiteral("lPlotSpan"));
    bar->addWidget(spanLabel);
    bar->addWidget(span_);
    bar->addWidget(pause_);
    bar->addSpacing(12);
    bar->addWidget(autoY_);
    bar->addWidget(yMin_);
    auto* to = new QLabel(QStringLiteral("~"));
    to->setObjectName(QStringLiteral("lPlotYTo"));
    bar->addWidget(to);
    bar->addWidget(yMax_);
    bar->addStretch(1);
    bar->addWidget(csv);
    bar->addWidget(png);
    return bar;
}

QWidget* PlotWindow::buildChart()
{
    plot_ = new QCustomPlot;
    plot_->setObjectName(QStringLiteral("plotVars"));
    plot_->setNotAntialiasedElements(QCP::aeAll);
    // The curves, drawn by the renderer, cover the axis rectangle.
    curvesImage_ = new QCPItemPixmap(plot_);
    curvesImage_->setObjectName(QStringLiteral("imgPlotCurves"));
    curvesImage_->topLeft->setType(QCPItemPosition::ptAxisRectRatio);
    curvesImage_->topLeft->setCoords(0, 0);
    curvesImage_->bottomRight->setType(QCPItemPosition::ptAxisRectRatio);
    curvesImage_->bottomRight->setCoords(1, 1);
    curvesImage_->setScaled(true, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    plot_->xAxis->setLabel(QStringLiteral("时间 (秒)"));
    plot_->yAxis->setLabel(QStringLiteral("变量值"));
    plot_->xAxis->setRange(0, kSpans[0]);
    cursorLine_ = new QCPItemStraightLine(plot_);
    cursorLine_->setPen(QPen(QColor(120, 120, 120), 0, Qt::DashLine));
    cursorLine_->setVisible(false);
    plot_->setMouseTracking(true);

    legend_ = new QListWidget;
    legend_->setObjectName(QStringLiteral("lwPlotLegend"));
    legend_->setFixedWidth(190);
    legend_->setToolTip(QStringLiteral("勾选显示曲线；鼠标在图上时显示该时刻的值"));
    chartArea_ = new QWidget;
    chartArea_->setObjectName(QStringLiteral("pnPlotChart"));
    auto* middle = new QHBoxLayout(chartArea_);
    middle->setContentsMargins(0, 0, 0, 0);
    middle->addWidget(plot_, 1);
    middle->addWidget(legend_);
    return chartArea_;
}

void PlotWindow::connectHandlers()
{
    renderer_ = std::make_unique<CurveRenderer>([this](QImage image, const CurveRenderer::Job& job) {
        QMetaObject::invokeMethod(
            this,
            [this, image = std::move(image), serial = job.serial, x0 = job.xLow, x1 = job.xHigh, y0 = job.yLow,
             y1 = job.yHigh] { curvesDrawn(image, serial, x0, x1, y0, y1); },
            Qt::QueuedConnection);
    });
    timer_ = new QTimer(this);
    timer_->setObjectName(QStringLiteral("tmPlotRedraw"));
    timer_->setInterval(kRedrawMs);
    connectHandler(timer_, &QTimer::timeout, this, &PlotWindow::redraw);
    connectHandler(pause_, &QPushButton::clicked, this, &PlotWindow::btnPlotPauseClick);
    connectHandler(csvButton_, &QPushButton::clicked, this, &PlotWindow::btnPlotCsvClick);
    connectHandler(pngButton_, &QPushButton::clicked, this, &PlotWindow::btnPlotPngClick);
    connectHandler(autoY_, &QCheckBox::clicked, this, &PlotWindow::cbPlotAutoYClick);
    connectHandler(yMin_, &QLineEdit::editingFinished, this, &PlotWindow::edPlotYExit);
    connectHandler(yMax_, &QLineEdit::editingFinished, this, &PlotWindow::edPlotYExit);
    connectHandler(span_, &QComboBox::currentIndexChanged, this, [this] {
        if (!paused()) redraw();
    });
    connectHandler(legend_, &QListWidget::itemChanged, this, [this](QListWidgetItem* item) { legendToggled(item); });
    connectHandler(plot_, &QCustomPlot::mouseMove, this, [this](QMouseEvent* e) { mouseMoved(e->pos().x()); });
}

PlotWindow::~PlotWindow()
{
    // Their reports back are dropped with this window.
    renderer_.reset();
    if (exportThread_.joinable()) exportThread_.join();
}

void PlotWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    redraw();
    timer_->start();
}

void PlotWindow::hideEvent(QHideEvent* event)
{
    // A closed window costs nothing; the store goes on recording.
    timer_->stop();
    QWidget::hideEvent(event);
}

bool PlotWindow::paused() const { return pause_->isChecked(); }

bool PlotWindow::followList()
{
    std::vector<std::pair<uint64_t, std::string>> rows;
    QStringList arrays;
    for (const vars::VarRow& r : list_.rows()) {
        if (!r.def.watched) continue;
        if (vars::sampleKindOf(r.def.type))
            rows.emplace_back(r.series, r.def.name);
        else
            arrays << fromStd(r.def.name);
    }
    arrays_->setText(arrays.isEmpty() ? QString()
                                      : QStringLiteral("数组变量不绘制曲线: ") + arrays.join(QStringLiteral(", ")));
    if (rows == shownRows_) return false;

    // A curve keeps its colour and its tick while its variable stays.
    std::vector<Curve> kept;
    for (Curve& c : curves_) {
        const bool stays = std::any_of(rows.begin(), rows.end(), [&](const auto& r) { return r.first == c.series; });
        if (stays) {
            kept.push_back(c);
        } else {
            delete c.entry;
        }
    }
    std::vector<Curve> curves;
    const QSignalBlocker block(legend_);
    for (size_t i = 0; i < rows.size(); ++i) {
        const auto& [series, name] = rows[i];
        auto it = std::find_if(kept.begin(), kept.end(), [&](const Curve& c) { return c.series == series; });
        Curve c;
        if (it != kept.end()) {
            c = *it;
        } else {
            c.series = series;
            c.color = curveColor(i);
            c.view = std::make_shared<vars::ColumnView>();
            c.entry = new QListWidgetItem(swatch(c.color), QString());
            c.entry->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
            c.entry->setCheckState(Qt::Checked);
        }
        c.name = fromStd(name);
        c.entry->setText(c.name);
        if (legend_->row(c.entry) >= 0) legend_->takeItem(legend_->row(c.entry));
        legend_->insertItem(static_cast<int>(i), c.entry);
        curves.push_back(c);
    }
    curves_ = std::move(curves);
    shownRows_ = std::move(rows);
    return true;
}

void PlotWindow::redraw()
{
    if (paused()) return;
    followList();
    const double span = kSpans[std::clamp(span_->currentIndex(), 0, 3)];
    const double last = store_.lastTime().value_or(0);
    double from = 0, to = 0;
    if (span > 0) {
        // Following: the newest sample at the right edge.
        to = std::max(last, span);
        from = to - span;
    } else {
        from = store_.firstTime().value_or(0);
        to = std::max(last, from + 1);
    }
    const int columns = std::max(1, plot_->axisRect()->width());
    // Fixed windows keep their column grid while they move; the whole
    // history changes it only when it has doubled.
    const double width = span > 0 ? span / columns : std::exp2(std::ceil(std::log2((to - from) / columns)));
    // About ten milliseconds of scanning per redraw, shared by the curves.
    const size_t budget = kScanBudget / std::max<size_t>(1, curves_.size());
    for (Curve& c : curves_) c.points = c.view->update(store_, c.series, from, to, width, budget);
    shownFrom_ = from;
    shownTo_ = to;
    shownLast_ = last;
    render();
    ++redraws_;
}

void PlotWindow::render()
{
    double low = 0, high = 0;
    if (autoY_->isChecked()) {
        bool any = false;
        for (const Curve& c : curves_) {
            if (!c.visible) continue;
            for (const auto& p : c.points) {
                if (p.time < shownFrom_) continue;
                if (!any) {
                    low = high = p.value;
                    any = true;
                }
                low = std::min(low, p.value);
                high = std::max(high, p.value);
            }
        }
        if (!any) {
            low = 0;
            high = 1;
        }
        const double margin = high > low ? (high - low) * 0.05 : std::max(1.0, std::abs(high) * 0.05);
        low -= margin;
        high += margin;
    } else {
        low = lastFixedLow_;
        high = lastFixedHigh_;
    }
    CurveRenderer::Job job;
    job.serial = ++submitted_;
    job.size = plot_->axisRect()->size();
    job.xLow = shownFrom_;
    job.xHigh = shownTo_;
    job.yLow = low;
    job.yHigh = high;
    for (const Curve& c : curves_)
        if (c.visible) job.lines.push_back({c.color, c.points});
    renderer_->submit(std::move(job));
    if (cursorAt_ >= 0) showValuesAt(cursorAt_);
}

void PlotWindow::curvesDrawn(const QImage& image, uint64_t serial, double x0, double x1, double y0, double y1)
{
    // The axes move with the picture drawn for them.
    plot_->xAxis->setRange(x0, x1);
    plot_->yAxis->setRange(y0, y1);
    curvesImage_->setPixmap(QPixmap::fromImage(image));
    plot_->replot();
    shownSerial_ = serial;
    ++frames_;
}

void PlotWindow::btnPlotPauseClick()
{
    pause_->setText(paused() ? QStringLiteral("继续") : QStringLiteral("暂停"));
    if (!paused()) redraw();
}

void PlotWindow::legendToggled(QListWidgetItem* item)
{
    for (Curve& c : curves_)
        if (c.entry == item) c.visible = item->checkState() == Qt::Checked;
    render();
}

void PlotWindow::mouseMoved(int x)
{
    const double t = plot_->xAxis->pixelToCoord(x);
    if (t < plot_->xAxis->range().lower || t > plot_->xAxis->range().upper) return;
    showValuesAt(t);
    plot_->replot(QCustomPlot::rpQueuedReplot);
}

void PlotWindow::showValuesAt(double time)
{
    cursorAt_ = time;
    cursorLine_->point1->setCoords(time, 0);
    cursorLine_->point2->setCoords(time, 1);
    cursorLine_->setVisible(true);
    cursorTime_->setText(QStringLiteral("时间: %1 秒").arg(time, 0, 'f', 3));
    const QSignalBlocker block(legend_);
    for (Curve& c : curves_) {
        // Paused, the readout stays with the curves: nothing newer than they show.
        const auto v = store_.valueAt(c.series, std::min(time, shownLast_));
        c.entry->setText(v ? c.name + QStringLiteral(" = ") + numberText(v->value) : c.name);
    }
}

bool PlotWindow::fixedRange(double& low, double& high) const
{
    const auto a = parseDecimal(toStd(yMin_->text()));
    const auto b = parseDecimal(toStd(yMax_->text()));
    if (!a || !b || !(*a < *b)) return false;
    low = static_cast<double>(*a);
    high = static_cast<double>(*b);
    return std::isfinite(low) && std::isfinite(high) && low < high;
}

void PlotWindow::cbPlotAutoYClick()
{
    yMin_->setEnabled(!autoY_->isChecked());
    yMax_->setEnabled(!autoY_->isChecked());
    if (!autoY_->isChecked()) edPlotYExit();
    render();
}

void PlotWindow::edPlotYExit()
{
    double low = 0, high = 0;
    if (!fixedRange(low, high)) {
        dialogs_.error(QStringLiteral("请正确填写Y轴范围(下限小于上限)!"));
        yMin_->setText(numberText(lastFixedLow_));
        yMax_->setText(numberText(lastFixedHigh_));
        return;
    }
    lastFixedLow_ = low;
    lastFixedHigh_ = high;
    if (!autoY_->isChecked()) render();
}

} // namespace quillon::vars
