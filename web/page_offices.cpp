#include "web/page_offices.h"

#include <map>
#include <mutex>
#include <optional>
#include <tuple>

#include <pqxx/nontransaction>
#include <pqxx/result>

#include "billing/bill.h"
#include "web/html.h"
#include "web/page_bill.h"

namespace {

// The period from the first of now's month to now's day, local time.
TPeriod ThisMonth(std::time_t now) {
    std::tm local{};
    localtime_r(&now, &local);
    char first[16], today[16];
    std::strftime(first, sizeof first, "%Y-%m-01", &local);
    std::strftime(today, sizeof today, "%Y-%m-%d", &local);
    TPeriod period;
    ParseIsoDate(first, period.FromDay);
    ParseIsoDate(today, period.ToDay);
    return period;
}

// The month's cost of each office as last worked out, with what it was
// worked out from: the page is asked for far more often than an office
// ships, and rating a month of calls takes a fifth of a second.
struct TCostKey {
    int32_t FromDay = 0, ToDay = 0;
    std::string Files;  // the uploads' kinds and times
    long long Shipped = 0;
    std::string LastCall;  // the key of the office's last call
    bool operator==(const TCostKey& o) const {
        return std::tie(FromDay, ToDay, Files, Shipped, LastCall) ==
               std::tie(o.FromDay, o.ToDay, o.Files, o.Shipped, o.LastCall);
    }
};
struct TCostCache {
    std::mutex Mutex;
    std::map<std::string, std::pair<TCostKey, std::string>> BySite;
};
TCostCache& Costs() {
    static TCostCache cache;
    return cache;
}

}  // namespace

TPageAnswer OfficesPage(pqxx::connection_base& db, const TPageRequest& request) {
    std::vector<TOfficeRow> rows;
    std::vector<std::optional<std::time_t>> shippedAt;
    std::vector<TCostKey> costKeys;
    const TPeriod month = ThisMonth(request.Now);
    {
        pqxx::nontransaction n(db);
        const pqxx::result r = n.exec_params(
            "SELECT s.site, s.model, s.serial,"
            "  coalesce(to_char(s.shipped_at, 'DD.MM.YYYY HH24:MI:SS'), ''),"
            "  coalesce(to_char(l.start, 'DD.MM.YYYY HH24:MI:SS'), ''),"
            "  coalesce(l.hw_line, ''), coalesce(l.dialled, ''),"
            "  coalesce(l.duration::text, ''),"
            "  coalesce((SELECT d.calls FROM tallyphon.day_sums d"
            "            WHERE d.site = s.site AND d.day = current_date), 0),"
            "  floor(extract(epoch FROM s.shipped_at))::bigint,"
            "  s.shipped_calls, coalesce(l.file_no || ':' || l.file_offset, ''),"
            "  (SELECT coalesce(string_agg(f.kind || ' ' || f.uploaded_at::text, ','"
            "     ORDER BY f.kind), '') FROM tallyphon.office_files f WHERE f.site = s.site)"
            " FROM tallyphon.sites s LEFT JOIN LATERAL"
            "  (SELECT start, hw_line, dialled, duration, file_no, file_offset"
            "   FROM tallyphon.calls c"
            "   WHERE c.site = s.site ORDER BY file_no DESC, file_offset DESC LIMIT 1) l"
            "  ON true"
            " WHERE ($1 = '' OR s.site = $1) AND ($2 = '' OR s.site = $2)"
            " ORDER BY s.site COLLATE \"C\"",
            request.Role.SiteFilter(), request.Arg("site"));
        for (const pqxx::row& x : r) {
            TOfficeRow row;
            row.Site = x[0].as<std::string>();
            row.Model = x[1].as<std::string>();
            row.Serial = x[2].as<std::string>();
            row.ShippedAt = x[3].as<std::string>();
            row.LastStart = x[4].as<std::string>();
            row.LastLine = x[5].as<std::string>();
            row.LastDialled = x[6].as<std::string>();
            row.LastDuration = x[7].as<std::string>();
            row.CallsToday = x[8].as<long long>();
            rows.push_back(std::move(row));
            shippedAt.push_back(x[9].is_null() ? std::nullopt
                                               : std::optional<std::time_t>(x[9].as<long long>()));
            costKeys.push_back({month.FromDay, month.ToDay, x[12].as<std::string>(),
                                x[10].as<long long>(), x[11].as<std::string>()});
        }
    }
    const int64_t allowed = int64_t{request.Watch.SilentAfterMinutes} * 60;
    for (size_t i = 0; i < rows.size(); ++i) {
        TOfficeRow& row = rows[i];
        // Silence counts only while the office is expected to work: a
        // weekend or a night does not make it silent.
        row.Silent = !shippedAt[i] || WorkSeconds(request.Watch.Hours, *shippedAt[i], request.Now,
                                                  allowed + 1) > allowed;
        row.SilentFor =
            "больше " + std::to_string(request.Watch.SilentAfterMinutes) + " мин рабочего времени";
        // Rated as its bill is, by the office's own tariffs; none, none shown.
        if (costKeys[i].Files.find("tariffs") == std::string::npos) continue;
        {
            std::lock_guard<std::mutex> lock(Costs().Mutex);
            const auto found = Costs().BySite.find(row.Site);
            if (found != Costs().BySite.end() && found->second.first == costKeys[i]) {
                row.MonthCost = found->second.second;
                continue;
            }
        }
        TBill bill;
        std::string error;
        if (OfficeBill(db, row.Site, month, bill, error))
            row.MonthCost = KopecksText(bill.Total.Cost);
        std::lock_guard<std::mutex> lock(Costs().Mutex);
        Costs().BySite[row.Site] = {costKeys[i], row.MonthCost};
    }
    TPageAnswer answer;
    answer.Body =
        Framed("Офисы", "/", request.UserLabel(), request.Role.Kind == TWebRole::TKind::Admin,
               request.Csrf, OfficesBody(rows));
    return answer;
}
