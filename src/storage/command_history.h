#pragma once

// The console commands sent before, for Up and Down in the command box: the
// latest 500, kept across restarts in a file its user alone may read. A
// login command, in any case and after any blanks, is never kept, nor a
// command that holds the password: they would let anyone who reads the file
// log in.

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

class CommandHistory
{
public:
    static constexpr qsizetype kMaxCommands = 500;
    // The history is read from its end: twice what 500 commands of the most a
    // server takes (1,021 bytes and the line end) fill, whatever the file's size.
    static constexpr qsizetype kMaxReadBytes = 1024 * 1024;

    // Reads the history from the end of `path`; an empty path keeps it in
    // memory only. A missing or unreadable file is an empty history.
    explicit CommandHistory(QString path = {});

    const QList<QByteArray>& commands() const { return commands_; }

    // Adds a command that was sent, and writes the history back: the file's
    // history as it is now, with what another window added meanwhile, and
    // this window's commands after it. An empty command, a login, a command
    // holding `password` (the one in use) where it stands as the password
    // (see secrets::blotSecrets), or the same command as the last one adds
    // nothing. Raises FileError when the file cannot be written; the command
    // is then written with the next one.
    void add(const QByteArray& command, QByteArrayView password = {});

    // Walking the history: the command before the one shown, or after it; the
    // walk starts again after the newest at every add. `current` is what the
    // box holds, given back when the walk comes past the newest command.
    QByteArray older(const QByteArray& current);
    QByteArray newer();

private:
    void save();

    QString path_;
    QList<QByteArray> commands_;
    qsizetype position_ = 0; // commands_.size(): past the newest
    QByteArray draft_;
    QList<QByteArray> unsaved_; // added here, not yet in the file
};
