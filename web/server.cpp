#include "web/server.h"

#include <arpa/inet.h>
#include <microhttpd.h>

#include <algorithm>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <sstream>
#include <thread>
#include <vector>

#include <pqxx/except>
#include <pqxx/nontransaction>
#include <pqxx/result>

#include "base/message_seam.h"
#include "db/connection.h"
#include "db/db_config.h"
#include "db/schema.h"
#include "web/html.h"
#include "web/page.h"
#include "web/page_charts.h"
#include "web/users.h"

namespace {

using TClock = std::chrono::steady_clock;
using seam::TPriority;

const char* const kCookie = "tp_session";
constexpr size_t kMaxBody = 4 * 1024 * 1024;
// Headers, the request line and libmicrohttpd's own buffers share it: a
// request whose headers do not fit is answered 431 by the library.
constexpr size_t kConnectionMemory = 64 * 1024;
// A head office's browsers often reach the server from one address (a
// NAT), each opening several connections.
constexpr unsigned kConnectionsPerAddress = 64;
// The audit is pruned at most this often (web_audit keeps 400 days; see
// tallyphon.prune_web_audit in db/schema.cpp).
constexpr std::chrono::hours kPruneEvery(1);
constexpr size_t kFailuresAllowed = 5;
constexpr std::chrono::seconds kFailureWindow(60);
// Passwords are hashed on these threads: a slow login does not hold the
// pages of others.
constexpr unsigned kThreads = 4;

struct TSession {
    std::string User;
    std::string Csrf;
    TClock::time_point LastSeen;
};

// One request while its body arrives.
struct TRequest {
    MHD_PostProcessor* Form = nullptr;
    std::map<std::string, std::string> Fields;
    size_t BodyBytes = 0;
    bool TooLarge = false;
    ~TRequest() {
        if (Form) MHD_destroy_post_processor(Form);
    }
};

// Keeps a form's fields, and of a file sent in one (multipart/form-data) also
// its name, as the field "<key>.filename": a page tells by it which file
// was chosen and names it in what it says and stores.
MHD_Result FormField(void* cls, MHD_ValueKind, const char* key, const char* filename, const char*,
                     const char*, const char* data, uint64_t, size_t size) {
    auto& fields = static_cast<TRequest*>(cls)->Fields;
    if (!key) return MHD_YES;
    // A field arrives in pieces when it is long; the pieces come in order.
    fields[key].append(data ? data : "", data ? size : 0);
    if (filename) fields[std::string(key) + ".filename"] = filename;
    return MHD_YES;
}

void LibraryLog(void*, const char* format, va_list args) {
    char text[512];
    std::vsnprintf(text, sizeof text, format, args);
    seam::Journal(TPriority::Warning, std::string("tallyphon-web: ") + text);
}

std::string ClientAddress(MHD_Connection* connection) {
    const MHD_ConnectionInfo* info =
        MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    if (!info || !info->client_addr) return "?";
    char text[INET6_ADDRSTRLEN] = "?";
    const sockaddr* a = info->client_addr;
    if (a->sa_family == AF_INET)
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(a)->sin_addr, text, sizeof text);
    else if (a->sa_family == AF_INET6)
        inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(a)->sin6_addr, text,
                  sizeof text);
    return text;
}

std::string Value(MHD_Connection* connection, MHD_ValueKind kind, const char* key) {
    const char* v = MHD_lookup_connection_value(connection, kind, key);
    return v ? v : "";
}

}  // namespace

bool TListenAddress::Loopback() const {
    if (V6) {
        const auto& a = reinterpret_cast<const sockaddr_in6&>(Address).sin6_addr;
        return IN6_IS_ADDR_LOOPBACK(&a);
    }
    const auto& a = reinterpret_cast<const sockaddr_in&>(Address).sin_addr;
    return (ntohl(a.s_addr) >> 24) == 127;
}

