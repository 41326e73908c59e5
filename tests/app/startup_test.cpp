#include "setup/parametrage.h"
#include "tests/support/station_fixture.h"

#include <QCloseEvent>
#include <QMenu>
#include <QPlainTextEdit>
#include <QSystemTrayIcon>

namespace {

class StartUp : public StationTest {
  protected:
    // Every panel's visibility, in a fixed order, for comparing whole screens.
    std::vector<bool> panels() const {
        return {window->identification()->isVisible(), window->renseignement()->isVisible(),
                window->inscription()->isVisible(), window->compteur_temps()->isVisible(),
                window->parametrage()->isVisible()};
    }
    void expect_staff_setup_login() {
        EXPECT_EQ(panels(), (std::vector<bool>{true, false, false, false, false}));
        EXPECT_EQ(window->windowTitle(), QStringLiteral("Kalimo - Paramétrage"));
        EXPECT_EQ(window->geometry().size(), QSize(950, 600));
        EXPECT_EQ(window->station.setup_required, 1);
        EXPECT_EQ(window->station.staff_screen, 1);
        EXPECT_EQ(window->station.db_check, 0);
        EXPECT_TRUE(id()->Identification_label_message_animateur->isVisible());
        EXPECT_EQ(id()->Identification_label_message_animateur->text(),
                  QStringLiteral("Merci de renseigner vos identifiants animateur"));
        EXPECT_FALSE(id()->Identification_memo_message_espace->isVisible());
        EXPECT_FALSE(id()->Identification_bouton_inscription->isVisible());
        EXPECT_TRUE(messages.empty());
    }
    void expect_setup_screen() {
        EXPECT_EQ(panels(), (std::vector<bool>{false, false, false, false, true}));
        EXPECT_EQ(window->windowTitle(), QStringLiteral("Kalimo - Paramétrage"));
        EXPECT_EQ(window->geometry().size(), QSize(950, 600));
        EXPECT_EQ(window->station.db_check, 1);
        EXPECT_EQ(window->station.close_allowed, 1);
        EXPECT_TRUE(messages.empty());
    }
    void add_message(const std::string& text, const std::string& espace = "0") {
        db->exec("INSERT INTO tab_message_kalimo (corp_message, espace_message, status_message) VALUES (" +
                 sql_quoted(text) + ", " + sql_quoted(espace) + ", 0)");
    }
    // A user that can connect only `connections` times an hour: the server is "lost" after that.
    // An account allowed one connection an hour and `queries` statements: the station's kept connection
    // answers that many, then the server refuses it anything more, a new connection too, as a server
    // lost between two lookups.
    void database_user_with_budget(int queries) {
        const std::string user = db->name() + "_b";
        db->exec("CREATE USER '" + user + "'@'%' IDENTIFIED BY 'x' WITH MAX_CONNECTIONS_PER_HOUR 1 " +
                 "MAX_QUERIES_PER_HOUR " + std::to_string(queries));
        db->grant_station_role("'" + user + "'@'%'");
        db->write_database_file(user, "x");
        budget_user = user;
    }
    void TearDown() override {
        StationTest::TearDown();
        if (!budget_user.empty()) {
            db->exec("DROP USER '" + budget_user + "'@'%'");
        }
    }
    std::string budget_user;
};

} // namespace

TEST_F(StartUp, NoFilesAndNoServerGiveTheSetUpScreenWindowed) {
    start();
    expect_setup_screen();
    EXPECT_FALSE(window->stays_on_top() && window->frameless());
    EXPECT_TRUE(window->Timer3.isActive()) << "the heartbeat runs on every screen";
    EXPECT_FALSE(window->Timer1.isActive());
    EXPECT_FALSE(window->Timer2.isActive());
}

TEST_F(StartUp, AReachableServerWithoutAStationFileAsksStaffToSignInFirst) {
    REQUIRE_SERVER();
    with_database();
    add_room();
    folder.write_file("Configuration_Poste_MAC.init", ""); // empty is as good as missing
    start();
    expect_staff_setup_login();
}

