#include "registration/inscription.h"
#include "session/compteur_temps.h"
#include "session/renseignement.h"
#include "setup/parametrage.h"
#include "tests/support/station_fixture.h"
#include "ui_parametrage.h"

#include <QAction>
#include <QComboBox>
#include <QKeyEvent>
#include <QStringList>

#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString name_prompt = QStringLiteral("Choisissez le nom du poste ...");
const QString mac_prompt = QStringLiteral("choisissez votre adresse mac ...");
const QString no_connection = QStringLiteral("Pas de connexion à la base de données");
const QString bad_configuration = QStringLiteral("la nouvelle configuration de la bdd est mauvaise");
const QString second_mac = QStringLiteral("00-1A-2B-3C-4D-5F");

class SetupScreen : public StationTest {
  protected:
    Ui::Parametrage* p() const { return window->parametrage()->ui(); }
    static QStringList items(const QComboBox* list) {
        QStringList out;
        for (int i = 0; i < list->count(); ++i) {
            out << list->itemText(i);
        }
        return out;
    }
    QStringList names() const { return items(p()->Parametrage_combobox_nom_poste); }
    QStringList macs() const { return items(p()->Parametrage_combobox_adresse_mac); }
    QString space_label() const { return p()->Parametrage_label_espace_lier->text(); }
    QStringList edits() const {
        return {p()->Parametrage_edit_nom_table_bdd->text(), p()->Parametrage_edit_adresse_bdd->text(),
                p()->Parametrage_edit_nom_bdd->text(), p()->Parametrage_edit_mdp_bdd->text()};
    }
    void select_name(const QString& name) {
        const int index = p()->Parametrage_combobox_nom_poste->findText(name);
        ASSERT_GE(index, 0) << name.toStdString();
        p()->Parametrage_combobox_nom_poste->setCurrentIndex(index);
    }
    // A free computer record, in a room of `space` when one is given.
    int add_free(const std::string& name, const std::string& space = std::string()) {
        std::string room = "0";
        if (!space.empty()) {
            db->exec("INSERT INTO tab_espace (nom_espace) VALUES (" + sql_quoted(space) + ")");
            db->exec("INSERT INTO tab_salle (id_espace, nom_salle) VALUES (" +
                     std::to_string(db->insert_id()) + ", 'Salle')");
            room = std::to_string(db->insert_id());
        }
        db->exec("INSERT INTO tab_computer (nom_computer, adresse_mac_computer, usage_computer, id_salle) "
                 "VALUES (" +
                 sql_quoted(name) + ", '', 0, " + room + ")");
        return static_cast<int>(db->insert_id());
    }
    std::vector<std::string> record(int id) {
        return db
            ->rows("SELECT usage_computer, adresse_mac_computer, adresse_ip_computer, nom_hote_computer FROM "
                   "tab_computer WHERE id_computer=" +
                   std::to_string(id))
            .at(0);
    }
    std::string all_records() {
        std::string out;
        for (const auto& row : db->rows("SELECT * FROM tab_computer ORDER BY id_computer")) {
            for (const auto& value : row) {
                out += value + "|";
            }
            out += "\n";
        }
        return out;
    }
    static std::string database_file_for(const std::string& name, const std::string& user,
                                         const std::string& password) {
        return name + "\r\n" + ServerAccess::from_environment().host + "\r\n" + user + "\r\n" + password;
    }
    std::string good_database_file() const {
        const ServerAccess access = ServerAccess::from_environment();
        return database_file_for(db->name(), access.station_user, access.station_password);
    }
    void set_edits(const std::string& name, const std::string& host, const std::string& user,
                   const std::string& password) {
        p()->Parametrage_edit_nom_table_bdd->setText(QString::fromStdString(name));
        p()->Parametrage_edit_adresse_bdd->setText(QString::fromStdString(host));
        p()->Parametrage_edit_nom_bdd->setText(QString::fromStdString(user));
        p()->Parametrage_edit_mdp_bdd->setText(QString::fromStdString(password));
    }
    // The set-up screen as a staff sign-in on an unidentified station shows it.
    void open_setup_after_sign_in() {
        window->show_only(window->parametrage());
        window->setup().fill_setup_screen();
    }
    bool setup_shown() const {
        return !window->parametrage()->isHidden() && window->identification()->isHidden() &&
               window->windowTitle() == QStringLiteral("Kalimo - Paramétrage");
    }
    void type_text(QWidget* widget, const QString& text) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, text);
        QApplication::sendEvent(widget, &press);
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, text);
        QApplication::sendEvent(widget, &release);
    }
};

} // namespace

