#include "web/page.h"

#include <algorithm>

#include <pqxx/nontransaction>
#include <pqxx/result>

#include "web/html.h"

std::string TPageRequest::Arg(const std::string& key) const {
    const auto found = Args.find(key);
    return found == Args.end() ? std::string() : found->second;
}

TPageAnswer Download(std::string body, const std::string& contentType,
                     const std::string& fileName) {
    TPageAnswer answer;
    answer.Body = std::move(body);
    answer.ContentType = contentType;
    answer.Headers.emplace_back("Content-Disposition", "attachment; filename=\"" + fileName + "\"");
    return answer;
}

TPageAnswer ErrorAnswer(unsigned status, const std::string& title, const std::string& text) {
    TPageAnswer answer;
    answer.Status = status;
    answer.Body = ErrorPage(title, text);
    return answer;
}

std::string UrlEncode(const std::string& text) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (const unsigned char c : text) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
            c == '-' || c == '.' || c == '_' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

std::vector<std::string> TSiteChoice::Sites() const {
    if (!Error.empty()) return {};
    if (!Site.empty()) return {Site};
    return Allowed;
}

std::string TSiteChoice::QueryString() const {
    return "site=" + UrlEncode(Site) + "&from=" + UrlEncode(From) + "&to=" + UrlEncode(To);
}

TSiteChoice ChooseSites(pqxx::connection_base& db, const TPageRequest& request) {
    TSiteChoice choice;
    {
        pqxx::nontransaction n(db);
        const pqxx::result r = n.exec_params(
            "SELECT site FROM tallyphon.sites WHERE ($1 = '' OR site = $1)"
            " ORDER BY site COLLATE \"C\"",
            request.Role.SiteFilter());
        for (const pqxx::row& row : r)
            choice.Allowed.push_back(row[0].as<std::string>());
    }
    choice.Site = request.Arg("site");
    choice.From = request.Arg("from");
    choice.To = request.Arg("to");
    if (!choice.Site.empty() && std::find(choice.Allowed.begin(), choice.Allowed.end(),
                                          choice.Site) == choice.Allowed.end()) {
        // The same words whether the office does not exist or is another's.
        choice.Error = "Нет такого офиса: " + choice.Site;
        return choice;
    }
    if (!choice.From.empty() && !ParseIsoDate(choice.From, choice.Period.FromDay))
        choice.Error = "Дата «с» не ГГГГ-ММ-ДД: " + choice.From;
    else if (!choice.To.empty() && !ParseIsoDate(choice.To, choice.Period.ToDay))
        choice.Error = "Дата «по» не ГГГГ-ММ-ДД: " + choice.To;
    else if (choice.Period.FromDay > choice.Period.ToDay)
        choice.Error = "Дата «с» позже даты «по»";
    return choice;
}

std::string ChoiceForm(const TSiteChoice& choice, const std::string& action,
                       const std::string& extra) {
    std::string form = "<form method=\"get\" action=\"" + Html(action) +
                       "\" class=\"choice\">\n<label>Офис <select name=\"site\">";
    if (choice.Allowed.size() != 1)
        form += std::string("<option value=\"\"") + (choice.Site.empty() ? " selected" : "") +
                ">все</option>";
    for (const std::string& site : choice.Allowed)
        form += "<option value=\"" + Html(site) + "\"" + (site == choice.Site ? " selected" : "") +
                ">" + Html(site) + "</option>";
    form += "</select></label>\n<label>с <input type=\"date\" name=\"from\" value=\"" +
            Html(choice.From) + "\"></label>\n<label>по <input type=\"date\" name=\"to\" value=\"" +
            Html(choice.To) + "\"></label>\n" + extra +
            "<button type=\"submit\">Показать</button>\n</form>\n";
    if (!choice.Error.empty()) form += "<p class=\"error\">" + Html(choice.Error) + "</p>\n";
    return form;
}
