#include "ui/charts_form.h"

#include <algorithm>
#include <cstdio>

#include <QBarCategoryAxis>
#include <QBarSet>
#include <QCategoryAxis>
#include <QChart>
#include <QChartView>
#include <QGridLayout>
#include <QHorizontalStackedBarSeries>
#include <QLabel>
#include <QLineSeries>
#include <QLocale>
#include <QPen>
#include <QStackedBarSeries>
#include <QVBoxLayout>
#include <QValueAxis>

namespace {

// More labels than these run into each other under a half-window chart:
// "dd.MM" of a day, and the longer labels of weeks and months.
constexpr int kMaxDayLabels = 12;
constexpr int kMaxLongLabels = 8;

double Hours(int64_t seconds) {
    return static_cast<double>(seconds) / 3600.0;
}

QChartView* MakeView(QWidget* parent, const char* name) {
    auto* view = new QChartView(parent);
    view->setObjectName(name);
    view->setRenderHint(QPainter::Antialiasing);
    view->setMinimumSize(420, 300);
    return view;
}

QFont LabelFont() {
    QFont font;
    font.setPointSize(7);
    return font;
}

// A value axis from 0 to a round number at or above top.
QValueAxis* ValueAxis(const QString& title, double top, const char* format) {
    auto* axis = new QValueAxis;
    axis->setTitleText(title);
    axis->setLabelsFont(LabelFont());
    axis->setRange(0, top > 0 ? top : 1);
    axis->applyNiceNumbers();
    axis->setLabelFormat(format);
    return axis;
}

// Numbers on the axes as the user writes them.
QChart* NewChart(const QString& title) {
    auto* chart = new QChart;
    chart->setTitle(title);
    chart->setLocale(QLocale());
    chart->setLocalizeNumbers(true);
    return chart;
}

QBarCategoryAxis* EveryBarAxis(const QStringList& labels) {
    auto* axis = new QBarCategoryAxis;
    axis->append(labels);
    axis->setTruncateLabels(false);
    return axis;
}

// Labels on every few bars only, at most maxLabels of them.
QCategoryAxis* SparseAxis(const QStringList& labels, int maxLabels) {
    auto* axis = new QCategoryAxis;
    axis->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
    const int n = static_cast<int>(labels.size());
    const int stride = std::max(1, (n + maxLabels - 1) / maxLabels);
    for (int i = 0; i < n; i += stride)
        axis->append(labels[i], i);
    axis->setStartValue(-0.5);
    axis->setTruncateLabels(false);
    axis->setRange(-0.5, std::max(n, 1) - 0.5);
    return axis;
}

// Outgoing and incoming traffic stacked over the bars of axisX, with the
// calls as a line on an axis of their own.
QChart* TimeChart(const QString& title, const QString& across, QAbstractAxis* axisX,
                  const std::vector<TTrafficBin>& bins) {
    auto* out = new QBarSet("Исходящие");
    auto* in = new QBarSet("Входящие");
    auto* calls = new QLineSeries;
    calls->setName("Звонки");
    calls->setPen(QPen(QColor(0xB0, 0x20, 0x20), 2));
    int x = 0;
    double topTraffic = 0, topCalls = 0;
    for (const TTrafficBin& b : bins) {
        *out << Hours(b.OutSec);
        *in << Hours(b.InSec);
        const double n = static_cast<double>(b.OutCalls + b.InCalls);
        calls->append(x++, n);
        topTraffic = std::max(topTraffic, Hours(b.OutSec + b.InSec));
        topCalls = std::max(topCalls, n);
    }
    auto* bars = new QStackedBarSeries;
    bars->append(out);
    bars->append(in);

    QChart* chart = NewChart(title);
    chart->addSeries(bars);
    chart->addSeries(calls);
    axisX->setTitleText(across);
    axisX->setLabelsFont(LabelFont());
    chart->addAxis(axisX, Qt::AlignBottom);
    bars->attachAxis(axisX);
    calls->attachAxis(axisX);
    QValueAxis* traffic = ValueAxis("Трафик, ч", topTraffic, "%.0f");
    chart->addAxis(traffic, Qt::AlignLeft);
    bars->attachAxis(traffic);
    QValueAxis* count = ValueAxis("Звонки", topCalls, "%.0f");
    chart->addAxis(count, Qt::AlignRight);
    calls->attachAxis(count);
    chart->legend()->setAlignment(Qt::AlignBottom);
    return chart;
}

// The ranked lines or trunks as horizontal bars, the most traffic on top.
QChart* TopChart(const QString& title, const QString& across,
                 const std::vector<TRankedTraffic>& ranked) {
    auto* out = new QBarSet("Исходящие");
    auto* in = new QBarSet("Входящие");
    QStringList keys;
    double top = 0;
    for (auto it = ranked.rbegin(); it != ranked.rend(); ++it) {
        *out << Hours(it->Traffic.OutSec);
        *in << Hours(it->Traffic.InSec);
        top = std::max(top, Hours(it->Traffic.OutSec + it->Traffic.InSec));
        keys << (it->Key.empty() ? QString("(нет)") : QString::fromStdString(it->Key));
    }
    auto* bars = new QHorizontalStackedBarSeries;
    bars->append(out);
    bars->append(in);
    QChart* chart = NewChart(title);
    chart->addSeries(bars);
    auto* axisY = new QBarCategoryAxis;
    axisY->append(keys);
    axisY->setTitleText(across);
    axisY->setLabelsFont(LabelFont());
    chart->addAxis(axisY, Qt::AlignLeft);
    bars->attachAxis(axisY);
    QValueAxis* traffic = ValueAxis("Трафик, ч", top, "%.1f");
    chart->addAxis(traffic, Qt::AlignBottom);
    bars->attachAxis(traffic);
    chart->legend()->setAlignment(Qt::AlignBottom);
    return chart;
}

void Replace(QChartView* view, QChart* chart) {
    QChart* old = view->chart();
    view->setChart(chart);
    delete old;
}

}  // namespace

