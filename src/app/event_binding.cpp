#include "app/event_binding.h"

#include "app/dialogs.h"
#include "app/text_codec.h"
#include "core/errors.h"

#include <QCoreApplication>

ErrorGuard::ErrorGuard(QWidget* owner, std::shared_ptr<Dialogs> dialogs)
    : owner_(owner)
    , dialogs_(std::move(dialogs))
{ }

void ErrorGuard::run(const std::function<void()>& handler) const
{
    try {
        handler();
    } catch (const std::exception& error) {
        show(error);
    } catch (...) {
        showError("Unknown error");
    }
}

void ErrorGuard::show(const std::exception& error) const
{
    const auto* known = dynamic_cast<const RavelinError*>(&error);
    showError(known ? known->message() : QByteArray(error.what()));
}

void ErrorGuard::showError(const QByteArray& message) const
{
    dialogs_->showError(owner_, applicationTitle(QCoreApplication::applicationFilePath()),
                        toDisplay(errorBoxText(message)));
}
