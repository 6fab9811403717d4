#include "charts_form.h"

#include <algorithm>
#include <cstdio>

#include <QBarCategoryAxis>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QGridLayout>
#include <QHorizontalStackedBarSeries>
#include <QLineSeries>
#include <QPen>
#include <QStackedBarSeries>
#include <QValueAxis>

namespace {

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

// Outgoing and incoming traffic stacked over the categories, with the calls
// as a line on an axis of their own.
QChart* TimeChart(const QString& title, const QString& across, const QStringList& categories,
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

    auto* chart = new QChart;
    chart->setTitle(title);
    chart->addSeries(bars);
    chart->addSeries(calls);
    auto* axisX = new QBarCategoryAxis;
    axisX->append(categories);
    axisX->setTitleText(across);
    axisX->setLabelsFont(LabelFont());
    axisX->setTruncateLabels(false);
    if (categories.size() > 31) axisX->setLabelsAngle(-90);
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
    auto* chart = new QChart;
    chart->setTitle(title);
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
      LinesChart(MakeView(this, "LinesChart")),
      TrunksChart(MakeView(this, "TrunksChart")) {
    setObjectName("ChartsForm");
    setWindowTitle("Графики");
    auto* grid = new QGridLayout(this);
    grid->addWidget(HourChart, 0, 0);
    grid->addWidget(DayChart, 0, 1);
    grid->addWidget(LinesChart, 1, 0);
    grid->addWidget(TrunksChart, 1, 1);
    resize(1200, 900);
}

void TChartsForm::ShowFigures(const TChartFigures& f) {
    QStringList hours;
    for (int h = 0; h < 24; ++h)
        hours << QString::number(h);
    Replace(HourChart, TimeChart("Звонки и трафик по часам суток", "Час суток", hours,
                                 {f.ByHour.begin(), f.ByHour.end()}));
    QStringList days;
    std::vector<TTrafficBin> dayBins;
    // A month shows its days; a longer span the day and month, turned.
    const bool month = f.ByDay.size() <= 31;
    for (const TDayBin& d : f.ByDay) {
        char text[16];
        if (month)
            std::snprintf(text, sizeof text, "%d", d.Day);
        else
            std::snprintf(text, sizeof text, "%02d.%02d", d.Day, d.Month);
        days << text;
        dayBins.push_back(d.Traffic);
    }
    Replace(DayChart, TimeChart("Звонки и трафик по дням", "Дата", days, dayBins));
    Replace(LinesChart,
            TopChart("10 абонентских линий с наибольшим трафиком", "Апп. номер АЛ", f.TopLines));
    Replace(TrunksChart,
            TopChart("10 соединительных линий с наибольшим трафиком", "Номер СЛ", f.TopTrunks));
}
