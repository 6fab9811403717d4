#include "db/db_config.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <utility>
#include <vector>

#include <libpq-fe.h>

#include "base/fd.h"

const char* const kDbConfigFileName = "TallyphonDb.cfg";
const char* const kPasswordSeen =
    "Пароль базы данных указан в --db: командную строку видит каждый пользователь "
    "машины (ps). Держите пароль в ~/.pgpass (права 0600), в файле из PGPASSFILE или passfile=";

namespace {

// Two lines of settings; anything far larger is not this file.
constexpr size_t kMaxDbConfigSize = size_t{64} << 10;

// The permission bits of mode as chmod takes them, "0644".
std::string ModeText(mode_t mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

// Length of the UTF-8 sequence starting at s[i], or 0 when it is not well
// formed.
size_t Utf8Length(const std::string& s, size_t i) {
    const auto c = static_cast<unsigned char>(s[i]);
    size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (n == 0 || (n > 1 && c < 0xC2) || i + n > s.size()) return 0;
    for (size_t k = 1; k < n; ++k)
        if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return 0;
    return n;
}

}  // namespace

std::string CheckSiteName(const std::string& name) {
    if (name.empty()) return "имя площадки пустое";
    size_t chars = 0;
    for (size_t i = 0; i < name.size(); ++chars) {
        const size_t n = Utf8Length(name, i);
        if (n == 0) return "имя площадки не в кодировке UTF-8";
        const auto c = static_cast<unsigned char>(name[i]);
        if (n == 1 && (c < 0x20 || c == 0x7F)) return "в имени площадки управляющий символ";
        i += n;
    }
    if (chars > 64) return "имя площадки длиннее 64 символов";
    return {};
}

TDbConfigLoad LoadDbConfig(const std::string& startDir) {
    TDbConfigLoad out;
    const std::string path =
        (startDir.empty() ? std::string() : startDir + "/") + kDbConfigFileName;
    const auto fail = [&](const std::string& why) {
        out.Status = TDbConfigLoad::TStatus::Refused;
        out.Error = why;
        return out;
    };
    // O_NONBLOCK: a FIFO under the name must not hold the start; it is
    // refused as not being a regular file, as a device is.
    const TFd file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!file.IsOpen()) {
        if (errno == ENOENT) return out;
        return fail("Не удалось прочитать файл «" + path + "»: " + std::strerror(errno));
    }
    struct stat st {};
    if (::fstat(file.Get(), &st) != 0 || !S_ISREG(st.st_mode))
        return fail("Файл «" + path + "» не является обычным файлом");
    std::string text;
    if (!ReadAtMost(file.Get(), kMaxDbConfigSize, text))
        return fail("Не удалось прочитать файл «" + path + "»: " + std::strerror(errno));
    if (text.size() > kMaxDbConfigSize)
        return fail("Файл «" + path + "» больше 64 КиБ: это не файл настроек базы данных");
    std::istringstream in(text);
    auto refuse = [&](int lineNo, const std::string& why) {
        out.Status = TDbConfigLoad::TStatus::Refused;
        out.Config = {};
        out.Error = "Файл «" + path + "», строка " + std::to_string(lineNo) + ": " + why;
        return out;
    };
    bool haveConn = false, haveSite = false;
    std::string line;
    int lineNo = 0;
    while (std::getline(in, line)) {
        ++lineNo;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (lineNo == 1 && line.compare(0, 3, "\xEF\xBB\xBF") == 0) line.erase(0, 3);
        if (line.empty() || line[0] == '#') continue;
        const size_t eq = line.find('=');
        if (eq == std::string::npos) return refuse(lineNo, "нет знака «=»");
        const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
        if (key == "CONNINFO") {
            if (haveConn) return refuse(lineNo, "CONNINFO указан второй раз");
            if (value.empty()) return refuse(lineNo, "CONNINFO пустой");
            haveConn = true;
            out.Config.ConnInfo = value;
        } else if (key == "SITE") {
            if (haveSite) return refuse(lineNo, "SITE указан второй раз");
            const std::string why = CheckSiteName(value);
            if (!why.empty()) return refuse(lineNo, why);
            haveSite = true;
            out.Config.Site = value;
        } else {
            return refuse(lineNo, "неизвестный ключ «" + key + "»");
        }
    }
    if (haveConn != haveSite)
        return refuse(lineNo, haveConn ? "нет строки SITE=" : "нет строки CONNINFO=");
    // As ssh with a key file: a password others can read is no secret.
    if ((st.st_mode & (S_IRGRP | S_IROTH)) && ConnInfoHasPassword(out.Config.ConnInfo))
        out.Warning = "Файл «" + path + "» хранит пароль базы данных и доступен для чтения " +
                      "другим пользователям (права " + ModeText(st.st_mode) +
                      "); закройте его: chmod 600";
    return out;
}

