// Local files: password scrambling, the INI layer and the settings on it, the
// text-file rules, the grid file, and saving that never loses the stored file.

#include "core/errors.h"
#include "storage/audit_log.h"
#include "storage/command_history.h"
#include "storage/file_locations.h"
#include "storage/grid_file.h"
#include "storage/ini_file.h"
#include "storage/password_scramble.h"
#include "storage/saved_servers.h"
#include "storage/settings.h"
#include "storage/text_file.h"
#include "storage/writer_lock.h"
#include "support/printers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

void WriteBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    ASSERT_EQ(file.write(bytes), bytes.size());
}

QByteArray ReadBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

mode_t ModeOf(const QString& path)
{
    struct stat st
    {
    };
    stat(QFile::encodeName(path).constData(), &st);
    return st.st_mode & 07777;
}

void SetMode(const QString& path, mode_t mode)
{
    ASSERT_EQ(chmod(QFile::encodeName(path).constData(), mode), 0);
}

class StorageTest : public testing::Test
{
protected:
    QString Path(const QString& name) const { return dir_.filePath(name); }
    QTemporaryDir dir_;
};

// A grid held in memory that can be saved and loaded; cells[col][row].
struct MemoryGrid : GridSource, GridTarget
{
    QList<QList<QByteArray>> cells;

    MemoryGrid(int cols = 1, int rows = 20) { Resize(cols, rows); }
    void Resize(int cols, int rows)
    {
        cells.resize(cols);
        for (auto& column : cells)
            column.resize(rows);
    }
    int colCount() const override { return int(cells.size()); }
    int rowCount() const override { return int(cells.front().size()); }
    QByteArray cell(int col, int row) const override { return cells[col][row]; }
    void setColCount(int count) override { Resize(count, rowCount()); }
    void setRowCount(int count) override { Resize(colCount(), count); }
    void setCell(int col, int row, const QByteArray& text) override { cells[col][row] = text; }
};

int IoErrorOf(const std::function<void()>& action)
{
    try {
        action();
    } catch (const FileError& error) {
        return error.code();
    }
    return 0;
}

} // namespace

TEST(PasswordScramble, IsItsOwnInverseAndKeepsLengthAndUpperBits)
{
    const QByteArray key = scrambleKey();
    ASSERT_EQ(key.size(), 15);
    // Scrambling zero bytes shows the low four bits of the key in use.
    const QByteArray zeros = scramble(QByteArray(15, '\0'));
    for (qsizetype i = 0; i < key.size(); ++i)
        EXPECT_EQ(zeros[i], key[i] & 0x0F) << "character " << i;
    const QByteArray texts[] = {"", "a", "secret", QByteArray("\x00\x0F\x10\x7F\x80\xFF", 6),
                                "a password longer than fifteen characters"};
    for (const QByteArray& plain : texts) {
        const QByteArray scrambled = scramble(plain);
        EXPECT_EQ(unscramble(scrambled), plain);
        EXPECT_EQ(scramble(scrambled), plain);
        ASSERT_EQ(scrambled.size(), plain.size());
        for (qsizetype i = 0; i < plain.size(); ++i) {
            EXPECT_EQ(scrambled[i] & 0xF0, plain[i] & 0xF0) << "character " << i;
            EXPECT_NE(scrambled[i], plain[i]) << "character " << i << " left as it was";
        }
    }
}

TEST(PasswordScramble, WrapsAfterFifteenCharactersAndStaysStable)
{
    const QByteArray scrambled = scramble(QByteArray(40, 'A'));
    for (qsizetype i = 15; i < scrambled.size(); ++i)
        EXPECT_EQ(scrambled[i], scrambled[i - 15]) << "character " << i + 1;
    EXPECT_NE(scrambled.first(15), QByteArray(15, scrambled[0])) << "the key's characters differ";
    // Stored passwords depend on the key never changing: all fifteen positions pinned.
    EXPECT_EQ(scramble("password"), QByteArray("vbxv~kse"));
    EXPECT_EQ(scramble(QByteArray(15, '@')), QByteArray("FCKEIDAAHJFBMEG"));
}

TEST_F(StorageTest, IniWriteChangesOnlyTheKeyAndKeepsEveryOtherByte)
{
    struct Case
    {
        const char* before;
        const char* section;
        const char* key;
        const char* after;
    };
    const Case cases[] = {
        // Replacing a value: names match without regard to case and blanks.
        {"; top\r\n[Other]\r\nport=1\r\n\r\n[settings]\n  PORT = 7\nx=y\n", "Settings", "port",
         "; top\r\n[Other]\r\nport=1\r\n\r\n[settings]\n  PORT =new\nx=y\n"},
        {"[ Settings ]\r\nport=old\r\n[Next]\r\n", "Settings", "port", "[ Settings ]\r\nport=new\r\n[Next]\r\n"},
        // A new key goes after the section's last key, before its blank lines.
        {"[Settings]\r\na=1\r\n;note\r\n\r\n\r\n[Next]\r\nb=2\r\n", "Settings", "port",
         "[Settings]\r\na=1\r\nport=new\r\n;note\r\n\r\n\r\n[Next]\r\nb=2\r\n"},
        {"[Settings]\n\n[Next]\n", "Settings", "port", "[Settings]\nport=new\n\n[Next]\n"},
        {"[Settings]\r\na=1", "Settings", "port", "[Settings]\r\na=1\r\nport=new\r\n"},
        // A new section goes at the end of the file.
        {"[Other]\nk=v\n", "Settings", "port", "[Other]\nk=v\n[Settings]\nport=new\n"},
        {"; only a comment", "Settings", "port", "; only a comment\r\n[Settings]\r\nport=new\r\n"},
        {"", "Settings", "port", "[Settings]\r\nport=new\r\n"},
    };
    for (const Case& c : cases) {
        const QString path = Path("test.ini");
        WriteBytes(path, c.before);
        IniFile file(path);
        file.setValue(c.section, c.key, "new");
        EXPECT_TRUE(file.save()) << c.before;
        EXPECT_EQ(ReadBytes(path), QByteArray(c.after)) << c.before;
    }
}

