#include "app/send_key.h"

#include <QAbstractButton>
#include <QKeyEvent>
#include <QWidget>

namespace quillon {

namespace {

class SendKeyFilter : public QObject {
public:
    SendKeyFilter(QWidget* box, QAbstractButton* send) : QObject(box), send_(send) { box->installEventFilter(this); }

    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() != QEvent::KeyPress) return false;
        auto* key = static_cast<QKeyEvent*>(event);
        const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
        if (!enter || !(key->modifiers() & Qt::ControlModifier) || !send_->isEnabled()) return false;
        send_->click();
        return true;
    }

private:
    QAbstractButton* send_;
};

} // namespace

void pressOnCtrlEnter(QWidget* box, QAbstractButton* button) { new SendKeyFilter(box, button); }

} // namespace quillon
