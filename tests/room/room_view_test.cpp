// The room view through the screens, its worker on its own thread as the staff station runs it, beside
// a visitor station run as a second process (the main window is one per process): the real program's
// poll, not a test's reading of the row, has to see the session ended from the view.
#include "room/room_view.h"
#include "room/salle.h"
#include "tests/reliability/private_server.h"
#include "tests/support/station_fixture.h"
#include "ui_salle.h"

#include <QDir>
#include <QProcess>

namespace {

class RoomViewTest : public StationTest {
  protected:
    Ui::Salle* s() const { return window->room().salle()->ui(); }
    // The row of the stations' list for a station, -1 when it is not listed.
    int row_of(const QString& station) const {
        for (int row = 0; row < s()->Salle_table_postes->rowCount(); ++row) {
            if (s()->Salle_table_postes->item(row, 2)->text() == station) {
                return row;
            }
        }
        return -1;
    }
    QString cell(const QString& station, int column) const {
        const int row = row_of(station);
        return row < 0 ? QString() : s()->Salle_table_postes->item(row, column)->text();
    }
};

} // namespace

TEST_F(RoomViewTest, ASessionEndedFromTheViewEndsOnTheVisitorsStationAndAStalledServerIsSaid) {
    REQUIRE_SERVER();
    with_database();
    db->write_staff_database_file();
    add_room("Espace Jean Moulin", "Accueil", 2, "1, 1, 0, 0, 1, 0");
    db->exec("INSERT INTO tab_computer (nom_computer, adresse_mac_computer, usage_computer, id_salle) SELECT "
             "'Poste-02', '02-00-00-00-00-02', 1, id_salle FROM tab_computer WHERE nom_computer='Accueil'");
    add_user("animateur", "kalimo", 3, 999);
    add_user("mdurand", "soleil", 1, 120);

    // The visitor station, with the stations' own account, in a folder of its own.
    const ServerAccess access = ServerAccess::from_environment();
    QDir().mkdir(QStringLiteral("visiteur"));
    folder.write_file("visiteur/Configuration_Base_de_donnee.init", db->name() + "\r\n" + access.host +
                                                                        "\r\n" + access.station_user +
                                                                        "\r\n" + access.station_password);
    folder.write_file("visiteur/Configuration_Poste_MAC.init", "02-00-00-00-00-02");
    QProcess visitor; // killed, if it still runs, as the test ends
    visitor.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    visitor.start(QStringLiteral(KALIMO_VISITOR_STATION),
                  {QStringLiteral("visiteur"), QStringLiteral("mdurand"), QStringLiteral("soleil")});

    // The staff station: its staff login, a staff session in the notification area, then "Salle".
    window = std::make_unique<Tlogiciel>(WorkerMode::Thread);
    window->show();
    ASSERT_TRUE(wait_for(
        [this] { return id()->group_box_Identification->isEnabled() && window->station.id_computer > 0; }));
    sign_in(QStringLiteral("animateur"), QStringLiteral("kalimo"));
    ASSERT_TRUE(wait_for([this] { return !window->isVisible() && staff_session_open(window->session); }));
    window->Salle1->trigger();
    QWidget* salle = window->room().salle();
    ASSERT_TRUE(salle->isVisible());
    EXPECT_EQ(salle->windowTitle(), QStringLiteral("Kalimo - Salle"));

    ASSERT_TRUE(visitor.waitForReadyRead(60000) && visitor.readLine().trimmed() == "session");
    ASSERT_TRUE(wait_for([this] { return cell(QStringLiteral("Poste-02"), 3) == QStringLiteral("Occupé"); }));
    EXPECT_EQ(cell(QStringLiteral("Poste-02"), 5), QStringLiteral("mdurand"));
    EXPECT_EQ(cell(QStringLiteral("Poste-02"), 8), QStringLiteral("2 h 00 min"));
    EXPECT_EQ(s()->Salle_etat->text(),
              QStringLiteral("Postes : 2 ; libres : 0 ; occupés : 1 ; animateurs : 1 ; "
                             "silencieux : 0 ; jamais vus : 0."));

    s()->Salle_table_postes->selectRow(row_of(QStringLiteral("Poste-02")));
    ASSERT_TRUE(s()->Salle_bouton_terminer->isEnabled());
    std::vector<QString> questions;
    set_confirmation_sink([&](const QString& question) {
        questions.push_back(question);
        return questions.size() > 1; // "Non" first: nothing happens
    });
    s()->Salle_bouton_terminer->click();
    s()->Salle_bouton_terminer->click();
    set_confirmation_sink(nullptr);
    EXPECT_EQ(questions,
              std::vector<QString>(2, QStringLiteral("Terminer la session de mdurand sur Poste-02 ?")));
    ASSERT_TRUE(visitor.waitForFinished(20000)) << "the station ended its session";
    EXPECT_EQ(visitor.readAll().trimmed(), "ended");
    EXPECT_EQ(visitor.exitCode(), 0);
    EXPECT_EQ(db->rows("SELECT duree_resa, status_resa FROM tab_resa r JOIN tab_computer c ON "
                       "c.id_computer=r.id_computer_resa WHERE c.nom_computer='Poste-02'"),
              (std::vector<std::vector<std::string>>{{"1", "1"}}));
    ASSERT_TRUE(wait_for([this] { return cell(QStringLiteral("Poste-02"), 3) == QStringLiteral("Libre"); }));

    // A server that stops answering: the window goes on answering, and says so.
    SilentListener silent;
    ASSERT_TRUE(silent.listening());
    folder.write_file("Configuration_Base_de_donnee.init", db->name() + "\r\n" + silent.host() + "\r\n" +
                                                               access.staff_user + "\r\n" +
                                                               access.staff_password);
    ASSERT_TRUE(wait_for([&] { return silent.accepted() > 0; }));
    s()->Salle_recherche->setText(QStringLiteral("accueil"));
    EXPECT_TRUE(s()->Salle_table_postes->isRowHidden(row_of(QStringLiteral("Poste-02"))));
    EXPECT_FALSE(s()->Salle_table_postes->isRowHidden(row_of(QStringLiteral("Accueil"))));
    ASSERT_TRUE(wait_for([this] {
        return s()->Salle_etat->text().startsWith(
            QStringLiteral("Pas de connexion à la base de données ; dernière mise à jour à "));
    }));
    EXPECT_EQ(cell(QStringLiteral("Poste-02"), 3), QStringLiteral("Libre")) << "the last list stays";
    db->write_staff_database_file();

    // The staff session's end closes the view; "Salle" no longer opens it.
    window->Dconnexion1->trigger();
    EXPECT_FALSE(salle->isVisible());
    window->Salle1->trigger();
    EXPECT_FALSE(salle->isVisible());
    EXPECT_TRUE(messages.empty());
}
