#include "postgresaccountstore.h"

#include "lobbyrules.h"

#include <libpq-fe.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <stdexcept>
#include <vector>

namespace {

// The key names are compared by: ASCII letters folded, every other byte as it is.
std::string folded(std::string_view name)
{
    std::string key(name);
    for (char &c : key) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return key;
}

PostgresAccountStore::Param bytes(std::string_view value)
{
    return {std::string(value), true};
}

template <typename Number> PostgresAccountStore::Param number(Number value)
{
    return {std::to_string(value), false};
}

PostgresAccountStore::Param real(double value)
{
    // Seventeen significant digits give the same double back.
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", value);
    return {text, false};
}

struct Statement
{
    const char *name;
    const char *sql;
    // Safe to send again when the connection broke before the answer came.
    bool readOnly;
};

// Numbers come back as text (cast in the query) so that every column of every result can
// be taken in binary form, which for bytea is the bytes themselves. A cast column keeps its
// name, and a bare ORDER BY name means the output column: order by the table's column,
// or "10" sorts before "9".
#define OSTREL_ACCOUNT_COLUMNS                                                                     \
    "name, password_hash, first_name, last_name, city, country, email, home_page, comments, "      \
    "first_login::text, aux_date::text, login_count::text, icq, aux_number::text, "                \
    "member_since::text, account_class, minutes_played::text, silence_until::text, hat, "          \
    "aux_text, aux_date2::text, gender"

const Statement kStatements[] = {
    {"find", "SELECT " OSTREL_ACCOUNT_COLUMNS " FROM accounts WHERE name_key = $1::bytea", true},
    {"all", "SELECT " OSTREL_ACCOUNT_COLUMNS " FROM accounts", true},
    {"insert",
     "INSERT INTO accounts (name_key, name, password_hash, first_name, last_name, city, country,"
     " email, home_page, comments, first_login, aux_date, login_count, icq, aux_number,"
     " member_since, account_class, minutes_played, silence_until, hat, aux_text, aux_date2,"
     " gender) VALUES ($1::bytea, $2::bytea, $3::bytea, $4::bytea, $5::bytea, $6::bytea,"
     " $7::bytea, $8::bytea, $9::bytea, $10::bytea, $11::float8, $12::float8, $13::integer,"
     " $14::bytea, $15::integer, $16::float8, $17::bytea, $18::integer, $19::bigint,"
     " $20::bytea, $21::bytea, $22::float8, $23::bytea) ON CONFLICT (name_key) DO NOTHING",
     false},
    {"login",
     "UPDATE accounts SET login_count = login_count + 1, aux_date = $2::float8,"
     " first_login = CASE WHEN first_login = 0 THEN $2::float8 ELSE first_login END"
     " WHERE name_key = $1::bytea",
     false},
    {"profile",
     "UPDATE accounts SET first_name = $2::bytea, last_name = $3::bytea, city = $4::bytea,"
     " country = $5::bytea, email = $6::bytea, home_page = $7::bytea, comments = $8::bytea,"
     " icq = $9::bytea, hat = $10::bytea, gender = $11::bytea WHERE name_key = $1::bytea",
     false},
    {"password", "UPDATE accounts SET password_hash = $2::bytea WHERE name_key = $1::bytea", false},
    {"silence", "UPDATE accounts SET silence_until = $2::bigint WHERE name_key = $1::bytea", false},
    {"minutes",
     "UPDATE accounts SET minutes_played = LEAST(minutes_played::bigint + $2::bigint,"
     " 2147483647)::integer WHERE name_key = $1::bytea",
     false},
    {"lockclass", "SELECT hat FROM accounts WHERE name_key = $1::bytea FOR UPDATE", false},
    {"setclass", "UPDATE accounts SET account_class = $2::bytea WHERE name_key = $1::bytea", false},
    {"sethat", "UPDATE accounts SET hat = $2::bytea WHERE name_key = $1::bytea", false},
    {"getclass", "SELECT account_class FROM accounts WHERE name_key = $1::bytea", true},
    {"count", "SELECT count(*)::text FROM accounts", true},
    {"store",
     "INSERT INTO stored_messages (recipient_key, recipient, sender_key, sender, text,"
     " stored_at) VALUES ($1::bytea, $2::bytea, $3::bytea, $4::bytea, $5::bytea, $6::bigint)",
     false},
    {"counts",
     "SELECT (SELECT count(*) FROM stored_messages WHERE recipient_key = $1::bytea)::text,"
     " (SELECT count(*) FROM stored_messages WHERE recipient_key = $1::bytea"
     " AND sender_key = $2::bytea)::text,"
     " (SELECT count(*) FROM stored_messages WHERE sender_key = $2::bytea)::text",
     true},
    {"messages",
     "SELECT id::text, sender, text, stored_at::text FROM stored_messages"
     " WHERE recipient_key = $1::bytea AND stored_at >= $2::bigint"
     " ORDER BY stored_messages.id",
     true},
    {"allmessages",
     "SELECT id::text, sender, text, stored_at::text, recipient FROM stored_messages"
     " ORDER BY stored_messages.id",
     true},
    {"deletemessages",
     "DELETE FROM stored_messages WHERE recipient_key = $1::bytea AND id <= $2::bigint", false},
    {"purgemessages", "DELETE FROM stored_messages WHERE stored_at < $1::bigint", false},
};

const Statement &statementNamed(const char *name)
{
    for (const Statement &s : kStatements) {
        if (std::strcmp(s.name, name) == 0)
            return s;
    }
    throw std::logic_error(std::string("no statement ") + name);
}

std::string text(const PGresult *result, int row, int column)
{
    return std::string(PQgetvalue(result, row, column),
                       static_cast<std::size_t>(PQgetlength(result, row, column)));
}

std::int64_t integer(const PGresult *result, int row, int column)
{
    return std::strtoll(PQgetvalue(result, row, column), nullptr, 10);
}

double realAt(const PGresult *result, int row, int column)
{
    return std::strtod(PQgetvalue(result, row, column), nullptr);
}

AccountRecord accountAt(const PGresult *r, int row)
{
    AccountRecord account;
    auto &u = account.user;
    u.UserName = text(r, row, 0);
    account.passwordHash = text(r, row, 1);
    u.FirstName = text(r, row, 2);
    u.LastName = text(r, row, 3);
    u.City = text(r, row, 4);
    u.Country = text(r, row, 5);
    u.EMail = text(r, row, 6);
    u.HomePage = text(r, row, 7);
    u.Comments = text(r, row, 8);
    u.FirstLogin = realAt(r, row, 9);
    u.AuxDate = realAt(r, row, 10);
    u.LoginCount = static_cast<std::int32_t>(integer(r, row, 11));
    u.ICQ = text(r, row, 12);
    u.AuxNumber = static_cast<std::int32_t>(integer(r, row, 13));
    u.MemberSince = realAt(r, row, 14);
    u.AccountClass = text(r, row, 15);
    u.MinutesPlayed = static_cast<std::int32_t>(integer(r, row, 16));
    account.silenceUntil = integer(r, row, 17);
    u.Hat = text(r, row, 18);
    u.AuxText = text(r, row, 19);
    u.AuxDate2 = realAt(r, row, 20);
    u.Gender = text(r, row, 21);
    return account;
}

StoredMessage messageAt(const PGresult *r, int row)
{
    StoredMessage message;
    message.id = integer(r, row, 0);
    message.sender = text(r, row, 1);
    message.text = text(r, row, 2);
    message.storedAt = integer(r, row, 3);
    return message;
}

// The schema, created once by whichever node comes first: the advisory lock keeps two
// nodes starting together from racing on the catalogue.
const char *const kSchema =
    "SELECT pg_advisory_xact_lock(7936001);"
    "CREATE TABLE IF NOT EXISTS accounts ("
    " name_key bytea PRIMARY KEY, name bytea NOT NULL, password_hash bytea NOT NULL,"
    " first_name bytea NOT NULL DEFAULT '', last_name bytea NOT NULL DEFAULT '',"
    " city bytea NOT NULL DEFAULT '', country bytea NOT NULL DEFAULT '',"
    " email bytea NOT NULL DEFAULT '', home_page bytea NOT NULL DEFAULT '',"
    " comments bytea NOT NULL DEFAULT '',"
    " first_login float8 NOT NULL DEFAULT 0, aux_date float8 NOT NULL DEFAULT 0,"
    " login_count integer NOT NULL DEFAULT 0, icq bytea NOT NULL DEFAULT '',"
    " aux_number integer NOT NULL DEFAULT 0, member_since float8 NOT NULL DEFAULT 0,"
    " account_class bytea NOT NULL DEFAULT 'N', minutes_played integer NOT NULL DEFAULT 0,"
    " silence_until bigint NOT NULL DEFAULT 0, hat bytea NOT NULL DEFAULT '1',"
    " aux_text bytea NOT NULL DEFAULT '', aux_date2 float8 NOT NULL DEFAULT 0,"
    " gender bytea NOT NULL DEFAULT '');"
    "CREATE TABLE IF NOT EXISTS stored_messages ("
    " id bigserial PRIMARY KEY, recipient_key bytea NOT NULL, recipient bytea NOT NULL,"
    " sender_key bytea NOT NULL, sender bytea NOT NULL, text bytea NOT NULL,"
    " stored_at bigint NOT NULL);"
    "CREATE INDEX IF NOT EXISTS stored_messages_recipient"
    " ON stored_messages (recipient_key, id);"
    "CREATE INDEX IF NOT EXISTS stored_messages_sender ON stored_messages (sender_key);"
    "CREATE INDEX IF NOT EXISTS stored_messages_age ON stored_messages (stored_at);";

} // namespace

