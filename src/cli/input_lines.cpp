#include "cli/input_lines.h"

#include "cli/command_feed.h"

#include <QSocketNotifier>

#include <cerrno>
#include <cstdio>
#include <unistd.h>

InputLines::InputLines(int fd, CommandFeed& feed, QObject* parent)
    : QObject(parent)
    , fd_(fd)
    , feed_(feed)
    , notifier_(new QSocketNotifier(fd, QSocketNotifier::Read, this))
{
    connect(notifier_, &QSocketNotifier::activated, this, &InputLines::readSome);
}

void InputLines::readSome()
{
    char buffer[64 * 1024];
    ssize_t got;
    do
        got = ::read(fd_, buffer, sizeof buffer);
    while (got < 0 && errno == EINTR);
    if (got < 0 && errno == EAGAIN)
        return;
    if (got <= 0) {
        notifier_->setEnabled(false);
        take(std::exchange(partial_, QByteArray()));
        feed_.close();
        return;
    }
    partial_.append(buffer, got);
    qsizetype start = 0;
    qsizetype lineFeed;
    while ((lineFeed = partial_.indexOf('\n', start)) >= 0) {
        take(partial_.sliced(start, lineFeed - start));
        start = lineFeed + 1;
    }
    partial_.remove(0, start);
}

void InputLines::take(const QByteArray& line)
{
    QByteArray command = line;
    if (command.endsWith('\r'))
        command.chop(1);
    if (command.isEmpty())
        return;
    if (const QByteArray problem = feed_.append(command); !problem.isEmpty())
        std::fprintf(stderr, "%s\n", problem.constData());
}
