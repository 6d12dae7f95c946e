#pragma once

// The prompt for commands typed on a terminal, with the line editing and
// history (Up, Down) of libedit's readline interface in its callback form, so
// the event loop keeps running while the administrator types. The prompt is
// shown only while every server waits for a command: a reply is never printed
// into a half-typed line. Ctrl-D on an empty line ends the run. The history
// is kept across runs when a CommandHistory is given (never a login).

#include <QByteArray>
#include <QObject>

class CommandFeed;
class CommandHistory;
class QSocketNotifier;
class ServerGroup;

class InteractivePrompt : public QObject
{
    Q_OBJECT

public:
    // `password` is the one in use, kept out of the history; `history` may be null.
    InteractivePrompt(const QByteArray& prompt, CommandFeed& feed, ServerGroup& group, CommandHistory* history,
                      const QByteArray& password, QObject* parent = nullptr);
    ~InteractivePrompt() override;

private:
    void show();
    void hide();
    void takeLine(char* line);

    // libedit calls back a plain function; this is the prompt it reports to.
    static InteractivePrompt* active_;
    static void lineHandler(char* line);

    QByteArray prompt_;
    CommandFeed& feed_;
    ServerGroup& group_;
    CommandHistory* history_;
    QByteArray password_;
    bool historyFailed_ = false;
    QSocketNotifier* notifier_;
    bool shown_ = false;
};