void PostgresAccountStore::ResultDeleter::operator()(pg_result *result) const
{
    PQclear(result);
}

PostgresAccountStore::PostgresAccountStore(const std::string &address) : m_address(address)
{
    connect();
    try {
        createSchema();
        prepareStatements();
    } catch (...) {
        PQfinish(m_conn);
        m_conn = nullptr;
        throw;
    }
}

PostgresAccountStore::~PostgresAccountStore()
{
    PQfinish(m_conn);
}

void PostgresAccountStore::connect()
{
    PQfinish(m_conn);
    // Bounds of our own for a database host that does not answer: a connection attempt
    // gives up after a few seconds, and a connection whose peer went silent is found
    // dead by TCP within about half a minute instead of hours. Settings in the address
    // itself come later in the list and win.
    const char *const keywords[] = {
        "connect_timeout",  "keepalives",       "keepalives_idle", "keepalives_interval",
        "keepalives_count", "tcp_user_timeout", "dbname",          nullptr};
    const char *const values[] = {"5", "1", "10", "5", "3", "20000", m_address.c_str(), nullptr};
    m_conn = PQconnectdbParams(keywords, values, 1);
    if (!m_conn || PQstatus(m_conn) != CONNECTION_OK) {
        const std::string message = m_conn ? PQerrorMessage(m_conn) : "out of memory";
        PQfinish(m_conn);
        m_conn = nullptr;
        throw std::runtime_error("account database: cannot connect: " + message);
    }
    // Every exchange below waits for its answer on our own clock (await), which needs
    // the connection's socket not to block.
    if (PQsetnonblocking(m_conn, 1) != 0)
        fail("connect", nullptr);
    // A slow statement ends at the database with an error, well within the time await
    // gives an answer: a statement that gets no answer at all means a dead link.
    command("SET statement_timeout = '5s'");
    // "Already exists, skipping" and the like are no news for the server's log.
    command("SET client_min_messages = warning");
}

