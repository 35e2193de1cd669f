#pragma once
// The receive display: received text is collected and put on screen a
// moment later, all at once, keeping only the newest lines.

#include "serial/receive_view.h"

#include <QObject>
#include <QString>
#include <span>

class QAbstractButton;
class QPlainTextEdit;
class QTimer;

namespace quillon {

class ReceiveState;

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
    // What is shown goes to the log too.
    void showChunk(ReceiveState& receive, std::span<const uint8_t> bytes, bool dump, bool clearEach);
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
};

} // namespace quillon
