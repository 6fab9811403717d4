#include "web/page_lists.h"

#include <memory>

#include <pqxx/transaction>

#include "db/db_report.h"
#include "reports/report_grids.h"
#include "reports/report_sheets.h"
#include "web/html.h"

namespace {

enum class TListKind { Lines, Trunks };

struct TListPage {
    const char* Title;
    const char* Path;
    const char* CsvFile;
};

const TListPage& PageOf(TListKind kind) {
    static const TListPage lines{"Линии", "/lines", "lines.csv"};
    static const TListPage trunks{"СЛ", "/trunks", "trunks.csv"};
    return kind == TListKind::Lines ? lines : trunks;
}

// The list of kind of choice's offices over its period, read in one
// snapshot as tallyphon-report --db reads it. Throws what the database
// throws.
std::shared_ptr<TReportModel> ListsOf(pqxx::connection_base& db, const TPageRequest& request,
                                      const TSiteChoice& choice, TListKind kind) {
    auto model = std::make_shared<TReportModel>();
    pqxx::transaction<pqxx::isolation_level::repeatable_read, pqxx::readwrite_policy::read_only> tx(
        db);
    ReadDbLists(tx, choice.Sites(), request.Role.SiteFilter(), choice.Period,
                kind == TListKind::Lines, kind == TListKind::Trunks, *model);
    tx.commit();
    return model;
}

// The grid's header and rows as an HTML table; the last three columns
// (outgoing, incoming and total traffic) are numbers.
template <typename TGrid>
std::string Table(const TGrid& grid) {
    std::string table = "<table>\n<thead><tr>";
    for (const std::string& header : grid.Headers())
        table += "<th>" + Html(header) + "</th>";
    table += "</tr></thead>\n<tbody>\n";
    for (size_t row = 0; row < grid.RowCount(); ++row) {
        const std::vector<std::string> cells = grid.Row(row);
        table += "<tr>";
        for (size_t i = 0; i < cells.size(); ++i)
            table +=
                (i + 3 >= cells.size() ? "<td class=\"n\">" : "<td>") + Html(cells[i]) + "</td>";
        table += "</tr>\n";
    }
    return table + "</tbody>\n</table>\n";
}

TPageAnswer ListPage(pqxx::connection_base& db, const TPageRequest& request, TListKind kind) {
    const TListPage& page = PageOf(kind);
    const TSiteChoice choice = ChooseSites(db, request);
    std::string body = ChoiceForm(choice, page.Path);
    if (choice.Error.empty()) {
        const auto model = ListsOf(db, request, choice, kind);
        body += "<p><a href=\"/" + std::string(page.CsvFile) + "?" + Html(choice.QueryString()) +
                "\">CSV</a></p>\n";
        if (kind == TListKind::Lines) {
            TALGrid grid;
            grid.Show(model);
            body += grid.RowCount() == 0 ? "<p>Нет звонков.</p>\n" : Table(grid);
        } else {
            TSLGrid grid;
            grid.Show(model);
            body += grid.RowCount() == 0 ? "<p>Нет звонков.</p>\n" : Table(grid);
        }
    }
    TPageAnswer answer;
    answer.Status = choice.Error.empty() ? 200 : 400;
    answer.Body = Framed(page.Title, page.Path, request.UserLabel(),
                         request.Role.Kind == TWebRole::TKind::Admin, request.Csrf, body);
    return answer;
}

TPageAnswer CsvDownload(pqxx::connection_base& db, const TPageRequest& request, TListKind kind) {
    const TSiteChoice choice = ChooseSites(db, request);
    if (!choice.Error.empty()) return ErrorAnswer(400, "Неверный запрос", choice.Error);
    const auto model = ListsOf(db, request, choice, kind);
    std::string text;
    if (kind == TListKind::Lines) {
        TALGrid grid;
        grid.Show(model);
        text = ALCsvText(grid);
    } else {
        TSLGrid grid;
        grid.Show(model);
        text = SLCsvText(grid);
    }
    return Download(std::move(text), "text/csv; charset=utf-8", PageOf(kind).CsvFile);
}

}  // namespace

TPageAnswer LinesPage(pqxx::connection_base& db, const TPageRequest& request) {
    return ListPage(db, request, TListKind::Lines);
}

TPageAnswer TrunksPage(pqxx::connection_base& db, const TPageRequest& request) {
    return ListPage(db, request, TListKind::Trunks);
}

TPageAnswer LinesCsv(pqxx::connection_base& db, const TPageRequest& request) {
    return CsvDownload(db, request, TListKind::Lines);
}

TPageAnswer TrunksCsv(pqxx::connection_base& db, const TPageRequest& request) {
    return CsvDownload(db, request, TListKind::Trunks);
}
