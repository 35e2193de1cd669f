#pragma once
// The modem set-up box: a choice of link, an initialisation command and a
// connect button. It only keeps its own controls' state; nothing of it
// reaches the port.

#include <QGroupBox>
#include <memory>

namespace Ui {
class ModemGroup;
}

namespace quillon::vars {

class ModemGroup : public QGroupBox {
    Q_OBJECT
public:
    explicit ModemGroup(QWidget* parent = nullptr);
    ~ModemGroup() override;

    bool active() const { return modemActive; }

    void rbNoModemClick();
    void rbM2ModemClick();
    void rbDialClick();
    void cbMasterModemClick();
    void btnModemClick();

private:
    void setLinkControlsEnabled(bool enabled);
    QString idleCaption() const;

    std::unique_ptr<Ui::ModemGroup> ui;
    bool modemActive = false;
};

} // namespace quillon::vars
