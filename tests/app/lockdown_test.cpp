#include "app/lockdown.h"
#include "tests/support/station_fixture.h"

#include <QPushButton>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>
#include <QWindow>
#include <QTcpSocket>

#include <algorithm>
#include <functional>
#include <utility>
#include <vector>

TEST(ShellKiller, OneSnapshotEndsEveryShellAndTaskManagerWhateverTheCase) {
    FakePlatform system;
    system.processes = {
        {4, "explorer.exe", true}, // protected, listed first
        {10, "explorer.exe"},      {11, "explorer.exe"}, {12, "explorer.exe"},     {13, "Taskmgr.exe"},
        {14, "EXPLORER.EXE"},      {15, "taskmgr.EXE"},  {16, "explorer.exe.bak"}, {17, "myexplorer.exe"},
        {18, "explorer"},          {19, "bash"},
    };
    EXPECT_EQ(kill_shell_processes(system), 6);
    EXPECT_EQ(system.snapshots, 1);
    EXPECT_EQ(system.ended, (std::vector<std::uint32_t>{10, 11, 12, 13, 14, 15}));
    for (const char* kept : {"explorer.exe.bak", "myexplorer.exe", "explorer", "bash"}) {
        EXPECT_TRUE(system.running(kept)) << kept;
    }
    EXPECT_TRUE(system.running("explorer.exe")) << "the protected one is still there";
    EXPECT_EQ(kill_shell_processes(system), 0);
    EXPECT_EQ(system.snapshots, 2);
}

TEST(ShellKiller, AnEmptyTableEndsNothing) {
    FakePlatform system;
    EXPECT_EQ(kill_shell_processes(system), 0);
    EXPECT_TRUE(system.ended.empty());
}

namespace {

class LockDown : public StationTest {
  protected:
    void SetUp() override {
        StationTest::SetUp();
        REQUIRE_SERVER();
        with_database();
    }
    void start_visitor(int config_menu) {
        add_room("Espace Jean Moulin", "Poste-01", 1, std::to_string(config_menu) + ", 1, 0, 0, 0, 0");
        start();
        ASSERT_EQ(window->windowTitle(), QStringLiteral("Kalimo"));
    }
    void press_in(QWidget* target, int key, Qt::KeyboardModifiers modifiers,
                  const QString& text = QString()) {
        QKeyEvent press(QEvent::KeyPress, key, modifiers, text);
        QApplication::sendEvent(target, &press);
    }
    std::vector<bool> power_buttons() const {
        return {id()->Identification_bouton_arret_poste->isVisible(),
                id()->Identification_bouton_redemarrer_poste->isVisible(),
                id()->Identification_bouton_fermer_session->isVisible(),
                id()->Identification_bouton_quitter_logiciel->isVisible()};
    }
    static constexpr Qt::KeyboardModifiers kChord = Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier;
};

} // namespace

TEST_F(LockDown, TheForegroundTickEndsShellsAgainAndAgain) {
    start_visitor(0);
    for (int pass = 0; pass < 3; ++pass) {
        system.processes.push_back({static_cast<std::uint32_t>(100 + pass), "explorer.exe"});
        system.processes.push_back({static_cast<std::uint32_t>(200 + pass), "Taskmgr.exe"});
        window->set_stay_on_top(false);
        window->Timer_premier_plan_applicationTimer();
        EXPECT_FALSE(system.running("explorer.exe"));
        EXPECT_FALSE(system.running("Taskmgr.exe"));
        EXPECT_TRUE(window->stays_on_top());
    }
    EXPECT_EQ(system.ended.size(), 6u);
}

TEST_F(LockDown, TheKeyChordRevealsThePowerButtonsAndTheNextKeyHidesThem) {
    start_visitor(1);
    auto* identifier = id()->Identification_labeledit_identifiant;
    press_in(identifier, Qt::Key_Up, kChord);
    EXPECT_EQ(power_buttons(), (std::vector<bool>{true, true, true, true}));
    EXPECT_EQ(id()->Identification_bouton_quitter_logiciel->text(), QStringLiteral("Arréter le logiciel"));
    EXPECT_EQ(id()->Identification_bouton_arret_poste->text(), QStringLiteral("Arréter l'ordinateur"));
    EXPECT_EQ(id()->Identification_bouton_redemarrer_poste->text(),
              QStringLiteral("Redémmarer l'ordinateur"));
    EXPECT_EQ(id()->Identification_bouton_fermer_session->text(), QStringLiteral("Fermer la séssion"));
    press_in(identifier, Qt::Key_A, Qt::NoModifier, QStringLiteral("a"));
    EXPECT_EQ(power_buttons(), (std::vector<bool>{false, false, false, false}));
    press_in(identifier, Qt::Key_Up, Qt::ControlModifier | Qt::AltModifier);
    EXPECT_EQ(power_buttons(), (std::vector<bool>{false, false, false, false}))
        << "all three modifiers are needed";
    press_in(id()->Identification_labeledit_mot_de_passe, Qt::Key_Up, kChord);
    EXPECT_EQ(power_buttons(), (std::vector<bool>{false, false, false, false}))
        << "only in the identifier field";
}

