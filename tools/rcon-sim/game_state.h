#pragma once

// The practice server's game: players, bans, the map rotation, the chat and the
// demo recorder, changed by console commands the way a game server changes
// them. No sockets and no clock here, so every rule can be driven by execute.

#include <QByteArray>
#include <QList>
#include <QRandomGenerator>

#include <optional>

struct SimPlayer
{
    int id = -1; // -1 lets addPlayer pick the lowest free id
    QByteArray name;
    QByteArray address;
    quint16 port = 0;
    QByteArray keyHash;
};

enum class BanKind { Round, Perm, Timed };

struct SimBan
{
    QByteArray keyHash;
    BanKind kind = BanKind::Perm;
    int secondsLeft = 0; // only for timed bans

    friend bool operator==(const SimBan&, const SimBan&) = default;
};

// A ban of an address rather than of a key, with the same kinds.
struct SimAddressBan
{
    QByteArray address;
    BanKind kind = BanKind::Perm;
    int secondsLeft = 0;
};

// What one step of player churn did; each player as they are after the step.
struct SimChurn
{
    std::optional<SimPlayer> left;
    std::optional<SimPlayer> joined;
    std::optional<SimPlayer> renamed; // same key hash, a new name
    std::optional<SimPlayer> moved;   // same key hash and name, a new address
};

struct SimMap
{
    QByteArray name;
    QByteArray mode = "gpm_cq";
    QByteArray size = "64";

    friend bool operator==(const SimMap&, const SimMap&) = default;
};

struct SimChatLine
{
    int team = 0; // 0 for everyone, else 1 or 2
    QByteArray text;

    friend bool operator==(const SimChatLine&, const SimChatLine&) = default;
};

struct SimDemo
{
    QByteArray name;
    bool stopped = false;

    friend bool operator==(const SimDemo&, const SimDemo&) = default;
};

class GameState
{
public:
    GameState() = default;

    // Plausible players, bans and maps. The same counts always give the same
    // game, so a test can rely on what it finds.
    static GameState generated(int players, int bans, int maps);

    // Runs one console command (what follows "exec ") and gives the console's
    // reply; commands that change the game give the empty text. Besides the
    // commands of the administration tabs, the common sv.* settings (see
    // setting) answer with their value when given none and take one when
    // given it, admin.currentLevel (like mapList.currentMap) answers with the
    // index of the map being played in the rotation, and admin.nextLevel with
    // the index of the map to come, or sets it.
    QByteArray execute(const QByteArray& command);

    // The value of a setting ("sv.ticketRatio", in any case), or nothing for a
    // setting the server does not have.
    std::optional<QByteArray> setting(const QByteArray& name) const;

    // The listings, as the console prints them.
    QByteArray playerListing() const;
    QByteArray banListing() const;
    QByteArray addressBanListing() const;
    QByteArray mapListing() const;

    // Puts a player on the server and gives its id. A player with an id that is
    // already taken replaces the one who had it.
    int addPlayer(SimPlayer player);
    const QList<SimPlayer>& players() const { return players_; }

    // A ban of a key that is banned already changes that ban's kind.
    void addBan(const SimBan& ban);
    const QList<SimBan>& bans() const { return bans_; }
    // Likewise for the address bans.
    void addAddressBan(const SimAddressBan& ban);
    const QList<SimAddressBan>& addressBans() const { return addressBans_; }

    // One step of the comings and goings of a busy server: a player present
    // leaves and a recruit ("Recruit 1", "Recruit 2" and so on, with a fresh
    // key hash) joins on the lowest free id; now and then a player present
    // takes a new name or comes back from a new address. The same seed always
    // gives the same steps.
    SimChurn churnStep();
    void seedChurn(quint32 seed) { churnRandom_.seed(seed); }

    void setRotation(const QList<SimMap>& maps);
    const QList<SimMap>& rotation() const { return rotation_; }
    // The rotation as it was at the latest save, and how many saves there were.
    const QList<SimMap>& savedRotation() const { return savedRotation_; }
    int saveCount() const { return saveCount_; }

    int currentMapIndex() const { return currentMap_; }
    // The map admin.runNextLevel goes to.
    int nextMapIndex() const;
    int restartCount() const { return restarts_; }
    bool paused() const { return paused_; }

    const QList<SimChatLine>& chat() const { return chat_; }
    const QList<SimDemo>& demos() const { return demos_; }
    bool recording() const { return !demos_.isEmpty() && !demos_.last().stopped; }

private:
    QByteArray kickPlayer(const QByteArray& args);
    QByteArray banPlayerKey(const QByteArray& args);
    QByteArray addKeyToBanList(const QByteArray& args);
    QByteArray removeKeyFromBanList(const QByteArray& args);
    QByteArray clearBanList(const QByteArray& args);
    QByteArray addAddressToBanList(const QByteArray& args);
    QByteArray removeAddressFromBanList(const QByteArray& args);
    QByteArray currentLevel(const QByteArray& args);
    QByteArray appendMap(const QByteArray& args);
    QByteArray removeMap(const QByteArray& args);
    QByteArray saveMaps(const QByteArray& args);
    QByteArray clearMaps(const QByteArray& args);
    QByteArray nextLevel(const QByteArray& args);
    QByteArray runNextLevel(const QByteArray& args);
    QByteArray restartMap(const QByteArray& args);
    QByteArray togglePause(const QByteArray& args);
    QByteArray sayAll(const QByteArray& args);
    QByteArray sayTeam(const QByteArray& args);
    QByteArray recordDemo(const QByteArray& args);
    QByteArray stopRecording(const QByteArray& args);

    qsizetype playerIndex(const QByteArray& idText) const;
    void startNewRound();

    QList<SimPlayer> players_; // kept in order of id
    QList<SimBan> bans_;
    QList<SimAddressBan> addressBans_;
    QList<SimMap> rotation_;
    QList<SimMap> savedRotation_;
    int saveCount_ = 0;
    int currentMap_ = 0;
    int restarts_ = 0;
    bool paused_ = false;
    QList<SimChatLine> chat_;
    QList<SimDemo> demos_;
    std::optional<int> nextMap_; // set by admin.nextLevel; else the map after the current one
    // The settings, each by its name as the server spells it; looked up in any case.
    struct Setting
    {
        QByteArray name;
        QByteArray value;
    };
    QList<Setting> settings_ = defaultSettings();
    static QList<Setting> defaultSettings();
    Setting* findSetting(const QByteArray& name);
    QRandomGenerator churnRandom_{1};
    int recruits_ = 0;
};
