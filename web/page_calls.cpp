#include "web/page_calls.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include <pqxx/except>
#include <pqxx/result>
#include <pqxx/transaction>

#include "billing/bill.h"
#include "billing/rating.h"
#include "calllog/report_datetime.h"
#include "db/db_report.h"
#include "reports/report_grids.h"
#include "reports/report_sheets.h"
#include "web/html.h"
#include "web/office_files.h"

namespace {

constexpr size_t kPageRows = 100;
// Rows one query brings when rating decides which of them are shown.
constexpr size_t kRatedBatch = 1000;
// Rows a page looks through for a zone or a cost before it stops and links
// to the rest: a rare zone over a year of calls still answers in time.
constexpr size_t kRatedBudget = 100000;
// Rows of the download turned into text at a time.
constexpr int kCsvBatch = 5000;
constexpr size_t kLongestLine = 16;
constexpr size_t kLongestPrefix = 20;
constexpr size_t kLongestKey = 64;

// One snapshot for every query of a page, as the reports read.
using TReadTransaction =
    pqxx::transaction<pqxx::isolation_level::repeatable_read, pqxx::readwrite_policy::read_only>;

enum class TSort { Start, Duration, Line, Dialled };

struct TSortColumn {
    TSort Sort;
    const char* Word;  // in the query string
    const char* Sql;   // of a row of tallyphon.calls named by the alias before it
    const char* Key;   // the key's value given as $4
};
const TSortColumn kSorts[] = {
    {TSort::Start, "start", "start", "$4::timestamp"},
    {TSort::Duration, "duration", "duration", "$4::integer"},
    {TSort::Line, "line", "hw_line COLLATE \"C\"", "$4::text COLLATE \"C\""},
    {TSort::Dialled, "dialled", "dialled COLLATE \"C\"", "$4::text COLLATE \"C\""},
};

const TSortColumn& SortColumn(TSort sort) {
    for (const TSortColumn& column : kSorts)
        if (column.Sort == sort) return column;
    return kSorts[0];
}

// Where a page ends: its last call's sort value and place.
struct TKey {
    std::string Value, Site, FileNo, Offset;
};

// The filters of the page, its order and where it starts.
struct TFilter {
    std::string Line, Prefix, Zone, Cost, Dur;  // as given, Line without blanks
    std::optional<int64_t> MinCost;             // kopecks
    std::optional<int64_t> MinDur;              // seconds
    TSort Sort = TSort::Start;
    bool Desc = false;
    std::optional<TKey> After;
    std::string Error;  // what is wrong; empty when nothing

