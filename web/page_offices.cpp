#include "web/page_offices.h"

#include <pqxx/nontransaction>
#include <pqxx/result>

#include "web/html.h"

TPageAnswer OfficesPage(pqxx::connection_base& db, const TPageRequest& request) {
    std::vector<TOfficeRow> rows;
    pqxx::nontransaction n(db);
    const pqxx::result r = n.exec_params(
        "SELECT s.site, s.model, s.serial,"
        "  coalesce(to_char(s.shipped_at, 'DD.MM.YYYY HH24:MI:SS'), ''),"
        "  coalesce(to_char(l.start, 'DD.MM.YYYY HH24:MI:SS'), ''),"
        "  coalesce(l.hw_line, ''), coalesce(l.dialled, ''),"
        "  coalesce(l.duration::text, ''),"
        "  coalesce((SELECT d.calls FROM tallyphon.day_sums d"
        "            WHERE d.site = s.site AND d.day = current_date), 0)"
        " FROM tallyphon.sites s LEFT JOIN LATERAL"
        "  (SELECT start, hw_line, dialled, duration FROM tallyphon.calls c"
        "   WHERE c.site = s.site ORDER BY file_no DESC, file_offset DESC LIMIT 1) l"
        "  ON true"
        " WHERE ($1 = '' OR s.site = $1) AND ($2 = '' OR s.site = $2)"
        " ORDER BY s.site COLLATE \"C\"",
        request.Role.SiteFilter(), request.Arg("site"));
    for (const pqxx::row& x : r)
        rows.push_back({x[0].as<std::string>(), x[1].as<std::string>(), x[2].as<std::string>(),
                        x[3].as<std::string>(), x[4].as<std::string>(), x[5].as<std::string>(),
                        x[6].as<std::string>(), x[7].as<std::string>(), x[8].as<long long>()});
    TPageAnswer answer;
    answer.Body =
        Framed("Офисы", "/", request.UserLabel(), request.Role.Kind == TWebRole::TKind::Admin,
               request.Csrf, OfficesBody(rows));
    return answer;
}
