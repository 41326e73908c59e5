// The station against a server that goes away, comes back, never answers or is misconfigured. The
// server here is the test's own: stopping the shared one would break every other test.
#include "fonction/config_files.h"
#include "fonction/db_link.h"
#include "fonction/registration_queries.h"
#include "fonction/session_queries.h"
#include "fonction/setup_queries.h"
#include "fonction/station_queries.h"
#include "fonction/station_worker.h"
#include "platform/posix/file_broker.h"
#include "session/compteur_temps.h"
#include "tests/reliability/private_server.h"
#include "tests/support/station_fixture.h"
#include "ui_compteur_temps.h"
#include "ui_inscription.h"
#include "ui_parametrage.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QSignalBlocker>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>

namespace {

using Clock = std::chrono::steady_clock;

// A connection attempt to a server that is gone or silent is bounded by the connect timeout; the rest
// of a tick (file, widgets) takes a small fraction of a second.
constexpr auto connect_bound = std::chrono::seconds(connect_timeout_seconds);
constexpr auto tick_bound = connect_bound + std::chrono::seconds(1);

double seconds_of(const std::function<void()>& work) {
    const auto begin = Clock::now();
    work();
    return std::chrono::duration<double>(Clock::now() - begin).count();
}

// Counts the paint events a widget receives.
class PaintCounter : public QObject {
  public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            ++paints;
        }
        return false;
    }
};

class PrivateServerTest : public StationTest {
  protected:
    void SetUp() override {
        StationTest::SetUp();
        std::string why;
        server = PrivateServer::shared(why);
        if (server == nullptr) {
            if (server_required()) {
                FAIL() << "a private MariaDB server is required: " << why;
            }
            GTEST_SKIP() << "no private MariaDB server: " << why;
        }
        host.emplace(server->host());
        with_database();
        baseline = server->connections_settled(1);
    }
    void TearDown() override {
        StationTest::TearDown();
        if (server != nullptr && !server->running()) {
            std::string ignored;
            server->start(ignored); // the next test finds it up
        }
        db.reset();
        host.reset();
    }
    std::vector<std::vector<std::string>> rows(const std::string& sql) {
        return server->rows(db->name(), sql);
    }
    // Connections beyond the test's own and the worker's two kept links.
    long long beyond_kept_links() {
        return std::max(0LL, server->connections_settled(baseline + 2) - baseline - 2);
    }
    std::vector<std::string> session_row() {
        return rows("SELECT duree_resa, status_resa FROM tab_resa WHERE id_resa=" + std::to_string(id_resa))
            .at(0);
    }
    void open_session(const std::string& settings, int minutes) {
        add_room("Espace Jean Moulin", "Poste-01", 1, settings);
        start();
        add_user("mdurand", "soleil", 1, minutes);
        sign_in(QStringLiteral("mdurand"), QStringLiteral("soleil"));
        ASSERT_TRUE(messages.empty());
        ASSERT_TRUE(window->Timer1.isActive());
        id_resa = window->session.id_resa;
        ASSERT_GT(id_resa, 0);
    }
    QString shown() const { return window->compteur_temps()->ui()->Compteur_Temps_parcouru->text(); }
    // One tick of the counter, as the timer would run it; returns its duration in seconds.
    double tick() {
        system.advance(1000);
        return seconds_of([this] { guarded(window.get(), [this] { window->sessions().Timer1Timer(); }); });
    }
    double heartbeat() {
        return seconds_of([this] { guarded(window.get(), [this] { window->Timer3Timer(); }); });
    }
    void expect_locked() {
        EXPECT_FALSE(window->Timer1.isActive());
        EXPECT_TRUE(window->identification()->isVisible());
        EXPECT_FALSE(window->compteur_temps()->isVisible());
        EXPECT_FALSE(window->parametrage()->isVisible());
        EXPECT_TRUE(window->Timer_premier_plan_application.isActive());
        EXPECT_TRUE(window->stays_on_top());
        EXPECT_TRUE(window->frameless());
        EXPECT_EQ(window->geometry(), QRect(0, 0, 1920, 1080));
        EXPECT_EQ(window->station.close_allowed, 0);
        EXPECT_EQ(window->windowTitle(), QStringLiteral("Kalimo"));
    }

    PrivateServer* server = nullptr;
    std::optional<TestHostOverride> host;
    long long baseline = 0;
    int id_resa = 0;
};

} // namespace

