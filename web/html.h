// The pages of the web server, rendered on the server: plain HTML that
// works without JavaScript. Every value from the database or from a request
// goes into a page through Html() and through nothing else.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// text with the five characters that HTML gives a meaning replaced by
// their entities: safe inside an element and inside a quoted attribute.
std::string Html(std::string_view text);

// One office on the page "Офисы"; empty strings are not shown.
struct TOfficeRow {
    std::string Site;
    std::string Model, Serial;
    std::string ShippedAt;                                       // when the office last shipped
    std::string LastStart, LastLine, LastDialled, LastDuration;  // its last call
    long long CallsToday = 0;
    std::string MonthCost;  // of this month's calls, "1178,00"; empty without tariffs
    // Shipped nothing for longer than the silence allowed in working
    // hours, or never shipped: shown in red.
    bool Silent = false;
    std::string SilentFor;  // what the mark says, e.g. "больше 60 мин рабочего времени"
};

// The frame of every page after login: head with title, the menu with
// path marked (admin: with "Тарифы"), userLabel and the logout form
// carrying csrf, then body (already HTML), then the end.
std::string Framed(const std::string& title, const std::string& path, const std::string& userLabel,
                   bool admin, const std::string& csrf, const std::string& body);
// The server's style sheet, served as /style.css.
const std::string& StyleSheet();

// The login form, with message (empty: none) above it.
std::string LoginPage(const std::string& message);
// The body of "Офисы": the offices the user may see.
std::string OfficesBody(const std::vector<TOfficeRow>& offices);
// A short page for an error status: title and one sentence.
std::string ErrorPage(const std::string& title, const std::string& text);
