#include "storage/grid_file.h"

#include "core/delphi_number.h"
#include "core/errors.h"
#include "storage/text_file.h"

#include <algorithm>

namespace {

// Counts are read as a word of at most this many characters.
constexpr qsizetype kMaxCountLength = 32;

// A count: the first word of the next non-blank line, the rest of that line
// passed over; 0 when the file ends first.
qint32 ReadCount(TextFileReader& reader)
{
    const QByteArray word = reader.ReadWord(kMaxCountLength);
    if (word.isEmpty())
        return 0;
    const auto count = TryStrToInt(word);
    if (!count)
        throw EInOutError(io_error::InvalidNumericInput);
    reader.SkipLine();
    return *count;
}

} // namespace

void SaveStringGrid(const GridSource& grid, const QString& path)
{
    TextFileWriter writer(path);
    const int colCount = grid.ColCount();
    const int rowCount = grid.RowCount();
    writer.WriteLine(QByteArray::number(colCount));
    writer.WriteLine(QByteArray::number(rowCount));
    for (int col = 0; col < colCount; ++col) {
        for (int row = 0; row < rowCount; ++row)
            writer.WriteLine(grid.Cell(col, row));
    }
    writer.Commit();
}

void LoadStringGrid(GridTarget& grid, const QString& path)
{
    TextFileReader reader;
    reader.Open(path);

    const qint32 colCount = std::max(ReadCount(reader), 1);
    if (colCount > kMaxGridColumns)
        throw EInOutError(io_error::InvalidNumericInput);
    grid.SetColCount(colCount);

    const qint32 rowCount = std::max(ReadCount(reader), 1);
    if (rowCount > kMaxGridRows || qint64(colCount) * rowCount > kMaxGridCells)
        throw EInOutError(io_error::InvalidNumericInput);
    grid.SetRowCount(rowCount);

    for (int col = 0; col < colCount; ++col) {
        for (int row = 0; row < rowCount; ++row)
            grid.SetCell(col, row, reader.ReadLine());
    }
}
