#pragma once

#include "torvexuser.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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

// A private message kept for an account that was offline when it was sent.
struct StoredMessage
{
    std::int64_t id = 0;
    std::string sender;
    std::string text;
    std::int64_t storedAt = 0; // seconds since the epoch
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

    // Private messages kept for offline accounts (recipient names compare without regard
    // to case).
    void storeMessage(std::string_view recipient, std::string_view sender, std::string_view text,
                      std::int64_t storedAt);
    struct StoredCounts
    {
        std::int64_t forRecipient = 0;
        std::int64_t fromSenderToRecipient = 0;
        std::int64_t fromSender = 0; // to anyone
    };
    StoredCounts storedMessageCounts(std::string_view recipient, std::string_view sender);
    // The messages waiting for recipient stored at notBefore or later, oldest first.
    std::vector<StoredMessage> storedMessages(std::string_view recipient, std::int64_t notBefore);
    // Deletes recipient's messages up to and including id.
    void deleteStoredMessages(std::string_view recipient, std::int64_t upToId);
    // Deletes every message stored before the given moment; returns how many.
    std::int64_t purgeStoredMessages(std::int64_t before);

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
    sqlite3_stmt *m_storeMessage = nullptr;
    sqlite3_stmt *m_messageCounts = nullptr;
    sqlite3_stmt *m_messages = nullptr;
    sqlite3_stmt *m_deleteMessages = nullptr;
    sqlite3_stmt *m_purgeMessages = nullptr;
};
