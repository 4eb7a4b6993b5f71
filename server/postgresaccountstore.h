#pragma once

#include "accountstore.h"

#include <chrono>
#include <initializer_list>

struct pg_conn;
struct pg_result;

// Accounts in a PostgreSQL database, shared by every server node of a lobby. The schema
// is created on first use. Every text is kept as bytes (bytea): names, profiles and
// messages are the protocol's bytes, which need not be valid in the database's encoding,
// and names compare without regard to ASCII letter case through a folded key column, as
// the SQLite store compares them. Each call is one statement (or one short transaction)
// on one connection; a connection found broken is opened again before the next call, and
// a read that failed because the connection broke is tried once more. No exchange waits
// for the database longer than kAnswerTime (and connecting, no longer than 5 s): past
// that the link counts as dead, the call fails and the connection is dropped, so a
// database host that went silent costs a caller seconds, not the minutes TCP would take
// to notice.
class PostgresAccountStore : public AccountStore
{
public:
    // address: a libpq connection URI ("postgresql://user@host:port/database?...").
    explicit PostgresAccountStore(const std::string &address);
    ~PostgresAccountStore() override;
    PostgresAccountStore(const PostgresAccountStore &) = delete;
    PostgresAccountStore &operator=(const PostgresAccountStore &) = delete;

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

    // One parameter of a statement: bytes, or a number written as text.
    struct Param
    {
        std::string value;
        bool bytes = true;
    };

    // Longer than the statement timeout the store sets (5 s), after which a database that
    // is alive answers with an error.
    static constexpr std::chrono::seconds kAnswerTime{8};

private:
    using Clock = std::chrono::steady_clock;
    struct ResultDeleter
    {
        void operator()(pg_result *result) const;
    };
    using Result = std::unique_ptr<pg_result, ResultDeleter>;

    void connect();
    void createSchema();
    void prepareStatements();
    Result execute(const char *statement, std::initializer_list<Param> params);
    // The answer to what was just sent (sent: what PQsend... returned), waited for at
    // most kAnswerTime.
    Result await(int sent, const char *what);
    void waitForSocket(short events, Clock::time_point deadline, const char *what);
    void command(const char *sql);
    [[noreturn]] void fail(const char *what, const pg_result *result);

    std::string m_address;
    pg_conn *m_conn = nullptr;
};
