// tallyphon-web: the calls in the database shown to those who pay for them,
// in a browser; and the commands that manage the server's users.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <clocale>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include <QGuiApplication>

#include "base/fd.h"
#include "base/message_seam.h"
#include "base/sd_notify.h"
#include "db/db_config.h"
#include "db/schema.h"
#include "web/page.h"
#include "web/server.h"
#include "web/users.h"

namespace {

constexpr int kUsageError = 2;
constexpr int kFailed = 1;
const char* const kDefaultConfig = "/etc/tallyphon/web.cfg";

const char* const kUsage =
    "Использование: tallyphon-web [--db СТРОКА] [--config ФАЙЛ] [--listen АДРЕС:ПОРТ]\n"
    "                             [--cert ФАЙЛ --key ФАЙЛ] [--idle-timeout СЕКУНДЫ]\n"
    "                             [--silent-after МИНУТ]\n"
    "                             [--work-hours \"пн-пт 08:00-19:00\"]\n"
    "       tallyphon-web --db СТРОКА --add-user ИМЯ --role РОЛЬ\n"
    "       tallyphon-web --db СТРОКА --del-user ИМЯ\n"
    "       tallyphon-web --db СТРОКА --list-users\n"
    "\n"
    "Показывает звонки из базы данных PostgreSQL в браузере.\n"
    "\n"
    "  --db СТРОКА        строка подключения libpq роли веб-сервера (член\n"
    "                     tallyphon_web); без неё - CONNINFO= из файла\n"
    "                     настроек. Пароль держите в файле настроек или в\n"
    "                     ~/.pgpass: командную строку видит каждый (ps)\n"
    "  --config ФАЙЛ      файл настроек вместо /etc/tallyphon/web.cfg\n"
    "  --listen АДРЕС:ПОРТ  где слушать (127.0.0.1:8450; IPv6 как [::1]:8450);\n"
    "                     без сертификата - только адрес этой машины\n"
    "  --cert ФАЙЛ        сертификат сервера (PEM), тогда HTTPS\n"
    "  --key ФАЙЛ         закрытый ключ сертификата (PEM)\n"
    "  --idle-timeout СЕКУНДЫ  через сколько секунд простоя вход кончается\n"
    "                     (28800, 8 часов; меньше - для проверок)\n"
    "  --silent-after МИНУТ  отмечать красным офис, который ничего не передал\n"
    "                     дольше МИНУТ рабочего времени (по умолчанию 60; без\n"
    "                     него - SILENT_AFTER= из файла настроек)\n"
    "  --work-hours ДНИ ЧАСЫ  рабочее время офисов, по умолчанию\n"
    "                     \"пн-пт 08:00-19:00\" (без него - WORK_HOURS=)\n"
    "\n"
    "Пользователи (строка подключения владельца базы данных):\n"
    "  --add-user ИМЯ     добавить пользователя или сменить его роль и пароль;\n"
    "                     пароль читается с терминала без эха или, если ввод\n"
    "                     не терминал, первой строкой стандартного ввода\n"
    "  --role РОЛЬ        admin (все офисы, пользователи, тарифы), head (все\n"
    "                     офисы, только чтение) или office:ИМЯ (один офис)\n"
    "  --del-user ИМЯ     удалить пользователя\n"
    "  --list-users       перечислить пользователей и их роли\n"
    "  -h, --help         показать эту справку\n"
    "\n"
    "Код возврата: 0 готово, 1 база данных недоступна или сервер не запустился,\n"
    "2 неверные параметры или файл настроек.\n";

struct TArguments {
    std::optional<std::string> Db, Config, Listen, Cert, Key, IdleTimeout, SilentAfter, WorkHours;
    std::optional<std::string> AddUser, Role, DelUser;
    bool ListUsers = false;
    bool Help = false;
};

constexpr long kMaxIdleSeconds = 7 * 24 * 3600;

// The seconds of text, a whole number from 1 to a week; none when it is not.
std::optional<long> IdleSeconds(const std::string& text) {
    if (text.empty() || text.size() > 6 || text.find_first_not_of("0123456789") != text.npos)
        return std::nullopt;
    const long seconds = std::stol(text);
    if (seconds < 1 || seconds > kMaxIdleSeconds) return std::nullopt;
    return seconds;
}

std::optional<std::string> Parse(int argc, char** argv, TArguments& args) {
    const std::vector<std::string_view> rest(argv + 1, argv + argc);
    for (size_t i = 0; i < rest.size(); ++i) {
        std::string_view name = rest[i];
        std::optional<std::string> inlineValue;
        if (const size_t eq = name.find('='); name.substr(0, 2) == "--" && eq != name.npos) {
            inlineValue = std::string(name.substr(eq + 1));
            name = name.substr(0, eq);
        }
        if (name == "-h" || name == "--help" || name == "--list-users") {
            if (inlineValue) return std::string(name) + " не принимает значения";
            (name == "--list-users" ? args.ListUsers : args.Help) = true;
            continue;
        }
        std::optional<std::string>* slot = name == "--db"             ? &args.Db
                                           : name == "--config"       ? &args.Config
                                           : name == "--listen"       ? &args.Listen
                                           : name == "--cert"         ? &args.Cert
                                           : name == "--key"          ? &args.Key
                                           : name == "--idle-timeout" ? &args.IdleTimeout
                                           : name == "--silent-after" ? &args.SilentAfter
                                           : name == "--work-hours"   ? &args.WorkHours
                                           : name == "--add-user"     ? &args.AddUser
                                           : name == "--role"         ? &args.Role
                                           : name == "--del-user"     ? &args.DelUser
                                                                      : nullptr;
        if (!slot) return "неизвестный параметр " + std::string(name);
        if (*slot) return std::string(name) + " указан дважды";
        if (inlineValue)
            *slot = *inlineValue;
        else if (i + 1 < rest.size())
            *slot = std::string(rest[++i]);
        if (!*slot || (*slot)->empty()) return std::string(name) + " требует значения";
    }
    if (args.Help) return std::nullopt;
    const int commands = !!args.AddUser + !!args.DelUser + args.ListUsers;
    if (commands > 1) return "--add-user, --del-user и --list-users не указываются вместе";
    if (!!args.AddUser != !!args.Role) return "--add-user и --role указываются вместе";
    if (args.Role && !ParseRole(*args.Role))
        return "--role принимает admin, head или office:ИМЯ, а не \"" + *args.Role + "\"";
    if (args.AddUser)
        if (const std::string why = CheckUserName(*args.AddUser); !why.empty()) return why;
    if (!!args.Cert != !!args.Key) return "--cert и --key указываются вместе";
    if (commands &&
        (args.Listen || args.Cert || args.IdleTimeout || args.SilentAfter || args.WorkHours))
        return "--listen, --cert, --key, --idle-timeout, --silent-after и --work-hours не для "
               "команд пользователей";
    if (args.IdleTimeout && !IdleSeconds(*args.IdleTimeout))
        return "--idle-timeout принимает целое число секунд от 1 до 604800, а не \"" +
               *args.IdleTimeout + "\"";
    return std::nullopt;
}

constexpr size_t kMaxSmallFile = 64 * 1024;

// Reads the regular file at path (settings, a certificate) whole into text,
// with its status in st. Opened first and judged by what was opened, so
// that a FIFO put under the name can neither hold the start nor pass for
// the file; errno tells why on a false return (0: no regular file, or more
// than kMaxSmallFile bytes).
bool ReadSmallFile(const std::string& path, std::string& text, struct stat& st) {
    const TFd file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!file.IsOpen()) return false;
    if (::fstat(file.Get(), &st) != 0) return false;
    if (!S_ISREG(st.st_mode)) {
        errno = 0;
        return false;
    }
    if (!ReadAtMost(file.Get(), kMaxSmallFile, text)) return false;
    if (text.size() > kMaxSmallFile) {
        errno = 0;
        return false;
    }
    return true;
}

