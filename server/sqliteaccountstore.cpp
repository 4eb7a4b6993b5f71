#include "sqliteaccountstore.h"

#include "lobbyrules.h"

#include <sqlite3.h>

#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Binds text by pointer and length: the statement runs before the view goes away.
void bindText(sqlite3_stmt *statement, int index, std::string_view text)
{
    sqlite3_bind_text(statement, index, text.data(), static_cast<int>(text.size()),
                      SQLITE_TRANSIENT);
}

std::string columnText(sqlite3_stmt *statement, int column)
{
    const auto *text = sqlite3_column_text(statement, column);
    if (!text)
        return {};
    return std::string(reinterpret_cast<const char *>(text),
                       static_cast<std::size_t>(sqlite3_column_bytes(statement, column)));
}

// Resets a statement however the step that used it ended.
class StatementGuard
{
public:
    explicit StatementGuard(sqlite3_stmt *statement) : m_statement(statement) {}
    ~StatementGuard()
    {
        sqlite3_reset(m_statement);
        sqlite3_clear_bindings(m_statement);
    }
    StatementGuard(const StatementGuard &) = delete;
    StatementGuard &operator=(const StatementGuard &) = delete;

private:
    sqlite3_stmt *m_statement;
};

constexpr const char *kColumns =
    "name, password_hash, first_name, last_name, city, country, email, home_page, comments, "
    "first_login, aux_date, login_count, icq, aux_number, member_since, account_class, "
    "minutes_played, silence_until, hat, aux_text, aux_date2, gender";

// The file holds password hashes and private messages: it is created readable by its
// owner alone, and a file an older version left readable to others is closed to them.
// SQLite gives its journal and WAL files the mode of the database file.
void keepPrivate(const std::string &path)
{
    // ":memory:" and "" name databases that live in memory, not files.
    if (path.empty() || path.front() == ':')
        return;
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return; // sqlite3_open_v2 says why, in its words
    struct stat st = {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 077) != 0)
        ::fchmod(fd, st.st_mode & 0700);
    ::close(fd);
}

} // namespace

