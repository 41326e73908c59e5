#include "fonction/text.h"
#include "registration/inscription.h"
#include "session/compteur_temps.h"
#include "session/renseignement.h"
#include "tests/support/station_fixture.h"
#include "ui_inscription.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QApplication>
#include <QKeyEvent>

#include <chrono>
#include <thread>

namespace {

QString u(const char* utf8) {
    return QString::fromUtf8(utf8);
}

class RegistrationScreen : public StationTest {
  protected:
    void SetUp() override {
        StationTest::SetUp();
        REQUIRE_SERVER();
        with_database();
        add_room();
        db->exec("INSERT INTO tab_city (nom_city) VALUES ('Lyon'), ('AUTRES'), ('Paris'), ('Saint-Étienne')");
        start();
        ASSERT_TRUE(id()->Identification_bouton_inscription->isVisible());
    }
    Ui::Inscription* form() const { return window->inscription()->ui(); }
    void open_form() { id()->Identification_bouton_inscription->click(); }
    int city_id(const std::string& name) {
        return std::stoi(db->scalar("SELECT id_city FROM tab_city WHERE nom_city='" + name + "'"));
    }
    void select_city(const QString& name) {
        const int index = form()->Inscription_ComboBox_ville->findText(name);
        ASSERT_GE(index, 0) << name.toStdString();
        form()->Inscription_ComboBox_ville->setCurrentIndex(index);
    }
    // Jean Dupont, born on 5 March 1990, retired, living in Lyon.
    void fill_required() {
        form()->Inscription_Nom->setText(QStringLiteral("DUPONT"));
        form()->Inscription_Prenom->setText(QStringLiteral("JEAN"));
        form()->Inscription_radio_homme->setChecked(true);
        form()->Inscription_ComboBox_jour->setCurrentIndex(4);
        form()->Inscription_ComboBox_mois->setCurrentIndex(2);
        form()->Inscription_annee->setText(QStringLiteral("1990"));
        form()->Inscription_Code_postal->setText(QStringLiteral("69001"));
        select_city(QStringLiteral("Lyon"));
        form()->Inscription_radio_retraite->setChecked(true);
        form()->Inscription_radio_internet->setChecked(true);
        form()->Inscription_radio_maison->setChecked(true);
        form()->Inscription_radio_Intermediaire->setChecked(true);
    }
    void validate() { form()->Bouton_valider_inscription->click(); }
    long long registrations() { return db->count("tab_inscription_user"); }
    bool on_registration_screen() const {
        return window->inscription()->isVisible() && !window->identification()->isVisible();
    }
    // Types as a keyboard would, one character at a time.
    static void type_text(QLineEdit* edit, const QString& text) {
        for (const QChar c : text) {
            QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
            QApplication::sendEvent(edit, &press);
        }
    }
    // The one registration the test made (rows seeded by the test are given another surname).
    std::vector<std::string> only_row(const std::string& seeded_surname = "") {
        const auto rows = db->rows(
            "SELECT date_inscription_user, nom_inscription_user, prenom_inscription_user, "
            "sexe_inscription_user, "
            "jour_naissance_inscription_user, mois_naissance_inscription_user, "
            "annee_naissance_inscription_user, "
            "adresse_inscription_user, code_postal_inscription, ville_inscription_user, "
            "commune_inscription_autres, "
            "tel_inscription_user, tel_port_inscription_user, mail_inscription_user, temps_inscription_user, "
            "csp_inscription_user, equipement_inscription_user, utilisation_inscription_user, "
            "connaissance_inscription_user, info_inscription_user, login_inscription_user, "
            "pass_inscription_user, "
            "status_inscription_user, lastvisit_inscription_user FROM tab_inscription_user" +
            (seeded_surname.empty() ? std::string()
                                    : " WHERE nom_inscription_user <> " + sql_quoted(seeded_surname)));
        EXPECT_EQ(rows.size(), 1u);
        return rows.empty() ? std::vector<std::string>(24) : rows[0];
    }
    void add_person(const std::string& login, const std::string& nom, const std::string& prenom, char sexe,
                    int day, int month, int year) {
        db->exec("INSERT INTO tab_user (login_user, nom_user, prenom_user, sexe_user, jour_naissance_user, "
                 "mois_naissance_user, annee_naissance_user) VALUES (" +
                 sql_quoted(login) + ", " + sql_quoted(nom) + ", " + sql_quoted(prenom) + ", '" +
                 std::string(1, sexe) + "', " + std::to_string(day) + ", " + std::to_string(month) + ", " +
                 std::to_string(year) + ")");
    }
    static QString confirmation(const QString& login) {
        return u("Votre inscription est enregistré. Veuillez dès à présent prévenir votre animateur pour "
                 "qu'il la "
                 "valide. L'identifiant par défaut est ") +
               login +
               u(" et votre mot de passe par défaut se compose des 8 chiffres de votre date de naissance");
    }
};

} // namespace