TEST_F(SetupScreen, WithTheServerUnreachableBothListsSaySoAndTheValuesCanBeCorrected) {
    // No station file and a database the server refuses: start-up goes straight to set-up.
    folder.write_file("Configuration_Base_de_donnee.init", "base\r\n127.0.0.1\r\nnobody\r\nwrong");
    start();
    ASSERT_TRUE(setup_shown());
    EXPECT_EQ(window->station.db_check, 1);
    EXPECT_EQ(window->geometry(), QRect(345, 209, 950, 600));
    EXPECT_EQ(names(), QStringList{no_connection});
    EXPECT_EQ(macs(), QStringList{no_connection});
    EXPECT_EQ(p()->Parametrage_combobox_nom_poste->currentIndex(), 0);
    EXPECT_EQ(p()->Parametrage_combobox_adresse_mac->currentIndex(), 0);
    EXPECT_FALSE(p()->Parametrage_combobox_nom_poste->isEnabled());
    EXPECT_FALSE(p()->Parametrage_combobox_adresse_mac->isEnabled());
    EXPECT_FALSE(p()->Parametrage_radio_type_poste_usager->isChecked());
    EXPECT_FALSE(p()->Parametrage_radio_type_poste_animateur->isChecked());
    EXPECT_FALSE(p()->Parametrage_radio_type_poste_usager->isEnabled());
    EXPECT_FALSE(p()->Parametrage_radio_type_poste_animateur->isEnabled());
    EXPECT_EQ(space_label(), QStringLiteral("Il n'y a pas de connexion à la base de données"));
    EXPECT_TRUE(p()->Parametrage_bouton_actualiser_nom_poste->isHidden());
    EXPECT_TRUE(p()->Parametrage_bouton_aide_adresse_mac->isHidden());
    EXPECT_EQ(p()->Parametrage_label_adresse_ip_lier->text(), QStringLiteral("192.168.10.21"));
    EXPECT_EQ(edits(), (QStringList{QStringLiteral("base"), QStringLiteral("127.0.0.1"),
                                    QStringLiteral("nobody"), QStringLiteral("wrong")}));
    EXPECT_TRUE(p()->Parametrage_edit_nom_table_bdd->isEnabled());
    // The password is typed where the visitors of the room can see the screen.
    EXPECT_EQ(p()->Parametrage_edit_mdp_bdd->echoMode(), QLineEdit::Password);

    // Still wrong: both files are written, the message is shown, the screen stays as it was.
    p()->Parametrage_edit_mdp_bdd->setText(QStringLiteral("still wrong"));
    p()->Bouton_valider_parametrage->click();
    EXPECT_EQ(messages, std::vector<QString>{bad_configuration});
    EXPECT_EQ(folder.read_file("Configuration_Base_de_donnee.init"),
              "base\r\n127.0.0.1\r\nnobody\r\nstill wrong");
    EXPECT_EQ(folder.read_file("Configuration_Poste_MAC.init"), "Pas de connexion \xE0 la base de donn\xE9"
                                                                "es");
    EXPECT_TRUE(setup_shown());
    EXPECT_EQ(names(), QStringList{no_connection});
    EXPECT_EQ(p()->Parametrage_edit_mdp_bdd->text(), QStringLiteral("still wrong"));
}

TEST_F(SetupScreen, CorrectedDatabaseValuesRestartTheStation) {
    REQUIRE_SERVER();
    with_database();
    const int free = add_free("Poste-02");
    const ServerAccess access = ServerAccess::from_environment();
    db->write_database_file(access.station_user, "wrong");
    start();
    ASSERT_TRUE(setup_shown());
    ASSERT_EQ(names(), QStringList{no_connection});

    set_edits(db->name(), access.host, access.station_user, access.station_password);
    p()->Bouton_valider_parametrage->click();
    EXPECT_TRUE(messages.empty()) << messages.front().toStdString();
    EXPECT_EQ(folder.read_file("Configuration_Base_de_donnee.init"), good_database_file());
    EXPECT_EQ(window->station.db_check, 0);
    // The lists held no record, so the station is still not identified: the staff login before set-up.
    EXPECT_FALSE(window->identification()->isHidden());
    EXPECT_TRUE(window->parametrage()->isHidden());
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Kalimo - Paramétrage"));
    EXPECT_EQ(window->station.setup_required, 1);
    EXPECT_EQ(record(free), (std::vector<std::string>{"0", "", "", ""}));
}