std::string ParseListen(const std::string& text, TListenAddress& out) {
    const size_t colon = text.rfind(':');
    if (colon == std::string::npos) return "--listen принимает АДРЕС:ПОРТ";
    std::string host = text.substr(0, colon);
    const std::string port = text.substr(colon + 1);
    if (port.empty() || port.size() > 5 ||
        port.find_first_not_of("0123456789") != std::string::npos || std::stoul(port) > 65535)
        return "порт в --listen не число от 0 до 65535";
    out = TListenAddress{};
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
        auto& a = reinterpret_cast<sockaddr_in6&>(out.Address);
        a.sin6_family = AF_INET6;
        a.sin6_port = htons(static_cast<uint16_t>(std::stoul(port)));
        out.V6 = true;
        if (inet_pton(AF_INET6, host.substr(1, host.size() - 2).c_str(), &a.sin6_addr) == 1)
            return {};
    } else {
        auto& a = reinterpret_cast<sockaddr_in&>(out.Address);
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(std::stoul(port)));
        if (inet_pton(AF_INET, host.c_str(), &a.sin_addr) == 1) return {};
    }
    return "адрес в --listen не IPv4 (127.0.0.1) и не IPv6 в скобках ([::1])";
}

struct TWebServer::TImpl {
    TWebOptions Options;
    MHD_Daemon* Daemon = nullptr;
    std::optional<std::string> ChartJs;  // the file of Options.ChartJsPath

    // Connections with their socket and, while a request is arriving, when
    // it began: libmicrohttpd's time-out counts from the last byte only, so
    // a client sending one byte a second would hold a connection for ever.
    struct TArrival {
        MHD_socket Socket = MHD_INVALID_SOCKET;
        TClock::time_point Since;
        bool Receiving = true;
    };
    std::mutex ArrivalMutex;  // of what follows
    std::condition_variable ArrivalWake;
    std::map<MHD_Connection*, TArrival> Arrivals;
    bool Stopping = false;
    std::thread Watchdog;

    // Connections to the database, one per request being served at most;
    // made when first needed.
    std::mutex DbMutex;
    std::condition_variable DbFreed;
    std::vector<std::unique_ptr<TDbConnection>> IdleDb;
    unsigned DbInUse = 0;

    std::mutex Mutex;  // of what follows
    std::map<std::string, TSession> Sessions;
    std::map<std::string, std::deque<TClock::time_point>> FailuresByName, FailuresByAddress;
    std::optional<TClock::time_point> LastPrune;

    TClock::time_point Now() const { return Options.Clock ? Options.Clock() : TClock::now(); }
    bool Tls() const { return !Options.CertPem.empty(); }

    // Runs f with a connection of its own, connecting first when none is
    // idle; a connection that broke is made anew once.
    template <class F>
    auto WithDb(F f) {
        std::unique_ptr<TDbConnection> db;
        {
            std::unique_lock<std::mutex> lock(DbMutex);
            DbFreed.wait(lock, [this] { return DbInUse < kThreads; });
            ++DbInUse;
            if (!IdleDb.empty()) {
                db = std::move(IdleDb.back());
                IdleDb.pop_back();
            }
        }
        struct TGiveBack {
            TImpl& Self;
            std::unique_ptr<TDbConnection>& Db;
            ~TGiveBack() {
                std::lock_guard<std::mutex> lock(Self.DbMutex);
                --Self.DbInUse;
                if (Db) Self.IdleDb.push_back(std::move(Db));
                Self.DbFreed.notify_one();
            }
        } giveBack{*this, db};
        for (int attempt = 0;; ++attempt) {
            try {
                if (!db) db = ConnectDb(Options.ConnInfo);
                return f(*db);
            } catch (const pqxx::broken_connection&) {
                db.reset();
                if (attempt > 0) throw;
            }
        }
    }