TEST_F(PrivateServerTest, AServerStoppedDuringASessionLetsItCountEndAndLockTheStation) {
    open_session("1, 1, 0, 0, 0, 0", 120);
    tick();
    tick();
    server->stop();
    for (int i = 0; i < 10; ++i) {
        EXPECT_LT(tick(), std::chrono::duration<double>(tick_bound).count());
    }
    EXPECT_LT(heartbeat(), std::chrono::duration<double>(tick_bound).count());
    EXPECT_EQ(shown(), QStringLiteral("11 s"));
    EXPECT_TRUE(window->Timer1.isActive());
    EXPECT_TRUE(errors.empty());

    window->session.elapsed_seconds = 185;
    window->compteur_temps()->ui()->Compteur_Bouton_deconnexion->click();
    expect_locked();
    ASSERT_EQ(window->worker().pending_closes().size(), 1u);
    EXPECT_TRUE(messages.empty());
    EXPECT_LT(heartbeat(), std::chrono::duration<double>(tick_bound).count());
    EXPECT_EQ(window->worker().pending_closes().size(), 1u);

    std::string why;
    ASSERT_TRUE(server->start(why)) << why;
    heartbeat();
    EXPECT_EQ(session_row(), (std::vector<std::string>{"3", "1"}));
    EXPECT_TRUE(window->worker().pending_closes().empty());
    EXPECT_EQ(window->station.setup_required, 0) << "identified again once the server answers";
    expect_locked();
    sign_in(QStringLiteral("mdurand"), QStringLiteral("soleil"));
    EXPECT_TRUE(messages.empty()) << "the visitor is no longer held as signed in";
    EXPECT_TRUE(window->Timer1.isActive());
}

// Every station of a room boots while the server is down: none unlocks. Each identifies itself at the
// first heartbeat that reaches the server, but never while a visitor fills in the registration form.
TEST_F(PrivateServerTest, AStationSetUpBeforeStaysLockedUntilItsServerAnswersAndWaitsForTheForm) {
    add_room("Espace Jean Moulin", "Poste-01", 1, "1, 1, 0, 0, 0, 1");
    add_user("mdurand", "soleil", 1, 120);
    server->stop();
    start();
    expect_locked();
    EXPECT_TRUE(window->awaiting_server);
    EXPECT_LT(heartbeat(), std::chrono::duration<double>(tick_bound).count());
    id()->Identification_bouton_inscription->click();
    ASSERT_TRUE(window->inscription()->isVisible());

    std::string why;
    ASSERT_TRUE(server->start(why)) << why;
    heartbeat();
    EXPECT_TRUE(window->inscription()->isVisible()) << "the visitor keeps the form";
    EXPECT_EQ(window->station.setup_required, 1);
    window->inscription()->ui()->Bouton_retour_inscription->click();
    heartbeat();
    EXPECT_EQ(window->station.setup_required, 0);
    EXPECT_FALSE(window->awaiting_server);
    EXPECT_EQ(id()->Identification_label_nom_espace->text(), QStringLiteral("Espace Jean Moulin"));
    expect_locked();
    EXPECT_TRUE(errors.empty());

    // Once more, and the visitor leaves the form and signs in before the next heartbeat: the station
    // identifies itself first, so the session is this computer's and follows its space's settings.
    server->stop();
    window->start_station();
    ASSERT_TRUE(window->awaiting_server);
    id()->Identification_bouton_inscription->click();
    ASSERT_TRUE(server->start(why)) << why;
    heartbeat();
    ASSERT_TRUE(window->inscription()->isVisible());
    window->inscription()->ui()->Bouton_retour_inscription->click();
    ASSERT_TRUE(window->awaiting_server);
    sign_in(QStringLiteral("mdurand"), QStringLiteral("soleil"));
    EXPECT_TRUE(messages.empty());
    ASSERT_TRUE(window->Timer1.isActive());
    EXPECT_EQ(window->station.settings.deconnexion_auto_logiciel, 1);
    EXPECT_EQ(rows("SELECT id_computer_resa FROM tab_resa WHERE status_resa=0"),
              (std::vector<std::vector<std::string>>{{std::to_string(id_computer)}}));
}

