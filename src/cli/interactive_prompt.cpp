#include "cli/interactive_prompt.h"

#include "cli/command_feed.h"
#include "cli/server_group.h"
#include "core/errors.h"
#include "storage/command_history.h"

#include <QSocketNotifier>

#include <cstdio>
#include <cstdlib>
#include <editline/readline.h>
#include <unistd.h>
#include <utility>

InteractivePrompt* InteractivePrompt::active_ = nullptr;

InteractivePrompt::InteractivePrompt(const QByteArray& prompt, CommandFeed& feed, ServerGroup& group,
                                     CommandHistory* history, const QByteArray& password, QObject* parent)
    : QObject(parent)
    , prompt_(prompt)
    , feed_(feed)
    , group_(group)
    , history_(history)
    , password_(password)
    , notifier_(new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this))
{
    active_ = this;
    rl_readline_name = "ravelin-cli";
    // The prompt stays on the terminal when the replies go to a file.
    if (!::isatty(STDOUT_FILENO))
        rl_outstream = stderr;
    using_history();
    if (history_) {
        for (const QByteArray& command : history_->commands())
            add_history(command.constData());
    }
    notifier_->setEnabled(false);
    connect(notifier_, &QSocketNotifier::activated, this, [] { rl_callback_read_char(); });
    connect(&group, &ServerGroup::caughtUp, this, &InteractivePrompt::show);
    connect(&group, &ServerGroup::finished, this, &InteractivePrompt::hide);
}

InteractivePrompt::~InteractivePrompt()
{
    hide();
    active_ = nullptr;
}

void InteractivePrompt::show()
{
    if (shown_ || feed_.isClosed() || group_.isFinished())
        return;
    shown_ = true;
    rl_callback_handler_install(prompt_.constData(), &InteractivePrompt::lineHandler);
    notifier_->setEnabled(true);
}

// Gives the terminal back its usual settings until the prompt shows again.
void InteractivePrompt::hide()
{
    if (!shown_)
        return;
    shown_ = false;
    notifier_->setEnabled(false);
    rl_callback_handler_remove();
}

void InteractivePrompt::lineHandler(char* line)
{
    if (active_)
        active_->takeLine(line);
    else
        std::free(line);
}

void InteractivePrompt::takeLine(char* line)
{
    hide();
    if (!line) {
        // Ctrl-D: the end of the commands; the servers disconnect.
        std::fputc('\n', rl_outstream ? rl_outstream : stdout);
        feed_.close();
        return;
    }
    const QByteArray command(line);
    std::free(line);
    if (command.trimmed().isEmpty()) {
        show();
        return;
    }
    add_history(command.constData());
    if (history_) {
        try {
            history_->add(command, password_);
        } catch (const FileError& error) {
            // Said once: the prompt must stay usable.
            if (!std::exchange(historyFailed_, true))
                std::fprintf(stderr, "The command could not be kept for Up and Down: %s\n",
                             error.message().constData());
        }
    }
    // A command the server would not take is said at once, and the prompt comes back.
    if (const QByteArray problem = feed_.append(command); !problem.isEmpty()) {
        std::fprintf(stderr, "%s\n", problem.constData());
        show();
    }
}
