#pragma once

#include <QWidget>
#include <memory>

namespace Ui {
class RTCalcPage;
}

namespace quillon {

class PageHost;
class SettingsFile;
struct PortListing;

class RTCalcPage : public QWidget {
    Q_OBJECT
public:
    explicit RTCalcPage(PageHost& host, QWidget* parent = nullptr);
    ~RTCalcPage() override;

    // Start-up: the grid's header row.
    void initGridHeaders();
    // Usage text into the output memo (also run at start-up).
    void btnRTHelpClick();

private:
    PageHost& host_;
    std::unique_ptr<Ui::RTCalcPage> ui;
};

} // namespace quillon
