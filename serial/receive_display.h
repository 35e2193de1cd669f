#pragma once
// The receive display: received text is collected and put on screen a
// moment later, all at once, keeping only the newest lines.

#include "serial/receive_view.h"

#include <QObject>
#include <QString>
#include <optional>
#include <span>
#include <string>

class QAbstractButton;
class QPlainTextEdit;
class QTimer;

namespace quillon::serial {

// What the display needs to know of the receive modes for a chunk.
class ReceiveSource {
public:
    virtual ~ReceiveSource() = default;
    virtual bool stringVarMode() const = 0;
    virtual bool interactive() const = 0;
    // Where a dump of the chunk starts; a decoded block restarts the dump
    // once, so this is asked only when the chunk is dumped.
    virtual DumpStart takeDumpStart() = 0;
};

class ReceiveDisplay : public QObject {
public:
    // `autoScroll` says whether the newest text is scrolled into view.
    ReceiveDisplay(QPlainTextEdit* box, QAbstractButton* autoScroll);

    void append(const QString& text);
    // Received bytes as text: up to a zero byte, GBK characters split
    // across chunks shown once.
    void appendText(std::span<const uint8_t> bytes);
    // One received chunk as the page shows it: a hex dump when `dump` is
    // on (never for string variables), else text; `clearEach` empties the
    // box first when a reply or a string variable replaces the last one.
    // Returns the text the log takes for what was shown (none for string
    // variables, whose mode logs the raw chunk).
    std::optional<std::string> showChunk(ReceiveSource& source, std::span<const uint8_t> bytes, bool dump,
                                         bool clearEach);
    bool empty() const;
    void clear();
    void setLineLimit(int lines);

private:
    void flush();

    QPlainTextEdit* box_;
    QAbstractButton* autoScroll_;
    QTimer* flushTimer_;
    QString pending_;
    TextFeed feed_;
    // The hex dump's cursor: the address of the next byte dumped.
    int32_t DumpAddress = 0;
};

} // namespace quillon::serial
