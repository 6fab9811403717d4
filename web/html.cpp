#include "web/html.h"

namespace {

std::string Head(const std::string& title) {
    return "<!DOCTYPE html>\n<html lang=\"ru\">\n<head>\n<meta charset=\"utf-8\">\n"
           "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>" +
           Html(title) + " — Tallyphon</title>\n</head>\n<body>\n";
}

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
    std::string page = Head("Вход") + "<h1>Вход</h1>\n";
    if (!message.empty()) page += "<p role=\"alert\">" + Html(message) + "</p>\n";
    page +=
        "<form method=\"post\" action=\"/login\">\n"
        "<p><label>Имя <input name=\"name\" autocomplete=\"username\" required></label></p>\n"
        "<p><label>Пароль <input name=\"password\" type=\"password\" "
        "autocomplete=\"current-password\" required></label></p>\n"
        "<p><button type=\"submit\">Войти</button></p>\n"
        "</form>\n";
    return page + kTail;
}

std::string OfficesPage(const std::string& user, const std::vector<TOfficeRow>& offices,
                        const std::string& csrf) {
    std::string page = Head("Офисы");
    page += "<form method=\"post\" action=\"/logout\"><p>" + Html(user) +
            " <input type=\"hidden\" name=\"csrf\" value=\"" + Html(csrf) +
            "\"><button type=\"submit\">Выйти</button></p></form>\n<h1>Офисы</h1>\n";
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
        item("Передан в базу", o.ShippedAt);
        item("Звонков сегодня", std::to_string(o.CallsToday));
        page += "</dl>\n</section>\n";
    }
    return page + kTail;
}

std::string ErrorPage(const std::string& title, const std::string& text) {
    return Head(title) + "<h1>" + Html(title) + "</h1>\n<p>" + Html(text) +
           "</p>\n<p><a href=\"/\">Офисы</a></p>\n" + kTail;
}
