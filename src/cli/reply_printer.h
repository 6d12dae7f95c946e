#pragma once

// Writes the replies of one server. As text, a reply goes out as it came,
// its bytes as the characters the window shows for them; with several servers each line is held until it is whole and
// goes out behind the server's name, so that lines of different servers never mix. As JSON, every entry of a list reply
// and every line of any other reply becomes one object (json_line.h), an object of type "timeout" marks a late reply,
// and an object of type "end" closes each reply that came.

#include "cli/output.h"
#include "core/entry_block.h"
#include "session/reply_reader.h"

#include <QByteArray>
#include <QString>

#include <optional>

enum class ReplyFormat { Text, Json };

class ReplyPrinter
{
public:
    // A line is held at most this long; a longer one goes out in pieces of
    // this size, each on a line of its own.
    static constexpr qsizetype kMaxHeldLine = 1024 * 1024;

    // `serverName` marks every line (text) or object (JSON); empty for none.
    ReplyPrinter(Output& output, ReplyFormat format, const QString& serverName);

    void begin(const QByteArray& command);
    // The reply turned out to be a list of this kind: its entries come by
    // addEntries, and its bytes are written only as text.
    void beginList(ListKind list);
    void addBytes(QByteArrayView bytes);
    void addEntries(ListKind list, const EntryBlock& entries);
    void end();
    // The reply is late: in JSON an object of type "timeout" says so. The
    // reply stays open; its bytes and its end follow should it come.
    void timedOut();
    // The connection ended in the middle of a reply: what is held goes out.
    void abandon();

private:
    void takeLines(QByteArrayView bytes);
    void writeLine(QByteArrayView line);
    void flushHeldLine();
    void finishReply(const char* jsonEnd);

    Output& output_;
    ReplyFormat format_;
    QString serverName_;
    QByteArray linePrefix_; // "<name>: " in UTF-8, before each line of text
    QByteArray command_;
    bool inReply_ = false;
    std::optional<ListKind> list_;
    QByteArray heldLine_;
};
