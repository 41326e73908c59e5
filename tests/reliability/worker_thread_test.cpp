// The worker on a thread of its own, as the station runs it: the window's thread never waits on the
// server, the results come back to it, and a staff close is seen once the server answers. These run
// under ThreadSanitizer too.
#include "session/compteur_temps.h"
#include "tests/reliability/private_server.h"
#include "tests/support/station_fixture.h"
#include "ui_compteur_temps.h"

#include <QCoreApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QPushButton>

#include <functional>

namespace {

// A station whose worker runs on its own thread, identified on its welcome screen.
class ThreadedStation : public StationTest {
  protected:
    void SetUp() override {
        StationTest::SetUp();
        REQUIRE_SERVER();
        with_database();
        add_room("Espace Jean Moulin", "Poste-01", 1, "1, 1, 0, 0, 0, 0");
        add_user("mdurand", "soleil", 1, 120);
        window = std::make_unique<Tlogiciel>(WorkerMode::Thread);
        window->show();
        // The test drives the counter's ticks; the heartbeat's timer stays out of the way.
        window->Timer1.blockSignals(true);
        window->Timer3.blockSignals(true);
        // Locked at once, nothing to press until the identification has answered.
        EXPECT_TRUE(window->locked());
        EXPECT_FALSE(id()->group_box_Identification->isEnabled());
        ASSERT_TRUE(wait_for([this] { return id()->group_box_Identification->isEnabled(); }));
        EXPECT_EQ(id()->Identification_label_nom_poste->text(), QStringLiteral("Poste-01"));
    }
    bool set_up() const { return !IsSkipped() && !HasFatalFailure(); }
};

class ThreadedWorker : public ThreadedStation {
  protected:
    void SetUp() override {
        ThreadedStation::SetUp();
        if (!set_up()) {
            return;
        }
        sign_in(QStringLiteral("mdurand"), QStringLiteral("soleil"));
        // The sign-in and the session's start are answered on the worker.
        ASSERT_TRUE(wait_for([this] { return window->Timer1.isActive(); }));
        ASSERT_TRUE(messages.empty());
        id_resa = window->session.id_resa;
    }
    void tick() {
        system.advance(1000);
        guarded(window.get(), [this] { window->sessions().Timer1Timer(); });
    }
    QString shown() const { return window->compteur_temps()->ui()->Compteur_Temps_parcouru->text(); }
    std::vector<std::string> row() {
        return db
            ->rows("SELECT duree_resa, status_resa FROM tab_resa WHERE id_resa=" + std::to_string(id_resa))
            .at(0);
    }
    int id_resa = 0;
};

} // namespace

TEST_F(ThreadedWorker, StaffClosingTheRowEndsTheSessionOnTheWindowsThread) {
    tick();
    // The first poll answered and applied: a tick while a poll is out sends none, and the next one
    // must be the poll that sees the staff close.
    window->worker().drain();
    window->worker().deliver_results();
    ASSERT_TRUE(wait_for([this] { return window->session.polled_status == 0 && row().at(1) == "0"; }));
    db->exec("UPDATE tab_resa SET status_resa=1 WHERE id_resa=" + std::to_string(id_resa));
    tick();
    ASSERT_TRUE(wait_for([this] { return !window->Timer1.isActive(); })) << "the poll's answer ended it";
    EXPECT_TRUE(window->identification()->isVisible());
    EXPECT_EQ(window->session.id_resa, 0);
    window->worker().drain();
    EXPECT_EQ(row(), (std::vector<std::string>{"1", "1"}));
    EXPECT_FALSE(folder.exists(session_record_file_name)) << "nothing left to settle";
    EXPECT_TRUE(errors.empty());
}

