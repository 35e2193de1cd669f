#pragma once

#include "app/sessions.h"
#include "tools/led/led_codes.h"
#include "tools/led/pattern_list.h"

#include <QWidget>
#include <memory>
#include <vector>

class QLabel;
class QLineEdit;

namespace Ui {
class LEDCoderPage;
}

namespace quillon {
class PageHost;
}

namespace quillon::led {

class LEDCoderPage : public QWidget, public SettingsLoader {
    Q_OBJECT
public:
    explicit LEDCoderPage(PageHost& host, QWidget* parent = nullptr);
    ~LEDCoderPage() override;

    // Help text into the output memo (also run at start-up).
    void btnHelpClick();
    // Start-up: the patterns of the selected display type.
    void loadSettings(const SettingsFile& settings) override { loadPatterns(settings); }
    void loadPatterns(const SettingsFile& settings);

    void btnEncodeClick();
    void btnCopyToClick();
    void rbLED7Click();
    void rbLED14Click();
    void rbLED16Click();
    void rbCClick();
    void rbASMClick();
    void btnLEDSaveClick();
    void btnLEDDeleteClick();
    void vlLEDPatternsDblClick();
    // Every segment box selects its whole text when clicked; the first
    // 16-segment box also when it receives the focus.
    void edLEDClick(QLineEdit* box);
    void edLED16A1Enter();

    led::LedType selectedType() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The boxes of a type in computation order (A first).
    const std::vector<QLineEdit*>& boxesOf(led::LedType type) const;
    QLabel* bitLabelOf(led::LedType type) const;
    void switchType(led::LedType type);
    // The assembler-only options: data directive and hex marker.
    void setAssemblerOptionsEnabled(bool enabled);
    void reloadPatterns();
    void alignBoxesToLabels();
    std::vector<std::string> boxTexts(led::LedType type) const;
    void appendPatternRow(const led::PatternList::Entry& entry);

    PageHost& host_;
    std::unique_ptr<Ui::LEDCoderPage> ui;
    std::vector<QLineEdit*> boxes7_, boxes14_, boxes16_;
    led::PatternList patterns_;
};

} // namespace quillon::led
