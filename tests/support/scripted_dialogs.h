#pragma once
// Dialogs that record every call and answer from queues, for page tests.

#include "app/dialogs.h"
#include "vars/var_list.h"

#include <QString>
#include <deque>
#include <functional>
#include <optional>
#include <vector>

namespace quillon::test {

struct DialogCall {
    enum Kind { Message, Confirm, OpenFile, SaveFile, InputText, EditVariable } kind;
    QString caption;
    QString text; // message/question text, or the prompt
    MsgIcon icon = MsgIcon::None;
    QString filter;
    QString defaultExt;
    QString fileName = {}; // proposed by a save dialog
};

class ScriptedDialogs : public Dialogs {
public:
    void message(const QString& caption, const QString& text, MsgIcon icon) override;
    bool confirm(const QString& caption, const QString& text, MsgIcon icon) override;
    std::optional<QString> openFile(const QString& filter, const QString& defaultExt) override;
    std::optional<QString> saveFile(const QString& filter, const QString& defaultExt) override;
    std::optional<QString> saveFile(const QString& filter, const QString& defaultExt, const QString& fileName) override;
    std::optional<QString> inputText(const QString& caption, const QString& prompt, const QString& initial) override;
    bool editVariable(vars::VarDefinition& def) override;

    // Answers, consumed in order. With an empty queue: Cancel / no file / no text.
    std::deque<bool> confirmAnswers;
    std::deque<std::optional<QString>> fileAnswers;
    std::deque<std::optional<QString>> textAnswers;
    // The variable dialog: each answer may change the record and says OK (true) or Cancel.
    std::deque<std::function<bool(vars::VarDefinition&)>> variableAnswers;
    // The records the variable dialog was shown with.
    std::vector<vars::VarDefinition> shownVariables;

    std::vector<DialogCall> calls;

    // Texts of the message boxes shown so far.
    std::vector<QString> messages() const;
    const DialogCall& last() const { return calls.back(); }
    void clear() { calls.clear(); }
};

} // namespace quillon::test
