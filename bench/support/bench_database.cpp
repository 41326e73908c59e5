#include "bench/support/bench_database.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

void load_demo_room(TestDatabase& db) {
    const std::string path = std::string(KALIMO_SOURCE_DIR) + "/db/demo.sql";
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path);
    }
    std::ostringstream text;
    text << in.rdbuf();
    db.exec(text.str());
}