TEST_F(StorageTest, IniReadFindsNamesLooselyAndCutsLongValues)
{
    const QString path = Path("test.ini");
    WriteBytes(path,
               "a=outside\r\n[One]\r\n;b=comment\r\nb= spaced \r\n[ TWO ]\nKey=x=y\n[two]\nkey=second\n"
               "[Long]\nv="
                   + QByteArray(3000, 'z') + "\n");
    const IniFile file(path);
    EXPECT_EQ(file.value("one", " B ", "-"), QByteArray(" spaced ")) << "the value keeps its blanks";
    EXPECT_EQ(file.value("Two", "KEY", "-"), QByteArray("x=y")) << "the first section and key count";
    EXPECT_EQ(file.value("One", "a", "-"), QByteArray("-")) << "keys before any section belong to none";
    EXPECT_EQ(file.value("Long", "v", "-"), QByteArray(2047, 'z'));
    EXPECT_EQ(IniFile(Path("missing.ini")).value("One", "b", "dflt"), QByteArray("dflt"));

    // A lone CR ends a value for the reader as it does for the writer, so
    // writing one key never changes what another reads.
    WriteBytes(path, "[Settings]\nport=a\rb\ndelay=5\r");
    IniFile lone(path);
    EXPECT_EQ(lone.value("Settings", "port", "-"), QByteArray("a"));
    EXPECT_EQ(lone.integer("Settings", "delay", 10), 5);
    lone.setValue("Settings", "password", "x");
    ASSERT_TRUE(lone.save());
    const IniFile saved(path);
    const IniFile* const both[] = {&lone, &saved};
    for (const IniFile* ini : both) {
        EXPECT_EQ(ini->value("Settings", "port", "-"), QByteArray("a"));
        EXPECT_EQ(ini->integer("Settings", "delay", 10), 5);
    }

    struct Case
    {
        const char* stored;
        qint32 expected;
    };
    const Case integers[] = {{"30", 30},  {"0x1E", 30}, {"$1E", 30}, {"x1E", 30}, {"3", 3},          {"5000", 5000},
                             {" -7", -7}, {"", 99},     {"abc", 99}, {"12a", 99}, {"2147483648", 99}};
    for (const Case& c : integers) {
        WriteBytes(path, QByteArray("[S]\ndelay=") + c.stored + "\n");
        EXPECT_EQ(IniFile(path).integer("S", "delay", 99), c.expected) << c.stored;
    }
    EXPECT_EQ(IniFile(path).integer("S", "missing", 99), 99);
}

TEST_F(StorageTest, SettingsRoundTripInOrderWithAPrivateNewFile)
{
    const QString path = Path("settings.ini");

    const StoredSettings none = loadSettings(path, 10);
    EXPECT_EQ(none.ipAddress, QByteArray());
    EXPECT_EQ(none.password, QByteArray());
    EXPECT_EQ(none.delay, 10);

    const StoredSettings saved{"10.0.0.1", "not a port", "", 3, "Admin"};
    saveSettings(path, saved);
    EXPECT_EQ(ModeOf(path), 0600u);
    EXPECT_EQ(ReadBytes(path),
              QByteArray("[Settings]\r\nipaddress=10.0.0.1\r\nport=not a port\r\npassword=\r\n"
                         "delay=3\r\nchatname=Admin\r\n"));
    const StoredSettings loaded = loadSettings(path, 10);
    EXPECT_EQ(loaded.ipAddress, saved.ipAddress);
    EXPECT_EQ(loaded.port, saved.port);
    EXPECT_EQ(loaded.password, QByteArray());
    EXPECT_EQ(loaded.delay, 3);
    EXPECT_EQ(loaded.chatName, saved.chatName);

    // The password is stored scrambled, and a file that others could read
    // becomes its owner's alone as soon as the password is written to it.
    SetMode(path, 0644);
    saveSettings(path, {"h", "4711", "s3cret pass", 30, ""});
    EXPECT_EQ(ModeOf(path), 0600u);
    EXPECT_TRUE(ReadBytes(path).contains("\r\npassword=" + scramble("s3cret pass") + "\r\n"));
    EXPECT_EQ(loadSettings(path, 10).password, QByteArray("s3cret pass"));

    // Reconnecting is written only once it has a value, after the others.
    EXPECT_EQ(loadSettings(path, 10).reconnect, std::nullopt);
    StoredSettings reconnecting{"h", "4711", "", 30, "", true};
    saveSettings(path, reconnecting);
    EXPECT_TRUE(ReadBytes(path).endsWith("\r\nchatname=\r\nautoreconnect=1\r\n"));
    EXPECT_EQ(loadSettings(path, 10).reconnect, true);
    reconnecting.reconnect = false;
    saveSettings(path, reconnecting);
    EXPECT_EQ(loadSettings(path, 10).reconnect, false);

    // The Fleet window's place, in a section of its own once it has one.
    EXPECT_EQ(loadSettings(path, 10).fleetWindow, std::nullopt);
    reconnecting.fleetWindow = StoredSettings::WindowPlace{true, 900, 640};
    saveSettings(path, reconnecting);
    EXPECT_TRUE(ReadBytes(path).endsWith("autoreconnect=0\r\n[Fleet]\r\nopen=1\r\nwidth=900\r\nheight=640\r\n"))
        << ReadBytes(path).toStdString();
    EXPECT_EQ(loadSettings(path, 10).fleetWindow, reconnecting.fleetWindow);
}

TEST_F(StorageTest, RefusedSettingsWriteKeepsTheFileAndNamesIt)
{
    const QString path = Path("settings.ini");
    const QByteArray before = "[Settings]\r\nipaddress=old\r\n";
    WriteBytes(path, before);
    SetMode(path, 0444);
    try {
        saveSettings(path, {"new", "1", "p", 10, "n"});
        FAIL() << "a read-only file was written";
    } catch (const RavelinError& error) {
        EXPECT_EQ(error.message(), "Unable to write to " + path.toLatin1());
    }
    EXPECT_EQ(ReadBytes(path), before);
    EXPECT_EQ(ModeOf(path), 0444u);

    // The same for a directory we may not write: nothing appears in it.
    const QString locked = Path("locked");
    ASSERT_TRUE(QDir().mkdir(locked));
    SetMode(locked, 0555);
    EXPECT_THROW(saveSettings(locked + "/settings.ini", {}), RavelinError);
    EXPECT_TRUE(QDir(locked).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot));
    SetMode(locked, 0755);

    // A write that fails part-way (here: past the process's file size limit)
    // leaves every key as it was, not the first ones new and the rest old:
    // beside the file, and in place where the folder refuses new files.
    const QByteArray full =
        "; keep\r\n[Settings]\r\nipaddress=old\r\nport=1\r\npassword=\r\ndelay=5\r\nchatname=me\r\n";
    for (const QString& folder : {dir_.path(), locked}) {
        const QString settings = folder + "/settings.ini";
        SetMode(folder, 0755);
        WriteBytes(settings, full);
        SetMode(settings, 0644);
        SetMode(folder, folder == locked ? 0555 : 0755);
        rlimit limit{};
        ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &limit), 0);
        const rlimit oldLimit = limit;
        limit.rlim_cur = 40; // past the first changed byte
        const auto oldHandler = signal(SIGXFSZ, SIG_IGN);
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
        bool refused = false;
        try {
            saveSettings(settings, {"a.much.longer.host.name", "4711", "pw", 30, "Operator"});
        } catch (const RavelinError& error) {
            refused = error.message() == "Unable to write to " + settings.toLatin1();
        }
        setrlimit(RLIMIT_FSIZE, &oldLimit);
        signal(SIGXFSZ, oldHandler);
        SetMode(folder, 0755);
        EXPECT_TRUE(refused) << folder.toStdString();
        EXPECT_EQ(ReadBytes(settings), full) << folder.toStdString();
        EXPECT_TRUE(
            QDir(folder).entryList(QDir::Files | QDir::Hidden).filter(QStringLiteral(".settings.ini")).isEmpty())
            << "no temporary file is left behind";
    }
}