SqliteAccountStore::SqliteAccountStore(const std::string &path)
{
    keepPrivate(path);
    if (sqlite3_open_v2(path.c_str(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
        SQLITE_OK) {
        const std::string message = m_db ? sqlite3_errmsg(m_db) : "out of memory";
        sqlite3_close(m_db);
        m_db = nullptr;
        throw std::runtime_error("cannot open " + path + ": " + message);
    }
    try {
        // A second process (set-class) may hold the write lock for a moment.
        sqlite3_busy_timeout(m_db, 2000);
        exec("PRAGMA journal_mode=WAL");
        // With WAL, NORMAL keeps every committed transaction across a process crash and
        // keeps each write short; only a power cut may lose the last few.
        exec("PRAGMA synchronous=NORMAL");
        exec("CREATE TABLE IF NOT EXISTS accounts ("
             "name TEXT NOT NULL PRIMARY KEY COLLATE NOCASE,"
             "password_hash TEXT NOT NULL,"
             "first_name TEXT NOT NULL DEFAULT '', last_name TEXT NOT NULL DEFAULT '',"
             "city TEXT NOT NULL DEFAULT '', country TEXT NOT NULL DEFAULT '',"
             "email TEXT NOT NULL DEFAULT '', home_page TEXT NOT NULL DEFAULT '',"
             "comments TEXT NOT NULL DEFAULT '',"
             "first_login REAL NOT NULL DEFAULT 0, aux_date REAL NOT NULL DEFAULT 0,"
             "login_count INTEGER NOT NULL DEFAULT 0, icq TEXT NOT NULL DEFAULT '',"
             "aux_number INTEGER NOT NULL DEFAULT 0, member_since REAL NOT NULL DEFAULT 0,"
             "account_class TEXT NOT NULL DEFAULT 'N',"
             "minutes_played INTEGER NOT NULL DEFAULT 0,"
             "silence_until INTEGER NOT NULL DEFAULT 0, hat TEXT NOT NULL DEFAULT '1',"
             "aux_text TEXT NOT NULL DEFAULT '', aux_date2 REAL NOT NULL DEFAULT 0,"
             "gender TEXT NOT NULL DEFAULT '')");
        exec("CREATE TABLE IF NOT EXISTS stored_messages ("
             "id INTEGER PRIMARY KEY AUTOINCREMENT,"
             "recipient TEXT NOT NULL COLLATE NOCASE, sender TEXT NOT NULL COLLATE NOCASE,"
             "text TEXT NOT NULL, stored_at INTEGER NOT NULL)");
        exec("CREATE INDEX IF NOT EXISTS stored_messages_recipient"
             " ON stored_messages (recipient, id)");
        exec("CREATE INDEX IF NOT EXISTS stored_messages_sender"
             " ON stored_messages (sender)");
        exec("CREATE INDEX IF NOT EXISTS stored_messages_age ON stored_messages (stored_at)");
        m_find = prepare(
            (std::string("SELECT ") + kColumns + " FROM accounts WHERE name = ?1 COLLATE NOCASE")
                .c_str());
        m_insert = prepare((std::string("INSERT OR IGNORE INTO accounts (") + kColumns +
                            ") VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, "
                            "?13, ?14, ?15, ?16, ?17, ?18, ?19, ?20, ?21, ?22)")
                               .c_str());
        m_login = prepare("UPDATE accounts SET login_count = login_count + 1, aux_date = ?2,"
                          " first_login = CASE WHEN first_login = 0 THEN ?2 ELSE first_login END"
                          " WHERE name = ?1 COLLATE NOCASE");
        m_profile = prepare("UPDATE accounts SET first_name = ?2, last_name = ?3, city = ?4,"
                            " country = ?5, email = ?6, home_page = ?7, comments = ?8, icq = ?9,"
                            " hat = ?10, gender = ?11 WHERE name = ?1 COLLATE NOCASE");
        m_password =
            prepare("UPDATE accounts SET password_hash = ?2 WHERE name = ?1 COLLATE NOCASE");
        m_silence =
            prepare("UPDATE accounts SET silence_until = ?2 WHERE name = ?1 COLLATE NOCASE");
        m_minutes = prepare("UPDATE accounts SET minutes_played = min(minutes_played + ?2,"
                            " 2147483647) WHERE name = ?1 COLLATE NOCASE");
        m_setClass =
            prepare("UPDATE accounts SET account_class = ?2 WHERE name = ?1 COLLATE NOCASE");
        m_setHat = prepare("UPDATE accounts SET hat = ?2 WHERE name = ?1 COLLATE NOCASE");
        m_getClass = prepare("SELECT account_class FROM accounts WHERE name = ?1 COLLATE NOCASE");
        m_count = prepare("SELECT count(*) FROM accounts");
        m_all = prepare((std::string("SELECT ") + kColumns + " FROM accounts").c_str());
        m_storeMessage = prepare("INSERT INTO stored_messages (recipient, sender, text, stored_at)"
                                 " VALUES (?1, ?2, ?3, ?4)");
        m_messageCounts = prepare(
            "SELECT (SELECT count(*) FROM stored_messages WHERE recipient = ?1 COLLATE NOCASE),"
            " (SELECT count(*) FROM stored_messages WHERE recipient = ?1 COLLATE NOCASE"
            " AND sender = ?2 COLLATE NOCASE),"
            " (SELECT count(*) FROM stored_messages WHERE sender = ?2 COLLATE NOCASE)");
        m_messages = prepare("SELECT id, sender, text, stored_at FROM stored_messages"
                             " WHERE recipient = ?1 COLLATE NOCASE AND stored_at >= ?2"
                             " ORDER BY id");
        m_allMessages = prepare("SELECT id, sender, text, stored_at, recipient"
                                " FROM stored_messages ORDER BY id");
        m_deleteMessages = prepare("DELETE FROM stored_messages"
                                   " WHERE recipient = ?1 COLLATE NOCASE AND id <= ?2");
        m_purgeMessages = prepare("DELETE FROM stored_messages WHERE stored_at < ?1");
    } catch (...) {
        close();
        throw;
    }
}

SqliteAccountStore::~SqliteAccountStore()
{
    close();
}

void SqliteAccountStore::close()
{
    for (auto *statement :
         {m_find, m_insert, m_login, m_profile, m_password, m_silence, m_minutes, m_setClass,
          m_setHat, m_getClass, m_count, m_all, m_storeMessage, m_messageCounts, m_messages,
          m_allMessages, m_deleteMessages, m_purgeMessages})
        sqlite3_finalize(statement);
    m_find = m_insert = m_login = m_profile = m_password = m_silence = m_minutes = nullptr;
    m_setClass = m_setHat = m_getClass = m_count = m_all = nullptr;
    m_storeMessage = m_messageCounts = m_messages = m_allMessages = nullptr;
    m_deleteMessages = m_purgeMessages = nullptr;
    if (m_db)
        sqlite3_close(m_db);
    m_db = nullptr;
}

void SqliteAccountStore::fail(const char *what)
{
    throw std::runtime_error(std::string("account database: ") + what + ": " +
                             sqlite3_errmsg(m_db));
}

sqlite3_stmt *SqliteAccountStore::prepare(const char *sql)
{
    sqlite3_stmt *statement = nullptr;
    if (sqlite3_prepare_v3(m_db, sql, -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr) !=
        SQLITE_OK)
        fail("prepare");
    return statement;
}

void SqliteAccountStore::exec(const char *sql)
{
    char *error = nullptr;
    if (sqlite3_exec(m_db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
        const std::string message = error ? error : "unknown error";
        sqlite3_free(error);
        throw std::runtime_error(std::string("account database: ") + message);
    }
}

void SqliteAccountStore::run(sqlite3_stmt *statement)
{
    StatementGuard guard(statement);
    if (sqlite3_step(statement) != SQLITE_DONE)
        fail("write");
}

std::optional<AccountRecord> SqliteAccountStore::find(std::string_view name)
{
    StatementGuard guard(m_find);
    bindText(m_find, 1, name);
    const int rc = sqlite3_step(m_find);
    if (rc == SQLITE_DONE)
        return std::nullopt;
    if (rc != SQLITE_ROW)
        fail("read");
    return accountAt(m_find);
}

AccountRecord SqliteAccountStore::accountAt(sqlite3_stmt *s)
{
    AccountRecord account;
    auto &u = account.user;
    u.UserName = columnText(s, 0);
    account.passwordHash = columnText(s, 1);
    u.FirstName = columnText(s, 2);
    u.LastName = columnText(s, 3);
    u.City = columnText(s, 4);
    u.Country = columnText(s, 5);
    u.EMail = columnText(s, 6);
    u.HomePage = columnText(s, 7);
    u.Comments = columnText(s, 8);
    u.FirstLogin = sqlite3_column_double(s, 9);
    u.AuxDate = sqlite3_column_double(s, 10);
    u.LoginCount = sqlite3_column_int(s, 11);
    u.ICQ = columnText(s, 12);
    u.AuxNumber = sqlite3_column_int(s, 13);
    u.MemberSince = sqlite3_column_double(s, 14);
    u.AccountClass = columnText(s, 15);
    u.MinutesPlayed = sqlite3_column_int(s, 16);
    account.silenceUntil = sqlite3_column_int64(s, 17);
    u.Hat = columnText(s, 18);
    u.AuxText = columnText(s, 19);
    u.AuxDate2 = sqlite3_column_double(s, 20);
    u.Gender = columnText(s, 21);
    return account;
}

void SqliteAccountStore::forEachAccount(const std::function<void(const AccountRecord &)> &visit)
{
    StatementGuard guard(m_all);
    int rc;
    while ((rc = sqlite3_step(m_all)) == SQLITE_ROW)
        visit(accountAt(m_all));
    if (rc != SQLITE_DONE)
        fail("read");
}

bool SqliteAccountStore::insert(const AccountRecord &account)
{
    const auto &u = account.user;
    StatementGuard guard(m_insert);
    bindText(m_insert, 1, u.UserName);
    bindText(m_insert, 2, account.passwordHash);
    bindText(m_insert, 3, u.FirstName);
    bindText(m_insert, 4, u.LastName);
    bindText(m_insert, 5, u.City);
    bindText(m_insert, 6, u.Country);
    bindText(m_insert, 7, u.EMail);
    bindText(m_insert, 8, u.HomePage);
    bindText(m_insert, 9, u.Comments);
    sqlite3_bind_double(m_insert, 10, u.FirstLogin);
    sqlite3_bind_double(m_insert, 11, u.AuxDate);
    sqlite3_bind_int(m_insert, 12, u.LoginCount);
    bindText(m_insert, 13, u.ICQ);
    sqlite3_bind_int(m_insert, 14, u.AuxNumber);
    sqlite3_bind_double(m_insert, 15, u.MemberSince);
    bindText(m_insert, 16, u.AccountClass);
    sqlite3_bind_int(m_insert, 17, u.MinutesPlayed);
    sqlite3_bind_int64(m_insert, 18, account.silenceUntil);
    bindText(m_insert, 19, u.Hat);
    bindText(m_insert, 20, u.AuxText);
    sqlite3_bind_double(m_insert, 21, u.AuxDate2);
    bindText(m_insert, 22, u.Gender);
    if (sqlite3_step(m_insert) != SQLITE_DONE)
        fail("insert");
    return sqlite3_changes(m_db) == 1;
}

void SqliteAccountStore::recordLogin(std::string_view name, double now)
{
    bindText(m_login, 1, name);
    sqlite3_bind_double(m_login, 2, now);
    run(m_login);
}

void SqliteAccountStore::updateProfile(std::string_view name, const ostrel::TOrvexUser &p)
{
    bindText(m_profile, 1, name);
    bindText(m_profile, 2, p.FirstName);
    bindText(m_profile, 3, p.LastName);
    bindText(m_profile, 4, p.City);
    bindText(m_profile, 5, p.Country);
    bindText(m_profile, 6, p.EMail);
    bindText(m_profile, 7, p.HomePage);
    bindText(m_profile, 8, p.Comments);
    bindText(m_profile, 9, p.ICQ);
    bindText(m_profile, 10, p.Hat);
    bindText(m_profile, 11, p.Gender);
    run(m_profile);
}

void SqliteAccountStore::updatePasswordHash(std::string_view name, const std::string &hash)
{
    bindText(m_password, 1, name);
    bindText(m_password, 2, hash);
    run(m_password);
}

void SqliteAccountStore::setSilenceUntil(std::string_view name, std::int64_t until)
{
    bindText(m_silence, 1, name);
    sqlite3_bind_int64(m_silence, 2, until);
    run(m_silence);
}

void SqliteAccountStore::addMinutesPlayed(std::string_view name, std::int32_t minutes)
{
    bindText(m_minutes, 1, name);
    sqlite3_bind_int(m_minutes, 2, minutes);
    run(m_minutes);
}

// A demoted account takes off a hat that its new class may not wear, in the same
// transaction, so that no reader sees the new class with the old hat.
bool SqliteAccountStore::setAccountClass(std::string_view name, std::string_view accountClass)
{
    exec("BEGIN IMMEDIATE");
    try {
        bindText(m_setClass, 1, name);
        bindText(m_setClass, 2, accountClass);
        run(m_setClass);
        const bool found = sqlite3_changes(m_db) == 1;
        if (found) {
            const auto account = find(name);
            if (account && !lobbyrules::hatAllowed(account->user.Hat, accountClass)) {
                bindText(m_setHat, 1, name);
                bindText(m_setHat, 2, "1");
                run(m_setHat);
            }
        }
        exec("COMMIT");
        return found;
    } catch (...) {
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

std::optional<std::string> SqliteAccountStore::accountClass(std::string_view name)
{
    StatementGuard guard(m_getClass);
    bindText(m_getClass, 1, name);
    const int rc = sqlite3_step(m_getClass);
    if (rc == SQLITE_DONE)
        return std::nullopt;
    if (rc != SQLITE_ROW)
        fail("read");
    return columnText(m_getClass, 0);
}

std::int64_t SqliteAccountStore::count()
{
    StatementGuard guard(m_count);
    if (sqlite3_step(m_count) != SQLITE_ROW)
        fail("read");
    return sqlite3_column_int64(m_count, 0);
}

void SqliteAccountStore::storeMessage(std::string_view recipient, std::string_view sender,
                                      std::string_view text, std::int64_t storedAt)
{
    bindText(m_storeMessage, 1, recipient);
    bindText(m_storeMessage, 2, sender);
    bindText(m_storeMessage, 3, text);
    sqlite3_bind_int64(m_storeMessage, 4, storedAt);
    run(m_storeMessage);
}

AccountStore::StoredCounts SqliteAccountStore::storedMessageCounts(std::string_view recipient,
                                                                   std::string_view sender)
{
    StatementGuard guard(m_messageCounts);
    bindText(m_messageCounts, 1, recipient);
    bindText(m_messageCounts, 2, sender);
    if (sqlite3_step(m_messageCounts) != SQLITE_ROW)
        fail("read");
    return {sqlite3_column_int64(m_messageCounts, 0), sqlite3_column_int64(m_messageCounts, 1),
            sqlite3_column_int64(m_messageCounts, 2)};
}

std::vector<StoredMessage> SqliteAccountStore::storedMessages(std::string_view recipient,
                                                              std::int64_t notBefore)
{
    StatementGuard guard(m_messages);
    bindText(m_messages, 1, recipient);
    sqlite3_bind_int64(m_messages, 2, notBefore);
    std::vector<StoredMessage> messages;
    int rc;
    while ((rc = sqlite3_step(m_messages)) == SQLITE_ROW) {
        StoredMessage message;
        message.id = sqlite3_column_int64(m_messages, 0);
        message.sender = columnText(m_messages, 1);
        message.text = columnText(m_messages, 2);
        message.storedAt = sqlite3_column_int64(m_messages, 3);
        messages.push_back(std::move(message));
    }
    if (rc != SQLITE_DONE)
        fail("read");
    return messages;
}

void SqliteAccountStore::forEachStoredMessage(
    const std::function<void(const std::string &recipient, const StoredMessage &)> &visit)
{
    StatementGuard guard(m_allMessages);
    int rc;
    while ((rc = sqlite3_step(m_allMessages)) == SQLITE_ROW) {
        StoredMessage message;
        message.id = sqlite3_column_int64(m_allMessages, 0);
        message.sender = columnText(m_allMessages, 1);
        message.text = columnText(m_allMessages, 2);
        message.storedAt = sqlite3_column_int64(m_allMessages, 3);
        visit(columnText(m_allMessages, 4), message);
    }
    if (rc != SQLITE_DONE)
        fail("read");
}

void SqliteAccountStore::deleteStoredMessages(std::string_view recipient, std::int64_t upToId)
{
    bindText(m_deleteMessages, 1, recipient);
    sqlite3_bind_int64(m_deleteMessages, 2, upToId);
    run(m_deleteMessages);
}

std::int64_t SqliteAccountStore::purgeStoredMessages(std::int64_t before)
{
    sqlite3_bind_int64(m_purgeMessages, 1, before);
    run(m_purgeMessages);
    return sqlite3_changes(m_db);
}
