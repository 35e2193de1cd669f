#pragma once

#include <QWidget>
#include <memory>

namespace Ui {
class HexBinPage;
}

namespace quillon {
class PageHost;
}

namespace quillon::hexbin {

// The HEX/BIN page: HEX to BIN with fill and CRC, CRC of any file, BIN to
// HEX from a start address, and byte tables in C or assembler source.
class HexBinPage : public QWidget {
    Q_OBJECT
public:
    explicit HexBinPage(PageHost& host, QWidget* parent = nullptr);
    ~HexBinPage() override;

    void btnSourceClick();
    void btnTargetClick();
    void btnHBLoadClick();
    void btnCRCClick();
    void rbHBCRCCCITTClick();
    void rbHBCRC16Click();
    void rbHBCRC32Click();
    void btnB2HClick();
    void rbHTCClick();
    void rbHTASMClick();
    void btnHTLoadClick();
    void btnLoadHexClick();
    void btnHTCopyClick();

private:
    void setAsmControlsEnabled(bool on);
    PageHost& host_;
    std::unique_ptr<Ui::HexBinPage> ui;
};

} // namespace quillon::hexbin