// Staff who mended the server validate the set-up screen with the same database values: the station
// tries the server, though its last attempt failed.
TEST_F(PrivateServerTest, SetUpValidatedOnceTheServerIsBackTriesItWithTheSameValues) {
    add_room("Espace Jean Moulin", "Poste-01", 1, "1, 1, 0, 0, 0, 0");
    std::remove("Configuration_Poste_MAC.init");
    server->stop();
    start();
    ASSERT_TRUE(window->parametrage()->isVisible());
    std::string why;
    ASSERT_TRUE(server->start(why)) << why;
    auto* p = window->parametrage()->ui();
    EXPECT_FALSE(p->Parametrage_edit_adresse_bdd->text().isEmpty()) << "the values the file holds";
    p->Bouton_valider_parametrage->click();
    EXPECT_TRUE(messages.empty()) << "not refused as a bad configuration";
    EXPECT_EQ(window->station.db_check, 0) << "the station started again against its server";
}

TEST_F(PrivateServerTest, AServerStoppedDuringASessionStillEndsItWhenTheCreditIsSpent) {
    open_session("1, 1, 0, 0, 1, 1", 1);
    for (int i = 0; i < 5; ++i) {
        tick();
    }
    server->stop();
    int ticks = 5;
    while (window->Timer1.isActive() && ticks < 100) {
        EXPECT_LT(tick(), std::chrono::duration<double>(tick_bound).count());
        ++ticks;
    }
    EXPECT_EQ(ticks, 61) << "the 61st tick of a one-minute credit ends the session";
    expect_locked();
    ASSERT_EQ(window->worker().pending_closes().size(), 1u);

    std::string why;
    ASSERT_TRUE(server->start(why)) << why;
    heartbeat();
    EXPECT_EQ(session_row(), (std::vector<std::string>{"1", "1"}));
    window.reset();
    EXPECT_EQ(server->connections_settled(0), 0)
        << "the test's own connection went with the restart, the station's kept links with the station";
}

TEST_F(PrivateServerTest, AfterARestartTheNextPollWorksAndTheRowIsClosedCorrectly) {
    open_session("1, 1, 0, 0, 0, 0", 120);
    tick();
    server->stop();
    tick();
    std::string why;
    ASSERT_TRUE(server->start(why)) << why;
    tick();
    EXPECT_EQ(shown(), QStringLiteral("2 s"));
    rows("UPDATE tab_resa SET status_resa=2 WHERE id_resa=" + std::to_string(id_resa));
    tick();
    EXPECT_TRUE(window->Timer1.isActive()) << "status 2 was read and is not an end";

    window->session.elapsed_seconds = 600;
    window->sessions().Compteur_Bouton_deconnexionClick();
    EXPECT_EQ(session_row(), (std::vector<std::string>{"90", "2"})) << "a closed row keeps its status";
    EXPECT_EQ(window->worker().pending_closes().size(), 1u) << "the refused close is kept";
    heartbeat();
    EXPECT_TRUE(window->worker().pending_closes().empty()) << "then dropped: the row is closed";
    expect_locked();
    EXPECT_EQ(window->station.setup_required, 0);

    // Staff closing a row from outside after the restart ends the next session at the next poll.
    sign_in(QStringLiteral("mdurand"), QStringLiteral("soleil"));
    ASSERT_TRUE(window->Timer1.isActive());
    id_resa = window->session.id_resa;
    rows("UPDATE tab_resa SET status_resa=1 WHERE id_resa=" + std::to_string(id_resa));
    tick();
    EXPECT_FALSE(window->Timer1.isActive());
    EXPECT_EQ(session_row(), (std::vector<std::string>{"1", "1"}));
    window.reset();
    EXPECT_EQ(server->connections_settled(0), 0)
        << "the test's own connection went with the restart, the station's kept links with the station";
}

