// The bill of a period: per subscriber the calls of each zone, their
// durations, billed seconds and cost, with totals, as the bill CSV, the
// printed bill and the report window show it. Costs are whole kopecks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "billing/directory.h"
#include "billing/period.h"
#include "billing/tariffs.h"
#include "calllog/call_record.h"

// One zone of one subscriber, or a subscriber's total ("Итого").
struct TBillLine {
    std::string Zone;     // the tariff's zone name, "Без тарифа" or "Итого"
    int64_t Calls = 0;    // outgoing calls
    int64_t Seconds = 0;  // sum of their durations
    int64_t Billed = 0;   // sum of their billed seconds (0 for "Без тарифа")
    int64_t Cost = 0;     // kopecks, the sum of the rounded call costs
    bool Priced = true;   // false for "Без тарифа": its cost is left empty
};

// One subscriber with at least one outgoing call in the period.
struct TBillSubscriber {
    std::string Number;      // programmed number, or "АЛ" and the hardware number
    std::string Name;        // from the directory; empty when it has none
    std::string Department;  // likewise
    // One line per zone called, zones in the order of their first line in
    // the tariff file, "Без тарифа" last.
    std::vector<TBillLine> Zones;
    TBillLine Total;  // Zone "Итого"
};

struct TBill {
    // Ordered by office (in the order of the sites given), then by number:
    // all-digit numbers first by numeric value, then the others by their
    // UTF-8 bytes.
    std::vector<TBillSubscriber> Subscribers;
    // Whether the bill covers several offices, and then the office of each
    // subscriber.
    bool Sited = false;
    std::vector<std::string> Sites;
    TBillLine Total;  // over every subscriber, Zone "Итого"
};

// A subscriber's number as the bill window and the printed bill show it:
// with its office before it ("Склад: 121") when the bill covers several.
// s is one of bill's subscribers.
std::string BillSubscriberLabel(const TBill& bill, const TBillSubscriber& s);

// What the printed bill's title says besides the calls.
struct TBillTitle {
    std::string Period;        // e.g. "01.11.2026 – 30.11.2026", or "весь файл"
    std::string ExchangeName;  // may be empty
    std::string MadeOn;        // the date the bill was made, dd.MM.yyyy
};

// "1178,00": kopecks with two decimals and a comma.
std::string KopecksText(int64_t kopecks);

// The bill of the outgoing calls of lines that start in period, lines
// rated by tariffs (RateCalls): the bill takes each call's rating as the
// grids do, and never looks a rate up again. With more than one office in
// sites each office's subscribers are its own.
TBill MakeBill(const TStrList_rep<TExtStr_rep>& lines, const TTariffs& tariffs,
               const TDirectory& directory, const TPeriod& period,
               const std::vector<TSiteSpan>& sites = {});

// The bill CSV, byte for byte: UTF-8 with a BOM, fields separated by ";",
// lines ending CR LF, RFC 4180 quoting; header line
// "Абонент;Имя;Отдел;Зона;Звонков;Длительность, с;Тарифицировано, с;Стоимость",
// per subscriber its zone lines and "Итого", then "Итого;;;;" and the sums.
// A bill of several offices has "Площадка" first, and an empty one in the
// last line.
std::string BillCsv(const TBill& bill);