TEST_F(RegistrationScreen, OpeningListsTheTownsOnceInTheServersOrder) {
    id()->Identification_labeledit_identifiant->setText(QStringLiteral("someone"));
    id()->Identification_labeledit_mot_de_passe->setText(QStringLiteral("secret"));
    open_form();
    EXPECT_TRUE(on_registration_screen());
    EXPECT_TRUE(id()->Identification_labeledit_identifiant->text().isEmpty());
    EXPECT_TRUE(id()->Identification_labeledit_mot_de_passe->text().isEmpty());
    QComboBox* towns = form()->Inscription_ComboBox_ville;
    const auto expected = db->rows("SELECT nom_city FROM tab_city");
    ASSERT_EQ(towns->count(), static_cast<int>(expected.size()));
    for (int i = 0; i < towns->count(); ++i) {
        EXPECT_EQ(towns->itemText(i).toStdString(), expected[static_cast<std::size_t>(i)][0]);
    }
    EXPECT_EQ(towns->currentIndex(), -1) << "the visitor chooses the town";
    EXPECT_FALSE(form()->Inscription_ville->isVisible());

    select_city(QStringLiteral("AUTRES"));
    EXPECT_TRUE(form()->Inscription_ville->isVisible()) << "Autres, in any letter case";
    form()->Bouton_retour_inscription->click();
    db->exec("INSERT INTO tab_city (nom_city) VALUES ('Brest')");
    open_form();
    EXPECT_EQ(towns->count(), static_cast<int>(expected.size()) + 1) << "rebuilt, each town once";
    EXPECT_EQ(towns->findText(QStringLiteral("Brest")), towns->count() - 1);
    EXPECT_FALSE(form()->Inscription_ville->isVisible()) << "the opening hides the other town";
    EXPECT_EQ(connections_beyond_kept_links(), 0);
}

TEST_F(RegistrationScreen, TheFirstMissingFieldIsNamedAndNothingIsWritten) {
    open_form();
    struct Step {
        const char* message;
        std::function<void()> fill;
    };
    auto* f = form();
    const std::vector<Step> steps = {
        {"remplissez le nom", [f] { f->Inscription_Nom->setText(QStringLiteral(" ")); }},
        {"remplissez le prénom", [f] { f->Inscription_Prenom->setText(QStringLiteral("JEAN")); }},
        {"remplissez la civilité", [f] { f->Inscription_radio_femme->setChecked(true); }},
        {"remplissez votre date de naissance", [f] { f->Inscription_ComboBox_jour->setCurrentIndex(30); }},
        {"remplissez votre date de naissance", [f] { f->Inscription_ComboBox_mois->setCurrentIndex(1); }},
        {"remplissez votre date de naissance",
         [f] { f->Inscription_annee->setText(QStringLiteral("2001")); }},
        {"remplissez votre code postal",
         [f] { f->Inscription_Code_postal->setText(QStringLiteral("29200")); }},
        {"remplissez votre ville", [this] { select_city(QStringLiteral("Paris")); }},
        {"remplissez votre catégorie socio-professionnelle",
         [f] { f->Inscription_radio_eleve->setChecked(true); }},
        {"remplissez votre équipement", [f] { f->Inscription_radio_aucun->setChecked(true); }},
        {"remplissez le lieu d'utilisation", [f] { f->Inscription_radio_aucunlieu->setChecked(true); }},
        {"remplissez votre connaissance", [f] { f->Inscription_radio_debutant->setChecked(true); }},
    };
    for (const Step& step : steps) {
        messages.clear();
        validate();
        ASSERT_EQ(messages.size(), 1u) << step.message;
        EXPECT_EQ(messages[0], u(step.message));
        EXPECT_TRUE(on_registration_screen());
        EXPECT_EQ(registrations(), 0);
        step.fill();
    }
    // A blank surname counts as filled; 31 February is not checked.
    messages.clear();
    validate();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], confirmation(QStringLiteral("j ")));
    const auto row = only_row();
    EXPECT_EQ(row[1], " ");
    EXPECT_EQ(row[3], "F");
    EXPECT_EQ(row[4], "31");
    EXPECT_EQ(row[5], "2");
    EXPECT_EQ(row[15], "0");
    EXPECT_EQ(row[16], "0");
    EXPECT_EQ(row[17], "0");
    EXPECT_EQ(row[18], "Débutant");
}

