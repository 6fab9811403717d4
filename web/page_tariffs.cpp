#include "web/page_tariffs.h"

#include <map>
#include <vector>

#include <pqxx/binarystring>
#include <pqxx/nontransaction>
#include <pqxx/result>
#include <pqxx/transaction>

#include "billing/csv_fields.h"
#include "billing/directory.h"
#include "billing/tariffs.h"
#include "web/html.h"

namespace {

struct TKind {
    const char* Field;    // the form's field, and office_files.kind
    const char* Caption;  // in the table and in messages
};
const TKind kKinds[] = {{"tariffs", "Файл тарифов"}, {"directory", "Справочник абонентов"}};

// The page: the stored files of every office, then the upload form, with
// message (an error when error) above them.
TPageAnswer Page(pqxx::connection_base& db, const TPageRequest& request, const std::string& message,
                 bool error) {
    const TSiteChoice choice = ChooseSites(db, request);
    std::string body;
    if (!message.empty())
        body += std::string(error ? "<p class=\"error\">" : "<p role=\"status\">") + Html(message) +
                "</p>\n";
    std::map<std::pair<std::string, std::string>, std::string> stored;
    {
        pqxx::nontransaction n(db);
        const pqxx::result r = n.exec_params(
            "SELECT site, kind, file_name, to_char(uploaded_at, 'DD.MM.YYYY HH24:MI:SS'),"
            " uploaded_by FROM tallyphon.office_files WHERE ($1 = '' OR site = $1)",
            request.Role.SiteFilter());
        for (const pqxx::row& row : r)
            stored[{row[0].as<std::string>(), row[1].as<std::string>()}] =
                Html(row[2].as<std::string>()) + "<br>загружен " + Html(row[3].as<std::string>()) +
                ", " + Html(row[4].as<std::string>());
    }
    if (choice.Allowed.empty()) {
        body += "<p>Нет ни одного офиса.</p>\n";
    } else {
        body +=
            "<table>\n<tr><th>Офис</th><th>Файл тарифов</th><th>Справочник абонентов</th></tr>\n";
        for (const std::string& site : choice.Allowed) {
            body += "<tr><td>" + Html(site) + "</td>";
            for (const TKind& kind : kKinds) {
                const auto found = stored.find({site, kind.Field});
                body +=
                    "<td>" + (found == stored.end() ? std::string("нет") : found->second) + "</td>";
            }
            body += "</tr>\n";
        }
        body += "</table>\n";
        body +=
            "<h2>Загрузить</h2>\n<form method=\"post\" action=\"/tariffs\" "
            "enctype=\"multipart/form-data\">\n<input type=\"hidden\" name=\"csrf\" value=\"" +
            Html(request.Csrf) + "\">\n<p><label>Офис <select name=\"site\">";
        for (const std::string& site : choice.Allowed)
            body += "<option value=\"" + Html(site) + "\"" +
                    (site == request.Arg("site") ? " selected" : "") + ">" + Html(site) +
                    "</option>";
        body +=
            "</select></label></p>\n"
            "<p><label>Файл тарифов (CSV) <input type=\"file\" name=\"tariffs\" "
            "accept=\".csv,text/csv\"></label></p>\n"
            "<p><label>Справочник абонентов (CSV) <input type=\"file\" name=\"directory\" "
            "accept=\".csv,text/csv\"></label></p>\n"
            "<p><button type=\"submit\">Загрузить</button></p>\n</form>\n";
    }
    TPageAnswer answer;
    answer.Status = error ? 400 : 200;
    answer.Body = Framed("Тарифы", "/tariffs", request.UserLabel(),
                         request.Role.Kind == TWebRole::TKind::Admin, request.Csrf, body);
    return answer;
}

// Why the upload of kind named name with bytes is refused; empty when the
// parser takes it.
std::string Refusal(const TKind& kind, const std::string& name, const std::string& bytes) {
    std::string text;
    TBillingResult read = DecodeTable(bytes, name, text);
    if (read.Ok()) {
        if (std::string(kind.Field) == "tariffs")
            read = TTariffs().Parse(text);
        else
            read = TDirectory().Parse(text);
    }
    return read.Ok() ? std::string()
                     : std::string(kind.Caption) + " «" + name + "» не принят: " + read.Message;
}

}  // namespace

TPageAnswer TariffsPage(pqxx::connection_base& db, const TPageRequest& request) {
    return Page(db, request, "", false);
}

TPageAnswer TariffsUpload(pqxx::connection_base& db, const TPageRequest& request) {
    const std::string site = request.Arg("site");
    const TSiteChoice choice = ChooseSites(db, request);
    if (site.empty() || !choice.Error.empty())
        return Page(db, request, site.empty() ? "Не выбран офис." : choice.Error, true);
    std::vector<const TKind*> given;
    for (const TKind& kind : kKinds) {
        // A file input left empty sends a part without a name.
        if (request.Arg(std::string(kind.Field) + ".filename").empty()) continue;
        const std::string why = Refusal(kind, request.Arg(std::string(kind.Field) + ".filename"),
                                        request.Arg(kind.Field));
        // Nothing is stored unless every file sent is good.
        if (!why.empty()) return Page(db, request, why, true);
        given.push_back(&kind);
    }
    if (given.empty())
        return Page(db, request, "Не выбран ни файл тарифов, ни справочник абонентов.", true);
    std::string done;
    {
        pqxx::work tx(db);
        for (const TKind* kind : given) {
            const std::string name = request.Arg(std::string(kind->Field) + ".filename");
            const std::string& bytes = request.Args.at(kind->Field);
            tx.exec_params(
                "INSERT INTO tallyphon.office_files (site, kind, file_name, content, uploaded_by)"
                " VALUES ($1, $2, $3, $4, $5) ON CONFLICT (site, kind) DO UPDATE SET"
                " file_name = EXCLUDED.file_name, content = EXCLUDED.content,"
                " uploaded_at = clock_timestamp(), uploaded_by = EXCLUDED.uploaded_by",
                site, kind->Field, name, pqxx::binarystring(bytes.data(), bytes.size()),
                request.User);
            done += std::string(done.empty() ? "" : ", ") + kind->Caption + " «" + name + "»";
        }
        tx.commit();
    }
    return Page(db, request, "Офис " + site + ", загружено: " + done + ".", false);
}
