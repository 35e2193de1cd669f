#pragma once
// What a page may ask of the main window: status panels, dialogs and the
// settings file path.

#include <QString>
#include <string>

namespace quillon {

class Dialogs;

class PageHost {
public:
    virtual ~PageHost() = default;
    virtual void setStatusText(int panel, const QString& text) = 0;
    virtual QString statusText(int panel) const = 0;
    // Repaints the status bar at once.
    virtual void repaintStatus() = 0;
    // A panel that must show its new text now, not at the next repaint.
    void showStatusNow(int panel, const QString& text)
    {
        setStatusText(panel, text);
        repaintStatus();
    }
    virtual Dialogs& dialogs() = 0;
    virtual std::string settingsPath() const = 0;
};

} // namespace quillon