TEST_F(RegistrationScreen, AYearThatIsNotANumberIsReportedAndNothingIsWritten) {
    open_form();
    fill_required();
    for (const char* year : {"19a0", "abcd", " 199", "1.99"}) {
        errors.clear();
        form()->Inscription_annee->setText(QString::fromUtf8(year));
        validate();
        ASSERT_EQ(errors.size(), 1u) << year;
        EXPECT_EQ(errors[0], u("'") + u(year) + u("' n'est pas une valeur entière correcte"));
        EXPECT_EQ(registrations(), 0);
        EXPECT_TRUE(on_registration_screen());
        EXPECT_EQ(form()->Inscription_Nom->text(), QStringLiteral("DUPONT")) << "the form keeps its contents";
    }
    EXPECT_EQ(connections_beyond_kept_links(), 0);
}

TEST_F(RegistrationScreen, ARegistrationStoresWhatWasTypedAndEmptiesTheForm) {
    system.now = LocalTime{2026, 3, 4, 14, 0, 0};
    open_form();
    fill_required();
    select_city(QStringLiteral("AUTRES"));
    form()->Inscription_ville->setText(QStringLiteral("villeurbanne"));
    EXPECT_EQ(form()->Inscription_ville->text(), QStringLiteral("VILLEURBANNE")) << "shown in upper case";
    form()->Inscription_richedit_adresse->setPlainText(QStringLiteral("12 rue Haute\nBâtiment B"));
    form()->Inscription_tel->setText(QStringLiteral("04 78 00 00 00"));
    form()->Inscription_tel_port->setText(QStringLiteral("06 00 00 00 00"));
    form()->Inscription_mail->setText(QStringLiteral("jean.dupont@example.org"));
    form()->Inscription_memo_info->setPlainText(QStringLiteral("Aime la photo"));
    validate();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], confirmation(QStringLiteral("jdupont")));
    const std::vector<std::string> expected = {"2026-03-04",
                                               "DUPONT",
                                               "Jean",
                                               "H",
                                               "5",
                                               "3",
                                               "1990",
                                               "12 rue Haute\r\nBâtiment B\r\n",
                                               "69001",
                                               std::to_string(city_id("AUTRES")),
                                               "Villeurbanne",
                                               "04 78 00 00 00",
                                               "06 00 00 00 00",
                                               "jean.dupont@example.org",
                                               "999",
                                               "11",
                                               "2",
                                               "1",
                                               "Intermédiaire",
                                               "Aime la photo\r\n",
                                               "jdupont",
                                               db->scalar("SELECT MD5('05031990')"),
                                               "1",
                                               "2026-03-04"};
    EXPECT_EQ(only_row(), expected);
    EXPECT_TRUE(window->identification()->isVisible());
    EXPECT_FALSE(window->inscription()->isVisible());
    EXPECT_TRUE(form()->Inscription_Nom->text().isEmpty());
    EXPECT_FALSE(form()->Inscription_radio_retraite->isChecked());
    EXPECT_EQ(connections_beyond_kept_links(), 0);
}

TEST_F(RegistrationScreen, ThePasswordIsTheDigestOfTheEightBirthDigits) {
    open_form();
    fill_required();
    form()->Inscription_ComboBox_jour->setCurrentIndex(0);  // 01
    form()->Inscription_ComboBox_mois->setCurrentIndex(11); // Décembre
    form()->Inscription_annee->setText(QStringLiteral("2003"));
    validate();
    EXPECT_EQ(only_row()[21], db->scalar("SELECT MD5('01122003')"));
    EXPECT_EQ(only_row()[21], password_digest("01122003"));
}

TEST_F(RegistrationScreen, LoginCandidatesAlreadyTakenAreSkipped) {
    add_person("jdupont", "X", "Y", 'H', 1, 1, 1970);
    db->exec(
        "INSERT INTO tab_inscription_user (login_inscription_user, nom_inscription_user) VALUES ('jedupont', "
        "'Z')");
    open_form();
    fill_required();
    validate();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], confirmation(QStringLiteral("jeadupont")));
    EXPECT_EQ(
        db->scalar("SELECT COUNT(*) FROM tab_inscription_user WHERE login_inscription_user='jeadupont' AND "
                   "nom_inscription_user='DUPONT'"),
        "1");
}