TEST_F(ThreadedWorker, ASilentServerHoldsNeitherTheCounterNorDeconnexion) {
    SilentListener silent;
    ASSERT_TRUE(silent.listening());
    const std::string good = folder.read_file("Configuration_Base_de_donnee.init");
    folder.write_file("Configuration_Base_de_donnee.init",
                      db->name() + "\r\n" + silent.host() + "\r\nkalimo\r\nkalimo");
    tick();
    ASSERT_TRUE(wait_for([&] { return silent.accepted() == 1; })) << "the worker's poll waits on it";
    // The ticks run while that poll waits: the counter follows the clock and no second poll is queued.
    for (int i = 0; i < 4; ++i) {
        tick();
    }
    EXPECT_EQ(shown(), QStringLiteral("4 s"));
    EXPECT_EQ(silent.accepted(), 1);
    EXPECT_TRUE(window->Timer1.isActive());

    system.advance(180 * 1000);
    window->compteur_temps()->ui()->Compteur_Bouton_deconnexion->click();
    EXPECT_TRUE(window->identification()->isVisible()) << "locked again at once, the close on its way";
    EXPECT_FALSE(window->Timer1.isActive());
    ASSERT_TRUE(wait_for([this] { return window->worker().pending_closes().size() == 1; }))
        << "the silent server did not take the close; it is kept";
    EXPECT_EQ(row(), (std::vector<std::string>{"90", "0"}));

    folder.write_file("Configuration_Base_de_donnee.init", good);
    window->Timer3Timer();
    ASSERT_TRUE(wait_for([this] { return window->worker().pending_closes().empty(); }));
    EXPECT_EQ(row(), (std::vector<std::string>{"3", "1"}));
    EXPECT_TRUE(errors.empty());
}

// On the private Galera cluster (scripts/test's cluster group): the node that serves the station is
// ended as a crash would end it, in the middle of a session. The counter keeps time, the heartbeat
// and the close land on a surviving node, and the node that comes back has every row.
TEST_F(ThreadedWorker, LosingTheClusterNodeThatServesTheStationLosesNothing) {
    if (test_cluster::folder().empty()) {
        GTEST_SKIP() << "not on a cluster";
    }
    int answered_beats = 0;
    QObject::connect(&window->worker(), &StationWorker::beat_done,
                     [&answered_beats](bool answered) { answered_beats += answered ? 1 : 0; });
    tick();
    window->worker().drain();
    window->worker().deliver_results();
    ASSERT_TRUE(wait_for([this] { return window->session.polled_status == 0; }));
    const std::string serving = test_cluster::serving_node();
    ASSERT_FALSE(serving.empty());
    const std::string beat_before = db->scalar(
        "SELECT lastetat_computer FROM tab_computer WHERE id_computer=" + std::to_string(id_computer));

    test_cluster::kill_node(serving);
    // Whatever becomes of the node, it is back for the rest of the group.
    struct Rejoin {
        std::string node;
        ~Rejoin() {
            std::string error;
            if (!test_cluster::node_running(node) && !test_cluster::rejoin(node, error)) {
                ADD_FAILURE() << error;
            }
        }
    } rejoin_at_the_end{serving};

    for (int i = 0; i < 5; ++i) {
        tick();
    }
    EXPECT_EQ(shown(), QStringLiteral("5 s")) << "the counter kept time while the node was lost";
    EXPECT_TRUE(window->Timer1.isActive());
    // The beats go on until one lands on a survivor (the first write may wait until the cluster has
    // dropped the lost node).
    ASSERT_TRUE(wait_for([&] {
        window->worker().drain();
        window->worker().deliver_results();
        if (answered_beats == 0) {
            window->Timer3Timer();
        }
        return answered_beats > 0;
    }));
    EXPECT_NE(test_cluster::serving_node(), serving);
    EXPECT_NE(db->scalar("SELECT lastetat_computer FROM tab_computer WHERE id_computer=" +
                         std::to_string(id_computer)),
              beat_before);

    system.advance(180 * 1000);
    window->compteur_temps()->ui()->Compteur_Bouton_deconnexion->click();
    EXPECT_TRUE(window->identification()->isVisible());
    ASSERT_TRUE(wait_for([this] {
        window->worker().drain();
        if (!window->worker().pending_closes().empty()) {
            window->Timer3Timer(); // a close the cluster did not take is sent again with the beat
        }
        return window->worker().pending_closes().empty();
    }));
    EXPECT_EQ(row(), (std::vector<std::string>{"3", "1"}));
    EXPECT_FALSE(folder.exists(session_record_file_name));

    std::string error;
    ASSERT_TRUE(test_cluster::rejoin(serving, error)) << error;
    EXPECT_EQ(test_cluster::rows_on(serving, db->name(),
                                    "SELECT COUNT(*), SUM(duree_resa), SUM(status_resa) FROM tab_resa"),
              (std::vector<std::vector<std::string>>{{"1", "3", "1"}}))
        << "the node that came back has the session, closed";
    EXPECT_TRUE(errors.empty());
}

