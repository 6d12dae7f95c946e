#pragma once

// The one way events reach a window's handlers: every handler runs guarded,
// so an error it does not catch is shown in the application's error box and
// never unwinds into Qt. Any window may have a guard of its own.

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QWidget>

#include <exception>
#include <functional>
#include <memory>

class Dialogs;

class ErrorGuard
{
public:
    ErrorGuard(QWidget* owner, std::shared_ptr<Dialogs> dialogs);

    // Runs `handler`, showing an error it does not catch in the error box.
    void run(const std::function<void()>& handler) const;

    // The application's error box for `message`: titled with the application's
    // title, the message with a full stop added where it needs one, one OK button.
    void showError(const QByteArray& message) const;

    // Binds `signal` of `sender` to `handler`, run guarded; the signal's
    // arguments are not passed on.
    template <typename Sender, typename Signal, typename Handler>
    void bind(Sender* sender, Signal signal, Handler handler) const
    {
        QObject::connect(sender, signal, owner_, [guard = *this, handler] { guard.run(handler); });
    }

private:
    void show(const std::exception& error) const;

    QPointer<QWidget> owner_;
    std::shared_ptr<Dialogs> dialogs_;
};
