#pragma once
// The "数据内容" group: which data mode received chunks go through, its
// marks, lengths and separator, made effective by Apply.

#include <QGroupBox>
#include <memory>

namespace Ui {
class DataModeGroup;
}

namespace quillon {
class PageHost;
}
namespace quillon::serial {
class SerialSession;
}

namespace quillon::vars {

class DataModeDecoder;

class DataModeGroup : public QGroupBox {
    Q_OBJECT
public:
    // Puts its decoder into the session's receive road.
    DataModeGroup(PageHost& host, serial::SerialSession& session, QWidget* parent = nullptr);
    ~DataModeGroup() override;

    void rbDataNormalClick();
    void rbMultiVarsClick();
    void rbMemMapClick();
    void cbMemFixLengthClick();
    void cbVarFixLengthClick();
    void btnVarApplyClick();

    // The interactive slave takes the block-mode buttons away while it
    // answers, and its bursts go through the mode selected.
    void interactiveRoleChanged(bool interactive, bool master);
    void setBlockModesEnabled(bool enabled);

    const DataModeDecoder& decoder() const { return *decoder_; }

private:
    PageHost& host_;
    serial::SerialSession& session_;
    std::unique_ptr<Ui::DataModeGroup> ui;
    DataModeDecoder* decoder_ = nullptr; // owned by the session
};

} // namespace quillon::vars