void PostgresAccountStore::createSchema()
{
    command(("BEGIN;" + std::string(kSchema) + "COMMIT;").c_str());
}

void PostgresAccountStore::prepareStatements()
{
    for (const Statement &s : kStatements) {
        Result result = await(PQsendPrepare(m_conn, s.name, s.sql, 0, nullptr), "prepare");
        if (PQresultStatus(result.get()) != PGRES_COMMAND_OK)
            fail("prepare", result.get());
    }
}

void PostgresAccountStore::command(const char *sql)
{
    Result result = await(PQsendQuery(m_conn, sql), "command");
    const auto status = PQresultStatus(result.get());
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
        fail("command", result.get());
}

void PostgresAccountStore::waitForSocket(short events, Clock::time_point deadline, const char *what)
{
    for (;;) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            break;
        pollfd wait{PQsocket(m_conn), events, 0};
        const int ready = ::poll(&wait, 1, static_cast<int>(left));
        if (ready > 0)
            return;
        if (ready < 0 && errno != EINTR)
            fail(what, nullptr);
    }
    // Given up: whatever the database still does with the statement, its answer would
    // come on a connection we no longer read in step. The next call connects afresh.
    PQfinish(m_conn);
    m_conn = nullptr;
    throw std::runtime_error(std::string("account database: ") + what + ": no answer within " +
                             std::to_string(kAnswerTime.count()) + " s; connection dropped");
}