namespace {

bool IsUri(const std::string& s) {
    return s.rfind("postgresql://", 0) == 0 || s.rfind("postgres://", 0) == 0;
}

// libpq takes a URI's user and password only before the first "/" after
// the scheme; an "@" further on (outside a user= parameter) is most likely
// a password's, cut off by an unencoded "/".
bool AtPastHost(const std::string& s) {
    const size_t from = s.find("://") + 3;
    const size_t slash = s.find('/', from), query = s.find('?', from);
    size_t at = s.find('@', from);
    if (at == std::string::npos || at < slash) return false;
    for (; at != std::string::npos; at = s.find('@', at + 1)) {
        const size_t key = s.find_last_of("?&", at);
        if (query == std::string::npos || query > at || s.compare(key + 1, 5, "user=") != 0)
            return true;
    }
    return false;
}

// libpq's options of connInfo, keyword to value; false when it cannot
// parse it (why in error, when given).
bool ParseConnInfo(const std::string& connInfo,
                   std::vector<std::pair<std::string, std::string>>& out,
                   std::string* error = nullptr) {
    char* message = nullptr;
    PQconninfoOption* options = PQconninfoParse(connInfo.c_str(), &message);
    if (!options) {
        if (error && message) *error = message;
        PQfreemem(message);
        return false;
    }
    for (PQconninfoOption* o = options; o->keyword; ++o)
        if (o->val && *o->val) out.emplace_back(o->keyword, o->val);
    PQconninfoFree(options);
    return true;
}

std::string Value(const std::vector<std::pair<std::string, std::string>>& options,
                  const std::string& keyword) {
    for (const auto& [key, value] : options)
        if (key == keyword) return value;
    return {};
}

}  // namespace

std::string CheckConnInfo(const std::string& connInfo) {
    std::vector<std::pair<std::string, std::string>> options;
    std::string error;
    if (!ParseConnInfo(connInfo, options, &error)) {
        // libpq quotes the piece it stumbled on, which may be the password.
        std::string words;
        bool quoted = false;
        for (char c : error) {
            if (c == '"') {
                words += quoted ? "\"" : "\"…";
                quoted = !quoted;
            } else if (!quoted) {
                words += c == '\n' ? ' ' : c;
            }
        }
        while (!words.empty() && words.back() == ' ')
            words.pop_back();
        return "строка подключения к базе данных не разобрана: " + words;
    }
    if (IsUri(connInfo) && AtPastHost(connInfo))
        return "в строке подключения к базе данных знак «@» после имени сервера: знаки «/», «?», "
               "«@» и «:» в имени пользователя и пароле записывают как %2F, %3F, %40 и %3A";
    return {};
}

std::string ConnInfoForDisplay(const std::string& connInfo) {
    std::vector<std::pair<std::string, std::string>> options;
    if (!CheckConnInfo(connInfo).empty() || !ParseConnInfo(connInfo, options))
        return "(строка подключения не разобрана)";
    std::string shown;
    const bool host = !Value(options, "host").empty();
    for (const char* key : {"host", "hostaddr", "port", "dbname", "user"}) {
        const std::string value = Value(options, key);
        if (value.empty() || (host && std::string(key) == "hostaddr")) continue;
        shown += (shown.empty() ? "" : " ") + std::string(key) + "=" + value;
    }
    return shown;
}

bool ConnInfoHasPassword(const std::string& connInfo) {
    std::vector<std::pair<std::string, std::string>> options;
    if (!CheckConnInfo(connInfo).empty() || !ParseConnInfo(connInfo, options))
        return connInfo.find("password") != std::string::npos ||
               (IsUri(connInfo) && connInfo.find('@') != std::string::npos);
    return !Value(options, "password").empty();
}

std::string HidePassword(std::string message, const std::string& connInfo) {
    std::vector<std::pair<std::string, std::string>> options;
    const std::string password =
        ParseConnInfo(connInfo, options) ? Value(options, "password") : std::string();
    // Only where it stands alone: a short password is also a piece of words.
    const auto inWord = [&](size_t i) {
        return i < message.size() && std::isalnum(static_cast<unsigned char>(message[i]));
    };
    for (size_t p = password.empty() ? std::string::npos : message.find(password);
         p != std::string::npos; p = message.find(password, p + 1))
        if (!(p > 0 && inWord(p - 1)) && !inWord(p + password.size()))
            message.replace(p, password.size(), "***");
    for (char& c : message)
        if (c == '\n' || c == '\r' || c == '\t') c = ' ';
    while (!message.empty() && message.back() == ' ')
        message.pop_back();
    return message;
}
