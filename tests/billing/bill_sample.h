// A small bill written by hand: two departments, one subscriber with three
// zones (one of them without a tariff), and totals added up by hand.
#pragma once

#include "billing/bill.h"

inline TBill BillSample() {
    const auto line = [](const char* zone, int64_t calls, int64_t seconds, int64_t billed,
                         int64_t cost, bool priced = true) {
        TBillLine l;
        l.Zone = zone;
        l.Calls = calls;
        l.Seconds = seconds;
        l.Billed = billed;
        l.Cost = cost;
        l.Priced = priced;
        return l;
    };
    TBill bill;
    bill.Subscribers = {
        {"201",
         "Петров П. П.",
         "Бухгалтерия",
         {line("Город", 3, 754, 840, 117800), line("Межгород", 1, 65, 120, 4250),
          line("Без тарифа", 1, 30, 0, 0, false)},
         line("Итого", 5, 849, 960, 122050)},
        {"202",
         "Иванова А. С.",
         "Бухгалтерия",
         {line("Город", 2, 120, 120, 300)},
         line("Итого", 2, 120, 120, 300)},
        {"305", "Сидоров", "Склад", {line("Город", 1, 59, 60, 150)}, line("Итого", 1, 59, 60, 150)},
    };
    bill.Total = line("Итого", 8, 1028, 1140, 122500);
    return bill;
}

inline TBillTitle BillSampleTitle() {
    return {"01.11.2026 – 30.11.2026", "АТС офиса", "01.12.2026"};
}