TEST_F(StartUp, EveryFailingIdentificationStepLeadsToTheStaffSignIn) {
    REQUIRE_SERVER();
    with_database();
    add_room();
    struct Case {
        const char* what;
        std::function<void()> arrange;
    };
    const std::vector<Case> cases = {
        {"a MAC of no adapter of this computer",
         [&] { system.adapters = {FakePlatform::mac(1, 2, 3, 4, 5, 6)}; }},
        {"a lower-case MAC", [&] { folder.write_file("Configuration_Poste_MAC.init", "00-1a-2b-3c-4d-5e"); }},
        {"no host name", [&] { system.host_name_available = false; }},
        {"no address", [&] { system.address_available = false; }},
        {"no computer row for the MAC",
         [&] { db->exec("UPDATE tab_computer SET adresse_mac_computer='00-1A-2B-3C-4D-5F'"); }},
        {"usage 0", [&] { db->exec("UPDATE tab_computer SET usage_computer=0"); }},
        {"no room", [&] { db->exec("UPDATE tab_computer SET id_salle=999"); }},
        {"no space", [&] { db->exec("DELETE FROM tab_espace"); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        db->exec("DELETE FROM tab_computer");
        db->exec("DELETE FROM tab_salle");
        db->exec("DELETE FROM tab_espace");
        db->exec("DELETE FROM tab_config_logiciel");
        add_room();
        system.adapters = {FakePlatform::mac(0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E)};
        system.host_name_available = true;
        system.address_available = true;
        c.arrange();
        window.reset();
        start();
        expect_staff_setup_login();
    }
}

TEST_F(StartUp, AStationFileWithALineEndStillIdentifies) {
    REQUIRE_SERVER();
    with_database();
    add_room();
    folder.write_file("Configuration_Poste_MAC.init", std::string(kMac) + "\r\n");
    start();
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Kalimo"));
    EXPECT_EQ(window->station.id_computer, id_computer);
}

TEST_F(StartUp, ASecondAdapterCanIdentifyTheStation) {
    REQUIRE_SERVER();
    with_database();
    add_room();
    system.adapters = {FakePlatform::mac(0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF),
                       FakePlatform::mac(0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E)};
    start();
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Kalimo"));
}

TEST_F(StartUp, TheServerLostBetweenLookupsIsCaughtByTheUsageLookup) {
    REQUIRE_SERVER();
    with_database();
    add_room();
    // Each lookup after the first checks the kept connection (one statement) before its own: 1, lost
    // after the MAC lookup; 3, after the name; 7, after the space; 10, after the settings, before the usage.
    for (int budget : {1, 3, 7, 10}) {
        SCOPED_TRACE(budget);
        if (!budget_user.empty()) {
            db->exec("DROP USER '" + budget_user + "'@'%'");
        }
        database_user_with_budget(budget);
        window.reset();
        start();
        // The station was set up: it stays locked until its server answers again.
        EXPECT_EQ(panels(), (std::vector<bool>{true, false, false, false, false}));
        EXPECT_EQ(window->windowTitle(), QStringLiteral("Kalimo"));
        EXPECT_EQ(window->geometry(), QRect(0, 0, 1920, 1080));
        EXPECT_EQ(window->station.close_allowed, 0);
        EXPECT_TRUE(window->stays_on_top());
        EXPECT_TRUE(window->awaiting_server);
        EXPECT_EQ(window->station.setup_required, 1);
    }
}

TEST_F(StartUp, AVisitorStationShowsTheWelcomeScreenFullScreenAndLocked) {
    REQUIRE_SERVER();
    with_database();
    add_room("Espace Jean Moulin", "Poste-01", 1, "0, 0, 0, 0, 0, 0");
    add_message("Fermeture à 18 h", std::to_string(id_espace));
    system.processes = {{10, "explorer.exe"}, {11, "bash"}};
    start();
    EXPECT_EQ(panels(), (std::vector<bool>{true, false, false, false, false}));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Kalimo"));
    EXPECT_EQ(window->geometry(), QRect(0, 0, 1920, 1080));
    EXPECT_TRUE(window->frameless());
    EXPECT_TRUE(window->stays_on_top());
    EXPECT_TRUE(window->Timer_premier_plan_application.isActive());
    EXPECT_EQ(window->station.close_allowed, 0);
    EXPECT_EQ(window->station.staff_screen, 0);
    EXPECT_EQ(system.ended, std::vector<std::uint32_t>{10}) << "the shell is ended at start";
    EXPECT_EQ(id()->Identification_label_nom_espace->text(), QStringLiteral("Espace Jean Moulin"));
    EXPECT_EQ(id()->Identification_label_nom_poste->text(), QStringLiteral("Poste-01"));
    EXPECT_TRUE(id()->Identification_memo_message_espace->isVisible());
    EXPECT_EQ(id()->Identification_memo_message_espace->toPlainText(), QStringLiteral("Fermeture à 18 h"));
    EXPECT_FALSE(id()->Identification_label_message_animateur->isVisible());
    EXPECT_TRUE(id()->Identification_bouton_inscription->isVisible()) << "shown whatever the setting";
    for (QWidget* hidden : {static_cast<QWidget*>(id()->Identification_bouton_quitter_logiciel),
                            static_cast<QWidget*>(id()->Identification_bouton_arret_poste),
                            static_cast<QWidget*>(id()->Identification_bouton_redemarrer_poste),
                            static_cast<QWidget*>(id()->Identification_bouton_fermer_session)}) {
        EXPECT_FALSE(hidden->isVisible());
    }
    EXPECT_TRUE(messages.empty());
}

TEST_F(StartUp, TheWelcomeScreenIsLaidOutOnTheScreen) {
    REQUIRE_SERVER();
    with_database();
    add_room();
    add_message("Bonjour");
    start();
    auto* group = id()->group_box_Identification;
    EXPECT_EQ(group->size(), QSize(225, 297));
    EXPECT_EQ(group->pos(), QPoint(848, 392));
    EXPECT_EQ(id()->Identification_bouton_quitter_logiciel->y(), 928);
    EXPECT_EQ(id()->Identification_bouton_arret_poste->y(), 965);
    EXPECT_EQ(id()->Identification_bouton_redemarrer_poste->y(), 1002);
    EXPECT_EQ(id()->Identification_bouton_fermer_session->y(), 1039);
    EXPECT_EQ(id()->Identification_label_bienvenue->pos(), QPoint(25, 16));
    auto* space = id()->Identification_label_nom_espace;
    EXPECT_EQ(space->pos(), QPoint(960 - space->width() / 2, 80));
    auto* memo = id()->Identification_memo_message_espace;
    EXPECT_EQ(memo->x() + memo->width(), 960 - 225 / 2 - 50) << "the memo ends 50 pixels left of the group";
    EXPECT_EQ(memo->y(), 540 - memo->height() / 2);
    auto* name = id()->Identification_label_nom_poste;
    EXPECT_EQ(name->pos(), QPoint(960 - name->width() / 2 + 400, 540 + name->height() + 200));
}

TEST_F(StartUp, AStaffStationShowsTheStaffLoginWithoutTheMemo) {
    REQUIRE_SERVER();
    with_database();
    add_room("Espace Jean Moulin", "Poste-Accueil", 2);
    add_message("Message pour tous");
    start();
    EXPECT_EQ(panels(), (std::vector<bool>{true, false, false, false, false}));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Kalimo - Animateur"));
    EXPECT_EQ(window->geometry().size(), QSize(950, 600));
    EXPECT_EQ(window->station.staff_screen, 1);
    EXPECT_EQ(window->station.setup_required, 0);
    EXPECT_FALSE(id()->Identification_memo_message_espace->isVisible());
    EXPECT_TRUE(id()->Identification_label_message_animateur->isVisible());
    EXPECT_FALSE(id()->Identification_bouton_inscription->isVisible());
    auto* group = id()->group_box_Identification;
    EXPECT_EQ(group->pos(), QPoint(475 - 225 / 2, 300 - 297 / 2 + 20));
    EXPECT_EQ(id()->Identification_label_nom_poste->y(), 480);
    EXPECT_FALSE(window->Timer_premier_plan_application.isActive());
}

TEST_F(StartUp, AnUnknownUsageShowsNoPanelAndKeepsTheWindow) {
    REQUIRE_SERVER();
    with_database();
    add_room("Espace Jean Moulin", "Poste-01", 3);
    start();
    EXPECT_EQ(panels(), (std::vector<bool>{false, false, false, false, false}));
    EXPECT_EQ(window->station.setup_required, 0);
    EXPECT_TRUE(messages.empty());
}

TEST_F(StartUp, ANullUsageIsReportedAndStopsTheStartUp) {
    REQUIRE_SERVER();
    with_database();
    add_room();
    db->exec("UPDATE tab_computer SET usage_computer=NULL");
    start();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], QStringLiteral("'' n'est pas une valeur entière correcte"));
    EXPECT_EQ(panels(), (std::vector<bool>{false, false, false, false, false}));
    EXPECT_EQ(connections_beyond_kept_links(), 0);
}