PostgresAccountStore::Result PostgresAccountStore::await(int sent, const char *what)
{
    // A connection that broke gives no result; the caller finds out from its status.
    if (!sent)
        return {};
    const auto deadline = Clock::now() + kAnswerTime;
    for (;;) {
        const int flushed = PQflush(m_conn);
        if (flushed == 0)
            break;
        if (flushed < 0)
            return {};
        // The database may be sending while we are: read what it sent, or it may stop
        // reading us.
        waitForSocket(POLLIN | POLLOUT, deadline, what);
        if (!PQconsumeInput(m_conn))
            return {};
    }
    Result answer;
    for (;;) {
        while (PQisBusy(m_conn)) {
            waitForSocket(POLLIN, deadline, what);
            if (!PQconsumeInput(m_conn))
                return {};
        }
        Result next(PQgetResult(m_conn));
        if (!next)
            break;
        // Of several statements in one command, the first failure or else the last result.
        const auto status = answer ? PQresultStatus(answer.get()) : PGRES_COMMAND_OK;
        if (!answer || status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK)
            answer = std::move(next);
    }
    return answer;
}

void PostgresAccountStore::fail(const char *what, const pg_result *result)
{
    const char *message = result ? PQresultErrorMessage(result) : nullptr;
    if (!message || !*message)
        message = m_conn ? PQerrorMessage(m_conn) : "no connection";
    std::string text = message;
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    throw std::runtime_error(std::string("account database: ") + what + ": " + text);
}

PostgresAccountStore::Result PostgresAccountStore::execute(const char *name,
                                                           std::initializer_list<Param> params)
{
    const Statement &statement = statementNamed(name);
    std::vector<const char *> values;
    std::vector<int> lengths;
    std::vector<int> formats;
    for (const Param &p : params) {
        values.push_back(p.value.data());
        lengths.push_back(static_cast<int>(p.value.size()));
        formats.push_back(p.bytes ? 1 : 0);
    }
    for (int attempt = 0;; ++attempt) {
        if (!m_conn || PQstatus(m_conn) != CONNECTION_OK) {
            connect();
            prepareStatements();
        }
        Result result =
            await(PQsendQueryPrepared(m_conn, statement.name, static_cast<int>(values.size()),
                                      values.data(), lengths.data(), formats.data(), 1),
                  statement.name);
        const auto status = PQresultStatus(result.get());
        if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK)
            return result;
        // A write may have been done before the connection broke: only reads go again.
        if (attempt == 0 && statement.readOnly && PQstatus(m_conn) != CONNECTION_OK)
            continue;
        fail(statement.name, result.get());
    }
}

std::optional<AccountRecord> PostgresAccountStore::find(std::string_view name)
{
    const Result r = execute("find", {bytes(folded(name))});
    if (PQntuples(r.get()) == 0)
        return std::nullopt;
    return accountAt(r.get(), 0);
}

void PostgresAccountStore::forEachAccount(const std::function<void(const AccountRecord &)> &visit)
{
    const Result r = execute("all", {});
    for (int row = 0; row < PQntuples(r.get()); ++row)
        visit(accountAt(r.get(), row));
}

bool PostgresAccountStore::insert(const AccountRecord &account)
{
    const auto &u = account.user;
    const Result r = execute("insert", {bytes(folded(u.UserName)),
                                        bytes(u.UserName),
                                        bytes(account.passwordHash),
                                        bytes(u.FirstName),
                                        bytes(u.LastName),
                                        bytes(u.City),
                                        bytes(u.Country),
                                        bytes(u.EMail),
                                        bytes(u.HomePage),
                                        bytes(u.Comments),
                                        real(u.FirstLogin),
                                        real(u.AuxDate),
                                        number(u.LoginCount),
                                        bytes(u.ICQ),
                                        number(u.AuxNumber),
                                        real(u.MemberSince),
                                        bytes(u.AccountClass),
                                        number(u.MinutesPlayed),
                                        number(account.silenceUntil),
                                        bytes(u.Hat),
                                        bytes(u.AuxText),
                                        real(u.AuxDate2),
                                        bytes(u.Gender)});
    return std::strcmp(PQcmdTuples(r.get()), "1") == 0;
}

