#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "reports/directory.h"
#include "reports/period.h"
#include "reports/report_datetime.h"
#include "reports/tariffs.h"

namespace {

TTariffs Parsed(const std::string& text) {
    TTariffs t;
    std::string error;
    EXPECT_TRUE(t.Parse(text, error)) << error;
    return t;
}

TEST(Tariffs, BilledSecondsAndCost) {
    const struct {
        const char* Rate;  // price;setup;first;step;free
        int Duration;
        int Billed;
        int Kopecks;
    } rows[] = {
        {"1", 60, 60, 100},
        {"1", 61, 120, 200},
        {"1", 120, 120, 200},
        {"1", 0, 0, 0},
        {"2;0,10;30;6", 30, 30, 110},
        {"2;0,10;30;6", 31, 36, 130},
        {"2;0,10;30;6", 36, 36, 130},
        {"2;0,10;30;6", 37, 42, 150},
        {"2;0,10;30;6;5", 5, 0, 0},  // free: no setup either
        {"2;0,10;30;6;5", 6, 30, 110},
        {"0,0050", 60, 60, 1},  // exactly half a kopeck
        {"0,0049", 60, 60, 0},
        {"0.0100;;1;1", 30, 30, 1},
        {"12,3456;;60;30", 75, 90, 1852},  // 18.5184
        {"0;0,005", 10, 60, 1},
    };
    for (const auto& r : rows) {
        const TTariffs t = Parsed(std::string("*;Z;") + r.Rate);
        const TRate* rate = t.RateFor("123", 1, 0);
        ASSERT_NE(rate, nullptr);
        const int64_t billed = BilledSeconds(*rate, r.Duration);
        EXPECT_EQ(billed, r.Billed) << r.Rate << " d=" << r.Duration;
        EXPECT_EQ(CostKopecks(*rate, billed), r.Kopecks) << r.Rate << " d=" << r.Duration;
    }
}

TEST(Tariffs, RefusedFilesKeepTheTable) {
    const struct {
        const char* Text;
        const char* Error;
    } rows[] = {
        {"*;Город;1о", "Строка 1, поле «цена»: «1о» — не число (пример: 1,25)"},
        {"*;Город;1\n8-10;М;3",
         "Строка 2, поле «префикс»: «8-10» — префикс состоит из цифр или это «*» для всех "
         "номеров"},
        {"*;;1", "Строка 1, поле «зона»: зона не указана"},
        {"*;Город", "Строка 1, поле «цена»: цена минуты не указана"},
        {"*;Город;0,12345",
         "Строка 1, поле «цена»: «0,12345» — больше четырёх знаков после запятой"},
        {"*;Город;1;-0,5",
         "Строка 1, поле «плата за соединение»: «-0,5» — значение не может быть отрицательным"},
        {"*;Город;1;;0", "Строка 1, поле «первый интервал»: «0» — должно быть не меньше 1"},
        {"*;Город;1;;;x", "Строка 1, поле «шаг»: «x» — не целое число секунд"},
        {"*;Город;1;;;;-1", "Строка 1, поле «бесплатно»: «-1» — должно быть не меньше 0"},
        {"*;Город;1;;;;;0",
         "Строка 1, поле «дни»: «0» — дни недели задаются числами от 1 до 7, например 1-5, 6-7 "
         "или 1,3,5"},
        {"*;Город;1;;;;;1,8",
         "Строка 1, поле «дни»: «1,8» — дни недели задаются числами от 1 до 7, например 1-5, 6-7 "
         "или 1,3,5"},
        {"*;Город;1;;;;;5-1",
         "Строка 1, поле «дни»: «5-1» — в диапазоне дней первый день позже последнего"},
        {"*;Город;1;;;;;;25:00;08:00",
         "Строка 1, поле «с»: «25:00» — такого времени нет (от 00:00 до 23:59)"},
        {"*;Город;1;;;;;;20:00;8",
         "Строка 1, поле «до»: «8» — время задаётся как ЧЧ:ММ, например 08:00"},
        {"*;Город;1;;;;;;20:00",
         "Строка 1, поле «до»: не указано, а время «с» указано: нужны оба или ни одного"},
        {"*;Город;1;;;;;;;08:00",
         "Строка 1, поле «с»: не указано, а время «до» указано: нужны оба или ни одного"},
        {"*;Город;1;;;;;;;;", "Строка 1, поле 11: в строке 11 полей, а их не больше десяти"},
        {"Префикс;Зона;Цена\r\n\r\n", "В файле нет ни одной строки тарифа"},
        {"", "В файле нет ни одной строки тарифа"},
        {"Префикс;Зона;Цена\n*;\"Город;1\n",
         "Строка 2: кавычка открыта и не закрыта до конца файла"},
        // Line numbers count blank lines, lone CRs and breaks inside quotes.
        {"*;Город;1\r\n\r\n*;\"Го\nрод\";1\r8;М;x",
         "Строка 5, поле «цена»: «x» — не число (пример: 1,25)"},
    };
    TTariffs t = Parsed("*;Город;1");
    for (const auto& r : rows) {
        std::string error;
        EXPECT_FALSE(t.Parse(r.Text, error)) << r.Text;
        EXPECT_EQ(error, r.Error);
        EXPECT_EQ(t.Rates().size(), 1u);
    }
}

TEST(Directory, NamesAndDepartments) {
    TDirectory d;
    std::string error;
    ASSERT_TRUE(
        d.Parse("\xEF\xBB\xBFНомер;Имя;Отдел\r\n"
                "201 ;  \"Петров; П.\" ; Бухгалтерия\r\n"
                "\r\n"
                "202;\"Иван \"\"Ваня\"\" Сидоров\"\n"
                "АЛ9;Склад\r",
                error))
        << error;
    ASSERT_NE(d.Find("201"), nullptr);
    EXPECT_EQ(d.Find("201")->Name, "Петров; П.");
    EXPECT_EQ(d.Find("201")->Department, "Бухгалтерия");
    EXPECT_EQ(d.Find("202")->Name, "Иван \"Ваня\" Сидоров");
    EXPECT_EQ(d.Find("АЛ9")->Name, "Склад");
    EXPECT_EQ(d.Find("203"), nullptr);

    EXPECT_FALSE(d.Parse("201;А\n201;Б", error));
    EXPECT_EQ(error, "Строка 2, поле «номер»: номер «201» уже указан в строке 1");
    EXPECT_FALSE(d.Parse("201;А\n;Б", error));
    EXPECT_EQ(error, "Строка 2, поле «номер»: номер абонента не указан");
    EXPECT_NE(d.Find("201"), nullptr);

    EXPECT_EQ(BilledSubscriber("201", "9"), "201");
    EXPECT_EQ(BilledSubscriber("", "9"), "АЛ9");
}

TEST(Period, DatesAndBounds) {
    int32_t day = 0;
    ASSERT_TRUE(ParseIsoDate("2026-11-01", day));
    EXPECT_EQ(day, 46327);
    for (const char* bad : {"2026-02-29", "2026-13-01", "2026-1-01", "26-11-01", "2026-11-01 "})
        EXPECT_FALSE(ParseIsoDate(bad, day)) << bad;
    TPeriod p;
    p.FromDay = 46327;
    p.ToDay = 46356;
    EXPECT_TRUE(p.Holds(EncodeRepDateTime(2026, 11, 30, 23, 59, 59)));
    EXPECT_FALSE(p.Holds(EncodeRepDateTime(2026, 12, 1, 0, 0, 0)));
    EXPECT_FALSE(p.Holds(EncodeRepDateTime(2026, 10, 31, 23, 59, 59)));
}

}  // namespace
