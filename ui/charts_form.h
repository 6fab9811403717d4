// The traffic charts of the report window's call grid: calls and traffic
// by hour of day and by day, and the ten subscriber lines and ten trunks
// with the most traffic. It only draws figures made by the reports.
#pragma once

#include <QDialog>

#include "reports/report_charts.h"

class QChartView;
class QLabel;

class TChartsForm : public QDialog {
    Q_OBJECT
  public:
    explicit TChartsForm(QWidget* parent = nullptr);

    // Redraws the four charts from figures.
    void ShowFigures(const TChartFigures& figures);

  private:
    // Each found by its object name (the member's name).
    QChartView* const HourChart;
    QChartView* const DayChart;
    // Under the day chart: how many calls lie outside its days.
    QLabel* const DayNote;
    QChartView* const LinesChart;
    QChartView* const TrunksChart;
};