// The desktop's reset after a session holds the sign-in with the worker on its thread as well, and its
// answer is picked up by the reset's own timer.
TEST_F(ThreadedWorker, TheDesktopsResetHoldsTheNextSignInUntilTheGuardAnswers) {
    system.reset = ResetProgress::Waiting;
    window->sessions().Compteur_Bouton_deconnexionClick();
    ASSERT_TRUE(wait_for([this] { return id()->group_box_Identification->isEnabled(); }));
    sign_in(QStringLiteral("mdurand"), QStringLiteral("soleil"));
    EXPECT_EQ(messages, (std::vector<QString>{QStringLiteral("Identifiant ou mot de passe incorrect")}));
    system.reset = ResetProgress::Done;
    ASSERT_TRUE(wait_for([this] { return !window->desktop_being_reset(); }));
    sign_in(QStringLiteral("mdurand"), QStringLiteral("soleil"));
    EXPECT_TRUE(wait_for([this] { return window->Timer1.isActive(); }));
    EXPECT_EQ(system.resets_asked.size(), 1u);
}

// What a person starts is answered on the worker too: the sign-in and the identification.
class ThreadedSignIn : public ThreadedStation {
  protected:
    void SetUp() override {
        ThreadedStation::SetUp();
        if (!set_up()) {
            return;
        }
        good_file = folder.read_file("Configuration_Base_de_donnee.init");
        ASSERT_TRUE(silent.listening());
        folder.write_file("Configuration_Base_de_donnee.init",
                          db->name() + "\r\n" + silent.host() + "\r\nkalimo_poste\r\nposte");
        id()->Identification_labeledit_identifiant->setText(QStringLiteral("mdurand"));
        id()->Identification_labeledit_mot_de_passe->setText(QStringLiteral("soleil"));
        button()->click();
        ASSERT_TRUE(wait_for([this] { return silent.accepted() == 1; }));
    }
    QPushButton* button() const { return id()->Identification_bouton_connexion; }
    SilentListener silent;
    std::string good_file;
};

// While the sign-in waits on a server that never answers, the window returns at once, the button
// is disabled and the pointer shows work, and pressing Enter again starts nothing. The station stays
// locked until the answer refuses it.
TEST_F(ThreadedSignIn, WaitingOnTheServerHoldsNeitherTheWindowNorASecondPress) {
    EXPECT_FALSE(button()->isEnabled());
    ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::BusyCursor);
    EXPECT_TRUE(messages.empty()) << "the click returned before any answer";
    window->Identification_labeledit_mot_de_passeKeyPress(13);
    EXPECT_TRUE(window->locked());

    ASSERT_TRUE(wait_for([this] { return button()->isEnabled(); }));
    EXPECT_EQ(silent.accepted(), 1) << "the second press asked nothing";
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_EQ(messages, (std::vector<QString>{QStringLiteral("Identifiant ou mot de passe incorrect")}));
    EXPECT_TRUE(window->identification()->isVisible());
    EXPECT_TRUE(window->locked());
    EXPECT_FALSE(window->Timer1.isActive());
    EXPECT_EQ(db->count("tab_resa"), 0);
}

// The station starts again while the sign-in is out (a staff close, the server back): the late
// answer is for a screen that is gone, and is dropped.
TEST_F(ThreadedSignIn, ALateAnswerForAScreenThatIsGoneIsDropped) {
    window->start_station();
    folder.write_file("Configuration_Base_de_donnee.init", good_file);
    ASSERT_TRUE(wait_for([this] {
        window->worker().drain();
        window->worker().deliver_results();
        return button()->isEnabled() && id()->group_box_Identification->isEnabled();
    }));
    EXPECT_TRUE(messages.empty()) << "no refusal shown for the sign-in of the earlier screen";
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_TRUE(window->locked());
    EXPECT_EQ(db->count("tab_resa"), 0);
}

