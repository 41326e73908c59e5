#include "session/compteur_temps.h"
#include "session/renseignement.h"
#include "setup/parametrage.h"
#include "tests/support/station_fixture.h"
#include "ui_compteur_temps.h"

#include <QAction>
#include <QGuiApplication>
#include <QLineEdit>
#include <QScreen>
#include <QSystemTrayIcon>

namespace {

class SignIn : public StationTest {
  protected:
    void SetUp() override {
        StationTest::SetUp();
        REQUIRE_SERVER();
        with_database();
        system.now = LocalTime{2026, 12, 9, 10, 30, 0};
    }
    // A visitor station whose space does not ask for the survey.
    void start_visitor_station(const std::string& settings = "1, 1, 0, 0, 0, 1") {
        add_room("Espace Jean Moulin", "Poste-01", 1, settings);
        start();
        ASSERT_EQ(window->station.staff_screen, 0);
    }
    void add_resa(int id_user, const std::string& date, int duration, int status) {
        db->exec("INSERT INTO tab_resa (id_computer_resa, id_user_resa, date_resa, debut_resa, duree_resa, "
                 "date_creation_resa, status_resa) VALUES (99, " +
                 std::to_string(id_user) + ", '" + date + "', 600, " + std::to_string(duration) + ", '" +
                 date + "', " + std::to_string(status) + ")");
    }
    // The refusal shape every message branch shares: one message, empty fields, nothing written.
    void expect_refused(const QString& message, long long sessions_before = 0) {
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages.back(), message);
        EXPECT_TRUE(id()->Identification_labeledit_identifiant->text().isEmpty());
        EXPECT_TRUE(id()->Identification_labeledit_mot_de_passe->text().isEmpty());
        EXPECT_EQ(window->session.lookup_outcome, 0);
        EXPECT_EQ(db->count("tab_resa"), sessions_before);
        EXPECT_TRUE(window->identification()->isVisible());
        EXPECT_FALSE(window->Timer1.isActive());
        EXPECT_TRUE(system.commands.empty()) << "the shell is not started";
    }
    std::vector<std::string> session_row() {
        const auto rows =
            db->rows("SELECT id_computer_resa, id_user_resa, date_resa, debut_resa, duree_resa, "
                     "date_creation_resa, status_resa FROM tab_resa");
        return rows.size() == 1 ? rows[0] : std::vector<std::string>{};
    }
};

} // namespace

TEST_F(SignIn, AWrongPasswordAndAnUnknownLoginGetTheSameMessage) {
    start_visitor_station();
    add_user("mdurand", "soleil");
    for (const auto& [login, password] :
         std::vector<std::pair<QString, QString>>{{QStringLiteral("mdurand"), QStringLiteral("Soleil")},
                                                  {QStringLiteral("mdurand"), QStringLiteral(" soleil")},
                                                  {QStringLiteral("inconnu"), QStringLiteral("soleil")},
                                                  {QStringLiteral("mdurand"), QString()}}) {
        messages.clear();
        sign_in(login, password);
        expect_refused(QStringLiteral("Identifiant ou mot de passe incorrect"));
    }
    EXPECT_TRUE(id()->Identification_labeledit_identifiant->hasFocus());
}

TEST_F(SignIn, AnEmptyPasswordIsDigestedLikeAnyOther) {
    start_visitor_station();
    add_user("sanspass", "");
    sign_in(QStringLiteral("sanspass"), QString());
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(db->count("tab_resa"), 1);
}

TEST_F(SignIn, HostileLoginsAndPasswordsAreRefusedAndChangeNothing) {
    start_visitor_station();
    add_user("mdurand", "soleil");
    add_user("point", "?"); // a password that a lossy conversion would produce
    const std::vector<std::pair<QString, QString>> attempts = {
        {QStringLiteral("' OR '1'='1"), QStringLiteral("' OR '1'='1")},
        {QStringLiteral("mdurand'; DROP TABLE tab_user; --"), QStringLiteral("x")},
        {QStringLiteral("mdurand\\"), QStringLiteral("soleil")},
        {QStringLiteral("%s %n %d"), QStringLiteral("%s")},
        {QString(10000, QLatin1Char('a')), QString(10000, QLatin1Char('\''))},
        {QStringLiteral("point"), QStringLiteral("😀")},
        {QStringLiteral("point"), QStringLiteral("漢")},
    };
    for (const auto& [login, password] : attempts) {
        messages.clear();
        sign_in(login, password);
        expect_refused(QStringLiteral("Identifiant ou mot de passe incorrect"));
    }
    EXPECT_EQ(db->count("tab_user"), 2);
    EXPECT_EQ(connections_beyond_kept_links(), 0);
}

