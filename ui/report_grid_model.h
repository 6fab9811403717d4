// A table model over one of the report grids. Cell texts are asked of the
// grid when a row is drawn, so a grid of a million calls builds no items.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <QAbstractTableModel>
#include <QStringList>

class TReportGridModel : public QAbstractTableModel {
  public:
    using TRowCount = std::function<size_t()>;
    using TRowTexts = std::function<std::vector<std::string>(size_t row)>;

    TReportGridModel(QStringList headers, TRowCount rowCount, TRowTexts rowTexts, QObject* parent);

    // Tells the views that the grid was rewritten.
    void Refresh();
    // Columns of numbers and durations, set flush right so that their
    // digits line up.
    void SetRightAligned(std::vector<int> columns) { rightAligned_ = std::move(columns); }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

  private:
    QStringList headers_;
    TRowCount rowCount_;
    TRowTexts rowTexts_;
    std::vector<int> rightAligned_;
    // The texts of the row drawn last: a view asks for a row cell by cell.
    mutable int cachedRow_ = -1;
    mutable QStringList cached_;
};
