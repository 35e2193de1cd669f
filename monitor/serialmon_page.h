#pragma once

#include <QWidget>
#include <memory>

#include "platform/device_map.h"
#include "app/sessions.h"

namespace Ui {
class SerialMonPage;
}

namespace quillon {

class PageHost;
class SettingsFile;

class SerialMonPage : public QWidget,
                      public MonitorSession {
    Q_OBJECT
public:
    explicit SerialMonPage(PageHost& host, QWidget* parent = nullptr);
    ~SerialMonPage() override;

    // Start-up: the monitor's port lists and the name tables behind them.
    void fillSerialList(const PortListing& listing);
    void fillParallelList(const PortListing& listing);

    // MonitorSession
    bool driverLoaded() const override;
    void unloadDriver() override;

private:
    PageHost& host_;
    std::unique_ptr<Ui::SerialMonPage> ui;
    PortTables serialTables_;
    PortTables parallelTables_;

public:
    const PortTables& serialTables() const { return serialTables_; }
    const PortTables& parallelTables() const { return parallelTables_; }
};

} // namespace quillon