TEST_F(StorageTest, TextReaderFollowsTheLineRules)
{
    const QByteArray longLine(70000, 'x'); // longer than the reader's buffer
    struct Case
    {
        QByteArray bytes;
        QList<QByteArray> lines;
    };
    const Case cases[] = {
        {"", {}},
        {"a\r\nb\r\n", {"a", "b"}},
        {"a\nb", {"a", "b"}},
        {"a\rb\r\n", {"ab"}},
        {"a\r\r\n\r\nb", {"a", "", "b"}},
        {"\n\n", {"", ""}},
        {"a\r\nb\x1A"
         "c\r\nd\r\n",
         {"a", "b"}},
        {"\x1A"
         "a\r\n",
         {}},
        {" keep blanks \t\r\n", {" keep blanks \t"}},
        {longLine + "\r\n" + longLine, {longLine, longLine}},
    };
    const QString path = Path("maps.dat");
    for (const Case& c : cases) {
        WriteBytes(path, c.bytes);
        TextFileReader reader;
        reader.open(path);
        QList<QByteArray> lines;
        while (!reader.atEnd())
            lines.append(reader.readLine());
        EXPECT_EQ(lines, c.lines) << c.bytes.left(40).toStdString();
        EXPECT_EQ(reader.readLine(), QByteArray()) << "reading at the end gives the empty text";
    }
}

TEST_F(StorageTest, GridRoundTripAndTheDesignedTableFile)
{
    MemoryGrid designed;
    const mode_t oldMask = umask(0022);
    saveGrid(designed, Path("servermessages.dat"));
    umask(oldMask);
    EXPECT_EQ(ReadBytes(Path("servermessages.dat")), "1\r\n20\r\n" + QByteArray("\r\n").repeated(20));
    EXPECT_EQ(ModeOf(Path("servermessages.dat")), 0666u & ~0022u) << "created with the usual mode";

    MemoryGrid grid(3, 2);
    grid.cells = {{"a", ""}, {" b ", "\xE9\x80"}, {"c;=[x]", "last"}};
    saveGrid(grid, Path("grid.dat"));
    EXPECT_EQ(ReadBytes(Path("grid.dat")), QByteArray("3\r\n2\r\na\r\n\r\n b \r\n\xE9\x80\r\nc;=[x]\r\nlast\r\n"));
    MemoryGrid loaded;
    loadGrid(loaded, Path("grid.dat"));
    EXPECT_EQ(loaded.cells, grid.cells);

    // A line break or an end-of-file mark in a cell would move or lose every
    // cell after it: they are kept as blanks.
    MemoryGrid broken(1, 3);
    broken.cells = {{"two\r\nlines", "end\x1a of file", "after"}};
    saveGrid(broken, Path("grid.dat"));
    loadGrid(loaded, Path("grid.dat"));
    EXPECT_EQ(loaded.cells, QList<QList<QByteArray>>({{"two  lines", "end  of file", "after"}}));
}

TEST_F(StorageTest, GridLoadCountRules)
{
    struct Case
    {
        QByteArray bytes;
        int error;
        QList<QList<QByteArray>> cells;
    };
    const QList<QByteArray> untouched(20);
    const Case cases[] = {
        {"", 0, {{""}}},
        {"1\r\n3\r\nfirst\r\nsecond\r\n", 0, {{"first", "second", ""}}},
        {"0\r\n-4\r\nx\r\n", 0, {{"x"}}},
        {"\r\n \t\r\n2 cols\r\n\r\n  1\r\na\nb\nunread\n", 0, {{"a"}, {"b"}}},
        {"$2\r\n0x1\r\na\x1A"
         "b\r\n",
         0,
         {{"a"}, {""}}},
        {"12abc\r\n1\r\n", 106, {untouched}},
        {"2\r\n1x\r\n", 106, {untouched, untouched}},
        {"257\r\n1\r\n", 106, {untouched}},
        {"1\r\n100001\r\n", 106, {untouched}},
        {"11\r\n100000\r\n", 106, QList<QList<QByteArray>>(11, untouched)},
    };
    for (const Case& c : cases) {
        WriteBytes(Path("grid.dat"), c.bytes);
        MemoryGrid grid;
        EXPECT_EQ(IoErrorOf([&] { loadGrid(grid, Path("grid.dat")); }), c.error) << c.bytes.toStdString();
        EXPECT_EQ(grid.cells, c.cells) << c.bytes.toStdString();
    }

    WriteBytes(Path("grid.dat"), "12 abc\r\n1\r\n");
    MemoryGrid twelve;
    loadGrid(twelve, Path("grid.dat"));
    EXPECT_EQ(twelve.colCount(), 12);
    WriteBytes(Path("grid.dat"), "256\r\n3906\r\n");
    MemoryGrid largest;
    loadGrid(largest, Path("grid.dat"));
    EXPECT_EQ(largest.colCount() * largest.rowCount(), 999936);
}

TEST_F(StorageTest, FileErrorsCarryTheirNumbers)
{
    MemoryGrid grid;
    TextFileReader reader;
    EXPECT_EQ(IoErrorOf([&] { loadGrid(grid, Path("missing.dat")); }), 2);
    EXPECT_EQ(IoErrorOf([&] { reader.open(Path("missing.dat")); }), 2);
    EXPECT_EQ(IoErrorOf([&] {
                  reader.open(dir_.path());
                  reader.readLine();
              }),
              5);
    EXPECT_EQ(IoErrorOf([&] { saveGrid(grid, dir_.path()); }), 5);
    EXPECT_EQ(IoErrorOf([&] { saveGrid(grid, Path("no/such/dir.dat")); }), 2);
}

