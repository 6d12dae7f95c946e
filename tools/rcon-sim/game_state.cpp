#include "game_state.h"

#include <QRandomGenerator>

#include <algorithm>
#include <optional>
#include <utility>

namespace {

// The word before the first blank, and everything after that blank.
std::pair<QByteArray, QByteArray> splitFirstWord(const QByteArray& text)
{
    const qsizetype blank = text.indexOf(' ');
    if (blank < 0)
        return {text, {}};
    return {text.left(blank), text.mid(blank + 1)};
}

// Everything before the last blank (trimmed), and the word after it.
std::pair<QByteArray, QByteArray> splitLastWord(const QByteArray& text)
{
    const QByteArray trimmed = text.trimmed();
    const qsizetype blank = trimmed.lastIndexOf(' ');
    if (blank < 0)
        return {{}, trimmed};
    return {trimmed.left(blank).trimmed(), trimmed.mid(blank + 1)};
}

QList<QByteArray> wordsOf(const QByteArray& text)
{
    QList<QByteArray> words = text.split(' ');
    words.removeAll(QByteArray());
    return words;
}

// Chat texts stand between the first and the last double quote; nothing inside
// is unescaped, as the console does not escape either.
QByteArray quotedText(const QByteArray& text)
{
    const qsizetype first = text.indexOf('"');
    const qsizetype last = text.lastIndexOf('"');
    if (first < 0 || last <= first)
        return text;
    return text.mid(first + 1, last - first - 1);
}

std::optional<BanKind> banKindOf(const QByteArray& word)
{
    const QByteArray lower = word.toLower();
    if (lower == "perm")
        return BanKind::Perm;
    if (lower == "round")
        return BanKind::Round;
    return std::nullopt;
}

// The period of a ban added to a list: "perm", "round", or a number of
// seconds for a timed ban.
struct BanPeriod
{
    BanKind kind = BanKind::Perm;
    int secondsLeft = 0;
};

std::optional<BanPeriod> banPeriodOf(const QByteArray& word)
{
    if (const std::optional<BanKind> kind = banKindOf(word))
        return BanPeriod{*kind, 0};
    bool isNumber = false;
    const int seconds = word.toInt(&isNumber);
    if (isNumber && seconds > 0)
        return BanPeriod{BanKind::Timed, seconds};
    return std::nullopt;
}

QByteArray randomHash(QRandomGenerator& random)
{
    static const char digits[] = "0123456789abcdef";
    QByteArray hash;
    for (int i = 0; i < 32; ++i)
        hash += digits[random.bounded(16)];
    return hash;
}

QByteArray randomAddress(QRandomGenerator& random)
{
    return QByteArray::number(random.bounded(24, 224)) + '.' + QByteArray::number(random.bounded(256)) + '.'
        + QByteArray::number(random.bounded(256)) + '.' + QByteArray::number(random.bounded(1, 255));
}

quint16 randomPort(QRandomGenerator& random)
{
    return quint16(random.bounded(1024, 65536));
}

// How a ban's kind ends its line in the ban listings.
QByteArray banTail(BanKind kind, int secondsLeft)
{
    switch (kind) {
    case BanKind::Perm: return " Perm\n";
    case BanKind::Round: return " Round\n";
    case BanKind::Timed: return " Time Left: " + QByteArray::number(secondsLeft) + '\n';
    }
    return "\n";
}

} // namespace

