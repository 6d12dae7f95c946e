#pragma once

// The one way events reach the window's handlers: every handler runs guarded,
// so an error it does not catch is shown in the application's error box and
// never unwinds into Qt.

#include "app/main_form.h"

#include <QObject>

// Binds `signal` of `sender` to the handler `handler` of `form`, ignoring the
// signal's arguments (the handlers take none).
template <typename Sender, typename Signal>
void Bind(TMainForm* form, Sender* sender, Signal signal, void (TMainForm::*handler)())
{
    QObject::connect(sender, signal, form, [form, handler] { form->RunGuarded([&] { (form->*handler)(); }); });
}

// Wraps a handler of the socket component's events with the same guard.
template <typename... Args>
auto Guarded(TMainForm* form, void (TMainForm::*handler)(Args...))
{
    return [form, handler](Args... args) { form->RunGuarded([&] { (form->*handler)(args...); }); };
}
