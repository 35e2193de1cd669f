#pragma once
// Every modal window the pages open goes through this interface, so tests can
// script the answers and check the exact texts.

#include <QString>
#include <functional>
#include <optional>

class QWidget;

namespace quillon::vars {
struct VarDefinition;
}

namespace quillon {

enum class MsgIcon { None, Information, Warning, Error, Question };

class Dialogs {
public:
    virtual ~Dialogs() = default;
    // A message box with an OK button.
    virtual void message(const QString& caption, const QString& text, MsgIcon icon) = 0;
    // OK/Cancel question; true for OK.
    virtual bool confirm(const QString& caption, const QString& text, MsgIcon icon) = 0;
    // Filters in the "Name (*.ext)|*.ext|All files (*.*)|*.*" form; nullopt when cancelled.
    virtual std::optional<QString> openFile(const QString& filter, const QString& defaultExt) = 0;
    virtual std::optional<QString> saveFile(const QString& filter, const QString& defaultExt) = 0;
    // The same, proposing `fileName`; dialogs that can't propose a name ignore it.
    virtual std::optional<QString> saveFile(const QString& filter, const QString& defaultExt, const QString& fileName)
    {
        return saveFile(filter, defaultExt);
    }
    // One-line text input; nullopt when cancelled.
    virtual std::optional<QString> inputText(const QString& caption, const QString& prompt, const QString& initial) = 0;
    // The variable dialog on `def`: true, and `def` as edited, on OK.
    // Dialogs that have no variable dialog answer Cancel.
    virtual bool editVariable(vars::VarDefinition& def) { return false; }

    // The program's usual "错误" box with the stop icon.
    void error(const QString& text) { message(QStringLiteral("错误"), text, MsgIcon::Error); }
    // True when `path` is free, or the user agrees to replace the file there.
    bool confirmOverwrite(const QString& path);
};

// QMessageBox / QFileDialog / QInputDialog, parented to `parent`.
class WidgetDialogs : public Dialogs {
public:
    explicit WidgetDialogs(QWidget* parent = nullptr) : parent_(parent) {}
    void setParent(QWidget* parent) { parent_ = parent; }
    void message(const QString& caption, const QString& text, MsgIcon icon) override;
    bool confirm(const QString& caption, const QString& text, MsgIcon icon) override;
    std::optional<QString> openFile(const QString& filter, const QString& defaultExt) override;
    std::optional<QString> saveFile(const QString& filter, const QString& defaultExt) override;
    std::optional<QString> saveFile(const QString& filter, const QString& defaultExt, const QString& fileName) override;
    std::optional<QString> inputText(const QString& caption, const QString& prompt, const QString& initial) override;
    bool editVariable(vars::VarDefinition& def) override;
    // The variable dialog is the frame's (the pages own it, above this kit):
    // it hands in how an edit runs. Without one, edits answer Cancel.
    using VariableEditor = std::function<bool(vars::VarDefinition&)>;
    void setVariableEditor(VariableEditor editor) { variableEditor_ = std::move(editor); }

    // "A (*.a,*.b)|*.a;*.b|B (*.*)|*.*" -> "A (*.a,*.b) (*.a *.b);;B (*.*) (*)": Qt reads
    // the patterns from the group it appends, and the dialogs hide that group.
    static QString toQtFilter(const QString& filter);
    static QString withDefaultExt(const QString& path, const QString& defaultExt);

private:
    std::optional<QString> fileDialog(bool save, const QString& filter, const QString& defaultExt,
                                      const QString& fileName);

    QWidget* parent_;
    VariableEditor variableEditor_;
};

} // namespace quillon
