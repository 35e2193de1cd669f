#pragma once

#include "tools/thermistor/rt_table.h"

#include <QWidget>
#include <memory>
#include <vector>

namespace Ui {
class RTCalcPage;
}

namespace quillon {
class PageHost;
}

namespace quillon::thermistor {

class RTCalcPage : public QWidget {
    Q_OBJECT
public:
    explicit RTCalcPage(PageHost& host, QWidget* parent = nullptr);
    ~RTCalcPage() override;

    // Start-up: the grid's header row.
    void initGridHeaders();
    // Usage text into the output memo (also run at start-up).
    void btnRTHelpClick();

    // Enter in the grid (the only key it acts on).
    void sgRTValKeyPress();
    void cbTIncClick();
    void btnRTFileClick();
    void btnRTSaveClick();
    void btnRTClearClick();
    void rbRTASMStyleClick();
    void rbRTCStyleClick();
    void btnRTCalcClick();
    void Button1Click();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Data rows of the grid, below the header.
    std::vector<thermistor::Row> gridRows() const;
    QString cellText(int row, int col) const;
    void setCellText(int row, int col, const QString& text);
    void appendRow();

    PageHost& host_;
    std::unique_ptr<Ui::RTCalcPage> ui;
};

} // namespace quillon::thermistor
