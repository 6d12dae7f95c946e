// Save, then load: whatever the file layers write, they read back the same.
//
// The grid file: a grid of any counts within kMaxGridColumns, kMaxGridRows and
// kMaxGridCells and any cell bytes, saved with saveGrid, loads with loadGrid
// into the same counts and the same cells, every cell set once, column by
// column, a cell's line breaks and end-of-file marks read back as blanks; the
// save leaves nothing beside the file.
//
// The INI layer: an existing file of any bytes (or none), a few keys set with
// setValue and saved; a fresh IniFile of the same path reads each key set as
// its last value up to its first line break, at most IniFile::kMaxValueLength
// bytes, and every other key it is asked for as the old file read it. A new
// file is its owner's alone.
//
// Input: a byte choosing the sizes, the grid's cell texts, then the INI file's
// old contents and the keys to set, all through FuzzedDataProvider.

#include "core/errors.h"
#include "fuzz_support.h"
#include "storage/grid_file.h"
#include "storage/ini_file.h"

#include <QList>

#include <optional>
#include <sys/stat.h>

namespace {

class SourceGrid : public GridSource
{
public:
    int cols = 1;
    int rows = 1;
    QList<QByteArray> texts; // the cells take these in turn
    QByteArray longCell;     // the first cell's text instead, when not empty

    int colCount() const override { return cols; }
    int rowCount() const override { return rows; }
    QByteArray cell(int col, int row) const override
    {
        if (col == 0 && row == 0 && !longCell.isEmpty())
            return longCell;
        return texts.isEmpty() ? QByteArray() : texts[(qsizetype(col) * rows + row) % texts.size()];
    }
};

// A cell as the file keeps it: CR, LF and the end-of-file mark 0x1A become blanks.
QByteArray asStored(QByteArray cell)
{
    for (char& c : cell)
        c = (c == '\r' || c == '\n' || c == '\x1a') ? ' ' : c;
    return cell;
}

class LoadedGrid : public GridTarget
{
public:
    int cols = 0;
    int rows = 0;
    qsizetype cellsSet = 0;
    std::optional<QByteArray> mismatch;
    const SourceGrid* expected = nullptr;

