// The web server's users: their roles, their passwords' Argon2id hashes
// (libsodium) and their rows in tallyphon.web_users, and the audit rows in
// tallyphon.web_audit.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include <pqxx/connection_base>

// What a user may see and do.
struct TWebRole {
    enum class TKind { Admin, Head, Office };
    TKind Kind = TKind::Office;
    std::string Office;  // the site, for Office only
    // The site every query of this user is limited to; empty: every site.
    const std::string& SiteFilter() const { return Office; }
    std::string Text() const;  // "admin", "head" or "office:NAME"
};

// "admin", "head" or "office:NAME" with a site name CheckSiteName accepts.
std::optional<TWebRole> ParseRole(const std::string& text);
// What is wrong with name as a user's name (1 to 64 characters of UTF-8,
// no control character, no blank); empty when usable.
std::string CheckUserName(const std::string& name);
// What is wrong with password (under 8 bytes or over 1024); empty when usable.
std::string CheckPassword(const std::string& password);

// libsodium must be initialised once before any of these; false when it
// cannot be.
bool InitCrypto();
// The Argon2id hash of password, in the string form that holds its salt
// and costs; empty when the memory for it cannot be had.
std::string HashPassword(const std::string& password);
bool VerifyPassword(const std::string& hash, const std::string& password);
// bytes random bytes, in hex (2 × bytes characters).
std::string RandomToken(size_t bytes = 32);
// Whether a equals b, in a time that does not tell where they differ.
bool SameToken(const std::string& a, const std::string& b);

struct TWebUser {
    std::string Name;
    std::string Role;
    std::string Hash;
};

// Adds the user, or gives an existing one the new role and hash; true when
// the user is new. Throws what libpqxx throws.
bool StoreUser(pqxx::connection_base& db, const TWebUser& user);
// Removes the user; false when there was none.
bool DeleteUser(pqxx::connection_base& db, const std::string& name);
// Every user, by name (hashes left empty).
std::vector<TWebUser> ListUsers(pqxx::connection_base& db);
std::optional<TWebUser> FindUser(pqxx::connection_base& db, const std::string& name);
// One row of tallyphon.web_audit: event ("login", "login-failed",
// "logout", …) by the user name from address.
void Audit(pqxx::connection_base& db, const std::string& name, const std::string& address,
           const std::string& event);
// Deletes the rows of web_audit older than 400 days, through the
// function the schema's owner made for it; returns how many. Throws what
// libpqxx throws (also when the function is missing).
long long PruneAudit(pqxx::connection_base& db);
