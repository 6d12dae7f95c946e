#pragma once

// The commands of a run, in order, shared by every server: given on the
// command line, read from standard input or typed at the prompt. Each server
// works through them at its own pace; once the feed is closed and a server
// has had every answer, it disconnects.

#include "cli/terminal_text.h"

#include <QByteArray>
#include <QList>
#include <QObject>

class CommandFeed : public QObject
{
    Q_OBJECT

public:
    explicit CommandFeed(TerminalText terminal = TerminalText(), QObject* parent = nullptr)
        : QObject(parent)
        , terminal_(std::move(terminal))
    { }

    qsizetype size() const { return commands_.size(); }
    const QByteArray& at(qsizetype i) const { return commands_[i]; }
    bool isClosed() const { return closed_; }

    // Takes a command as the terminal gives it, in the server's bytes, or
    // refuses one that cannot be sent or that no server would take and
    // returns why (empty when taken); a run with a refused command ends with
    // status 2.
    QByteArray append(const QByteArray& typed);
    bool refusedAny() const { return refusedAny_; }
    // No command will follow.
    void close();

signals:
    void changed();

private:
    TerminalText terminal_;
    QList<QByteArray> commands_;
    bool closed_ = false;
    bool refusedAny_ = false;
};
