#include "cli/reply_printer.h"

#include "admin/list_fields.h"
#include "cli/terminal_text.h"
#include "core/json_line.h"

namespace {

const char* typeOf(ListKind list)
{
    switch (list) {
    case ListKind::Players: return "player";
    case ListKind::Bans: return "ban";
    case ListKind::Maps: break;
    }
    return "map";
}

// Every object starts with the server (when there are several), the command
// and the type.
JsonLine startObject(const QString& serverName, const QByteArray& command, const char* type)
{
    JsonLine line;
    if (!serverName.isEmpty())
        line.text("server", QStringView(serverName));
    line.text("command", QByteArrayView(command)).text("type", QByteArrayView(type));
    return line;
}

} // namespace

ReplyPrinter::ReplyPrinter(Output& output, ReplyFormat format, const QString& serverName)
    : output_(output)
    , format_(format)
    , serverName_(serverName)
    , linePrefix_(serverName.isEmpty() ? QByteArray() : serverName.toUtf8() + ": ")
{ }

void ReplyPrinter::begin(const QByteArray& command)
{
    command_ = command;
    inReply_ = true;
    list_.reset();
    heldLine_.clear();
}

void ReplyPrinter::beginList(ListKind list)
{
    list_ = list;
}

void ReplyPrinter::addBytes(QByteArrayView bytes)
{
    if (!inReply_)
        return;
    if (format_ == ReplyFormat::Json) {
        if (!list_)
            takeLines(bytes);
        return;
    }
    if (serverName_.isEmpty())
        output_.writeReply(serverTextAsUtf8(bytes));
    else
        takeLines(bytes);
}

void ReplyPrinter::addEntries(ListKind list, const EntryBlock& entries)
{
    if (!inReply_ || format_ != ReplyFormat::Json || list_ != list)
        return;
    for (qsizetype i = 0; i < entries.size(); ++i) {
        const QByteArray entry = entries.at(i).toByteArray();
        JsonLine line = startObject(serverName_, command_, typeOf(list));
        switch (list) {
        case ListKind::Players: {
            const list_fields::PlayerFields player = list_fields::playerFields(entry);
            line.number("id", player.id)
                .text("name", player.name)
                .text("address", player.address)
                .number("port", player.port)
                .text("key_hash", player.keyHash);
            break;
        }
        case ListKind::Bans: {
            const list_fields::BanFields ban = list_fields::banFields(entry);
            line.text("key", ban.key).text("period", ban.period);
            break;
        }
        case ListKind::Maps: {
            const list_fields::MapFields map = list_fields::mapFields(entry);
            line.number("index", map.index).text("name", map.name).text("mode", map.mode).number("size", map.size);
            break;
        }
        }
        output_.writeReply(line.text("line", QByteArrayView(entry)).finish());
    }
}

void ReplyPrinter::end()
{
    finishReply("end");
}

void ReplyPrinter::timedOut()
{
    if (!inReply_ || format_ != ReplyFormat::Json)
        return;
    output_.writeReply(startObject(serverName_, command_, "timeout").finish());
    output_.flushReplies();
}

void ReplyPrinter::abandon()
{
    finishReply(nullptr);
}

// Prints what the reply still holds and, in JSON, the object that says how it
// ended (none for an abandoned reply).
void ReplyPrinter::finishReply(const char* jsonEnd)
{
    if (!inReply_)
        return;
    flushHeldLine();
    if (jsonEnd && format_ == ReplyFormat::Json)
        output_.writeReply(startObject(serverName_, command_, jsonEnd).finish());
    output_.flushReplies();
    inReply_ = false;
}

// Whole lines go out at once; the unfinished last one is held, up to its bound.
void ReplyPrinter::takeLines(QByteArrayView bytes)
{
    while (!bytes.isEmpty()) {
        const qsizetype lineFeed = bytes.indexOf('\n');
        const QByteArrayView piece = lineFeed < 0 ? bytes : bytes.first(lineFeed);
        const qsizetype room = kMaxHeldLine - heldLine_.size();
        if (piece.size() > room) {
            heldLine_.append(piece.first(room));
            flushHeldLine();
            bytes = bytes.sliced(room);
            continue;
        }
        if (lineFeed < 0) {
            heldLine_.append(piece);
            return;
        }
        if (heldLine_.isEmpty()) {
            writeLine(piece);
        } else {
            heldLine_.append(piece);
            flushHeldLine();
        }
        bytes = bytes.sliced(lineFeed + 1);
    }
}

void ReplyPrinter::flushHeldLine()
{
    if (heldLine_.isEmpty())
        return;
    writeLine(heldLine_);
    heldLine_.clear();
}

void ReplyPrinter::writeLine(QByteArrayView line)
{
    if (format_ == ReplyFormat::Json) {
        output_.writeReply(startObject(serverName_, command_, "text").text("text", line).finish());
        return;
    }
    output_.writeReply(linePrefix_ + serverTextAsUtf8(line) + '\n');
}
