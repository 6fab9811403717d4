// tallyphon-web against a real PostgreSQL server and a real HTTP client
// (libcurl): logins, sessions, the attacks a page must withstand, and the
// program's commands.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <curl/curl.h>
#include <gtest/gtest.h>
#include <QGuiApplication>
#include <pqxx/pqxx>

#include "db/db_config.h"
#include "db/schema.h"
#include "tests/common/test_support.h"
#include "tests/db/db_test_support.h"
#include "web/page.h"
#include "web/server.h"
#include "web/users.h"

using namespace testing_support;
using namespace std::chrono_literals;

namespace {

struct TReply {
    long Status = 0;
    std::multimap<std::string, std::string> Headers;  // names in lower case
    std::string Body;
    std::string Header(const std::string& name) const {
        const auto found = Headers.find(name);
        return found == Headers.end() ? std::string() : found->second;
    }
};

struct TCall {
    std::string Url;
    std::optional<std::string> Post;  // the form's body; none: GET
    std::string Cookie;
    std::string CaFile;  // the certificate to trust, for https
    std::string ExtraHeader;
};

size_t Collect(char* data, size_t size, size_t count, void* out) {
    static_cast<std::string*>(out)->append(data, size * count);
    return size * count;
}

size_t CollectHeader(char* data, size_t size, size_t count, void* out) {
    const std::string line(data, size * count);
    const size_t colon = line.find(':');
    if (colon != std::string::npos) {
        std::string name = line.substr(0, colon);
        for (char& c : name)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        const size_t begin = line.find_first_not_of(' ', colon + 1);
        const size_t end = line.find_last_not_of("\r\n");
        static_cast<TReply*>(out)->Headers.emplace(name, line.substr(begin, end + 1 - begin));
    }
    return size * count;
}

TReply Http(const TCall& call) {
    TReply reply;
    CURL* curl = curl_easy_init();
    curl_slist* headers = nullptr;
    curl_easy_setopt(curl, CURLOPT_URL, call.Url.c_str());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply.Body);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, CollectHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &reply);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 30L);
    if (call.Post) curl_easy_setopt(curl, CURLOPT_POSTFIELDS, call.Post->c_str());
    if (!call.Cookie.empty()) curl_easy_setopt(curl, CURLOPT_COOKIE, call.Cookie.c_str());
    if (!call.CaFile.empty()) curl_easy_setopt(curl, CURLOPT_CAINFO, call.CaFile.c_str());
    if (!call.ExtraHeader.empty()) {
        headers = curl_slist_append(headers, call.ExtraHeader.c_str());
        curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    }
    const CURLcode done = curl_easy_perform(curl);
    EXPECT_EQ(done, CURLE_OK) << curl_easy_strerror(done) << " " << call.Url;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &reply.Status);
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
    return reply;
}

// What follows marker="…" in text, up to the closing quote.
std::string Between(const std::string& text, const std::string& marker) {
    const size_t begin = text.find(marker);
    if (begin == std::string::npos) return {};
    const size_t from = begin + marker.size();
    return text.substr(from, text.find_first_of("\";", from) - from);
}

std::string Csrf(const std::string& page) {
    return Between(page, "name=\"csrf\" value=\"");
}

// A form sent as multipart/form-data, as a browser sends a file: fields, and
// files by field as {name, bytes}.
TReply Upload(const std::string& url, const std::string& cookie,
              const std::map<std::string, std::string>& fields,
              const std::map<std::string, std::pair<std::string, std::string>>& files) {
    TReply reply;
    CURL* curl = curl_easy_init();
    curl_mime* form = curl_mime_init(curl);
    for (const auto& [name, value] : fields) {
        curl_mimepart* part = curl_mime_addpart(form);
        curl_mime_name(part, name.c_str());
        curl_mime_data(part, value.data(), value.size());
    }
    for (const auto& [name, file] : files) {
        curl_mimepart* part = curl_mime_addpart(form);
        curl_mime_name(part, name.c_str());
        curl_mime_filename(part, file.first.c_str());
        curl_mime_type(part, "text/csv");
        curl_mime_data(part, file.second.data(), file.second.size());
    }
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_MIMEPOST, form);
    curl_easy_setopt(curl, CURLOPT_COOKIE, cookie.c_str());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply.Body);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 30L);
    const CURLcode done = curl_easy_perform(curl);
    EXPECT_EQ(done, CURLE_OK) << curl_easy_strerror(done) << " " << url;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &reply.Status);
    curl_mime_free(form);
    curl_easy_cleanup(curl);
    return reply;
}

// The time of a local date and time.
std::time_t Local(int year, int month, int day, int hour, int minute) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_isdst = -1;
    return std::mktime(&t);
}

// Two small tables written by hand: a city rate with a connection fee and
// 5 free seconds, long distance by the minute; and two of three
// subscribers with departments.
const char* const kTariffs =
    "Префикс;Зона;Цена;Соединение;Первый;Шаг;Бесплатно;Дни;С;До\r\n"
    "8;Межгород;5,50;;60;60;;;;\r\n"
    "*;Город;1,00;0,10;60;60;5;;;\r\n";
const char* const kDirectory =
    "Номер;Имя;Отдел\r\n121;Петров П. П.;Бухгалтерия\r\n122;Иванова А. С.;Склад\r\n";

class WebTest : public ::testing::Test {
  protected:
    void SetUp() override {
        curl_global_init(CURL_GLOBAL_DEFAULT);
        ASSERT_TRUE(InitCrypto());
        owner_ = FreshDatabase();
        ASSERT_TRUE(MakeSchemaAt(owner_).Ok());
        dbName_ = owner_.substr(owner_.find("dbname=") + 7);
        Cluster().Psql(dbName_,
                       "DO $$ BEGIN IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = "
                       "'web_reader') THEN CREATE ROLE web_reader LOGIN; END IF; END $$;"
                       " GRANT tallyphon_web TO web_reader");
        reader_ = "host=" + Cluster().Dir() + " user=web_reader dbname=" + dbName_;
    }
    void TearDown() override {
        server_.reset();
        curl_global_cleanup();
    }

    void AddUser(const std::string& name, const std::string& role) {
        const auto db = ConnectDb(owner_);
        StoreUser(*db, {name, role, HashPassword(name + "-secret")});
    }

    void StartServer(const std::string& cert = "", const std::string& key = "") {
        TWebOptions options;
        options.ConnInfo = reader_;
        ASSERT_EQ(ParseListen("127.0.0.1:0", options.Listen), "");
        options.CertPem = cert;
        options.KeyPem = key;
        options.Clock = [this] { return std::chrono::steady_clock::now() + skew_.load(); };
        if (configure_) configure_(options);
        options.WallClock = [this] { return now_ ? now_.load() : std::time(nullptr); };
        server_ = std::make_unique<TWebServer>(options);
        ASSERT_EQ(server_->Start(), "");
        base_ = (cert.empty() ? "http://127.0.0.1:" : "https://127.0.0.1:") +
                std::to_string(server_->Port());
    }

    TReply LogIn(const std::string& name, const std::string& password) {
        return Http({base_ + "/login", "name=" + name + "&password=" + password, "", ca_, ""});
    }
    // The session cookie of a login that worked, as a request sends it.
    std::string Session(const std::string& name) {
        const TReply reply = LogIn(name, name + "-secret");
        EXPECT_EQ(reply.Status, 303);
        return "tp_session=" + Between(reply.Header("set-cookie"), "tp_session=");
    }
    TReply Get(const std::string& path, const std::string& cookie) {
        return Http({base_ + path, std::nullopt, cookie, ca_, ""});
    }
    std::string Sql(const std::string& sql) { return Cluster().Psql(dbName_, sql); }

    std::string owner_, reader_, dbName_, base_, ca_;
    std::atomic<std::chrono::seconds> skew_{0s};
    std::function<void(TWebOptions&)> configure_;  // more options for StartServer
    std::atomic<std::time_t> now_{0};              // the pages' wall clock; 0: the real one
    std::unique_ptr<TWebServer> server_;
};