TEST_F(StorageTest, FailedGridSaveLeavesTheOldFileWhole)
{
    const QByteArray old = "1\r\n2\r\nkeep\r\nme\r\n";
    const QString locked = Path("locked");
    ASSERT_TRUE(QDir().mkdir(locked));
    WriteBytes(Path("plain"), "a regular file");
    struct Case
    {
        QString path;
        mode_t fileMode;
        bool lockDir;
        int error;
    };
    const Case cases[] = {
        {Path("readonly.dat"), 0444, false, 5},
        {locked + "/servermessages.dat", 0444, true, 5},
    };
    MemoryGrid grid;
    for (const Case& c : cases) {
        WriteBytes(c.path, old);
        SetMode(c.path, c.fileMode);
        SetMode(locked, c.lockDir ? 0555 : 0755);
        EXPECT_EQ(IoErrorOf([&] { saveGrid(grid, c.path); }), c.error) << c.path.toStdString();
        SetMode(locked, 0755);
        EXPECT_EQ(ReadBytes(c.path), old);
        EXPECT_EQ(ModeOf(c.path), c.fileMode);
        EXPECT_EQ(QFileInfo(c.path).dir().entryList({".*"}, QDir::Hidden | QDir::Files), QStringList())
            << "no temporary file is left behind";
    }
    EXPECT_EQ(IoErrorOf([&] { saveGrid(grid, Path("plain/servermessages.dat")); }), 3);

    // A writable file is replaced and keeps its mode; a link to it stays a link.
    WriteBytes(Path("target.dat"), old);
    SetMode(Path("target.dat"), 0640);
    ASSERT_TRUE(QFile::link(Path("target.dat"), Path("link.dat")));
    saveGrid(grid, Path("link.dat"));
    EXPECT_TRUE(QFileInfo(Path("link.dat")).isSymLink());
    EXPECT_EQ(ReadBytes(Path("target.dat")), ReadBytes(Path("link.dat")));
    EXPECT_TRUE(ReadBytes(Path("target.dat")).startsWith("1\r\n20\r\n"));
    EXPECT_EQ(ModeOf(Path("target.dat")), 0640u);
}

// A shared install: the program's folder refuses new files, but the files in
// it may be written. They are written in place, every other byte kept.
TEST_F(StorageTest, AReadOnlyFolderStillTakesSavesIntoItsWritableFiles)
{
    const QString locked = Path("locked");
    ASSERT_TRUE(QDir().mkdir(locked));
    const QString settings = locked + "/settings.ini";
    const QString table = locked + "/servermessages.dat";
    WriteBytes(settings, "; mine\r\n[Other]\r\nx=1\r\n[Settings]\r\nipaddress=a.very.long.old.host.name\r\n");
    WriteBytes(table, "1\r\n3\r\nold\r\nrows\r\nhere\r\n");
    SetMode(settings, 0600);
    SetMode(locked, 0555);

    saveSettings(settings, {"new", "4711", "pw", 25, "Ops"});
    saveGrid(MemoryGrid(1, 2), table);
    EXPECT_EQ(IoErrorOf([&] { saveGrid(MemoryGrid(), locked + "/new.dat"); }), 5);
    const QStringList left = QDir(locked).entryList(QDir::Files | QDir::Hidden);
    SetMode(locked, 0755);

    EXPECT_EQ(ReadBytes(settings),
              "; mine\r\n[Other]\r\nx=1\r\n[Settings]\r\nipaddress=new\r\nport=4711\r\npassword=" + scramble("pw")
                  + "\r\ndelay=25\r\nchatname=Ops\r\n");
    EXPECT_EQ(ModeOf(settings), 0600u);
    EXPECT_EQ(ReadBytes(table), "1\r\n2\r\n\r\n\r\n") << "a shorter table leaves nothing of the old one";
    EXPECT_EQ(left, QStringList({"servermessages.dat", "settings.ini"})) << "no temporary file";
}

TEST_F(StorageTest, DiskFullLeavesTheOldFileWhole)
{
    const QString small = Path("small");
    ASSERT_TRUE(QDir().mkdir(small));
    if (mount("tmpfs", QFile::encodeName(small).constData(), "tmpfs", 0, "size=64k") != 0)
        GTEST_SKIP() << "cannot mount a small tmpfs here (needs root): " << strerror(errno);
    const QByteArray old = "1\r\n1\r\nold\r\n";
    const QString path = small + "/servermessages.dat";
    WriteBytes(path, old);
    MemoryGrid grid(1, 1000);
    for (auto& cell : grid.cells[0])
        cell = QByteArray(200, 'm');
    const int error = IoErrorOf([&] { saveGrid(grid, path); });
    const QByteArray after = ReadBytes(path);
    const QStringList left = QDir(small).entryList(QDir::Hidden | QDir::Files);
    umount2(QFile::encodeName(small).constData(), MNT_DETACH);
    EXPECT_EQ(error, 101);
    EXPECT_EQ(after, old);
    EXPECT_EQ(left, QStringList{"servermessages.dat"});
}