    // Every answer goes out through here, with the headers that keep a
    // browser from running, framing or leaking what the page holds.
    MHD_Result Send(MHD_Connection* connection, unsigned status, const std::string& body,
                    const std::vector<std::pair<std::string, std::string>>& headers = {},
                    const std::string& contentType = "text/html; charset=utf-8",
                    bool scripts = false) {
        MHD_Response* response = MHD_create_response_from_buffer(
            body.size(), const_cast<char*>(body.data()), MHD_RESPMEM_MUST_COPY);
        if (!response) return MHD_NO;
        MHD_add_response_header(response, "Content-Type", contentType.c_str());
        // Only the server's own style sheet, and its own scripts on the
        // pages that draw charts; nothing inline anywhere.
        MHD_add_response_header(
            response, "Content-Security-Policy",
            scripts ? "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; "
                      "form-action 'self'; frame-ancestors 'none'; base-uri 'none'"
                    : "default-src 'none'; style-src 'self'; img-src 'self'; form-action 'self'; "
                      "frame-ancestors 'none'; base-uri 'none'");
        MHD_add_response_header(response, "X-Content-Type-Options", "nosniff");
        MHD_add_response_header(response, "Referrer-Policy", "no-referrer");
        MHD_add_response_header(response, "X-Frame-Options", "DENY");
        MHD_add_response_header(response, "Cache-Control", "no-store");
        if (Tls())
            MHD_add_response_header(response, "Strict-Transport-Security", "max-age=31536000");
        for (const auto& [name, value] : headers)
            MHD_add_response_header(response, name.c_str(), value.c_str());
        const MHD_Result queued = MHD_queue_response(connection, status, response);
        MHD_destroy_response(response);
        return queued;
    }

    MHD_Result Redirect(MHD_Connection* connection, const std::string& to,
                        std::vector<std::pair<std::string, std::string>> headers = {}) {
        headers.emplace_back("Location", to);
        return Send(connection, MHD_HTTP_SEE_OTHER, ErrorPage("Переход", to), headers);
    }

    std::string Cookie(const std::string& value, bool clear) const {
        return std::string(kCookie) + "=" + value + "; Path=/; HttpOnly; SameSite=Strict" +
               (clear ? "; Max-Age=0" : "") + (Tls() ? "; Secure" : "");
    }

    // The request's session, when its cookie names one still in use;
    // using it keeps it alive.
    std::optional<TSession> Session(MHD_Connection* connection) {
        const std::string token = Value(connection, MHD_COOKIE_KIND, kCookie);
        std::lock_guard<std::mutex> lock(Mutex);
        const auto found = Sessions.find(token);
        if (found == Sessions.end()) return std::nullopt;
        const TClock::time_point now = Now();
        if (now - found->second.LastSeen > Options.IdleTimeout) {
            seam::Journal(TPriority::Info, "tallyphon-web: сеанс " + found->second.User +
                                               " закрыт: простой дольше срока");
            Sessions.erase(found);
            return std::nullopt;
        }
        found->second.LastSeen = now;
        return found->second;
    }

    // Whether name or address has failed to log in too often of late; then
    // no password is tried at all.
    bool Throttled(const std::string& name, const std::string& address) {
        std::lock_guard<std::mutex> lock(Mutex);
        const TClock::time_point since = Now() - kFailureWindow;
        for (auto* failures : {&FailuresByName, &FailuresByAddress}) {
            const auto found = failures->find(failures == &FailuresByName ? name : address);
            if (found == failures->end()) continue;
            auto& times = found->second;
            while (!times.empty() && times.front() <= since)
                times.pop_front();
            if (times.size() >= kFailuresAllowed) return true;
        }
        return false;
    }

    void Failed(const std::string& name, const std::string& address) {
        std::lock_guard<std::mutex> lock(Mutex);
        const TClock::time_point now = Now();
        // Names that others make up must not grow the tables for ever.
        for (auto* failures : {&FailuresByName, &FailuresByAddress}) {
            if (failures->size() > 4096)
                for (auto i = failures->begin(); i != failures->end();)
                    i = i->second.back() <= now - kFailureWindow ? failures->erase(i)
                                                                 : std::next(i);
        }
        FailuresByName[name].push_back(now);
        FailuresByAddress[address].push_back(now);
    }