TEST_F(WebTest, LoginLogoutHeadersAndAudit) {
    AddUser("boss", "head");
    StartServer();
    const TReply wrong = LogIn("boss", "not-the-password");
    EXPECT_EQ(wrong.Status, 401);
    EXPECT_EQ(wrong.Header("set-cookie"), "");
    EXPECT_EQ(Get("/", "").Header("location"), "/login");

    const TReply right = LogIn("boss", "boss-secret");
    ASSERT_EQ(right.Status, 303);
    EXPECT_EQ(right.Header("location"), "/");
    const std::string cookie = right.Header("set-cookie");
    EXPECT_NE(cookie.find("; HttpOnly"), std::string::npos) << cookie;
    EXPECT_NE(cookie.find("; SameSite=Strict"), std::string::npos) << cookie;
    EXPECT_EQ(cookie.find("Secure"), std::string::npos) << cookie;
    EXPECT_EQ(Between(cookie, "tp_session=").size(), 64u) << cookie;
    const std::string session = "tp_session=" + Between(cookie, "tp_session=");

    const TReply page = Get("/", session);
    ASSERT_EQ(page.Status, 200);
    EXPECT_NE(page.Body.find("Выйти"), std::string::npos);
    const std::string csp = page.Header("content-security-policy");
    EXPECT_NE(csp.find("frame-ancestors 'none'"), std::string::npos) << csp;
    EXPECT_EQ(csp.find("unsafe-inline"), std::string::npos) << csp;
    EXPECT_EQ(page.Header("x-content-type-options"), "nosniff");
    EXPECT_EQ(page.Header("referrer-policy"), "no-referrer");
    EXPECT_EQ(page.Header("strict-transport-security"), "");

    // Logging out needs the page's token: none, or another, is refused.
    EXPECT_EQ(Http({base_ + "/logout", "", session, "", ""}).Status, 403);
    EXPECT_EQ(Http({base_ + "/logout", "csrf=" + std::string(64, 'a'), session, "", ""}).Status,
              403);
    EXPECT_EQ(Get("/", session).Status, 200);
    const TReply out = Http({base_ + "/logout", "csrf=" + Csrf(page.Body), session, "", ""});
    EXPECT_EQ(out.Status, 303);
    EXPECT_NE(out.Header("set-cookie").find("Max-Age=0"), std::string::npos);
    EXPECT_EQ(Get("/", session).Header("location"), "/login");

    EXPECT_EQ(Sql("SELECT event, name, address FROM tallyphon.web_audit ORDER BY event"),
              "login|boss|127.0.0.1\nlogin-failed|boss|127.0.0.1\nlogout|boss|127.0.0.1\n");
    // The server's role adds audit rows and reads nothing of them; an
    // office's role sees neither the users' hashes nor the audit.
    for (const std::string sql : {"SET ROLE web_reader; SELECT * FROM tallyphon.web_audit",
                                  "SET ROLE tallyphon_office; SELECT * FROM tallyphon.web_users",
                                  "SET ROLE tallyphon_office; SELECT * FROM tallyphon.web_audit"})
        EXPECT_THROW(Sql(sql), std::runtime_error) << sql;
}

TEST_F(WebTest, OnlyTheWebRoleReadsTheUsers) {
    AddUser("boss", "admin");
    // A database made before the web role had its own rights gave the
    // reader the users; making the schema again takes that back.
    Sql("GRANT SELECT ON tallyphon.web_users TO tallyphon_reader;"
        " GRANT INSERT ON tallyphon.web_audit TO tallyphon_reader");
    ASSERT_TRUE(MakeSchemaAt(owner_).Ok());
    Sql("DO $$ BEGIN IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'plain_reader') THEN"
        " CREATE ROLE plain_reader LOGIN; END IF; END $$; GRANT tallyphon_reader TO plain_reader");
    const auto reader =
        ConnectDb("host=" + Cluster().Dir() + " user=plain_reader dbname=" + dbName_);
    for (const std::string sql :
         {"SELECT * FROM tallyphon.web_users",
          "INSERT INTO tallyphon.web_audit (name, address, event) VALUES ('x', 'y', 'z')"}) {
        pqxx::nontransaction n(*reader);
        try {
            n.exec(sql);
            ADD_FAILURE() << sql;
        } catch (const pqxx::insufficient_privilege&) {
        }
    }
    EXPECT_EQ(Sql("SET ROLE web_reader; SELECT name FROM tallyphon.web_users"), "boss\n");
    // The reader's calls stay open to the web role.
    EXPECT_EQ(Sql("SET ROLE web_reader; SELECT count(*) FROM tallyphon.calls"), "0\n");
    StartServer();
    EXPECT_EQ(LogIn("boss", "boss-secret").Status, 303);
}

TEST_F(WebTest, SixthFailureInAMinuteIsRefused) {
    AddUser("clerk", "office:A");
    StartServer();
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(LogIn("clerk", "wrong").Status, 401) << i;
    // Even the right password, and from that address any name.
    EXPECT_EQ(LogIn("clerk", "clerk-secret").Status, 429);
    EXPECT_EQ(LogIn("someone", "else").Status, 429);
    skew_ = 61s;
    EXPECT_EQ(LogIn("clerk", "clerk-secret").Status, 303);
    EXPECT_EQ(Sql("SELECT count(*) FROM tallyphon.web_audit WHERE event = 'login-throttled'"),
              "2\n");
}

TEST_F(WebTest, OfficesPageEscapesAndKeepsOfficesApart) {
    const std::string evil = R"("><img src=x onerror=alert(1)>)";
    Sql("INSERT INTO tallyphon.sites (site, model, serial, shipped_at) VALUES"
        " ('Kiev-A', 'QS20', 'SN-1001', '2026-03-05 14:10:00'), ('Lviv-B', '', '', NULL),"
        " ('" +
        evil +
        "', '', '', NULL);"
        "INSERT INTO tallyphon.calls VALUES ('Kiev-A', 1, 0, 'QS20', 'SN-1001', "
        " localtimestamp(0), 95, '12', '121', '200', '<script>alert(1)</script>', 'x'),"
        " ('Lviv-B', 1, 0, '', '', '2007-03-05 10:00:00', 5, '77', '', '', 'secret-b', 'y')");
    AddUser("boss", "admin");
    AddUser("kiev", "office:Kiev-A");
    StartServer();

    const std::string all = Get("/", Session("boss")).Body;
    EXPECT_NE(all.find("&lt;script&gt;alert(1)&lt;/script&gt;"), std::string::npos) << all;
    EXPECT_NE(all.find("<h2>&quot;&gt;&lt;img src=x onerror=alert(1)&gt;</h2>"), std::string::npos)
        << all;
    EXPECT_EQ(all.find("<script"), std::string::npos);
    EXPECT_EQ(all.find("<img"), std::string::npos);
    EXPECT_NE(all.find("<h2>Lviv-B</h2>"), std::string::npos);
    EXPECT_NE(all.find("<dt>АТС</dt><dd>QS20</dd>\n<dt>Заводской номер</dt><dd>SN-1001</dd>"),
              std::string::npos);
    // Silent for months.
    EXPECT_NE(all.find("<dt>Передан в базу</dt><dd class=\"silent\">05.03.2026 14:10:00 — молчит "
                       "больше 60 мин рабочего времени</dd>"),
              std::string::npos);
    EXPECT_NE(all.find("<dt>Звонков сегодня</dt><dd>1</dd>"), std::string::npos);
    EXPECT_EQ(Get("/?site=Lviv-B", Session("boss")).Body.find("Kiev-A"), std::string::npos);

    const std::string kiev = Session("kiev");
    for (const std::string path : {"/", "/?site=Lviv-B"}) {
        const std::string own = Get(path, kiev).Body;
        EXPECT_EQ(own.find("Lviv-B"), std::string::npos) << path;
        EXPECT_EQ(own.find("secret-b"), std::string::npos) << path;
        EXPECT_EQ(own.find("onerror"), std::string::npos) << path;
        EXPECT_EQ(own.find("<h2>Kiev-A</h2>") == std::string::npos, path != "/") << path;
    }
    // An office given to another user takes effect at once.
    Sql("UPDATE tallyphon.web_users SET role = 'office:Lviv-B' WHERE name = 'kiev'");
    EXPECT_NE(Get("/", kiev).Body.find("secret-b"), std::string::npos);
}

