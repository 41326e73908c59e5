// The benchmarks' database: the tests' private database on the same server, loaded with the demo
// room as well, so that the operations run against believable rows.
#pragma once

#include "tests/support/test_database.h"

#include <string>

void load_demo_room(TestDatabase& db);

// The authority of the benchmarks' server (the file KALIMO_TEST_DB_AUTHORITY names), empty when the
// server offers no TLS.
std::string server_authority();

// The demo room's Poste-01 as the station in `folder` sees it (both configuration files, and the
// server's authority when it offers TLS; the platform gives it the adapter 02-00-00-00-00-01), and Qt's
// offscreen platform with one 1920x1080 screen.
void prepare_demo_station(TestDatabase& db, const WorkingFolder& folder);

// tab_city brought to `towns` rows in key order, "Autres" last as in a room; false when the count
// did not come out right.
bool set_town_count(TestDatabase& db, int towns);
