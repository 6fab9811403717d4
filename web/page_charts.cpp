#include "web/page_charts.h"

#include <array>
#include <cstdio>
#include <map>

#include <pqxx/nontransaction>
#include <pqxx/result>
#include <pqxx/transaction>

#include "billing/bill.h"
#include "billing/rating.h"
#include "calllog/report_datetime.h"
#include "web/html.h"
#include "web/office_files.h"

namespace {

// What the charts read of tallyphon.calls, in one place so that summary
// tables can stand in for the calls later. Each query is limited to the
// user's offices (filter: TWebRole::SiteFilter(), empty: all), the chosen
// office (site, empty: all allowed) and the period's days (yyyy-mm-dd as
// ChooseSites checked them, empty: open).
struct TCallsQuery {
    std::string Filter, Site, From, To;

    std::string Where(const pqxx::transaction_base& tx) const {
        return " WHERE (" + tx.quote(Filter) + " = '' OR site = " + tx.quote(Filter) + ") AND (" +
               tx.quote(Site) + " = '' OR site = " + tx.quote(Site) + ")" +
               (From.empty() ? "" : " AND start >= DATE " + tx.quote(From)) +
               (To.empty() ? "" : " AND start < DATE " + tx.quote(To) + " + 1");
    }
    // Calls by hour of day: 24 counts.
    std::array<long long, 24> ByHour(pqxx::transaction_base& tx) const {
        std::array<long long, 24> hours{};
        for (const pqxx::row& r :
             tx.exec("SELECT extract(hour FROM start)::int, count(*) FROM tallyphon.calls" +
                     Where(tx) + " GROUP BY 1"))
            if (const int h = r[0].as<int>(); h >= 0 && h < 24) hours[h] = r[1].as<long long>();
        return hours;
    }
    // Calls by day (days since 30 December 1899), days without calls left
    // out.
    std::map<int, long long> ByDay(pqxx::transaction_base& tx) const {
        std::map<int, long long> days;
        for (const pqxx::row& r : tx.exec("SELECT start::date - DATE '1899-12-30', count(*)"
                                          " FROM tallyphon.calls" +
                                          Where(tx) + " GROUP BY 1"))
            days[r[0].as<int>()] = r[1].as<long long>();
        return days;
    }
    // Calls f(call) for every outgoing call, read in batches so that a
    // year of an office's calls is never held at once.
    template <class F>
    void Outgoing(pqxx::transaction_base& tx, F f) const {
        tx.exec(
            "DECLARE outgoing NO SCROLL CURSOR FOR"
            " SELECT start::date - DATE '1899-12-30', extract(epoch FROM start::time)::int,"
            " duration, dialled FROM tallyphon.calls" +
            Where(tx) + " AND dialled <> ''");
        TExtStr_rep call;
        for (;;) {
            const pqxx::result rows = tx.exec("FETCH 20000 FROM outgoing");
            if (rows.empty()) break;
            for (const pqxx::row& r : rows) {
                call.StartTime = r[0].as<int>() + r[1].as<int>() / 86400.0;
                call.DurTotalSec = r[2].as<int32_t>();
                call.ExtNumber.assign(r[3].c_str());
                f(call);
            }
        }
        tx.exec("CLOSE outgoing");
    }
};

using TReadTransaction =
    pqxx::transaction<pqxx::isolation_level::repeatable_read, pqxx::readwrite_policy::read_only>;

struct TZoneSum {
    long long Calls = 0, Billed = 0, Cost = 0;
};

// "1234.56": kopecks as the number a script reads, whatever the locale.
std::string Roubles(long long kopecks) {
    const std::string text = KopecksText(kopecks);
    return text.substr(0, text.size() - 3) + "." + text.substr(text.size() - 2);
}

// A table the script draws: caption, the heads of the labels' column and
// of the value columns, of which column is drawn as kind ("bar", "line"),
// then rows of a label and cells already HTML.
std::string ChartTable(const std::string& caption, const std::string& kind, int column,
                       const std::vector<std::string>& heads,
                       const std::vector<std::pair<std::string, std::string>>& rows) {
    std::string out = "<table class=\"chart\" data-chart=\"" + Html(kind) + "\" data-column=\"" +
                      std::to_string(column) + "\">\n<caption>" + Html(caption) +
                      "</caption>\n<thead><tr>";
    for (const std::string& head : heads)
        out += "<th>" + Html(head) + "</th>";
    out += "</tr></thead>\n<tbody>\n";
    for (const auto& [label, cells] : rows)
        out += "<tr><th>" + Html(label) + "</th>" + cells + "</tr>\n";
    return out + "</tbody>\n</table>\n";
}

std::string Count(long long n) {
    return "<td class=\"n\">" + std::to_string(n) + "</td>";
}

std::string DayText(int day) {
    const TDateTimeParts d = DecodeRepDateTime(day);
    return FixedDateText(d.Year, d.Month, d.Day);
}

// The cost by zone of site's outgoing calls, rated by its stored tariffs;
// a sentence instead when it has none.
std::string ZoneCosts(pqxx::connection_base& db, const TCallsQuery& query) {
    const TOfficeBilling billing = LoadOfficeBilling(db, query.Site);
    if (!billing.Tariffs) {
        if (!billing.Error.empty())
            return "<p class=\"error\">Тарифы офиса " + Html(query.Site) +
                   " не читаются: " + Html(billing.Error) + "</p>\n";
        return "<p>У офиса " + Html(query.Site) +
               " нет тарифов: стоимость его звонков не считается.</p>\n";
    }
    const TTariffs& tariffs = *billing.Tariffs;
    std::vector<TZoneSum> zones(tariffs.Zones().size());
    TZoneSum unrated;
    {
        TReadTransaction tx(db);
        query.Outgoing(tx, [&](const TExtStr_rep& call) {
            const TCallRating rating = RateCall(tariffs, call);
            TZoneSum& sum =
                rating.Rate ? zones[static_cast<size_t>(rating.Rate->ZoneIndex)] : unrated;
            ++sum.Calls;
            sum.Billed += rating.Billed;
            sum.Cost += rating.Cost;
        });
    }
    std::vector<std::pair<std::string, std::string>> rows;
    const auto row = [&](const std::string& zone, const TZoneSum& sum) {
        if (sum.Calls == 0) return;
        rows.emplace_back(zone, Count(sum.Calls) + Count((sum.Billed + 59) / 60) +
                                    "<td class=\"n\" data-value=\"" + Roubles(sum.Cost) + "\">" +
                                    KopecksText(sum.Cost) + "</td>");
    };
    for (size_t i = 0; i < zones.size(); ++i)
        row(tariffs.Zones()[i], zones[i]);
    row(kNoTariffZone, unrated);
    if (rows.empty())
        return "<p>У офиса " + Html(query.Site) + " нет исходящих звонков за этот срок.</p>\n";
    return ChartTable("Стоимость по зонам: " + query.Site, "bar", 3,
                      {"Зона", "Звонков", "Минут", "Стоимость, руб."}, rows);
}

}  // namespace

