#include "ui/report_grid_model.h"

#include <algorithm>
#include <climits>
#include <utility>

TReportGridModel::TReportGridModel(QStringList headers, TRowCount rowCount, TRowTexts rowTexts,
                                   QObject* parent)
    : QAbstractTableModel(parent),
      headers_(std::move(headers)),
      rowCount_(std::move(rowCount)),
      rowTexts_(std::move(rowTexts)) {}

void TReportGridModel::Refresh() {
    beginResetModel();
    cachedRow_ = -1;
    endResetModel();
}

int TReportGridModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid()) return 0;
    const size_t n = rowCount_();
    return n > INT_MAX ? INT_MAX : static_cast<int>(n);
}

int TReportGridModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(headers_.size());
}

QVariant TReportGridModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) return {};
    if (role == Qt::TextAlignmentRole) {
        const bool right = std::find(rightAligned_.begin(), rightAligned_.end(), index.column()) !=
                           rightAligned_.end();
        return static_cast<int>((right ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
    }
    if (role != Qt::DisplayRole) return {};
    if (index.row() != cachedRow_) {
        cached_.clear();
        for (const std::string& text : rowTexts_(static_cast<size_t>(index.row())))
            cached_.append(QString::fromStdString(text));
        cachedRow_ = index.row();
    }
    return index.column() < cached_.size() ? cached_[index.column()] : QString();
}

QVariant TReportGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal || section < 0 ||
        section >= headers_.size())
        return QAbstractTableModel::headerData(section, orientation, role);
    return headers_[section];
}