TEST_F(PrivateServerTest, ASilentServerHoldsEachOperationNoLongerThanTheConnectBound) {
    SilentListener silent;
    ASSERT_TRUE(silent.listening());
    open_session("1, 1, 0, 0, 0, 0", 120);
    const std::string good = folder.read_file("Configuration_Base_de_donnee.init");
    folder.write_file("Configuration_Base_de_donnee.init",
                      db->name() + "\r\n" + silent.host() + "\r\nkalimo\r\nkalimo");

    PaintCounter painted;
    QLabel* counter = window->compteur_temps()->ui()->Compteur_Temps_parcouru;
    counter->installEventFilter(&painted);
    for (int i = 0; i < 3; ++i) {
        const int before = painted.paints;
        const double took = tick();
        EXPECT_LT(took, std::chrono::duration<double>(tick_bound).count());
        EXPECT_GE(took, std::chrono::duration<double>(connect_bound).count() - 0.5)
            << "it did wait for the server";
        {
            // The event loop between two ticks, without letting the timers run ticks of their own.
            const QSignalBlocker counter_timer(window->Timer1);
            const QSignalBlocker heartbeat_timer(window->Timer3);
            QApplication::processEvents();
        }
        EXPECT_GT(painted.paints, before) << "the window repaints between ticks";
    }
    EXPECT_EQ(shown(), QStringLiteral("2 s"));
    EXPECT_LT(heartbeat(), std::chrono::duration<double>(tick_bound).count());
    counter->removeEventFilter(&painted);

    // Every kind of operation, each bounded on its own.
    DbLink link;
    const double bound = std::chrono::duration<double>(tick_bound).count();
    int status = 0;
    int value = 0;
    FixedText<100> name;
    FixedText<1000> space;
    SpaceSettings settings;
    int outcome = 0;
    RegistrationValues registration;
    const std::vector<std::pair<const char*, std::function<void()>>> operations = {
        {"find_computer_by_mac", [&] { find_computer_by_mac(link, kMac, value, status); }},
        {"read_computer_name", [&] { read_computer_name(link, 1, name, status); }},
        {"read_space_name", [&] { read_space_name(link, "Poste-01", space, status); }},
        {"read_space_settings", [&] { read_space_settings(link, "Espace Jean Moulin", settings); }},
        {"load_space_message", [&] { load_space_message(link, "Espace Jean Moulin", status); }},
        {"lookup_account", [&] { lookup_account(link, "mdurand", "x", value, value, outcome); }},
        {"compute_credit", [&] { compute_credit(link, 1, value); }},
        {"open_session_row", [&] { open_session_row(link, 1, 1, 90, value); }},
        {"close_session_row", [&] { close_session_row(link, 1, 1, id_resa); }},
        {"count_free_computers", [&] { count_free_computers(link, value); }},
        {"count_cities", [&] { count_cities(link, value); }},
        {"insert_registration", [&] { insert_registration(link, registration); }},
    };
    for (const auto& [operation, run_it] : operations) {
        EXPECT_LT(seconds_of(run_it), bound) << operation;
        EXPECT_EQ(link.handle, nullptr) << operation << " closed its link";
    }
    EXPECT_GE(silent.accepted(), static_cast<int>(operations.size()));

    folder.write_file("Configuration_Base_de_donnee.init", good);
    window->session.elapsed_seconds = 185;
    window->sessions().Compteur_Bouton_deconnexionClick();
    EXPECT_EQ(session_row(), (std::vector<std::string>{"3", "1"}));
    EXPECT_EQ(db->count("tab_resa"), 1) << "the silent server took no row";
    EXPECT_EQ(beyond_kept_links(), 0);
}