TEST_F(StartUp, HostileSpaceAndStationNamesWorkEndToEnd) {
    REQUIRE_SERVER();
    with_database();
    const std::string space = "L'Atelier \\ 100% \"libre\" %s %n";
    const std::string station = "Poste 'A' \\%d";
    add_room(space, station, 1, "1, 1, 0, 0, 0, 0");
    add_message("Message de l'espace", std::to_string(id_espace));
    start();
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Kalimo"));
    EXPECT_EQ(id()->Identification_label_nom_espace->text(), QString::fromStdString(space));
    EXPECT_EQ(id()->Identification_label_nom_poste->text(), QString::fromStdString(station));
    EXPECT_EQ(window->station.settings.config_menu_logiciel, 1) << "the settings were found by that name";
    EXPECT_EQ(id()->Identification_memo_message_espace->toPlainText(), QStringLiteral("Message de l'espace"));
    EXPECT_EQ(db->count("tab_espace"), 1);
}

TEST_F(StartUp, NamesOutsideTheCodePageAndVeryLongOnesAreShownAsStored) {
    REQUIRE_SERVER();
    with_database();
    const std::string long_space(990, 'x');
    add_room(long_space, "Poste-€", 1);
    start();
    EXPECT_EQ(id()->Identification_label_nom_espace->text().size(), 990);
    EXPECT_EQ(id()->Identification_label_nom_poste->text(), QStringLiteral("Poste-€"));
}

