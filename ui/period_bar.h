// The report window's period bar: the first and last day a report's calls
// and bill are limited to, each end open while its check box is off, and
// buttons for last month, this month and the whole file.
#pragma once

#include <cstdint>

#include <QFrame>

#include "billing/period.h"

class QCheckBox;
class QDate;
class QDateEdit;
class QLabel;
class QPushButton;

// The day number of date as the call log counts days.
int32_t DayNumberOf(const QDate& date);

class TPeriodBar : public QFrame {
    Q_OBJECT

  public:
    explicit TPeriodBar(QWidget* parent = nullptr);

    // The period the bar shows; its start may lie after its end.
    TPeriod Period() const;

  signals:
    // The bar shows another period whose start is not after its end. While
    // the start lies after the end the bar marks it and tells nothing, so
    // that the report keeps the last period that was valid.
    void PeriodChosen(const TPeriod& period);

  private:
    // Sets both ends at once, telling the period once.
    void SetEnds(bool fromOpen, const QDate& from, bool toOpen, const QDate& to);
    // The whole month day lies in.
    void SetMonthOf(const QDate& day);
    void Changed();
    void LastMonthButtonClick();
    void ThisMonthButtonClick();
    void WholeFileButtonClick();

    // The controls, each found by its object name (the member's name).
    QCheckBox* const FromCheck;
    QDateEdit* const FromDate;
    QCheckBox* const ToCheck;
    QDateEdit* const ToDate;
    QPushButton* const LastMonthButton;
    QPushButton* const ThisMonthButton;
    QPushButton* const WholeFileButton;
    // Shown while the start lies after the end.
    QLabel* const PeriodMark;
    bool setting_ = false;
};