TEST_F(SetupScreen, AKnownStationListsItsOwnNameFirstThenTheFreeOnes) {
    REQUIRE_SERVER();
    with_database();
    system.adapters.push_back(FakePlatform::mac(0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5F));
    add_room("Espace Jean Moulin", "Poste-01", 2);
    add_free("Poste-02");
    add_free("Poste-01"); // a second record with the station's own name is not listed twice
    add_free("");         // a record without a name cannot be chosen
    add_free("Poste-03");
    start();
    ASSERT_EQ(window->station.id_computer, id_computer);
    // As an earlier fill without server would have left them.
    p()->Parametrage_radio_type_poste_usager->setEnabled(false);
    p()->Parametrage_radio_type_poste_animateur->setEnabled(false);

    window->setup().fill_setup_screen();
    EXPECT_EQ(names(), (QStringList{QStringLiteral("Poste-01"), QStringLiteral("Poste-02"),
                                    QStringLiteral("Poste-03")}));
    EXPECT_EQ(p()->Parametrage_combobox_nom_poste->currentIndex(), 0);
    EXPECT_TRUE(p()->Parametrage_combobox_nom_poste->isEnabled());
    EXPECT_EQ(space_label(), QStringLiteral("Espace Jean Moulin"));
    EXPECT_TRUE(p()->Parametrage_radio_type_poste_animateur->isChecked());
    EXPECT_FALSE(p()->Parametrage_radio_type_poste_usager->isChecked());
    EXPECT_TRUE(p()->Parametrage_radio_type_poste_usager->isEnabled());
    EXPECT_TRUE(p()->Parametrage_radio_type_poste_animateur->isEnabled());
    EXPECT_EQ(macs(), (QStringList{QString::fromLatin1(kMac), second_mac}));
    EXPECT_EQ(p()->Parametrage_combobox_adresse_mac->currentIndex(), -1);
    EXPECT_EQ(p()->Parametrage_combobox_adresse_mac->placeholderText(),
              QStringLiteral("Choisissez une adresse mac ..."));
    EXPECT_TRUE(p()->Parametrage_combobox_adresse_mac->isEnabled());
    EXPECT_FALSE(p()->Parametrage_bouton_actualiser_nom_poste->isHidden());
    EXPECT_FALSE(p()->Parametrage_bouton_aide_adresse_mac->isHidden());
    EXPECT_EQ(p()->Parametrage_label_adresse_ip_lier->text(), QStringLiteral("192.168.10.21"));
    const ServerAccess access = ServerAccess::from_environment();
    EXPECT_EQ(edits(), (QStringList{QString::fromStdString(db->name()), QString::fromStdString(access.host),
                                    QString::fromStdString(access.station_user),
                                    QString::fromStdString(access.station_password)}));
    EXPECT_EQ(connections_beyond_kept_links(), 0);

    // A usage the station does not know leaves the radio buttons as they are; a missing file empties the
    // edits.
    db->exec("UPDATE tab_computer SET usage_computer=1 WHERE id_computer=" + std::to_string(id_computer));
    window->setup().fill_setup_screen();
    EXPECT_TRUE(p()->Parametrage_radio_type_poste_usager->isChecked());
    db->exec("UPDATE tab_computer SET usage_computer=5 WHERE id_computer=" + std::to_string(id_computer));
    p()->Parametrage_radio_type_poste_animateur->setChecked(true);
    window->setup().fill_setup_screen();
    EXPECT_TRUE(p()->Parametrage_radio_type_poste_animateur->isChecked());
    folder.write_file("Configuration_Base_de_donnee.init", "");
    window->setup().fill_setup_screen();
    EXPECT_EQ(edits(), (QStringList{QString(), QString(), QString(), QString()}));
}

