#include "serial/receive_display.h"

#include "app/handler.h"
#include "app/qt_text.h"
#include "serial/receive_state.h"

#include <QAbstractButton>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>

namespace quillon::serial {

namespace {
// How long received text may wait before it is shown (one display refresh).
constexpr int kDisplayFlushMs = 25;
} // namespace

ReceiveDisplay::ReceiveDisplay(QPlainTextEdit* box, QAbstractButton* autoScroll)
    : QObject(box), box_(box), autoScroll_(autoScroll), flushTimer_(new QTimer(box))
{
    // Fixed pitch keeps the dump's columns aligned; the CJK mono face gives
    // Chinese text exactly two columns.
    QFont font;
    font.setFamilies(
        {QStringLiteral("Noto Sans Mono CJK SC"), QStringLiteral("DejaVu Sans Mono"), QStringLiteral("Monospace")});
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    font.setPixelSize(12);
    box_->setFont(font);

    flushTimer_->setObjectName(QStringLiteral("tmDisplayFlush"));
    flushTimer_->setSingleShot(true);
    flushTimer_->setInterval(kDisplayFlushMs);
    connectHandler(flushTimer_, &QTimer::timeout, this, [this] { flush(); });
}

void ReceiveDisplay::setLineLimit(int lines)
{
    // The display keeps the newest lines only; a capture that runs all day
    // must not make every update slower.
    box_->setMaximumBlockCount(lines);
}

void ReceiveDisplay::append(const QString& text)
{
    if (text.isEmpty()) return;
    // Chunks arrive up to thousands of times a second; laying out and
    // painting the display once per chunk would starve the window.
    pending_ += text;
    if (!flushTimer_->isActive()) flushTimer_->start();
}

void ReceiveDisplay::appendText(std::span<const uint8_t> bytes) { append(fromStd(feed_.feed(bytes))); }

void ReceiveDisplay::flush()
{
    if (pending_.isEmpty()) return;
    QString text;
    text.swap(pending_);
    // Lines that the line limit would drop at once are not laid out at all.
    const int keep = box_->maximumBlockCount();
    if (keep > 0 && text.count(QLatin1Char('\n')) >= keep) {
        qsizetype cut = text.size();
        for (int lines = 0; lines < keep; ++lines) cut = text.lastIndexOf(QLatin1Char('\n'), cut - 1);
        text.remove(0, cut + 1);
        box_->clear();
    }
    QTextCursor cursor(box_->document());
    cursor.movePosition(QTextCursor::End);
    cursor.beginEditBlock();
    cursor.insertText(text);
    cursor.endEditBlock();
    if (autoScroll_->isChecked()) {
        QScrollBar* bar = box_->verticalScrollBar();
        bar->setValue(bar->maximum());
    }
}

bool ReceiveDisplay::empty() const { return pending_.isEmpty() && box_->document()->isEmpty(); }

void ReceiveDisplay::clear()
{
    pending_.clear();
    flushTimer_->stop();
    box_->clear();
    feed_.displayCleared();
}

std::optional<std::string> ReceiveDisplay::showChunk(ReceiveSource& source, std::span<const uint8_t> bytes, bool dump,
                                                     bool clearEach)
{
    const bool stringVars = source.stringVarMode();
    if (dump && !stringVars) {
        DumpOutput out = dumpChunk(DumpAddress, source.takeDumpStart(), bytes, empty());
        if (out.replaceAll) clear();
        QString text = QString::fromLatin1(out.text.data(), static_cast<qsizetype>(out.text.size()));
        text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        append(text);
        // The log gets the whole dump of the chunk, not only its last line.
        std::string_view logged = out.text;
        if (logged.starts_with("\r\n")) logged.remove_prefix(2);
        return std::string(logged);
    }
    if (clearEach && (source.interactive() || stringVars)) clear();
    const auto shown = TextFeed::shownPart(bytes);
    appendText(shown);
    if (stringVars) return std::nullopt;
    return std::string(reinterpret_cast<const char*>(shown.data()), shown.size());
}

} // namespace quillon::serial
