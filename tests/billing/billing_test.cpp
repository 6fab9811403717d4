#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "billing/bill.h"
#include "billing/rating.h"
#include "calllog/calllog_loader.h"
#include "calllog/report_datetime.h"
#include "tests/common/test_support.h"
#include "tools/gen_calllog/calllog_gen.h"

namespace {

using namespace testing_support;

TExtStr_rep Call(const std::string& dial, int day, int hour, int minute, int second, int dur) {
    TExtStr_rep c;
    c.StartTime = EncodeRepDateTime(2026, 12, day, hour, minute, second);
    c.ExtNumber = dial;
    c.DurTotalSec = dur;
    return c;
}

TTariffs Parsed(const std::string& text) {
    TTariffs t;
    const TBillingResult parsed = t.Parse(text);
    EXPECT_TRUE(parsed.Ok()) << parsed.Message;
    return t;
}

TEST(Tariffs, TheRateOfACall) {
    // 7 December 2026 is a Monday, the 5th a Saturday.
    const TTariffs t = Parsed(
        "\xEF\xBB\xBFПРЕФИКС;зона;Цена минуты;Плата за соединение;Первый интервал;Шаг;Бесплатно;"
        "Дни;С;До\r\n"
        "2;Город;1\r\n"
        "8;Межгород;3\r\n"
        "8;Межгород ночь;1;;;;;*;20:00;08:00\r\n"
        "810;Заграница;10\r\n"
        "7;Будни;2\r\n"
        "7;Выходные;1;;;;;1,6-7\r\n"
        "7;Выходные;5;;;;;6-7\r\n");
    const struct {
        const char* Dial;
        int Day, Hour, Minute, Second;
        const char* Zone;  // "" for none
    } rows[] = {
        {"2345678", 7, 12, 0, 0, "Город"},
        {"84951234567", 7, 12, 0, 0, "Межгород"},
        {"84951234567", 7, 19, 59, 59, "Межгород"},
        {"84951234567", 7, 20, 0, 0, "Межгород ночь"},   // the window beats all day
        {"84951234567", 7, 7, 59, 59, "Межгород ночь"},  // past midnight
        {"84951234567", 7, 8, 0, 0, "Межгород"},
        {"81012345", 7, 22, 0, 0, "Заграница"},  // the longest prefix first
        {"7123", 7, 12, 0, 0, "Выходные"},       // Monday is in "1,6-7"
        {"7123", 8, 12, 0, 0, "Будни"},
        {"7123", 5, 12, 0, 0, "Выходные"},
        {"5551234", 7, 12, 0, 0, ""},
        {"*21#", 7, 12, 0, 0, ""},
    };
    for (const auto& r : rows) {
        const TCallRating rating = RateCall(t, Call(r.Dial, r.Day, r.Hour, r.Minute, r.Second, 60));
        EXPECT_EQ(rating.Rate ? rating.Rate->Zone : "", r.Zone) << r.Dial << " " << r.Hour;
        if (rating.Rate && rating.Rate->Zone == "Выходные") {
            EXPECT_EQ(rating.Rate->Price, 10000);  // the earlier line of two
        }
    }
    EXPECT_EQ((std::vector<std::string>{"Город", "Межгород", "Межгород ночь", "Заграница", "Будни",
                                        "Выходные"}),
              t.Zones());
    // Incoming calls are not rated.
    EXPECT_EQ(RateCall(t, Call("", 7, 12, 0, 0, 60)).Rate, nullptr);
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
    EXPECT_EQ(KopecksText(117800), "1178,00");
    EXPECT_EQ(KopecksText(5), "0,05");
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
        {"*;Город;1;-", "Строка 1, поле «плата за соединение»: «-» — не число (пример: 1,25)"},
        {"*;Город;1;;0", "Строка 1, поле «первый интервал»: «0» — должно быть не меньше 1"},
        {"*;Город;1;;;x", "Строка 1, поле «шаг»: «x» — не целое число секунд"},
        {"*;Город;1;;;;-1", "Строка 1, поле «бесплатно»: «-1» — должно быть не меньше 0"},
        {"*;Город;1;;;;;0",
         "Строка 1, поле «дни»: «0» — дни недели задаются числами от 1 до 7, например 1-5, 6-7 "
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
        {"Префикс;Зона;Цена\n*;\"Город;1\n",
         "Строка 2: кавычка открыта и не закрыта до конца файла"},
        // Line numbers count blank lines (an empty spreadsheet row among
        // them), lone CRs and breaks inside quotes.
        {"*;Город;1\r\n;;\"\" ;\r\n2;\"Го\nрод\";1\r8;М;x",
         "Строка 5, поле «цена»: «x» — не число (пример: 1,25)"},
        // A first line that is no header is a rate like any other.
        {"8 495;Москва;16\r\n8;Межгород;37,40",
         "Строка 1, поле «префикс»: «8 495» — префикс состоит из цифр или это «*» для всех "
         "номеров"},
        {"Префикс;Зона;Цена;Скидка\n8;М;1",
         "Строка 1, поле «префикс»: «Префикс» — префикс состоит из цифр или это «*» для всех "
         "номеров"},
        // A line that could never apply: the same prefix, days and hours.
        {"8;М;5,50\n*;Город;1\n8;М;6,00;;;;;1-7",
         "Строка 3, поле «префикс»: «8» с теми же днями и часами уже в строке 1, эта строка "
         "никогда не применится"},
        {"*;Н;1;;;;;1-5;20:00;08:00\n*;Н;2;;;;;1-5;20:00;08:00",
         "Строка 2, поле «префикс»: «*» с теми же днями и часами уже в строке 1, эта строка "
         "никогда не применится"},
        {"*;Г;1\n*;Г;2;;;;;*;08:00;08:00",
         "Строка 2, поле «префикс»: «*» с теми же днями и часами уже в строке 1, эта строка "
         "никогда не применится"},
    };
    TTariffs t = Parsed("*;Город;1");
    for (const auto& r : rows) {
        const TBillingResult refused = t.Parse(r.Text);
        EXPECT_EQ(refused.Outcome, TBillingOutcome::Invalid) << r.Text;
        EXPECT_EQ(refused.Message, r.Error);
        EXPECT_EQ(t.Rates().size(), 1u);
    }
}

TEST(Directory, NamesAndDepartments) {
    TDirectory d;
    const TBillingResult parsed = d.Parse(
        "\xEF\xBB\xBFНомер;Имя;Отдел\r\n"
        "201 ;  \"Петров; П.\" ; Бухгалтерия\r\n"
        "\r\n"
        "202;\"Иван \"\"Ваня\"\" Сидоров\"\n"
        "АЛ9;Склад\r");
    ASSERT_TRUE(parsed.Ok()) << parsed.Message;
    ASSERT_NE(d.Find("201"), nullptr);
    EXPECT_EQ(d.Find("201")->Name, "Петров; П.");
    EXPECT_EQ(d.Find("201")->Department, "Бухгалтерия");
    EXPECT_EQ(d.Find("202")->Name, "Иван \"Ваня\" Сидоров");
    ASSERT_NE(d.Find("АЛ9"), nullptr);
    EXPECT_EQ(d.Find("АЛ9")->Name, "Склад");
    EXPECT_EQ(d.Find("203"), nullptr);
    // A first line of other words is a subscriber, of the names in any case a header.
    ASSERT_TRUE(d.Parse("АЛ9;Склад\n201;А").Ok());
    ASSERT_NE(d.Find("АЛ9"), nullptr);
    EXPECT_EQ(d.Find("АЛ9")->Name, "Склад");
    ASSERT_TRUE(d.Parse("АБОНЕНТ;фио;\n201;А").Ok());
    EXPECT_EQ(d.Find("АБОНЕНТ"), nullptr);

    const TBillingResult twice = d.Parse("201;А\n201;Б");
    EXPECT_EQ(twice.Outcome, TBillingOutcome::Invalid);
    EXPECT_EQ(twice.Message, "Строка 2, поле «номер»: номер «201» уже указан в строке 1");
    const TBillingResult unnamed = d.Parse("201;А\n;Б");
    EXPECT_EQ(unnamed.Outcome, TBillingOutcome::Invalid);
    EXPECT_EQ(unnamed.Message, "Строка 2, поле «номер»: номер абонента не указан");
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

std::string LogLine(int month, int day, int hour, int minute, int second, int dur, int hw,
                    const std::string& prg, const std::string& dial) {
    TGenCall c;
    c.Year = 2026;
    c.Month = month;
    c.Day = day;
    c.Hour = hour;
    c.Minute = minute;
    c.Second = second;
    c.DurMin = dur / 60;
    c.DurSec = dur % 60;
    c.HwLine = hw;
    c.PrgNumber = prg;
    c.Trunk = "3";
    c.DialNumber = dial;
    return FormatStandardLine(c) + "\r\n";
}

TEST(Bill, CsvOfAMonth) {
    TCallLogContent calls =
        ReadCallLogText(LogLine(11, 2, 10, 0, 0, 95, 1, "201", "2345678") +
                        LogLine(11, 3, 10, 0, 0, 2, 1, "201", "2345678") +  // free
                        LogLine(11, 4, 10, 0, 0, 31, 1, "201", "84951234567") +
                        LogLine(11, 4, 11, 0, 0, 50, 1, "201", "") +         // incoming
                        LogLine(11, 5, 10, 0, 0, 40, 1, "201", "5551234") +  // no rate
                        LogLine(11, 10, 9, 0, 0, 61, 9, "-1", "81012345") +
                        LogLine(11, 30, 23, 59, 59, 60, 2, "1000", "2000000") +
                        LogLine(12, 1, 0, 0, 0, 600, 1, "201", "2345678") +  // after
                        LogLine(10, 31, 12, 0, 0, 60, 3, "99", "2345678") +  // before
                        LogLine(11, 6, 12, 0, 0, 1, 4, "05", "2111111") +
                        LogLine(11, 6, 12, 0, 0, 70, 5, "300", ""));
    const TTariffs t = Parsed(
        "Префикс;Зона;Цена;Соединение;Первый;Шаг;Бесплатно\r\n"
        "2;Город;0,50;;60;60;3\r\n"
        "8;Межгород;3,00;0,10;30;6\r\n");
    TDirectory d;
    ASSERT_TRUE(
        d.Parse("201;\"Петров; П.\";Бухгалтерия\n1000;Склад\nАЛ9;Иванов;\"Цех \"\"А\"\"\"\n").Ok());
    TPeriod november;
    november.FromDay = 46327;
    november.ToDay = 46356;

    const std::string expected =
        "\xEF\xBB\xBF"
        "Абонент;Имя;Отдел;Зона;Звонков;Длительность, с;Тарифицировано, с;Стоимость\r\n"
        "05;;;Город;1;1;0;0,00\r\n"
        "05;;;Итого;1;1;0;0,00\r\n"
        "201;\"Петров; П.\";Бухгалтерия;Город;2;97;120;1,00\r\n"
        "201;\"Петров; П.\";Бухгалтерия;Межгород;1;31;36;1,90\r\n"
        "201;\"Петров; П.\";Бухгалтерия;Без тарифа;1;40;0;\r\n"
        "201;\"Петров; П.\";Бухгалтерия;Итого;4;168;156;2,90\r\n"
        "1000;Склад;;Город;1;60;60;0,50\r\n"
        "1000;Склад;;Итого;1;60;60;0,50\r\n"
        "АЛ9;Иванов;\"Цех \"\"А\"\"\";Межгород;1;61;66;3,40\r\n"
        "АЛ9;Иванов;\"Цех \"\"А\"\"\";Итого;1;61;66;3,40\r\n"
        "Итого;;;;7;290;282;6,80\r\n";
    RateCalls(t, calls.LineList);
    EXPECT_EQ(BillCsv(MakeBill(calls.LineList, t, d, november)), expected);

    const TBill whole = MakeBill(calls.LineList, t, TDirectory(), TPeriod());
    EXPECT_EQ(whole.Total.Calls, 9);
    EXPECT_EQ(whole.Subscribers.size(), 5u);
}

// UTF-16 bytes with their byte-order mark.
std::string Utf16(std::u16string_view text, bool bigEndian) {
    std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (char16_t c : text) {
        const char hi = static_cast<char>(c >> 8), lo = static_cast<char>(c & 0xFF);
        bytes += bigEndian ? hi : lo;
        bytes += bigEndian ? lo : hi;
    }
    return bytes;
}

TEST(TableFiles, EveryEncodingGivesTheSameNames) {
    const struct {
        const char* Name;
        std::string Tariffs, Subscribers;
    } rows[] = {
        {"UTF-8", "8;Межгород;1\r\n", "201;Петров;Склад\r\n"},
        {"UTF-8 BOM",
         "\xEF\xBB\xBF"
         "8;Межгород;1\n",
         "\xEF\xBB\xBF"
         "201;Петров;Склад\n"},
        {"Windows-1251", "8;\xCC\xE5\xE6\xE3\xEE\xF0\xEE\xE4;1\r\n",
         "201;\xCF\xE5\xF2\xF0\xEE\xE2;\xD1\xEA\xEB\xE0\xE4\r\n"},
        {"UTF-16LE", Utf16(u"8;Межгород;1\r\n", false), Utf16(u"201;Петров;Склад\r\n", false)},
        {"UTF-16BE", Utf16(u"8;Межгород;1\r\n", true), Utf16(u"201;Петров;Склад\r\n", true)},
    };
    TCallLogContent calls = ReadCallLogText(LogLine(11, 2, 10, 0, 0, 60, 1, "201", "84951234567"));
    TTempDir dir;
    for (const auto& r : rows) {
        WriteFile(dir.File("t.csv"), r.Tariffs);
        WriteFile(dir.File("s.csv"), r.Subscribers);
        TTariffs t;
        TDirectory d;
        for (const TBillingResult& loaded : {t.Load(dir.File("t.csv")), d.Load(dir.File("s.csv"))})
            ASSERT_TRUE(loaded.Ok()) << r.Name << ": " << loaded.Message;
        RateCalls(t, calls.LineList);
        EXPECT_EQ(BillCsv(MakeBill(calls.LineList, t, d, TPeriod())),
                  "\xEF\xBB\xBF"
                  "Абонент;Имя;Отдел;Зона;Звонков;Длительность, с;Тарифицировано, с;Стоимость\r\n"
                  "201;Петров;Склад;Межгород;1;60;60;1,00\r\n"
                  "201;Петров;Склад;Итого;1;60;60;1,00\r\n"
                  "Итого;;;;1;60;60;1,00\r\n")
            << r.Name;
    }
    // Broken UTF-16 is refused by its encoding, the table kept.
    TTariffs t;
    ASSERT_TRUE(t.Parse("*;Город;1").Ok());
    for (const std::string& bad : {Utf16(u"*;Г;1", false) + "\x41", Utf16(u"*;Г;1\xD800", true)}) {
        WriteFile(dir.File("t.csv"), bad);
        const TBillingResult refused = t.Load(dir.File("t.csv"));
        EXPECT_EQ(refused.Outcome, TBillingOutcome::CannotRead);
        EXPECT_NE(refused.Message.find(bad[0] == '\xFE' ? "UTF-16BE" : "UTF-16LE"),
                  std::string::npos)
            << refused.Message;
        EXPECT_EQ(t.Rates().size(), 1u);
    }
}

}  // namespace