    void Record(const std::string& name, const std::string& address, const std::string& event,
                TPriority priority, const std::string& words) {
        seam::Journal(priority, "tallyphon-web: " + words + ": " + name + " с адреса " + address);
        try {
            WithDb([&](pqxx::connection_base& db) { Audit(db, name, address, event); });
        } catch (const std::exception& e) {
            seam::Journal(TPriority::Error, "tallyphon-web: запись в web_audit не сделана: " +
                                                HidePassword(DbErrorText(e), Options.ConnInfo));
        }
        // The audit grows only here, so it is pruned only here.
        {
            std::lock_guard<std::mutex> lock(Mutex);
            if (LastPrune && Now() - *LastPrune < kPruneEvery) return;
            LastPrune = Now();
        }
        try {
            WithDb([](pqxx::connection_base& db) { PruneAudit(db); });
        } catch (const std::exception& e) {
            seam::Journal(TPriority::Error,
                          "tallyphon-web: старые записи web_audit не удалены: " +
                              HidePassword(DbErrorText(e), Options.ConnInfo) +
                              " (функцию tallyphon.prune_web_audit делает tallyphon-report "
                              "--create-schema)");
        }
    }

    MHD_Result Login(MHD_Connection* connection, const TRequest& request) {
        const auto field = [&](const char* key) {
            const auto found = request.Fields.find(key);
            return found == request.Fields.end() ? std::string() : found->second;
        };
        const std::string name = field("name"), password = field("password");
        const std::string address = ClientAddress(connection);
        if (Throttled(name, address)) {
            Record(name, address, "login-throttled", TPriority::Warning,
                   "вход отклонён: слишком много неудачных попыток");
            return Send(connection, MHD_HTTP_TOO_MANY_REQUESTS,
                        LoginPage("Слишком много неудачных попыток. Подождите минуту."),
                        {{"Retry-After", "60"}});
        }
        const std::optional<TWebUser> user =
            WithDb([&](pqxx::connection_base& db) { return FindUser(db, name); });
        // A name that does not exist costs a hash as well: the time of the
        // answer must not tell which names do.
        static const std::string unknown = HashPassword(RandomToken(16));
        if (!user) VerifyPassword(unknown, password);
        if (!user || !ParseRole(user->Role) || !VerifyPassword(user->Hash, password)) {
            Failed(name, address);
            Record(name, address, "login-failed", TPriority::Warning, "неудачный вход");
            return Send(connection, MHD_HTTP_UNAUTHORIZED, LoginPage("Неверное имя или пароль."));
        }
        const std::string token = RandomToken();
        {
            std::lock_guard<std::mutex> lock(Mutex);
            const TClock::time_point now = Now();
            for (auto i = Sessions.begin(); i != Sessions.end();)
                i = now - i->second.LastSeen > Options.IdleTimeout ? Sessions.erase(i)
                                                                   : std::next(i);
            Sessions[token] = TSession{user->Name, RandomToken(), now};
        }
        Record(user->Name, address, "login", TPriority::Info, "вход");
        return Redirect(connection, "/", {{"Set-Cookie", Cookie(token, false)}});
    }

    MHD_Result Logout(MHD_Connection* connection, const TSession& session) {
        {
            std::lock_guard<std::mutex> lock(Mutex);
            Sessions.erase(Value(connection, MHD_COOKIE_KIND, kCookie));
        }
        Record(session.User, ClientAddress(connection), "logout", TPriority::Info, "выход");
        return Redirect(connection, "/login", {{"Set-Cookie", Cookie("", true)}});
    }