    void setColCount(int count) override { cols = count; }
    void setRowCount(int count) override { rows = count; }
    void setCell(int col, int row, const QByteArray& text) override
    {
        // Column by column, each cell once.
        const qsizetype order = qsizetype(col) * rows + row;
        FUZZ_CHECK(order == cellsSet,
                   "cell (" + QByteArray::number(col) + ", " + QByteArray::number(row) + ") set as number "
                       + QByteArray::number(cellsSet + 1));
        ++cellsSet;
        if (!mismatch && text != asStored(expected->cell(col, row))) {
            mismatch = "cell (" + QByteArray::number(col) + ", " + QByteArray::number(row) + ") saved as "
                + fuzz::escaped(expected->cell(col, row)) + " loads as " + fuzz::escaped(text);
        }
    }
};

// The counts: mostly small, now and then at the limits. A grid of a million
// cells takes most of a second here, so the most rows come in one column.
void chooseCounts(FuzzedDataProvider& input, SourceGrid& grid)
{
    switch (const auto shape = input.ConsumeIntegral<uint8_t>()) {
    case 0xff: // the most rows
        grid.cols = 1;
        grid.rows = kMaxGridRows;
        break;
    case 0xfe: // the most columns
        grid.cols = kMaxGridColumns;
        grid.rows = 1 + input.ConsumeIntegral<uint8_t>() % 8;
        break;
    default:
        grid.cols = 1 + shape % 8;
        grid.rows = 1 + input.ConsumeIntegral<uint8_t>() % 32;
        break;
    }
}

void checkGridRoundTrip(FuzzedDataProvider& input, const fuzz::ScratchFile& file)
{
    SourceGrid grid;
    chooseCounts(input, grid);
    for (int n = input.ConsumeIntegral<uint8_t>() % 8; n > 0; --n) {
        const std::string text = input.ConsumeRandomLengthString(200);
        grid.texts.append(QByteArray(text.data(), qsizetype(text.size())));
    }
    // One cell long enough that the reader refills its buffer inside it; one
    // only, so that a grid of the most rows stays a quick file.
    if (!grid.texts.isEmpty() && input.ConsumeBool())
        grid.longCell = grid.texts.first().repeated(1 + fuzz::kReaderBufferSize / (grid.texts.first().size() + 1));

    try {
        saveGrid(grid, file.path());
    } catch (const FileError& error) {
        FUZZ_CHECK(false, "saveGrid raised " + error.message());
    }
    FUZZ_CHECK(file.directoryEntries() == 1,
               "the save left " + QByteArray::number(file.directoryEntries() - 1) + " files beside the grid file");
    LoadedGrid loaded;
    loaded.expected = &grid;
    try {
        loadGrid(loaded, file.path());
    } catch (const FileError& error) {
        FUZZ_CHECK(false, "loading what saveGrid wrote raised " + error.message());
    }
    FUZZ_CHECK(loaded.cols == grid.cols && loaded.rows == grid.rows,
               "a grid of " + QByteArray::number(grid.cols) + " x " + QByteArray::number(grid.rows) + " loads as "
                   + QByteArray::number(loaded.cols) + " x " + QByteArray::number(loaded.rows));
    FUZZ_CHECK(loaded.cellsSet == qsizetype(grid.cols) * grid.rows, QByteArray::number(loaded.cellsSet) + " cells set");
    FUZZ_CHECK(!loaded.mismatch, *loaded.mismatch);
}

// A name the program could use: letters, digits, "_" and ".", maybe with
// blanks around, which do not count.
QByteArray consumeName(FuzzedDataProvider& input, const QList<QByteArray>& usual)
{
    const auto pick = input.ConsumeIntegral<uint8_t>();
    QByteArray name;
    if (pick < 200) {
        name = usual[pick % usual.size()];
    } else {
        static const char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_.";
        for (int n = 1 + input.ConsumeIntegral<uint8_t>() % 8; n > 0; --n)
            name += kChars[input.ConsumeIntegral<uint8_t>() % (sizeof kChars - 1)];
    }
    if (pick % 7 == 0)
        name = " " + name + "\t";
    if (pick % 5 == 0)
        name = name.toUpper();
    return name;
}

// How the layer compares names: ASCII letter case and blanks around do not count.
QByteArray nameKey(QByteArray name)
{
    while (!name.isEmpty() && (name.front() == ' ' || name.front() == '\t'))
        name.remove(0, 1);
    while (!name.isEmpty() && (name.back() == ' ' || name.back() == '\t'))
        name.chop(1);
    return name.toLower();
}

QByteArray firstLine(const QByteArray& value)
{
    qsizetype cut = value.size();
    for (const char lineBreak : {'\n', '\r'}) {
        const qsizetype at = value.indexOf(lineBreak);
        if (at >= 0)
            cut = std::min(cut, at);
    }
    return value.first(std::min(cut, IniFile::kMaxValueLength));
}

void checkIniRoundTrip(FuzzedDataProvider& input, const fuzz::ScratchFile& file)
{
    static const QList<QByteArray> sections = {"Settings", "Other", "settings "};
    static const QList<QByteArray> keys = {"ipaddress", "port", "password", "delay", "chatname", "Port"};

    struct Set
    {
        QByteArray section;
        QByteArray key;
        QByteArray value;
    };
    QList<Set> sets;
    for (int n = 1 + input.ConsumeIntegral<uint8_t>() % 6; n > 0; --n) {
        Set set{consumeName(input, sections), consumeName(input, keys), {}};
        const std::string value = input.ConsumeRandomLengthString(3000);
        set.value = QByteArray(value.data(), qsizetype(value.size()));
        if (input.ConsumeIntegral<uint8_t>() == 0xff)
            set.value = set.value.repeated(1 + 2 * IniFile::kMaxValueLength / (set.value.size() + 1));
        sets.append(set);
    }
    const bool existing = input.ConsumeBool();
    const QByteArray old = fuzz::remainingBytes(input);
    if (existing)
        file.write(old);
    else
        ::unlink(file.nativePath().constData());

    const IniFile before(file.path());
    IniFile changed(file.path());
    for (const Set& set : sets)
        changed.setValue(set.section, set.key, set.value);
    FUZZ_CHECK(changed.save(), "the save of " + QByteArray::number(sets.size()) + " keys failed");
    FUZZ_CHECK(file.directoryEntries() == 1, "the save left files beside settings.ini");
    if (!existing) {
        struct stat st;
        FUZZ_CHECK(::stat(file.nativePath().constData(), &st) == 0 && (st.st_mode & 0777) == 0600,
                   "a new settings.ini has the mode " + QByteArray::number(st.st_mode & 0777, 8));
    }

    const IniFile after(file.path());
    for (qsizetype i = 0; i < sets.size(); ++i) {
        const Set& set = sets[i];
        // The last value set for the same section and key.
        QByteArray last = set.value;
        for (qsizetype j = i + 1; j < sets.size(); ++j) {
            if (nameKey(sets[j].section) == nameKey(set.section) && nameKey(sets[j].key) == nameKey(set.key))
                last = sets[j].value;
        }
        const QByteArray read = after.value(set.section, set.key, "(missing)");
        FUZZ_CHECK(read == firstLine(last),
                   "[" + set.section + "] " + set.key + " set to " + fuzz::escaped(last.left(300)) + " reads back as "
                       + fuzz::escaped(read.left(300)));
    }
    // The keys not set keep their values.
    for (const QByteArray& section : sections) {
        for (const QByteArray& key : keys) {
            const bool set = std::any_of(sets.begin(), sets.end(), [&](const Set& s) {
                return nameKey(s.section) == nameKey(section) && nameKey(s.key) == nameKey(key);
            });
            if (set)
                continue;
            const QByteArray was = before.value(section, key, "(missing)");
            const QByteArray is = after.value(section, key, "(missing)");
            FUZZ_CHECK(was == is,
                       "[" + section + "] " + key + " was " + fuzz::escaped(was.left(300)) + " and reads as "
                           + fuzz::escaped(is.left(300)) + " after setting other keys");
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const fuzz::ScratchFile gridFile("servermessages.dat");
    static const fuzz::ScratchFile iniFile("settings.ini");
    FuzzedDataProvider input(data, size);
    checkGridRoundTrip(input, gridFile);
    checkIniRoundTrip(input, iniFile);
    return 0;
}
