#include "web/users.h"

#include <sodium.h>

#include <pqxx/nontransaction>
#include <pqxx/result>
#include <pqxx/transaction>

#include "db/db_config.h"

std::string TWebRole::Text() const {
    switch (Kind) {
        case TKind::Admin:
            return "admin";
        case TKind::Head:
            return "head";
        case TKind::Office:
            break;
    }
    return "office:" + Office;
}

std::optional<TWebRole> ParseRole(const std::string& text) {
    TWebRole role;
    if (text == "admin") {
        role.Kind = TWebRole::TKind::Admin;
    } else if (text == "head") {
        role.Kind = TWebRole::TKind::Head;
    } else if (text.rfind("office:", 0) == 0 && CheckSiteName(text.substr(7)).empty()) {
        role.Office = text.substr(7);
    } else {
        return std::nullopt;
    }
    return role;
}

std::string CheckUserName(const std::string& name) {
    if (name.empty() || name.size() > 256) return "имя пользователя пусто или длиннее 64 знаков";
    for (const char c : name)
        if (c == ' ') return "в имени пользователя пробел";
    // The site rules are the same: UTF-8, no control characters, 64 at most.
    const std::string site = CheckSiteName(name);
    return site.empty() ? std::string() : "имя пользователя не годится (" + site + ")";
}

std::string CheckPassword(const std::string& password) {
    if (password.size() < 8) return "пароль короче 8 знаков";
    if (password.size() > 1024) return "пароль длиннее 1024 байт";
    return {};
}

bool InitCrypto() {
    return sodium_init() >= 0;
}

std::string HashPassword(const std::string& password) {
    char hash[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str(hash, password.data(), password.size(),
                          crypto_pwhash_OPSLIMIT_INTERACTIVE,
                          crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0)
        return {};
    return hash;
}

bool VerifyPassword(const std::string& hash, const std::string& password) {
    return crypto_pwhash_str_verify(hash.c_str(), password.data(), password.size()) == 0;
}

std::string RandomToken(size_t bytes) {
    std::string raw(bytes, '\0');
    randombytes_buf(raw.data(), raw.size());
    std::string hex(2 * bytes + 1, '\0');
    sodium_bin2hex(hex.data(), hex.size(), reinterpret_cast<const unsigned char*>(raw.data()),
                   raw.size());
    hex.pop_back();
    return hex;
}

bool SameToken(const std::string& a, const std::string& b) {
    return a.size() == b.size() && sodium_memcmp(a.data(), b.data(), a.size()) == 0;
}

bool StoreUser(pqxx::connection_base& db, const TWebUser& user) {
    pqxx::work w(db);
    const pqxx::row r = w.exec_params1(
        "INSERT INTO tallyphon.web_users (name, role, hash) VALUES ($1, $2, $3)"
        " ON CONFLICT (name) DO UPDATE SET role = EXCLUDED.role, hash = EXCLUDED.hash"
        " RETURNING xmax = 0",
        user.Name, user.Role, user.Hash);
    w.commit();
    return r[0].as<bool>();
}

bool DeleteUser(pqxx::connection_base& db, const std::string& name) {
    pqxx::work w(db);
    const pqxx::result r = w.exec_params("DELETE FROM tallyphon.web_users WHERE name = $1", name);
    w.commit();
    return r.affected_rows() > 0;
}

std::vector<TWebUser> ListUsers(pqxx::connection_base& db) {
    pqxx::nontransaction n(db);
    std::vector<TWebUser> users;
    for (const pqxx::row& r : n.exec("SELECT name, role FROM tallyphon.web_users ORDER BY name"))
        users.push_back({r[0].as<std::string>(), r[1].as<std::string>(), {}});
    return users;
}

std::optional<TWebUser> FindUser(pqxx::connection_base& db, const std::string& name) {
    pqxx::nontransaction n(db);
    const pqxx::result r =
        n.exec_params("SELECT name, role, hash FROM tallyphon.web_users WHERE name = $1", name);
    if (r.empty()) return std::nullopt;
    return TWebUser{r[0][0].as<std::string>(), r[0][1].as<std::string>(),
                    r[0][2].as<std::string>()};
}

void Audit(pqxx::connection_base& db, const std::string& name, const std::string& address,
           const std::string& event) {
    pqxx::nontransaction n(db);
    n.exec_params("INSERT INTO tallyphon.web_audit (name, address, event) VALUES ($1, $2, $3)",
                  name, address, event);
}

long long PruneAudit(pqxx::connection_base& db) {
    pqxx::nontransaction n(db);
    return n.exec1("SELECT tallyphon.prune_web_audit()")[0].as<long long>();
}