// Where the three files live: beside a copy that is its user's own, in the
// per-user folders for an installed copy, and the data files in the working
// folder whenever they are there.
TEST_F(StorageTest, FileLocationsFollowTheCopyAndTheUser)
{
    const QString exe = Path("exe"), work = Path("work"), config = Path("home/.config/ravelin"),
                  data = Path("home/.local/share/ravelin"), examples = Path("share/ravelin");
    for (const QString& dir : {exe, work, examples})
        ASSERT_TRUE(QDir().mkpath(dir));
    WriteBytes(examples + "/maps.dat", "example_map\r\n");
    WriteBytes(examples + "/servermessages.dat", "1\r\n1\r\nwelcome\r\n");
    struct Case
    {
        const char* name;
        mode_t exeMode;
        bool settingsBesideExe, installed;
        QString settings;
    };
    const Case cases[] = {
        {"a build of one's own", 0755, false, false, exe + "/settings.ini"},
        {"a read-only folder", 0555, false, false, config + "/settings.ini"},
        {"a read-only folder that holds one", 0555, true, false, exe + "/settings.ini"},
        {"an installed copy", 0755, false, true, config + "/settings.ini"},
        {"an installed copy that holds one", 0755, true, true, exe + "/settings.ini"},
    };
    for (const Case& c : cases) {
        QFile::remove(exe + "/settings.ini");
        if (c.settingsBesideExe)
            WriteBytes(exe + "/settings.ini", "[Settings]\r\n");
        SetMode(exe, c.exeMode);
        LocationFolders folders{exe, c.installed, work, config, data, Path("home/.local/state/ravelin"), QString()};
        EXPECT_EQ(settingsLocation(folders), c.settings) << c.name;
        SetMode(exe, 0755);
    }

    // The per-user folders need not exist: the first save makes them, private.
    QFile::remove(exe + "/settings.ini");
    LocationFolders folders{exe, true, work, config, data, Path("home/.local/state/ravelin"), examples};
    const QString settings = settingsLocation(folders);
    saveSettings(settings, {"host", "4711", "pw", 10, "Ops"});
    EXPECT_EQ(ModeOf(config), 0700u);
    EXPECT_EQ(ModeOf(settings), 0600u);

    // The data files: from the working folder when there, else the user's,
    // filled once from the examples and never overwritten after.
    WriteBytes(work + "/maps.dat", "mine\r\n");
    FileLocations files = chooseLocations(folders);
    EXPECT_EQ(files.maps, work + "/maps.dat");
    EXPECT_EQ(files.announcements, data + "/servermessages.dat");
    EXPECT_EQ(ReadBytes(data + "/servermessages.dat"), "1\r\n1\r\nwelcome\r\n");
    EXPECT_FALSE(QFile::exists(data + "/maps.dat")) << "the working folder has its own";
    WriteBytes(data + "/servermessages.dat", "1\r\n1\r\nedited\r\n");
    QFile::remove(work + "/maps.dat");
    files = chooseLocations(folders);
    EXPECT_EQ(files.maps, data + "/maps.dat");
    EXPECT_EQ(ReadBytes(data + "/maps.dat"), "example_map\r\n");
    EXPECT_EQ(ReadBytes(data + "/servermessages.dat"), "1\r\n1\r\nedited\r\n") << "an edited table stays";
}

TEST_F(StorageTest, TheStateFolderFollowsXdgStateHome)
{
    const QByteArray saved = qgetenv("XDG_STATE_HOME");
    const auto restore = qScopeGuard([&] { qputenv("XDG_STATE_HOME", saved); });
    qputenv("XDG_STATE_HOME", QFile::encodeName(Path("state")));
    EXPECT_EQ(standardFolders(Path("exe"), Path("work")).userStateDir, Path("state") + "/ravelin");
    qputenv("XDG_STATE_HOME", "relative/is/ignored");
    EXPECT_EQ(standardFolders(Path("exe"), Path("work")).userStateDir, QDir::homePath() + "/.local/state/ravelin");
}

