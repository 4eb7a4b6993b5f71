#pragma once

#include "torvexuser.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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

// Where the server keeps its accounts and the private messages waiting for offline
// accounts. Names are unique without regard to letter case (ASCII letters, as the
// protocol's names are compared everywhere else); look-ups ignore case too and the stored
// spelling is the account's name. Every call finishes its write before it returns and may
// block (for a bounded time): the server calls it only from AccountStoreWorker's thread,
// one call at a time. Failures throw std::runtime_error.
class AccountStore
{
public:
    virtual ~AccountStore() = default;

    // The store a location names: "postgresql://..." or "postgres://..." (a libpq
    // connection address), anything else the path of an SQLite file.
    static std::unique_ptr<AccountStore> open(const std::string &location);
    static bool isPostgresAddress(std::string_view location);

    virtual std::optional<AccountRecord> find(std::string_view name) = 0;
    // False when the name is taken.
    virtual bool insert(const AccountRecord &account) = 0;
    virtual void recordLogin(std::string_view name, double now) = 0;
    // The fields a player may change about themselves.
    virtual void updateProfile(std::string_view name, const ostrel::TOrvexUser &profile) = 0;
    virtual void updatePasswordHash(std::string_view name, const std::string &hash) = 0;
    virtual void setSilenceUntil(std::string_view name, std::int64_t until) = 0;
    virtual void addMinutesPlayed(std::string_view name, std::int32_t minutes) = 0;
    // False when there is no such account. A class that may not wear the account's hat
    // takes it off in the same transaction.
    virtual bool setAccountClass(std::string_view name, std::string_view accountClass) = 0;
    virtual std::optional<std::string> accountClass(std::string_view name) = 0;
    virtual std::int64_t count() = 0;
    // Every account, in no particular order (moving accounts between stores).
    virtual void forEachAccount(const std::function<void(const AccountRecord &)> &visit) = 0;

    // Private messages kept for offline accounts (recipient names compare without regard
    // to case).
    virtual void storeMessage(std::string_view recipient, std::string_view sender,
                              std::string_view text, std::int64_t storedAt) = 0;
    struct StoredCounts
    {
        std::int64_t forRecipient = 0;
        std::int64_t fromSenderToRecipient = 0;
        std::int64_t fromSender = 0; // to anyone
    };
    virtual StoredCounts storedMessageCounts(std::string_view recipient,
                                             std::string_view sender) = 0;
    // The messages waiting for recipient stored at notBefore or later, oldest first.
    virtual std::vector<StoredMessage> storedMessages(std::string_view recipient,
                                                      std::int64_t notBefore) = 0;
    // Every waiting message with its recipient, oldest first.
    virtual void forEachStoredMessage(
        const std::function<void(const std::string &recipient, const StoredMessage &)> &visit) = 0;
    // Deletes recipient's messages up to and including id.
    virtual void deleteStoredMessages(std::string_view recipient, std::int64_t upToId) = 0;
    // Deletes every message stored before the given moment; returns how many.
    virtual std::int64_t purgeStoredMessages(std::int64_t before) = 0;
};
