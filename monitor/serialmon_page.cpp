#include "monitor/serialmon_page.h"

#include "app/page_host.h"
#include "app/qt_text.h"
#include "platform/device_map.h"
#include "ui_serialmon_page.h"

namespace quillon {

SerialMonPage::SerialMonPage(PageHost& host, QWidget* parent) : QWidget(parent), host_(host), ui(std::make_unique<Ui::SerialMonPage>())
{
    ui->setupUi(this);
}

SerialMonPage::~SerialMonPage() = default;

namespace {
void fillChecklist(QListWidget* list, const PortListing& listing)
{
    list->clear();
    for (const auto& line : listing.monitorLines) {
        auto* item = new QListWidgetItem(fromStd(line), list);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Unchecked);
    }
}
} // namespace

void SerialMonPage::fillSerialList(const PortListing& listing)
{
    fillChecklist(ui->clbSerialList, listing);
    serialTables_ = listing.tables;
}

void SerialMonPage::fillParallelList(const PortListing& listing)
{
    fillChecklist(ui->clbParallelList, listing);
    parallelTables_ = listing.tables;
}

} // namespace quillon
