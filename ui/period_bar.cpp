#include "ui/period_bar.h"

#include <initializer_list>

#include <QCheckBox>
#include <QDate>
#include <QDateEdit>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

#include "ui/named_widget.h"

namespace {

QDateEdit* MakeDateEdit(QWidget* parent, const char* name) {
    auto* edit = new QDateEdit(parent);
    edit->setObjectName(name);
    edit->setCalendarPopup(true);
    edit->setDisplayFormat("dd.MM.yyyy");
    edit->setDate(QDate::currentDate());
    edit->setEnabled(false);
    return edit;
}

}  // namespace

int32_t DayNumberOf(const QDate& date) {
    static const QDate kDayZero(1899, 12, 30);
    return static_cast<int32_t>(kDayZero.daysTo(date));
}

TPeriodBar::TPeriodBar(QWidget* parent)
    : QFrame(parent),
      FromCheck(NamedWidget<QCheckBox>(this, "FromCheck", "с")),
      FromDate(MakeDateEdit(this, "FromDate")),
      ToCheck(NamedWidget<QCheckBox>(this, "ToCheck", "по")),
      ToDate(MakeDateEdit(this, "ToDate")),
      LastMonthButton(NamedWidget<QPushButton>(this, "LastMonthButton", "Прошлый месяц")),
      ThisMonthButton(NamedWidget<QPushButton>(this, "ThisMonthButton", "Этот месяц")),
      WholeFileButton(NamedWidget<QPushButton>(this, "WholeFileButton", "Весь файл")),
      PeriodMark(new QLabel("Начало периода позже конца", this)) {
    setObjectName("PeriodBar");
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(4, 2, 4, 2);
    for (QWidget* w :
         std::initializer_list<QWidget*>{FromCheck, FromDate, ToCheck, ToDate, LastMonthButton,
                                         ThisMonthButton, WholeFileButton, PeriodMark})
        row->addWidget(w);
    row->addStretch();
    PeriodMark->setObjectName("PeriodMark");
    PeriodMark->setStyleSheet("color: #c00000; font-weight: bold");
    PeriodMark->hide();

    for (QCheckBox* check : {FromCheck, ToCheck})
        connect(check, &QCheckBox::toggled, this, &TPeriodBar::Changed);
    for (QDateEdit* edit : {FromDate, ToDate})
        connect(edit, &QDateEdit::dateChanged, this, &TPeriodBar::Changed);
    connect(LastMonthButton, &QPushButton::clicked, this, &TPeriodBar::LastMonthButtonClick);
    connect(ThisMonthButton, &QPushButton::clicked, this, &TPeriodBar::ThisMonthButtonClick);
    connect(WholeFileButton, &QPushButton::clicked, this, &TPeriodBar::WholeFileButtonClick);
}

TPeriod TPeriodBar::Period() const {
    TPeriod period;
    if (FromCheck->isChecked()) period.FromDay = DayNumberOf(FromDate->date());
    if (ToCheck->isChecked()) period.ToDay = DayNumberOf(ToDate->date());
    return period;
}

void TPeriodBar::SetEnds(bool fromOpen, const QDate& from, bool toOpen, const QDate& to) {
    setting_ = true;
    FromCheck->setChecked(!fromOpen);
    ToCheck->setChecked(!toOpen);
    if (from.isValid()) FromDate->setDate(from);
    if (to.isValid()) ToDate->setDate(to);
    setting_ = false;
    Changed();
}

void TPeriodBar::Changed() {
    FromDate->setEnabled(FromCheck->isChecked());
    ToDate->setEnabled(ToCheck->isChecked());
    if (setting_) return;
    const TPeriod period = Period();
    const bool inverted = period.FromDay > period.ToDay;
    PeriodMark->setVisible(inverted);
    for (QDateEdit* edit : {FromDate, ToDate})
        edit->setStyleSheet(inverted ? "color: #c00000" : "");
    if (!inverted) emit PeriodChosen(period);
}

void TPeriodBar::SetMonthOf(const QDate& day) {
    const QDate start(day.year(), day.month(), 1);
    SetEnds(false, start, false, start.addMonths(1).addDays(-1));
}

void TPeriodBar::LastMonthButtonClick() {
    SetMonthOf(QDate::currentDate().addMonths(-1));
}

void TPeriodBar::ThisMonthButtonClick() {
    SetMonthOf(QDate::currentDate());
}

void TPeriodBar::WholeFileButtonClick() {
    SetEnds(true, {}, true, {});
}
