// The grid of off-hook handsets and busy trunks beside the real-time
// monitor: one cell per subscriber line, tens across and units down; the
// lines in a connection are marked, their partners in the cell's tooltip.
#pragma once

#include <vector>

#include <boost/shared_ptr.hpp>

#include <QDialog>

#include "link/low_level.h"
#include "realtime/busy_tracker.h"
#include "realtime/line_grid.h"

class QTableWidget;

class TRealTimeAdvancedForm : public QDialog {
    Q_OBJECT
  public:
    // Default cell size of the grid, in pixels.
    static constexpr int kColumnWidth = 30;
    static constexpr int kRowHeight = 15;

    explicit TRealTimeAdvancedForm(QWidget* parent = nullptr);

    // The exchange-link context whose model lays out the grid; handed over
    // by the monitor before each showing.
    void SetLink(boost::shared_ptr<TLowLevel> link) { link_ = std::move(link); }
    // The model that lays the grid out, when it is not to be read from the
    // link (a query may be identifying the exchange meanwhile).
    void SetModelName(const std::string& model) { modelName_ = model; }
    boost::shared_ptr<TLowLevel> Link() const { return link_; }

    // Lays the grid out and places the window beside monitor, on its
    // screen, so that it hides nothing of it where there is room.
    void PlaceBeside(const QWidget& monitor);
    // Marks the cells of the subscriber lines in connections and clears
    // every other cell. A marked cell's tooltip names its partners and,
    // with busy, first how long the line has been busy.
    void MarkConnections(const std::vector<TConnection>& connections,
                         const TBusyTracker* busy = nullptr);
    // Lines marked now, ascending.
    std::vector<int> MarkedLines() const;

  public slots:
    // Lays the grid out for the model.
    void FormShow();

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    // Named by its objectName.
    QTableWidget* const StringGrid1;
    std::string modelName_;
    boost::shared_ptr<TLowLevel> link_;
    TGridShape shape_;
};
