#include "storage/grid_file.h"

#include "core/errors.h"
#include "core/integer_text.h"
#include "storage/text_file.h"

#include <algorithm>

namespace {

// Counts are read as a word of at most this many characters.
constexpr qsizetype kMaxCountLength = 32;

// A count: the first word of the next non-blank line, the rest of that line
// passed over; 0 when the file ends first.
qint32 readCount(TextFileReader& reader)
{
    const QByteArray word = reader.readWord(kMaxCountLength);
    if (word.isEmpty())
        return 0;
    const auto count = parseInteger(word);
    if (!count)
        throw FileError(file_error::InvalidNumericInput);
    reader.skipLine();
    return *count;
}

// A cell as one line of the file. A line break or an end-of-file mark kept
// in it would move every later cell at the next load, or end the table there.
QByteArray asOneLine(QByteArray cell)
{
    constexpr char kEndOfFileMark = '\x1a';
    for (char& c : cell) {
        if (c == '\r' || c == '\n' || c == kEndOfFileMark)
            c = ' ';
    }
    return cell;
}

} // namespace

void saveGrid(const GridSource& grid, const QString& path, WriteRules rules)
{
    TextFileWriter writer(path, 0666, rules);
    const int colCount = grid.colCount();
    const int rowCount = grid.rowCount();
    writer.writeLine(QByteArray::number(colCount));
    writer.writeLine(QByteArray::number(rowCount));
    for (int col = 0; col < colCount; ++col) {
        for (int row = 0; row < rowCount; ++row)
            writer.writeLine(asOneLine(grid.cell(col, row)));
    }
    writer.commit();
}

void loadGrid(GridTarget& grid, const QString& path)
{
    TextFileReader reader;
    reader.open(path);

    const qint32 colCount = std::max(readCount(reader), 1);
    if (colCount > kMaxGridColumns)
        throw FileError(file_error::InvalidNumericInput);
    grid.setColCount(colCount);

    const qint32 rowCount = std::max(readCount(reader), 1);
    if (rowCount > kMaxGridRows || qint64(colCount) * rowCount > kMaxGridCells)
        throw FileError(file_error::InvalidNumericInput);
    grid.setRowCount(rowCount);

    for (int col = 0; col < colCount; ++col) {
        for (int row = 0; row < rowCount; ++row)
            grid.setCell(col, row, reader.readLine());
    }
}