TEST_F(SignIn, AnAccentedLoginAndPasswordMatchTheirLatin1Row) {
    start_visitor_station();
    add_user("cmorvan", "café");
    add_user("élodie", "marées");
    sign_in(QStringLiteral("cmorvan"), QStringLiteral("café"));
    EXPECT_TRUE(messages.empty());
    window->sessions().Compteur_Bouton_deconnexionClick();
    sign_in(QStringLiteral("élodie"), QStringLiteral("marées"));
    EXPECT_TRUE(messages.empty());
}

TEST_F(SignIn, AnOpenSessionAnywhereIsRefusedBeforeAnyStatusTest) {
    start_visitor_station();
    const int visitor = add_user("mdurand", "soleil");
    const int locked = add_user("pbernard", "verrou", 2);
    const int staff = add_user("animateur", "kalimo", 3);
    for (int who : {visitor, locked, staff}) {
        add_resa(who, "2024-01-01", 90, 0);
    }
    for (const auto& [login, password] :
         std::vector<std::pair<QString, QString>>{{QStringLiteral("mdurand"), QStringLiteral("soleil")},
                                                  {QStringLiteral("pbernard"), QStringLiteral("verrou")},
                                                  {QStringLiteral("animateur"), QStringLiteral("kalimo")}}) {
        messages.clear();
        sign_in(login, password);
        expect_refused(QStringLiteral("Vous êtes déjà connecté sur un poste"), 3);
    }
}

TEST_F(SignIn, ALockedAccountAndASpentCreditAreRefused) {
    start_visitor_station();
    add_user("pbernard", "verrou", 2);
    sign_in(QStringLiteral("pbernard"), QStringLiteral("verrou"));
    expect_refused(QStringLiteral("Compte vérouillé"));

    const int spent = add_user("jleroux", "marees", 1, 60);
    add_resa(spent, "2026-12-09", 40, 2);
    add_resa(spent, "2026-12-09", 20, 2);
    messages.clear();
    sign_in(QStringLiteral("jleroux"), QStringLiteral("marees"));
    expect_refused(QStringLiteral("Crédit temps épuisé"), 2);
}

TEST_F(SignIn, AnUnlistedStatusDoesNothingAndTheNextAttemptStartsClean) {
    start_visitor_station();
    add_user("ancien", "x", 0);
    sign_in(QStringLiteral("ancien"), QStringLiteral("x"));
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(window->session.lookup_outcome, 0);
    EXPECT_EQ(db->count("tab_resa"), 0);
    sign_in(QStringLiteral("ancien"), QStringLiteral("faux"));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], QStringLiteral("Identifiant ou mot de passe incorrect"));
}

TEST_F(SignIn, AVisitorWithoutSurveyGoesStraightToTheCounterCorner) {
    start_visitor_station();
    const int id_user = add_user("mdurand", "soleil", 1, 120);
    add_resa(id_user, "2026-12-09", 30, 2);
    add_resa(id_user, "2026-12-09", 45, 1); // ended normally: not counted
    sign_in(QStringLiteral("mdurand"), QStringLiteral("soleil"));
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(window->session.credit_minutes, 90);
    EXPECT_EQ(window->session.remaining_seconds, 5400u);
    EXPECT_EQ(window->session.elapsed_seconds, 0u);
    EXPECT_EQ(db->count("rel_utilisation_user"), 0);
    const auto row = db->rows("SELECT id_computer_resa, date_resa, debut_resa, duree_resa, status_resa FROM "
                              "tab_resa WHERE status_resa=0");
    ASSERT_EQ(row.size(), 1u);
    EXPECT_EQ(row[0],
              (std::vector<std::string>{std::to_string(id_computer), "2026-12-09", "630", "90", "0"}));

    EXPECT_FALSE(window->identification()->isVisible());
    EXPECT_FALSE(window->renseignement()->isVisible());
    EXPECT_TRUE(window->compteur_temps()->isVisible());
    EXPECT_EQ(window->geometry(), QRect(1920 - 319, 0, 319, 200));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Kalimo - Compteur Temps"));
    EXPECT_FALSE(window->stays_on_top());
    EXPECT_TRUE(window->Timer1.isActive());
    EXPECT_FALSE(window->Timer_premier_plan_application.isActive());
    EXPECT_EQ(system.commands, std::vector<std::string>{"start c://Windows//explorer.exe"});
    EXPECT_EQ(window->compteur_temps()->ui()->Compteur_Bouton_deconnexion->x(), 98);
    EXPECT_TRUE(id()->Identification_labeledit_identifiant->text().isEmpty());
}

