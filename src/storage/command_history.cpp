#include "storage/command_history.h"

#include "core/errors.h"
#include "core/secrets.h"
#include "storage/file_locations.h"
#include "storage/text_file.h"
#include "storage/writer_lock.h"

CommandHistory::CommandHistory(QString path)
    : path_(std::move(path))
{
    if (!path_.isEmpty()) {
        try {
            TextFileReader reader;
            reader.open(path_, false);
            reader.skipToLastBytes(kMaxReadBytes);
            while (!reader.atEnd()) {
                QByteArray command = reader.readLine();
                // A login kept by an older copy goes at the next save.
                if (!command.isEmpty() && !secrets::holdsSecret(command, {}))
                    commands_.append(std::move(command));
            }
        } catch (const FileError&) {
            // A history that cannot be read starts empty; the next add writes it anew.
        }
        commands_.removeAll(QByteArray());
        if (commands_.size() > kMaxCommands)
            commands_ = commands_.mid(commands_.size() - kMaxCommands);
    }
    position_ = commands_.size();
}

void CommandHistory::add(const QByteArray& command, QByteArrayView password)
{
    position_ = commands_.size();
    draft_.clear();
    if (command.isEmpty() || secrets::holdsSecret(command, password))
        return;
    if (!commands_.isEmpty() && commands_.last() == command)
        return;
    commands_.append(command);
    unsaved_.append(command);
    if (commands_.size() > kMaxCommands)
        commands_.removeFirst();
    if (unsaved_.size() > kMaxCommands)
        unsaved_.removeFirst();
    position_ = commands_.size();
    save();
}

QByteArray CommandHistory::older(const QByteArray& current)
{
    if (position_ == commands_.size())
        draft_ = current;
    if (position_ > 0)
        --position_;
    return position_ < commands_.size() ? commands_[position_] : draft_;
}

QByteArray CommandHistory::newer()
{
    if (position_ < commands_.size())
        ++position_;
    return position_ < commands_.size() ? commands_[position_] : draft_;
}

void CommandHistory::save()
{
    if (path_.isEmpty())
        return;
    makePrivateFolderFor(path_);
    WriterLock lock(path_);
    lock.require(WriterLock::kSaveWait);
    QList<QByteArray> merged = CommandHistory(path_).commands_;
    for (const QByteArray& command : unsaved_)
        if (merged.isEmpty() || merged.last() != command)
            merged.append(command);
    if (merged.size() > kMaxCommands)
        merged = merged.mid(merged.size() - kMaxCommands);
    // What was typed may hold a server's variables or secrets: its user's
    // alone, in the user's private folder, never through a link.
    TextFileWriter writer(path_, 0600, {.followLinks = false, .othersFiles = false});
    for (const QByteArray& command : merged)
        writer.writeLine(command);
    writer.commit();
    unsaved_.clear();
    commands_ = std::move(merged);
    position_ = commands_.size();
}
