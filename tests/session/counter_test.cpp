#include "app/desktop_reset.h"
#include "session/compteur_temps.h"
#include "tests/support/station_fixture.h"
#include "ui_compteur_temps.h"

#include <QAction>

#include <algorithm>

namespace {

// settings: "config_menu, page_inscription, page_renseignement, bloquage, affichage_temps, deconnexion_auto"
class Counter : public StationTest {
  protected:
    void SetUp() override {
        StationTest::SetUp();
        REQUIRE_SERVER();
        with_database();
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
    void tick(int times = 1) {
        for (int i = 0; i < times; ++i) {
            system.advance(1000);
            guarded(window.get(), [this] { window->sessions().Timer1Timer(); });
        }
    }
    std::vector<std::string> row() {
        return db
            ->rows("SELECT duree_resa, status_resa FROM tab_resa WHERE id_resa=" + std::to_string(id_resa))
            .at(0);
    }
    void expect_locked_again() {
        EXPECT_FALSE(window->Timer1.isActive());
        EXPECT_TRUE(window->identification()->isVisible());
        EXPECT_FALSE(window->compteur_temps()->isVisible());
        EXPECT_TRUE(window->Timer_premier_plan_application.isActive());
        EXPECT_TRUE(window->stays_on_top());
        EXPECT_EQ(window->geometry(), QRect(0, 0, 1920, 1080));
        EXPECT_EQ(window->session.id_resa, 0);
    }
    int id_resa = 0;
};

} // namespace

TEST_F(Counter, CountingUpShowsTheTimeUsedBeforeEachStep) {
    open_session("1, 1, 0, 0, 0, 0", 120);
    tick();
    EXPECT_EQ(shown(), QStringLiteral("0 s"));
    tick(60);
    EXPECT_EQ(shown(), QStringLiteral("1 min 0 s"));
    tick();
    EXPECT_EQ(shown(), QStringLiteral("1 min 1 s"));
    system.advance((5400 - 62) * 1000);
    tick();
    EXPECT_EQ(shown(), QStringLiteral("1 h 30 min 0 s"));
    const auto* label = window->compteur_temps()->ui()->Compteur_Temps_parcouru;
    EXPECT_EQ(label->x(), 319 / 2 - label->width() / 2);
}

// A tick that waits on a stalled server comes late; the time is the clock's, not the ticks'. A session
// of one hour during which the server stalls for minutes ends on time and records 60 minutes.
TEST_F(Counter, TheCountTheLogoutAndTheDurationFollowTheClockWhenTicksComeLate) {
    open_session("1, 1, 0, 0, 1, 1", 60);
    tick(3);
    EXPECT_EQ(shown(), QStringLiteral("59 min 58 s"));
    system.advance(7 * 60 * 1000); // seven minutes without a tick
    tick();
    EXPECT_EQ(shown(), QStringLiteral("52 min 57 s")) << "the missed ticks are counted, not shown";
    system.advance((52 * 60 + 57 - 3) * 1000);
    tick(2);
    EXPECT_TRUE(window->Timer1.isActive());
    EXPECT_EQ(shown(), QStringLiteral("1 s"));
    system.advance(1500); // a late tick
    tick();
    EXPECT_FALSE(window->Timer1.isActive()) << "the credit was spent while the tick waited";
    EXPECT_EQ(row(), (std::vector<std::string>{"60", "1"}));
}

// A station killed during a session (power cut, crash) leaves its record: started again, it closes the
// row with the time the session really lasted, and the visitor can sign in again at once. A row closed
// from outside meanwhile is left as it is.
TEST_F(Counter, AStationKilledDuringASessionClosesItsRowWhenItStartsAgain) {
    open_session("1, 1, 0, 0, 0, 0", 120);
    system.now = LocalTime{2026, 12, 9, 10, 42, 30};
    window->Timer3Timer(); // the last heartbeat before the plug is pulled
    system.now = LocalTime{2026, 12, 9, 11, 15, 0};
    window.reset(); // killed: no end_session
    ASSERT_TRUE(folder.exists(session_record_file_name));
    EXPECT_EQ(row(), (std::vector<std::string>{"90", "0"}));

    system.resets_asked.clear();
    start();
    EXPECT_EQ(row(), (std::vector<std::string>{"12", "1"})) << "10:30:00 to the last sign of life, 10:42:30";
    EXPECT_FALSE(folder.exists(session_record_file_name));
    ASSERT_EQ(system.resets_asked.size(), 1u) << "the dead session's desktop is reset too";
    EXPECT_EQ(system.resets_asked[0].ms, 5000);
    EXPECT_EQ(system.resets_asked[0].boot, "boot-1");
    sign_in(QStringLiteral("mdurand"), QStringLiteral("soleil"));
    EXPECT_TRUE(messages.empty()) << "the visitor is no longer held as signed in";
    ASSERT_TRUE(window->Timer1.isActive());

    // Killed again; staff close the row by hand before the station comes back.
    id_resa = window->session.id_resa;
    window.reset();
    db->exec("UPDATE tab_resa SET duree_resa=5, status_resa=1 WHERE id_resa=" + std::to_string(id_resa));
    start();
    EXPECT_EQ(row(), (std::vector<std::string>{"5", "1"}));
    EXPECT_FALSE(folder.exists(session_record_file_name));

    // A record that cannot be read is removed and the station starts normally.
    folder.write_file(session_record_file_name, "Kalimo session record 1\r\nopen 7 7 1 2026-12-09 10:");
    window.reset();
    start();
    EXPECT_FALSE(folder.exists(session_record_file_name));
    EXPECT_TRUE(window->identification()->isVisible());
    EXPECT_TRUE(errors.empty());
}

// With five minutes of credit left the counter comes above every window, without taking the keyboard,
// amber; in the last minute it blinks red. Only a visitor's session that ends by itself is warned.
TEST_F(Counter, TheEndOfTheCreditIsWarnedFiveMinutesAheadInBothDisplays) {
    for (const char* settings : {"1, 1, 0, 0, 0, 1", "1, 1, 0, 0, 1, 1"}) {
        SCOPED_TRACE(settings);
        window.reset();
        db = std::make_unique<TestDatabase>();
        db->write_database_file();
        open_session(settings, 7);
        const auto look = [this] {
            return window->compteur_temps()->ui()->Compteur_Temps_parcouru->property("warning").toInt();
        };
        EXPECT_FALSE(window->stays_on_top());
        system.advance(118 * 1000); // the clock runs; only the ticks below are looked at
        tick(2);
        EXPECT_FALSE(window->stays_on_top()) << "5 min 1 s left";
        EXPECT_EQ(look(), 0);
        tick();
        EXPECT_TRUE(window->stays_on_top());
        EXPECT_FALSE(window->takes_focus());
        EXPECT_EQ(look(), 1);
        system.advance(238 * 1000);
        tick();
        EXPECT_EQ(look(), 1) << "1 min 1 s left";
        tick();
        const int first = look();
        tick();
        EXPECT_NE(look(), first) << "the last minute blinks";
        EXPECT_GE(std::min(first, look()), 1);
        system.advance(57 * 1000);
        tick(2);
        EXPECT_FALSE(window->Timer1.isActive());
        EXPECT_TRUE(window->takes_focus()) << "the locked station takes the keyboard again";
        EXPECT_EQ(look(), 0);
    }
    // A session that starts with five minutes or less is warned from its start.
    db->exec("UPDATE tab_user SET temps_user=5");
    db->exec("DELETE FROM tab_resa");
    sign_in(QStringLiteral("mdurand"), QStringLiteral("soleil"));
    ASSERT_TRUE(window->Timer1.isActive());
    EXPECT_TRUE(window->stays_on_top());
    EXPECT_FALSE(window->takes_focus());
}

TEST_F(Counter, AStaffSessionOrACountThatGoesOnIsNeverRaised) {
    open_session("1, 1, 0, 0, 1, 0", 1);
    tick(70);
    EXPECT_FALSE(window->stays_on_top());
    EXPECT_EQ(window->compteur_temps()->ui()->Compteur_Temps_parcouru->property("warning").toInt(), 0);
    window->sessions().Compteur_Bouton_deconnexionClick();

    system.notification_area = false;
    add_user("responsable", "kerlann", 3);
    sign_in(QStringLiteral("responsable"), QStringLiteral("kerlann"));
    ASSERT_TRUE(messages.empty());
    EXPECT_FALSE(window->stays_on_top());
    EXPECT_TRUE(window->takes_focus());
}

TEST_F(Counter, CountingDownStartsFromTheWholeCredit) {
    open_session("1, 1, 0, 0, 1, 0", 90);
    tick();
    EXPECT_EQ(shown(), QStringLiteral("1 h 30 min 0 s"));
    tick();
    EXPECT_EQ(shown(), QStringLiteral("1 h 29 min 59 s"));
    EXPECT_EQ(window->session.elapsed_seconds, 2u);
}

TEST_F(Counter, AutomaticLogoutEndsOnTheTickAfterTheCreditInBothDisplays) {
    for (const char* settings : {"1, 1, 0, 0, 0, 1", "1, 1, 0, 0, 2, 1"}) {
        SCOPED_TRACE(settings);
        window.reset();
        db = std::make_unique<TestDatabase>();
        db->write_database_file();
        open_session(settings, 1);
        tick(60);
        EXPECT_TRUE(window->Timer1.isActive());
        EXPECT_EQ(row(), (std::vector<std::string>{"90", "0"}));
        tick();
        EXPECT_EQ(row(), (std::vector<std::string>{"1", "1"}));
        expect_locked_again();
    }
}

TEST_F(Counter, WithoutAutomaticLogoutTheCountUpGoesPastTheCredit) {
    open_session("1, 1, 0, 0, 0, 0", 1);
    tick(60);
    EXPECT_EQ(shown(), QStringLiteral("59 s"));
    tick(); // time used equals the credit: the text stays
    EXPECT_EQ(shown(), QStringLiteral("59 s"));
    tick();
    EXPECT_EQ(shown(), QStringLiteral("1 min 1 s"));
    EXPECT_TRUE(window->Timer1.isActive());
}

TEST_F(Counter, WithoutAutomaticLogoutTheCountDownRestsAtZero) {
    open_session("1, 1, 0, 0, 1, 0", 1);
    tick(60);
    EXPECT_EQ(shown(), QStringLiteral("1 s"));
    tick(5);
    EXPECT_EQ(shown(), QStringLiteral("0 s"));
    EXPECT_EQ(window->session.remaining_seconds, 0u) << "never wraps round";
    EXPECT_EQ(window->session.elapsed_seconds, 65u);
    window->sessions().Compteur_Bouton_deconnexionClick();
    EXPECT_EQ(row(), (std::vector<std::string>{"1", "1"}));
}

TEST_F(Counter, TheDurationIsInWholeMinutesAndAtLeastOne) {
    open_session("1, 1, 0, 0, 0, 0", 120);
    for (const auto& [seconds, minutes] : std::vector<std::pair<unsigned, std::string>>{
             {30, "1"}, {119, "1"}, {120, "2"}, {0, "1"}, {7199, "119"}}) {
        SCOPED_TRACE(seconds);
        messages.clear();
        if (!window->Timer1.isActive()) {
            db->exec("UPDATE tab_resa SET status_resa=1");
            sign_in(QStringLiteral("mdurand"), QStringLiteral("soleil"));
            ASSERT_TRUE(messages.empty());
            id_resa = window->session.id_resa;
        }
        window->session.elapsed_seconds = seconds;
        window->compteur_temps()->ui()->Compteur_Bouton_deconnexion->click();
        EXPECT_EQ(row(), (std::vector<std::string>{minutes, "1"}));
        expect_locked_again();
    }
}

TEST_F(Counter, StaffClosingTheRowEndsTheSessionAtTheNextTick) {
    open_session("1, 1, 0, 0, 0, 0", 120);
    tick(3);
    db->exec("UPDATE tab_resa SET status_resa=2");
    tick();
    EXPECT_TRUE(window->Timer1.isActive()) << "status 2 is not an end";
    db->exec("UPDATE tab_resa SET status_resa=1");
    tick();
    EXPECT_EQ(row(), (std::vector<std::string>{"1", "1"}));
    expect_locked_again();
}

TEST_F(Counter, ADeletedRowDoesNotEndTheSession) {
    open_session("1, 1, 0, 0, 0, 0", 120);
    db->exec("DELETE FROM tab_resa");
    tick(3);
    EXPECT_TRUE(window->Timer1.isActive());
    EXPECT_EQ(shown(), QStringLiteral("2 s"));
    window->sessions().Compteur_Bouton_deconnexionClick();
    EXPECT_EQ(db->count("tab_resa"), 0);
    expect_locked_again();
}

TEST_F(Counter, AServerThatCannotBeReachedLetsTheSessionGoOn) {
    open_session("1, 1, 0, 0, 0, 0", 120);
    const std::string good = folder.read_file("Configuration_Base_de_donnee.init");
    folder.write_file("Configuration_Base_de_donnee.init", "absente\r\n127.0.0.1\r\nkalimo\r\nfaux");
    tick(5);
    EXPECT_TRUE(window->Timer1.isActive());
    EXPECT_EQ(shown(), QStringLiteral("4 s"));
    EXPECT_TRUE(errors.empty());
    folder.write_file("Configuration_Base_de_donnee.init", good);
    tick(115);
    window->sessions().Compteur_Bouton_deconnexionClick();
    EXPECT_EQ(row(), (std::vector<std::string>{"2", "1"}));
}

TEST_F(Counter, ANullStatusReportsTheConversionAndTheNextTickGoesOn) {
    open_session("1, 1, 0, 0, 0, 0", 120);
    db->exec("UPDATE tab_resa SET status_resa=NULL");
    // While the error box is open, the ticks that would raise it again wait: one box, never a pile.
    set_message_sink([this](const QString& text, bool critical) {
        messages.push_back(text);
        if (critical) {
            errors.push_back(text);
            if (errors.size() == 1) {
                for (int i = 0; i < 3; ++i) {
                    guarded(window.get(), [this] { window->sessions().Timer1Timer(); });
                }
                window->Timer3Timer();
            }
        }
    });
    tick();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(connections_beyond_kept_links(), 0);
    db->exec("UPDATE tab_resa SET status_resa=0");
    tick();
    EXPECT_EQ(shown(), QStringLiteral("1 s")) << "the clock counted the second of the tick the error ended";
    EXPECT_TRUE(window->Timer1.isActive());
}

TEST_F(Counter, TheTrayDeconnexionEndsAVisitorSessionToo) {
    open_session("1, 1, 0, 0, 0, 0", 120);
    window->session.elapsed_seconds = 600;
    window->Dconnexion1->trigger();
    EXPECT_EQ(row(), (std::vector<std::string>{"10", "1"}));
    expect_locked_again();
    EXPECT_TRUE(window->isVisible());
}

TEST_F(Counter, DeconnexionWithNobodySignedInOnlyRestartsTheStation) {
    add_room();
    start();
    db->exec("INSERT INTO tab_resa (id_resa, duree_resa, status_resa) VALUES (1, 90, 0)");
    window->Dconnexion1->trigger();
    EXPECT_EQ(db->rows("SELECT duree_resa, status_resa FROM tab_resa"),
              (std::vector<std::vector<std::string>>{{"90", "0"}}));
    EXPECT_TRUE(window->identification()->isVisible());
    EXPECT_TRUE(errors.empty());
}

TEST_F(Counter, TheCounterCornerRefusesEveryCloseAndSoDoesTheWelcomeScreenAfterIt) {
    open_session("1, 1, 0, 0, 0, 0", 120);
    ASSERT_EQ(window->geometry(), QRect(1920 - 319, 0, 319, 200));
    EXPECT_TRUE(refuses_every_close());
    EXPECT_TRUE(window->Timer1.isActive()) << "the session goes on";
    EXPECT_EQ(row(), (std::vector<std::string>{"90", "0"}));
    window->compteur_temps()->ui()->Compteur_Bouton_deconnexion->click();
    expect_locked_again();
    EXPECT_TRUE(refuses_every_close());
}

TEST_F(Counter, TheDeconnexionButtonNeverTakesTheFocus) {
    open_session("1, 1, 0, 0, 0, 0", 120);
    EXPECT_EQ(window->compteur_temps()->ui()->Compteur_Bouton_deconnexion->focusPolicy(), Qt::NoFocus);
}

TEST_F(Counter, ACloseTheServerRefusedIsSentAgainAtEachHeartbeatUntilItIsTaken) {
    open_session("1, 1, 0, 0, 0, 0", 120);
    const std::string good = folder.read_file("Configuration_Base_de_donnee.init");
    folder.write_file("Configuration_Base_de_donnee.init", "absente\r\n127.0.0.1\r\nkalimo\r\nfaux");
    window->session.elapsed_seconds = 185;
    window->sessions().Compteur_Bouton_deconnexionClick();
    EXPECT_EQ(row(), (std::vector<std::string>{"90", "0"})) << "the server did not take it";
    window->Timer3Timer();
    window->Timer3Timer();
    EXPECT_EQ(row(), (std::vector<std::string>{"90", "0"}));
    ASSERT_EQ(window->worker().pending_closes().size(), 1u);

    folder.write_file("Configuration_Base_de_donnee.init", good);
    window->Timer3Timer();
    EXPECT_EQ(row(), (std::vector<std::string>{"3", "1"}));
    EXPECT_TRUE(window->worker().pending_closes().empty());
    window->start_station(); // the station restarted without its server and shows set-up until then
    messages.clear();
    sign_in(QStringLiteral("mdurand"), QStringLiteral("soleil"));
    EXPECT_TRUE(messages.empty()) << "the visitor is no longer held as signed in";
}

// When a session ends the guard resets the desktop's account; until it is done nobody signs in, and a
// reset that fails or takes too long keeps the station locked, says so for staff and is asked again.
TEST_F(Counter, TheDesktopIsResetBeforeAnyoneSignsInAgain) {
    const QString refused = QStringLiteral("Identifiant ou mot de passe incorrect");
    auto memo = [this] { return id()->Identification_memo_message_espace; };
    system.process_ms = 4200;
    open_session("1, 1, 0, 0, 0, 0", 120);
    db->exec("INSERT INTO tab_message_kalimo (corp_message, espace_message, status_message) VALUES "
             "('Bienvenue', '0', 0)");
    system.reset = ResetProgress::Waiting;
    window->sessions().Compteur_Bouton_deconnexionClick();
    ASSERT_EQ(system.resets_asked.size(), 1u);
    EXPECT_EQ(system.resets_asked[0].ms, 4200) << "the session's opening";
    EXPECT_TRUE(window->locked());
    sign_in(QStringLiteral("mdurand"), QStringLiteral("soleil"));
    EXPECT_EQ(messages, std::vector<QString>{refused});
    EXPECT_EQ(db->count("tab_resa"), 1);

    // The guard says it failed: staff are told on the welcome screen, and it is asked again later.
    system.reset = ResetProgress::Failed;
    window->desktop_reset().poll();
    EXPECT_TRUE(memo()->isVisible());
    EXPECT_TRUE(memo()->toPlainText().startsWith(QStringLiteral("Ce poste n'a pas pu être remis à zéro")));
    system.reset = ResetProgress::Waiting;
    system.advance(DesktopReset::bound_ms);
    window->desktop_reset().poll();
    EXPECT_EQ(system.resets_asked.size(), 2u);
    // Waiting past the bound fails the same way.
    system.advance(DesktopReset::bound_ms);
    window->desktop_reset().poll();
    EXPECT_TRUE(window->desktop_reset().failed());

    system.reset = ResetProgress::Done;
    system.advance(DesktopReset::bound_ms);
    window->desktop_reset().poll();
    EXPECT_FALSE(window->desktop_being_reset());
    EXPECT_EQ(memo()->toPlainText(), QStringLiteral("Bienvenue"));
    messages.clear();
    sign_in(QStringLiteral("mdurand"), QStringLiteral("soleil"));
    EXPECT_TRUE(messages.empty());
    EXPECT_TRUE(window->Timer1.isActive());
    EXPECT_TRUE(errors.empty());
}

// Which sessions reset the desktop when they end: a visitor's and staff's on a visitor station, not
// staff's own station's; without a guard the station carries on as before.
TEST_F(Counter, OnlyAVisitorStationsSessionsResetTheDesktopAndNoGuardHoldsNobody) {
    add_room("Espace Jean Moulin", "Poste-01", 1, "1, 1, 0, 0, 0, 0");
    add_user("mdurand", "soleil", 1, 120);
    add_user("animateur", "kalimo", 3);
    struct Case {
        const char* what;
        int usage;
        const char* login;
        const char* password;
        bool guard;
        std::size_t resets;
    };
    const std::vector<Case> cases = {
        {"a visitor", 1, "mdurand", "soleil", true, 1},
        {"staff on a visitor station", 1, "animateur", "kalimo", true, 1},
        {"staff on their own station", 2, "animateur", "kalimo", true, 0},
        {"a visitor, no guard", 1, "mdurand", "soleil", false, 0},
    };
    const std::string shell = "start c://Windows//explorer.exe";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        db->exec("UPDATE tab_computer SET usage_computer=" + std::to_string(c.usage));
        db->exec("DELETE FROM tab_resa");
        system.guard = c.guard;
        system.reset = ResetProgress::Waiting;
        system.resets_asked.clear();
        system.guard_requests.clear();
        system.commands.clear();
        window.reset();
        start();
        sign_in(QString::fromLatin1(c.login), QString::fromLatin1(c.password));
        ASSERT_GT(window->session.id_resa, 0);
        // The guard is told of an opening whose end resets, a visitor's before their shell starts.
        const bool told = system.guard_requests == std::vector<GuardRequest>{GuardRequest::SessionOpened};
        EXPECT_EQ(told, c.usage == 1);
        if (told && c.login == std::string("mdurand")) {
            const auto before = system.commands.begin() + static_cast<long>(system.commands_at_guard_request);
            EXPECT_EQ(std::find(system.commands.begin(), before, shell), before);
            EXPECT_NE(std::find(before, system.commands.end(), shell), system.commands.end());
        }
        window->sessions().Dconnexion1Click();
        EXPECT_EQ(system.resets_asked.size(), c.resets);
        EXPECT_EQ(window->desktop_being_reset(), c.resets > 0);
    }
    EXPECT_TRUE(errors.empty());
}
