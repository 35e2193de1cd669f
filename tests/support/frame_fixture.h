#pragma once
// Builds the real main window with scripted dialogs, a temporary settings
// file and a fixed port list, and finds controls by their object names.

#include "app/mainform.h"
#include "monitor/serialmon_page.h"
#include "platform/device_map.h"
#include "tests/support/scripted_dialogs.h"
#include "tests/support/temp_dir.h"

#include <QElapsedTimer>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>
#include <memory>

namespace quillon::test {

class FrameTest : public ::testing::Test {
protected:
    TempDir dir;
    ScriptedDialogs dialogs;
    platform::FixedDeviceMap devices;
    // Null: the system's capture component, the helper beside the program.
    monitor::CaptureService* capture = nullptr;
    std::unique_ptr<TfrmMain> frame;

    std::string settingsPath() const { return dir.file("quillon.INI"); }

    // Call after setting up `devices` or the settings file as the test needs.
    TfrmMain& makeFrame()
    {
        FrameOptions options;
        options.settingsPath = settingsPath();
        options.dialogs = &dialogs;
        options.deviceMap = &devices;
        options.capture = capture;
        frame = std::make_unique<TfrmMain>(options);
        return *frame;
    }

    template <typename T = QWidget>
    T* find(const char* name) const
    {
        T* w = frame->findChild<T*>(QString::fromUtf8(name));
        if (!w) ADD_FAILURE() << "no control named " << name;
        return w;
    }

    QString panel(int i) const { return frame->statusText(i); }

    // The monitor starts its component off the window's thread; this runs
    // the event loop until the answer is in (or `ms` have passed).
    bool waitForMonitorLoad(int ms = 10000)
    {
        QElapsedTimer waited;
        waited.start();
        while (frame->serialMonPage()->loading() && waited.elapsed() < ms) QTest::qWait(5);
        return !frame->serialMonPage()->loading();
    }
};

} // namespace quillon::test
