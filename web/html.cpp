#include "web/html.h"

namespace {

std::string Head(const std::string& title) {
    return "<!DOCTYPE html>\n<html lang=\"ru\">\n<head>\n<meta charset=\"utf-8\">\n"
           "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>" +
           Html(title) +
           " — Tallyphon</title>\n<link rel=\"stylesheet\" href=\"/style.css\">\n</head>\n<body>\n";
}

struct TMenuItem {
    const char* Path;
    const char* Caption;
    bool AdminOnly;
};
const TMenuItem kMenu[] = {{"/", "Офисы", false},         {"/calls", "Звонки", false},
                           {"/lines", "Линии", false},    {"/trunks", "СЛ", false},
                           {"/bill", "Счёт", false},      {"/charts", "Графики", false},
                           {"/alerts", "Тревоги", false}, {"/tariffs", "Тарифы", true}};

const char* const kTail = "</body>\n</html>\n";

}  // namespace

std::string Html(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string LoginPage(const std::string& message) {
    std::string page = Head("Вход") + "<main>\n<h1>Вход</h1>\n";
    if (!message.empty()) page += "<p role=\"alert\">" + Html(message) + "</p>\n";
    page +=
        "<form method=\"post\" action=\"/login\">\n"
        "<p><label>Имя <input name=\"name\" autocomplete=\"username\" required></label></p>\n"
        "<p><label>Пароль <input name=\"password\" type=\"password\" "
        "autocomplete=\"current-password\" required></label></p>\n"
        "<p><button type=\"submit\">Войти</button></p>\n"
        "</form>\n</main>\n";
    return page + kTail;
}

std::string Framed(const std::string& title, const std::string& path, const std::string& userLabel,
                   bool admin, const std::string& csrf, const std::string& body) {
    std::string page = Head(title) + "<header>\n<nav>";
    for (const TMenuItem& item : kMenu) {
        if (item.AdminOnly && !admin) continue;
        page += path == item.Path
                    ? std::string("<a href=\"") + item.Path + "\" aria-current=\"page\">" +
                          item.Caption + "</a> "
                    : std::string("<a href=\"") + item.Path + "\">" + item.Caption + "</a> ";
    }
    page += "</nav>\n<form method=\"post\" action=\"/logout\" id=\"logout\"><span>" +
            Html(userLabel) + "</span> <input type=\"hidden\" name=\"csrf\" value=\"" + Html(csrf) +
            "\"><button type=\"submit\">Выйти</button></form>\n</header>\n<main>\n<h1>" +
            Html(title) + "</h1>\n";
    return page + body + "</main>\n" + kTail;
}

const std::string& StyleSheet() {
    static const std::string css =
        "body{font-family:sans-serif;margin:0;color:#222}"
        "header{display:flex;justify-content:space-between;align-items:center;"
        "background:#234;padding:.4em 1em}"
        "header a,header span{color:#fff;margin-right:1em;text-decoration:none}"
        "header a[aria-current]{font-weight:bold;text-decoration:underline}"
        "main{padding:0 1em 1em}"
        "table{border-collapse:collapse;margin:.5em 0}"
        "th,td{border:1px solid #bbb;padding:.15em .5em;text-align:left}"
        "td.n{text-align:right}"
        "th{background:#eef}"
        "form.choice{margin:.5em 0}form.choice label{margin-right:1em}"
        ".silent{color:#b00;font-weight:bold}"
        "p[role=alert],.error{color:#b00}"
        "section{border:1px solid #ccd;margin:.5em 0;padding:0 1em}"
        "canvas{max-width:60em;max-height:22em}\n";
    return css;
}

std::string OfficesBody(const std::vector<TOfficeRow>& offices) {
    std::string page;
    if (offices.empty()) page += "<p>Нет ни одного офиса.</p>\n";
    for (const TOfficeRow& o : offices) {
        page += "<section>\n<h2>" + Html(o.Site) + "</h2>\n<dl>\n";
        const auto item = [&page](const char* term, const std::string& value) {
            if (!value.empty())
                page += "<dt>" + std::string(term) + "</dt><dd>" + Html(value) + "</dd>\n";
        };
        item("АТС", o.Model);
        item("Заводской номер", o.Serial);
        if (o.LastStart.empty()) {
            page += "<dt>Последний звонок</dt><dd>нет звонков</dd>\n";
        } else {
            page += "<dt>Последний звонок</dt><dd>" + Html(o.LastStart) + ", линия " +
                    Html(o.LastLine) + ", номер " + Html(o.LastDialled) + ", " +
                    Html(o.LastDuration) + " с</dd>\n";
        }
        if (o.Silent)
            page += "<dt>Передан в базу</dt><dd class=\"silent\">" +
                    Html(o.ShippedAt.empty() ? "ни разу" : o.ShippedAt) + " — молчит " +
                    Html(o.SilentFor) + "</dd>\n";
        else
            item("Передан в базу", o.ShippedAt);
        item("Звонков сегодня", std::to_string(o.CallsToday));
        item("Стоимость в этом месяце", o.MonthCost);
        page += "</dl>\n</section>\n";
    }
    return page;
}

std::string ErrorPage(const std::string& title, const std::string& text) {
    return Head(title) + "<main>\n<h1>" + Html(title) + "</h1>\n<p>" + Html(text) +
           "</p>\n<p><a href=\"/\">Офисы</a></p>\n</main>\n" + kTail;
}
