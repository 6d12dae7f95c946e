#pragma once

// Commands from a file descriptor that is not a terminal (a pipe, a file),
// one a line, read as they arrive so that a script may feed a run slowly. A
// line's CR before its LF is dropped, and empty lines are skipped; the end of
// the input closes the feed.

#include <QByteArray>
#include <QObject>

class CommandFeed;
class QSocketNotifier;

class InputLines : public QObject
{
    Q_OBJECT

public:
    InputLines(int fd, CommandFeed& feed, QObject* parent = nullptr);

private:
    void readSome();
    void take(const QByteArray& line);

    int fd_;
    CommandFeed& feed_;
    QSocketNotifier* notifier_;
    QByteArray partial_;
};