TEST_F(WebTest, ListsAreTheReportProgramsAndOfTheUsersOfficesOnly) {
    Sql("INSERT INTO tallyphon.sites (site) VALUES ('Kiev-A'), ('Lviv-B');"
        "INSERT INTO tallyphon.calls VALUES"
        " ('Kiev-A', 1, 0, '', '', '2007-03-05 14:02:07', 95, '12', '121', '200', '555', 'x'),"
        " ('Kiev-A', 1, 70, '', '', '2007-03-06 09:00:00', 3600, '<b>', '1;2', '04', '', 'x'),"
        " ('Kiev-A', 1, 140, '', '', '2007-03-06 10:00:00', 30, '12', '122', '04', '8', 'x');"
        "INSERT INTO tallyphon.calls VALUES"
        " ('Lviv-B', 1, 0, '', '', '2007-03-05 10:00:00', 5, 'L-77', '', 'T-31', 'b', 'y')");
    AddUser("boss", "admin");
    AddUser("kiev", "office:Kiev-A");
    StartServer();
    const std::string boss = Session("boss"), kiev = Session("kiev");

    // The downloads are the report program's files, byte for byte.
    TTempDir dir;
    const struct {
        std::string site, from, to;
    } choices[] = {{"Kiev-A", "", ""}, {"", "2007-03-06", ""}, {"Lviv-B", "", "2007-03-05"}};
    for (const auto& c : choices) {
        std::string args = " --db '" + owner_ + "'";
        if (!c.site.empty()) args += " --site " + c.site;
        if (!c.from.empty()) args += " --from " + c.from;
        if (!c.to.empty()) args += " --to " + c.to;
        const std::string query = "?site=" + c.site + "&from=" + c.from + "&to=" + c.to;
        for (const std::string kind : {"lines", "trunks"}) {
            const std::string file = dir.File(kind + ".csv");
            ASSERT_EQ(std::system((TALLYPHON_REPORT_PROGRAM + args + " --csv-" + kind + " " + file +
                                   " >/dev/null")
                                      .c_str()),
                      0);
            const TReply reply = Get("/" + kind + ".csv" + query, boss);
            EXPECT_EQ(reply.Status, 200);
            EXPECT_EQ(reply.Header("content-type"), "text/csv; charset=utf-8");
            EXPECT_EQ(reply.Body, ReadFile(file)) << kind << query;
            EXPECT_GT(reply.Body.size(), 60u) << kind << query;
        }
    }
    EXPECT_EQ(Get("/trunks.csv?site=Kiev-A&from=2007-03-06", boss).Body,
              "\xEF\xBB\xBFАпп. СЛ;Исх. трафик;Вх. трафик;Общий трафик\r\n"
              "04;00:00:30;01:00:00;01:00:30\r\n");

    const std::string lines = Get("/lines?site=Kiev-A", boss).Body;
    EXPECT_NE(lines.find("<th>Апп. АЛ</th><th>Прг. АЛ</th><th>Исх. трафик</th>"), std::string::npos)
        << lines;
    EXPECT_NE(lines.find("<tr><td>&lt;b&gt;</td><td>1;2</td><td class=\"n\">00:00:00</td>"),
              std::string::npos)
        << lines;
    EXPECT_NE(lines.find("<a href=\"/lines.csv?site=Kiev-A&amp;from=&amp;to=\">CSV</a>"),
              std::string::npos);
    EXPECT_EQ(lines.find("<b>"), std::string::npos);
    EXPECT_NE(Get("/trunks", boss).Body.find("<td>Lviv-B</td><td>T-31</td>"), std::string::npos);

    // An office sees its own lists, and nothing of another's through site=.
    for (const std::string path : {"/lines?site=Lviv-B", "/trunks?site=Lviv-B",
                                   "/lines.csv?site=Lviv-B", "/trunks.csv?site=Lviv-B"}) {
        const TReply reply = Get(path, kiev);
        EXPECT_EQ(reply.Status, 400) << path;
        EXPECT_EQ(reply.Body.find("L-77"), std::string::npos) << path;
        EXPECT_EQ(reply.Body.find("T-31"), std::string::npos) << path;
    }
    const std::string own = Get("/trunks.csv", kiev).Body;
    EXPECT_EQ(own, Get("/trunks.csv?site=Kiev-A", boss).Body);
    EXPECT_EQ(Get("/trunks", kiev).Body.find("Lviv-B"), std::string::npos);
}

TEST_F(WebTest, IdleSessionEndsAndOversizedRequestsAreRefused) {
    AddUser("boss", "head");
    StartServer();
    const std::string session = Session("boss");
    skew_ = 8h - 1s;
    EXPECT_EQ(Get("/", session).Status, 200);
    skew_ = 8h - 1s + 8h + 1s;
    EXPECT_EQ(Get("/", session).Header("location"), "/login");
    skew_ = 8h - 1s + 8h + 2s;
    EXPECT_EQ(Get("/", session).Header("location"), "/login");

    EXPECT_EQ(Http({base_ + "/login", std::string(4 * 1024 * 1024 + 1, 'x'), "", "", ""}).Status,
              413);
    EXPECT_EQ(
        Http({base_ + "/login", std::nullopt, "", "", "X-Big: " + std::string(65536, 'y')}).Status,
        431);
    EXPECT_EQ(Get("/login", "").Status, 200);
}

TEST_F(WebTest, TlsMarksTheCookieSecure) {
    TTempDir dir;
    const std::string cert = dir.File("cert.pem"), key = dir.File("key.pem");
    ASSERT_EQ(std::system(("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=localhost"
                           " -addext subjectAltName=IP:127.0.0.1 -keyout " +
                           key + " -out " + cert + " 2>/dev/null")
                              .c_str()),
              0);
    AddUser("boss", "head");
    ca_ = cert;
    StartServer(ReadFile(cert), ReadFile(key));
    const TReply right = LogIn("boss", "boss-secret");
    ASSERT_EQ(right.Status, 303);
    EXPECT_NE(right.Header("set-cookie").find("; HttpOnly; SameSite=Strict; Secure"),
              std::string::npos)
        << right.Header("set-cookie");
    EXPECT_EQ(right.Header("strict-transport-security"), "max-age=31536000");
    EXPECT_EQ(Get("/", "tp_session=" + Between(right.Header("set-cookie"), "tp_session=")).Status,
              200);
}

TEST_F(WebTest, ChartsCountCallsAndCostPerOffice) {
    // Kiev-A, by its tariffs: 95 s to 8… is two minutes of Межгород at
    // 5,50, 30 s to 2345 one minute of Город at 1,00; the incoming call is
    // not rated. Lviv-B has no tariffs.
    Sql("INSERT INTO tallyphon.sites (site, model, serial) VALUES ('Kiev-A', '', ''),"
        " ('Lviv-B', '', '');"
        "INSERT INTO tallyphon.calls VALUES"
        " ('Kiev-A', 1, 0, '', '', '2026-03-02 09:15:00', 95, '12', '', '', '8495123', 'a'),"
        " ('Kiev-A', 1, 1, '', '', '2026-03-02 09:40:00', 30, '12', '', '', '2345', 'b'),"
        " ('Kiev-A', 1, 2, '', '', '2026-03-04 17:05:00', 61, '12', '', '', '', 'c'),"
        " ('Lviv-B', 1, 0, '', '', '2026-03-02 09:50:00', 10, '77', '', '', '5555', 'd');"
        "INSERT INTO tallyphon.office_files (site, kind, file_name, content, uploaded_by)"
        " VALUES ('Kiev-A', 'tariffs', 't.csv', convert_to('8;Межгород;5,50;;60;60;;;;\n"
        "*;Город;1,00;;60;60;;;;\n', 'UTF8'), 'boss')");
    AddUser("boss", "admin");
    AddUser("kiev", "office:Kiev-A");
    TTempDir dir;
    WriteFile(dir.File("chart.js"), "var Chart = 1;\n");
    configure_ = [&](TWebOptions& o) { o.ChartJsPath = dir.File("chart.js"); };
    StartServer();

    const TReply all = Get("/charts?from=2026-03-01&to=2026-03-31", Session("boss"));
    ASSERT_EQ(all.Status, 200);
    for (const char* row :
         {"<tr><th>0</th><td class=\"n\">0</td></tr>", "<tr><th>9</th><td class=\"n\">3</td></tr>",
          "<tr><th>17</th><td class=\"n\">1</td></tr>",
          "<tbody>\n<tr><th>02.03.2026</th><td class=\"n\">3</td></tr>\n"
          "<tr><th>03.03.2026</th><td class=\"n\">0</td></tr>\n"
          "<tr><th>04.03.2026</th><td class=\"n\">1</td></tr>\n</tbody>",
          "<tr><th>Межгород</th><td class=\"n\">1</td><td class=\"n\">2</td>"
          "<td class=\"n\" data-value=\"11.00\">11,00</td></tr>\n"
          "<tr><th>Город</th><td class=\"n\">1</td><td class=\"n\">1</td>"
          "<td class=\"n\" data-value=\"1.00\">1,00</td></tr>\n</tbody>",
          "<p>У офиса Lviv-B нет тарифов"})
        EXPECT_NE(all.Body.find(row), std::string::npos) << row << "\n" << all.Body;
    // Scripts of the server's own only, none inline.
    const std::string csp = all.Header("content-security-policy");
    EXPECT_NE(csp.find("script-src 'self'"), std::string::npos) << csp;
    EXPECT_EQ(csp.find("unsafe-inline"), std::string::npos) << csp;
    size_t scripts = 0;
    for (size_t at = all.Body.find("<script"); at != std::string::npos;
         at = all.Body.find("<script", at + 1), ++scripts)
        EXPECT_EQ(all.Body.compare(at, 13, "<script src=\""), 0) << all.Body.substr(at, 40);
    EXPECT_EQ(scripts, 2u);
    EXPECT_EQ(all.Body.find(" style="), std::string::npos);
    const TReply library = Get("/chart.js", "");
    EXPECT_EQ(library.Status, 200);
    EXPECT_EQ(library.Body, "var Chart = 1;\n");
    EXPECT_EQ(library.Header("content-type"), "text/javascript; charset=utf-8");
    EXPECT_EQ(Get("/charts.js", "").Header("content-type"), "text/javascript; charset=utf-8");

    const std::string late = Get("/charts?from=2026-03-03", Session("boss")).Body;
    EXPECT_NE(late.find("<tr><th>9</th><td class=\"n\">0</td></tr>"), std::string::npos) << late;
    EXPECT_NE(late.find("<tbody>\n<tr><th>04.03.2026</th><td class=\"n\">1</td></tr>\n</tbody>"),
              std::string::npos)
        << late;

    const std::string kiev = Session("kiev");
    const std::string own = Get("/charts", kiev).Body;
    EXPECT_NE(own.find("<tr><th>9</th><td class=\"n\">2</td></tr>"), std::string::npos) << own;
    EXPECT_NE(own.find("<tr><th>02.03.2026</th><td class=\"n\">2</td></tr>"), std::string::npos);
    EXPECT_EQ(own.find("Lviv-B"), std::string::npos) << own;
    const std::string other = Get("/charts?site=Lviv-B", kiev).Body;
    EXPECT_NE(other.find("Нет такого офиса: Lviv-B"), std::string::npos) << other;
    EXPECT_EQ(other.find("<table"), std::string::npos) << other;

    // Without Chart.js the tables stay.
    configure_ = [&](TWebOptions& o) { o.ChartJsPath = dir.File("none.js"); };
    server_.reset();
    StartServer();
    EXPECT_EQ(Get("/chart.js", "").Status, 404);
    EXPECT_NE(
        Get("/charts", Session("boss")).Body.find("<tr><th>9</th><td class=\"n\">3</td></tr>"),
        std::string::npos);

    // Over more than a quarter, months rather than days.
    Sql("INSERT INTO tallyphon.calls VALUES"
        " ('Kiev-A', 1, 3, '', '', '2026-07-10 10:00:00', 5, '12', '', '', '2345', 'e')");
    const std::string months = Get("/charts?site=Kiev-A", Session("boss")).Body;
    EXPECT_NE(months.find("<h2>Звонки по месяцам</h2>"), std::string::npos) << months;
    EXPECT_NE(months.find("<tbody>\n<tr><th>03.2026</th><td class=\"n\">3</td></tr>\n"
                          "<tr><th>04.2026</th><td class=\"n\">0</td></tr>\n"
                          "<tr><th>05.2026</th><td class=\"n\">0</td></tr>\n"
                          "<tr><th>06.2026</th><td class=\"n\">0</td></tr>\n"
                          "<tr><th>07.2026</th><td class=\"n\">1</td></tr>\n</tbody>"),
              std::string::npos)
        << months;
}

