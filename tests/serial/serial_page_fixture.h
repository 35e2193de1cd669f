#pragma once
// The real window on a pseudo-terminal whose master side plays the remote
// device, with helpers to drive the serial page through its controls.

#include "serial/comtest_page.h"
#include "tests/serial/pty_pair.h"
#include "tests/support/frame_fixture.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QFocusEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTest>
#include <QTimer>

namespace quillon::test {

class SerialPageTest : public FrameTest {
protected:
    PtyPair pty;
    int fdsBefore = 0;

    void SetUp() override
    {
        ASSERT_TRUE(pty.ok());
        devices.serial = std::vector<platform::DeviceMapEntry>{{"\\Device\\pts", pty.slavePath()}};
        makeFrame();
        frame->show();
        // The toolkit opens a few descriptors of its own on first use.
        QTest::qWait(20);
        fdsBefore = openFdCount();
    }

    void click(const char* name)
    {
        auto* b = find<QAbstractButton>(name);
        ASSERT_TRUE(b);
        b->click();
    }
    // Focus comes into the box and moves on to another control.
    void leave(const char* name)
    {
        auto* box = find<QLineEdit>(name);
        QFocusEvent in(QEvent::FocusIn, Qt::TabFocusReason);
        QCoreApplication::sendEvent(box, &in);
        QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
        QCoreApplication::sendEvent(box, &out);
    }
    void setText(const char* name, const QString& text) { find<QLineEdit>(name)->setText(text); }
    bool enabled(const char* name) { return find<QWidget>(name)->isEnabled(); }
    QString caption(const char* name) { return find<QAbstractButton>(name)->text(); }
    // The display as it stands once received text has been put on screen.
    QString rx()
    {
        auto* flush = frame->findChild<QTimer*>("tmDisplayFlush");
        EXPECT_TRUE(QTest::qWaitFor([&] { return !flush->isActive(); }, 1000));
        return find<QPlainTextEdit>("mCOMRx")->toPlainText();
    }
    void typeToSend(const QString& text) { find<QPlainTextEdit>("mDataSend")->setPlainText(text); }
    bool portOpen() { return frame->comTestPage()->portOpen(); }

    void openPort()
    {
        click("btnOpenPort");
        ASSERT_TRUE(portOpen()) << (dialogs.calls.empty() ? "" : dialogs.last().text.toStdString());
    }
    // The remote end sends, and the page has counted it.
    void remoteSends(const std::string& bytes, int expectedTotal)
    {
        ASSERT_TRUE(pty.send(bytes));
        ASSERT_TRUE(QTest::qWaitFor([&] { return panel(1) == QStringLiteral("接收: %1").arg(expectedTotal); }, 5000))
            << panel(1).toStdString();
    }
    // What the remote end reads while the window goes on working.
    std::string remoteGets(size_t count, int ms = 3000)
    {
        std::string out;
        (void)QTest::qWaitFor(
            [&] {
                out += pty.drain(0);
                return out.size() >= count;
            },
            ms);
        return out;
    }
    bool waitPanel(int i, const QString& text, int ms = 5000)
    {
        return QTest::qWaitFor([&] { return panel(i) == text; }, ms);
    }
    std::string tempFileOf(const std::string& bytes, const char* name = "send.bin")
    {
        const std::string path = dir.file(name);
        TempDir::writeFile(path, bytes);
        return path;
    }
};

} // namespace quillon::test
