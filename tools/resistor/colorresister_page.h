#pragma once

#include "tools/resistor/color_bands.h"

#include <QWidget>
#include <memory>

class QLabel;

namespace Ui {
class ColorResisterPage;
}

namespace quillon {
class PageHost;
}

namespace quillon::resistor {

class ColorResisterPage : public QWidget {
    Q_OBJECT
public:
    explicit ColorResisterPage(PageHost& host, QWidget* parent = nullptr);
    ~ColorResisterPage() override;

    // Start-up: bands 0, 1, 0, multiplier 1, tolerance ±5%; nothing is redrawn.
    void initBands();

    // Every palette button lands here with its column and colour.
    void colorButtonClick(const resistor::PaletteButton& button);
    void rb4ColorClick();
    void rb5ColorClick();
    void rbOmeClick() { recompute(); }
    void rbKOmeClick() { recompute(); }
    void rbMOmeClick() { recompute(); }

    const resistor::Decoder& decoder() const { return decoder_; }

private:
    void connectRadios();
    void recompute();
    void setColumn3Enabled(bool on);
    void placeBands(bool fiveBand);
    QLabel* swatch(int band) const;
    QLabel* nameLabel(int band) const;

    PageHost& host_;
    std::unique_ptr<Ui::ColorResisterPage> ui;
    resistor::Decoder decoder_;
};

} // namespace quillon::resistor