GameState GameState::generated(int players, int bans, int maps)
{
    static const char* const names[] = {
        "Sgt.Harper", "[TFK]Mad_Dog",   "Kowalski", "Lt.Dan",   "xX_Sniper_Xx", "Vasek_CZ",
        "Medic!",     "Ghost_of_Kubra", "Pvt.Pyle", "ZeroCool", "Tank_Girl",    "Wombat",
    };
    static const SimMap mapTable[] = {
        {"strike_at_karkand", "gpm_cq", "64"}, {"gulf_of_oman", "gpm_cq", "64"},
        {"sharqi_peninsula", "gpm_cq", "32"},  {"kubra_dam", "gpm_cq", "64"},
        {"mashtuur_city", "gpm_cq", "32"},     {"dalian_plant", "gpm_cq", "64"},
        {"daqing_oilfields", "gpm_cq", "64"},  {"dragon_valley", "gpm_cq", "64"},
        {"fushe_pass", "gpm_cq", "64"},        {"hingan_hills", "gpm_cq", "32"},
        {"songhua_stalemate", "gpm_cq", "64"}, {"wake_island_2007", "gpm_cq", "64"},
        {"zatar_wetlands", "gpm_cq", "64"},    {"operation_clean_sweep", "gpm_cq", "64"},
    };
    static const char* const sizes[] = {"16", "32", "64"};

    QRandomGenerator random(20050621);
    GameState game;
    constexpr int nameCount = int(std::size(names));
    for (int i = 0; i < players; ++i) {
        SimPlayer player;
        player.name = i < nameCount ? QByteArray(names[i]) : "Recruit" + QByteArray::number(i - nameCount + 1);
        player.address = randomAddress(random);
        player.port = randomPort(random);
        player.keyHash = randomHash(random);
        game.addPlayer(player);
    }
    static const BanKind kinds[] = {BanKind::Perm, BanKind::Round, BanKind::Timed};
    for (int i = 0; i < bans; ++i)
        game.addBan({randomHash(random), kinds[i % 3], 600 * (i + 1)});
    constexpr int mapCount = int(std::size(mapTable));
    for (int i = 0; i < maps; ++i) {
        SimMap map = mapTable[i % mapCount];
        if (i >= mapCount) // a second pass through the table plays the maps at other sizes
            map.size = sizes[(i / mapCount) % 3];
        game.rotation_.append(map);
    }
    return game;
}

QByteArray GameState::execute(const QByteArray& command)
{
    using Handler = QByteArray (GameState::*)(const QByteArray&);
    struct Method
    {
        const char* name; // lower case: the console ignores the case of names
        Handler handler;
    };
    static const Method methods[] = {
        {"admin.kickplayer", &GameState::kickPlayer},
        {"admin.banplayerkey", &GameState::banPlayerKey},
        {"admin.addkeytobanlist", &GameState::addKeyToBanList},
        {"admin.removekeyfrombanlist", &GameState::removeKeyFromBanList},
        {"admin.clearbanlist", &GameState::clearBanList},
        {"admin.addaddresstobanlist", &GameState::addAddressToBanList},
        {"admin.removeaddressfrombanlist", &GameState::removeAddressFromBanList},
        {"admin.currentlevel", &GameState::currentLevel},
        {"maplist.currentmap", &GameState::currentLevel},
        {"maplist.append", &GameState::appendMap},
        {"maplist.remove", &GameState::removeMap},
        {"maplist.save", &GameState::saveMaps},
        {"maplist.clear", &GameState::clearMaps},
        {"admin.nextlevel", &GameState::nextLevel},
        {"admin.runnextlevel", &GameState::runNextLevel},
        {"admin.restartmap", &GameState::restartMap},
        {"gamelogic.togglepause", &GameState::togglePause},
        {"game.sayall", &GameState::sayAll},
        {"game.sayteam", &GameState::sayTeam},
        {"demo.recorddemo", &GameState::recordDemo},
        {"demo.stoprecording", &GameState::stopRecording},
    };

    const auto [name, args] = splitFirstWord(command);
    const QByteArray method = name.toLower();
    if (method == "admin.listplayers")
        return playerListing();
    if (method == "admin.listbannedkeys")
        return banListing();
    if (method == "admin.listbannedaddresses")
        return addressBanListing();
    if (method == "maplist.list")
        return mapListing();
    // The server's settings: read with no value, set with one.
    if (Setting* setting = findSetting(method)) {
        if (args.trimmed().isEmpty())
            return setting->value + '\n';
        setting->value = quotedText(args.trimmed());
        return {};
    }
    for (const Method& m : methods) {
        if (method == m.name)
            return (this->*m.handler)(args);
    }
    return "Unknown object or method!\n";
}