// What the settings file holds; a key not in it stays empty.
struct TConfig {
    std::optional<std::string> ConnInfo, SilentAfter, WorkHours;
};

// Reads the settings file at path into config; why it is refused in
// error. A missing file gives nothing and no error unless it was named.
void ReadConfig(const std::string& path, bool named, TConfig& config, std::string& error) {
    struct stat st {};
    std::string text;
    if (!ReadSmallFile(path, text, st)) {
        if (errno == 0)
            error = path + ": не обычный файл или больше 64 КиБ";
        else if (named || errno != ENOENT)
            error = path + ": не читается";
        return;
    }
    if (st.st_mode & S_IROTH)
        seam::Journal(seam::TPriority::Warning,
                      "tallyphon-web: " + path +
                          " читают все пользователи машины, а в нём строка подключения; "
                          "chmod 640 " +
                          path);
    std::istringstream in(text);
    std::string line;
    for (int lineNo = 1; std::getline(in, line); ++lineNo) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        const size_t eq = line.find('=');
        const std::string key = line.substr(0, eq);
        std::optional<std::string>* slot = key == "CONNINFO"       ? &config.ConnInfo
                                           : key == "SILENT_AFTER" ? &config.SilentAfter
                                           : key == "WORK_HOURS"   ? &config.WorkHours
                                                                   : nullptr;
        if (eq == std::string::npos || !slot || *slot) {
            error = path + ", строка " + std::to_string(lineNo) +
                    ": ожидается КЛЮЧ=значение, каждый ключ (CONNINFO, SILENT_AFTER, "
                    "WORK_HOURS) не больше одного раза";
            return;
        }
        *slot = line.substr(eq + 1);
    }
}

