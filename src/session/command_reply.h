#pragma once

// The answer to one command, for the one who asked: what ConsoleSession's
// sendCommand gives back. Its reply's bytes, and the list it turned out to
// be, arrive for this command alone, then its end: answered (perhaps late),
// or failed and why. `finished` comes on the turn of the event loop after the
// end, so a handle given back by a send that fails at once still reports it.
// The session owns the handle and deletes it once `finished` has been
// emitted; whoever needs what it holds takes it then, or holds a QPointer.

#include "core/entry_block.h"
#include "session/reply_reader.h"

#include <QByteArray>
#include <QObject>

#include <optional>

class CommandReply : public QObject
{
    Q_OBJECT

public:
    // The most of a reply's bytes kept in text(); the rest still comes by `data`.
    static constexpr qsizetype kMaxKeptBytes = 1024 * 1024;

    enum class State {
        Waiting,  // not on the wire yet, or its reply has not ended
        Answered, // the reply ended, in time or late
        Failed,   // it will never be answered
    };
    enum class Failure {
        None,
        NotSent,        // the connection closed before it went out
        ConnectionLost, // the connection closed while its reply was owed (given up on included)
    };

    explicit CommandReply(QByteArray command, QObject* parent = nullptr);

    const QByteArray& command() const { return command_; }
    State state() const { return state_; }
    Failure failure() const { return failure_; }
    // The reply timeout passed before the reply ended.
    bool isLate() const { return late_; }
    // The reply's bytes, its 0x04 left out, up to kMaxKeptBytes.
    const QByteArray& text() const { return text_; }
    // The list the reply was, and its entries, when it was one.
    const std::optional<ListKind>& list() const { return list_; }
    const EntryBlock& entries() const { return entries_; }

    // The session's side.
    void addBytes(QByteArrayView bytes);
    void beginList(ListKind list);
    void addEntries(const EntryBlock& entries);
    void markLate();
    void finish(Failure failure);

signals:
    void data(QByteArrayView bytes);
    // The reply is a list of this kind; its entries follow in batches.
    void listBegun(ListKind list);
    void entriesAdded(const EntryBlock& entries);
    // The reply did not come within the reply timeout; it is still awaited.
    void late();
    void finished();

private:
    QByteArray command_;
    State state_ = State::Waiting;
    Failure failure_ = Failure::None;
    bool late_ = false;
    QByteArray text_;
    std::optional<ListKind> list_;
    EntryBlock entries_;
};