// A kept link (the worker's) whose connection died between two operations is opened anew, and the
// operation has the outcome it would have had, its statements sent once. One whose server keeps
// silent on it is not connected after no longer than a new connection's bound.
TEST_F(PrivateServerTest, AKeptLinkWhoseConnectionDiedIsOpenedAnewAndSendsEachStatementOnce) {
    const int computer = add_room();
    DbLink link;
    link.keep_open = true;
    struct Drop {
        DbLink& link;
        ~Drop() { drop_link(link); }
    } drop{link};
    int id = 0;
    open_session_row(link, computer, 1, 90, id);
    ASSERT_GT(id, 0);
    const std::vector<std::pair<const char*, std::function<void()>>> deaths = {
        {"the server restarted",
         [&] {
             server->stop();
             std::string why;
             ASSERT_TRUE(server->start(why)) << why;
         }},
        {"the server ended it (its wait_timeout, a balancer dropping a node)",
         [&] { rows("KILL CONNECTION " + std::to_string(mysql_thread_id(link.handle))); }},
    };
    for (const auto& [death, cause] : deaths) {
        SCOPED_TRACE(death);
        const long long rows_before = db->count("tab_resa");
        ASSERT_NE(link.handle, nullptr) << "kept";
        const unsigned long connection = mysql_thread_id(link.handle);
        cause();
        id = 0;
        open_session_row(link, computer, 1, 90, id);
        EXPECT_GT(id, 0);
        EXPECT_EQ(db->count("tab_resa"), rows_before + 1);
        EXPECT_NE(mysql_thread_id(link.handle), connection);
    }

    server->pause();
    struct Resume {
        PrivateServer* server;
        ~Resume() { server->resume(); }
    } resume{server};
    int status = 0;
    const double took = seconds_of([&] { find_computer_by_mac(link, kMac, id, status); });
    EXPECT_EQ(status, 1) << "not connected, as a new connection would not be";
    EXPECT_GE(took, std::chrono::duration<double>(connect_bound).count() - 0.5);
    EXPECT_LT(took, std::chrono::duration<double>(tick_bound).count());
    server->resume();
    id = 0;
    find_computer_by_mac(link, kMac, id, status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(id, computer);
}

TEST_F(PrivateServerTest, MisconfiguredAccessAndBrokenTablesHaveTheirOutcomesAndLeaveNoConnection) {
    add_room("Espace Jean Moulin", "Poste-01", 1, "1, 1, 0, 0, 0, 0");
    add_user("mdurand", "soleil", 1, 120);
    const std::string good = folder.read_file("Configuration_Base_de_donnee.init");
    const std::string host_line = server->host();

    // Wrong credentials and an unknown database are an unreachable server: the station that was set up
    // stays locked; without its station file the set-up screen opens directly, windowed, with both
    // lists saying so.
    for (const std::string& file : {db->name() + "\r\n" + host_line + "\r\nkalimo\r\nmauvais",
                                    db->name() + "\r\n" + host_line + "\r\ninconnu\r\nkalimo",
                                    std::string("base_absente\r\n") + host_line + "\r\nkalimo\r\nkalimo"}) {
        SCOPED_TRACE(file);
        folder.write_file("Configuration_Base_de_donnee.init", file);
        window.reset();
        start();
        expect_locked();
        EXPECT_TRUE(window->awaiting_server);
        std::remove("Configuration_Poste_MAC.init");
        window.reset();
        start();
        folder.write_file("Configuration_Poste_MAC.init", kMac);
        EXPECT_TRUE(window->parametrage()->isVisible());
        EXPECT_EQ(window->station.db_check, 1);
        EXPECT_EQ(window->parametrage()->ui()->Parametrage_combobox_nom_poste->currentText(),
                  QStringLiteral("Pas de connexion à la base de données"));
        EXPECT_TRUE(errors.empty());
        EXPECT_EQ(beyond_kept_links(), 0);
    }
    folder.write_file("Configuration_Base_de_donnee.init", good);

    // A NULL where an integer is read: the conversion error box, and the handler ends there.
    struct Broken {
        const char* what;
        const char* sql;
        bool at_start;       // the error comes at start-up, else at sign-in
        long long resa_rows; // rows of tab_resa the test put there
    };
    const std::vector<Broken> nulls = {
        {"usage", "UPDATE tab_computer SET usage_computer=NULL", true, 0},
        {"a setting", "UPDATE tab_config_logiciel SET affichage_temps_logiciel=NULL", true, 0},
        {"status_user", "UPDATE tab_user SET status_user=NULL", false, 0},
        {"temps_user", "UPDATE tab_user SET temps_user=NULL", false, 0},
        {"duree_resa",
         "INSERT INTO tab_resa (id_user_resa, date_resa, duree_resa, status_resa) VALUES (1, "
         "'2026-12-09', NULL, 2)",
         false, 1},
    };
    for (const Broken& broken : nulls) {
        SCOPED_TRACE(broken.what);
        db.reset();
        with_database();
        add_room("Espace Jean Moulin", "Poste-01", 1, "1, 1, 0, 0, 0, 0");
        add_user("mdurand", "soleil", 1, 120);
        db->exec(broken.sql);
        errors.clear();
        messages.clear();
        window.reset();
        start();
        if (!broken.at_start) {
            ASSERT_TRUE(errors.empty());
            sign_in(QStringLiteral("mdurand"), QStringLiteral("soleil"));
            EXPECT_TRUE(id()->Identification_labeledit_identifiant->text().isEmpty());
            EXPECT_FALSE(window->Timer1.isActive());
            EXPECT_EQ(db->count("tab_resa"), broken.resa_rows) << "no session opened";
        }
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_EQ(errors[0], QStringLiteral("'' n'est pas une valeur entière correcte"));
        EXPECT_EQ(messages.size(), 1u) << "nothing but the error box";
        EXPECT_EQ(beyond_kept_links(), 0);
    }

    // Missing tables: each lookup that needs one fails quietly and its screen decides.
    struct Missing {
        const char* table;
        std::function<void()> check;
    };
    const std::vector<Missing> missing = {
        {"tab_message_kalimo",
         [&] {
             EXPECT_TRUE(window->identification()->isVisible());
             EXPECT_FALSE(id()->Identification_memo_message_espace->isVisible());
         }},
        {"tab_config_logiciel",
         [&] {
             EXPECT_TRUE(window->identification()->isVisible());
             EXPECT_EQ(window->station.settings.config_menu_logiciel, 0);
         }},
        {"tab_resa",
         [&] {
             sign_in(QStringLiteral("mdurand"), QStringLiteral("soleil"));
             EXPECT_EQ(messages,
                       std::vector<QString>{QStringLiteral("Identifiant ou mot de passe incorrect")});
             EXPECT_FALSE(window->Timer1.isActive());
         }},
        {"tab_city",
         [&] {
             id()->Identification_bouton_inscription->click();
             EXPECT_EQ(window->inscription()->ui()->Inscription_ComboBox_ville->count(), 0);
         }},
        {"tab_computer",
         [&] {
             EXPECT_TRUE(window->identification()->isVisible());
             EXPECT_EQ(window->windowTitle(), QStringLiteral("Kalimo - Paramétrage"))
                 << "not identified, server reachable: staff sign in first";
         }},
    };
    for (const Missing& table : missing) {
        SCOPED_TRACE(table.table);
        db.reset();
        with_database();
        add_room("Espace Jean Moulin", "Poste-01", 1, "1, 1, 0, 0, 0, 0");
        add_user("mdurand", "soleil", 1, 120);
        db->exec(std::string("DROP TABLE ") + table.table);
        errors.clear();
        messages.clear();
        window.reset();
        start();
        table.check();
        EXPECT_TRUE(errors.empty());
        EXPECT_EQ(beyond_kept_links(), 0);
    }
}

namespace {

// The link to a server that offers TLS: encrypted whatever the station has, verified when the
// server's authority is beside its files. With a link of one connection per operation, and with a kept
// one (the worker's), which must not be used again once the authority is another or is new.
class EncryptedLink : public ::testing::TestWithParam<bool> {
  protected:
    static void SetUpTestSuite() { server = PrivateServer::start_new_tls(failure).release(); }
    static void TearDownTestSuite() {
        delete server;
        server = nullptr;
    }
    void SetUp() override {
        if (server == nullptr) {
            if (server_required()) {
                FAIL() << "a private MariaDB server with TLS is required: " << failure;
            }
            GTEST_SKIP() << "no private MariaDB server with TLS: " << failure;
        }
        plain_host = ServerAccess::from_environment().host;
        host.emplace(server->host());
        db = std::make_unique<TestDatabase>();
        db->write_database_file();
        db->exec(
            "INSERT INTO tab_computer (nom_computer, adresse_mac_computer, usage_computer) VALUES ('P1', "
            "'00-00-00-00-00-01', 1)");
        link.keep_open = GetParam();
    }
    void TearDown() override { drop_link(link); }
    static std::string bytes_of(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    // The cipher the server sees on a connection of the station's; "" for a plain one, "!" when the
    // station is not connected.
    std::string station_cipher() {
        int status = 1;
        LinkScope scope(link, status);
        if (status != 0) {
            return "!";
        }
        if (!run(link, "SHOW SESSION STATUS LIKE 'Ssl_cipher'", {}) || !store_result(link) ||
            fetch_row(link) != Fetch::Row) {
            return "?";
        }
        return column(link, 1);
    }
    // The station's own first lookup, as start-up makes it: 1 when it cannot connect.
    int identification_status() {
        int id = 0;
        int status = -1;
        find_computer_by_mac(link, "00-00-00-00-00-01", id, status);
        return status;
    }
    static PrivateServer* server;
    static std::string failure;
    std::string plain_host;
    std::optional<TestHostOverride> host;
    WorkingFolder folder;
    std::unique_ptr<TestDatabase> db;
    DbLink link;
};

PrivateServer* EncryptedLink::server = nullptr;
std::string EncryptedLink::failure;

} // namespace

INSTANTIATE_TEST_SUITE_P(KeptOrNot, EncryptedLink, ::testing::Bool());

TEST_P(EncryptedLink, EveryConnectionIsEncryptedAndTheAuthorityBesideTheFilesIsRequiredOfTheServer) {
    EXPECT_NE(station_cipher(), "") << "encrypted without an authority too";
    EXPECT_EQ(identification_status(), 0);
    folder.write_file(server_authority_file_name, bytes_of(server->foreign_authority_file()));
    EXPECT_EQ(station_cipher(), "!");

    folder.write_file(server_authority_file_name, bytes_of(server->authority_file()));
    const std::string cipher = station_cipher();
    EXPECT_NE(cipher, "");
    EXPECT_NE(cipher, "!") << "the server proves itself against its authority";
    EXPECT_EQ(identification_status(), 0);

    // Another authority, a file that cannot be read as one, a server that offers no TLS at all: each is
    // a server the station does not talk to.
    folder.write_file(server_authority_file_name, bytes_of(server->foreign_authority_file()));
    EXPECT_EQ(station_cipher(), "!");
    EXPECT_EQ(identification_status(), 1);
    folder.write_file(server_authority_file_name, "not a certificate");
    EXPECT_EQ(station_cipher(), "!");
    std::remove(server_authority_file_name);
    ASSERT_EQ(::mkdir(server_authority_file_name, 0700), 0);
    EXPECT_EQ(station_cipher(), "!") << "what is in the authority's place asks for verification";
    ::rmdir(server_authority_file_name);
    folder.write_file(server_authority_file_name, bytes_of(server->authority_file()));
    const ServerAccess access = ServerAccess::from_environment();
    folder.write_file(database_file_name, db->name() + "\r\n" + plain_host + "\r\n" + access.station_user +
                                              "\r\n" + access.station_password);
    EXPECT_EQ(station_cipher(), "!") << "a server without TLS is refused once the station has an authority";
}

TEST_P(EncryptedLink, BehindTheFileBrokerTheAuthorityReachesTheClientLibraryAsACopy) {
    // As a station installed setgid: its files through the broker, its folder out of its own reach.
    folder.write_file(server_authority_file_name, bytes_of(server->authority_file()));
    pid_t broker = 0;
    const int connection = start_file_broker(station_folder_files(), broker);
    ASSERT_GE(connection, 0);
    use_file_broker(connection, nullptr);
    ASSERT_EQ(::chdir("/"), 0);
    const std::string cipher = station_cipher();
    folder.write_file(server_authority_file_name, bytes_of(server->foreign_authority_file()));
    const std::string foreign = station_cipher();
    use_file_broker(-1, nullptr);
    ::close(connection);
    ::waitpid(broker, nullptr, 0);
    EXPECT_NE(cipher, "!") << "the server proves itself against the copy";
    EXPECT_NE(cipher, "");
    EXPECT_EQ(foreign, "!");
}

TEST_P(EncryptedLink, AnAccountThatRequiresTlsWorks) {
    db->exec("CREATE OR REPLACE USER 'kt_tls'@'%' IDENTIFIED BY 'x' REQUIRE SSL");
    db->grant_station_role("'kt_tls'@'%'");
    db->write_database_file("kt_tls", "x");
    EXPECT_NE(station_cipher(), "!");
    folder.write_file(server_authority_file_name, bytes_of(server->authority_file()));
    EXPECT_NE(station_cipher(), "!");
    EXPECT_EQ(identification_status(), 0);
    db->exec("DROP USER 'kt_tls'@'%'");
}

// The worker keeps its connection across operations: the server makes one handshake for all of them.
TEST_P(EncryptedLink, TheWorkersOperationsShareOneHandshake) {
    FakePlatform system;
    folder.write_file(server_authority_file_name, bytes_of(server->authority_file()));
    db->exec("INSERT INTO tab_resa (id_user_resa, status_resa) VALUES (7, 0)");
    const int id_resa = static_cast<int>(db->insert_id());
    ServerHealth health;
    StationWorker worker(health, WorkerMode::Inline);
    int answered = 0;
    QObject::connect(&worker, &StationWorker::status_polled,
                     [&](int, int status) { answered += status == 0; });
    QObject::connect(&worker, &StationWorker::beat_done, [&](bool beat) { answered += beat; });
    const long long handshakes = server->status("Ssl_accepts");
    for (int second = 0; second < 20; ++second) {
        worker.poll_status(7, id_resa, 0);
        if (second % 5 == 0) {
            worker.beat(1);
        }
    }
    EXPECT_EQ(answered, 24);
    EXPECT_EQ(server->status("Ssl_accepts") - handshakes, 1);
}
