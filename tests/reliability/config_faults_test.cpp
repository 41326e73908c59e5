// Both configuration files broken in the ways a station's disk can break them: binary garbage, ten
// megabytes, a directory in the file's place, read-only, missing lines.
#include "fonction/config_files.h"
#include "fonction/db_link.h"
#include "tests/support/station_fixture.h"
#include "ui_parametrage.h"

#include <QComboBox>
#include <QLineEdit>

#include <sys/stat.h>

#include <chrono>
#include <functional>
#include <random>

namespace {

std::string garbage(std::size_t size) {
    std::mt19937 random(20261209);
    std::string bytes(size, '\0');
    for (char& b : bytes) {
        b = static_cast<char>(random() & 0xFF);
    }
    return bytes;
}

class ConfigFaults : public StationTest {
  protected:
    void SetUp() override {
        StationTest::SetUp();
        REQUIRE_SERVER();
        with_database();
        add_room("Espace Jean Moulin", "Poste-01", 1, "1, 1, 0, 0, 0, 0");
        good_database_file = folder.read_file(database_file_name);
    }
    void TearDown() override {
        for (const char* name : {database_file_name, station_file_name}) {
            ::chmod(name, 0644);
            ::rmdir(name);
        }
        StationTest::TearDown();
    }
    // Starts a fresh window and returns how long the start took.
    double start_timed() {
        window.reset();
        const auto begin = std::chrono::steady_clock::now();
        start();
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    }
    void replace_with_directory(const char* name) {
        std::remove(name);
        ASSERT_EQ(::mkdir(name, 0755), 0);
    }
    bool on_welcome_screen() const {
        return window->identification()->isVisible() && window->windowTitle() == QStringLiteral("Kalimo");
    }
    // A station that was set up and cannot reach its server: locked, waiting for it.
    bool locked_awaiting_server() const {
        return on_welcome_screen() && window->awaiting_server && window->station.close_allowed == 0 &&
               window->stays_on_top();
    }
    bool on_setup_screen() const {
        return window->parametrage()->isVisible() && window->station.db_check == 1;
    }
    bool on_staff_setup_login() const {
        return window->identification()->isVisible() &&
               window->windowTitle() == QStringLiteral("Kalimo - Paramétrage");
    }
    std::string good_database_file;
};

} // namespace

TEST_F(ConfigFaults, ABrokenDatabaseFileIsAServerOutOfReachTheStationStaysLockedAndSetUpOpensWithoutItsFile) {
    struct Case {
        const char* what;
        std::function<void()> arrange;
        bool identified; // the four lines still reach the server
    };
    const std::string ten_megabytes(10 * 1024 * 1024, 'z');
    const std::vector<Case> cases = {
        {"binary garbage", [&] { folder.write_file(database_file_name, garbage(4096)); }, false},
        {"10 MB on one line", [&] { folder.write_file(database_file_name, ten_megabytes); }, false},
        {"10 MB after the four lines",
         [&] { folder.write_file(database_file_name, good_database_file + "\r\n" + ten_megabytes); }, true},
        {"a directory", [&] { replace_with_directory(database_file_name); }, false},
        {"read-only",
         [&] {
             folder.write_file(database_file_name, good_database_file);
             ::chmod(database_file_name, 0444);
         },
         true},
        {"two lines only",
         [&] {
             folder.write_file(database_file_name,
                               good_database_file.substr(
                                   0, good_database_file.find("\r\n", good_database_file.find("\r\n") + 2)));
         },
         false},
        {"empty", [&] { folder.write_file(database_file_name, ""); }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ::chmod(database_file_name, 0644);
        ::rmdir(database_file_name);
        c.arrange();
        const double took = start_timed();
        EXPECT_LT(took, 5.0) << "read at every connection, the file must not hold the station up";
        if (c.identified) {
            EXPECT_TRUE(on_welcome_screen());
        } else {
            EXPECT_TRUE(locked_awaiting_server()) << "a station that was set up stays locked";
            // Staff bring the set-up screen up by removing the station file.
            std::remove(station_file_name);
            start_timed();
            EXPECT_TRUE(on_setup_screen());
            EXPECT_EQ(window->parametrage()->ui()->Parametrage_combobox_nom_poste->currentText(),
                      QStringLiteral("Pas de connexion à la base de données"));
            // What the edits show is what a reader of the file gets: at most 254 characters a line.
            EXPECT_LE(window->parametrage()->ui()->Parametrage_edit_nom_table_bdd->text().size(), 254);
            folder.write_file(station_file_name, kMac);
        }
        EXPECT_TRUE(errors.empty());
        EXPECT_EQ(connections_beyond_kept_links(), 0);
    }
}

TEST_F(ConfigFaults, ADirectoryInPlaceOfTheDatabaseFileIsReportedWhenSetUpWritesIt) {
    replace_with_directory(database_file_name);
    std::remove(station_file_name);
    start();
    ASSERT_TRUE(on_setup_screen());
    auto* screen = window->parametrage()->ui();
    screen->Parametrage_edit_nom_table_bdd->setText(QString::fromStdString(db->name()));
    screen->Parametrage_edit_adresse_bdd->setText(QStringLiteral("127.0.0.1"));
    screen->Parametrage_edit_nom_bdd->setText(QStringLiteral("kalimo_poste"));
    screen->Parametrage_edit_mdp_bdd->setText(QStringLiteral("poste"));
    screen->Bouton_valider_parametrage->click();
    EXPECT_EQ(messages,
              (std::vector<QString>{QStringLiteral("l'ecriture du fichier texte n'a pas reussi"),
                                    QStringLiteral("la nouvelle configuration de la bdd est mauvaise")}));
    EXPECT_TRUE(window->parametrage()->isVisible());
    EXPECT_EQ(db->scalar("SELECT COUNT(*) FROM tab_computer WHERE adresse_mac_computer=''"), "0")
        << "the record keeps its MAC";
    EXPECT_EQ(connections_beyond_kept_links(), 0);
}

TEST_F(ConfigFaults, ABrokenStationFileDoesNotIdentifyTheStation) {
    struct Case {
        const char* what;
        std::function<void()> arrange;
        bool identified;
    };
    const std::vector<Case> cases = {
        {"binary garbage", [&] { folder.write_file(station_file_name, garbage(4096)); }, false},
        {"10 MB", [&] { folder.write_file(station_file_name, std::string(10 * 1024 * 1024, '0')); }, false},
        {"the MAC followed by 10 MB",
         [&] {
             folder.write_file(station_file_name, std::string(kMac) + std::string(10 * 1024 * 1024, '0'));
         },
         false},
        {"a directory", [&] { replace_with_directory(station_file_name); }, false},
        {"missing", [&] { std::remove(station_file_name); }, false},
        {"empty", [&] { folder.write_file(station_file_name, ""); }, false},
        {"read-only",
         [&] {
             folder.write_file(station_file_name, kMac);
             ::chmod(station_file_name, 0444);
         },
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ::chmod(station_file_name, 0644);
        ::rmdir(station_file_name);
        c.arrange();
        EXPECT_LT(start_timed(), 5.0);
        if (c.identified) {
            EXPECT_TRUE(on_welcome_screen());
        } else {
            EXPECT_TRUE(on_staff_setup_login()) << "not identified, server reachable: staff sign in first";
            EXPECT_LE(window->config.station_mac.size(), 19u);
        }
        EXPECT_TRUE(errors.empty());
        EXPECT_EQ(connections_beyond_kept_links(), 0);
    }
}