    // Whether rows are chosen by their rating.
    bool Rated() const { return !Zone.empty() || MinCost; }
    // "&line=…" of the filters given, for links that keep them.
    std::string QueryString() const {
        std::string query;
        for (const auto& [name, value] : {std::pair<const char*, const std::string&>{"line", Line},
                                          {"prefix", Prefix},
                                          {"zone", Zone},
                                          {"cost", Cost},
                                          {"dur", Dur}})
            if (!value.empty()) query += std::string("&") + name + "=" + UrlEncode(value);
        return query;
    }
    std::string SortString() const {
        return std::string("&sort=") + SortColumn(Sort).Word + (Desc ? "&desc=1" : "");
    }
};

bool Digits(std::string_view text, size_t most) {
    return !text.empty() && text.size() <= most &&
           text.find_first_not_of("0123456789") == std::string_view::npos;
}

// "500", "500,5", "500.00" roubles in kopecks; nullopt when not such.
std::optional<int64_t> Kopecks(const std::string& text) {
    const size_t mark = text.find_first_of(",.");
    const std::string roubles = text.substr(0, mark);
    const std::string part = mark == std::string::npos ? "" : text.substr(mark + 1);
    if (!Digits(roubles, 9) || (mark != std::string::npos && !Digits(part, 2))) return std::nullopt;
    int64_t kopecks = std::stoll(roubles) * 100;
    if (!part.empty()) kopecks += std::stoll(part) * (part.size() == 1 ? 10 : 1);
    return kopecks;
}

bool IsoStart(std::string_view text) {
    static const std::string_view shape = "0000-00-00 00:00:00";
    if (text.size() != shape.size()) return false;
    for (size_t i = 0; i < shape.size(); ++i)
        if (shape[i] == '0' ? text[i] < '0' || text[i] > '9' : text[i] != shape[i]) return false;
    return true;
}

// The filters of request; Error tells the first that is wrong.
TFilter ReadFilter(const TPageRequest& request) {
    TFilter f;
    for (const char c : request.Arg("line"))
        if (c != ' ') f.Line += c;
    f.Prefix = request.Arg("prefix");
    f.Zone = request.Arg("zone");
    f.Cost = request.Arg("cost");
    f.Dur = request.Arg("dur");
    const std::string sort = request.Arg("sort"), desc = request.Arg("desc");
    bool sortKnown = sort.empty();
    for (const TSortColumn& column : kSorts)
        if (sort == column.Word) {
            f.Sort = column.Sort;
            sortKnown = true;
        }
    f.Desc = desc == "1";
    const auto lineOk = [&f] {
        for (const unsigned char c : f.Line)
            if (c < 0x20 || c == 0x7F) return false;
        return f.Line.size() <= kLongestLine;
    };
    if (!lineOk())
        f.Error = "Абонент — номер линии или программный номер, не длиннее 16 знаков";
    else if (!f.Prefix.empty() && !Digits(f.Prefix, kLongestPrefix))
        f.Error = "Начало набранного номера — только цифры (не больше 20): " + f.Prefix;
    else if (!f.Cost.empty() && !(f.MinCost = Kopecks(f.Cost)))
        f.Error = "Стоимость от — рубли, как 500 или 500,00: " + f.Cost;
    else if (!f.Dur.empty() && !Digits(f.Dur, 6))
        f.Error = "Длительность от — целое число секунд: " + f.Dur;
    else if (!sortKnown || (!desc.empty() && desc != "0" && desc != "1"))
        f.Error = "Неизвестный порядок: " + sort + " " + desc;
    if (!f.Dur.empty() && f.Error.empty()) f.MinDur = std::stoll(f.Dur);
    if (!f.Error.empty()) return f;
    if (request.Args.count("after")) {
        TKey key{request.Arg("after"), request.Arg("asite"), request.Arg("afile"),
                 request.Arg("aoff")};
        const bool value = f.Sort == TSort::Start      ? IsoStart(key.Value)
                           : f.Sort == TSort::Duration ? Digits(key.Value, 9)
                                                       : key.Value.size() <= kLongestKey;
        if (!value || key.Site.empty() || !Digits(key.FileNo, 9) || !Digits(key.Offset, 18))
            f.Error = "Ссылка «Дальше» испорчена; начните с начала";
        else
            f.After = std::move(key);
    }
    return f;
}

// The condition on the start of the calls of period, starting with " AND"
// (day numbers, as the reports read the database).
std::string PeriodSql(const TPeriod& period) {
    std::string sql;
    if (period.FromDay != TPeriod().FromDay)
        sql += " AND c.start >= DATE '1899-12-30' + " + std::to_string(period.FromDay);
    if (period.ToDay != TPeriod().ToDay)
        sql += " AND c.start < DATE '1899-12-30' + " + std::to_string(int64_t{period.ToDay} + 1);
    return sql;
}

// The filters the server applies, starting with " AND": $1 the role's
// office (empty: every one), $2 the subscriber, $3 the prefix.
std::string FilterSql(const TPeriod& period, const TFilter& f) {
    std::string sql = " AND ($1 = '' OR c.site = $1)" + PeriodSql(period);
    // Empty, either is true before the plan is made.
    sql +=
        " AND ($2 = '' OR c.hw_line = $2 OR c.prg_number = $2)"
        " AND ($3 = '' OR left(c.dialled, char_length($3)) = $3)";
    if (f.MinDur) sql += " AND c.duration >= " + std::to_string(*f.MinDur);
    // Only an outgoing call has a zone and a cost.
    if (f.Rated()) sql += " AND c.dialled <> ''";
    return sql;
}

// The SQL of up to limit (0: all) calls of sites in the page's order after
// the key in $4 to $7 when after: each office's calls come through its
// index on (site, start), or its own sort, limited alike, and are merged.
std::string PageSql(pqxx::transaction_base& tx, const std::vector<std::string>& sites,
                    const TPeriod& period, const TFilter& f, bool after, size_t limit) {
    const TSortColumn& column = SortColumn(f.Sort);
    const std::string dir = f.Desc ? " DESC" : "", cmp = f.Desc ? " < " : " > ";
    std::string values;
    for (const std::string& site : sites)
        values += (values.empty() ? "(" : ", (") + tx.quote(site) + ")";
    std::string where = "c.site = s.site" + FilterSql(period, f);
    if (after)
        where += std::string(" AND c.") + column.Sql + (f.Desc ? " <= " : " >= ") + column.Key +
                 " AND (c." + column.Sql + ", c.site COLLATE \"C\", c.file_no, c.file_offset)" +
                 cmp + "(" + column.Key + ", $5::text COLLATE \"C\", $6::integer, $7::bigint)";
    const std::string n = std::to_string(limit);
    // By start, an office's calls come in the index's order and those that
    // tie with the last are taken along, for the merge to order: the
    // server does not know how many calls an office holds (its row
    // security hides the statistics from a reader), and ordered by the
    // whole key it would sort every call of the period.
    const std::string inner =
        limit == 0 ? std::string()
        : f.Sort == TSort::Start
            ? " ORDER BY c.start" + dir + " FETCH FIRST " + n + " ROWS WITH TIES"
            : std::string(" ORDER BY c.") + column.Sql + dir + ", c.file_no" + dir +
                  ", c.file_offset" + dir + " LIMIT " + n;
    return std::string("SELECT x.site, x.file_no, x.file_offset, x.start_text, x.duration,") +
           " x.hw_line, x.prg_number, x.trunk, x.dialled FROM (VALUES " + values +
           ") AS s(site) CROSS JOIN LATERAL (SELECT c.site, c.file_no, c.file_offset, c.start,"
           " to_char(c.start, 'YYYY-MM-DD HH24:MI:SS') AS start_text, c.duration, c.hw_line,"
           " c.prg_number, c.trunk, c.dialled FROM tallyphon.calls c WHERE " +
           where + inner + ") AS x ORDER BY x." + column.Sql + dir + ", x.site COLLATE \"C\"" +
           dir + ", x.file_no" + dir + ", x.file_offset" + dir + (limit ? " LIMIT " + n : "");
}

// A call of the page as the table shows it.
struct TShownCall {
    std::string Site, Start, Line, Prg, Trunk, Dialled, Zone, Cost;
    int64_t Duration = 0;
    TKey Key;
};

// The tariffs of each office that has good ones.
using TOfficeTariffs = std::map<std::string, std::shared_ptr<const TTariffs>>;

// The tariffs of sites, and the problems of stored files, one a line.
TOfficeTariffs TariffsOf(pqxx::connection_base& db, const std::vector<std::string>& sites,
                         std::string& problems) {
    TOfficeTariffs tariffs;
    for (const std::string& site : sites) {
        const TOfficeBilling billing = LoadOfficeBilling(db, site);
        if (!billing.Error.empty())
            problems += "Файл офиса " + site + " не читается: " + billing.Error + "\n";
        if (billing.Tariffs) tariffs[site] = billing.Tariffs;
    }
    return tariffs;
}

// The tariffs site's calls are rated by: its own; none when no office
// shown has any; else a table without rates, so that every office's calls
// show "Без тарифа" alike.
std::shared_ptr<const TTariffs> TableOf(const TOfficeTariffs& tariffs, const std::string& site) {
    static const auto kNoRates = std::make_shared<const TTariffs>();
    const auto found = tariffs.find(site);
    if (found != tariffs.end()) return found->second;
    return tariffs.empty() ? nullptr : kNoRates;
}

// What is wrong with f's zone or cost for offices with tariffs; empty when
// nothing.
std::string RatedFilterError(const TFilter& f, const TOfficeTariffs& tariffs) {
    if (!f.Rated()) return {};
    if (tariffs.empty()) return "Зона и стоимость есть только у офиса с тарифами";
    if (f.Zone.empty() || f.Zone == kNoTariffZone) return {};
    for (const auto& [site, table] : tariffs)
        for (const std::string& zone : table->Zones())
            if (zone == f.Zone) return {};
    return "В тарифах нет зоны «" + f.Zone + "»";
}

// The offices of sites whose calls may pass f: a zone of the tariffs or a
// cost leaves out the offices without any.
std::vector<std::string> SitesToRead(const std::vector<std::string>& sites, const TFilter& f,
                                     const TOfficeTariffs& tariffs) {
    if (!f.Rated() || (f.Zone == kNoTariffZone && !f.MinCost)) return sites;
    std::vector<std::string> priced;
    for (const std::string& site : sites)
        if (tariffs.count(site)) priced.push_back(site);
    return priced;
}

// The call of row, whose columns from startAt on are the start's ISO text,
// duration, hardware line, programmed number, trunk and dialled number, as
// a call-log line gives it; false when the start is not such a text.
bool ReadCall(const pqxx::row& row, int startAt, TExtStr_rep& call) {
    const pqxx::field start = row[startAt];
    if (!DbStartTime({start.c_str(), start.size()}, call.StartTime)) return false;
    call.DurTotalSec = row[startAt + 1].as<int32_t>();
    const auto text = [&](int i) {
        const pqxx::field f = row[startAt + i];
        return std::string_view(f.c_str(), f.size());
    };
    call.HwLine.assign(text(2));
    call.PrgLine.assign(text(3));
    call.Trunk.assign(text(4));
    call.ExtNumber.assign(text(5));
    return true;
}

// The calls of one page and where the next starts.
struct TPage {
    std::vector<TShownCall> Calls;
    std::optional<TKey> Next;
    size_t Scanned = 0;
    bool Budget = false;  // stopped looking for a zone or cost before the end
};

// The calls of the page f asks for (at most kPageRows) and the key of the
// next page. Throws what libpqxx throws: a data_exception for a key the
// server cannot read as its column's value.
TPage ReadPage(pqxx::connection_base& db, const TPageRequest& request, const TSiteChoice& choice,
               const TFilter& f, const TOfficeTariffs& tariffs) {
    TPage page;
    const std::vector<std::string> sites = SitesToRead(choice.Sites(), f, tariffs);
    if (sites.empty()) return page;
    TReadTransaction tx(db);
    std::optional<TKey> key = f.After;
    const size_t limit = f.Rated() ? kRatedBatch : kPageRows + 1;
    const auto run = [&](const std::string& sql) {
        return key ? tx.exec_params(sql, request.Role.SiteFilter(), f.Line, f.Prefix, key->Value,
                                    key->Site, key->FileNo, key->Offset)
                   : tx.exec_params(sql, request.Role.SiteFilter(), f.Line, f.Prefix);
    };
    // By another column than start, every batch would sort the period
    // anew: looking for a zone or a cost, the calls come from one sort
    // through a cursor.
    const bool cursor = f.Rated() && f.Sort != TSort::Start;
    if (cursor)
        run("DECLARE page NO SCROLL CURSOR FOR " +
            PageSql(tx, sites, choice.Period, f, key.has_value(), 0));
    for (;;) {
        const pqxx::result rows =
            cursor ? tx.exec("FETCH " + std::to_string(limit) + " FROM page")
                   : run(PageSql(tx, sites, choice.Period, f, key.has_value(), limit));
        for (const pqxx::row& row : rows) {
            ++page.Scanned;
            TShownCall shown;
            shown.Site = row[0].as<std::string>();
            shown.Start = row[3].as<std::string>();
            shown.Duration = row[4].as<int64_t>();
            shown.Line = row[5].as<std::string>();
            shown.Prg = row[6].as<std::string>();
            shown.Trunk = row[7].as<std::string>();
            shown.Dialled = row[8].as<std::string>();
            const std::string value = f.Sort == TSort::Start      ? shown.Start
                                      : f.Sort == TSort::Duration ? std::to_string(shown.Duration)
                                      : f.Sort == TSort::Line     ? shown.Line
                                                                  : shown.Dialled;
            shown.Key = {value, shown.Site, row[1].as<std::string>(), row[2].as<std::string>()};
            key = shown.Key;
            const std::shared_ptr<const TTariffs> table = TableOf(tariffs, shown.Site);
            if (table && !shown.Dialled.empty()) {
                TExtStr_rep call;
                if (ReadCall(row, 3, call)) {
                    const TCallRating rating = RateCall(*table, call);
                    shown.Zone = rating.Rate ? rating.Rate->Zone : kNoTariffZone;
                    if (rating.Rate) shown.Cost = KopecksText(rating.Cost);
                    if (f.MinCost && (!rating.Rate || rating.Cost < *f.MinCost)) continue;
                }
            }
            if (!f.Zone.empty() && shown.Zone != f.Zone) continue;
            if (f.MinCost && shown.Cost.empty()) continue;
            if (page.Calls.size() == kPageRows) {
                page.Next = page.Calls.back().Key;
                return page;
            }
            page.Calls.push_back(std::move(shown));
        }
        if (rows.size() < limit) return page;
        if (page.Scanned >= kRatedBudget) {
            page.Budget = true;
            page.Next = key;
            return page;
        }
    }
}

// "dd.mm.yyyy" and "hh:mm:ss" of the server's "yyyy-mm-dd hh:mm:ss".
std::string DateOf(const std::string& iso) {
    return iso.size() < 10 ? iso
                           : iso.substr(8, 2) + "." + iso.substr(5, 2) + "." + iso.substr(0, 4);
}
std::string TimeOf(const std::string& iso) {
    return iso.size() < 19 ? std::string() : iso.substr(11, 8);
}
std::string DurationText(int64_t seconds) {
    const auto two = [](int64_t v) { return (v < 10 ? "0" : "") + std::to_string(v); };
    return two(seconds / 3600) + ":" + two(seconds / 60 % 60) + ":" + two(seconds % 60);
}

// The filter fields inside the office and period form, and the order kept.
std::string FilterFields(const TFilter& f, const TOfficeTariffs& tariffs) {
    std::string form =
        "<label>Абонент <input name=\"line\" size=\"6\" value=\"" + Html(f.Line) +
        "\"></label>\n<label>Набран с <input name=\"prefix\" size=\"8\" inputmode=\"numeric\" "
        "value=\"" +
        Html(f.Prefix) +
        "\"></label>\n<label>Длительность от, с <input name=\"dur\" size=\"5\" "
        "inputmode=\"numeric\" value=\"" +
        Html(f.Dur) + "\"></label>\n";
    if (!tariffs.empty()) {
        std::vector<std::string> zones;
        for (const auto& [site, table] : tariffs)
            for (const std::string& zone : table->Zones())
                if (std::find(zones.begin(), zones.end(), zone) == zones.end())
                    zones.push_back(zone);
        zones.push_back(kNoTariffZone);
        form += "<label>Зона <select name=\"zone\"><option value=\"\">все</option>";
        for (const std::string& zone : zones)
            form += "<option value=\"" + Html(zone) + "\"" + (zone == f.Zone ? " selected" : "") +
                    ">" + Html(zone) + "</option>";
        form +=
            "</select></label>\n<label>Стоимость от, руб. <input name=\"cost\" size=\"8\" "
            "value=\"" +
            Html(f.Cost) + "\"></label>\n";
    }
    form += std::string("<input type=\"hidden\" name=\"sort\" value=\"") + SortColumn(f.Sort).Word +
            "\">";
    if (f.Desc) form += "<input type=\"hidden\" name=\"desc\" value=\"1\">";
    return form + "\n";
}

std::string Link(const std::string& url, const std::string& text) {
    return "<a href=\"" + Html(url) + "\">" + Html(text) + "</a>";
}

std::string CallsTable(const TPage& page, const TFilter& f, const std::string& base, bool sited,
                       bool priced) {
    const auto head = [&](const char* caption, std::optional<TSort> sort) {
        if (!sort) return "<th>" + Html(caption) + "</th>";
        const bool current = f.Sort == *sort;
        const bool desc = current && !f.Desc;
        const std::string url = base + "&sort=" + SortColumn(*sort).Word + (desc ? "&desc=1" : "");
        return "<th>" + Link(url, caption) + (current ? (f.Desc ? " ▼" : " ▲") : "") + "</th>";
    };
    std::string table = "<table>\n<tr>";
    if (sited) table += head("Офис", std::nullopt);
    table += head(kCallGridHeaders[0], TSort::Start) + head(kCallGridHeaders[1], TSort::Start) +
             head(kCallGridHeaders[2], TSort::Duration) + head(kCallGridHeaders[3], TSort::Line) +
             head(kCallGridHeaders[4], std::nullopt) + head(kCallGridHeaders[5], std::nullopt) +
             head(kCallGridHeaders[6], TSort::Dialled);
    if (priced) table += head("Зона", std::nullopt) + head("Стоимость", std::nullopt);
    table += "</tr>\n";
    for (const TShownCall& c : page.Calls) {
        table += "<tr>";
        if (sited) table += "<td>" + Html(c.Site) + "</td>";
        table += "<td>" + Html(DateOf(c.Start)) + "</td><td>" + Html(TimeOf(c.Start)) +
                 "</td><td class=\"n\">" + Html(DurationText(c.Duration)) + "</td><td>" +
                 Html(c.Line) + "</td><td>" + Html(c.Prg) + "</td><td>" + Html(c.Trunk) +
                 "</td><td>" + Html(c.Dialled) + "</td>";
        if (priced)
            table += "<td>" + Html(c.Zone) + "</td><td class=\"n\">" + Html(c.Cost) + "</td>";
        table += "</tr>\n";
    }
    return table + "</table>\n";
}

}  // namespace

