// The schema, as numbered migrations applied in order at every start: a store made by an older kxserver is
// brought up to date, one made by a newer one is refused. Never edit a migration that has shipped; add one.
#pragma once

#include "store/database.h"

namespace kx::server {

// Applies every migration the store lacks, each in a transaction of its own. Several instances starting at
// once on one PostgreSQL database take turns. Returns the schema version; throws when the store's is newer.
int Migrate(Database& database);

int LatestSchemaVersion();

}  // namespace kx::server
