#pragma once

#include <QFrame>
#include <QLabel>
#include <array>

namespace quillon {

// Five fixed-width text panels; panel 4 (the clock) is right-aligned.
class StatusBar : public QFrame {
    Q_OBJECT
public:
    static constexpr int kPanels = 5;
    explicit StatusBar(QWidget* parent = nullptr);
    void setPanelText(int panel, const QString& text);
    QString panelText(int panel) const;
    QLabel* panel(int i) const { return panels_.at(static_cast<size_t>(i)); }

private:
    std::array<QLabel*, kPanels> panels_{};
};

} // namespace quillon