TEST_F(LockDown, TheChordDoesNothingWhereTheSpaceDoesNotAllowIt) {
    start_visitor(0);
    press_in(id()->Identification_labeledit_identifiant, Qt::Key_Up, kChord);
    EXPECT_EQ(power_buttons(), (std::vector<bool>{false, false, false, false}));
}

TEST_F(LockDown, EnterSignsInOnlyFromThePasswordFieldAndCtrlQIsDiscarded) {
    start_visitor(0);
    add_user("mdurand", "soleil");
    id()->Identification_labeledit_identifiant->setText(QStringLiteral("mdurand"));
    id()->Identification_labeledit_mot_de_passe->setText(QStringLiteral("soleil"));
    press_in(id()->Identification_labeledit_identifiant, Qt::Key_Return, Qt::NoModifier,
             QStringLiteral("\r"));
    EXPECT_EQ(db->count("tab_resa"), 0);
    EXPECT_TRUE(messages.empty());

    EXPECT_EQ(window->FormKeyPress(17), 0);
    EXPECT_EQ(window->FormKeyPress('q'), 'q');
    EXPECT_EQ(window->FormKeyPress(13), 13);
    QKeyEvent ctrl_q(QEvent::KeyPress, Qt::Key_Q, Qt::ControlModifier, QString(QChar(17)));
    QApplication::sendEvent(window.get(), &ctrl_q);
    EXPECT_TRUE(ctrl_q.isAccepted());
    EXPECT_TRUE(window->isVisible());

    press_in(id()->Identification_labeledit_mot_de_passe, Qt::Key_Enter, Qt::KeypadModifier,
             QStringLiteral("\r"));
    EXPECT_EQ(db->count("tab_resa"), 1);
}

// The chord is printed in the README: the buttons it reveals act only for a staff account typed in
// the sign-in fields, and refuse anyone else as a wrong sign-in is refused.
TEST_F(LockDown, ThePowerButtonsActOnlyForStaffAndHandTheirExactCommandsToTheSystem) {
    start_visitor(1);
    add_user("mdurand", "soleil", 1);
    add_user("bloque", "soleil", 2);
    add_user("animateur", "kalimo", 3);
    add_user("directrice", "kalimo", 4);
    const std::string reachable = folder.read_file("Configuration_Base_de_donnee.init");
    struct Case {
        const char* login;
        const char* password;
        bool server;
        bool acts;
    };
    const std::vector<Case> cases = {
        {"", "", true, false},
        {"mdurand", "soleil", true, false},
        {"bloque", "soleil", true, false},
        {"animateur", "mauvais", true, false},
        {"animateur' OR '1'='1", "x' OR '1'='1", true, false},
        {"animateur", "kalimo", false, false},
        {"animateur", "kalimo", true, true},
        {"directrice", "kalimo", true, true},
    };
    const std::vector<std::string> all_three = {"shutdown /s /f", "shutdown /r /f", "shutdown /l /f"};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.login) + (c.server ? "" : " without a server"));
        folder.write_file("Configuration_Base_de_donnee.init",
                          c.server ? reachable : db->name() + "\r\n127.0.0.2\r\nkalimo_poste\r\nposte");
        system.commands.clear();
        messages.clear();
        for (QPushButton* button :
             {id()->Identification_bouton_arret_poste, id()->Identification_bouton_redemarrer_poste,
              id()->Identification_bouton_fermer_session}) {
            id()->Identification_labeledit_identifiant->setText(QString::fromUtf8(c.login));
            id()->Identification_labeledit_mot_de_passe->setText(QString::fromUtf8(c.password));
            button->click();
            EXPECT_TRUE(id()->Identification_labeledit_mot_de_passe->text().isEmpty());
        }
        EXPECT_EQ(system.commands, c.acts ? all_three : std::vector<std::string>{});
        EXPECT_EQ(messages,
                  c.acts ? std::vector<QString>{}
                         : std::vector<QString>(3, QStringLiteral("Identifiant ou mot de passe incorrect")));
        EXPECT_TRUE(window->isVisible()) << "the station waits for the system to act";
    }
}

