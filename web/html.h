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
};

// The login form, with message (empty: none) above it.
std::string LoginPage(const std::string& message);
// The offices the user may see, with the logout form carrying csrf.
std::string OfficesPage(const std::string& user, const std::vector<TOfficeRow>& offices,
                        const std::string& csrf);
// A short page for an error status: title and one sentence.
std::string ErrorPage(const std::string& title, const std::string& text);
