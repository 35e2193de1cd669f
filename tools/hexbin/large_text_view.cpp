#include "tools/hexbin/large_text_view.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>

namespace quillon::hexbin {

LargeTextView::LargeTextView(QWidget* parent) : QAbstractScrollArea(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    starts_.push_back(0);
}

void LargeTextView::setPlainText(const QString& text)
{
    text_ = text;
    starts_.clear();
    starts_.push_back(0);
    const QChar* p = text_.constData();
    const int n = static_cast<int>(text_.size());
    for (int i = 0; i < n; ++i)
        if (p[i] == QLatin1Char('\n')) starts_.push_back(i + 1);
    allSelected_ = false;
    verticalScrollBar()->setValue(0);
    horizontalScrollBar()->setValue(0);
    updateScrollBars();
    viewport()->update();
}

QString LargeTextView::line(int i) const
{
    if (i < 0 || i >= lineCount()) return {};
    const int start = starts_[static_cast<std::size_t>(i)];
    const int end = i + 1 < lineCount() ? starts_[static_cast<std::size_t>(i) + 1] - 1 : static_cast<int>(text_.size());
    return text_.mid(start, end - start);
}

void LargeTextView::selectAll()
{
    allSelected_ = true;
    viewport()->update();
}

void LargeTextView::clearSelection()
{
    allSelected_ = false;
    viewport()->update();
}

void LargeTextView::copy() const
{
    if (hasSelection()) QGuiApplication::clipboard()->setText(text_);
}

int LargeTextView::lineHeight() const { return fontMetrics().lineSpacing(); }

int LargeTextView::tabWidth() const { return 8 * fontMetrics().horizontalAdvance(QLatin1Char('x')); }

// Tabs advance to the next multiple of the tab width, like a memo's.
int LargeTextView::lineWidth(const QString& text) const
{
    const QFontMetrics fm = fontMetrics();
    const int tab = tabWidth();
    const QStringList parts = text.split(QLatin1Char('\t'));
    int x = 0;
    for (int i = 0; i < parts.size(); ++i) {
        if (i > 0) x = (x / tab + 1) * tab;
        x += fm.horizontalAdvance(parts[i]);
    }
    return x;
}

void LargeTextView::updateScrollBars()
{
    const int visible = std::max(1, viewport()->height() / lineHeight());
    verticalScrollBar()->setRange(0, std::max(0, lineCount() - visible));
    verticalScrollBar()->setPageStep(visible);
    verticalScrollBar()->setSingleStep(1);
    // The listings have lines all alike: the first ones and the last ones
    // (the widest index) give the width.
    int widest = 0;
    for (int i = 0; i < std::min(lineCount(), 200); ++i) widest = std::max(widest, lineWidth(line(i)));
    for (int i = std::max(0, lineCount() - 4); i < lineCount(); ++i) widest = std::max(widest, lineWidth(line(i)));
    horizontalScrollBar()->setRange(0, std::max(0, widest + 8 - viewport()->width()));
    horizontalScrollBar()->setPageStep(viewport()->width());
    horizontalScrollBar()->setSingleStep(fontMetrics().horizontalAdvance(QLatin1Char('x')));
}

void LargeTextView::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    updateScrollBars();
}

void LargeTextView::paintEvent(QPaintEvent*)
{
    QPainter painter(viewport());
    const QFontMetrics fm = fontMetrics();
    const int h = lineHeight();
    const int first = verticalScrollBar()->value();
    const int rows = viewport()->height() / h + 1;
    const int left = 4 - horizontalScrollBar()->value();
    const int tab = tabWidth();
    const bool selected = hasSelection();
    const QPalette& pal = palette();
    painter.setPen(selected ? pal.highlightedText().color() : pal.text().color());
    for (int r = 0; r < rows && first + r < lineCount(); ++r) {
        const int y = r * h;
        if (selected) painter.fillRect(QRect(0, y, viewport()->width(), h), pal.highlight());
        const QStringList parts = line(first + r).split(QLatin1Char('\t'));
        int x = 0;
        for (int i = 0; i < parts.size(); ++i) {
            if (i > 0) x = (x / tab + 1) * tab;
            painter.drawText(left + x, y + fm.ascent(), parts[i]);
            x += fm.horizontalAdvance(parts[i]);
        }
    }
}

void LargeTextView::keyPressEvent(QKeyEvent* event)
{
    if (event->matches(QKeySequence::SelectAll)) {
        selectAll();
        return;
    }
    if (event->matches(QKeySequence::Copy)) {
        copy();
        return;
    }
    QScrollBar* v = verticalScrollBar();
    switch (event->key()) {
    case Qt::Key_Up: v->triggerAction(QAbstractSlider::SliderSingleStepSub); break;
    case Qt::Key_Down: v->triggerAction(QAbstractSlider::SliderSingleStepAdd); break;
    case Qt::Key_PageUp: v->triggerAction(QAbstractSlider::SliderPageStepSub); break;
    case Qt::Key_PageDown: v->triggerAction(QAbstractSlider::SliderPageStepAdd); break;
    case Qt::Key_Home: v->triggerAction(QAbstractSlider::SliderToMinimum); break;
    case Qt::Key_End: v->triggerAction(QAbstractSlider::SliderToMaximum); break;
    default: QAbstractScrollArea::keyPressEvent(event); return;
    }
}

void LargeTextView::mousePressEvent(QMouseEvent* event)
{
    clearSelection();
    QAbstractScrollArea::mousePressEvent(event);
}

} // namespace quillon::hexbin