TChartsForm::TChartsForm(QWidget* parent)
    : QDialog(parent),
      HourChart(MakeView(this, "HourChart")),
      DayChart(MakeView(this, "DayChart")),
      DayNote(new QLabel(this)),
      LinesChart(MakeView(this, "LinesChart")),
      TrunksChart(MakeView(this, "TrunksChart")) {
    setObjectName("ChartsForm");
    setWindowTitle("Графики");
    DayNote->setObjectName("DayNote");
    DayNote->hide();
    auto* grid = new QGridLayout(this);
    grid->addWidget(HourChart, 0, 0);
    auto* dayColumn = new QVBoxLayout;
    dayColumn->addWidget(DayChart);
    dayColumn->addWidget(DayNote);
    grid->addLayout(dayColumn, 0, 1);
    grid->addWidget(LinesChart, 1, 0);
    grid->addWidget(TrunksChart, 1, 1);
    resize(1200, 900);
}

void TChartsForm::ShowFigures(const TChartFigures& f) {
    QStringList hours;
    for (int h = 0; h < 24; ++h)
        hours << QString::number(h);
    Replace(HourChart, TimeChart("Звонки и трафик по часам суток", "Час суток", EveryBarAxis(hours),
                                 {f.ByHour.begin(), f.ByHour.end()}));
    QStringList days;
    std::vector<TTrafficBin> dayBins;
    for (const TDayBin& d : f.ByDay) {
        char text[16];
        if (f.DayStep == TDayStep::Day)
            std::snprintf(text, sizeof text, "%02d.%02d", d.Day, d.Month);
        else if (f.DayStep == TDayStep::Week)
            std::snprintf(text, sizeof text, "%02d.%02d.%02d", d.Day, d.Month, d.Year % 100);
        else
            std::snprintf(text, sizeof text, "%02d.%04d", d.Month, d.Year);
        days << text;
        dayBins.push_back(d.Traffic);
    }
    const char* const titles[] = {"Звонки и трафик по дням", "Звонки и трафик по неделям",
                                  "Звонки и трафик по месяцам"};
    const char* const across[] = {"Дата", "Неделя с", "Месяц"};
    const auto step = static_cast<size_t>(f.DayStep);
    Replace(DayChart,
            TimeChart(titles[step], across[step],
                      SparseAxis(days, step == 0 ? kMaxDayLabels : kMaxLongLabels), dayBins));
    DayNote->setText("Звонков вне показанного периода: " + QLocale().toString(f.CallsOutsideDays));
    DayNote->setVisible(f.CallsOutsideDays > 0);
    Replace(LinesChart,
            TopChart("10 абонентских линий с наибольшим трафиком", "Апп. номер АЛ", f.TopLines));
    Replace(TrunksChart,
            TopChart("10 соединительных линий с наибольшим трафиком", "Номер СЛ", f.TopTrunks));
}
