#pragma once
// Dialogs for the benchmark programs: messages are counted and printed, a
// save dialog answers `savePath` (nothing when it is empty), nothing else comes up.

#include "app/dialogs.h"

#include <cstdio>

namespace quillon::bench {

class BenchDialogs : public Dialogs {
public:
    QString savePath;
    int messages = 0;
    void message(const QString&, const QString& text, MsgIcon) override
    {
        ++messages;
        std::fprintf(stderr, "message: %s\n", qPrintable(text));
    }
    bool confirm(const QString&, const QString&, MsgIcon) override { return true; }
    std::optional<QString> openFile(const QString&, const QString&) override { return std::nullopt; }
    std::optional<QString> saveFile(const QString&, const QString&) override
    {
        if (savePath.isEmpty()) return std::nullopt;
        return savePath;
    }
    std::optional<QString> inputText(const QString&, const QString&, const QString&) override { return std::nullopt; }
};

} // namespace quillon::bench
