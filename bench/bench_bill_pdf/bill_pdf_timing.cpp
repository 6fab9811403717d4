#include "bench/bench_bill_pdf/bill_pdf_timing.h"

#include <chrono>

#include "billing/bill_print.h"

TBill GeneratedBill(int n) {
    static const char* const zones[] = {"Город", "Межгород", "Мобильные", "Без тарифа"};
    static const char* const departments[] = {"Бухгалтерия", "Дирекция", "Отдел продаж", "Склад",
                                              "Снабжение"};
    TBill bill;
    bill.Total.Zone = "Итого";
    for (int i = 0; i < n; ++i) {
        TBillSubscriber s;
        s.Number = std::to_string(200 + i);
        s.Name = "Абонент " + std::to_string(i + 1);
        s.Department = departments[i % 5];
        s.Total.Zone = "Итого";
        for (int z = 0; z < 4; ++z) {
            TBillLine line;
            line.Zone = zones[z];
            line.Calls = 10 + i % 7 + z;
            line.Seconds = line.Calls * (95 + z * 20);
            line.Priced = z != 3;
            line.Billed = line.Priced ? line.Calls * 120 : 0;
            line.Cost = line.Priced ? line.Billed * (z + 1) * 25 / 60 : 0;
            for (TBillLine* sum : {&s.Total, &bill.Total}) {
                sum->Calls += line.Calls;
                sum->Seconds += line.Seconds;
                sum->Billed += line.Billed;
                sum->Cost += line.Cost;
            }
            s.Zones.push_back(line);
        }
        bill.Subscribers.push_back(std::move(s));
    }
    return bill;
}

double TimeBillPdf(const TBill& bill, const std::string& path) {
    const TBillTitle title{"01.11.2026 – 30.11.2026", "АТС", "01.12.2026"};
    const auto start = std::chrono::steady_clock::now();
    if (!WriteBillPdf(bill, title, path).Ok()) return -1;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}
