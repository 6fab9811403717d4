#include "billing/bill.h"

#include <algorithm>
#include <unordered_map>
#include <utility>

#include "billing/rating.h"

namespace {

struct TSums {
    int64_t Calls = 0, Seconds = 0, Billed = 0, Cost = 0;
};

struct TSubscriberSums {
    std::string Number;
    std::vector<TSums> Zones;  // the tariff's zones, then "Без тарифа"
    size_t Site = 0;           // index of the office in the sites given
};

bool AllDigits(const std::string& s) {
    if (s.empty()) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

// All-digit numbers by value (fewer significant digits first), then the
// others by their bytes.
bool NumberBefore(const std::string& a, const std::string& b) {
    const bool da = AllDigits(a), db = AllDigits(b);
    if (da != db) return da;
    if (da) {
        const size_t za = std::min(a.find_first_not_of('0'), a.size());
        const size_t zb = std::min(b.find_first_not_of('0'), b.size());
        const size_t la = a.size() - za, lb = b.size() - zb;
        if (la != lb) return la < lb;
        const int c = a.compare(za, la, b, zb, lb);
        if (c != 0) return c < 0;
    }
    return a < b;
}

void AddLine(TBillLine& to, const TBillLine& from) {
    to.Calls += from.Calls;
    to.Seconds += from.Seconds;
    to.Billed += from.Billed;
    to.Cost += from.Cost;
}

void CsvField(std::string& out, std::string_view s) {
    if (s.find_first_of(";\"\r\n") == std::string_view::npos) {
        out += s;
        return;
    }
    out += '"';
    for (char c : s) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
}

void CsvLine(std::string& out, const std::string* site, std::string_view number,
             std::string_view name, std::string_view department, const TBillLine& line) {
    if (site) {
        CsvField(out, *site);
        out += ';';
    }
    CsvField(out, number);
    out += ';';
    CsvField(out, name);
    out += ';';
    CsvField(out, department);
    out += ';';
    CsvField(out, line.Zone);
    out += ';';
    out += std::to_string(line.Calls);
    out += ';';
    out += std::to_string(line.Seconds);
    out += ';';
    out += std::to_string(line.Billed);
    out += ';';
    if (line.Priced) out += KopecksText(line.Cost);
    out += "\r\n";
}

}  // namespace

std::string KopecksText(int64_t kopecks) {
    const bool negative = kopecks < 0;
    const uint64_t v =
        negative ? 0 - static_cast<uint64_t>(kopecks) : static_cast<uint64_t>(kopecks);
    std::string s = negative ? "-" : "";
    s += std::to_string(v / 100);
    s += ',';
    s += static_cast<char>('0' + v % 100 / 10);
    s += static_cast<char>('0' + v % 10);
    return s;
}

TBill MakeBill(const TStrList_rep<TExtStr_rep>& lines, const TTariffs& tariffs,
               const TDirectory& directory, const TPeriod& period,
               const std::vector<TSiteSpan>& sites) {
    const size_t zones = tariffs.Zones().size();
    std::vector<TSubscriberSums> subs;
    std::unordered_map<std::string, size_t> index;
    const bool whole = period.Whole();
    const bool sited = sites.size() > 1;
    size_t site = 0;
    for (size_t i = 0; i < lines.Count(); ++i) {
        const TExtStr_rep* call = &lines[i];
        if (call->ExtNumber.empty()) continue;
        if (!whole && !period.Holds(call->StartTime)) continue;
        std::string key = BilledSubscriber(call->PrgLine.view(), call->HwLine.view());
        if (sited) {
            while (site + 1 < sites.size() && sites[site + 1].First <= i)
                ++site;
            key = ListKey(sites[site].Site, key);
        }
        auto [it, added] = index.try_emplace(std::move(key), subs.size());
        if (added)
            subs.push_back(
                {sited ? BilledSubscriber(call->PrgLine.view(), call->HwLine.view()) : it->first,
                 std::vector<TSums>(zones + 1), site});
        const TCallRating rating = RatingOf(tariffs, *call);
        TSums& s = subs[it->second]
                       .Zones[rating.Rate ? static_cast<size_t>(rating.Rate->ZoneIndex) : zones];
        ++s.Calls;
        s.Seconds += call->DurTotalSec;
        s.Billed += rating.Billed;
        s.Cost += rating.Cost;
    }

    std::vector<size_t> order(subs.size());
    for (size_t k = 0; k < order.size(); ++k)
        order[k] = k;
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        if (subs[a].Site != subs[b].Site) return subs[a].Site < subs[b].Site;
        return NumberBefore(subs[a].Number, subs[b].Number);
    });

    TBill bill;
    bill.Sited = sited;
    bill.Total.Zone = "Итого";
    bill.Subscribers.reserve(subs.size());
    for (size_t k : order) {
        TSubscriberSums& sums = subs[k];
        TBillSubscriber sub;
        if (sited) bill.Sites.push_back(sites[sums.Site].Site);
        sub.Number = std::move(sums.Number);
        if (const TSubscriberEntry* e = directory.Find(sub.Number)) {
            sub.Name = e->Name;
            sub.Department = e->Department;
        }
        sub.Total.Zone = "Итого";
        for (size_t z = 0; z <= zones; ++z) {
            const TSums& s = sums.Zones[z];
            if (s.Calls == 0) continue;
            TBillLine line;
            line.Zone = z < zones ? tariffs.Zones()[z] : kNoTariffZone;
            line.Calls = s.Calls;
            line.Seconds = s.Seconds;
            line.Billed = s.Billed;
            line.Cost = s.Cost;
            line.Priced = z < zones;
            AddLine(sub.Total, line);
            sub.Zones.push_back(std::move(line));
        }
        AddLine(bill.Total, sub.Total);
        bill.Subscribers.push_back(std::move(sub));
    }
    return bill;
}

std::string BillSubscriberLabel(const TBill& bill, const TBillSubscriber& s) {
    const size_t k = static_cast<size_t>(&s - bill.Subscribers.data());
    if (!bill.Sited || k >= bill.Sites.size()) return s.Number;
    return bill.Sites[k] + ": " + s.Number;
}

std::string BillCsv(const TBill& bill) {
    std::string out;
    out.reserve(128 + bill.Subscribers.size() * 160);
    out += "\xEF\xBB\xBF";
    const bool sited = bill.Sited;
    if (sited) out += "Площадка;";
    out += "Абонент;Имя;Отдел;Зона;Звонков;Длительность, с;Тарифицировано, с;Стоимость\r\n";
    for (size_t k = 0; k < bill.Subscribers.size(); ++k) {
        const TBillSubscriber& s = bill.Subscribers[k];
        const std::string* site = sited ? &bill.Sites[k] : nullptr;
        for (const TBillLine& line : s.Zones)
            CsvLine(out, site, s.Number, s.Name, s.Department, line);
        CsvLine(out, site, s.Number, s.Name, s.Department, s.Total);
    }
    static const std::string kNoSite;
    CsvLine(out, sited ? &kNoSite : nullptr, "Итого", "", "",
            TBillLine{"", bill.Total.Calls, bill.Total.Seconds, bill.Total.Billed, bill.Total.Cost,
                      true});
    return out;
}
