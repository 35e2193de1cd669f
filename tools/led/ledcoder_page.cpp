#include "tools/led/ledcoder_page.h"

#include "app/page_host.h"

#include "ui_ledcoder_page.h"

namespace quillon {

LEDCoderPage::LEDCoderPage(PageHost& host, QWidget* parent) : QWidget(parent), host_(host), ui(std::make_unique<Ui::LEDCoderPage>())
{
    ui->setupUi(this);
}

LEDCoderPage::~LEDCoderPage() = default;

void LEDCoderPage::btnHelpClick() {}

void LEDCoderPage::loadPatterns(const SettingsFile&) {}

} // namespace quillon