QList<GameState::Setting> GameState::defaultSettings()
{
    return {
        {"sv.serverName", "Ravelin practice server"},
        {"sv.maxPlayers", "64"},
        {"sv.welcomeMessage", "Welcome to the practice server"},
        {"sv.ticketRatio", "100"},
        {"sv.roundsPerMap", "3"},
        {"sv.timeLimit", "0"},
        {"sv.scoreLimit", "0"},
        {"sv.spawnTime", "15"},
        {"sv.manDownTime", "15"},
        {"sv.teamRatioPercent", "100"},
        {"sv.autoBalanceTeam", "1"},
        {"sv.numPlayersNeededToStart", "2"},
        {"sv.autoRecord", "0"},
        {"sv.punishTeamKills", "1"},
        {"sv.voipEnabled", "1"},
    };
}

GameState::Setting* GameState::findSetting(const QByteArray& name)
{
    for (Setting& setting : settings_) {
        if (setting.name.compare(name, Qt::CaseInsensitive) == 0)
            return &setting;
    }
    return nullptr;
}

std::optional<QByteArray> GameState::setting(const QByteArray& name) const
{
    for (const Setting& setting : settings_) {
        if (setting.name.compare(name, Qt::CaseInsensitive) == 0)
            return setting.value;
    }
    return std::nullopt;
}

QByteArray GameState::playerListing() const
{
    QByteArray out;
    for (const SimPlayer& p : players_) {
        out += "Id: " + QByteArray::number(p.id).rightJustified(2, ' ') + " - " + p.name + " is remote ip: " + p.address
            + ':' + QByteArray::number(p.port) + " ->\n";
        out += QByteArray(9, ' ') + "CD-key hash: " + p.keyHash + '\n';
    }
    return out;
}

QByteArray GameState::banListing() const
{
    QByteArray out;
    for (const SimBan& ban : bans_)
        out += "Key: " + ban.keyHash + banTail(ban.kind, ban.secondsLeft);
    return out;
}

QByteArray GameState::addressBanListing() const
{
    QByteArray out;
    for (const SimAddressBan& ban : addressBans_)
        out += "IP: " + ban.address + banTail(ban.kind, ban.secondsLeft);
    return out;
}

QByteArray GameState::mapListing() const
{
    QByteArray out;
    for (qsizetype i = 0; i < rotation_.size(); ++i) {
        const SimMap& map = rotation_[i];
        out += QByteArray::number(i) + ": \"" + map.name + "\" " + map.mode + ' ' + map.size + '\n';
    }
    return out;
}

int GameState::addPlayer(SimPlayer player)
{
    if (player.id < 0) {
        player.id = 0;
        for (const SimPlayer& p : players_) { // kept in order of id, so the first gap is the lowest free id
            if (p.id != player.id)
                break;
            ++player.id;
        }
    }
    const auto at = std::lower_bound(players_.begin(), players_.end(), player.id,
                                     [](const SimPlayer& p, int id) { return p.id < id; });
    if (at != players_.end() && at->id == player.id)
        *at = player;
    else
        players_.insert(at, player);
    return player.id;
}

void GameState::addBan(const SimBan& ban)
{
    for (SimBan& existing : bans_) {
        if (existing.keyHash == ban.keyHash) {
            existing = ban;
            return;
        }
    }
    bans_.append(ban);
}

void GameState::addAddressBan(const SimAddressBan& ban)
{
    for (SimAddressBan& existing : addressBans_) {
        if (existing.address == ban.address) {
            existing = ban;
            return;
        }
    }
    addressBans_.append(ban);
}