// Reads the silence allowed (whole minutes, 1 to a year's) and the working
// hours into watch; the reason when one is wrong, else empty.
std::string ParseWatch(const std::optional<std::string>& silentAfter,
                       const std::optional<std::string>& workHours, TOfficeWatch& watch) {
    if (silentAfter) {
        const std::string& v = *silentAfter;
        if (v.empty() || v.size() > 6 || v.find_first_not_of("0123456789") != std::string::npos ||
            std::stoi(v) < 1 || std::stoi(v) > 525600)
            return "время молчания офиса (--silent-after, SILENT_AFTER=) - целое число минут "
                   "от 1 до 525600, а не \"" +
                   v + "\"";
        watch.SilentAfterMinutes = std::stoi(v);
    }
    if (workHours)
        if (std::string why = ParseWorkHours(*workHours, watch.Hours); !why.empty())
            return "--work-hours, WORK_HOURS=: " + why;
    return {};
}

// Qt's notes about the environment (no XDG_RUNTIME_DIR for a service)
// would fill the journal; only its errors are told.
void QtErrorsOnly(QtMsgType type, const QMessageLogContext&, const QString& text) {
    if (type == QtCriticalMsg || type == QtFatalMsg)
        seam::Journal(seam::TPriority::Error, "tallyphon-web: " + text.toStdString());
}

// The new user's password: from the terminal without echo, else the first
// line of standard input.
std::optional<std::string> ReadPassword() {
    std::string password;
    if (isatty(STDIN_FILENO)) {
        termios saved{};
        tcgetattr(STDIN_FILENO, &saved);
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
        std::cerr << "Пароль: " << std::flush;
        const bool read = static_cast<bool>(std::getline(std::cin, password));
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
        std::cerr << "\n";
        if (!read) return std::nullopt;
    } else if (!std::getline(std::cin, password)) {
        return std::nullopt;
    }
    if (!password.empty() && password.back() == '\r') password.pop_back();
    return password;
}

int ManageUsers(const TArguments& args, const std::string& connInfo) {
    std::string password;
    if (args.AddUser) {
        const std::optional<std::string> read = ReadPassword();
        if (!read) {
            std::cerr << "tallyphon-web: пароль не прочитан\n";
            return kUsageError;
        }
        if (const std::string why = CheckPassword(*read); !why.empty()) {
            std::cerr << "tallyphon-web: " << why << "\n";
            return kUsageError;
        }
        password = *read;
    }
    try {
        const auto db = ConnectDb(connInfo);
        if (args.AddUser) {
            const std::string hash = HashPassword(password);
            if (hash.empty()) {
                std::cerr << "tallyphon-web: не хватило памяти для хеша пароля\n";
                return kFailed;
            }
            const bool added = StoreUser(*db, {*args.AddUser, ParseRole(*args.Role)->Text(), hash});
            std::cout << "Пользователь " << *args.AddUser << (added ? " добавлен" : " изменён")
                      << "\n";
        } else if (args.DelUser) {
            if (!DeleteUser(*db, *args.DelUser)) {
                std::cerr << "tallyphon-web: пользователя " << *args.DelUser << " нет\n";
                return kUsageError;
            }
            std::cout << "Пользователь " << *args.DelUser << " удалён\n";
        } else {
            for (const TWebUser& user : ListUsers(*db))
                std::cout << user.Name << "\t" << user.Role << "\n";
        }
    } catch (const std::exception& e) {
        std::cerr << "tallyphon-web: база данных " << ConnInfoForDisplay(connInfo) << ": "
                  << HidePassword(DbErrorText(e), connInfo) << "\n";
        return kFailed;
    }
    return std::cout.flush() ? 0 : kFailed;
}

