#pragma once

// The servers an administrator keeps for the Servers menu: a name, an address
// and a port each, in the order they chose. They live in servers.txt in the
// per-user configuration folder, one server per line, the three fields
// separated by tabs, so the file stays easy to read and to edit by hand. The
// passwords are never in it: they go to the desktop's keyring, if anywhere.

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

struct SavedServer
{
    QByteArray name;
    QByteArray address;
    QByteArray port;

    // What the keyring knows the server's password by: the same address and
    // port share one password whatever they are called.
    QString keyringKey() const;
    friend bool operator==(const SavedServer&, const SavedServer&) = default;
};

class SavedServers
{
public:
    // The most servers kept; the menu stays usable.
    static constexpr qsizetype kMaxServers = 100;

    // Reads `path`; a missing file is an empty list. A line without a name or
    // an address is skipped. Raises FileError when the file cannot be read.
    static SavedServers load(const QString& path);

    // Writes the list to `path` (a private file in a private folder), under
    // the file's lock. `base` is the list this one was made from: when the
    // file no longer holds it, another window saved meanwhile, and what this
    // list changed (added, replaced, deleted) is made to the file's list
    // instead, so that neither window's servers are lost. Gives the list as
    // written. Raises FileError when it cannot be written, FileRefused when
    // another window holds the file or its list has no room left.
    SavedServers save(const QString& path, const SavedServers& base) const;

    const QList<SavedServer>& servers() const { return servers_; }
    bool isEmpty() const { return servers_.isEmpty(); }

    // Adds a server at the end, or replaces the one of the same name in its
    // place. Tabs and line breaks in the fields become blanks. False when the
    // list is full.
    bool put(SavedServer server);
    // Where a name is in the list.
    std::optional<qsizetype> indexOf(const QByteArray& name) const;

    void rename(qsizetype index, const QByteArray& name);
    void remove(qsizetype index);
    // Swaps the server at `index` with the one `step` places away, when there is one.
    void move(qsizetype index, qsizetype step);

    // True when another server than the one at `except` has the same keyring key.
    bool sharesPassword(const SavedServer& server, std::optional<qsizetype> except = std::nullopt) const;

private:
    QList<SavedServer> servers_;
};