TPageAnswer CallsPage(pqxx::connection_base& db, const TPageRequest& request) {
    const TSiteChoice choice = ChooseSites(db, request);
    TFilter f = ReadFilter(request);
    std::string problems;
    const TOfficeTariffs tariffs = TariffsOf(db, choice.Sites(), problems);
    if (f.Error.empty()) f.Error = RatedFilterError(f, tariffs);
    const std::string base = "/calls?" + choice.QueryString() + f.QueryString();
    std::string body = ChoiceForm(choice, "/calls", FilterFields(f, tariffs));
    for (size_t at = 0, end; (end = problems.find('\n', at)) != std::string::npos; at = end + 1)
        body += "<p class=\"error\">" + Html(problems.substr(at, end - at)) + "</p>\n";
    if (!f.Error.empty()) body += "<p class=\"error\">" + Html(f.Error) + "</p>\n";
    if (choice.Error.empty() && f.Error.empty()) {
        TPage page;
        try {
            page = ReadPage(db, request, choice, f, tariffs);
        } catch (const pqxx::data_exception&) {
            // A key that looks right but is no value ("2026-13-45 …").
            body += "<p class=\"error\">Ссылка «Дальше» испорчена; начните с начала</p>\n";
        }
        body +=
            "<p>" + Link("/calls.csv?" + choice.QueryString() + f.QueryString(), "CSV") + "</p>\n";
        if (page.Calls.empty())
            body += "<p>Нет звонков.</p>\n";
        else
            body += CallsTable(page, f, base, choice.Sites().size() > 1, !tariffs.empty());
        if (page.Budget)
            body += "<p>Просмотрено " + std::to_string(page.Scanned) +
                    " звонков, совпадения ищутся дальше по ссылке «Дальше».</p>\n";
        body += "<p>";
        if (f.After) body += Link(base + f.SortString(), "В начало") + " ";
        if (page.Next)
            body += Link(base + f.SortString() + "&after=" + UrlEncode(page.Next->Value) +
                             "&asite=" + UrlEncode(page.Next->Site) +
                             "&afile=" + page.Next->FileNo + "&aoff=" + page.Next->Offset,
                         "Дальше");
        body += "</p>\n";
    }
    TPageAnswer answer;
    answer.Body = Framed("Звонки", "/calls", request.UserLabel(),
                         request.Role.Kind == TWebRole::TKind::Admin, request.Csrf, body);
    return answer;
}

