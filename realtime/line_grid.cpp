#include "realtime/line_grid.h"

#include <algorithm>

#include "link/exchange_model.h"

TGridShape GridShapeFor(const std::string& modelName) {
    const TModelRules rules = ModelRules(modelName);
    return {rules.GridColumns, rules.GridRows};
}

int LineOfCell(int column, int row) {
    return 200 + 10 * (column - 1) + (row - 1);
}

bool CellOfLine(const TGridShape& shape, int line, int& column, int& row) {
    if (line < 200) return false;
    column = (line - 200) / 10 + 1;
    row = (line - 200) % 10 + 1;
    return column < shape.Columns && row < shape.Rows;
}

int GridWidth(const TGridShape& shape, int columnWidth) {
    return (columnWidth + 1) * shape.Columns + 10;
}

int GridHeight(const TGridShape& shape, int rowHeight) {
    return (rowHeight + 1) * shape.Rows + 10;
}

std::map<int, std::string> ConnectedLines(const std::vector<TConnection>& connections) {
    std::map<int, std::string> lines;
    for (const TConnection& c : connections) {
        for (size_t i = 0; i < c.size(); ++i) {
            if (c[i].Kind != static_cast<uint8_t>(TParticipantKind::SubscriberLine) ||
                c[i].Number < 0)
                continue;
            TConnection partners;
            for (size_t j = 0; j < c.size(); ++j)
                if (j != i) partners.push_back(c[j]);
            std::string text = partners.empty() ? "трубка снята" : ConnectionText(partners);
            while (!text.empty() && text.back() == ' ')
                text.pop_back();
            std::string& slot = lines[c[i].Number];
            slot = slot.empty() ? text : slot + "; " + text;
        }
    }
    return lines;
}

QPoint GridPosition(const QRect& monitor, const QSize& grid, const QRect& screen) {
    const QPoint right(monitor.x() + monitor.width(), monitor.y());
    if (screen.isNull()) return right;
    const int screenEnd = screen.x() + screen.width();
    int x = right.x();
    if (x + grid.width() > screenEnd)
        x = monitor.x() - grid.width() >= screen.x() ? monitor.x() - grid.width()
                                                     : screenEnd - grid.width();
    const int y = std::min(right.y(), screen.y() + screen.height() - grid.height());
    return QPoint(std::max(x, screen.x()), std::max(y, screen.y()));
}
