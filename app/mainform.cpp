#include "app/mainform.h"

#include "app/handler.h"
#include "app/qt_text.h"
#include "app/status_bar.h"
#include "app/status_panels.h"
#include "common/clock.h"
#include "common/settings_file.h"
#include "monitor/serialmon_page.h"
#include "platform/device_map.h"
#include "serial/comtest_page.h"
#include "serial/interactive_group.h"
#include "tools/hexbin/hexbin_page.h"
#include "tools/led/ledcoder_page.h"
#include "tools/resistor/colorresister_page.h"
#include "tools/thermistor/rtcalc_page.h"
#include "vars/var_group.h"
#include "vars/varform.h"

#include <QCloseEvent>
#include <QPushButton>
#include <QTabWidget>
#include <exception>

namespace quillon {

namespace {

const char* const kPageTitles[] = {
    "Quillon之---RT值计算",    "Quillon之---LED编码器",  "Quillon之---色环电阻识别",
    "Quillon之---HEX/BIN转换", "Quillon之---串口调试器", "Quillon之---串口监视器",
};

} // namespace

TfrmMain::TfrmMain(FrameOptions options, QWidget* parent)
    : QWidget(parent), settingsPath_(std::move(options.settingsPath)), dialogs_(options.dialogs),
      deviceMap_(options.deviceMap), capture_(options.capture)
{
    if (!dialogs_) {
        ownDialogs_ = std::make_unique<WidgetDialogs>(this);
        // The dialog made at start-up; without one, each edit makes its own.
        ownDialogs_->setVariableEditor([this](vars::VarDefinition& def) {
            if (variableDialog_) return variableDialog_->edit(def);
            vars::TfrmVar dialog(*dialogs_, this);
            return dialog.edit(def);
        });
        dialogs_ = ownDialogs_.get();
    }
    if (!deviceMap_) {
        ownDeviceMap_ = platform::makeSystemDeviceMap();
        deviceMap_ = ownDeviceMap_.get();
    }
    buildWindow();
    FormCreate();
}

TfrmMain::~TfrmMain()
{
    // Tearing the window down moves the focus around (a box losing focus runs
    // its check); no page handler may run against a half-destroyed window.
    for (QObject* child : findChildren<QObject*>()) child->blockSignals(true);
    setExceptionHandler({});
}

void TfrmMain::buildWindow()
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("Quillon"));
    setFixedSize(793, 524);
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    move(115, 104);

    pcToolSet = new QTabWidget(this);
    pcToolSet->setObjectName(QStringLiteral("pcToolSet"));
    pcToolSet->setGeometry(0, 0, 793, 497);

    rtCalc_ = new thermistor::RTCalcPage(*this);
    ledCoder_ = new led::LEDCoderPage(*this);
    colorResister_ = new resistor::ColorResisterPage(*this);
    hexBin_ = new hexbin::HexBinPage(*this);
    comTest_ = new serial::ComTestPage(*this);
    serialMon_ = new monitor::SerialMonPage(*this, capture_);
    serial_ = &comTest_->session();
    settingsLoaders_ = {ledCoder_, comTest_->varGroup(), comTest_->interactiveGroup()};
    timerClients_ = {comTest_, serialMon_};
    monitor_ = &serialMon_->session();

    pcToolSet->addTab(rtCalc_, QStringLiteral("RT值计算"));
    pcToolSet->addTab(ledCoder_, QStringLiteral("LED 编码"));
    pcToolSet->addTab(colorResister_, QStringLiteral("色环电阻"));
    pcToolSet->addTab(hexBin_, QStringLiteral("HEX/BIN"));
    pcToolSet->addTab(comTest_, QStringLiteral("串口调试"));
    pcToolSet->addTab(serialMon_, QStringLiteral("串口监视"));
    pcToolSet->setCurrentIndex(COMTestIndex);

    StatusBar1 = new StatusBar(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setGeometry(0, 499, 705, 24);
    StatusBar1->setPanelText(PanelTitle, QStringLiteral("Quillon之---串口调试"));
    StatusBar1->setPanelText(PanelReceived, receivedPanelText(0));
    StatusBar1->setPanelText(PanelSent, sentPanelText(0));
    StatusBar1->setPanelText(PanelPort, portClosedText());

    btnExit = new QPushButton(QStringLiteral("E&xit"), this);
    btnExit->setObjectName(QStringLiteral("btnExit"));
    btnExit->setGeometry(720, 500, 57, 22);

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(500);

    connectHandler(btnExit, &QPushButton::clicked, this, &TfrmMain::btnExitClick);
    connectHandler(Timer1, &QTimer::timeout, this, &TfrmMain::Timer1Timer);
    connectHandler(pcToolSet, &QTabWidget::currentChanged, this, [this](int index) { showPage(index); });
}

