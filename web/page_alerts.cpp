#include "web/page_alerts.h"

#include <optional>
#include <string_view>
#include <vector>

#include <pqxx/except>
#include <pqxx/nontransaction>
#include <pqxx/result>

#include "alerts/alert_words.h"
#include "web/html.h"

namespace {

constexpr size_t kPageRows = 100;
constexpr size_t kLongestKey = 1000;

// Where a page ends: its last alert's time (microseconds since 1970, as
// the server keeps it), office and key.
struct TKey {
    std::string Micros, Site, Key;
};

struct TShownAlert {
    std::string When, Site, Kind, Text, CallLine;
    bool Cleared = false;
    TKey Key;
};

bool Digits(std::string_view text, size_t most) {
    return !text.empty() && text.size() <= most &&
           text.find_first_not_of("0123456789") == std::string_view::npos;
}

// The condition on the time of the alerts of period, starting with " AND":
// the days are the server session's.
std::string PeriodSql(const TPeriod& period) {
    std::string sql;
    if (period.FromDay != TPeriod().FromDay)
        sql += " AND a.raised_at >= DATE '1899-12-30' + " + std::to_string(period.FromDay);
    if (period.ToDay != TPeriod().ToDay)
        sql +=
            " AND a.raised_at < DATE '1899-12-30' + " + std::to_string(int64_t{period.ToDay} + 1);
    return sql;
}

// Up to kPageRows + 1 alerts of the choice after key, newest first: each
// office's come through its index on (site, raised_at) and are merged.
std::vector<TShownAlert> ReadAlerts(pqxx::connection_base& db, const TPageRequest& request,
                                    const TSiteChoice& choice, const std::optional<TKey>& after) {
    pqxx::nontransaction n(db);
    std::string values;
    for (const std::string& site : choice.Sites())
        values += (values.empty() ? "(" : ", (") + n.quote(site) + ")";
    std::string where = "a.site = s.site AND ($1 = '' OR a.site = $1)" + PeriodSql(choice.Period);
    if (after)
        where +=
            " AND (a.raised_at, a.site COLLATE \"C\", a.key COLLATE \"C\") <"
            " (TIMESTAMPTZ 'epoch' + $2::bigint * INTERVAL '1 microsecond',"
            " $3::text COLLATE \"C\", $4::text COLLATE \"C\")";
    const std::string limit = std::to_string(kPageRows + 1);
    const std::string sql =
        "SELECT x.site, x.key, x.micros, x.shown, x.kind, x.cleared, x.text, x.call_line"
        " FROM (VALUES " +
        values +
        ") AS s(site) CROSS JOIN LATERAL (SELECT a.site, a.key, a.raised_at,"
        " (extract(epoch FROM a.raised_at) * 1000000)::bigint AS micros,"
        " to_char(a.raised_at, 'DD.MM.YYYY HH24:MI:SS') AS shown, a.kind, a.cleared, a.text,"
        " a.call_line FROM tallyphon.alerts a WHERE " +
        where + " ORDER BY a.raised_at DESC, a.key COLLATE \"C\" DESC LIMIT " + limit +
        ") AS x ORDER BY x.raised_at DESC, x.site COLLATE \"C\" DESC, x.key COLLATE \"C\" DESC"
        " LIMIT " +
        limit;
    const pqxx::result rows = after ? n.exec_params(sql, request.Role.SiteFilter(), after->Micros,
                                                    after->Site, after->Key)
                                    : n.exec_params(sql, request.Role.SiteFilter());
    std::vector<TShownAlert> alerts;
    for (const pqxx::row& row : rows) {
        TShownAlert a;
        a.Site = row[0].as<std::string>();
        a.Key = {row[2].as<std::string>(), a.Site, row[1].as<std::string>()};
        a.When = row[3].as<std::string>();
        const std::string kind = row[4].as<std::string>();
        const std::optional<TAlertKind> known = AlertKindByName(kind);
        a.Kind = known ? AlertKindTitle(*known) : kind;
        a.Cleared = row[5].as<bool>();
        a.Text = row[6].as<std::string>();
        a.CallLine = row[7].as<std::string>();
        alerts.push_back(std::move(a));
    }
    return alerts;
}

std::string Link(const std::string& url, const std::string& text) {
    return "<a href=\"" + Html(url) + "\">" + Html(text) + "</a>";
}

std::string AlertsTable(const std::vector<TShownAlert>& alerts) {
    std::string table =
        "<table>\n<tr><th>Когда</th><th>Офис</th><th>Тревога</th><th>Состояние</th>"
        "<th>Текст</th><th>Звонок</th></tr>\n";
    for (size_t i = 0; i < alerts.size() && i < kPageRows; ++i) {
        const TShownAlert& a = alerts[i];
        table += "<tr><td>" + Html(a.When) + "</td><td>" + Html(a.Site) + "</td><td>" +
                 Html(a.Kind) + "</td><td>" + Html(a.Cleared ? "снята" : "поднята") + "</td><td>" +
                 Html(a.Text) + "</td><td>" + Html(a.CallLine) + "</td></tr>\n";
    }
    return table + "</table>\n";
}

}  // namespace

TPageAnswer AlertsPage(pqxx::connection_base& db, const TPageRequest& request) {
    const TSiteChoice choice = ChooseSites(db, request);
    std::string body = ChoiceForm(choice, "/alerts");
    std::optional<TKey> after;
    std::string error;
    if (request.Args.count("after")) {
        TKey key{request.Arg("after"), request.Arg("asite"), request.Arg("akey")};
        if (!Digits(key.Micros, 18) || key.Site.empty() || key.Key.empty() ||
            key.Key.size() > kLongestKey)
            error = "Ссылка «Дальше» испорчена; начните с начала";
        else
            after = std::move(key);
    }
    if (!error.empty()) body += "<p class=\"error\">" + Html(error) + "</p>\n";
    if (choice.Error.empty() && error.empty()) {
        std::vector<TShownAlert> alerts;
        if (!choice.Sites().empty()) alerts = ReadAlerts(db, request, choice, after);
        body += alerts.empty() ? "<p>Нет тревог.</p>\n" : AlertsTable(alerts);
        const std::string base = "/alerts?" + choice.QueryString();
        body += "<p>";
        if (after) body += Link(base, "В начало") + " ";
        if (alerts.size() > kPageRows) {
            const TKey& next = alerts[kPageRows - 1].Key;
            body += Link(base + "&after=" + next.Micros + "&asite=" + UrlEncode(next.Site) +
                             "&akey=" + UrlEncode(next.Key),
                         "Дальше");
        }
        body += "</p>\n";
    }
    TPageAnswer answer;
    answer.Body = Framed("Тревоги", "/alerts", request.UserLabel(),
                         request.Role.Kind == TWebRole::TKind::Admin, request.Csrf, body);
    return answer;
}