TEST_F(SetupScreen, AKnownStationsValiderTakesTheAdapterUnderThePrompt) {
    REQUIRE_SERVER();
    with_database();
    system.adapters.push_back(FakePlatform::mac(0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5F));
    // A staff station: its claimed record keeps its usage.
    add_room("Espace Jean Moulin", "Poste-01", 2);
    start();
    window->setup().fill_setup_screen();
    ASSERT_EQ(p()->Parametrage_combobox_adresse_mac->currentIndex(), -1);
    p()->Parametrage_radio_type_poste_animateur->setChecked(true);
    p()->Bouton_valider_parametrage->click();
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(folder.read_file("Configuration_Poste_MAC.init"), kMac);
    EXPECT_EQ(record(id_computer), (std::vector<std::string>{"2", kMac, "192.168.10.21", "poste-test"}));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Kalimo - Animateur")) << "restarted as a staff station";
}

TEST_F(SetupScreen, AnUnidentifiedStationListsThePromptsThenFreeRecordsAndNamesTheirSpace) {
    REQUIRE_SERVER();
    with_database();
    add_free("Poste-02", "Espace Nord");
    add_free("Poste-03");
    start();
    ASSERT_FALSE(window->identification()->isHidden()) << "the staff login before set-up";
    ASSERT_EQ(window->station.db_check, 0);
    open_setup_after_sign_in();

    EXPECT_EQ(names(), (QStringList{name_prompt, QStringLiteral("Poste-02"), QStringLiteral("Poste-03")}));
    EXPECT_EQ(p()->Parametrage_combobox_nom_poste->currentIndex(), 0);
    EXPECT_EQ(space_label(), QStringLiteral("Espace non défini"));
    EXPECT_EQ(macs(), (QStringList{mac_prompt, QString::fromLatin1(kMac)}));
    EXPECT_EQ(p()->Parametrage_combobox_adresse_mac->currentIndex(), 0);
    EXPECT_TRUE(p()->Parametrage_radio_type_poste_usager->isChecked());
    EXPECT_TRUE(p()->Parametrage_radio_type_poste_usager->isEnabled());
    EXPECT_FALSE(p()->Parametrage_radio_type_poste_animateur->isChecked());
    EXPECT_TRUE(p()->Parametrage_radio_type_poste_animateur->isEnabled());
    EXPECT_FALSE(p()->Parametrage_bouton_actualiser_nom_poste->isHidden());
    EXPECT_FALSE(p()->Parametrage_bouton_aide_adresse_mac->isHidden());

    // Choosing a name updates the space label at once.
    select_name(QStringLiteral("Poste-02"));
    EXPECT_EQ(space_label(), QStringLiteral("Espace Nord"));
    select_name(QStringLiteral("Poste-03"));
    EXPECT_EQ(space_label(), QStringLiteral("Espace non défini"));
    select_name(QStringLiteral("Poste-02"));
    select_name(name_prompt);
    EXPECT_EQ(space_label(), QStringLiteral("Espace non défini"));
    EXPECT_EQ(connections_beyond_kept_links(), 0);
}

TEST_F(SetupScreen, WithoutFreeRecordsOnlyThePromptIsListed) {
    REQUIRE_SERVER();
    with_database();
    start();
    open_setup_after_sign_in();
    EXPECT_EQ(names(), QStringList{name_prompt});
    EXPECT_EQ(space_label(), QStringLiteral("Espace non défini"));
}

TEST_F(SetupScreen, TheReloadButtonListsTheRecordsFreeNow) {
    REQUIRE_SERVER();
    with_database();
    add_room("Espace Jean Moulin", "Poste-01", 1);
    const int first = add_free("Poste-02");
    start();
    window->setup().fill_setup_screen();
    ASSERT_EQ(names(), (QStringList{QStringLiteral("Poste-01"), QStringLiteral("Poste-02")}));

    add_free("Poste-04", "Espace Sud");
    p()->Parametrage_bouton_actualiser_nom_poste->click();
    EXPECT_EQ(names(), (QStringList{QStringLiteral("Poste-01"), QStringLiteral("Poste-02"),
                                    QStringLiteral("Poste-04")}));
    EXPECT_EQ(space_label(), QStringLiteral("Espace Jean Moulin"));

    // Every record claimed: a known station's list holds only the prompt.
    db->exec(
        "UPDATE tab_computer SET adresse_mac_computer='00-00-00-00-00-01' WHERE adresse_mac_computer=''");
    p()->Parametrage_bouton_actualiser_nom_poste->click();
    EXPECT_EQ(names(), QStringList{name_prompt});
    EXPECT_EQ(space_label(), QStringLiteral("Espace non défini"));

    // A station whose record is gone lists the prompt and then the free records.
    db->exec("UPDATE tab_computer SET adresse_mac_computer='' WHERE id_computer=" + std::to_string(first));
    db->exec("DELETE FROM tab_computer WHERE id_computer=" + std::to_string(id_computer));
    p()->Parametrage_bouton_actualiser_nom_poste->click();
    EXPECT_EQ(names(), (QStringList{name_prompt, QStringLiteral("Poste-02")}));
    EXPECT_EQ(connections_beyond_kept_links(), 0);
}

