#include "session/command_reply.h"

#include "core/text_cut.h"

CommandReply::CommandReply(QByteArray command, QObject* parent)
    : QObject(parent)
    , command_(std::move(command))
{ }

void CommandReply::addBytes(QByteArrayView bytes)
{
    text_.append(text::firstBytes(bytes, kMaxKeptBytes - text_.size()));
    emit data(bytes);
}

void CommandReply::beginList(ListKind list)
{
    list_ = list;
    entries_.clear();
    emit listBegun(list);
}

void CommandReply::addEntries(const EntryBlock& entries)
{
    entries_.append(entries);
    emit entriesAdded(entries);
}

void CommandReply::markLate()
{
    late_ = true;
    emit late();
}

void CommandReply::finish(Failure failure)
{
    if (state_ != State::Waiting)
        return;
    failure_ = failure;
    state_ = failure == Failure::None ? State::Answered : State::Failed;
    // Said on the next turn of the event loop: the session may end a reply
    // in the middle of its own work (a closing connection ends them all), and
    // whoever hears of it may well send the next command at once.
    QMetaObject::invokeMethod(
        this,
        [this] {
            emit finished();
            deleteLater();
        },
        Qt::QueuedConnection);
}
