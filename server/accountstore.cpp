#include "accountstore.h"

#include "postgresaccountstore.h"
#include "sqliteaccountstore.h"

bool AccountStore::isPostgresAddress(std::string_view location)
{
    return location.starts_with("postgresql://") || location.starts_with("postgres://");
}

std::unique_ptr<AccountStore> AccountStore::open(const std::string &location)
{
    if (isPostgresAddress(location))
        return std::make_unique<PostgresAccountStore>(location);
    return std::make_unique<SqliteAccountStore>(location);
}