TPageAnswer ChartsPage(pqxx::connection_base& db, const TPageRequest& request) {
    const TSiteChoice choice = ChooseSites(db, request);
    std::string body = ChoiceForm(choice, "/charts");
    if (choice.Error.empty() && choice.Allowed.empty()) body += "<p>Нет офисов.</p>\n";
    if (choice.Error.empty() && !choice.Allowed.empty()) {
        const TCallsQuery all{request.Role.SiteFilter(), choice.Site, choice.From, choice.To};
        std::array<long long, 24> hours;
        std::map<int, long long> days;
        {
            TReadTransaction tx(db);
            hours = all.ByHour(tx);
            days = all.ByDay(tx);
        }
        std::vector<std::pair<std::string, std::string>> rows;
        for (int h = 0; h < 24; ++h)
            rows.emplace_back(std::to_string(h), Count(hours[static_cast<size_t>(h)]));
        body += "<h2>Звонки по часам суток</h2>\n" +
                ChartTable("Звонки по часам суток", "bar", 1, {"Час", "Звонков"}, rows);
        rows.clear();
        // Days without calls between the first and the last are shown as
        // such: a gap in a chart would hide them. Over more than a quarter
        // the days would be thousands of rows: months then.
        const bool monthly = !days.empty() && days.rbegin()->first - days.begin()->first >= 92;
        if (monthly) {
            std::map<int, long long> months;  // year * 12 + month - 1
            for (const auto& [day, calls] : days) {
                const TDateTimeParts d = DecodeRepDateTime(day);
                months[d.Year * 12 + d.Month - 1] += calls;
            }
            for (int m = months.begin()->first; m <= months.rbegin()->first; ++m) {
                const auto found = months.find(m);
                char label[16];
                std::snprintf(label, sizeof label, "%02d.%04d", m % 12 + 1, m / 12);
                rows.emplace_back(label, Count(found == months.end() ? 0 : found->second));
            }
        } else if (!days.empty()) {
            for (int day = days.begin()->first; day <= days.rbegin()->first; ++day) {
                const auto found = days.find(day);
                rows.emplace_back(DayText(day), Count(found == days.end() ? 0 : found->second));
            }
        }
        const std::string title = monthly ? "Звонки по месяцам" : "Звонки по дням";
        body += "<h2>" + title + "</h2>\n" +
                (rows.empty()
                     ? std::string("<p>Звонков за этот срок нет.</p>\n")
                     : ChartTable(title, "line", 1, {monthly ? "Месяц" : "День", "Звонков"}, rows));
        body += "<h2>Стоимость по зонам</h2>\n";
        for (const std::string& site : choice.Sites())
            body += ZoneCosts(db, {request.Role.SiteFilter(), site, choice.From, choice.To});
        body +=
            "<script src=\"/chart.js\" defer></script>\n"
            "<script src=\"/charts.js\" defer></script>\n";
    }
    TPageAnswer answer;
    answer.Body = Framed("Графики", "/charts", request.UserLabel(),
                         request.Role.Kind == TWebRole::TKind::Admin, request.Csrf, body);
    answer.Scripts = true;
    return answer;
}