TEST_F(SetupScreen, ValiderWritesBothFilesBindsTheRecordAndRestartsIdentified) {
    REQUIRE_SERVER();
    with_database();
    system.adapters.push_back(FakePlatform::mac(0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5F));
    const int other = add_free("Poste-02", "Espace Nord");
    const int chosen = add_free("Poste-03", "Espace Sud");
    start();
    open_setup_after_sign_in();
    // Valider writes the database file from the edits, not from the file it read.
    std::remove("Configuration_Base_de_donnee.init");
    select_name(QStringLiteral("Poste-03"));
    p()->Parametrage_combobox_adresse_mac->setCurrentIndex(2);
    p()->Parametrage_radio_type_poste_animateur->setChecked(true);
    p()->Bouton_valider_parametrage->click();

    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(folder.read_file("Configuration_Base_de_donnee.init"), good_database_file());
    EXPECT_EQ(folder.read_file("Configuration_Poste_MAC.init"), "00-1A-2B-3C-4D-5F");
    EXPECT_EQ(record(chosen),
              (std::vector<std::string>{"2", "00-1A-2B-3C-4D-5F", "192.168.10.21", "poste-test"}));
    EXPECT_EQ(record(other), (std::vector<std::string>{"0", "", "", ""}));
    EXPECT_EQ(window->station.db_check, 0);
    EXPECT_EQ(window->station.id_computer, chosen);
    EXPECT_TRUE(window->parametrage()->isHidden());
    EXPECT_FALSE(window->identification()->isHidden());
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Kalimo - Animateur"));
    EXPECT_EQ(id()->Identification_label_nom_poste->text(), QStringLiteral("Poste-03"));
    EXPECT_EQ(id()->Identification_label_nom_espace->text(), QStringLiteral("Espace Sud"));
    EXPECT_EQ(connections_beyond_kept_links(), 0);
}

TEST_F(SetupScreen, ValiderTakesThePromptItemsAsTheyAre) {
    REQUIRE_SERVER();
    with_database();
    add_free("Poste-02");
    start();
    open_setup_after_sign_in();
    const std::string before = all_records();
    p()->Bouton_valider_parametrage->click();
    EXPECT_TRUE(messages.empty()) << "an UPDATE that matches no row counts as accepted";
    EXPECT_EQ(folder.read_file("Configuration_Poste_MAC.init"), "choisissez votre adresse mac ...");
    EXPECT_EQ(all_records(), before);
    // The restart cannot identify the station and comes back to the staff login before set-up.
    EXPECT_FALSE(window->identification()->isHidden());
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Kalimo - Paramétrage"));
    EXPECT_EQ(window->station.setup_required, 1);
}

TEST_F(SetupScreen, ValiderWithValuesThatReachNoServerReportsAndStays) {
    REQUIRE_SERVER();
    with_database();
    add_free("Poste-02");
    start();
    open_setup_after_sign_in();
    select_name(QStringLiteral("Poste-02"));
    p()->Parametrage_combobox_adresse_mac->setCurrentIndex(1);
    p()->Parametrage_edit_mdp_bdd->setText(QStringLiteral("wrong"));
    const std::string before = all_records();
    const QStringList listed = names();
    p()->Bouton_valider_parametrage->click();

    EXPECT_EQ(messages, std::vector<QString>{bad_configuration});
    const ServerAccess access = ServerAccess::from_environment();
    EXPECT_EQ(folder.read_file("Configuration_Base_de_donnee.init"),
              database_file_for(db->name(), access.station_user, "wrong"));
    EXPECT_EQ(folder.read_file("Configuration_Poste_MAC.init"), kMac);
    EXPECT_EQ(all_records(), before);
    EXPECT_TRUE(setup_shown());
    EXPECT_EQ(names(), listed);
    EXPECT_EQ(p()->Parametrage_combobox_nom_poste->currentText(), QStringLiteral("Poste-02"));
    EXPECT_EQ(p()->Parametrage_edit_mdp_bdd->text(), QStringLiteral("wrong"));
}