    // Serves route for session: the user's role is read anew on every
    // request, so that a user deleted or given another office loses what
    // was allowed at once.
    MHD_Result Page(MHD_Connection* connection, const TSession& session, const TRoute& route,
                    const std::string& url, const TRequest& request) {
        TPageRequest page;
        page.User = session.User;
        page.Csrf = session.Csrf;
        page.Path = url;
        page.Watch = Options.Watch;
        page.Now = Options.WallClock ? Options.WallClock() : std::time(nullptr);
        if (route.Post) {
            page.Args = request.Fields;
        } else {
            MHD_get_connection_values(
                connection, MHD_GET_ARGUMENT_KIND,
                [](void* cls, MHD_ValueKind, const char* key, const char* value) {
                    (*static_cast<std::map<std::string, std::string>*>(cls))[key] =
                        value ? value : "";
                    return MHD_YES;
                },
                &page.Args);
            for (const auto& [key, value] : page.Args)
                page.Query +=
                    (page.Query.empty() ? "" : "&") + UrlEncode(key) + "=" + UrlEncode(value);
        }
        std::optional<TWebRole> role;
        TPageAnswer answer;
        WithDb([&](pqxx::connection_base& db) {
            const std::optional<TWebUser> user = FindUser(db, session.User);
            if (user) role = ParseRole(user->Role);
            if (!role) return;
            page.Role = *role;
            if (route.AdminOnly && role->Kind != TWebRole::TKind::Admin)
                answer = ErrorAnswer(MHD_HTTP_FORBIDDEN, "Запрещено",
                                     "Эта страница только для администратора.");
            else
                answer = route.Handler(db, page);
        });
        if (!role) {
            std::lock_guard<std::mutex> lock(Mutex);
            Sessions.erase(Value(connection, MHD_COOKIE_KIND, kCookie));
            return Redirect(connection, "/login", {{"Set-Cookie", Cookie("", true)}});
        }
        return Send(connection, answer.Status, answer.Body, answer.Headers, answer.ContentType,
                    answer.Scripts);
    }

    MHD_Result Dispatch(MHD_Connection* connection, const std::string& url,
                        const std::string& method, const TRequest& request) {
        Arrived(connection);
        if (request.TooLarge)
            return Send(connection, MHD_HTTP_CONTENT_TOO_LARGE,
                        ErrorPage("Слишком большой запрос", "Тело запроса больше 4 МиБ."));
        if (method == "POST" && url == "/login") return Login(connection, request);
        const std::optional<TSession> session = Session(connection);
        if (method == "POST") {
            // Every form that changes anything carries the session's token:
            // another site can make the browser post, but cannot read it.
            const auto csrf = request.Fields.find("csrf");
            if (!session || csrf == request.Fields.end() || !SameToken(csrf->second, session->Csrf))
                return Send(connection, MHD_HTTP_FORBIDDEN,
                            ErrorPage("Запрещено", "Форма устарела: откройте страницу снова."));
            if (url == "/logout") return Logout(connection, *session);
            for (const TRoute& route : Routes())
                if (route.Post && route.Path == url)
                    return Page(connection, *session, route, url, request);
        } else if (method == "GET" || method == "HEAD") {
            if (url == "/login") return Send(connection, MHD_HTTP_OK, LoginPage(""));
            if (url == "/style.css")
                return Send(connection, MHD_HTTP_OK, StyleSheet(), {}, "text/css; charset=utf-8");
            if (url == "/charts.js")
                return Send(connection, MHD_HTTP_OK, ChartsScript(), {},
                            "text/javascript; charset=utf-8");
            if (url == "/chart.js" && ChartJs)
                return Send(connection, MHD_HTTP_OK, *ChartJs, {},
                            "text/javascript; charset=utf-8");
            for (const TRoute& route : Routes()) {
                if (route.Post || route.Path != url) continue;
                if (!session) return Redirect(connection, "/login");
                return Page(connection, *session, route, url, request);
            }
        } else {
            return Send(connection, MHD_HTTP_METHOD_NOT_ALLOWED,
                        ErrorPage("Метод не поддерживается", method),
                        {{"Allow", "GET, HEAD, POST"}});
        }
        return Send(connection, MHD_HTTP_NOT_FOUND, ErrorPage("Нет такой страницы", url));
    }