TEST_F(WebTest, AuditKeeps400DaysPrunedHourly) {
    const std::string old =
        "INSERT INTO tallyphon.web_audit (at, name, address, event) VALUES"
        " (now() - interval '401 days', 'x', 'y', 'old')";
    Sql(old + ", (now() - interval '399 days', 'x', 'y', 'kept')");
    StartServer();
    const std::string count =
        "SELECT event, count(*) FROM tallyphon.web_audit GROUP BY 1 ORDER BY 1";
    EXPECT_EQ(LogIn("nobody", "x").Status, 401);
    EXPECT_EQ(Sql(count), "kept|1\nlogin-failed|1\n");
    Sql(old);
    EXPECT_EQ(LogIn("nobody", "x").Status, 401);
    EXPECT_EQ(Sql(count), "kept|1\nlogin-failed|2\nold|1\n");
    skew_ = 1h;
    EXPECT_EQ(LogIn("nobody", "x").Status, 401);
    EXPECT_EQ(Sql(count), "kept|1\nlogin-failed|3\n");
    // The server's role deletes through the function only.
    EXPECT_THROW(Sql("SET ROLE web_reader; DELETE FROM tallyphon.web_audit"), std::runtime_error);
    EXPECT_EQ(Sql("SET ROLE web_reader; SELECT tallyphon.prune_web_audit()"), "0\n");
    EXPECT_THROW(Sql("SET ROLE tallyphon_reader; SELECT tallyphon.prune_web_audit()"),
                 std::runtime_error);
}

// A TCP connection to the server at port.
int Connect(uint16_t port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    return fd;
}

// Whether the server closes fd within ten seconds; with trickle, one more
// byte of a header is sent whenever a quarter of a second passes without.
bool ClosedByServer(int fd, bool trickle) {
    return WaitFor([&] {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 250) == 1) {
            char buf[512];
            if (recv(fd, buf, sizeof buf, 0) <= 0) return true;
        } else if (trickle && send(fd, "a", 1, MSG_NOSIGNAL) != 1) {
            return true;
        }
        return false;
    });
}

