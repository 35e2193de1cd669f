#pragma once
// Handlers are connected through connectHandler so that an exception escaping
// one of them shows the application-wide message instead of reaching Qt.

#include <QObject>
#include <concepts>
#include <functional>

namespace quillon {

// Installed by the main window; called for every exception a handler lets escape.
void setExceptionHandler(std::function<void()> handler);
void reportException();

template <typename F>
void runGuarded(F&& f)
{
    try {
        f();
    } catch (...) {
        reportException();
    }
}

// The formatter of this toolchain misplaces requires-clauses.
// clang-format off
template <typename Fn>
struct GuardedCall {
    Fn fn;
    template <typename... A>
        requires std::invocable<Fn&, A...>
    void operator()(A... args)
    {
        runGuarded([&] { std::invoke(fn, args...); });
    }
};

// Member handler without arguments: connectHandler(ui->btnX, &QPushButton::clicked, this, &Page::btnXClick).
template <typename Sender, typename Signal, typename Receiver>
    requires std::derived_from<Receiver, QObject>
QMetaObject::Connection connectHandler(Sender* sender, Signal signal, Receiver* receiver, void (Receiver::*handler)())
{
    auto call = [receiver, handler] { (receiver->*handler)(); };
    return QObject::connect(sender, signal, receiver, GuardedCall<decltype(call)>{call});
}
// clang-format on

// Any callable, given the signal's arguments it accepts.
template <typename Sender, typename Signal, typename Fn>
QMetaObject::Connection connectHandler(Sender* sender, Signal signal, QObject* context, Fn fn)
{
    return QObject::connect(sender, signal, context, GuardedCall<Fn>{std::move(fn)});
}

} // namespace quillon