    static MHD_Result Access(void* cls, MHD_Connection* connection, const char* url,
                             const char* method, const char*, const char* data, size_t* size,
                             void** state) {
        auto* self = static_cast<TImpl*>(cls);
        if (!*state) {
            auto request = std::make_unique<TRequest>();
            const std::string length =
                Value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH);
            if (!length.empty() && length.find_first_not_of("0123456789") == std::string::npos &&
                (length.size() > 9 || std::stoull(length) > kMaxBody))
                request->TooLarge = true;
            else if (std::strcmp(method, "POST") == 0)
                request->Form =
                    MHD_create_post_processor(connection, 4096, FormField, request.get());
            *state = request.release();
            // Refused before its body is read.
            if (static_cast<TRequest*>(*state)->TooLarge)
                return self->Dispatch(connection, url, method, *static_cast<TRequest*>(*state));
            return MHD_YES;
        }
        auto& request = *static_cast<TRequest*>(*state);
        if (*size != 0) {
            request.BodyBytes += *size;
            if (request.BodyBytes > kMaxBody) request.TooLarge = true;
            if (!request.TooLarge && request.Form &&
                MHD_post_process(request.Form, data, *size) != MHD_YES)
                request.Fields.clear();
            *size = 0;
            return MHD_YES;
        }
        try {
            return self->Dispatch(connection, url, method, request);
        } catch (const std::exception& e) {
            seam::Journal(
                TPriority::Error,
                "tallyphon-web: база данных " + ConnInfoForDisplay(self->Options.ConnInfo) +
                    " недоступна: " + HidePassword(DbErrorText(e), self->Options.ConnInfo));
            return self->Send(connection, MHD_HTTP_SERVICE_UNAVAILABLE,
                              ErrorPage("База данных недоступна", "Попробуйте позже."));
        }
    }

    static void Completed(void* cls, MHD_Connection* connection, void** state,
                          MHD_RequestTerminationCode) {
        delete static_cast<TRequest*>(*state);
        *state = nullptr;
        // The connection's next request, if any, begins now.
        auto* self = static_cast<TImpl*>(cls);
        std::lock_guard<std::mutex> lock(self->ArrivalMutex);
        const auto found = self->Arrivals.find(connection);
        if (found != self->Arrivals.end()) found->second = {found->second.Socket, TClock::now()};
    }

    // The whole request is in: from now on only the library's time-out of
    // silence applies.
    void Arrived(MHD_Connection* connection) {
        std::lock_guard<std::mutex> lock(ArrivalMutex);
        const auto found = Arrivals.find(connection);
        if (found != Arrivals.end()) found->second.Receiving = false;
    }

    // Follows connections from accept to close. The library calls it for
    // a closed connection before it closes the socket, so the watchdog,
    // holding the same lock, never shuts a socket number already reused.
    static void Connection(void* cls, MHD_Connection* connection, void**,
                           MHD_ConnectionNotificationCode code) {
        auto* self = static_cast<TImpl*>(cls);
        std::lock_guard<std::mutex> lock(self->ArrivalMutex);
        if (code != MHD_CONNECTION_NOTIFY_STARTED) {
            self->Arrivals.erase(connection);
            return;
        }
        const MHD_ConnectionInfo* info =
            MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
        if (info) self->Arrivals[connection] = {info->connect_fd, TClock::now()};
    }

    // Until Stopping: shuts the socket of every request still arriving
    // after Options.RequestTimeout, which makes the library close it.
    void Watch() {
        const auto period = std::clamp<std::chrono::milliseconds>(
            Options.RequestTimeout / 10, std::chrono::milliseconds(50), std::chrono::seconds(1));
        std::unique_lock<std::mutex> lock(ArrivalMutex);
        while (!ArrivalWake.wait_for(lock, period, [this] { return Stopping; })) {
            const TClock::time_point late = TClock::now() - Options.RequestTimeout;
            for (auto& [connection, arrival] : Arrivals) {
                if (!arrival.Receiving || arrival.Since > late) continue;
                arrival.Receiving = false;
                shutdown(arrival.Socket, SHUT_RDWR);
                seam::Journal(TPriority::Warning,
                              "tallyphon-web: запрос с адреса " + ClientAddress(connection) +
                                  " не пришёл целиком за " +
                                  std::to_string(Options.RequestTimeout.count()) +
                                  " с: соединение закрыто");
            }
        }
    }
};

