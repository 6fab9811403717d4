#include "ui/real_time_advanced_form.h"

#include <algorithm>

#include <QHeaderView>
#include <QScreen>
#include <QShowEvent>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

const QColor kFixedColour(0xE0, 0xE0, 0xE0);
const QColor kMarkColour(0xFF, 0xC0, 0x40);

QTableWidgetItem* FixedItem(const QString& text) {
    auto* item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsEnabled);
    item->setBackground(kFixedColour);
    item->setTextAlignment(Qt::AlignCenter);
    return item;
}

}  // namespace

TRealTimeAdvancedForm::TRealTimeAdvancedForm(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint),
      StringGrid1(new QTableWidget) {
    setObjectName("RealTimeAdvancedForm");
    setWindowTitle("Отбражение снятых трубок и занятых СЛ.");
    StringGrid1->setObjectName("StringGrid1");
    StringGrid1->horizontalHeader()->hide();
    StringGrid1->verticalHeader()->hide();
    StringGrid1->horizontalHeader()->setMinimumSectionSize(1);
    StringGrid1->verticalHeader()->setMinimumSectionSize(1);
    StringGrid1->horizontalHeader()->setDefaultSectionSize(kColumnWidth);
    StringGrid1->verticalHeader()->setDefaultSectionSize(kRowHeight);
    StringGrid1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    StringGrid1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    StringGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    StringGrid1->setSelectionMode(QAbstractItemView::NoSelection);
    StringGrid1->setShowGrid(true);
    QFont bold = StringGrid1->font();
    bold.setBold(true);
    bold.setPixelSize(8);
    StringGrid1->setFont(bold);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(StringGrid1);
}

void TRealTimeAdvancedForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous()) FormShow();
}

void TRealTimeAdvancedForm::FormShow() {
    shape_ = GridShapeFor(!modelName_.empty() ? modelName_
                          : link_             ? link_->Identification().ModelName
                                              : std::string());
    StringGrid1->clear();
    StringGrid1->setColumnCount(shape_.Columns);
    StringGrid1->setRowCount(shape_.Rows);
    StringGrid1->setItem(0, 0, FixedItem(""));
    for (int c = 1; c < shape_.Columns; ++c)
        StringGrid1->setItem(0, c, FixedItem(QString::number(200 + 10 * (c - 1))));
    for (int r = 1; r < shape_.Rows; ++r)
        StringGrid1->setItem(r, 0, FixedItem(QString::number(r - 1)));
    for (int c = 1; c < shape_.Columns; ++c)
        for (int r = 1; r < shape_.Rows; ++r) {
            auto* cell = new QTableWidgetItem;
            cell->setFlags(Qt::ItemIsEnabled);
            StringGrid1->setItem(r, c, cell);
        }
    StringGrid1->setFixedSize(GridWidth(shape_, kColumnWidth), GridHeight(shape_, kRowHeight));
    setFixedSize(StringGrid1->size());
}

void TRealTimeAdvancedForm::PlaceBeside(const QWidget& monitor) {
    // Sized for the model first; a window moved before it is shown is not
    // centred over its parent.
    FormShow();
    const QScreen* screen = monitor.screen();
    move(GridPosition(monitor.frameGeometry(), frameGeometry().size(),
                      screen ? screen->availableGeometry() : QRect()));
}

void TRealTimeAdvancedForm::MarkConnections(const std::vector<TConnection>& connections,
                                            const TBusyTracker* busy) {
    const std::map<int, std::string> marked =
        busy ? BusyLineTips(connections, *busy) : ConnectedLines(connections);
    for (int c = 1; c < StringGrid1->columnCount(); ++c)
        for (int r = 1; r < StringGrid1->rowCount(); ++r) {
            QTableWidgetItem* cell = StringGrid1->item(r, c);
            if (!cell) continue;
            const auto it = marked.find(LineOfCell(c, r));
            if (it == marked.end()) {
                cell->setBackground(QBrush());
                cell->setToolTip(QString());
            } else {
                cell->setBackground(kMarkColour);
                cell->setToolTip(QString::fromStdString(it->second));
            }
        }
}

std::vector<int> TRealTimeAdvancedForm::MarkedLines() const {
    std::vector<int> lines;
    for (int c = 1; c < StringGrid1->columnCount(); ++c)
        for (int r = 1; r < StringGrid1->rowCount(); ++r) {
            const QTableWidgetItem* cell = StringGrid1->item(r, c);
            if (cell && !cell->toolTip().isEmpty()) lines.push_back(LineOfCell(c, r));
        }
    std::sort(lines.begin(), lines.end());
    return lines;
}
