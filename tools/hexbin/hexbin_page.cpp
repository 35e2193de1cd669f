#include "tools/hexbin/hexbin_page.h"

#include "app/page_host.h"

#include "ui_hexbin_page.h"

namespace quillon {

HexBinPage::HexBinPage(PageHost& host, QWidget* parent) : QWidget(parent), host_(host), ui(std::make_unique<Ui::HexBinPage>())
{
    ui->setupUi(this);
}

HexBinPage::~HexBinPage() = default;

} // namespace quillon