TEST_F(WebTest, SlowClientsAreCutOff) {
    configure_ = [](TWebOptions& o) {
        o.ConnectionTimeout = 1s;
        o.RequestTimeout = 2s;
    };
    StartServer();
    const std::string start = "GET /login HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: ";
    const int silent = Connect(server_->Port());
    ASSERT_EQ(send(silent, start.data(), start.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(start.size()));
    EXPECT_TRUE(ClosedByServer(silent, false));
    close(silent);
    // Each byte in time for the library's time-out of silence.
    const int trickling = Connect(server_->Port());
    ASSERT_EQ(send(trickling, start.data(), start.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(start.size()));
    EXPECT_TRUE(ClosedByServer(trickling, true));
    close(trickling);
    EXPECT_EQ(Get("/login", "").Status, 200);
}

// The program, its output and its exit status.
struct TRun {
    int Status = -1;
    std::string Output;
};

TRun Program(const std::string& arguments, const std::string& input = "") {
    const std::string command =
        "printf '%s\\n' '" + input + "' | " TALLYPHON_WEB_PROGRAM " " + arguments + " 2>&1";
    TRun run;
    FILE* p = popen(command.c_str(), "r");
    char buf[4096];
    while (size_t n = fread(buf, 1, sizeof buf, p))
        run.Output.append(buf, n);
    const int status = pclose(p);
    run.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

TEST_F(WebTest, ProgramManagesUsers) {
    const std::string db = "--db '" + owner_ + "' ";
    EXPECT_EQ(Program(db + "--add-user alice --role office:Kiev-A", "alice-password").Status, 0);
    EXPECT_EQ(Program(db + "--add-user bob --role head", "bob-password").Output,
              "Пользователь bob добавлен\n");
    EXPECT_EQ(Program(db + "--add-user carol --role office:", "carol-password").Status, 2);
    EXPECT_EQ(Program(db + "--add-user carol --role head", "short").Status, 2);
    EXPECT_EQ(Program(db + "--list-users").Output, "alice\toffice:Kiev-A\nbob\thead\n");
    EXPECT_EQ(Sql("SELECT count(*) FROM tallyphon.web_users WHERE hash LIKE '$argon2id$%'"), "2\n");
    EXPECT_EQ(Sql("SELECT count(*) FROM tallyphon.web_users WHERE hash LIKE '%password%'"), "0\n");
    EXPECT_EQ(Program(db + "--del-user alice").Status, 0);
    EXPECT_EQ(Program(db + "--del-user alice").Status, 2);
    EXPECT_EQ(Program(db + "--list-users").Output, "bob\thead\n");

    // The stored hash is what a login checks.
    StartServer();
    EXPECT_EQ(LogIn("bob", "bob-password").Status, 303);
}

TEST_F(WebTest, ProgramListensAndStops) {
    const TRun open = Program("--db '" + reader_ + "' --listen 0.0.0.0:8450");
    EXPECT_EQ(open.Status, 2);
    EXPECT_NE(open.Output.find("<3>tallyphon-web: без --cert и --key"), std::string::npos)
        << open.Output;
    const TRun idle = Program("--db '" + reader_ + "' --idle-timeout 0");
    EXPECT_EQ(idle.Status, 2);
    EXPECT_NE(idle.Output.find("--idle-timeout принимает целое число секунд"), std::string::npos)
        << idle.Output;
    const TRun secret = Program("--db 'password=hunter22 " + reader_ + "' --listen 10.0.0.1:1");
    EXPECT_EQ(secret.Status, 2);
    EXPECT_EQ(secret.Output.find("hunter22"), std::string::npos) << secret.Output;
    EXPECT_NE(secret.Output.find("<4>tallyphon-web: " + std::string(kPasswordSeen)),
              std::string::npos)
        << secret.Output;

    TTempDir dir;
    WriteFile(dir.File("web.cfg"), "# the reader\nCONNINFO=" + reader_ + "\n");
    ASSERT_EQ(chmod(dir.File("web.cfg").c_str(), 0640), 0);
    TNotifySocket notify(dir.File("notify"));
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    const pid_t child = fork();
    if (child == 0) {
        dup2(pipeFds[1], STDERR_FILENO);
        execl(TALLYPHON_WEB_PROGRAM, "tallyphon-web", "--config", dir.File("web.cfg").c_str(),
              "--listen", "127.0.0.1:0", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(pipeFds[1]);
    std::string journal;
    ASSERT_TRUE(WaitFor([&] {
        pollfd p{pipeFds[0], POLLIN, 0};
        char buf[512];
        if (poll(&p, 1, 100) == 1)
            if (const ssize_t n = read(pipeFds[0], buf, sizeof buf); n > 0) journal.append(buf, n);
        const size_t port = journal.find(", порт ");
        return port != std::string::npos && journal.find('\n', port) != std::string::npos;
    })) << journal;
    EXPECT_EQ(journal.rfind("<6>tallyphon-web: слушает http://127.0.0.1:0, порт ", 0), 0u)
        << journal;
    base_ = "http://127.0.0.1:" + Between(journal, ", порт ");
    EXPECT_EQ(Get("/login", "").Status, 200);
    // The service manager hears it is ready once it listens, and that it
    // stops on SIGTERM.
    std::vector<std::string> told;
    EXPECT_TRUE(WaitFor([&] {
        for (const std::string& state : notify.Receive())
            told.push_back(state);
        return !told.empty();
    })) << journal;
    kill(child, SIGTERM);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    for (const std::string& state : notify.Receive())
        told.push_back(state);
    EXPECT_EQ(told, (std::vector<std::string>{"READY=1", "STOPPING=1"}));
    close(pipeFds[0]);
}

TEST_F(WebTest, TariffsAreTheAdminsAndABadFileChangesNothing) {
    Sql("INSERT INTO tallyphon.sites (site) VALUES ('Kiev-A'), ('Lviv-B')");
    AddUser("boss", "admin");
    AddUser("chief", "head");
    AddUser("kiev", "office:Kiev-A");
    StartServer();
    const std::string boss = Session("boss");
    const TReply page = Get("/tariffs", boss);
    ASSERT_EQ(page.Status, 200);
    EXPECT_NE(page.Body.find("enctype=\"multipart/form-data\""), std::string::npos);
    EXPECT_NE(page.Body.find("<tr><td>Lviv-B</td><td>нет</td><td>нет</td></tr>"), std::string::npos)
        << page.Body;
    const std::string csrf = Csrf(page.Body);
    const auto upload =
        [&](const std::string& cookie, const std::string& token, const std::string& site,
            const std::map<std::string, std::pair<std::string, std::string>>& files) {
            return Upload(base_ + "/tariffs", cookie, {{"csrf", token}, {"site", site}}, files);
        };

    // The price of line 3 is no number: neither file is stored.
    const TReply bad =
        upload(boss, csrf, "Kiev-A",
               {{"tariffs", {"t<1>.csv", "8;Межгород;5,50\r\n*;Город;<b>дёшево</b>\r\n"}},
                {"directory", {"d.csv", kDirectory}}});
    EXPECT_EQ(bad.Status, 400);
    EXPECT_NE(bad.Body.find("Файл тарифов «t&lt;1&gt;.csv» не принят: Строка 2, поле «цена»: "),
              std::string::npos)
        << bad.Body;
    EXPECT_EQ(bad.Body.find("<b>"), std::string::npos);
    EXPECT_EQ(upload(boss, csrf, "Odessa", {{"tariffs", {"t.csv", kTariffs}}}).Status, 400);
    EXPECT_EQ(upload(boss, csrf, "Kiev-A", {}).Status, 400);
    // Without the page's token the server refuses the form.
    EXPECT_EQ(upload(boss, "x", "Kiev-A", {{"tariffs", {"t.csv", kTariffs}}}).Status, 403);
    EXPECT_EQ(Sql("SELECT count(*) FROM tallyphon.office_files"), "0\n");

    // Stored through the server's own role, a member of tallyphon_web.
    const TReply good =
        upload(boss, csrf, "Kiev-A",
               {{"tariffs", {"tariffs.csv", kTariffs}}, {"directory", {"staff.csv", kDirectory}}});
    EXPECT_EQ(good.Status, 200) << good.Body;
    EXPECT_NE(good.Body.find("Офис Kiev-A, загружено: Файл тарифов «tariffs.csv», Справочник "
                             "абонентов «staff.csv»."),
              std::string::npos)
        << good.Body;
    EXPECT_NE(good.Body.find("<tr><td>Kiev-A</td><td>tariffs.csv<br>загружен "), std::string::npos)
        << good.Body;
    // A new file replaces the office's old one; the other kind stays.
    EXPECT_EQ(upload(boss, csrf, "Kiev-A", {{"tariffs", {"new.csv", "*;Всё;2,00;;60;60;;;;\r\n"}}})
                  .Status,
              200);
    EXPECT_EQ(Sql("SELECT site, kind, file_name, uploaded_by, length(content) FROM "
                  "tallyphon.office_files ORDER BY kind"),
              "Kiev-A|directory|staff.csv|boss|" + std::to_string(std::string(kDirectory).size()) +
                  "\nKiev-A|tariffs|new.csv|boss|26\n");

    // Neither a head nor an office sees the page or may post the form.
    for (const std::string name : {"chief", "kiev"}) {
        const std::string cookie = Session(name);
        const std::string own = Csrf(Get("/", cookie).Body);
        EXPECT_EQ(Get("/tariffs", cookie).Status, 403) << name;
        EXPECT_EQ(upload(cookie, own, "Kiev-A", {{"tariffs", {"t.csv", kTariffs}}}).Status, 403)
            << name;
        EXPECT_EQ(Get("/", cookie).Body.find("/tariffs"), std::string::npos) << name;
    }
    EXPECT_EQ(Sql("SELECT file_name FROM tallyphon.office_files WHERE kind = 'tariffs'"),
              "new.csv\n");
}

TEST_F(WebTest, BillIsTallyphonReportsBill) {
    Sql("INSERT INTO tallyphon.sites (site) VALUES ('Kiev-A'), ('Lviv-B');"
        "INSERT INTO tallyphon.calls VALUES"
        " ('Kiev-A', 1, 0, '', '', '2026-11-02 09:00:00', 95, '12', '121', '200', '2345678', 'a'),"
        " ('Kiev-A', 1, 1, '', '', '2026-11-03 10:00:00', 61, '12', '121', '200', '84951234', 'b'),"
        " ('Kiev-A', 1, 2, '', '', '2026-11-04 11:00:00', 30, '13', '122', '201', '2000000', 'c'),"
        " ('Kiev-A', 1, 3, '', '', '2026-11-05 12:00:00', 40, '14', '123', '201', '3000000', 'd'),"
        " ('Kiev-A', 1, 4, '', '', '2026-11-06 13:00:00', 50, '15', '', '201', '#12', 'e'),"
        " ('Kiev-A', 1, 5, '', '', '2026-11-07 14:00:00', 70, '12', '121', '200', '', 'f'),"
        " ('Kiev-A', 1, 6, '', '', '2026-12-01 09:00:00', 99, '12', '121', '200', '2345678', 'g'),"
        " ('Lviv-B', 1, 0, '', '', '2026-11-02 09:00:00', 95, '12', '121', '200', '2345678', 'h')");
    AddUser("boss", "admin");
    AddUser("lviv", "office:Lviv-B");
    StartServer();
    const std::string boss = Session("boss");
    const std::string csrf = Csrf(Get("/tariffs", boss).Body);
    ASSERT_EQ(
        Upload(base_ + "/tariffs", boss, {{"csrf", csrf}, {"site", "Kiev-A"}},
               {{"tariffs", {"tariffs.csv", kTariffs}}, {"directory", {"staff.csv", kDirectory}}})
            .Status,
        200);

    const std::string query = "?site=Kiev-A&from=2026-11-01&to=2026-11-30";
    const std::string page = Get("/bill" + query, boss).Body;
    for (const std::string part :
         {"<h2>Отдел: Бухгалтерия</h2>", "<h2>Отдел: Без отдела</h2>",
          "<th>Абонент</th><th>Имя</th><th>Отдел</th><th>Зона</th><th>Звонков</th>"
          "<th>Длительность</th><th>Тарифицировано</th><th>Стоимость</th>",
          "<td>121</td><td>Петров П. П.</td><td>Бухгалтерия</td><td>Межгород</td>", "<td>АЛ15</td>",
          "<th>Итого по счёту</th>"})
        EXPECT_NE(page.find(part), std::string::npos) << part << "\n" << page;

    // The bytes and the pages tallyphon-report makes of the same files.
    TTempDir dir;
    WriteFile(dir.File("tariffs.csv"), kTariffs);
    WriteFile(dir.File("staff.csv"), kDirectory);
    const std::string command = std::string(TALLYPHON_REPORT_PROGRAM) + " --db '" + owner_ +
                                "' --site Kiev-A --from 2026-11-01 --to 2026-11-30 --tariffs " +
                                dir.File("tariffs.csv") + " --subscribers " +
                                dir.File("staff.csv") + " --bill-csv " + dir.File("bill.csv") +
                                " --bill-pdf " + dir.File("bill.pdf");
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    const TReply csv = Get("/bill.csv" + query, boss);
    EXPECT_EQ(csv.Header("content-type"), "text/csv; charset=utf-8");
    EXPECT_EQ(csv.Body, ReadFile(dir.File("bill.csv")));
    // Hand-added: 2,10 + 11,00 for 121, a minute and the fee (1,10) for
    // 122, 123 and line 15.
    EXPECT_NE(csv.Body.find("Итого;;;;5;276;420;16,40\r\n"), std::string::npos) << csv.Body;

    qputenv("QT_QPA_PLATFORM", "offscreen");
    int argc = 1;
    char name[] = "tp_web_tests";
    char* argv[] = {name, nullptr};
    {
        QGuiApplication painting(argc, argv);
        std::setlocale(LC_ALL, "C");
        const TReply pdf = Get("/bill.pdf" + query, boss);
        EXPECT_EQ(pdf.Header("content-type"), "application/pdf");
        WriteFile(dir.File("web.pdf"), pdf.Body);
    }
    const auto text = [&](const std::string& file) {
        EXPECT_EQ(
            std::system(
                ("pdftotext -layout " + dir.File(file) + " " + dir.File(file) + ".txt").c_str()),
            0);
        return ReadFile(dir.File(file) + ".txt");
    };
    const std::string printed = text("bill.pdf");
    EXPECT_NE(printed.find("Итого по счёту"), std::string::npos) << printed;
    EXPECT_EQ(text("web.pdf"), printed);

    // No tariffs, no bill; one office at a time; no other office's bill.
    EXPECT_NE(Get("/bill?site=Lviv-B", boss).Body.find("не загружен файл тарифов"),
              std::string::npos);
    EXPECT_EQ(Get("/bill.csv?site=Lviv-B", boss).Status, 409);
    EXPECT_NE(Get("/bill", boss).Body.find("Выберите один офис"), std::string::npos);
    const std::string lviv = Session("lviv");
    EXPECT_EQ(Get("/bill.csv" + query, lviv).Status, 400);
    EXPECT_EQ(Get("/bill" + query, lviv).Body.find("Петров"), std::string::npos);
}

TEST_F(WebTest, OfficesShowTheMonthsCostAndSilence) {
    // Tuesday 8 December 2026, noon: Kiev-A last shipped at 10:30, Lviv-B
    // at 11:45.
    now_ = Local(2026, 12, 8, 12, 0);
    Sql("INSERT INTO tallyphon.sites (site, shipped_at) VALUES"
        " ('Kiev-A', to_timestamp(" +
        std::to_string(Local(2026, 12, 8, 10, 30)) +
        ")),"
        " ('Lviv-B', to_timestamp(" +
        std::to_string(Local(2026, 12, 8, 11, 45)) +
        "));"
        "INSERT INTO tallyphon.calls VALUES"
        " ('Kiev-A', 1, 0, '', '', '2026-12-01 09:00:00', 95, '12', '121', '200', '2345678', 'a'),"
        " ('Kiev-A', 1, 1, '', '', '2026-12-03 10:00:00', 61, '12', '121', '200', '84951234', 'b'),"
        " ('Kiev-A', 1, 2, '', '', '2026-12-04 11:00:00', 5, '13', '122', '201', '2000000', 'c'),"
        " ('Kiev-A', 1, 3, '', '', '2026-12-05 12:00:00', 40, '14', '123', '201', '', 'd'),"
        " ('Kiev-A', 1, 4, '', '', '2026-11-30 23:59:59', 50, '15', '', '201', '2000000', 'e'),"
        " ('Lviv-B', 1, 0, '', '', '2026-12-02 09:00:00', 95, '12', '121', '200', '2345678', 'f')");
    AddUser("boss", "admin");
    StartServer();
    const std::string boss = Session("boss");
    ASSERT_EQ(Upload(base_ + "/tariffs", boss,
                     {{"csrf", Csrf(Get("/tariffs", boss).Body)}, {"site", "Kiev-A"}},
                     {{"tariffs", {"tariffs.csv", kTariffs}}})
                  .Status,
              200);
    const std::string page = Get("/", boss).Body;
    // 95 s in town: 2 minutes and the fee, 2,10; 61 s long distance: 2
    // minutes, 11,00; 5 s free; the incoming call and November's not billed.
    EXPECT_NE(page.find("<dt>Стоимость в этом месяце</dt><dd>13,10</dd>"), std::string::npos)
        << page;
    EXPECT_EQ(page.find("Стоимость в этом месяце", page.find("<h2>Lviv-B</h2>")),
              std::string::npos);
    // 90 minutes of working time without a shipment; 15 minutes is fine.
    const size_t lviv = page.find("<h2>Lviv-B</h2>");
    EXPECT_LT(page.find("class=\"silent\">"), lviv) << page;
    EXPECT_EQ(page.find("class=\"silent\">", lviv), std::string::npos) << page;
    // A call shipped since, and the cost is worked out anew: 30 s in town.
    Sql("INSERT INTO tallyphon.calls VALUES ('Kiev-A', 1, 5, '', '', '2026-12-07 09:00:00', 30,"
        " '12', '121', '200', '2345678', 'g')");
    EXPECT_NE(Get("/", boss).Body.find("<dt>Стоимость в этом месяце</dt><dd>14,20</dd>"),
              std::string::npos);

    // Saturday afternoon after a Friday shipment at 18:30: 30 minutes of
    // working time only.
    Sql("UPDATE tallyphon.sites SET shipped_at = to_timestamp(" +
        std::to_string(Local(2026, 12, 11, 18, 30)) + ")");
    now_ = Local(2026, 12, 12, 15, 0);
    EXPECT_EQ(Get("/", boss).Body.find("class=\"silent\""), std::string::npos);
    // Monday 08:31: 61 minutes.
    now_ = Local(2026, 12, 14, 8, 31);
    EXPECT_NE(Get("/", boss).Body.find("class=\"silent\""), std::string::npos);

    TWorkHours hours;
    EXPECT_EQ(ParseWorkHours("пт-пн,ср 00:00-24:00", hours), "");
    EXPECT_EQ(hours.Days, 0x75);
    EXPECT_EQ(hours.To, 24 * 60);
    EXPECT_EQ(WorkSeconds(hours, Local(2026, 12, 11, 23, 0), Local(2026, 12, 15, 1, 0), 1 << 30),
              (1 + 48 + 24) * 3600);
}

TEST_F(WebTest, ProgramRefusesBadSilenceSettings) {
    const std::string db = "--db '" + reader_ + "' --listen 127.0.0.1:0 ";
    for (const std::string bad : {"--silent-after 0", "--silent-after 1x", "--silent-after ''",
                                  "--work-hours 'пн-пт 19:00-08:00'", "--work-hours 'пн-пт'",
                                  "--work-hours 'пн-xx 08:00-19:00'"}) {
        const TRun run = Program(db + bad);
        EXPECT_EQ(run.Status, 2) << bad;
        EXPECT_NE(run.Output.find("tallyphon-web: "), std::string::npos) << run.Output;
    }
    TTempDir dir;
    WriteFile(dir.File("web.cfg"), "CONNINFO=" + reader_ + "\nSILENT_AFTER=abc\n");
    const TRun run = Program("--config " + dir.File("web.cfg"));
    EXPECT_EQ(run.Status, 2);
    EXPECT_NE(run.Output.find("\"abc\""), std::string::npos) << run.Output;
}

// The page's text with entities read back, for links taken from it.
std::string Unescaped(std::string text) {
    for (const auto& [entity, c] : {std::pair<std::string, std::string>{"&amp;", "&"},
                                    {"&quot;", "\""},
                                    {"&lt;", "<"},
                                    {"&gt;", ">"},
                                    {"&#39;", "'"}})
        for (size_t at; (at = text.find(entity)) != std::string::npos;)
            text.replace(at, entity.size(), c);
    return text;
}

// The cells of the rows of a page's table, header row left out.
std::vector<std::vector<std::string>> Cells(const std::string& page) {
    std::vector<std::vector<std::string>> rows;
    for (size_t row = page.find("<tr><td>"); row != std::string::npos;
         row = page.find("<tr><td>", row + 1)) {
        std::vector<std::string> cells;
        const size_t end = page.find("</tr>", row);
        for (size_t at = page.find("<td", row); at < end; at = page.find("<td", at + 1)) {
            const size_t from = page.find('>', at) + 1;
            cells.push_back(page.substr(from, page.find("</td>", from) - from));
        }
        rows.push_back(cells);
    }
    return rows;
}

// The address a page's link with text leads to; empty when it has none.
std::string LinkTo(const std::string& page, const std::string& text) {
    const size_t end = page.find("\">" + text + "</a>");
    if (end == std::string::npos) return {};
    const size_t begin = page.rfind("<a href=\"", end) + 9;
    return Unescaped(page.substr(begin, end - begin));
}

// Local calls with a connection fee and five free seconds, long distance
// by the minute; the local zone's name is markup, which a page must show
// as text.
const char* const kCallTariffs =
    "Префикс;Зона;Цена;Соединение;Первый;Шаг;Бесплатно\r\n"
    "8;Межгород;5,50;;60;60;\r\n"
    "*;<b>Город</b>;1,00;0,10;60;60;5\r\n";

// Two offices' calls: Kiev-A's subscriber 101 has the programmed number
// 2101, Lviv-B's lines are its own.
const char* const kTwoOffices =
    "INSERT INTO tallyphon.sites (site) VALUES ('Kiev-A'), ('Lviv-B');"
    "INSERT INTO tallyphon.calls VALUES"
    " ('Kiev-A', 1, 0,   'm', 's', '2026-02-28 23:59:59', 100, '101', '2101', '3', "
    "'84950000001',"
    "  'x'),"
    " ('Kiev-A', 1, 40,  'm', 's', '2026-03-05 10:00:00', 125, '101', '2101', '3', "
    "'84951234567',"
    "  'x'),"
    " ('Kiev-A', 1, 80,  'm', 's', '2026-03-05 09:00:00', 4,   '101', '2101', '3', '2345678',"
    "  'x'),"
    " ('Kiev-A', 2, 0,   'm', 's', '2026-03-06 12:30:00', 61,  '102', '2102', '4', '81234',"
    "  'x'),"
    " ('Kiev-A', 2, 40,  'm', 's', '2026-03-07 08:00:00', 30,  '101', '2101', '4', '',"
    "  'x'),"
    " ('Kiev-A', 2, 80,  'm', 's', '2026-03-31 23:59:59', 3600,'101', '2101', '3', "
    "'89990001122',"
    "  'x'),"
    " ('Kiev-A', 2, 120, 'm', 's', '2026-04-01 00:00:00', 10,  '101', '2101', '3', "
    "'84950000002',"
    "  'x'),"
    " ('Lviv-B', 1, 0,   'm', 's', '2026-03-05 11:00:00', 20,  '777', '7777', '1', '955500',"
    "  'y'),"
    " ('Lviv-B', 1, 40,  'm', 's', '2026-03-08 11:00:00', 70,  '778', '2101', '1', '84959999',"
    "  'y')";

TEST_F(WebTest, CallsCsvIsWhatTheReportProgramWrites) {
    Sql(kTwoOffices);
    AddUser("boss", "head");
    StartServer();
    const std::string boss = Session("boss");
    TTempDir dir;
    const auto report = [&](const std::string& arguments) {
        const std::string out = dir.File("calls.csv");
        std::remove(out.c_str());
        const std::string command = TALLYPHON_REPORT_PROGRAM " --db '" + owner_ + "' " + arguments +
                                    " --csv-calls " + out + " 2>&1";
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
        return ReadFile(out);
    };
    const auto csv = [&](const std::string& query) {
        const TReply reply = Get("/calls.csv?" + query, boss);
        EXPECT_EQ(reply.Status, 200) << query << reply.Body;
        EXPECT_EQ(reply.Header("content-type"), "text/csv; charset=utf-8");
        EXPECT_EQ(reply.Header("content-disposition"), "attachment; filename=\"calls.csv\"");
        return reply.Body;
    };

    const std::string march = "--from 2026-03-01 --to 2026-03-31";
    const std::string plain = csv("site=Kiev-A&from=2026-03-01&to=2026-03-31&line=2101&prefix=8");
    EXPECT_EQ(plain, report("--site Kiev-A " + march + " --number 2101 --prefix 8"));
    EXPECT_EQ(plain,
              "\xEF\xBB\xBF"
              "Дата;Время;Длительность;Апп. АЛ;Прг. АЛ;Номер СЛ;Внешний номер\r\n"
              "05.03.2026;10:00:00;00:02:05;101;2101;3;84951234567\r\n"
              "31.03.2026;23:59:59;01:00:00;101;2101;3;89990001122\r\n");
    // Every office the user sees, each with its name.
    const std::string both = csv("from=2026-03-01&to=2026-03-31");
    EXPECT_EQ(both, report("--site Kiev-A --site Lviv-B " + march));
    EXPECT_NE(both.find("\r\nLviv-B;08.03.2026;11:00:00;00:01:10;778;2101;1;84959999\r\n"),
              std::string::npos)
        << both;
    // The subscriber's own number finds its hardware line too, here of
    // another line with that programmed number.
    EXPECT_EQ(csv("line=2101&prefix=8&from=2026-03-01&to=2026-03-31"),
              report("--site Kiev-A --site Lviv-B " + march + " --number 2101 --prefix 8"));

    WriteFile(dir.File("tariffs.csv"), kCallTariffs);
    Sql("INSERT INTO tallyphon.office_files (site, kind, file_name, content, uploaded_by) "
        "VALUES"
        " ('Kiev-A', 'tariffs', 'tariffs.csv', convert_to('" +
        std::string(kCallTariffs) + "', 'UTF8'), 'boss')");
    const std::string priced = csv("site=Kiev-A&from=2026-03-01&to=2026-03-31");
    EXPECT_EQ(priced, report("--site Kiev-A " + march + " --tariffs " + dir.File("tariffs.csv")));
    EXPECT_EQ(priced,
              "\xEF\xBB\xBF"
              "Дата;Время;Длительность;Апп. АЛ;Прг. АЛ;Номер СЛ;Внешний номер;Зона;Стоимость\r\n"
              "05.03.2026;10:00:00;00:02:05;101;2101;3;84951234567;Межгород;16,50\r\n"
              "05.03.2026;09:00:00;00:00:04;101;2101;3;2345678;<b>Город</b>;0,00\r\n"
              "06.03.2026;12:30:00;00:01:01;102;2102;4;81234;Межгород;11,00\r\n"
              "07.03.2026;08:00:00;00:00:30;101;2101;4;;;\r\n"
              "31.03.2026;23:59:59;01:00:00;101;2101;3;89990001122;Межгород;330,00\r\n");
    EXPECT_EQ(csv("site=Kiev-A&from=2026-03-01&to=2026-03-31&line=101&prefix=8"),
              report("--site Kiev-A " + march + " --tariffs " + dir.File("tariffs.csv") +
                     " --number 101 --hardware --prefix 8"));
    // Filters the program has not leave rows out of the same file.
    EXPECT_EQ(csv("site=Kiev-A&from=2026-03-01&to=2026-03-31&zone=Межгород&cost=12,00&dur=100"),
              "\xEF\xBB\xBF"
              "Дата;Время;Длительность;Апп. АЛ;Прг. АЛ;Номер СЛ;Внешний номер;Зона;Стоимость\r\n"
              "05.03.2026;10:00:00;00:02:05;101;2101;3;84951234567;Межгород;16,50\r\n"
              "31.03.2026;23:59:59;01:00:00;101;2101;3;89990001122;Межгород;330,00\r\n");

    // The page shows the same calls, the zone as text, and sorts.
    const std::string page =
        Get("/calls?site=Kiev-A&from=2026-03-01&to=2026-03-31&sort=duration&desc=1", boss).Body;
    EXPECT_EQ(page.find("<b>"), std::string::npos) << page;
    const auto rows = Cells(page);
    ASSERT_EQ(rows.size(), 5u) << page;
    EXPECT_EQ(rows[0],
              (std::vector<std::string>{"31.03.2026", "23:59:59", "01:00:00", "101", "2101", "3",
                                        "89990001122", "Межгород", "330,00"}));
    EXPECT_EQ(rows[4][6], "2345678");
    EXPECT_EQ(rows[4][7], "&lt;b&gt;Город&lt;/b&gt;");
    EXPECT_EQ(LinkTo(page, "CSV"), "/calls.csv?site=Kiev-A&from=2026-03-01&to=2026-03-31");
    const auto zoned = Cells(
        Get("/calls?site=Kiev-A&zone=" + UrlEncode("<b>Город</b>") + "&cost=0,00", boss).Body);
    ASSERT_EQ(zoned.size(), 1u);
    EXPECT_EQ(zoned[0][8], "0,00");
}

TEST_F(WebTest, CallPagesGiveEveryCallOnceInOrder) {
    // Three calls a minute, so that a page often ends inside a tie.
    Sql("INSERT INTO tallyphon.sites (site) VALUES ('Kiev-A'), ('Lviv-B');"
        "INSERT INTO tallyphon.calls SELECT 'Kiev-A', i / 100, i % 100, 'm', 's',"
        " TIMESTAMP '2026-03-01 00:00:00' + (i / 3) * INTERVAL '1 minute', i % 7, '101', "
        "'2101',"
        " '3', (10000 + i)::text, 'x' FROM generate_series(0, 249) AS i;"
        "INSERT INTO tallyphon.calls SELECT 'Lviv-B', 1, i, 'm', 's',"
        " TIMESTAMP '2026-03-01 00:00:00' + (i / 3) * INTERVAL '1 minute', 3, '5', '5', '1',"
        " (20000 + i)::text, 'y' FROM generate_series(0, 29) AS i");
    AddUser("boss", "head");
    StartServer();
    const std::string boss = Session("boss");
    // The dialled numbers of every page from path on, and the pages.
    const auto walk = [&](std::string path, size_t dialledAt, int& pages) {
        std::vector<int> seen;
        pages = 0;
        while (!path.empty() && pages < 10) {
            const TReply reply = Get(path, boss);
            EXPECT_EQ(reply.Status, 200);
            const auto rows = Cells(reply.Body);
            EXPECT_LE(rows.size(), 100u);
            for (const auto& row : rows)
                seen.push_back(std::stoi(row.at(dialledAt)));
            path = LinkTo(reply.Body, "Дальше");
            ++pages;
        }
        return seen;
    };
    int pages = 0;
    std::vector<int> ascending(250), descending(250);
    for (int i = 0; i < 250; ++i) {
        ascending[i] = 10000 + i;
        descending[i] = 10249 - i;
    }
    EXPECT_EQ(walk("/calls?site=Kiev-A", 6, pages), ascending);
    EXPECT_EQ(pages, 3);
    EXPECT_EQ(walk("/calls?site=Kiev-A&sort=start&desc=1", 6, pages), descending);
    // By duration, over both offices: ties everywhere, each call once.
    std::vector<int> all = walk("/calls?sort=duration", 7, pages);
    EXPECT_EQ(all.size(), 280u);
    EXPECT_EQ(std::set<int>(all.begin(), all.end()).size(), 280u);
    // The last page links back to the first.
    const std::string last = Get("/calls?site=Kiev-A&sort=line&after=101&asite=Kiev-A"
                                 "&afile=2&aoff=40",
                                 boss)
                                 .Body;
    EXPECT_EQ(Cells(last).size(), 9u);
    EXPECT_EQ(LinkTo(last, "Дальше"), "");
    EXPECT_EQ(LinkTo(last, "В начало"), "/calls?site=Kiev-A&from=&to=&sort=line");
}

TEST_F(WebTest, CallPagesKeepOfficesApartAndRefuseBadFilters) {
    Sql(kTwoOffices);
    AddUser("kiev", "office:Kiev-A");
    StartServer();
    const std::string kiev = Session("kiev");
    for (const std::string query :
         {"site=Lviv-B", "line=777", "prefix=9555", "line=7777", "site=Lviv-B&line=778",
          "after=2026-03-01+00:00:00&asite=Lviv-B&afile=0&aoff=0"}) {
        const TReply page = Get("/calls?" + query, kiev);
        EXPECT_EQ(page.Status, 200) << query;
        EXPECT_EQ(page.Body.find("Lviv-B</option>"), std::string::npos) << query;
        for (const std::string other : {"955500", "84959999", ">777<", ">778<"})
            EXPECT_EQ(page.Body.find(other), std::string::npos) << query << other;
        const TReply csv = Get("/calls.csv?" + query, kiev);
        for (const std::string other : {"955500", "84959999", ">777<", ">778<"})
            EXPECT_EQ(csv.Body.find(other), std::string::npos) << query << other;
    }
    EXPECT_NE(Get("/calls?site=Lviv-B", kiev).Body.find("Нет такого офиса: Lviv-B"),
              std::string::npos);
    EXPECT_EQ(Get("/calls.csv?site=Lviv-B", kiev).Status, 400);
    // The same subscriber of its own office is found.
    EXPECT_EQ(Cells(Get("/calls?line=2101&prefix=8", kiev).Body).size(), 4u);

    const std::pair<std::string, std::string> bad[] = {
        {"cost=100", "Зона и стоимость есть только у офиса с тарифами"},
        {"dur=-5", "Длительность от — целое число секунд: -5"},
        {"from=2026-02-30", "Дата «с» не ГГГГ-ММ-ДД: 2026-02-30"},
        {"prefix=8a", "Начало набранного номера — только цифры"},
        {"sort=price", "Неизвестный порядок: price"},
        {"zone=Межгород", "Зона и стоимость есть только у офиса с тарифами"},
        {"after=yesterday&asite=Kiev-A&afile=1&aoff=0", "Ссылка «Дальше» испорчена"},
        {"after=2026-13-45+00:00:00&asite=Kiev-A&afile=1&aoff=0", "Ссылка «Дальше» испорчена"},
    };
    for (const auto& [query, message] : bad) {
        const TReply page = Get("/calls?" + query, kiev);
        EXPECT_EQ(page.Status, 200) << query;
        EXPECT_NE(page.Body.find(message), std::string::npos) << query << page.Body;
        EXPECT_TRUE(Cells(page.Body).empty()) << query;
    }
    Sql("INSERT INTO tallyphon.office_files (site, kind, file_name, content, uploaded_by) "
        "VALUES"
        " ('Kiev-A', 'tariffs', 'tariffs.csv', convert_to('" +
        std::string(kCallTariffs) + "', 'UTF8'), 'boss')");
    for (const auto& [query, message] :
         {std::pair<std::string, std::string>{"cost=5,555", "Стоимость от — рубли"},
          {"cost=abc", "Стоимость от — рубли, как 500 или 500,00: abc"},
          {"zone=Межгород+ночью", "В тарифах нет зоны «Межгород ночью»"}}) {
        const TReply page = Get("/calls?" + query, kiev);
        EXPECT_NE(page.Body.find(message), std::string::npos) << query << page.Body;
        EXPECT_TRUE(Cells(page.Body).empty()) << query;
        const TReply csv = Get("/calls.csv?" + query, kiev);
        EXPECT_EQ(csv.Status, 400) << query;
        EXPECT_NE(csv.Body.find(message), std::string::npos) << query << csv.Body;
    }
    EXPECT_EQ(Cells(Get("/calls?cost=500.00", kiev).Body).size(), 0u);
    EXPECT_EQ(Cells(Get("/calls?cost=330.00", kiev).Body).size(), 1u);
}

TEST_F(WebTest, AlertsPageShowsTheOfficesOwnNewestFirst) {
    Sql("INSERT INTO tallyphon.sites (site) VALUES ('Kiev-A'), ('Lviv-B');"
        "INSERT INTO tallyphon.alerts VALUES"
        " ('Kiev-A', '1:40', 'cost', false, '2026-03-05 10:02:00', 'Звонок стоил 512,00',"
        "  '05-03-2026 10:00:00   00:02:05   101(2101)   3   84951234567'),"
        " ('Kiev-A', 'buffer:1', 'buffer', false, '2026-03-06 09:00:00',"
        "  'Буфер <script>alert(1)</script>', ''),"
        " ('Kiev-A', 'buffer:1:end', 'buffer', true, '2026-03-06 09:30:00', 'Буфер 20%', ''),"
        " ('Kiev-A', 'x:1', 'newer-kind', false, '2026-04-01 00:00:00', 'позже', ''),"
        " ('Lviv-B', 'silent:1', 'silent', false, '2026-03-05 11:00:00', 'АТС молчит', '')");
    AddUser("kiev", "office:Kiev-A");
    AddUser("boss", "head");
    StartServer();
    const std::string kiev = Session("kiev");
    const TReply page = Get("/alerts?from=2026-03-01&to=2026-03-31", kiev);
    ASSERT_EQ(page.Status, 200);
    EXPECT_NE(page.Body.find("href=\"/alerts\" aria-current=\"page\">Тревоги</a>"),
              std::string::npos);
    EXPECT_EQ(page.Body.find("<script>"), std::string::npos) << page.Body;
    const auto rows = Cells(page.Body);
    ASSERT_EQ(rows.size(), 3u) << page.Body;
    EXPECT_EQ(rows[0],
              (std::vector<std::string>{"06.03.2026 09:30:00", "Kiev-A", "Буфер АТС заполняется",
                                        "снята", "Буфер 20%", ""}));
    EXPECT_EQ(rows[1][4], "Буфер &lt;script&gt;alert(1)&lt;/script&gt;");
    EXPECT_EQ(rows[1][3], "поднята");
    EXPECT_EQ(rows[2], (std::vector<std::string>{
                           "05.03.2026 10:02:00", "Kiev-A", "Дорогой звонок", "поднята",
                           "Звонок стоил 512,00",
                           "05-03-2026 10:00:00   00:02:05   101(2101)   3   84951234567"}));
    // Another office's alerts are not there for him, asked for or not.
    EXPECT_EQ(page.Body.find("АТС молчит"), std::string::npos);
    EXPECT_NE(Get("/alerts?site=Lviv-B", kiev).Body.find("Нет такого офиса: Lviv-B"),
              std::string::npos);
    EXPECT_EQ(
        Get("/alerts?after=1772704800000000&asite=Lviv-B&akey=z", kiev).Body.find("АТС молчит"),
        std::string::npos);
    EXPECT_EQ(Cells(Get("/alerts", kiev).Body)[0][2], "newer-kind");

    // Every office for the head, in pages of 100 that give each alert once.
    Sql("INSERT INTO tallyphon.alerts SELECT 'Lviv-B', 'c:' || i, 'cost', false,"
        " TIMESTAMPTZ '2026-02-01 00:00:00' + (i / 2) * INTERVAL '1 minute', 'n' || i, ''"
        " FROM generate_series(0, 149) AS i");
    const std::string boss = Session("boss");
    std::string path = "/alerts?from=2026-02-01&to=2026-02-28";
    std::set<std::string> seen;
    size_t shown = 0;
    int pages = 0;
    for (; !path.empty() && pages < 5; ++pages) {
        const std::string body = Get(path, boss).Body;
        for (const auto& row : Cells(body))
            seen.insert(row.at(4));
        shown += Cells(body).size();
        path = LinkTo(body, "Дальше");
    }
    EXPECT_EQ(pages, 2);
    EXPECT_EQ(shown, 150u);
    EXPECT_EQ(seen.size(), 150u);
    EXPECT_EQ(Cells(Get("/alerts?site=Lviv-B&from=2026-02-01", boss).Body)[0][4], "АТС молчит");
    EXPECT_NE(
        Get("/alerts?after=abc&asite=Kiev-A&akey=1", boss).Body.find("Ссылка «Дальше» испорчена"),
        std::string::npos);
}

}  // namespace