TEST_F(SetupScreen, ARefusedUpdateIsReportedAndTheScreenStays) {
    REQUIRE_SERVER();
    with_database();
    add_free("Poste-02");
    db->exec("CREATE TRIGGER refuse_binding BEFORE UPDATE ON tab_computer FOR EACH ROW "
             "SIGNAL SQLSTATE '45000' SET MESSAGE_TEXT = 'refused'");
    start();
    open_setup_after_sign_in();
    select_name(QStringLiteral("Poste-02"));
    const std::string before = all_records();
    p()->Bouton_valider_parametrage->click();
    EXPECT_EQ(messages, std::vector<QString>{
                            QStringLiteral("la configuration avec la base de données n'a pas fonctionné")});
    EXPECT_EQ(all_records(), before);
    EXPECT_TRUE(setup_shown());
    EXPECT_EQ(p()->Parametrage_combobox_nom_poste->currentText(), QStringLiteral("Poste-02"));
}

TEST_F(SetupScreen, AnUnwritableDatabaseFileIsReportedAndTheUpdateIsStillTried) {
    REQUIRE_SERVER();
    with_database();
    add_free("Poste-02");
    start();
    open_setup_after_sign_in();
    select_name(QStringLiteral("Poste-02"));
    p()->Parametrage_combobox_adresse_mac->setCurrentIndex(1);
    // A folder in the file's place cannot be written, even by root.
    std::remove("Configuration_Base_de_donnee.init");
    ASSERT_EQ(mkdir("Configuration_Base_de_donnee.init", 0755), 0);
    p()->Bouton_valider_parametrage->click();
    EXPECT_EQ(messages, (std::vector<QString>{QStringLiteral("l'ecriture du fichier texte n'a pas reussi"),
                                              bad_configuration}));
    EXPECT_EQ(folder.read_file("Configuration_Poste_MAC.init"), kMac) << "the update went on";
    EXPECT_TRUE(setup_shown());
}

TEST_F(SetupScreen, InstallerPlusTardEndsTheProgramAndChangesNothing) {
    REQUIRE_SERVER();
    with_database();
    add_room("Espace Jean Moulin", "Poste-01", 1);
    add_free("Poste-02");
    start();
    window->show_only(window->parametrage());
    window->setup().fill_setup_screen();
    select_name(QStringLiteral("Poste-02"));
    p()->Parametrage_edit_mdp_bdd->setText(QStringLiteral("changed"));
    const std::string database_file = folder.read_file("Configuration_Base_de_donnee.init");
    const std::string before = all_records();
    ASSERT_EQ(window->station.close_allowed, 0) << "the welcome screen refuses to close";
    p()->Bouton_retour_parametrage->click();
    EXPECT_EQ(window->station.close_allowed, 1);
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(folder.read_file("Configuration_Base_de_donnee.init"), database_file);
    EXPECT_EQ(folder.read_file("Configuration_Poste_MAC.init"), kMac);
    EXPECT_EQ(all_records(), before);
    EXPECT_TRUE(messages.empty());
}

TEST_F(SetupScreen, TheHelpButtonExplainsWhereToFindTheMac) {
    REQUIRE_SERVER();
    with_database();
    start();
    open_setup_after_sign_in();
    p()->Parametrage_bouton_aide_adresse_mac->click();
    EXPECT_EQ(
        messages,
        std::vector<QString>{QStringLiteral(
            "Pour connaître l'adresse mac à renseigner, faite < Démarrer / Tous les programmes / Accessoires "
            "/ Invite de commande > à se moment, taper < ipconfig/all > et relever l'adresse physique lié à "
            "l'adresse ip indiqué.")});
}

