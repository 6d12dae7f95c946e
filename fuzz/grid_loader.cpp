// Loading the announcement table's file. Either the load ends normally with
// counts inside the grid's limits and every cell of that size set, column by
// column, each to the next line of the file by the text-file rules, or it
// fails with "Invalid numeric input" (106) at the count a plain restatement of
// the count rules rejects, having set nothing after that count.
//
// Input: the file's bytes, then (consumed from the end) a byte that may
// stretch the file past the text-file reader's buffer.

#include "core/errors.h"
#include "fuzz_support.h"
#include "reference_rules.h"
#include "storage/grid_file.h"

#include <optional>

namespace {

const fuzz::ScratchFile& file()
{
    static const fuzz::ScratchFile scratch("servermessages.dat");
    return scratch;
}

// What the load should do, worked out from the file alone.
struct Expected
{
    std::optional<int> colCount; // set on the grid, when the first count is taken
    std::optional<int> rowCount; // set on the grid, when the second count is taken
    bool fails = false;          // "Invalid numeric input" after the counts above
};

// A count: the first word of up to 32 bytes, 0 when the file ends first,
// nothing when the word is not a whole number; the rest of its line is passed.
std::optional<qint32> referenceCount(reference::TextModel& model)
{
    const QByteArray word = model.readWord(32);
    if (word.isEmpty())
        return 0;
    const std::optional<qint32> count = reference::parseInteger(word);
    if (count)
        model.skipLine();
    return count;
}

Expected expect(reference::TextModel& model)
{
    Expected e;
    const std::optional<qint32> cols = referenceCount(model);
    if (!cols || std::max(*cols, 1) > kMaxGridColumns) {
        e.fails = true;
        return e;
    }
    e.colCount = std::max(*cols, 1);
    const std::optional<qint32> rows = referenceCount(model);
    if (!rows || std::max(*rows, 1) > kMaxGridRows || qint64(*e.colCount) * std::max(*rows, 1) > kMaxGridCells) {
        e.fails = true;
        return e;
    }
    e.rowCount = std::max(*rows, 1);
    return e;
}

// Checks every call of the loader as it comes, cells against the model's
// next line, so that a million cells cost no memory.
class CheckingGrid : public GridTarget
{
public:
    explicit CheckingGrid(reference::TextModel& model)
        : model_(model)
    { }

    void setColCount(int count) override
    {
        FUZZ_CHECK(!colCount && !rowCount, "the column count set twice or after the rows");
        FUZZ_CHECK(count >= 1 && count <= kMaxGridColumns, "column count " + QByteArray::number(count));
        colCount = count;
    }

    void setRowCount(int count) override
    {
        FUZZ_CHECK(colCount && !rowCount, "the row count set before the columns or twice");
        FUZZ_CHECK(count >= 1 && count <= kMaxGridRows && qint64(*colCount) * count <= kMaxGridCells,
                   "row count " + QByteArray::number(count) + " with " + QByteArray::number(*colCount) + " columns");
        rowCount = count;
    }

    void setCell(int col, int row, const QByteArray& text) override
    {
        FUZZ_CHECK(rowCount, "a cell set before the counts");
        FUZZ_CHECK(col == nextCol_ && row == nextRow_,
                   "cell (" + QByteArray::number(col) + ", " + QByteArray::number(row) + ") set out of order");
        const QByteArray line = model_.readLine();
        FUZZ_CHECK(text == line,
                   "cell (" + QByteArray::number(col) + ", " + QByteArray::number(row) + ") is " + fuzz::escaped(text)
                       + ", the file's line is " + fuzz::escaped(line));
        ++cellsSet;
        if (++nextRow_ == *rowCount) {
            nextRow_ = 0;
            ++nextCol_;
        }
    }

    std::optional<int> colCount;
    std::optional<int> rowCount;
    qint64 cellsSet = 0;

private:
    reference::TextModel& model_;
    int nextCol_ = 0;
    int nextRow_ = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    const fuzz::Stretch stretch = fuzz::Stretch::consume(input);
    const QByteArray content = stretch.apply(fuzz::remainingBytes(input));
    file().write(content);

    // Reading the counts leaves the model at the first cell's line.
    reference::TextModel model(content);
    const Expected expected = expect(model);
    CheckingGrid grid(model);
    bool failed = false;
    try {
        loadGrid(grid, file().path());
    } catch (const FileError& e) {
        FUZZ_CHECK(e.code() == file_error::InvalidNumericInput,
                   "the load failed with I/O error " + QByteArray::number(e.code()));
        failed = true;
    }

    const auto show = [](const std::optional<int>& n) { return n ? QByteArray::number(*n) : QByteArray("unset"); };
    FUZZ_CHECK(failed == expected.fails,
               failed ? "the load failed on counts the rules take" : "the load took a count the rules reject");
    FUZZ_CHECK(grid.colCount == expected.colCount,
               "column count " + show(grid.colCount) + ", the rules say " + show(expected.colCount));
    FUZZ_CHECK(grid.rowCount == expected.rowCount,
               "row count " + show(grid.rowCount) + ", the rules say " + show(expected.rowCount));
    if (!failed) {
        FUZZ_CHECK(grid.cellsSet == qint64(*grid.colCount) * *grid.rowCount,
                   QByteArray::number(grid.cellsSet) + " cells set for " + show(grid.colCount) + " x "
                       + show(grid.rowCount));
    } else {
        FUZZ_CHECK(grid.cellsSet == 0, "cells set by a failed load");
    }
    return 0;
}