void TfrmMain::FormCreate()
{
    // Monitor records use the NT layout on this platform.
    NtPlatform = true;
    setExceptionHandler([this] { AppExceptionHandler(); });
    try {
        StatusBar1->setPanelText(PanelClock, fromStd(nowText()));
        Timer1->start();
        rtCalc_->initGridHeaders();
        // Both help texts are in their memos before the user first looks.
        ledCoder_->btnHelpClick();
        rtCalc_->btnRTHelpClick();
        colorResister_->initBands();
        comTest_->setPortSource(deviceMap_);
        // One enumeration feeds both serial lists, so they name the same ports.
        if (auto serial = deviceMap_->serialPorts()) {
            platform::PortListing listing = platform::buildSerialListing(*serial);
            comTest_->fillPortList(listing);
            serialMon_->fillSerialList(listing);
        }
        if (auto parallel = deviceMap_->parallelPorts())
            serialMon_->fillParallelList(platform::buildParallelListing(*parallel));
        {
            // One read of the file for every list kept in it.
            SettingsFile settings(settingsPath_);
            for (SettingsLoader* loader : settingsLoaders_) loader->loadSettings(settings);
        }
        // The variable dialog's drop-down lists take these names, in this order.
        FormatNameList.clear();
        for (const auto& name : vars::FormatNameList()) FormatNameList.push_back(fromStd(name));
        TypeNameList.clear();
        for (const auto& name : vars::TypeNameList()) TypeNameList.push_back(fromStd(name));
    } catch (...) {
        // Start-up stops at the failing step; the window opens with what was done.
        AppExceptionHandler();
    }
}

void TfrmMain::setVariableDialog(vars::TfrmVar* dialog) { variableDialog_ = dialog; }

void TfrmMain::setStatusText(int panel, const QString& text) { StatusBar1->setPanelText(panel, text); }

QString TfrmMain::statusText(int panel) const { return StatusBar1->panelText(panel); }

void TfrmMain::repaintStatus() { StatusBar1->repaint(); }

void TfrmMain::blankCounterPanels()
{
    for (int i = PanelReceived; i <= PanelPort; ++i) StatusBar1->setPanelText(i, QStringLiteral(" "));
}

void TfrmMain::showConnectionState()
{
    if (serial_ && serial_->portOpen()) {
        StatusBar1->setPanelText(PanelReceived, receivedPanelText(serial_->receivedTotal()));
        StatusBar1->setPanelText(PanelSent, sentPanelText(serial_->sentTotal()));
        StatusBar1->setPanelText(PanelPort, portStateText(pathFromLocal(serial_->portName()), serial_->baudRate()));
    } else {
        StatusBar1->setPanelText(PanelReceived, receivedPanelText(0));
        StatusBar1->setPanelText(PanelSent, sentPanelText(0));
        StatusBar1->setPanelText(PanelPort, portClosedText());
    }
}

void TfrmMain::showPage(int index)
{
    switch (index) {
    case RTCalcIndex: RTCalcShow(); break;
    case LEDCoderIndex: LEDCoderShow(); break;
    case ColorResisterIndex: ColorResisterShow(); break;
    case HexBinIndex: tsHexBinShow(); break;
    case COMTestIndex: tsCOMTestShow(); break;
    case SerialMonIndex: tsSerialMonShow(); break;
    default: break;
    }
}

void TfrmMain::writePagePanels(int index, bool serialPage)
{
    StatusBar1->setPanelText(PanelTitle, QString::fromUtf8(kPageTitles[index]));
    if (serialPage)
        showConnectionState();
    else
        blankCounterPanels();
    repaintStatus();
}

void TfrmMain::RTCalcShow() { writePagePanels(RTCalcIndex, false); }

void TfrmMain::LEDCoderShow() { writePagePanels(LEDCoderIndex, false); }

void TfrmMain::ColorResisterShow() { writePagePanels(ColorResisterIndex, false); }

void TfrmMain::tsHexBinShow() { writePagePanels(HexBinIndex, false); }

void TfrmMain::tsCOMTestShow() { writePagePanels(COMTestIndex, true); }

void TfrmMain::tsSerialMonShow() { writePagePanels(SerialMonIndex, true); }

void TfrmMain::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!shownOnce_) {
        shownOnce_ = true;
        runGuarded([this] { showPage(pcToolSet->currentIndex()); });
    }
}

void TfrmMain::Timer1Timer()
{
    StatusBar1->setPanelText(PanelClock, fromStd(nowText()));
    for (TimerClient* client : timerClients_) client->timer1Tick();
}

void TfrmMain::btnExitClick() { close(); }

vars::VarGroup* TfrmMain::varGroup() const { return comTest_->varGroup(); }

bool TfrmMain::FormCloseQuery()
{
    if (monitor_ && monitor_->driverLoaded()) monitor_->unloadDriver();
    if (serial_ && serial_->logActive()) serial_->closeLog();
    if (!serial_ || !serial_->portOpen()) return true;
    if (!dialogs_->confirm(QStringLiteral("Confirm"), QStringLiteral("串口已打开，要退出吗？"), MsgIcon::Question))
        return false;
    serial_->closeForExit();
    return true;
}

void TfrmMain::closeEvent(QCloseEvent* event)
{
    bool allow = true;
    try {
        allow = FormCloseQuery();
    } catch (...) {
        AppExceptionHandler();
        allow = false;
    }
    if (allow) {
        Timer1->stop();
        for (TimerClient* client : timerClients_) client->stopTimers();
        event->accept();
    } else {
        event->ignore();
    }
}

void TfrmMain::AppExceptionHandler()
{
    dialogs_->message(QStringLiteral("错误"), QStringLiteral("程序产生异常！请检查输入数据的合理性！"), MsgIcon::Error);
}

} // namespace quillon
