#include "tools/resistor/colorresister_page.h"

#include "app/page_host.h"

#include "ui_colorresister_page.h"

namespace quillon {

ColorResisterPage::ColorResisterPage(PageHost& host, QWidget* parent) : QWidget(parent), host_(host), ui(std::make_unique<Ui::ColorResisterPage>())
{
    ui->setupUi(this);
}

ColorResisterPage::~ColorResisterPage() = default;

void ColorResisterPage::initBands() {}

} // namespace quillon
