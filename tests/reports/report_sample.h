// A small call-log file for the report tests, written by hand: two title
// lines, then nine calls of two subscriber lines over three trunks, with a
// call across midnight, an incoming call, a one-digit hardware number and
// over a hundred hours of outgoing traffic on line 105.
#pragma once

#include <string>

#include "base/cp1251.h"

inline std::string ReportSampleFile() {
    return Utf8ToCp1251(
               "       Данные на  05-03-2007 08:00:00 \r\n"
               "       Начало         Продолжит   Абонент      СЛ     Номер\r\n") +
           "05-03-2007 14:02:07   00:01:35   105( 201)       3     1234567        \r\n"
           "05-03-2007 23:59:50   23:59:59   105( 201)       3     8123           \r\n"
           "06-03-2007 00:00:10   23:59:59   105( 201)       3                    \r\n"
           "06-03-2007 09:05:07   23:59:59   105( 201)       3     78             \r\n"
           "06-03-2007 10:00:00   23:59:59   105( 201)       9     5800           \r\n"
           "06-03-2007 12:00:00   23:59:59   105( 201)       9     8              \r\n"
           "06-03-2007 13:00:00   23:59:59   105( 201)      10     800            \r\n"
           "06-03-2007 11:00:00   00:00:30   7( 17)          9     800            \r\n"
           "06-03-2007 11:30:00   00:00:10   7( 17)         10     5551234        \r\n";
}