SimChurn GameState::churnStep()
{
    static const char* const nicknames[] = {"Nomad", "Viper", "Sarge", "Bishop", "Hudson", "Drake", "Hicks", "Apone"};

    SimChurn step;
    if (!players_.isEmpty())
        step.left = players_.takeAt(churnRandom_.bounded(int(players_.size())));

    SimPlayer recruit;
    recruit.name = "Recruit " + QByteArray::number(++recruits_);
    recruit.address = randomAddress(churnRandom_);
    recruit.port = randomPort(churnRandom_);
    recruit.keyHash = randomHash(churnRandom_);
    recruit.id = addPlayer(recruit);
    step.joined = recruit;

    // Someone who was there before this step, for a new name or a new address.
    const int roll = churnRandom_.bounded(4);
    if (roll > 1 || players_.size() < 2)
        return step;
    qsizetype index = churnRandom_.bounded(int(players_.size()) - 1);
    if (players_[index].id == recruit.id)
        index = players_.size() - 1;
    SimPlayer& player = players_[index];
    if (roll == 0) {
        const QByteArray old = player.name;
        while (player.name == old) {
            player.name = nicknames[churnRandom_.bounded(int(std::size(nicknames)))] + QByteArray("_")
                + QByteArray::number(churnRandom_.bounded(10, 100));
        }
        step.renamed = player;
    } else {
        // A player who comes back from elsewhere comes from a new port too.
        const QByteArray old = player.address;
        while (player.address == old)
            player.address = randomAddress(churnRandom_);
        player.port = randomPort(churnRandom_);
        step.moved = player;
    }
    return step;
}

void GameState::setRotation(const QList<SimMap>& maps)
{
    rotation_ = maps;
    currentMap_ = 0;
    nextMap_.reset();
}

int GameState::nextMapIndex() const
{
    if (rotation_.isEmpty())
        return 0;
    if (nextMap_ && *nextMap_ < rotation_.size())
        return *nextMap_;
    return (currentMap_ + 1) % int(rotation_.size());
}

qsizetype GameState::playerIndex(const QByteArray& idText) const
{
    bool ok = false;
    const int id = idText.trimmed().toInt(&ok);
    if (!ok)
        return -1;
    for (qsizetype i = 0; i < players_.size(); ++i) {
        if (players_[i].id == id)
            return i;
    }
    return -1;
}

QByteArray GameState::kickPlayer(const QByteArray& args)
{
    const qsizetype index = playerIndex(args);
    if (index < 0)
        return "error: no player with id '" + args.trimmed() + "'\n";
    players_.removeAt(index);
    return {};
}

QByteArray GameState::banPlayerKey(const QByteArray& args)
{
    const auto [idText, kindWord] = splitLastWord(args);
    const std::optional<BanPeriod> period = banPeriodOf(kindWord);
    if (!period)
        return "error: a ban is for the round, perm or a number of seconds\n";
    const qsizetype index = playerIndex(idText);
    if (index < 0)
        return "error: no player with id '" + idText + "'\n";
    addBan({players_[index].keyHash, period->kind, period->secondsLeft});
    players_.removeAt(index);
    return {};
}

QByteArray GameState::addKeyToBanList(const QByteArray& args)
{
    auto [key, periodWord] = splitLastWord(args);
    std::optional<BanPeriod> period = banPeriodOf(periodWord);
    if (!period || key.isEmpty()) { // no period given: the whole text is the key, banned for good
        key = args.trimmed();
        period = BanPeriod{};
    }
    if (key.isEmpty())
        return "error: no key given\n";
    addBan({key, period->kind, period->secondsLeft});
    return {};
}

QByteArray GameState::removeKeyFromBanList(const QByteArray& args)
{
    // The key as sent first, so that keys with odd bytes at their ends can be lifted too.
    for (const QByteArray& key : {args, args.trimmed()}) {
        for (qsizetype i = 0; i < bans_.size(); ++i) {
            if (bans_[i].keyHash == key) {
                bans_.removeAt(i);
                return {};
            }
        }
    }
    return "error: no ban for key '" + args + "'\n";
}

// Clears the key and the address bans alike, as the console does.
QByteArray GameState::clearBanList(const QByteArray&)
{
    bans_.clear();
    addressBans_.clear();
    return {};
}

QByteArray GameState::addAddressToBanList(const QByteArray& args)
{
    auto [address, periodWord] = splitLastWord(args);
    std::optional<BanPeriod> period = banPeriodOf(periodWord);
    if (!period || address.isEmpty()) {
        address = args.trimmed();
        period = BanPeriod{};
    }
    if (address.isEmpty())
        return "error: no address given\n";
    addAddressBan({address, period->kind, period->secondsLeft});
    return {};
}