// The staff chord's buttons ask the worker who is typed in the sign-in fields: a visitor is refused
// when the answer comes, staff's command runs then.
TEST_F(ThreadedStation, ThePowerButtonsWaitForTheLookupAndActOnlyForStaff) {
    add_user("animateur", "kalimo", 3);
    QPushButton* shut_down = id()->Identification_bouton_arret_poste;
    for (const auto& [login, password] : {std::pair{"mdurand", "soleil"}, std::pair{"animateur", "kalimo"}}) {
        id()->Identification_labeledit_identifiant->setText(QString::fromLatin1(login));
        id()->Identification_labeledit_mot_de_passe->setText(QString::fromLatin1(password));
        shut_down->click();
        ASSERT_TRUE(wait_for([&] { return shut_down->isEnabled(); }));
    }
    EXPECT_EQ(messages, (std::vector<QString>{QStringLiteral("Identifiant ou mot de passe incorrect")}));
    EXPECT_EQ(system.commands, std::vector<std::string>{"shutdown /s /f"});
}

namespace {

// Every kind of screen the start can lead to, once with the worker inline and once on its thread:
// the lock the threaded station shows while it asks must leave no trace on a screen of another kind.
class ThreadedScreens : public StationTest {
  protected:
    struct Screen {
        std::vector<bool> panels;
        QString title;
        QSize size;
        bool locked = false;
        bool sign_in_enabled = false;
    };
    Screen screen_with(WorkerMode mode) {
        window = std::make_unique<Tlogiciel>(mode);
        window->Timer3.blockSignals(true);
        window->show();
        // The answers, and what their screens ask in turn, come back before the screen is read.
        for (int round = 0; round < 4; ++round) {
            window->worker().drain();
            window->worker().deliver_results();
            QCoreApplication::processEvents();
        }
        Screen s{{window->identification()->isVisible(), window->renseignement()->isVisible(),
                  window->inscription()->isVisible(), window->compteur_temps()->isVisible(),
                  window->parametrage()->isVisible()},
                 window->windowTitle(),
                 window->size(),
                 window->locked(),
                 id()->group_box_Identification->isEnabled()};
        window.reset();
        return s;
    }
};

} // namespace

TEST_F(ThreadedScreens, EveryStartLeadsToTheSameScreenWithTheWorkerOnItsThread) {
    REQUIRE_SERVER();
    with_database();
    add_room();
    const std::string unreachable = db->name() + "\r\n127.0.0.2\r\nkalimo_poste\r\nposte";
    const std::string reachable = folder.read_file("Configuration_Base_de_donnee.init");
    struct Case {
        const char* what;
        std::function<void()> arrange;
    };
    const std::vector<Case> cases = {
        {"a visitor station", [] {}},
        {"a staff station", [&] { db->exec("UPDATE tab_computer SET usage_computer=2"); }},
        {"a usage the station does not know", [&] { db->exec("UPDATE tab_computer SET usage_computer=3"); }},
        {"a station not identified", [&] { db->exec("UPDATE tab_computer SET usage_computer=0"); }},
        {"a set-up station without its server",
         [&] { folder.write_file("Configuration_Base_de_donnee.init", unreachable); }},
        {"no station file and no server",
         [&] {
             folder.write_file("Configuration_Base_de_donnee.init", unreachable);
             folder.write_file("Configuration_Poste_MAC.init", "");
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        db->exec("UPDATE tab_computer SET usage_computer=1");
        folder.write_file("Configuration_Base_de_donnee.init", reachable);
        folder.write_file("Configuration_Poste_MAC.init", kMac);
        c.arrange();
        const Screen inline_screen = screen_with(WorkerMode::Inline);
        const Screen threaded_screen = screen_with(WorkerMode::Thread);
        EXPECT_EQ(threaded_screen.panels, inline_screen.panels);
        EXPECT_EQ(threaded_screen.title, inline_screen.title);
        EXPECT_EQ(threaded_screen.size, inline_screen.size);
        EXPECT_EQ(threaded_screen.locked, inline_screen.locked);
        EXPECT_EQ(threaded_screen.sign_in_enabled, inline_screen.sign_in_enabled);
    }
    EXPECT_TRUE(errors.empty());
}