TEST_F(SignIn, ThePasswordShowsAsStarsAndEnterSignsInWithWhatWasTyped) {
    start_visitor_station();
    add_user("mdurand", "so'l\\e%i\"€ l");
    id()->Identification_labeledit_identifiant->setText(QStringLiteral("mdurand"));
    QLineEdit* field = id()->Identification_labeledit_mot_de_passe;
    const QString password = QStringLiteral("so'l\\e%i\"€ l");
    for (const QChar c : password) {
        QKeyEvent key(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
        QApplication::sendEvent(field, &key);
    }
    EXPECT_EQ(field->text(), password);
    EXPECT_EQ(field->displayText(), QString(password.size(), QLatin1Char('*')));
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"));
    QApplication::sendEvent(field, &enter);
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(db->count("tab_resa"), 1);
    EXPECT_TRUE(window->compteur_temps()->isVisible());
}

TEST_F(SignIn, StaffOnAVisitorStationGetTheShellAndA999MinuteRow) {
    start_visitor_station();
    const int staff = add_user("animateur", "kalimo", 4);
    sign_in(QStringLiteral("animateur"), QStringLiteral("kalimo"));
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(session_row(), (std::vector<std::string>{std::to_string(id_computer), std::to_string(staff),
                                                       "2026-12-09", "630", "999", "2026-12-09", "0"}));
    EXPECT_EQ(system.commands, std::vector<std::string>{"start c://Windows//explorer.exe"});
    EXPECT_FALSE(window->stays_on_top());
    EXPECT_FALSE(window->Timer_premier_plan_application.isActive());
    EXPECT_FALSE(window->Timer1.isActive()) << "no counter for staff";
    EXPECT_EQ(window->session.staff_on_visitor_station, 1);

    // The tray menu's "Déconnexion" closes the row with 0 minutes and status 2 and locks again.
    window->session.elapsed_seconds = 5000;
    window->Dconnexion1->trigger();
    EXPECT_EQ(db->rows("SELECT duree_resa, status_resa FROM tab_resa"),
              (std::vector<std::vector<std::string>>{{"0", "2"}}));
    EXPECT_TRUE(window->identification()->isVisible());
    EXPECT_TRUE(window->stays_on_top());
    EXPECT_TRUE(window->Timer_premier_plan_application.isActive());
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->session.id_resa, 0);
}

TEST_F(SignIn, StaffOnAStaffStationGetANinetyMinuteRowAndNoShell) {
    add_room("Espace Jean Moulin", "Poste-Accueil", 2);
    start();
    ASSERT_EQ(window->windowTitle(), QStringLiteral("Kalimo - Animateur"));
    add_user("mdurand", "soleil");
    add_user("pbernard", "verrou", 2);
    for (const QString& login : {QStringLiteral("mdurand"), QStringLiteral("pbernard")}) {
        messages.clear();
        sign_in(login,
                login == QStringLiteral("mdurand") ? QStringLiteral("soleil") : QStringLiteral("verrou"));
        expect_refused(QStringLiteral("pas d'autorisation pour se connecter sur ce poste"));
        EXPECT_EQ(window->station.staff_screen, 1);
    }
    messages.clear();
    const int staff = add_user("responsable", "kerlann", 3);
    sign_in(QStringLiteral("responsable"), QStringLiteral("kerlann"));
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(session_row(), (std::vector<std::string>{std::to_string(id_computer), std::to_string(staff),
                                                       "2026-12-09", "630", "90", "2026-12-09", "0"}));
    EXPECT_TRUE(system.commands.empty());
    EXPECT_EQ(window->station.staff_screen, 0);
}

TEST_F(SignIn, WithoutANotificationAreaTheStaffSessionKeepsAWayBack) {
    add_room("Espace Jean Moulin", "Poste-Accueil", 2);
    start();
    system.notification_area = false;
    add_user("responsable", "kerlann", 3);
    sign_in(QStringLiteral("responsable"), QStringLiteral("kerlann"));
    ASSERT_TRUE(window->isVisible());
    auto* button = window->compteur_temps()->ui()->Compteur_Bouton_deconnexion;
    EXPECT_TRUE(button->isVisible());
    EXPECT_FALSE(window->compteur_temps()->ui()->Compteur_Temps_parcouru->isVisible());
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Kalimo - Animateur"));
    EXPECT_TRUE(refuses_every_close()) << "the corner is the only way back while the session is open";
    button->click();
    EXPECT_EQ(db->rows("SELECT duree_resa, status_resa FROM tab_resa"),
              (std::vector<std::vector<std::string>>{{"0", "2"}}));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Kalimo - Animateur"));
    EXPECT_TRUE(window->identification()->isVisible());
    EXPECT_TRUE(window->close()) << "the windowed staff login may close";
}

