#include "fonction/conversion.h"
#include "fonction/setup_queries.h"
#include "fonction/station_queries.h"
#include "tests/support/fake_platform.h"
#include "tests/support/test_database.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace {

class StationQueries : public ::testing::Test {
  protected:
    void SetUp() override {
        REQUIRE_SERVER();
        db = std::make_unique<TestDatabase>();
        db->write_database_file();
    }
    // A space with a room and one claimed computer; returns the computer's id.
    int add_station(const std::string& space, const std::string& name, const std::string& mac, int usage) {
        db->exec("INSERT INTO tab_espace (nom_espace) VALUES ('" + space + "')");
        const long long id_espace = db->insert_id();
        db->exec("INSERT INTO tab_salle (id_espace, nom_salle) VALUES (" + std::to_string(id_espace) +
                 ", 'Salle')");
        const long long id_salle = db->insert_id();
        db->exec("INSERT INTO tab_computer (nom_computer, adresse_mac_computer, usage_computer, id_salle) "
                 "VALUES ('" +
                 name + "', '" + mac + "', " + std::to_string(usage) + ", " + std::to_string(id_salle) + ")");
        return static_cast<int>(db->insert_id());
    }
    std::string space_id(const std::string& space) {
        return db->scalar("SELECT id_espace FROM tab_espace WHERE nom_espace='" + space + "'");
    }
    WorkingFolder folder;
    FakePlatform system;
    std::unique_ptr<TestDatabase> db;
    DbLink link;
};

} // namespace

