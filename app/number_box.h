#pragma once
// Edit boxes that hold a whole number and are checked whenever the user
// leaves them.

#include <QPointer>
#include <QString>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

class QLineEdit;
class QObject;

namespace quillon {

class Dialogs;

// Letters typed into the box appear in upper case (hex fields).
void keepUpperCase(QLineEdit* box);

// The whole number the box holds as typed, if it holds one.
std::optional<int32_t> wholeNumberIn(const QLineEdit* box);

// A box that holds no whole number says `message` and takes the focus back
// (false); a number below `minimum` becomes `minimum`.
bool checkWholeNumberAtLeast(Dialogs& dialogs, QLineEdit* box, int32_t minimum, const QString& message);

// Runs a box's check every time focus leaves it for another control, edited
// or not: a box left holding a bad number must complain again, not only the
// first time (editingFinished stays silent for unchanged text). Switching to
// another window is not leaving the box.
class FocusLeaveChecks {
public:
    FocusLeaveChecks() = default;
    // The boxes may outlive the page by a moment; focus leaving them then
    // must not reach its checks.
    ~FocusLeaveChecks();
    FocusLeaveChecks(const FocusLeaveChecks&) = delete;
    FocusLeaveChecks& operator=(const FocusLeaveChecks&) = delete;

    void add(QLineEdit* box, std::function<void()> check);

private:
    std::vector<QPointer<QObject>> watchers_;
};

} // namespace quillon
