#include "report_locale.h"

#include <QDate>
#include <QLocale>

TDateText SystemShortDate() {
    return [locale = QLocale::system()](int year, int month, int day) {
        return locale.toString(QDate(year, month, day), QLocale::ShortFormat).toStdString();
    };
}