TEST_F(SignIn, WithANotificationAreaTheStaffSessionLeavesOnlyTheIcon) {
    add_room("Espace Jean Moulin", "Poste-Accueil", 2);
    start();
    system.notification_area = true;
    add_user("responsable", "kerlann", 3);
    sign_in(QStringLiteral("responsable"), QStringLiteral("kerlann"));
    EXPECT_FALSE(window->isVisible());
    // Only a double click on the icon brings the window back; a right click opens its menu.
    for (const auto reason :
         {QSystemTrayIcon::Trigger, QSystemTrayIcon::Context, QSystemTrayIcon::MiddleClick}) {
        emit window->TrayIcon1->activated(reason);
        EXPECT_FALSE(window->isVisible()) << reason;
    }
    emit window->TrayIcon1->activated(QSystemTrayIcon::DoubleClick);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(db->scalar("SELECT status_resa FROM tab_resa"), "0") << "restoring ends nothing";
    window->Dconnexion1->trigger();
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(db->scalar("SELECT status_resa FROM tab_resa"), "2");
}

TEST_F(SignIn, StaffOnTheSignInOfAnUnidentifiedStationGoToSetUp) {
    // The server answers but no computer has this station's MAC.
    db->exec("INSERT INTO tab_computer (nom_computer, adresse_mac_computer, usage_computer) VALUES ('Libre', "
             "'', 0)");
    start();
    ASSERT_EQ(window->windowTitle(), QStringLiteral("Kalimo - Paramétrage"));
    ASSERT_EQ(window->station.setup_required, 1);
    add_user("mdurand", "soleil");
    sign_in(QStringLiteral("mdurand"), QStringLiteral("soleil"));
    expect_refused(QStringLiteral("pas d'autorisation pour se connecter sur ce poste"));
    messages.clear();
    add_user("animateur", "kalimo", 3);
    sign_in(QStringLiteral("animateur"), QStringLiteral("kalimo"));
    EXPECT_TRUE(messages.empty());
    EXPECT_TRUE(window->parametrage()->isVisible());
    EXPECT_FALSE(window->identification()->isVisible());
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Kalimo - Paramétrage"));
    EXPECT_EQ(window->geometry().size(), QSize(950, 600));
    EXPECT_EQ(db->count("tab_resa"), 0) << "no session row for set-up";
}

TEST_F(SignIn, ANullInAnIntegerColumnReportsTheConversionAndRestoresTheLogin) {
    start_visitor_station();
    db->exec("INSERT INTO tab_user (login_user, pass_user, status_user, temps_user) VALUES ('nul', MD5('x'), "
             "NULL, "
             "60)");
    sign_in(QStringLiteral("nul"), QStringLiteral("x"));
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], QStringLiteral("'' n'est pas une valeur entière correcte"));
    EXPECT_EQ(window->session.lookup_outcome, 0);
    EXPECT_TRUE(id()->Identification_labeledit_identifiant->text().isEmpty());
    EXPECT_EQ(connections_beyond_kept_links(), 0);
    EXPECT_EQ(db->count("tab_resa"), 0);
}

TEST_F(SignIn, AServerGoneAtSignInRefusesLikeAWrongPassword) {
    start_visitor_station();
    add_user("mdurand", "soleil");
    // The account is there; the station can no longer reach it.
    folder.write_file("Configuration_Base_de_donnee.init", "absente\r\n127.0.0.1\r\nkalimo\r\nfaux");
    sign_in(QStringLiteral("mdurand"), QStringLiteral("soleil"));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], QStringLiteral("Identifiant ou mot de passe incorrect"));
}

TEST_F(SignIn, ParametresBringsTheStaffSessionBackFromTheNotificationAreaIntoSetUp) {
    add_room("Espace Jean Moulin", "Poste-Accueil", 2);
    start();
    system.notification_area = true;
    add_user("responsable", "kerlann", 3);
    sign_in(QStringLiteral("responsable"), QStringLiteral("kerlann"));
    ASSERT_FALSE(window->isVisible());
    window->Paramtres1->trigger();
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(window->parametrage()->isVisible());
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Kalimo - Paramétrage"));
    EXPECT_EQ(db->rows("SELECT duree_resa, status_resa FROM tab_resa"),
              (std::vector<std::vector<std::string>>{{"0", "2"}}));
}
