// The benchmarks' database: the tests' private database on the same server, loaded with the demo
// room as well, so that the operations run against believable rows.
#pragma once

#include "tests/support/test_database.h"

void load_demo_room(TestDatabase& db);

// tab_city brought to `towns` rows in key order, "Autres" last as in a room; false when the count
// did not come out right.
bool set_town_count(TestDatabase& db, int towns);