TEST_F(SetupScreen, ParametresDuringAStaffSessionClosesItsRowAndOpensSetup) {
    REQUIRE_SERVER();
    with_database();
    add_room("Espace Jean Moulin", "Poste-01", 2);
    add_free("Poste-02");
    const int staff = add_user("anim", "secret", 3);
    start();
    db->exec("INSERT INTO tab_resa (id_computer_resa, id_user_resa, date_resa, debut_resa, duree_resa, "
             "status_resa) "
             "VALUES (" +
             std::to_string(id_computer) + ", " + std::to_string(staff) + ", '2026-12-09', 600, 45, 0)");
    const long long resa = db->insert_id();
    window->session.id_user = staff;
    window->session.status_user = 3;
    window->session.id_resa = static_cast<int>(resa);
    window->session.elapsed_seconds = 1800;

    window->Paramtres1->trigger();
    EXPECT_EQ(
        db->rows("SELECT duree_resa, status_resa FROM tab_resa WHERE id_resa=" + std::to_string(resa)).at(0),
        (std::vector<std::string>{"0", "2"}));
    EXPECT_EQ(window->session.closing_status, 2);
    EXPECT_EQ(window->session.elapsed_seconds, 0u);
    EXPECT_EQ(window->session.id_resa, 0);
    EXPECT_TRUE(setup_shown());
    EXPECT_TRUE(window->renseignement()->isHidden());
    EXPECT_TRUE(window->compteur_temps()->isHidden());
    EXPECT_TRUE(window->inscription()->isHidden());
    EXPECT_EQ(window->geometry(), QRect(345, 209, 950, 600));
    EXPECT_EQ(window->station.staff_screen, 1);
    EXPECT_EQ(window->station.setup_required, 1);
    EXPECT_EQ(window->station.close_allowed, 1);
    EXPECT_EQ(names(), (QStringList{QStringLiteral("Poste-01"), QStringLiteral("Poste-02")}));
    EXPECT_TRUE(p()->Parametrage_radio_type_poste_animateur->isChecked());

    // The closed row is not closed a second time.
    db->exec("UPDATE tab_resa SET status_resa=7 WHERE id_resa=" + std::to_string(resa));
    window->Paramtres1->trigger();
    EXPECT_EQ(db->scalar("SELECT status_resa FROM tab_resa WHERE id_resa=" + std::to_string(resa)), "7");
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(connections_beyond_kept_links(), 0);
}

TEST_F(SetupScreen, ParametresWithAnyOtherSessionDoesNothing) {
    REQUIRE_SERVER();
    with_database();
    add_room("Espace Jean Moulin", "Poste-01", 1);
    const int visitor = add_user("marie", "secret", 1);
    const int admin = add_user("chef", "secret", 4);
    start();
    db->exec("INSERT INTO tab_resa (id_computer_resa, id_user_resa, date_resa, debut_resa, duree_resa, "
             "status_resa) "
             "VALUES (" +
             std::to_string(id_computer) + ", " + std::to_string(visitor) + ", '2026-12-09', 600, 45, 0)");
    const int resa = static_cast<int>(db->insert_id());
    const QString title = window->windowTitle();
    const QRect geometry = window->geometry();
    auto untouched = [&](const char* who) {
        EXPECT_EQ(db->rows("SELECT duree_resa, status_resa FROM tab_resa").at(0),
                  (std::vector<std::string>{"45", "0"}))
            << who;
        EXPECT_TRUE(window->parametrage()->isHidden()) << who;
        EXPECT_FALSE(window->identification()->isHidden()) << who;
        EXPECT_EQ(window->windowTitle(), title) << who;
        EXPECT_EQ(window->geometry(), geometry) << who;
        EXPECT_EQ(window->station.setup_required, 0) << who;
    };

    window->Paramtres1->trigger();
    untouched("nobody signed in");

    window->session.id_user = visitor;
    window->session.status_user = 1;
    window->session.id_resa = resa;
    window->Paramtres1->trigger();
    untouched("a visitor's session");
    EXPECT_EQ(window->session.id_resa, resa);

    window->session.id_user = admin;
    window->session.status_user = 4;
    window->session.id_resa = 0;
    window->Paramtres1->trigger();
    untouched("a staff account without session row");

    // The same account with its row open: set-up opens.
    window->session.id_resa = resa;
    window->Paramtres1->trigger();
    EXPECT_TRUE(setup_shown());
    EXPECT_EQ(db->scalar("SELECT status_resa FROM tab_resa"), "2");
}

TEST_F(SetupScreen, AComputerNameWithQuotesIsBound) {
    REQUIRE_SERVER();
    with_database();
    const std::string hostile = "Poste \"B\" d'Anne\\ é";
    add_free("Poste \"B\" d");
    const int chosen = add_free(hostile, "Espace l'Étoile");
    start();
    open_setup_after_sign_in();
    select_name(QString::fromStdString(hostile));
    EXPECT_EQ(space_label(), QStringLiteral("Espace l'Étoile"));
    p()->Parametrage_combobox_adresse_mac->setCurrentIndex(1);
    p()->Bouton_valider_parametrage->click();
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(record(chosen), (std::vector<std::string>{"1", kMac, "192.168.10.21", "poste-test"}));
    EXPECT_EQ(db->scalar("SELECT COUNT(*) FROM tab_computer WHERE adresse_mac_computer<>''"), "1");
    EXPECT_EQ(window->station.id_computer, chosen);
    EXPECT_EQ(id()->Identification_label_nom_poste->text(), QString::fromStdString(hostile));
}

