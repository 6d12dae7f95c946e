#pragma once

// A server's state changed by console commands as a stock server would take
// them, so that a plan's commands can be run without a network: a value
// stands between the first and the last double quote or is one word, a
// removal names an index that must exist, and an added ban must be new.
// It shares no code with the planner, so it checks the planner. Names are
// matched as the planner spells them.

#include "desired/server_state.h"

#include <QByteArray>
#include <QList>
#include <QStringList>

struct Simulation
{
    ServerState end;
    QStringList faults;           // commands the server would refuse, and why
    bool rotationEmptied = false; // a command left the rotation empty
    int saves = 0;
};

inline Simulation simulate(const ServerState& start, const QList<QByteArray>& commands)
{
    Simulation run{start, {}, false, 0};
    ServerState& state = run.end;
    const auto fault = [&](const QByteArray& command, const char* why) {
        run.faults.append(QString::fromLatin1(command + ": " + why));
    };
    const auto findBan = [&](const QByteArray& id, bool address) {
        return std::find_if(state.bans.begin(), state.bans.end(), [&](const StateBan& b) {
            return b.isAddress == address && b.ban.compare(id, Qt::CaseInsensitive) == 0;
        });
    };
    for (qsizetype i = 0; i < commands.size(); ++i) {
        const QByteArray& command = commands[i];
        const qsizetype space = command.indexOf(' ', 5);
        const QByteArray method = command.mid(5, space < 0 ? -1 : space - 5);
        const QByteArray args = space < 0 ? QByteArray() : command.mid(space + 1).trimmed();
        QList<QByteArray> words = args.split(' ');
        words.removeAll(QByteArray());
        const bool address = method.contains("Address");
        bool number = false;
        const qint64 value = words.value(words.size() - 1).toLongLong(&number);

        if (!command.startsWith("exec ")) {
            fault(command, "is not a console command");
        } else if (method.startsWith("sv.")) {
            const qsizetype first = args.indexOf('"'), last = args.lastIndexOf('"');
            if (words.isEmpty())
                fault(command, "asks for the value instead of setting it");
            else
                state.settings.insert(method,
                                      first >= 0 && last > first ? args.mid(first + 1, last - first - 1) : words[0]);
        } else if (method == "admin.addKeyToBanList" || method == "admin.addAddressToBanList") {
            if (words.size() != 2 || (words[1] != "perm" && !(number && value > 0)))
                fault(command, "takes an id and perm or seconds");
            else if (findBan(words[0], address) != state.bans.end())
                fault(command, "is banned already");
            else
                state.bans.append({words[0], address, number ? StateBan::Period::Seconds : StateBan::Period::Perm,
                                   number ? value : 0});
        } else if (method == "admin.removeKeyFromBanList" || method == "admin.removeAddressFromBanList") {
            const auto found = findBan(words.value(0), address);
            if (words.size() != 1 || found == state.bans.end())
                fault(command, "names no ban");
            else
                state.bans.erase(found);
        } else if (method == "mapList.append" && words.size() == 3 && number) {
            state.rotation.append({words[0], words[1], int(value)});
        } else if (method == "mapList.remove" && words.size() == 1 && number && value >= 0
                   && value < state.rotation.size()) {
            state.rotation.removeAt(value);
            run.rotationEmptied = run.rotationEmptied || state.rotation.isEmpty();
        } else if (method == "mapList.save" && args.isEmpty()) {
            ++run.saves;
            if (i != commands.size() - 1)
                fault(command, "is not the last command");
        } else {
            fault(command, "is refused");
        }
    }
    return run;
}
