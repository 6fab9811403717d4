// tallyphon-web against a real PostgreSQL server and a real HTTP client
// (libcurl): logins, sessions, the attacks a page must withstand, and the
// program's commands.
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <curl/curl.h>
#include <gtest/gtest.h>
#include <pqxx/pqxx>

#include "db/db_config.h"
#include "db/schema.h"
#include "tests/common/test_support.h"
#include "tests/db/db_test_support.h"
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
    EXPECT_NE(all.find("<dt>Передан в базу</dt><dd>05.03.2026 14:10:00</dd>"), std::string::npos);
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

}  // namespace
