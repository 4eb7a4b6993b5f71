#pragma once

#include "accountstore.h"

struct sqlite3;
struct sqlite3_stmt;

// Accounts in one SQLite file in WAL mode: the store that needs no set-up. Every statement
// is prepared once and every write is one short transaction.
class SqliteAccountStore : public AccountStore
{
public:
    explicit SqliteAccountStore(const std::string &path);
    ~SqliteAccountStore() override;
    SqliteAccountStore(const SqliteAccountStore &) = delete;
    SqliteAccountStore &operator=(const SqliteAccountStore &) = delete;

    std::optional<AccountRecord> find(std::string_view name) override;
    bool insert(const AccountRecord &account) override;
    void recordLogin(std::string_view name, double now) override;
    void updateProfile(std::string_view name, const ostrel::TOrvexUser &profile) override;
    void updatePasswordHash(std::string_view name, const std::string &hash) override;
    void setSilenceUntil(std::string_view name, std::int64_t until) override;
    void addMinutesPlayed(std::string_view name, std::int32_t minutes) override;
    bool setAccountClass(std::string_view name, std::string_view accountClass) override;
    std::optional<std::string> accountClass(std::string_view name) override;
    std::int64_t count() override;
    void forEachAccount(const std::function<void(const AccountRecord &)> &visit) override;

    void storeMessage(std::string_view recipient, std::string_view sender, std::string_view text,
                      std::int64_t storedAt) override;
    StoredCounts storedMessageCounts(std::string_view recipient, std::string_view sender) override;
    std::vector<StoredMessage> storedMessages(std::string_view recipient,
                                              std::int64_t notBefore) override;
    void forEachStoredMessage(const std::function<void(const std::string &recipient,
                                                       const StoredMessage &)> &visit) override;
    void deleteStoredMessages(std::string_view recipient, std::int64_t upToId) override;
    std::int64_t purgeStoredMessages(std::int64_t before) override;

private:
    void close();
    sqlite3_stmt *prepare(const char *sql);
    void exec(const char *sql);
    void run(sqlite3_stmt *statement);
    [[noreturn]] void fail(const char *what);
    AccountRecord accountAt(sqlite3_stmt *statement);

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
    sqlite3_stmt *m_all = nullptr;
    sqlite3_stmt *m_storeMessage = nullptr;
    sqlite3_stmt *m_messageCounts = nullptr;
    sqlite3_stmt *m_messages = nullptr;
    sqlite3_stmt *m_allMessages = nullptr;
    sqlite3_stmt *m_deleteMessages = nullptr;
    sqlite3_stmt *m_purgeMessages = nullptr;
};
