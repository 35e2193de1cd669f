#pragma once
// The main window: six tool pages, the status bar, the two timers, the
// start-up sequence and the orderly shut-down.

#include "app/dialogs.h"
#include "app/page_host.h"
#include "app/sessions.h"

#include <QTimer>
#include <QWidget>
#include <memory>
#include <string>
#include <vector>

class QTabWidget;
class QPushButton;

namespace quillon::platform {
class DeviceMap;
} // namespace quillon::platform

namespace quillon::serial {
class ComTestPage;
}
namespace quillon::thermistor {
class RTCalcPage;
}
namespace quillon::led {
class LEDCoderPage;
}
namespace quillon::resistor {
class ColorResisterPage;
}
namespace quillon::hexbin {
class HexBinPage;
}
namespace quillon::vars {
class TfrmVar;
class VarGroup;
} // namespace quillon::vars
namespace quillon::monitor {
class CaptureService;
class SerialMonPage;
} // namespace quillon::monitor

namespace quillon {

class StatusBar;

struct FrameOptions {
    std::string settingsPath;                   // the INI file
    Dialogs* dialogs = nullptr;                 // null: real message boxes and file dialogs
    platform::DeviceMap* deviceMap = nullptr;   // null: the system's ports
    monitor::CaptureService* capture = nullptr; // null: the system's port-capture component
};

class TfrmMain : public QWidget, public PageHost {
    Q_OBJECT
public:
    explicit TfrmMain(FrameOptions options, QWidget* parent = nullptr);
    ~TfrmMain() override;

    // Page indices of pcToolSet, in tab order.
    enum Page { RTCalcIndex, LEDCoderIndex, ColorResisterIndex, HexBinIndex, COMTestIndex, SerialMonIndex };

    // PageHost
    void setStatusText(int panel, const QString& text) override;
    QString statusText(int panel) const override;
    void repaintStatus() override;
    Dialogs& dialogs() override { return *dialogs_; }
    std::string settingsPath() const override { return settingsPath_; }

    // Handlers.
    void FormCreate();
    bool FormCloseQuery();
    void btnExitClick();
    void Timer1Timer();
    void AppExceptionHandler();
    void RTCalcShow();
    void LEDCoderShow();
    void ColorResisterShow();
    void tsHexBinShow();
    void tsCOMTestShow();
    void tsSerialMonShow();

    bool ntPlatform() const { return NtPlatform; }
    const std::vector<QString>& formatNameList() const { return FormatNameList; }
    const std::vector<QString>& typeNameList() const { return TypeNameList; }

    // The variable dialog made at start-up, used for every variable edit.
    void setVariableDialog(vars::TfrmVar* dialog);

    // Tests stand in for the serial connection and the monitor here.
    void setSerialSession(SerialSessionControl* s) { serial_ = s; }
    void setMonitorSession(MonitorSessionControl* m) { monitor_ = m; }

    thermistor::RTCalcPage* rtCalcPage() const { return rtCalc_; }
    led::LEDCoderPage* ledCoderPage() const { return ledCoder_; }
    resistor::ColorResisterPage* colorResisterPage() const { return colorResister_; }
    hexbin::HexBinPage* hexBinPage() const { return hexBin_; }
    serial::ComTestPage* comTestPage() const { return comTest_; }
    monitor::SerialMonPage* serialMonPage() const { return serialMon_; }
    vars::VarGroup* varGroup() const;

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void buildWindow();
    void showPage(int index);
    void blankCounterPanels();
    void showConnectionState();
    void writePagePanels(int index, bool serialPage);

    std::string settingsPath_;
    std::unique_ptr<WidgetDialogs> ownDialogs_;
    vars::TfrmVar* variableDialog_ = nullptr;
    Dialogs* dialogs_;
    std::unique_ptr<platform::DeviceMap> ownDeviceMap_;
    platform::DeviceMap* deviceMap_;
    monitor::CaptureService* capture_;

    QTabWidget* pcToolSet = nullptr;
    StatusBar* StatusBar1 = nullptr;
    QPushButton* btnExit = nullptr;
    QTimer* Timer1 = nullptr;

    thermistor::RTCalcPage* rtCalc_ = nullptr;
    led::LEDCoderPage* ledCoder_ = nullptr;
    resistor::ColorResisterPage* colorResister_ = nullptr;
    hexbin::HexBinPage* hexBin_ = nullptr;
    serial::ComTestPage* comTest_ = nullptr;
    monitor::SerialMonPage* serialMon_ = nullptr;
    SerialSessionControl* serial_ = nullptr;
    // None until the port monitor can be loaded.
    MonitorSessionControl* monitor_ = nullptr;
    // Start-up loads their lists, in this order.
    std::vector<SettingsLoader*> settingsLoaders_;
    std::vector<TimerClient*> timerClients_;

    bool NtPlatform = true;
    std::vector<QString> FormatNameList;
    std::vector<QString> TypeNameList;
    bool shownOnce_ = false;
};

} // namespace quillon