const std::string& ChartsScript() {
    static const std::string script = R"js("use strict";
// A chart above each table of class "chart": the row heads are the labels,
// the column data-column the values, a cell's data-value
// standing for its text when it has one.
(function () {
  if (typeof Chart === "undefined") return;
  document.querySelectorAll("table.chart").forEach(function (table) {
    var column = Number(table.dataset.column);
    var labels = [], values = [];
    table.querySelectorAll("tbody tr").forEach(function (row) {
      var cell = row.children[column];
      if (!cell) return;
      labels.push(row.children[0].textContent);
      values.push(Number(cell.dataset.value !== undefined ? cell.dataset.value
                                                           : cell.textContent));
    });
    var head = table.querySelectorAll("thead th")[column];
    var box = document.createElement("div");
    box.style.maxWidth = "50em";
    var canvas = document.createElement("canvas");
    canvas.setAttribute("role", "img");
    var caption = table.querySelector("caption");
    canvas.setAttribute("aria-label", caption ? caption.textContent : "");
    box.appendChild(canvas);
    table.parentNode.insertBefore(box, table);
    new Chart(canvas, {
      type: table.dataset.chart === "line" ? "line" : "bar",
      data: {
        labels: labels,
        datasets: [{
          label: head ? head.textContent : "",
          data: values,
          backgroundColor: "#4a7ab0",
          borderColor: "#234"
        }]
      },
      options: {
        animation: false,
        plugins: { legend: { display: false } },
        // Counts get no ticks between whole numbers.
        scales: { y: { beginAtZero: true,
                       ticks: { precision: values.every(Number.isInteger) ? 0 : undefined } } }
      }
    });
  });
})();
)js";
    return script;
}
