#pragma once

#include <QWidget>
#include <memory>

namespace Ui {
class ColorResisterPage;
}

namespace quillon {

class PageHost;
class SettingsFile;
struct PortListing;

class ColorResisterPage : public QWidget {
    Q_OBJECT
public:
    explicit ColorResisterPage(PageHost& host, QWidget* parent = nullptr);
    ~ColorResisterPage() override;

    // Start-up: bands 0, 1, 0, multiplier 1, tolerance ±5%; nothing is redrawn.
    void initBands();

private:
    PageHost& host_;
    std::unique_ptr<Ui::ColorResisterPage> ui;
};

} // namespace quillon
