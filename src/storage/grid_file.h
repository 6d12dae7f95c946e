#pragma once

// The string-grid file: the column count and the row count, one per line, then
// one line per cell, column by column (all rows of column 0, then column 1,
// ...). The grid itself is reached through two small interfaces, so that the
// window's grid widget can be saved and loaded without this layer knowing it.

#include "storage/replacing_file.h"

#include <QByteArray>
#include <QString>

class GridSource
{
public:
    virtual ~GridSource() = default;
    virtual int colCount() const = 0;
    virtual int rowCount() const = 0;
    virtual QByteArray cell(int col, int row) const = 0;
};

// Receives the counts first, then every cell of the new size. It must take the
// counts as given (at least 1, at most the limits below).
class GridTarget
{
public:
    virtual ~GridTarget() = default;
    virtual void setColCount(int count) = 0;
    virtual void setRowCount(int count) = 0;
    virtual void setCell(int col, int row, const QByteArray& text) = 0;
};

// Larger counts in a file are refused as not being numbers, so that a damaged
// file cannot make the grid take all memory.
inline constexpr int kMaxGridColumns = 256;
inline constexpr int kMaxGridRows = 100000;
inline constexpr qint64 kMaxGridCells = 1000000;

// Writes the grid to `path`. The file takes its new contents only when all of
// them were written; after a failure the old file is whole. A read-only file is
// not replaced, nor one that `rules` refuse. Raises FileError.
void saveGrid(const GridSource& grid, const QString& path, WriteRules rules = {});

// Reads `path` into the grid. A count that is not a whole number (or is beyond
// the limits) raises FileError "Invalid numeric input"; the column count is
// set before the row count is read. Missing cell lines give empty cells. Other
// failures raise FileError with the platform's error.
void loadGrid(GridTarget& grid, const QString& path);