std::optional<std::string> ReadPem(const std::string& path) {
    std::string text;
    struct stat st {};
    if (!ReadSmallFile(path, text, st)) return std::nullopt;
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    TArguments args;
    if (const auto error = Parse(argc, argv, args)) {
        std::cerr << "tallyphon-web: " << *error << " (справка: tallyphon-web --help)\n";
        return kUsageError;
    }
    if (args.Help) {
        std::cout << kUsage;
        return 0;
    }
    if (args.Db && ConnInfoHasPassword(*args.Db))
        seam::Journal(seam::TPriority::Warning, std::string("tallyphon-web: ") + kPasswordSeen);
    TWebOptions options;
    if (const std::string why = ParseListen(args.Listen.value_or("127.0.0.1:8450"), options.Listen);
        !why.empty()) {
        seam::Journal(seam::TPriority::Error, "tallyphon-web: " + why);
        return kUsageError;
    }
    if (!args.Cert && !options.Listen.Loopback() && !args.AddUser && !args.DelUser &&
        !args.ListUsers) {
        seam::Journal(seam::TPriority::Error,
                      "tallyphon-web: без --cert и --key сервер слушает только адрес этой "
                      "машины (127.0.0.1 или [::1]): пароли и страницы шли бы по сети "
                      "открытыми");
        return kUsageError;
    }
    std::string error;
    // With --db the settings file is read only when named.
    TConfig config;
    if (!args.Db || args.Config)
        ReadConfig(args.Config.value_or(kDefaultConfig), !!args.Config, config, error);
    options.ConnInfo = args.Db ? *args.Db : config.ConnInfo.value_or("");
    if (!error.empty() || options.ConnInfo.empty()) {
        seam::Journal(
            seam::TPriority::Error,
            "tallyphon-web: " + (error.empty() ? std::string("нет строки подключения: укажите --db "
                                                             "или CONNINFO= в ") +
                                                     args.Config.value_or(kDefaultConfig)
                                               : error));
        return kUsageError;
    }
    if (const std::string why =
            ParseWatch(args.SilentAfter ? args.SilentAfter : config.SilentAfter,
                       args.WorkHours ? args.WorkHours : config.WorkHours, options.Watch);
        !why.empty()) {
        seam::Journal(seam::TPriority::Error, "tallyphon-web: " + why);
        return kUsageError;
    }
    if (const std::string why = CheckConnInfo(options.ConnInfo); !why.empty()) {
        seam::Journal(seam::TPriority::Error, "tallyphon-web: " + why);
        return kUsageError;
    }
    if (!InitCrypto()) {
        seam::Journal(seam::TPriority::Error, "tallyphon-web: libsodium не запускается");
        return kFailed;
    }
    if (args.AddUser || args.DelUser || args.ListUsers) return ManageUsers(args, options.ConnInfo);

    if (args.Cert) {
        const auto cert = ReadPem(*args.Cert), key = ReadPem(*args.Key);
        if (!cert || !key) {
            seam::Journal(seam::TPriority::Error,
                          "tallyphon-web: не читается " + (cert ? *args.Key : *args.Cert));
            return kUsageError;
        }
        options.CertPem = *cert;
        options.KeyPem = *key;
    }
    // The signals are taken by this thread alone: the server's threads,
    // made after, inherit the mask.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTERM);
    sigaddset(&stop, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);
    signal(SIGPIPE, SIG_IGN);
    // The printed bill is painted with fonts, which only an application
    // gives; a server has no screen. Made once, on this thread, after the
    // mask, so that Qt's own threads keep out of the signals too; its
    // locale is taken back, so that nothing the server writes depends on
    // the environment's.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler(QtErrorsOnly);
    static int qtArgc = 1;
    QGuiApplication painting(qtArgc, argv);
    std::setlocale(LC_ALL, "C");

    if (args.IdleTimeout)
        options.IdleTimeout = std::chrono::seconds(*IdleSeconds(*args.IdleTimeout));
    TWebServer server(options);
    if (const std::string why = server.Start(); !why.empty()) {
        seam::Journal(seam::TPriority::Error, "tallyphon-web: " + why);
        return kFailed;
    }
    seam::Journal(seam::TPriority::Info, std::string("tallyphon-web: слушает ") +
                                             (args.Cert ? "https" : "http") + "://" +
                                             args.Listen.value_or("127.0.0.1:8450") + ", порт " +
                                             std::to_string(server.Port()) + "; база данных " +
                                             ConnInfoForDisplay(options.ConnInfo));
    // As a Type=notify service, started only once the port takes requests.
    sd::Notify("READY=1");
    int signal = 0;
    sigwait(&stop, &signal);
    sd::Notify("STOPPING=1");
    seam::Journal(seam::TPriority::Info,
                  "tallyphon-web: остановлен сигналом " + std::to_string(signal));
    return 0;
}
