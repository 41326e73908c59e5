#include "bench/support/bench_database.h"

#include "fonction/config_files.h"

#include <QByteArray>

#include <cstdlib>
#include <fstream>
#include <iterator>
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

bool set_town_count(TestDatabase& db, int towns) {
    if (db.count("tab_city") == towns) {
        return true;
    }
    std::ostringstream cities;
    cities << "INSERT INTO tab_city (nom_city) VALUES ";
    for (int i = 1; i < towns; ++i) {
        cities << "('Commune " << i << "'), ";
    }
    cities << "('Autres')";
    db.exec("DELETE FROM tab_city");
    db.exec(cities.str());
    return db.count("tab_city") == towns;
}

std::string server_authority() {
    const char* path = std::getenv("KALIMO_TEST_DB_AUTHORITY");
    if (path == nullptr) {
        return {};
    }
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void prepare_demo_station(TestDatabase& db, const WorkingFolder& folder) {
    load_demo_room(db);
    db.write_database_file();
    const std::string authority = server_authority();
    if (!authority.empty()) {
        folder.write_file(server_authority_file_name, authority);
    }
    folder.write_file("Configuration_Poste_MAC.init", "02-00-00-00-00-01");
    folder.write_file(
        "screen.json",
        R"({"screens":[{"name":"s0","x":0,"y":0,"width":1920,"height":1080,"logicalDpi":96}]})");
    qputenv("QT_QPA_PLATFORM",
            QByteArray("offscreen:configfile=") + QByteArray::fromStdString(folder.path()) + "/screen.json");
}