QByteArray GameState::removeAddressFromBanList(const QByteArray& args)
{
    const QByteArray address = args.trimmed();
    for (qsizetype i = 0; i < addressBans_.size(); ++i) {
        if (addressBans_[i].address == address) {
            addressBans_.removeAt(i);
            return {};
        }
    }
    return "error: no ban for address '" + address + "'\n";
}

QByteArray GameState::currentLevel(const QByteArray&)
{
    return QByteArray::number(currentMap_) + '\n';
}

QByteArray GameState::appendMap(const QByteArray& args)
{
    const QList<QByteArray> words = wordsOf(args);
    if (words.isEmpty())
        return "error: no map name given\n";
    if (words.size() > 3)
        return "error: a map is a name, a mode and a size\n";
    SimMap map;
    map.name = words[0];
    if (words.size() > 1)
        map.mode = words[1];
    if (words.size() > 2)
        map.size = words[2];
    rotation_.append(map);
    return {};
}

QByteArray GameState::removeMap(const QByteArray& args)
{
    bool ok = false;
    const int index = args.trimmed().toInt(&ok);
    if (!ok || index < 0 || index >= rotation_.size())
        return "error: no map at index '" + args.trimmed() + "'\n";
    rotation_.removeAt(index);
    if (index < currentMap_)
        --currentMap_;
    if (currentMap_ >= rotation_.size())
        currentMap_ = 0;
    // The map chosen to come next keeps its place, or the choice goes with it.
    if (nextMap_ && index < *nextMap_)
        --*nextMap_;
    else if (nextMap_ && index == *nextMap_)
        nextMap_.reset();
    return {};
}

QByteArray GameState::saveMaps(const QByteArray&)
{
    savedRotation_ = rotation_;
    ++saveCount_;
    return {};
}

// A new round lifts the bans that were only for the round, and play resumes.
void GameState::startNewRound()
{
    bans_.removeIf([](const SimBan& ban) { return ban.kind == BanKind::Round; });
    addressBans_.removeIf([](const SimAddressBan& ban) { return ban.kind == BanKind::Round; });
    paused_ = false;
}

// Empties the rotation; a choice of the next map goes with it.
QByteArray GameState::clearMaps(const QByteArray&)
{
    rotation_.clear();
    currentMap_ = 0;
    nextMap_.reset();
    return {};
}

QByteArray GameState::nextLevel(const QByteArray& args)
{
    if (args.trimmed().isEmpty())
        return QByteArray::number(nextMapIndex()) + '\n';
    bool ok = false;
    const int index = args.trimmed().toInt(&ok);
    if (!ok || index < 0 || index >= rotation_.size())
        return "error: no map at index '" + args.trimmed() + "'\n";
    nextMap_ = index;
    return {};
}

QByteArray GameState::runNextLevel(const QByteArray&)
{
    currentMap_ = nextMapIndex();
    nextMap_.reset();
    startNewRound();
    return {};
}

QByteArray GameState::restartMap(const QByteArray&)
{
    ++restarts_;
    startNewRound();
    return {};
}

QByteArray GameState::togglePause(const QByteArray&)
{
    paused_ = !paused_;
    return {};
}

QByteArray GameState::sayAll(const QByteArray& args)
{
    chat_.append({0, quotedText(args)});
    return {};
}

QByteArray GameState::sayTeam(const QByteArray& args)
{
    const auto [teamWord, rest] = splitFirstWord(args.trimmed());
    if (teamWord != "1" && teamWord != "2")
        return "error: the team is 1 or 2\n";
    chat_.append({teamWord.toInt(), quotedText(rest)});
    return {};
}

QByteArray GameState::recordDemo(const QByteArray& args)
{
    const QByteArray name = args.trimmed();
    if (name.isEmpty())
        return "error: no demo name given\n";
    for (const SimDemo& demo : demos_) {
        if (demo.name == name)
            return "error: a demo named '" + name + "' exists already\n";
    }
    if (recording())
        demos_.last().stopped = true;
    demos_.append({name, false});
    return {};
}

QByteArray GameState::stopRecording(const QByteArray&)
{
    if (recording())
        demos_.last().stopped = true;
    return {};
}