TEST_F(SetupScreen, APasswordWithPercentQuoteAndBackslashSurvivesTheFileAndTheConnection) {
    REQUIRE_SERVER();
    with_database();
    const std::string user = "kt_setup_" + std::to_string(getpid());
    const std::string password = "p%s%d'q\\r\"é";
    db->exec("DROP USER IF EXISTS " + sql_quoted(user) + "@'127.0.0.1'");
    // The station sends its password in its code page: the server must know it in the same bytes.
    db->exec("SET NAMES latin1; CREATE USER " + sql_quoted(user) + "@'127.0.0.1' IDENTIFIED BY " +
             sql_quoted("p%s%d'q\\r\"\xE9") + "; SET NAMES utf8mb4");
    struct DropUser {
        TestDatabase& db;
        std::string sql;
        ~DropUser() { db.exec(sql); }
    } drop{*db, "DROP USER IF EXISTS " + sql_quoted(user) + "@'127.0.0.1'"};
    db->grant_station_role(sql_quoted(user) + "@'127.0.0.1'");
    const int chosen = add_free("Poste-02");
    start();
    open_setup_after_sign_in();
    select_name(QStringLiteral("Poste-02"));
    p()->Parametrage_combobox_adresse_mac->setCurrentIndex(1);
    set_edits(db->name(), ServerAccess::from_environment().host, user, password);
    p()->Bouton_valider_parametrage->click();

    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(folder.read_file("Configuration_Base_de_donnee.init"),
              database_file_for(db->name(), user, "p%s%d'q\\r\"\xE9"));
    EXPECT_EQ(record(chosen)[1], kMac) << "the update ran on a connection with that password";
    EXPECT_EQ(window->station.id_computer, chosen) << "and so did the restart";
}

TEST_F(SetupScreen, TextOutsideTheCodePageIsRefusedWithoutWritingAnything) {
    REQUIRE_SERVER();
    with_database();
    add_free("Poste-02");
    start();
    open_setup_after_sign_in();
    QLineEdit* password = p()->Parametrage_edit_mdp_bdd;
    const QString kept = password->text();

    // Typing or pasting such a character is refused by the edit; the code page's own are taken.
    password->setFocus();
    type_text(password, QStringLiteral("Ж"));
    password->insert(QStringLiteral("日本"));
    EXPECT_EQ(password->text(), kept);
    type_text(password, QStringLiteral("é"));
    password->insert(QStringLiteral("€"));
    EXPECT_EQ(password->text(), kept + QStringLiteral("é€"));
    password->setText(kept);

    // Over-long values are cut at the edits' capacity.
    p()->Parametrage_edit_nom_table_bdd->setText(QString(300, QLatin1Char('x')));
    EXPECT_EQ(p()->Parametrage_edit_nom_table_bdd->text().size(), 254);
    p()->Parametrage_edit_nom_table_bdd->setText(QString::fromStdString(db->name()));

    // A value set by other means is refused by Valider before anything is written.
    select_name(QStringLiteral("Poste-02"));
    p()->Parametrage_combobox_adresse_mac->setCurrentIndex(1);
    const std::string database_file = folder.read_file("Configuration_Base_de_donnee.init");
    const std::string before = all_records();
    for (const QString& hostile : {QStringLiteral("пароль"), QStringLiteral("a\tb"), QStringLiteral("😀")}) {
        messages.clear();
        p()->Parametrage_edit_nom_bdd->setText(hostile);
        p()->Bouton_valider_parametrage->click();
        EXPECT_EQ(messages, std::vector<QString>{bad_configuration}) << hostile.toStdString();
        EXPECT_EQ(folder.read_file("Configuration_Base_de_donnee.init"), database_file);
        EXPECT_FALSE(folder.exists("Configuration_Poste_MAC.init"));
        EXPECT_EQ(all_records(), before);
        EXPECT_TRUE(setup_shown());
    }
}