void PostgresAccountStore::recordLogin(std::string_view name, double now)
{
    execute("login", {bytes(folded(name)), real(now)});
}

void PostgresAccountStore::updateProfile(std::string_view name, const ostrel::TOrvexUser &p)
{
    execute("profile", {bytes(folded(name)), bytes(p.FirstName), bytes(p.LastName), bytes(p.City),
                        bytes(p.Country), bytes(p.EMail), bytes(p.HomePage), bytes(p.Comments),
                        bytes(p.ICQ), bytes(p.Hat), bytes(p.Gender)});
}

void PostgresAccountStore::updatePasswordHash(std::string_view name, const std::string &hash)
{
    execute("password", {bytes(folded(name)), bytes(hash)});
}

void PostgresAccountStore::setSilenceUntil(std::string_view name, std::int64_t until)
{
    execute("silence", {bytes(folded(name)), number(until)});
}

void PostgresAccountStore::addMinutesPlayed(std::string_view name, std::int32_t minutes)
{
    execute("minutes", {bytes(folded(name)), number(minutes)});
}

bool PostgresAccountStore::setAccountClass(std::string_view name, std::string_view accountClass)
{
    const std::string key = folded(name);
    command("BEGIN");
    try {
        const Result row = execute("lockclass", {bytes(key)});
        const bool found = PQntuples(row.get()) == 1;
        if (found) {
            execute("setclass", {bytes(key), bytes(accountClass)});
            if (!lobbyrules::hatAllowed(text(row.get(), 0, 0), accountClass))
                execute("sethat", {bytes(key), bytes("1")});
        }
        command("COMMIT");
        return found;
    } catch (...) {
        if (m_conn && PQstatus(m_conn) == CONNECTION_OK) {
            try {
                command("ROLLBACK");
            } catch (const std::exception &) {
                // The connection is gone or dropped; the transaction went with it.
            }
        }
        throw;
    }
}

std::optional<std::string> PostgresAccountStore::accountClass(std::string_view name)
{
    const Result r = execute("getclass", {bytes(folded(name))});
    if (PQntuples(r.get()) == 0)
        return std::nullopt;
    return text(r.get(), 0, 0);
}

std::int64_t PostgresAccountStore::count()
{
    const Result r = execute("count", {});
    return integer(r.get(), 0, 0);
}

void PostgresAccountStore::storeMessage(std::string_view recipient, std::string_view sender,
                                        std::string_view messageText, std::int64_t storedAt)
{
    execute("store", {bytes(folded(recipient)), bytes(recipient), bytes(folded(sender)),
                      bytes(sender), bytes(messageText), number(storedAt)});
}

AccountStore::StoredCounts PostgresAccountStore::storedMessageCounts(std::string_view recipient,
                                                                     std::string_view sender)
{
    const Result r = execute("counts", {bytes(folded(recipient)), bytes(folded(sender))});
    return {integer(r.get(), 0, 0), integer(r.get(), 0, 1), integer(r.get(), 0, 2)};
}

std::vector<StoredMessage> PostgresAccountStore::storedMessages(std::string_view recipient,
                                                                std::int64_t notBefore)
{
    const Result r = execute("messages", {bytes(folded(recipient)), number(notBefore)});
    std::vector<StoredMessage> messages;
    messages.reserve(static_cast<std::size_t>(PQntuples(r.get())));
    for (int row = 0; row < PQntuples(r.get()); ++row)
        messages.push_back(messageAt(r.get(), row));
    return messages;
}

void PostgresAccountStore::forEachStoredMessage(
    const std::function<void(const std::string &recipient, const StoredMessage &)> &visit)
{
    const Result r = execute("allmessages", {});
    for (int row = 0; row < PQntuples(r.get()); ++row)
        visit(text(r.get(), row, 4), messageAt(r.get(), row));
}

void PostgresAccountStore::deleteStoredMessages(std::string_view recipient, std::int64_t upToId)
{
    execute("deletemessages", {bytes(folded(recipient)), number(upToId)});
}

std::int64_t PostgresAccountStore::purgeStoredMessages(std::int64_t before)
{
    const Result r = execute("purgemessages", {number(before)});
    return std::strtoll(PQcmdTuples(r.get()), nullptr, 10);
}