TEST_F(LockDown, QuitIsStaffsAloneRestartsTheShellAndClosesFromEveryLayout) {
    start_visitor(1);
    add_user("mdurand", "soleil", 1);
    add_user("animateur", "kalimo", 3);
    auto quit_as = [&](const char* login, const char* password) {
        id()->Identification_labeledit_identifiant->setText(QString::fromUtf8(login));
        id()->Identification_labeledit_mot_de_passe->setText(QString::fromUtf8(password));
        id()->Identification_bouton_quitter_logiciel->click();
    };
    quit_as("mdurand", "soleil");
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(window->locked());
    EXPECT_TRUE(system.commands.empty());
    EXPECT_TRUE(system.guard_requests.empty()) << "no quit for the guard to honour";

    quit_as("animateur", "kalimo");
    EXPECT_EQ(system.commands, std::vector<std::string>{"start c://Windows//explorer.exe"});
    EXPECT_FALSE(window->isVisible());
    EXPECT_FALSE(window->Timer_premier_plan_application.isActive());
    EXPECT_EQ(system.guard_requests, std::vector<GuardRequest>{GuardRequest::StaffQuit});

    // Staff station, windowed.
    system.commands.clear();
    db->exec("UPDATE tab_computer SET usage_computer=2");
    window.reset();
    start();
    ASSERT_EQ(window->windowTitle(), QStringLiteral("Kalimo - Animateur"));
    quit_as("animateur", "kalimo");
    EXPECT_FALSE(window->isVisible());
}

TEST_F(LockDown, TheHeartbeatWritesTodayAndTheSecondsSinceMidnight) {
    start_visitor(0);
    const std::string where = " FROM tab_computer WHERE id_computer=" + std::to_string(id_computer);
    for (const auto& [time, seconds] :
         std::vector<std::pair<LocalTime, std::string>>{{LocalTime{2026, 12, 9, 0, 0, 3}, "3"},
                                                        {LocalTime{2026, 12, 9, 23, 59, 59}, "86399"},
                                                        {LocalTime{2027, 1, 2, 12, 0, 0}, "43200"}}) {
        system.now = time;
        window->Timer3Timer();
        EXPECT_EQ(db->scalar("SELECT lastetat_computer" + where), seconds);
    }
    EXPECT_EQ(db->scalar("SELECT date_lastetat_computer" + where), "2027-01-02");
}

TEST_F(LockDown, BeatsBeforeIdentificationMatchNoRowAndTheSetUpScreenStillBeats) {
    add_room();
    db->exec("UPDATE tab_computer SET usage_computer=0, lastetat_computer=7");
    start();
    ASSERT_EQ(window->station.setup_required, 1);
    EXPECT_TRUE(window->Timer3.isActive());
    window->Timer3Timer();
    // The lookup found the computer before its usage turned out unset, so this row is beaten.
    EXPECT_EQ(db->scalar("SELECT lastetat_computer FROM tab_computer"), "37800");

    window.reset();
    folder.write_file("Configuration_Poste_MAC.init", "");
    db->exec("UPDATE tab_computer SET lastetat_computer=7");
    start();
    window->Timer3Timer();
    EXPECT_EQ(window->station.id_computer, 0);
    EXPECT_EQ(db->scalar("SELECT lastetat_computer FROM tab_computer"), "7") << "id 0 is no row";
    EXPECT_TRUE(errors.empty());
}

TEST_F(LockDown, NothingListensOnTheRemotePort) {
    start_visitor(0);
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), 18181);
    EXPECT_FALSE(socket.waitForConnected(2000));
    EXPECT_FALSE(window->Timer2.isActive());
    window->Timer2Timer(); // no action, and nothing to break
    EXPECT_TRUE(errors.empty());
}

namespace {

// Counts what a tick could ask of the window system: showing, hiding, moving, resizing, a change
// of state.
class WindowRequests : public QObject {
  public:
    int count = 0;

  protected:
    bool eventFilter(QObject*, QEvent* event) override {
        switch (event->type()) {
        case QEvent::Show:
        case QEvent::Hide:
        case QEvent::Move:
        case QEvent::Resize:
        case QEvent::WindowStateChange:
            ++count;
            break;
        default:
            break;
        }
        return false;
    }
};

} // namespace

