#pragma once

#include "accountstore.h"
#include "metricsregistry.h"

#include <memory>

// An account store that times every call of the store it wraps and counts the calls that
// fail, for the server's metrics. It changes nothing else: results and exceptions pass
// through as they are.
class TimedAccountStore final : public AccountStore
{
public:
    TimedAccountStore(std::unique_ptr<AccountStore> store, MetricsRegistry::Histogram &seconds,
                      MetricsRegistry::Counter &errors);

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
    template <typename Call> auto timed(Call &&call) -> decltype(call());

    std::unique_ptr<AccountStore> m_store;
    MetricsRegistry::Histogram &m_seconds;
    MetricsRegistry::Counter &m_errors;
};
