#pragma once
// The small modal dialog in which one watched variable is edited.

#include "vars/var_list.h"

#include <QDialog>
#include <memory>

namespace Ui {
class TfrmVar;
}

namespace quillon {
class Dialogs;
}

namespace quillon::vars {

class TfrmVar : public QDialog {
    Q_OBJECT
public:
    enum ModalResult { mrNone = 0, mrOk = 1, mrCancel = 2 };

    // Refusals are reported through `dialogs`.
    explicit TfrmVar(Dialogs& dialogs, QWidget* parent = nullptr);
    ~TfrmVar() override;

    // The record the dialog edits: filled before it is shown, read after OK.
    vars::VarDefinition VarRecord;

    // Runs the dialog modally on `def`; true (and `def` rewritten) on OK.
    bool edit(vars::VarDefinition& def);
    ModalResult modalResult() const { return modalResult_; }

    void FormShow();
    void cbVarTypeSelect();
    void btnVarOkClick();
    void btnVarCancelClick();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void showMaskField(vars::VarType type);
    void refuse(const QString& text, QWidget* field);

    Dialogs& dialogs_;
    std::unique_ptr<Ui::TfrmVar> ui;
    ModalResult modalResult_ = mrNone;
};

} // namespace quillon::vars