TEST_F(RegistrationScreen, WhenEveryCandidateIsTakenTheVisitorIsSentToTheStaff) {
    for (const char* login : {"jdupont", "jedupont", "jeadupont", "jeandupont"}) {
        add_person(login, "X", "Y", 'H', 1, 1, 1970);
    }
    open_form();
    fill_required();
    validate();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], QStringLiteral("contacter l'animateur"));
    EXPECT_EQ(registrations(), 0);
    EXPECT_TRUE(on_registration_screen());
    EXPECT_EQ(form()->Inscription_Prenom->text(), QStringLiteral("JEAN"));
}

TEST_F(RegistrationScreen, APersonAlreadyKnownCannotRegisterAgain) {
    add_person("jd", "DUPONT", "Jean", 'H', 5, 3, 1990);
    db->exec("INSERT INTO tab_inscription_user (nom_inscription_user, prenom_inscription_user, "
             "sexe_inscription_user, jour_naissance_inscription_user, mois_naissance_inscription_user, "
             "annee_naissance_inscription_user) VALUES ('MARTIN', 'Marie', 'F', 31, 12, 2001)");
    open_form();
    fill_required();
    validate();
    EXPECT_EQ(messages, std::vector<QString>{QStringLiteral("contacter l'animateur")})
        << "known in the accounts";
    EXPECT_EQ(registrations(), 1);
    EXPECT_TRUE(on_registration_screen());
    EXPECT_EQ(form()->Inscription_Nom->text(), QStringLiteral("DUPONT"));

    form()->Inscription_Nom->setText(QStringLiteral("MARTIN"));
    form()->Inscription_Prenom->setText(QStringLiteral("marie"));
    form()->Inscription_radio_femme->setChecked(true);
    form()->Inscription_ComboBox_jour->setCurrentIndex(30);
    form()->Inscription_ComboBox_mois->setCurrentIndex(11);
    form()->Inscription_annee->setText(QStringLiteral("2001"));
    messages.clear();
    validate();
    EXPECT_EQ(messages, std::vector<QString>{QStringLiteral("contacter l'animateur")}) << "already pending";
    EXPECT_EQ(registrations(), 1);
    EXPECT_TRUE(on_registration_screen());

    form()->Inscription_annee->setText(QStringLiteral("2002"));
    messages.clear();
    validate();
    ASSERT_EQ(messages.size(), 1u) << "another birth year is another person";
    EXPECT_EQ(messages[0], confirmation(QStringLiteral("mmartin")));
    EXPECT_EQ(registrations(), 2);
}

TEST_F(RegistrationScreen, TheTypedOtherTownDecidesTheTownIdAndIsKeptWhenHidden) {
    open_form();
    fill_required();
    select_city(QStringLiteral("AUTRES"));
    form()->Inscription_ville->setText(QStringLiteral("paris"));
    select_city(QStringLiteral("Lyon"));
    EXPECT_FALSE(form()->Inscription_ville->isVisible());
    EXPECT_EQ(form()->Inscription_ville->text(), QStringLiteral("PARIS")) << "hiding keeps the text";
    validate();
    const auto row = only_row();
    EXPECT_EQ(row[9], std::to_string(city_id("Paris")))
        << "a town the table holds is stored under its own id";
    EXPECT_EQ(row[10], "Paris");
}

TEST_F(RegistrationScreen, ARefusedInsertKeepsTheFormAndSendsTheVisitorToTheStaff) {
    db->exec("ALTER TABLE tab_inscription_user DROP COLUMN info_inscription_user");
    open_form();
    fill_required();
    form()->Inscription_mail->setText(QStringLiteral("jean@example.org"));
    form()->Inscription_richedit_adresse->setPlainText(QStringLiteral("12 rue Haute"));
    validate();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], QStringLiteral("contacter l'animateur"));
    EXPECT_EQ(registrations(), 0);
    EXPECT_TRUE(on_registration_screen());
    EXPECT_EQ(form()->Inscription_Nom->text(), QStringLiteral("DUPONT"));
    EXPECT_EQ(form()->Inscription_mail->text(), QStringLiteral("jean@example.org"));
    EXPECT_EQ(form()->Inscription_richedit_adresse->toPlainText(), QStringLiteral("12 rue Haute"));
    EXPECT_TRUE(form()->Inscription_radio_retraite->isChecked());
    EXPECT_EQ(form()->Inscription_ComboBox_ville->currentText(), QStringLiteral("Lyon"));
    EXPECT_EQ(connections_beyond_kept_links(), 0);
}

