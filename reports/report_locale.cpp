#include "reports/report_locale.h"

#include <QDate>
#include <QLocale>

#include "calllog/report_datetime.h"

TDateText SystemShortDate() {
    const QLocale locale = QLocale::system();
    // With no locale at all (cron, a service) the dates are those of the
    // Russian locale the program is made for, not "5 Mar 2007".
    if (locale.language() == QLocale::C) return FixedDateText;
    return [locale](int year, int month, int day) {
        return locale.toString(QDate(year, month, day), QLocale::ShortFormat).toStdString();
    };
}
