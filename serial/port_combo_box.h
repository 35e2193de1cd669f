#pragma once
// The port drop-down: says when its list is about to open, so the list can
// be read afresh (adapters plugged in after start-up).

#include <QComboBox>

namespace quillon {

class PortComboBox : public QComboBox {
    Q_OBJECT
public:
    using QComboBox::QComboBox;
    void showPopup() override
    {
        emit popupAboutToShow();
        QComboBox::showPopup();
    }

signals:
    void popupAboutToShow();
};

} // namespace quillon