TEST_F(RegistrationScreen, HostileTextIsStoredExactlyOrCutAndNoOtherRowChanges) {
    add_person("mdurand", "DURAND", "Marie", 'F', 2, 2, 1960);
    db->exec(
        "INSERT INTO tab_inscription_user (nom_inscription_user, login_inscription_user) VALUES ('MARTIN', "
        "'mmartin')");
    const auto users_before = db->rows("SELECT * FROM tab_user");
    const auto pending_before = db->rows("SELECT * FROM tab_inscription_user");
    const auto cities_before = db->rows("SELECT * FROM tab_city");

    open_form();
    fill_required();
    form()->Inscription_Nom->setText(u("o'brien \\ 100% ' OR '1'='1"));
    form()->Inscription_Prenom->setText(u("jean'); DROP TABLE tab_user; --"));
    form()->Inscription_Code_postal->setText(u("1'\\%\""));
    select_city(QStringLiteral("AUTRES"));
    form()->Inscription_ville->setText(u("saint-\"x\" 😀 北京"));
    form()->Inscription_richedit_adresse->setPlainText(u("12 rue de l'Église\n\"Bât\" B\\\n北京 😀\n%s %d"));
    form()->Inscription_tel->setText(u("' OR 1=1 --"));
    form()->Inscription_tel_port->setText(QString(30, QLatin1Char('\\')));
    form()->Inscription_mail->setText(u("a%b_c@x'y.fr") + QString(200, QLatin1Char('m')));
    form()->Inscription_memo_info->setPlainText(QString(300, QLatin1Char('\'')));
    validate();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], confirmation(u("jo'brien \\ 100% ' or '1'='1")));

    const auto row = only_row("MARTIN");
    EXPECT_EQ(row[1], "O'BRIEN \\ 100% ' OR '1'='1");
    EXPECT_EQ(row[2], "Jean'); drop table tab_user; --");
    EXPECT_EQ(row[7], "12 rue de l'Église\r\n\"Bât\" B\\\r\n?? ?\r\n%s %d\r\n") << "outside the code page: ?";
    EXPECT_EQ(row[8], "1'\\%\"");
    EXPECT_EQ(row[10], "Saint-\"x\" ? ??");
    EXPECT_EQ(row[11], "' OR 1=1 --");
    EXPECT_EQ(row[12], std::string(20, '\\')) << "cut at 20 characters";
    EXPECT_EQ(row[13], "a%b_c@x'y.fr" + std::string(80 - 12, 'm')) << "cut at 80 characters";
    EXPECT_EQ(row[19], std::string(118, '\'') + "\r\n") << "cut at 120 characters with its line end";
    EXPECT_EQ(row[20], "jo'brien \\ 100% ' or '1'='1");

    EXPECT_EQ(db->rows("SELECT * FROM tab_user"), users_before);
    EXPECT_EQ(db->rows("SELECT * FROM tab_city"), cities_before);
    const auto pending_after = db->rows("SELECT * FROM tab_inscription_user ORDER BY id_inscription_user");
    ASSERT_EQ(pending_after.size(), 2u);
    EXPECT_EQ(pending_after[0], pending_before[0]);
}

TEST_F(RegistrationScreen, VeryLongNamesAreCutAtNinetyNineCharacters) {
    open_form();
    fill_required();
    form()->Inscription_Nom->setText(QString(300, QLatin1Char('N')));
    form()->Inscription_Prenom->setText(QString(300, QLatin1Char('P')));
    EXPECT_EQ(form()->Inscription_Nom->text().size(), 99);
    validate();
    const auto row = only_row();
    EXPECT_EQ(row[1], std::string(99, 'N'));
    EXPECT_EQ(row[2], "P" + std::string(98, 'p'));
    EXPECT_EQ(row[20], "p" + std::string(99, 'n'));
}

