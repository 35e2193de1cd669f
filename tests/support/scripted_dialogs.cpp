#include "tests/support/scripted_dialogs.h"

namespace quillon::test {

void ScriptedDialogs::message(const QString& caption, const QString& text, MsgIcon icon)
{
    calls.push_back({DialogCall::Message, caption, text, icon, {}, {}});
}

bool ScriptedDialogs::confirm(const QString& caption, const QString& text, MsgIcon icon)
{
    calls.push_back({DialogCall::Confirm, caption, text, icon, {}, {}});
    if (confirmAnswers.empty()) return false;
    bool a = confirmAnswers.front();
    confirmAnswers.pop_front();
    return a;
}

std::optional<QString> ScriptedDialogs::openFile(const QString& filter, const QString& defaultExt)
{
    calls.push_back({DialogCall::OpenFile, {}, {}, MsgIcon::None, filter, defaultExt});
    if (fileAnswers.empty()) return std::nullopt;
    auto a = fileAnswers.front();
    fileAnswers.pop_front();
    return a;
}

std::optional<QString> ScriptedDialogs::saveFile(const QString& filter, const QString& defaultExt)
{
    return saveFile(filter, defaultExt, QString());
}

std::optional<QString> ScriptedDialogs::saveFile(const QString& filter, const QString& defaultExt,
                                                 const QString& fileName)
{
    calls.push_back({DialogCall::SaveFile, {}, {}, MsgIcon::None, filter, defaultExt, fileName});
    if (fileAnswers.empty()) return std::nullopt;
    auto a = fileAnswers.front();
    fileAnswers.pop_front();
    return a;
}

std::optional<QString> ScriptedDialogs::inputText(const QString& caption, const QString& prompt, const QString&)
{
    calls.push_back({DialogCall::InputText, caption, prompt, MsgIcon::None, {}, {}});
    if (textAnswers.empty()) return std::nullopt;
    auto a = textAnswers.front();
    textAnswers.pop_front();
    return a;
}

bool ScriptedDialogs::editVariable(vars::VarDefinition& def)
{
    calls.push_back({DialogCall::EditVariable, {}, {}, MsgIcon::None, {}, {}});
    shownVariables.push_back(def);
    if (variableAnswers.empty()) return false;
    auto answer = std::move(variableAnswers.front());
    variableAnswers.pop_front();
    return answer(def);
}

std::vector<QString> ScriptedDialogs::messages() const
{
    std::vector<QString> out;
    for (const auto& c : calls)
        if (c.kind == DialogCall::Message) out.push_back(c.text);
    return out;
}

} // namespace quillon::test
