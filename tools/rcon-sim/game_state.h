#pragma once

// The practice server's game: players, bans, the map rotation, the chat and the
// demo recorder, changed by console commands the way a game server changes
// them. No sockets and no clock here, so every rule can be driven by Execute.

#include <QByteArray>
#include <QList>

struct SimPlayer
{
    int id = -1; // -1 lets AddPlayer pick the lowest free id
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
    static GameState Generated(int players, int bans, int maps);

    // Runs one console command (what follows "exec ") and gives the console's
    // reply; commands that change the game give the empty text.
    QByteArray Execute(const QByteArray& command);

    // The three listings, as the console prints them.
    QByteArray PlayerListing() const;
    QByteArray BanListing() const;
    QByteArray MapListing() const;

    // Puts a player on the server and gives its id. A player with an id that is
    // already taken replaces the one who had it.
    int AddPlayer(SimPlayer player);
    const QList<SimPlayer>& Players() const { return players_; }

    // A ban of a key that is banned already changes that ban's kind.
    void AddBan(const SimBan& ban);
    const QList<SimBan>& Bans() const { return bans_; }

    void SetRotation(const QList<SimMap>& maps);
    const QList<SimMap>& Rotation() const { return rotation_; }
    // The rotation as it was at the latest save, and how many saves there were.
    const QList<SimMap>& SavedRotation() const { return savedRotation_; }
    int SaveCount() const { return saveCount_; }

    int CurrentMapIndex() const { return currentMap_; }
    int RestartCount() const { return restarts_; }
    bool Paused() const { return paused_; }

    const QList<SimChatLine>& Chat() const { return chat_; }
    const QList<SimDemo>& Demos() const { return demos_; }
    bool Recording() const { return !demos_.isEmpty() && !demos_.last().stopped; }

private:
    QByteArray KickPlayer(const QByteArray& args);
    QByteArray BanPlayerKey(const QByteArray& args);
    QByteArray AddKeyToBanList(const QByteArray& args);
    QByteArray RemoveKeyFromBanList(const QByteArray& args);
    QByteArray ClearBanList(const QByteArray& args);
    QByteArray AppendMap(const QByteArray& args);
    QByteArray RemoveMap(const QByteArray& args);
    QByteArray SaveMaps(const QByteArray& args);
    QByteArray RunNextLevel(const QByteArray& args);
    QByteArray RestartMap(const QByteArray& args);
    QByteArray TogglePause(const QByteArray& args);
    QByteArray SayAll(const QByteArray& args);
    QByteArray SayTeam(const QByteArray& args);
    QByteArray RecordDemo(const QByteArray& args);
    QByteArray StopRecording(const QByteArray& args);

    qsizetype PlayerIndex(const QByteArray& idText) const;
    void StartNewRound();

    QList<SimPlayer> players_; // kept in order of id
    QList<SimBan> bans_;
    QList<SimMap> rotation_;
    QList<SimMap> savedRotation_;
    int saveCount_ = 0;
    int currentMap_ = 0;
    int restarts_ = 0;
    bool paused_ = false;
    QList<SimChatLine> chat_;
    QList<SimDemo> demos_;
};
