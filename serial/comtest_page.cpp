#include "serial/comtest_page.h"

#include "app/page_host.h"
#include "platform/device_map.h"
#include "ui_comtest_page.h"

namespace quillon {

ComTestPage::ComTestPage(PageHost& host, QWidget* parent) : QWidget(parent), host_(host), ui(std::make_unique<Ui::ComTestPage>())
{
    ui->setupUi(this);
}

ComTestPage::~ComTestPage() = default;

void ComTestPage::fillPortList(const PortListing& listing)
{
    ui->COMList->clear();
    for (const auto& name : listing.comList) ui->COMList->addItem(QString::fromStdString(name));
    ui->COMList->setCurrentIndex(listing.comList.empty() ? -1 : 0);
}

void ComTestPage::loadVariables(const SettingsFile&) {}

void ComTestPage::loadCommandLists(const SettingsFile&) {}

void ComTestPage::Timer1Timer() {}

void ComTestPage::Timer2Timer() {}

void ComTestPage::handleCommEvent(QEvent*) {}

bool ComTestPage::portOpen() const { return false; }

int ComTestPage::receivedTotal() const { return 0; }

int ComTestPage::sentTotal() const { return 0; }

std::string ComTestPage::portName() const { return {}; }

int ComTestPage::baudRate() const { return 0; }

bool ComTestPage::logActive() const { return false; }

void ComTestPage::closeLog() {}

void ComTestPage::closeForExit() {}

} // namespace quillon
