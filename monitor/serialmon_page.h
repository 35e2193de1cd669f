#pragma once
// The port monitor page: the serial and parallel ports that can be watched.

#include "platform/device_map.h"

#include <QWidget>
#include <memory>

namespace Ui {
class SerialMonPage;
}

namespace quillon {

class PageHost;

class SerialMonPage : public QWidget {
    Q_OBJECT
public:
    explicit SerialMonPage(PageHost& host, QWidget* parent = nullptr);
    ~SerialMonPage() override;

    // Start-up: the monitor's port lists and the name tables behind them.
    void fillSerialList(const PortListing& listing);
    void fillParallelList(const PortListing& listing);

    const PortTables& serialTables() const { return serialTables_; }
    const PortTables& parallelTables() const { return parallelTables_; }

private:
    PageHost& host_;
    std::unique_ptr<Ui::SerialMonPage> ui;
    PortTables serialTables_;
    PortTables parallelTables_;
};

} // namespace quillon