TEST_F(LockDown, TheKeyboardIsHeldWhileLockedOnlyAndTakenAgainByEachTick) {
    start_visitor(0);
    add_user("mdurand", "soleil");
    window->Timer_premier_plan_applicationTimer();
    EXPECT_TRUE(window->locked());
    EXPECT_TRUE(system.keyboard_held);
    EXPECT_EQ(system.keyboard_window, static_cast<std::uintptr_t>(window->windowHandle()->winId()));
    const int holds = system.keyboard_holds;
    system.keyboard_held = false; // something else took it
    window->Timer_premier_plan_applicationTimer();
    EXPECT_TRUE(system.keyboard_held);
    EXPECT_GT(system.keyboard_holds, holds);
    system.keyboard_held = false;
    {
        QWidget popup(nullptr, Qt::Popup); // a list's drop-down takes the keyboard and gives it back
        popup.show();
        popup.hide();
    }
    QApplication::processEvents();
    EXPECT_TRUE(system.keyboard_held) << "taken again as soon as a popup closes";

    sign_in(QStringLiteral("mdurand"), QStringLiteral("soleil"));
    ASSERT_GT(window->session.id_resa, 0);
    EXPECT_FALSE(window->locked());
    EXPECT_FALSE(system.keyboard_held) << "the session's desktop is the visitor's";
    window->sessions().Compteur_Bouton_deconnexionClick();
    EXPECT_TRUE(window->locked());
    EXPECT_TRUE(system.keyboard_held) << "the welcome screen after the session takes it again";

    add_user("animateur", "kalimo", 3);
    id()->Identification_labeledit_identifiant->setText(QStringLiteral("animateur"));
    id()->Identification_labeledit_mot_de_passe->setText(QStringLiteral("kalimo"));
    window->Identification_bouton_quitter_logicielClick();
    EXPECT_FALSE(system.keyboard_held) << "staff's quit gives it back";
}

TEST_F(LockDown, ALockAnotherProgramMovedHidOrMinimisedIsPutBackAndASteadyTickChangesNothing) {
    start_visitor(0);
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    window->Timer_premier_plan_applicationTimer();
    QApplication::processEvents();
    ASSERT_EQ(window->geometry(), screen);

    WindowRequests requests;
    window->installEventFilter(&requests);
    for (int i = 0; i < 3; ++i) {
        window->Timer_premier_plan_applicationTimer();
        QApplication::processEvents();
    }
    EXPECT_EQ(requests.count, 0) << "nothing changed, nothing asked";

    const std::vector<std::pair<const char*, std::function<void()>>> moves = {
        {"moved", [&] { window->move(300, 200); }},
        {"shrunk", [&] { window->resize(400, 300); }},
        {"minimised", [&] { window->showMinimized(); }},
        {"hidden", [&] { window->hide(); }},
    };
    for (const auto& [what, move] : moves) {
        move();
        QApplication::processEvents();
        window->Timer_premier_plan_applicationTimer();
        QApplication::processEvents();
        EXPECT_TRUE(window->isVisible()) << what;
        EXPECT_FALSE(window->windowState() & Qt::WindowMinimized) << what;
        EXPECT_EQ(window->geometry(), screen) << what;
        EXPECT_TRUE(window->stays_on_top()) << what;
    }
}

TEST_F(LockDown, EveryOtherScreenIsCoveredWhileLockedAndNoneInASession) {
    start_visitor(0);
    add_user("mdurand", "soleil");
    window->Timer_premier_plan_applicationTimer();
    QApplication::processEvents();
    const QList<QScreen*> screens = QGuiApplication::screens();
    if (qEnvironmentVariableIsSet("KALIMO_TEST_SECOND_SCREEN")) {
        ASSERT_EQ(screens.size(), 2) << "the offscreen platform took the second screen";
    }
    ASSERT_EQ(window->screen_covers().size(), static_cast<std::size_t>(screens.size() - 1));
    for (const auto& cover : window->screen_covers()) {
        EXPECT_TRUE(cover->isVisible());
        EXPECT_TRUE(cover->windowFlags() & Qt::WindowStaysOnTopHint);
        EXPECT_TRUE(cover->windowFlags() & Qt::WindowDoesNotAcceptFocus);
        EXPECT_TRUE(std::any_of(screens.begin() + 1, screens.end(),
                                [&](const QScreen* s) { return s->geometry() == cover->geometry(); }));
        cover->move(5, 5);
    }
    window->Timer_premier_plan_applicationTimer();
    QApplication::processEvents();
    for (const auto& cover : window->screen_covers()) {
        EXPECT_NE(cover->geometry().topLeft(), QPoint(5, 5)) << "a moved cover is put back";
    }
    EXPECT_EQ(window->geometry(), QGuiApplication::primaryScreen()->geometry())
        << "the welcome screen stays on the primary screen";

    sign_in(QStringLiteral("mdurand"), QStringLiteral("soleil"));
    ASSERT_GT(window->session.id_resa, 0);
    EXPECT_TRUE(window->screen_covers().empty());
}

TEST_F(LockDown, ADesktopThatCannotBeLockedSaysSoAndNobodySignsIn) {
    system.lockable = false;
    start_visitor(0);
    EXPECT_FALSE(id()->group_box_Identification->isEnabled());
    EXPECT_FALSE(id()->Identification_bouton_inscription->isEnabled());
    EXPECT_TRUE(id()->Identification_memo_message_espace->isVisible());
    EXPECT_TRUE(id()->Identification_memo_message_espace->toPlainText().contains(QStringLiteral("Wayland")));
}