TEST_F(RegistrationScreen, AccentedNamesAreShownInCapitalsAndCapitalisedSensibly) {
    open_form();
    fill_required();
    form()->Inscription_Nom->clear();
    form()->Inscription_Prenom->clear();
    type_text(form()->Inscription_Nom, u("lefèvre"));
    type_text(form()->Inscription_Prenom, u("hélène"));
    EXPECT_EQ(form()->Inscription_Nom->text(), u("LEFÈVRE"));
    EXPECT_EQ(form()->Inscription_Prenom->text(), u("HÉLÈNE"));
    form()->Inscription_Nom->setText(form()->Inscription_Nom->text() + u("-cœur ÿ ß 北京"));
    EXPECT_EQ(form()->Inscription_Nom->text(), u("LEFÈVRE-CŒUR Ÿ ß 北京"))
        << "ß has no capital; 北京 is left as typed";
    validate();
    const auto row = only_row();
    EXPECT_EQ(row[1], "LEFÈVRE-CŒUR Ÿ ß ??");
    EXPECT_EQ(row[2], "Hélène");
    EXPECT_EQ(row[20], "hlefèvre-cœur ÿ ß ??");
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], confirmation(u("hlefèvre-cœur ÿ ß ??")));

    form()->Bouton_retour_inscription->click();
    open_form();
    fill_required();
    form()->Inscription_Prenom->setText(u("élodie"));
    EXPECT_EQ(form()->Inscription_Prenom->text(), u("ÉLODIE"));
    validate();
    EXPECT_EQ(db->scalar("SELECT prenom_inscription_user FROM tab_inscription_user WHERE "
                         "login_inscription_user='édupont'"),
              "Élodie");
}

TEST_F(RegistrationScreen, RetourEmptiesTheWholeFormAndReturnsToTheLoginScreen) {
    open_form();
    fill_required();
    select_city(QStringLiteral("AUTRES"));
    form()->Inscription_ville->setText(QStringLiteral("BREST"));
    form()->Inscription_richedit_adresse->setPlainText(QStringLiteral("1 rue"));
    form()->Inscription_tel->setText(QStringLiteral("01"));
    form()->Inscription_tel_port->setText(QStringLiteral("06"));
    form()->Inscription_mail->setText(QStringLiteral("a@b.fr"));
    form()->Inscription_memo_info->setPlainText(QStringLiteral("info"));
    const int towns = form()->Inscription_ComboBox_ville->count();
    form()->Bouton_retour_inscription->click();

    EXPECT_TRUE(window->identification()->isVisible());
    EXPECT_FALSE(window->inscription()->isVisible());
    EXPECT_FALSE(window->renseignement()->isVisible());
    EXPECT_FALSE(window->compteur_temps()->isVisible());
    auto* f = form();
    for (QLineEdit* edit :
         {f->Inscription_Nom, f->Inscription_Prenom, f->Inscription_annee, f->Inscription_Code_postal,
          f->Inscription_ville, f->Inscription_tel, f->Inscription_tel_port, f->Inscription_mail}) {
        EXPECT_TRUE(edit->text().isEmpty()) << edit->objectName().toStdString();
    }
    EXPECT_TRUE(f->Inscription_richedit_adresse->toPlainText().isEmpty());
    EXPECT_TRUE(f->Inscription_memo_info->toPlainText().isEmpty());
    EXPECT_EQ(f->Inscription_ComboBox_jour->currentIndex(), -1);
    EXPECT_EQ(f->Inscription_ComboBox_mois->currentIndex(), -1);
    EXPECT_EQ(f->Inscription_ComboBox_ville->currentIndex(), -1);
    EXPECT_EQ(f->Inscription_ComboBox_ville->count(), towns) << "the town list stays";
    for (QRadioButton* button : window->inscription()->findChildren<QRadioButton*>()) {
        EXPECT_FALSE(button->isChecked()) << button->objectName().toStdString();
    }
    EXPECT_EQ(registrations(), 0);

    // The emptied form asks again from the first field, and a radio button can be chosen again.
    open_form();
    validate();
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.back(), QStringLiteral("remplissez le nom"));
    f->Inscription_radio_retraite->setChecked(true);
    EXPECT_TRUE(f->Inscription_radio_retraite->isChecked());
    f->Inscription_radio_cadre->setChecked(true);
    EXPECT_FALSE(f->Inscription_radio_retraite->isChecked()) << "one choice per group";
}

TEST_F(RegistrationScreen, AServerThatCannotBeReachedSendsTheVisitorToTheStaff) {
    open_form();
    fill_required();
    const ServerAccess access = ServerAccess::from_environment();
    folder.write_file("Configuration_Base_de_donnee.init", db->name() + "\r\n127.0.0.3\r\n" +
                                                               access.station_user + "\r\n" +
                                                               access.station_password);
    validate();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], QStringLiteral("contacter l'animateur")) << "no candidate can be found free";
    EXPECT_TRUE(on_registration_screen());
    EXPECT_EQ(form()->Inscription_Prenom->text(), QStringLiteral("JEAN"));
    EXPECT_EQ(registrations(), 0);
}
