// The grid of subscriber lines beside the monitor: one cell per line, tens
// across and units down, and which cells the connections of the moment
// mark.
#pragma once

#include <map>
#include <string>
#include <vector>

#include <QPoint>
#include <QRect>
#include <QSize>

#include "link/line_state.h"

// Columns and rows of the grid, the header row and column included.
struct TGridShape {
    int Columns = 13;
    int Rows = 11;
};

// 16 x 11 (lines 200 to 349) for a model whose name holds "930", else
// 13 x 11 (lines 200 to 319); the monitor opens only for QTV930-1 and
// QTV610, and any other model gets the smaller grid.
TGridShape GridShapeFor(const std::string& modelName);

// Line of cell (column, row), both from 1: 200 + 10 (column - 1) + row - 1.
int LineOfCell(int column, int row);
// Cell of line in shape; false when the grid has none for it.
bool CellOfLine(const TGridShape& shape, int line, int& column, int& row);

// Pixel size of the grid: (default size + 1 for the grid line) per column
// or row, and 10 more.
int GridWidth(const TGridShape& shape, int columnWidth);
int GridHeight(const TGridShape& shape, int rowHeight);

// Every subscriber line ("АЛ") taking part in a connection, with the text
// of its partners (UTF-8: each other participant as its kind, number and
// detail, three blanks apart; "трубка снята" for a line alone). A line in
// two connections gets both partners' texts.
std::map<int, std::string> ConnectedLines(const std::vector<TConnection>& connections);

// Where the grid window of size grid goes beside the monitor's frame on
// screen (the screen's free area): to its right with the top edges level,
// or, without room there, to its left; where neither side has room, against
// the screen's right edge. Always within screen, which a null rectangle
// leaves unbounded.
QPoint GridPosition(const QRect& monitor, const QSize& grid, const QRect& screen);
