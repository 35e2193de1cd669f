#pragma once
// The interactive group: the master's command list and loop, the slave's
// table of commands and answers, and the auto-reply when the line is quiet.

#include "app/sessions.h"
#include "serial/command_lists.h"
#include "serial/interactive_hooks.h"

#include <QGroupBox>
#include <functional>
#include <memory>

class QCheckBox;
class QPlainTextEdit;

namespace Ui {
class InteractiveGroup;
}

namespace quillon {
class PageHost;
} // namespace quillon

namespace quillon::serial {

class SerialSession;

// What the group uses of the page's send area.
struct SendArea {
    QPlainTextEdit* text = nullptr; // mDataSend
    QCheckBox* binary = nullptr;    // cbSendBinary
    std::function<void()> send;     // SendData
};

class InteractiveGroup : public QGroupBox, public InteractiveHooks, public SettingsLoader {
    Q_OBJECT
public:
    InteractiveGroup(PageHost& host, SerialSession& session, SendArea sendArea, QWidget* parent = nullptr);
    ~InteractiveGroup() override;

    void cbInteractiveClick();
    void cbMasterClick();
    void clbInteractiveClick();
    void vleInteractiveClick();
    void sbInterAddClick();
    void sbInterEditClick();
    void sbInterDelClick();
    void sbInterSaveClick();

    // InteractiveHooks
    void masterLoopStep() override;
    void slaveReply() override;
    // SettingsLoader
    void loadSettings(const SettingsFile& settings) override;

    const MasterCommandList& masterCommands() const { return master_; }
    const SlaveTable& slaveTable() const { return slave_; }

private:
    void showMasterList();
    void showSlaveTable();
    void commandEdited(int row);
    void slaveCellEdited(int row, int column);
    void commitSlaveEdit();
    void askForCommands(const QString& text);
    std::optional<size_t> selectedCommand() const;

    PageHost& host_;
    SerialSession& session_;
    SendArea send_;
    std::unique_ptr<Ui::InteractiveGroup> ui;
    MasterCommandList master_;
    SlaveTable slave_;
};

} // namespace quillon::serial