TWebServer::TWebServer(TWebOptions options) : impl_(std::make_unique<TImpl>()) {
    impl_->Options = std::move(options);
}

TWebServer::~TWebServer() {
    if (impl_->Watchdog.joinable()) {
        {
            std::lock_guard<std::mutex> lock(impl_->ArrivalMutex);
            impl_->Stopping = true;
        }
        impl_->ArrivalWake.notify_all();
        impl_->Watchdog.join();
    }
    if (impl_->Daemon) MHD_stop_daemon(impl_->Daemon);
}

std::string TWebServer::Start() {
    TImpl& s = *impl_;
    if (!s.Tls() && !s.Options.Listen.Loopback())
        return "без сертификата (--cert, --key) сервер слушает только адрес этой машины "
               "(127.0.0.1 или [::1]): пароли шли бы по сети открытыми";
    if (s.Tls() && MHD_is_feature_supported(MHD_FEATURE_TLS) != MHD_YES)
        return "libmicrohttpd собрана без TLS";
    unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_AUTO | MHD_USE_ERROR_LOG;
    if (s.Options.Listen.V6) flags |= MHD_USE_IPv6;
    if (s.Tls()) flags |= MHD_USE_TLS;
    const sockaddr* address = reinterpret_cast<const sockaddr*>(&s.Options.Listen.Address);
    const MHD_OptionItem tls[] = {
        {MHD_OPTION_HTTPS_MEM_CERT, 0, const_cast<char*>(s.Options.CertPem.c_str())},
        {MHD_OPTION_HTTPS_MEM_KEY, 0, const_cast<char*>(s.Options.KeyPem.c_str())},
        {MHD_OPTION_END, 0, nullptr}};
    const MHD_OptionItem none[] = {{MHD_OPTION_END, 0, nullptr}};
    if (!s.ChartJs) {
        std::ifstream file(s.Options.ChartJsPath, std::ios::binary);
        std::ostringstream text;
        text << file.rdbuf();
        if (file && !text.str().empty())
            s.ChartJs = text.str();
        else
            seam::Journal(TPriority::Warning,
                          "tallyphon-web: не читается " + s.Options.ChartJsPath +
                              " (пакет libjs-chart.js): графики не рисуются, их таблицы видны");
    }
    const unsigned timeout = static_cast<unsigned>(
        std::max<std::chrono::seconds::rep>(1, s.Options.ConnectionTimeout.count()));
    s.Daemon = MHD_start_daemon(
        flags, 0, nullptr, nullptr, &TImpl::Access, &s, MHD_OPTION_EXTERNAL_LOGGER, LibraryLog,
        nullptr, MHD_OPTION_SOCK_ADDR, address, MHD_OPTION_THREAD_POOL_SIZE, kThreads,
        MHD_OPTION_CONNECTION_MEMORY_LIMIT, kConnectionMemory, MHD_OPTION_CONNECTION_TIMEOUT,
        timeout, MHD_OPTION_PER_IP_CONNECTION_LIMIT, kConnectionsPerAddress,
        MHD_OPTION_NOTIFY_COMPLETED, &TImpl::Completed, &s, MHD_OPTION_NOTIFY_CONNECTION,
        &TImpl::Connection, &s, MHD_OPTION_ARRAY, s.Tls() ? tls : none, MHD_OPTION_END);
    if (!s.Daemon)
        return std::string(
                   "не удалось слушать адрес (занят, нет такого адреса или неверный "
                   "сертификат): ") +
               std::strerror(errno);
    s.Watchdog = std::thread([&s] { s.Watch(); });
    return {};
}

uint16_t TWebServer::Port() const {
    const MHD_DaemonInfo* info =
        impl_->Daemon ? MHD_get_daemon_info(impl_->Daemon, MHD_DAEMON_INFO_BIND_PORT) : nullptr;
    return info ? info->port : 0;
}