// What a line of the audit log holds: the login's secret blotted only where
// it is one, the text in UTF-8, and nothing a terminal would act on.
TEST(AuditText, BlotsOnlyLoginsAndShowsEveryControlCharacter)
{
    const struct
    {
        QByteArray line;
        QByteArray written;
    } cases[] = {
        // A password that is also a word stays out of everything but a login.
        {"Ravelin practice server", "Ravelin practice server"},
        {"exec admin.listPlayers", "exec admin.listPlayers"},
        {"login secret", "login ********"},
        {"  LoGiN \t my pass word", "  LoGiN \\t ********"},
        {"login", "login"},
        {"logins are open", "logins are open"},
        {"said login short", "said login short"},
        {"Failed: LOGIN 0123456789abcdef0123456789ABCDEF.", "Failed: LOGIN ********."},
        {"relogin 0123456789abcdef0123456789abcdef", "relogin 0123456789abcdef0123456789abcdef"},
        {"x login 0123456789abcdef0123456789abcdef0", "x login 0123456789abcdef0123456789abcdef0"},
        // Windows-1252 in, UTF-8 out; the undefined bytes are control characters.
        {"Night Owls \xe4", "Night Owls \xc3\xa4"},
        {"\x80 \x9f \xff", "\xe2\x82\xac \xc5\xb8 \xc3\xbf"},
        {"\x81\x8d\x8f\x90\x9d", "\\x81\\x8d\\x8f\\x90\\x9d"},
        // Nothing raw that would break the line, forge a record or steer a terminal.
        {"a\r\nb", "a\\r\\nb"},
        {"x\v2026-12-08 00:00:00 forged\fy", "x\\x0b2026-12-08 00:00:00 forged\\x0cy"},
        {"\x1b]0;owned\x07\x1b[2J\x7f", "\\x1b]0;owned\\x07\\x1b[2J\\x7f"},
        {QByteArray("nul\0here", 8), "nul\\x00here"},
        {"C:\\maps\\x1b", "C:\\\\maps\\\\x1b"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(auditText(c.line), c.written) << c.line.constData();
}

// The audit log: one private file per local day, each record with its time,
// user and server, and nothing kept past 90 days.
TEST_F(StorageTest, TheAuditLogKeepsEachDayPrivateAndForgetsAfter90Days)
{
    QDateTime now(QDate(2026, 12, 8), QTime(23, 59, 58));
    const QString folder = Path("state/ravelin");
    QByteArray server;
    {
        AuditLog log(folder, [&] { return now; });
        log.setUser("ann");
        log.setServerSource([&] { return server; });
        log.append("Connecting to 10.0.0.1");
        server = "10.0.0.1:4711";
        log.append("login 0123456789abcdef0123456789ABCDEF");
        now = now.addSecs(3);
        log.append("Player \xe9 kicked");
    }
    EXPECT_EQ(ReadBytes(folder + "/audit-2026-12-08.log"),
              "2026-12-08 23:59:58 ann - Connecting to 10.0.0.1\n"
              "2026-12-08 23:59:58 ann 10.0.0.1:4711 login ********\n");
    EXPECT_EQ(ReadBytes(folder + "/audit-2026-12-09.log"),
              "2026-12-09 00:00:01 ann 10.0.0.1:4711 Player \xc3\xa9 kicked\n");
    EXPECT_EQ(ModeOf(folder + "/audit-2026-12-09.log"), 0600u);
    EXPECT_EQ(ModeOf(folder), 0700u);

    // Another run appends to the day's file, and takes back what others were let read.
    QFile::setPermissions(folder + "/audit-2026-12-09.log",
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
    AuditLog log(folder, [&] { return now; });
    log.setUser("ann");
    log.append("again");
    EXPECT_TRUE(ReadBytes(folder + "/audit-2026-12-09.log").endsWith("\n2026-12-09 00:00:01 ann - again\n"));
    EXPECT_EQ(ModeOf(folder + "/audit-2026-12-09.log"), 0600u);

    for (const char* name :
         {"audit-2026-09-10.log", "audit-2026-09-09.log", "audit-2025-01-01.log", "audit-notadate.log", "notes.txt"})
        WriteBytes(folder + '/' + name, "x");
    EXPECT_EQ(log.removeOldFiles(), 2);
    EXPECT_EQ(QDir(folder).entryList(QDir::Files),
              QStringList({"audit-2026-09-10.log", "audit-2026-12-08.log", "audit-2026-12-09.log", "audit-notadate.log",
                           "notes.txt"}));

    // A folder that cannot be made loses lines, counted, and raises nothing.
    WriteBytes(Path("blocked"), "a file, not a folder");
    AuditLog blocked(Path("blocked/ravelin"), [&] { return now; });
    blocked.append(QList<QByteArray>{"lost", "and lost"});
    EXPECT_EQ(blocked.droppedLines(), 2);
    EXPECT_FALSE(blocked.dropReason().isEmpty());
}

// A server cannot fill the disk through the audit log: lines that come back
// within the fold window are counted, not written, and a day's file stops at
// its cap with a record of what it dropped.
TEST_F(StorageTest, TheAuditLogFoldsRepeatsAndStopsAtItsCap)
{
    QDateTime now(QDate(2026, 12, 8), QTime(12, 0, 0));
    const QString folder = Path("state");
    const QString day = folder + "/audit-2026-12-08.log";
    const auto records = [&] {
        QList<QByteArray> lines = ReadBytes(day).split('\n');
        lines.removeLast();
        for (QByteArray& line : lines)
            line.remove(0, 24); // "yyyy-MM-dd hh:mm:ss ann "
        return lines;
    };
    {
        AuditLog log(folder, [&] { return now; });
        log.setUser("ann");
        // Alternating replies, and the session's own counts, fold together.
        for (int i = 0; i < 1000; ++i)
            log.append(QList<QByteArray>{"unknown command", "Key:"});
        log.append("unknown command (250 times)");
        EXPECT_EQ(records(), QList<QByteArray>({"- unknown command", "- Key:"}));
        // The window closes at kFoldWindow, not before.
        now = now.addMSecs(AuditLog::kFoldWindow.count() - 1);
        log.append("Key:");
        now = now.addMSecs(1);
        log.append("Key:");
        EXPECT_EQ(records(),
                  QList<QByteArray>({"- unknown command", "- Key:", "- unknown command (1249 more times)",
                                     "- Key: (1000 more times)", "- Key:"}));
        // It remembers the kFoldLines distinct lines seen last: one more
        // pushes out the one least recently seen.
        now = now.addSecs(10);
        log.flush();
        const qsizetype before = records().size();
        for (int i = 0; i <= AuditLog::kFoldLines; ++i)
            log.append("line " + QByteArray::number(i % AuditLog::kFoldLines));
        EXPECT_EQ(records().size(), before + AuditLog::kFoldLines);
        log.append("line " + QByteArray::number(AuditLog::kFoldLines));
        log.append("line 1");
        log.append("line 0");
        EXPECT_EQ(records().mid(before + AuditLog::kFoldLines),
                  QList<QByteArray>({"- line " + QByteArray::number(AuditLog::kFoldLines), "- line 1"}));
    }

    // Past the cap nothing more goes in but one record of how much did not.
    constexpr qint64 kCap = 64 * 1024;
    QFile::remove(day);
    qint64 written = 0;
    {
        AuditLog log(folder, [&] { return now; });
        log.setUser("ann");
        log.setDayCap(kCap);
        for (int i = 0; i < 2000; ++i)
            log.append("distinct line " + QByteArray::number(i) + QByteArray(40, 'x'));
        written = QFileInfo(day).size();
        EXPECT_LE(written, kCap);
        EXPECT_GT(written, kCap - 2048);
        // Said at once, before the window closes (or is killed).
        EXPECT_EQ(records().last(), "- The day's file reached its cap of 64 KiB; later lines are dropped");
        EXPECT_EQ(log.droppedLines(), 2000 - (records().size() - 1));
    }
    const QList<QByteArray> lines = records();
    EXPECT_LE(QFileInfo(day).size(), kCap);
    EXPECT_EQ(lines.last(),
              "- " + QByteArray::number(2000 - (lines.size() - 2))
                  + " lines were dropped from the audit log (the day's file reached its cap of 64 KiB)");

    // Run after run at the cap, each saying what it dropped, the file stays within it.
    for (int run = 0; run < 8; ++run) {
        AuditLog again(folder, [&] { return now; });
        again.setDayCap(kCap);
        again.append("one more " + QByteArray::number(run));
        EXPECT_EQ(again.droppedLines(), 1);
    }
    EXPECT_LE(QFileInfo(day).size(), kCap);

    // A write that fails loses its lines, counted, takes back what went of
    // them, and the next file says so first. The file-size limit makes the
    // write fail (EFBIG) as a full disk would.
    QFile::remove(day);
    WriteBytes(day, "kept\n");
    AuditLog log(folder, [&] { return now; });
    log.setUser("ann");
    const auto previousSignal = std::signal(SIGXFSZ, SIG_IGN);
    rlimit previousLimit{};
    ::getrlimit(RLIMIT_FSIZE, &previousLimit);
    const rlimit full{5, previousLimit.rlim_max};
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &full), 0);
    log.append(QList<QByteArray>{"one", "two"});
    ::setrlimit(RLIMIT_FSIZE, &previousLimit);
    std::signal(SIGXFSZ, previousSignal);
    EXPECT_EQ(log.droppedLines(), 2);
    EXPECT_EQ(ReadBytes(day), "kept\n") << "no half record";
    // Once writes go through again, the file it leaves says what it lost.
    now = now.addDays(1);
    log.append("three");
    EXPECT_EQ(records().last(), "- 2 lines were dropped from the audit log (Disk full)");
    EXPECT_EQ(ReadBytes(folder + "/audit-2026-12-09.log").split('\n').first().mid(24), "- three");
}

TEST_F(StorageTest, TheCommandHistoryKeepsTheLatest500AndNoLogin)
{
    const QString path = Path("state/console_history");
    {
        CommandHistory history(path);
        for (int i = 0; i < 520; ++i)
            history.add("exec game.sayAll \"" + QByteArray::number(i) + '"');
        history.add("login 0123456789abcdef0123456789abcdef");
        history.add("");
    }
    const CommandHistory again(path);
    ASSERT_EQ(again.commands().size(), 500);
    EXPECT_EQ(again.commands().first(), "exec game.sayAll \"20\"");
    EXPECT_EQ(again.commands().last(), "exec game.sayAll \"519\"");
    EXPECT_EQ(ModeOf(path), 0600u);
    EXPECT_EQ(ModeOf(Path("state")), 0700u);
}

// A save writes through a link only when the link, every link after it and
// the file they lead to are the user's own (root's too: it is compared with
// the effective user, not passed); anything else is refused by name and
// leaves every file as it was, mode included.
TEST_F(StorageTest, SavesWriteThroughNoLinkThatLeadsToAnotherUsersFile)
{
    constexpr uid_t kOther = 65534;
    const auto owned = [](const QString& path, uid_t uid) {
        return lchown(QFile::encodeName(path).constData(), uid, uid) == 0;
    };
    const QString elsewhere = Path("elsewhere");
    ASSERT_TRUE(QDir().mkdir(elsewhere));
    const QString theirs = elsewhere + "/theirs", mine = elsewhere + "/mine", missing = elsewhere + "/missing";
    const QString theirLink = Path("their-link");
    ASSERT_TRUE(QFile::link(mine, theirLink) && owned(theirLink, kOther));

    const QString servers = Path("config/servers.txt"), settings = Path("settings.ini"), table = Path("table.dat"),
                  history = Path("state/console_history");
    ASSERT_TRUE(QDir().mkpath(Path("config")) && QDir().mkpath(Path("state")));
    SavedServers list;
    list.put({"srvA", "10.0.0.1", "4711"});
    const std::function<void()> saveServers = [&] { list.save(servers, SavedServers::load(servers)); };
    const std::function<void()> saveSettingsFile = [&] { saveSettings(settings, {"h", "1", "pw", 10, ""}); };
    const std::function<void()> saveTable = [&] { saveGrid(MemoryGrid(), table); };
    const std::function<void()> saveOwnTable = [&] { saveGrid(MemoryGrid(), table, {.othersFiles = false}); };
    const std::function<void()> addCommand = [&] { CommandHistory(history).add("exec maplist.list"); };
    const QDateTime now(QDate(2026, 12, 9), QTime(1, 0));
    const QString dayFile = Path("state/" + AuditLog::fileNameFor(now.date()));
    const QByteArray day = QFile::encodeName(AuditLog::fileNameFor(now.date()));
    // The audit log raises nothing: a line it could not write is counted with its reason.
    const std::function<void()> appendAudit = [&] {
        AuditLog audit(Path("state"), [&] { return now; });
        audit.append("lost");
        if (audit.droppedLines() > 0)
            throw FileRefused(audit.dropReason());
    };
    struct Case
    {
        const char* name;
        QString path;
        QString linkTo; // empty: the path is the target itself
        const std::function<void()>& save;
        QByteArray refusal; // empty: written
    };
    const Case cases[] = {
        {"servers.txt to another's file", servers, theirs, saveServers,
         "servers.txt is a link to a file of another user; it was not written"},
        {"settings.ini to another's file", settings, theirs, saveSettingsFile,
         "settings.ini is a link to a file of another user; it was not written"},
        {"a table through another's link", table, theirLink, saveTable,
         "table.dat is a link of another user; it was not written"},
        {"a link that leads nowhere", table, missing, saveTable,
         "table.dat is a link to a file that is not there; it was not written"},
        {"the history through its own link", history, mine, addCommand,
         "console_history is a link; it was not written"},
        {"a table of another user's", table, {}, saveOwnTable, "table.dat belongs to another user; it was not written"},
        {"the audit log through its own link", dayFile, mine, appendAudit, day + " is a link; it was not written"},
        {"a day file of another user's",
         dayFile,
         {},
         appendAudit,
         day + " belongs to another user; it was not written"},
        {"an own link to an own file", settings, mine, saveSettingsFile, {}},
        {"another's file where the mode allows (a shared install)", settings, {}, saveSettingsFile, {}},
    };
    for (const Case& c : cases) {
        for (const QString& path : {c.path, theirs, mine, missing})
            QFile::remove(path);
        for (const QString& path : {theirs, mine})
            WriteBytes(path, "kept\r\n");
        SetMode(theirs, 0666);
        ASSERT_TRUE(owned(theirs, kOther));
        if (!c.linkTo.isEmpty()) {
            ASSERT_TRUE(QFile::link(c.linkTo, c.path));
        } else {
            WriteBytes(c.path, "kept\r\n");
            SetMode(c.path, 0666);
            ASSERT_TRUE(owned(c.path, kOther));
        }
        try {
            c.save();
            EXPECT_TRUE(c.refusal.isEmpty()) << c.name << ": written";
        } catch (const FileError& error) {
            EXPECT_EQ(error.message(), c.refusal) << c.name;
            EXPECT_EQ(error.code(), file_error::AccessDenied) << c.name;
        }
        const QString target = c.linkTo.isEmpty() ? c.path : c.linkTo == theirLink ? mine : c.linkTo;
        if (c.refusal.isEmpty()) {
            EXPECT_NE(ReadBytes(target), "kept\r\n") << c.name;
            if (c.linkTo.isEmpty()) {
                EXPECT_EQ(ModeOf(target), 0666u) << c.name << ": its owner's mode, not made ours";
            }
            continue;
        }
        if (c.linkTo.isEmpty()) {
            EXPECT_EQ(ReadBytes(c.path), "kept\r\n") << c.name;
            EXPECT_EQ(ModeOf(c.path), 0666u) << c.name;
        }
        EXPECT_EQ(ReadBytes(theirs), "kept\r\n") << c.name;
        EXPECT_EQ(ReadBytes(mine), "kept\r\n") << c.name;
        EXPECT_EQ(ModeOf(theirs), 0666u) << c.name << ": another's file keeps its mode";
        EXPECT_FALSE(QFile::exists(missing)) << c.name << ": nothing is made where a link leads nowhere";
    }

    // A link that leads to itself is given up on, not followed for ever.
    QFile::remove(table);
    ASSERT_TRUE(QFile::link(table, table));
    EXPECT_EQ(IoErrorOf(saveTable), file_error::InvalidFilename);
}

// Two windows on the same files: servers.txt and the console history take
// in what the other saved before writing, and a file the other holds is not
// written at all.
TEST_F(StorageTest, TwoWritersKeepEachOthersWork)
{
    const QString path = Path("config/servers.txt");
    SavedServers first;
    first.put({"old", "10.0.0.9", "1"});
    first.put({"kept", "10.0.0.8", "1"});
    first = first.save(path, {});
    SavedServers windowA = SavedServers::load(path), windowB = SavedServers::load(path);

    SavedServers changedA = windowA;
    changedA.put({"srvA", "10.0.0.1", "4711"});
    windowA = changedA.save(path, windowA);
    SavedServers changedB = windowB;
    changedB.remove(*changedB.indexOf("old"));
    changedB.put({"kept", "10.0.0.7", "2"});
    changedB.put({"srvB", "10.0.0.2", "4711"});
    windowB = changedB.save(path, windowB);
    const QList<SavedServer> both = {
        {"kept", "10.0.0.7", "2"}, {"srvA", "10.0.0.1", "4711"}, {"srvB", "10.0.0.2", "4711"}};
    EXPECT_EQ(SavedServers::load(path).servers(), both);
    EXPECT_EQ(windowB.servers(), both) << "the window shows what it wrote";

    // The history: each window's commands, in the order they were sent.
    const QString historyPath = Path("state/console_history");
    CommandHistory historyA(historyPath), historyB(historyPath);
    historyA.add("a1");
    historyB.add("b1");
    historyA.add("a2");
    const QList<QByteArray> sent = {"a1", "b1", "a2"};
    EXPECT_EQ(CommandHistory(historyPath).commands(), sent);
    EXPECT_EQ(historyA.commands(), sent);

    // While another window holds a file, a save waits for it briefly, then
    // refuses and writes nothing; a command not written goes with the next.
    const QByteArray stored = ReadBytes(path);
    {
        WriterLock other(path), otherHistory(historyPath);
        ASSERT_TRUE(other.take());
        ASSERT_TRUE(otherHistory.take());
        try {
            changedA.save(path, windowA);
            ADD_FAILURE() << "saved over a held file";
        } catch (const FileRefused& error) {
            EXPECT_EQ(error.message(), "servers.txt is in use by another Ravelin window; it was not written");
        }
        EXPECT_THROW(historyB.add("b2"), FileRefused);
    }
    EXPECT_EQ(ReadBytes(path), stored);
    historyB.add("b3");
    EXPECT_EQ(CommandHistory(historyPath).commands(), QList<QByteArray>({"a1", "b1", "a2", "b2", "b3"}));

    // A window that lets go within the wait does not cost the save.
    auto held = std::make_unique<QLockFile>(path + ".lock");
    ASSERT_TRUE(held->tryLock(0));
    std::thread briefSave([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        held.reset();
    });
    EXPECT_NO_THROW(changedA.save(path, SavedServers::load(path)));
    briefSave.join();

    // The list's bound holds after taking in the other's servers: the save
    // that finds no room says so rather than dropping a server.
    SavedServers full;
    for (int i = 0; i < SavedServers::kMaxServers; ++i)
        full.put({"s" + QByteArray::number(i), "10.0.0.1", "1"});
    const SavedServers before = SavedServers::load(path);
    full.save(path, before);
    SavedServers late = before;
    late.put({"one more", "10.0.0.3", "1"});
    EXPECT_THROW(late.save(path, before), FileRefused);
    EXPECT_EQ(SavedServers::load(path).servers().size(), SavedServers::kMaxServers);
}

// What the history leaves out: a login however it is typed, and the password
// in use where it stands as the password.
TEST_F(StorageTest, TheCommandHistoryKeepsNoLoginAndNoPassword)
{
    struct Case
    {
        QByteArray command;
        bool kept;
    };
    const Case cases[] = {
        {"login 0123456789abcdef0123456789abcdef", false},
        {"LOGIN secret", false},
        {"  Login\tsecret", false},
        {"login", false},
        {"exec sv.password secret", false},
        {"exec game.sayAll \"secret\"", false},
        {"exec sv.password secrets", true},
        {"loginx", true},
        {"exec game.sayAll \"log in now\"", true},
    };
    for (const Case& c : cases) {
        CommandHistory history(Path("history"));
        history.add(c.command, "secret");
        EXPECT_EQ(history.commands().contains(c.command), c.kept) << c.command.constData();
        EXPECT_EQ(ReadBytes(Path("history")).contains(c.command), c.kept) << c.command.constData();
        QFile::remove(Path("history"));
    }
}

namespace {

// Bytes this process has read from files so far.
qint64 BytesReadSoFar()
{
    QFile io(QStringLiteral("/proc/self/io"));
    if (!io.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : io.readAll().split('\n')) {
        if (line.startsWith("rchar:"))
            return line.mid(6).trimmed().toLongLong();
    }
    return -1;
}

} // namespace

// A history of 100 MiB (written by hand, or by an older copy) costs its last
// MiB at start, not its whole: the 500 commands kept are read from its end.
TEST_F(StorageTest, TheCommandHistoryIsReadFromItsEnd)
{
    const QString path = Path("history");
    WriteBytes(path, "login old\r\n");
    ASSERT_TRUE(QFile::resize(path, 100 * 1024 * 1024)); // a hole: a line of zero bytes, without reading costs
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::Append));
    QList<QByteArray> tail;
    for (int i = 0; i < 300; ++i)
        tail.append("exec game.sayAll \"" + QByteArray::number(i) + '"');
    file.write("\r\n" + tail.join("\r\n") + "\r\nLOGIN old\r\n");
    file.close();

    const qint64 before = BytesReadSoFar();
    ASSERT_GE(before, 0);
    const CommandHistory history(path);
    EXPECT_LE(BytesReadSoFar() - before, 2 * CommandHistory::kMaxReadBytes);
    // Compared whole but told short: a wrong history may hold a line of 100 MiB.
    EXPECT_TRUE(history.commands() == tail)
        << "the line cut by the start of the read, and the logins, are left out; " << history.commands().size()
        << " kept, the first " << history.commands().value(0).left(40).toHex(' ').constData();

    for (int i = 300; i < 700; ++i)
        tail.append("exec game.sayAll \"" + QByteArray::number(i) + '"');
    ASSERT_TRUE(file.open(QIODevice::Append));
    file.write(tail.mid(300).join("\r\n") + "\r\n");
    file.close();
    EXPECT_EQ(CommandHistory(path).commands(), tail.mid(200));
}
