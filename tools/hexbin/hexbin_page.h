#pragma once

#include <QWidget>
#include <memory>

namespace Ui {
class HexBinPage;
}

namespace quillon {

class PageHost;
class SettingsFile;
struct PortListing;

class HexBinPage : public QWidget {
    Q_OBJECT
public:
    explicit HexBinPage(PageHost& host, QWidget* parent = nullptr);
    ~HexBinPage() override;

private:
    PageHost& host_;
    std::unique_ptr<Ui::HexBinPage> ui;
};

} // namespace quillon
