// The benchmarks' database: the tests' private database on the same server, loaded with the demo
// room as well, so that the operations run against believable rows.
#pragma once

#include "tests/support/test_database.h"

void load_demo_room(TestDatabase& db);