TPageAnswer CallsCsvPage(pqxx::connection_base& db, const TPageRequest& request) {
    const TSiteChoice choice = ChooseSites(db, request);
    const TFilter f = ReadFilter(request);
    std::string problems;
    const std::vector<std::string> sites = choice.Sites();
    const TOfficeTariffs tariffs = TariffsOf(db, sites, problems);
    std::string error = !choice.Error.empty() ? choice.Error : f.Error;
    if (error.empty()) error = RatedFilterError(f, tariffs);
    if (error.empty() && !problems.empty()) error = problems.substr(0, problems.size() - 1);
    if (!error.empty()) return ErrorAnswer(400, "Звонки", error);

    // The grids that write the program's CSV: the header of all the
    // offices, then each batch of calls as a report of its own office. A
    // batch of several offices' report names its office through a span
    // that starts past any call.
    const bool sited = sites.size() > 1;
    const auto dateText = [](int year, int month, int day) {
        return FixedDateText(year, month, day);
    };
    const auto billingOf = [](std::shared_ptr<const TTariffs> table) {
        auto billing = std::make_shared<TBilling>();
        billing->Tariffs = std::move(table);
        return billing;
    };
    std::string out;
    {
        auto model = std::make_shared<TReportModel>();
        std::vector<TSiteSpan> spans;
        for (const std::string& site : sites)
            spans.push_back({site, 0});
        model->SetSites(std::move(spans));
        TCallGrid head(dateText);
        head.ShowAll(model, tariffs.empty() ? nullptr : billingOf(tariffs.begin()->second));
        out = CallsCsvHead(head);
    }
    TReadTransaction tx(db);
    for (const std::string& site : SitesToRead(sites, f, tariffs)) {
        const std::shared_ptr<const TTariffs> table = TableOf(tariffs, site);
        const std::shared_ptr<const TBilling> billing = table ? billingOf(table) : nullptr;
        tx.exec_params(
            "DECLARE calls NO SCROLL CURSOR FOR SELECT to_char(c.start, 'YYYY-MM-DD HH24:MI:SS'),"
            " c.duration, c.hw_line, c.prg_number, c.trunk, c.dialled FROM tallyphon.calls c"
            " WHERE c.site = " +
                tx.quote(site) + FilterSql(choice.Period, f) + " ORDER BY c.file_no, c.file_offset",
            request.Role.SiteFilter(), f.Line, f.Prefix);
        const std::string fetch = "FETCH " + std::to_string(kCsvBatch) + " FROM calls";
        for (;;) {
            const pqxx::result rows = tx.exec(fetch);
            if (rows.empty()) break;
            TCallLogContent content;
            for (const pqxx::row& row : rows)
                if (!ReadCall(row, 0, content.LineList.Add()))
                    return ErrorAnswer(
                        500, "Звонки",
                        "Непонятное время начала звонка: " + row[0].as<std::string>());
            content.LineCount = content.LineList.Count();
            auto model = std::make_shared<TReportModel>();
            model->LoadContent(std::move(content));
            if (sited)
                model->SetSites({{site, 0}, {std::string(), std::numeric_limits<size_t>::max()}});
            if (table) RateCalls(*table, model->Calls());
            TCallGrid grid(dateText);
            if (f.Rated()) {
                std::vector<uint32_t> kept;
                const TStrList_rep<TExtStr_rep>& calls = model->LineList();
                for (size_t i = 0; i < calls.Count(); ++i) {
                    const TCallRating rating = RatingOf(*table, calls[i]);
                    if (!f.Zone.empty() &&
                        (rating.Rate ? rating.Rate->Zone : std::string(kNoTariffZone)) != f.Zone)
                        continue;
                    if (f.MinCost && (!rating.Rate || rating.Cost < *f.MinCost)) continue;
                    kept.push_back(static_cast<uint32_t>(i));
                }
                grid.ShowSelection(model, std::move(kept), false, billing);
            } else {
                grid.ShowAll(model, billing);
            }
            AppendCallsCsvRows(grid, out);
        }
        tx.exec("CLOSE calls");
    }
    return Download(std::move(out), "text/csv; charset=utf-8", "calls.csv");
}