TEST_F(StationQueries, TheChainFindsIdUsageNameSpaceAndSettings) {
    const int id = add_station("Espace Jean Moulin", "Poste-01", "00-1A-2B-3C-4D-5E", 1);
    db->exec("INSERT INTO tab_config_logiciel (id_espace, config_menu_logiciel, page_inscription_logiciel, "
             "page_renseignement_logiciel, bloquage_touche_logiciel, affichage_temps_logiciel, "
             "deconnexion_auto_logiciel) VALUES (" +
             space_id("Espace Jean Moulin") + ", 1, 0, 1, 5, 2, 1)");
    int status = 0;
    int id_computer = 0;
    find_computer_by_mac(link, "00-1A-2B-3C-4D-5E", id_computer, status);
    ASSERT_EQ(status, 0);
    EXPECT_EQ(id_computer, id);
    int usage = -1;
    read_computer_usage(link, id_computer, usage, status);
    EXPECT_EQ(usage, 1);
    FixedText<100> name;
    read_computer_name(link, id_computer, name, status);
    EXPECT_EQ(name.str(), "Poste-01");
    FixedText<1000> space;
    read_space_name(link, name.c_str(), space, status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(space.str(), "Espace Jean Moulin");
    SpaceSettings settings;
    read_space_settings(link, space.c_str(), settings);
    EXPECT_EQ(settings.config_menu_logiciel, 1);
    EXPECT_EQ(settings.page_inscription_logiciel, 0);
    EXPECT_EQ(settings.page_renseignement_logiciel, 1);
    EXPECT_EQ(settings.bloquage_touche_logiciel, 5);
    EXPECT_EQ(settings.affichage_temps_logiciel, 2);
    EXPECT_EQ(settings.deconnexion_auto_logiciel, 1);
    EXPECT_EQ(db->open_connections(), 0);
}

TEST_F(StationQueries, OnlyTheExactMacAndNameIdentifyAStation) {
    const int first = add_station("Espace", "Poste-01", "00-1A-2B-3C-4D-5E", 1);
    add_station("Annexe", "Poste-02 ", "00-1A-2B-3C-4D-5F", 1);
    for (const char* mac : {"00-1a-2b-3c-4d-5e", "00-1A-2B-3C-4D-5e", "00-1A-2B-3C-4D-5E "}) {
        int status = 0;
        int id = 77;
        find_computer_by_mac(link, mac, id, status);
        EXPECT_EQ(status, 1) << '"' << mac << '"';
        EXPECT_EQ(id, 77);
    }
    for (const char* name : {"poste-01", "POSTE-01", "Poste-01 ", "Poste-02"}) {
        FixedText<1000> space;
        int status = 0;
        read_space_name(link, name, space, status);
        EXPECT_EQ(status, 1) << '"' << name << '"';
        EXPECT_TRUE(space.empty());
        update_computer_record(link, name, 2, "00-00-00-00-00-99", "10.0.0.9", "autre");
    }
    EXPECT_EQ(db->rows("SELECT usage_computer, adresse_mac_computer FROM tab_computer ORDER BY id_computer"),
              (std::vector<std::vector<std::string>>{{"1", "00-1A-2B-3C-4D-5E"}, {"1", "00-1A-2B-3C-4D-5F"}}))
        << "the set-up binds no record by a near name";
    int status = 1;
    int id = 0;
    find_computer_by_mac(link, "00-1A-2B-3C-4D-5E", id, status);
    EXPECT_EQ(id, first) << "the exact MAC still does";
}

TEST_F(StationQueries, MissingRowsAndLostServerSetTheStatusCell) {
    int status = 0;
    int id = 77;
    find_computer_by_mac(link, "00-00-00-00-00-09", id, status);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(id, 77);
    FixedText<100> name("kept");
    status = 0;
    read_computer_name(link, 12345, name, status);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(name.str(), "kept");

    // Without a server the two exposing lookups report 1; the others leave the cell alone.
    std::remove("Configuration_Base_de_donnee.init");
    status = 0;
    int usage = 4;
    read_computer_usage(link, 1, usage, status);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(usage, 4);
    status = 0;
    read_computer_name(link, 1, name, status);
    EXPECT_EQ(status, 0);
    FixedText<1000> space("previous");
    read_space_name(link, "Poste-01", space, status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(space.str(), "previous");
}

TEST_F(StationQueries, TwoRowsWithOneMacGiveTheFirst) {
    const int first = add_station("A", "P1", "00-00-00-00-00-01", 1);
    add_station("B", "P2", "00-00-00-00-00-01", 2);
    int status = 0;
    int id = 0;
    find_computer_by_mac(link, "00-00-00-00-00-01", id, status);
    EXPECT_EQ(id, first);
}

TEST_F(StationQueries, AStationWithoutRoomRowReportsNoSpace) {
    db->exec("INSERT INTO tab_computer (nom_computer, adresse_mac_computer, usage_computer, id_salle) VALUES "
             "('Orphelin', '00-00-00-00-00-02', 1, 999)");
    FixedText<1000> space("previous");
    int status = 0;
    read_space_name(link, "Orphelin", space, status);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(space.str(), "previous");
}

TEST_F(StationQueries, TheLastSettingsRowWinsAndNoRowKeepsZeros) {
    add_station("Deux", "P1", "00-00-00-00-00-01", 1);
    add_station("Aucun", "P2", "00-00-00-00-00-02", 1);
    const std::string id = space_id("Deux");
    db->exec("INSERT INTO tab_config_logiciel (id_espace, config_menu_logiciel, page_inscription_logiciel) "
             "VALUES (" +
             id + ", 1, 1), (" + id + ", 0, 1)");
    SpaceSettings settings;
    read_space_settings(link, "Deux", settings);
    EXPECT_EQ(settings.config_menu_logiciel, 0);
    EXPECT_EQ(settings.page_inscription_logiciel, 1);
    SpaceSettings none;
    read_space_settings(link, "Aucun", none);
    EXPECT_EQ(none.config_menu_logiciel, 0);
    EXPECT_EQ(none.page_renseignement_logiciel, 0);
    EXPECT_EQ(none.deconnexion_auto_logiciel, 0);
}

TEST_F(StationQueries, ANullSettingIsAConversionErrorAndTheLinkIsClosed) {
    add_station("Nul", "P1", "00-00-00-00-00-01", 1);
    db->exec("INSERT INTO tab_config_logiciel (id_espace, config_menu_logiciel) VALUES (" + space_id("Nul") +
             ", NULL)");
    SpaceSettings settings;
    EXPECT_THROW(read_space_settings(link, "Nul", settings), ConversionError);
    EXPECT_EQ(link.handle, nullptr);
    EXPECT_EQ(db->open_connections(), 0);
}

TEST_F(StationQueries, HostileNamesWorkAndChangeNothing) {
    const std::string space = "L''Atelier \\\\ 100% \"quotes\" %s %n";
    const std::string name = "Poste ''; DROP TABLE tab_user; --";
    add_station(space, name, "00-00-00-00-00-01", 1);
    db->exec("INSERT INTO tab_config_logiciel (id_espace, affichage_temps_logiciel) VALUES (" +
             db->scalar("SELECT MAX(id_espace) FROM tab_espace") + ", 3)");
    db->exec(
        "INSERT INTO tab_message_kalimo (corp_message, espace_message, status_message) VALUES ('Bonjour', " +
        db->scalar("SELECT MAX(id_espace) FROM tab_espace") + ", 0)");
    FixedText<1000> found;
    int status = 1;
    read_space_name(link, "Poste '; DROP TABLE tab_user; --", found, status);
    ASSERT_EQ(status, 0);
    EXPECT_EQ(found.str(), "L'Atelier \\ 100% \"quotes\" %s %n");
    SpaceSettings settings;
    read_space_settings(link, found.c_str(), settings);
    EXPECT_EQ(settings.affichage_temps_logiciel, 3);
    int visible = 0;
    EXPECT_EQ(load_space_message(link, found.c_str(), visible), "Bonjour");
    EXPECT_EQ(visible, 1);
    EXPECT_EQ(db->count("tab_user"), 0) << "the table is still there";
}

TEST_F(StationQueries, NetworkWideMessageWinsOverTheSpaceOneAndNewestWins) {
    add_station("Espace", "P1", "00-00-00-00-00-01", 1);
    const std::string id = space_id("Espace");
    db->exec("INSERT INTO tab_message_kalimo (corp_message, espace_message, status_message) VALUES "
             "('ancien', '" +
             id + "', 0), ('récent', '" + id + "', 0), ('inactif', '" + id + "', 1)");
    int visible = 0;
    EXPECT_EQ(load_space_message(link, "Espace", visible), "r\xe9\x63\x65nt");
    EXPECT_EQ(visible, 1);
    db->exec("INSERT INTO tab_message_kalimo (corp_message, espace_message, status_message) VALUES "
             "('pour tous', '0', 0), ('pour tous, inactif', '0', 2)");
    EXPECT_EQ(load_space_message(link, "Espace", visible), "pour tous");
    EXPECT_EQ(load_space_message(link, "Espace inconnu", visible), "pour tous")
        << "an unknown space can still show the network-wide message";
}

TEST_F(StationQueries, NoMessageOrNoServerHidesTheMemo) {
    add_station("Espace", "P1", "00-00-00-00-00-01", 1);
    int visible = 1;
    EXPECT_EQ(load_space_message(link, "Espace", visible), "");
    EXPECT_EQ(visible, 0);
    db->exec(
        "INSERT INTO tab_message_kalimo (corp_message, espace_message, status_message) VALUES ('x', '0', 0)");
    std::remove("Configuration_Base_de_donnee.init");
    visible = 1;
    EXPECT_EQ(load_space_message(link, "Espace", visible), "");
    EXPECT_EQ(visible, 0);
}

TEST_F(StationQueries, AFailingSpaceMessageStatementSkipsTheNetworkWideOne) {
    add_station("Espace", "P1", "00-00-00-00-00-01", 1);
    db->exec(
        "INSERT INTO tab_message_kalimo (corp_message, espace_message, status_message) VALUES ('x', '0', 0)");
    db->exec("DROP TABLE tab_message_kalimo");
    int visible = 1;
    EXPECT_EQ(load_space_message(link, "Espace", visible), "");
    EXPECT_EQ(visible, 0);
}

TEST_F(StationQueries, HeartbeatWritesDateAndSecondsSinceMidnight) {
    const int id = add_station("Espace", "P1", "00-00-00-00-00-01", 1);
    const int other = add_station("Autre", "P2", "00-00-00-00-00-02", 1);
    system.now = LocalTime{2026, 12, 7, 0, 0, 3};
    report_station_alive(link, id);
    EXPECT_EQ(
        db->scalar("SELECT CONCAT(date_lastetat_computer, ' ', lastetat_computer) FROM tab_computer WHERE "
                   "id_computer=" +
                   std::to_string(id)),
        "2026-12-07 3");
    system.now = LocalTime{2026, 12, 7, 23, 59, 59};
    report_station_alive(link, id);
    EXPECT_EQ(
        db->scalar("SELECT lastetat_computer FROM tab_computer WHERE id_computer=" + std::to_string(id)),
        "86399");
    EXPECT_EQ(
        db->scalar("SELECT lastetat_computer FROM tab_computer WHERE id_computer=" + std::to_string(other)),
        "0");
    report_station_alive(link, 0); // before identification: matches no row
    EXPECT_EQ(db->scalar("SELECT COUNT(*) FROM tab_computer WHERE lastetat_computer=86399"), "1");
}

TEST_F(StationQueries, TheDemoRoomLoadsOnADefaultStrictServerAndIdentifiesItsStations) {
    std::ifstream file(std::string(KALIMO_SOURCE_DIR) + "/db/demo.sql", std::ios::binary);
    std::stringstream demo;
    demo << file.rdbuf();
    ASSERT_FALSE(demo.str().empty());
    db->exec(demo.str());
    const std::string mac =
        db->scalar("SELECT adresse_mac_computer FROM tab_computer WHERE nom_computer='Poste-01'");
    int status = 0;
    int id_computer = 0;
    find_computer_by_mac(link, mac.c_str(), id_computer, status);
    ASSERT_EQ(status, 0);
    FixedText<1000> space;
    read_space_name(link, "Poste-01", space, status);
    EXPECT_EQ(status, 0);
    EXPECT_FALSE(space.str().empty());
    EXPECT_GE(db->count("tab_utilisation"), 16);
}
