#pragma once

#include "torvexuser.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

// One stored account: the user record as the server keeps it (its Password field is
// always empty: only the hash is kept) and the moment a moderator's silence ends.
struct AccountRecord
{
    ostrel::TOrvexUser user;
    std::string passwordHash;
    std::int64_t silenceUntil = 0; // seconds since the epoch; 0 means none
};

// Accounts in one SQLite file in WAL mode. Every statement is prepared once and every
// write is one short transaction, so the single network thread may call it directly.
// Names are unique without regard to letter case; look-ups ignore case too and the
// stored spelling is the account's name. Failures throw std::runtime_error.
class AccountStore
{
public:
    explicit AccountStore(const std::string &path);
    ~AccountStore();
    AccountStore(const AccountStore &) = delete;
    AccountStore &operator=(const AccountStore &) = delete;

    std::optional<AccountRecord> find(std::string_view name);
    // False when the name is taken.
    bool insert(const AccountRecord &account);
    void recordLogin(std::string_view name, double now);
    // The fields a player may change about themselves.
    void updateProfile(std::string_view name, const ostrel::TOrvexUser &profile);
    void updatePasswordHash(std::string_view name, const std::string &hash);
    void setSilenceUntil(std::string_view name, std::int64_t until);
    void addMinutesPlayed(std::string_view name, std::int32_t minutes);
    // False when there is no such account.
    bool setAccountClass(std::string_view name, std::string_view accountClass);
    std::optional<std::string> accountClass(std::string_view name);
    std::int64_t count();

private:
    void close();
    sqlite3_stmt *prepare(const char *sql);
    void exec(const char *sql);
    void run(sqlite3_stmt *statement);
    [[noreturn]] void fail(const char *what);

    sqlite3 *m_db = nullptr;
    sqlite3_stmt *m_find = nullptr;
    sqlite3_stmt *m_insert = nullptr;
    sqlite3_stmt *m_login = nullptr;
    sqlite3_stmt *m_profile = nullptr;
    sqlite3_stmt *m_password = nullptr;
    sqlite3_stmt *m_silence = nullptr;
    sqlite3_stmt *m_minutes = nullptr;
    sqlite3_stmt *m_setClass = nullptr;
    sqlite3_stmt *m_setHat = nullptr;
    sqlite3_stmt *m_getClass = nullptr;
    sqlite3_stmt *m_count = nullptr;
};
