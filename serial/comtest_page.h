#pragma once

#include <QWidget>
#include <memory>
#include "app/sessions.h"

namespace Ui {
class ComTestPage;
}

namespace quillon {

class PageHost;
class SettingsFile;
struct PortListing;

class ComTestPage : public QWidget,
                    public SerialSession {
    Q_OBJECT
public:
    explicit ComTestPage(PageHost& host, QWidget* parent = nullptr);
    ~ComTestPage() override;

    // Start-up: COMList from the serial listing, first entry selected.
    void fillPortList(const PortListing& listing);
    // Start-up: watched variables and the interactive command lists.
    void loadVariables(const SettingsFile& settings);
    void loadCommandLists(const SettingsFile& settings);
    // Frame timers and posted thread notifications.
    void Timer1Timer();
    void Timer2Timer();
    void handleCommEvent(QEvent* event);

    // SerialSession
    bool portOpen() const override;
    int receivedTotal() const override;
    int sentTotal() const override;
    std::string portName() const override;
    int baudRate() const override;
    bool logActive() const override;
    void closeLog() override;
    void closeForExit() override;

private:
    PageHost& host_;
    std::unique_ptr<Ui::ComTestPage> ui;
};

} // namespace quillon
