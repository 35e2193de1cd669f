#pragma once

#include <QWidget>
#include <memory>

namespace Ui {
class LEDCoderPage;
}

namespace quillon {

class PageHost;
class SettingsFile;
struct PortListing;

class LEDCoderPage : public QWidget {
    Q_OBJECT
public:
    explicit LEDCoderPage(PageHost& host, QWidget* parent = nullptr);
    ~LEDCoderPage() override;

    // Help text into the output memo (also run at start-up).
    void btnHelpClick();
    // Start-up: the patterns of the selected display type.
    void loadPatterns(const SettingsFile& settings);

private:
    PageHost& host_;
    std::unique_ptr<Ui::LEDCoderPage> ui;
};

} // namespace quillon
