#include "app/number_box.h"

#include "app/dialogs.h"
#include "app/handler.h"
#include "app/qt_text.h"
#include "common/numbers.h"

#include <QFocusEvent>
#include <QLineEdit>
#include <QValidator>

namespace quillon {

namespace {

class UpperCaseValidator : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString& input, int&) const override
    {
        input = input.toUpper();
        return Acceptable;
    }
};

} // namespace

void keepUpperCase(QLineEdit* box) { box->setValidator(new UpperCaseValidator(box)); }

namespace {

class LeaveWatcher : public QObject {
public:
    LeaveWatcher(QLineEdit* box, std::function<void()> check) : QObject(box), check_(std::move(check))
    {
        box->installEventFilter(this);
    }

    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::FocusIn) {
            entered_ = true;
        } else if (event->type() == QEvent::FocusOut) {
            const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
            if (reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason) return false;
            // A box that focus only passed through while another box's check
            // sent it back (its message box in between) checks nothing.
            const bool check = entered_ && !checking_;
            entered_ = false;
            if (check) {
                checking_ = true;
                runGuarded(check_);
                checking_ = false;
            }
        }
        return false;
    }

private:
    std::function<void()> check_;
    bool entered_ = false;
    static inline bool checking_ = false;
};

} // namespace

std::optional<int32_t> wholeNumberIn(const QLineEdit* box) { return parseWholeNumber(toStd(box->text())); }

bool checkWholeNumberAtLeast(Dialogs& dialogs, QLineEdit* box, int32_t minimum, const QString& message)
{
    const auto v = wholeNumberIn(box);
    if (!v) {
        dialogs.error(message);
        box->setFocus();
        return false;
    }
    if (*v < minimum) box->setText(QString::number(minimum));
    return true;
}

FocusLeaveChecks::~FocusLeaveChecks()
{
    for (const auto& w : watchers_) delete w.data();
}

void FocusLeaveChecks::add(QLineEdit* box, std::function<void()> check)
{
    watchers_.push_back(new LeaveWatcher(box, std::move(check)));
}

} // namespace quillon
