#include "app/status_bar.h"

#include <QHBoxLayout>

namespace quillon {

StatusBar::StatusBar(QWidget* parent) : QFrame(parent)
{
    static constexpr int widths[kPanels] = {190, 120, 120, 150, 120};
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 2, 0, 0);
    layout->setSpacing(2);
    for (int i = 0; i < kPanels; ++i) {
        auto* l = new QLabel(this);
        l->setObjectName(QStringLiteral("StatusBar1Panel%1").arg(i));
        l->setFrameShape(QFrame::Panel);
        l->setFrameShadow(QFrame::Sunken);
        l->setFixedWidth(widths[i] - 2);
        l->setIndent(2);
        if (i == 4) l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        layout->addWidget(l);
        panels_[static_cast<size_t>(i)] = l;
    }
    layout->addStretch(1);
}

void StatusBar::setPanelText(int panel, const QString& text) { panels_.at(static_cast<size_t>(panel))->setText(text); }

QString StatusBar::panelText(int panel) const { return panels_.at(static_cast<size_t>(panel))->text(); }

} // namespace quillon
