#include "tools/thermistor/rtcalc_page.h"

#include "app/page_host.h"

#include "ui_rtcalc_page.h"

namespace quillon {

RTCalcPage::RTCalcPage(PageHost& host, QWidget* parent) : QWidget(parent), host_(host), ui(std::make_unique<Ui::RTCalcPage>())
{
    ui->setupUi(this);
}

RTCalcPage::~RTCalcPage() = default;

void RTCalcPage::initGridHeaders() {}

void RTCalcPage::btnRTHelpClick() {}

} // namespace quillon
