#include "app/lockdown.h"
#include "tests/support/station_fixture.h"

#include <QKeyEvent>
#include <QTcpSocket>

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

TEST_F(LockDown, ThePowerButtonsHandTheirExactCommandsToTheSystem) {
    start_visitor(1);
    id()->Identification_bouton_arret_poste->click();
    id()->Identification_bouton_redemarrer_poste->click();
    id()->Identification_bouton_fermer_session->click();
    EXPECT_EQ(system.commands,
              (std::vector<std::string>{"shutdown /s /f", "shutdown /r /f", "shutdown /l /f"}));
    EXPECT_TRUE(window->isVisible()) << "the station waits for the system to act";
}

TEST_F(LockDown, QuitRestartsTheShellAndClosesFromEveryLayout) {
    start_visitor(1);
    id()->Identification_bouton_quitter_logiciel->click();
    EXPECT_EQ(system.commands, std::vector<std::string>{"start c://Windows//explorer.exe"});
    EXPECT_FALSE(window->isVisible());
    EXPECT_FALSE(window->Timer_premier_plan_application.isActive());

    // Staff station, windowed.
    system.commands.clear();
    db->exec("UPDATE tab_computer SET usage_computer=2");
    window.reset();
    start();
    ASSERT_EQ(window->windowTitle(), QStringLiteral("Kalimo - Animateur"));
    window->Identification_bouton_quitter_logicielClick();
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
