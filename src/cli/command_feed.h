#pragma once

// The commands of a run, in order, shared by every server: given on the
// command line, read from standard input or typed at the prompt. Each server
// works through them at its own pace; once the feed is closed and a server
// has had every answer, it disconnects.

#include <QByteArray>
#include <QList>
#include <QObject>

class CommandFeed : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    qsizetype size() const { return commands_.size(); }
    const QByteArray& at(qsizetype i) const { return commands_[i]; }
    bool isClosed() const { return closed_; }

    // Takes a command, or refuses one that no server would take and returns
    // why (empty when taken); a run with a refused command ends with status 2.
    QByteArray append(const QByteArray& command);
    bool refusedAny() const { return refusedAny_; }
    // No command will follow.
    void close();

signals:
    void changed();

private:
    QList<QByteArray> commands_;
    bool closed_ = false;
    bool refusedAny_ = false;
};
