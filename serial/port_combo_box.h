#pragma once
// The port drop-down: says when its list is about to open, so the list can
// be read afresh (adapters plugged in after start-up).

#include "app/qt_text.h"
#include "platform/port_list.h"

#include <QComboBox>
#include <string>
#include <vector>

namespace quillon::serial {

class PortComboBox : public QComboBox {
    Q_OBJECT
public:
    using QComboBox::QComboBox;
    void showPopup() override
    {
        emit popupAboutToShow();
        QComboBox::showPopup();
    }
    // Shows `names`, keeping the chosen port while it is still there.
    void refill(const std::vector<std::string>& names)
    {
        std::vector<std::string> shown;
        for (int i = 0; i < count(); ++i) shown.push_back(toStd(itemText(i)));
        if (shown == names) return;
        const int keep = platform::selectionAfterRefresh(names, toStd(currentText()));
        clear();
        for (const auto& name : names) addItem(fromStd(name));
        setCurrentIndex(keep);
    }

signals:
    void popupAboutToShow();
};

} // namespace quillon::serial
