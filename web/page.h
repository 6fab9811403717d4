// The seam between tallyphon-web's server and its pages. The server owns
// HTTP, sessions, logins and the CSRF check; a page gets the signed-in
// user's role, the request's arguments and a database connection, and
// hands back the answer. Every page limits every query to
// TWebRole::SiteFilter() (empty: every office); SiteChoice does the
// office and period choice that every page shares.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <pqxx/connection_base>

#include "billing/period.h"
#include "billing/work_hours.h"
#include "web/users.h"

// When "Офисы" marks an office silent: nothing shipped for longer than
// SilentAfterMinutes of working hours.
struct TOfficeWatch {
    int SilentAfterMinutes = 60;
    TWorkHours Hours;
};

struct TPageRequest {
    std::string User;   // the signed-in user's name
    TWebRole Role;      // read anew from the database for this request
    std::string Csrf;   // the session's token, for every form that changes anything
    std::string Path;   // "/calls", …
    std::string Query;  // the raw query string after '?', empty when none
    // The query's arguments (GET) or the form's fields (POST); a key given
    // twice keeps its last value. An uploaded file's bytes are the field
    // key, its name the field "<key>.filename".
    std::map<std::string, std::string> Args;
    TOfficeWatch Watch;
    std::time_t Now = 0;  // the wall clock when the request came
    // The value of key, or empty.
    std::string Arg(const std::string& key) const;
    // "NAME (ROLE)", shown at the top of every page.
    std::string UserLabel() const { return User + " (" + Role.Text() + ")"; }
};

struct TPageAnswer {
    unsigned Status = 200;
    std::string Body;
    std::string ContentType = "text/html; charset=utf-8";
    // Extra headers (Content-Disposition of a download, …).
    std::vector<std::pair<std::string, std::string>> Headers;
    // A page that draws charts runs the server's own scripts.
    bool Scripts = false;
};

// A download: body as file name, with its content type.
TPageAnswer Download(std::string body, const std::string& contentType, const std::string& fileName);
// A page answering status with a short error page.
TPageAnswer ErrorAnswer(unsigned status, const std::string& title, const std::string& text);

// The offices and the period a page shows: ?site=…&from=yyyy-mm-dd&to=…
struct TSiteChoice {
    std::vector<std::string> Allowed;  // every office the user may see, ordered by bytes
    std::string Site;                  // the one chosen; empty: all of Allowed
    std::string From, To;              // as given (yyyy-mm-dd), empty: open
    TPeriod Period;
    std::string Error;  // what is wrong with the arguments; empty when nothing
    // The offices to show: {Site}, or Allowed.
    std::vector<std::string> Sites() const;
    // "site=…&from=…&to=…" of what was chosen, URL-encoded, for links and
    // downloads that keep the page's choice.
    std::string QueryString() const;
};
// Reads the choice of request, limited to the user's offices: a site that
// is not one of them is an Error (and shows nothing), as is a date that
// does not exist or a from after to.
TSiteChoice ChooseSites(pqxx::connection_base& db, const TPageRequest& request);

// text with every byte but letters, digits and -._~ as %XX.
std::string UrlEncode(const std::string& text);

// A page of the server: GET (and HEAD) unless Post; AdminOnly refuses
// every other role with 403.
struct TRoute {
    std::string Path;
    bool Post = false;
    bool AdminOnly = false;
    std::function<TPageAnswer(pqxx::connection_base&, const TPageRequest&)> Handler;
};
// Every page but the login and logout the server answers itself.
const std::vector<TRoute>& Routes();

// The office and period form of a page at action: an office list of
// choice.Allowed (with "все" when there are several), the two dates and
// "Показать"; extra is more of the form (already HTML), kept inside it.
std::string ChoiceForm(const TSiteChoice& choice, const std::string& action,
                       const std::string& extra = {});