TEST_F(StartUp, AltF4IsRefusedFullScreenAndAllowedWindowed) {
    REQUIRE_SERVER();
    with_database();
    add_room();
    start();
    EXPECT_FALSE(window->close());
    EXPECT_TRUE(window->isVisible());
    db->exec("UPDATE tab_computer SET usage_computer=2");
    window->start_station();
    ASSERT_EQ(window->windowTitle(), QStringLiteral("Kalimo - Animateur"));
    EXPECT_TRUE(window->close());
}

TEST_F(StartUp, RunningAgainResetsTheSessionAndHidesRevealedButtons) {
    REQUIRE_SERVER();
    with_database();
    add_room("Espace Jean Moulin", "Poste-01", 1, "1, 0, 0, 0, 0, 0");
    start();
    window->Identification_labeledit_identifiantKeyDown(Qt::Key_Up, Qt::ControlModifier | Qt::AltModifier |
                                                                        Qt::ShiftModifier);
    ASSERT_TRUE(id()->Identification_bouton_quitter_logiciel->isVisible());
    window->session.planned_duration = 999;
    window->session.id_resa = 12;
    window->start_station();
    EXPECT_EQ(window->session.planned_duration, 90);
    EXPECT_EQ(window->session.id_resa, 0);
    EXPECT_FALSE(id()->Identification_bouton_quitter_logiciel->isVisible());
    EXPECT_FALSE(id()->Identification_bouton_arret_poste->isVisible());
}

TEST_F(StartUp, TheImagesAreThereAndTheLogosNeverTakeTheLoginButtonsClicks) {
    REQUIRE_SERVER();
    with_database();
    add_room();
    start();
    EXPECT_FALSE(id()->Identification_image_logo_kalimo->pixmap().isNull());
    EXPECT_FALSE(window->TrayIcon1->icon().isNull());
    for (QWidget* button : {static_cast<QWidget*>(id()->Identification_bouton_connexion),
                            static_cast<QWidget*>(id()->Identification_bouton_inscription),
                            static_cast<QWidget*>(id()->Identification_labeledit_identifiant),
                            static_cast<QWidget*>(id()->Identification_labeledit_mot_de_passe)}) {
        const QPoint centre = button->mapTo(window.get(), button->rect().center());
        EXPECT_EQ(window->childAt(centre), button) << button->objectName().toStdString();
    }
}

TEST_F(StartUp, TheTrayMenuOffersSalleParametresAndDeconnexion) {
    start();
    ASSERT_NE(window->PopupMenu1, nullptr);
    const auto actions = window->PopupMenu1->actions();
    ASSERT_EQ(actions.size(), 3);
    EXPECT_EQ(actions[0]->text(), QStringLiteral("Salle"));
    EXPECT_EQ(actions[1]->text(), QStringLiteral("Paramètres"));
    EXPECT_EQ(actions[2]->text(), QStringLiteral("Déconnexion"));
    emit window->PopupMenu1->aboutToShow();
    EXPECT_FALSE(actions[0]->isVisible()) << "only in a staff session on a staff station";
    EXPECT_EQ(window->Timer1.interval(), 1000);
    EXPECT_EQ(window->Timer2.interval(), 15000);
    EXPECT_EQ(window->Timer3.interval(), 5000);
    EXPECT_EQ(window->Timer_premier_plan_application.interval(), 1000);
}

TEST_F(StartUp, NothingOnTheWelcomeScreenCoversAnythingElse) {
    REQUIRE_SERVER();
    with_database();
    add_room();
    add_message("Bonjour");
    start();
    const std::vector<QWidget*> parts = {id()->group_box_Identification,
                                         id()->Identification_memo_message_espace,
                                         id()->Identification_label_nom_espace,
                                         id()->Identification_label_nom_poste,
                                         id()->Identification_label_bienvenue,
                                         id()->Identification_image_logo_kalimo,
                                         id()->Identification_image_logo1,
                                         id()->Identification_image_logo2,
                                         id()->Identification_logo3};
    const QRect screen(0, 0, 1920, 1080);
    for (std::size_t i = 0; i < parts.size(); ++i) {
        EXPECT_TRUE(screen.contains(parts[i]->geometry())) << parts[i]->objectName().toStdString();
        for (std::size_t j = i + 1; j < parts.size(); ++j) {
            EXPECT_FALSE(parts[i]->geometry().intersects(parts[j]->geometry()))
                << parts[i]->objectName().toStdString() << " and " << parts[j]->objectName().toStdString();
        }
    }
}
