// The hostile corpus through every text path: sign-in, every registration field, the set-up edits and
// lists, both configuration files, and the texts that come back from the database. Each value has its
// normal outcome (stored exactly, refused clearly, or cut at the stated capacity), and nothing else
// changes.
#include "fonction/config_files.h"
#include "fonction/registration_queries.h"
#include "fonction/station_queries.h"
#include "fonction/text.h"
#include "registration/inscription.h"
#include "room/room_view.h"
#include "room/salle.h"
#include "tests/reliability/hostile_corpus.h"
#include "tests/support/station_fixture.h"
#include "ui_compteur_temps.h"
#include "ui_inscription.h"
#include "ui_parametrage.h"
#include "ui_salle.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>

#include <functional>
#include <map>

namespace {

using Rows = std::vector<std::vector<std::string>>;

// What a C text keeps of these bytes: everything before the first NUL.
std::string c_text(const std::string& bytes) {
    return bytes.substr(0, bytes.find('\0'));
}

// The station's bytes for a shown text: Windows-1252, '?' for a character outside it, ended at a NUL.
std::string station_bytes(const QString& text, std::size_t capacity) {
    return c_text(to_cp1252(text)).substr(0, capacity);
}

QString capitalised(const QString& text) {
    return text.left(1).toUpper() + text.mid(1).toLower();
}

// A memo's lines, each followed by CR LF, kept to `capacity` bytes with the last line's CR LF.
std::string memo_bytes(const QString& text, std::size_t capacity) {
    const std::string bytes = to_cp1252(text);
    if (bytes.find('\0') != std::string::npos) {
        return c_text(bytes);
    }
    std::string out;
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        std::string kept = to_cp1252(line);
        if (!kept.empty() && kept.back() == '\r') {
            kept.pop_back();
        }
        if (out.size() + kept.size() + 2 > capacity) {
            out += kept.substr(0, capacity - out.size() - 2) + "\r\n";
            break;
        }
        out += kept + "\r\n";
    }
    return out;
}

class Hostile : public StationTest {
  protected:
    void SetUp() override {
        StationTest::SetUp();
        REQUIRE_SERVER();
        with_database();
        good_database_file = folder.read_file(database_file_name);
    }
    Rows all(const std::string& table) { return db->rows("SELECT * FROM `" + table + "`"); }
    std::string good_database_file;
};

} // namespace

TEST_F(Hostile, SignInRefusesEveryHostileTextAndAnAccountHoldingOneSignsInWithItExactly) {
    add_room("Espace Jean Moulin", "Poste-01", 1, "1, 1, 0, 0, 0, 0");
    start();
    add_user("mdurand", "soleil");
    add_user("avant", "soleil"); // what a login cut at its NUL would name
    const Rows users = all("tab_user");
    for (const HostileText& hostile : hostile_corpus()) {
        SCOPED_TRACE(hostile.name);
        for (const auto& [login, password] :
             std::vector<std::pair<QString, QString>>{{hostile.text, hostile.text},
                                                      {QStringLiteral("mdurand"), hostile.text},
                                                      {hostile.text, QStringLiteral("soleil")}}) {
            messages.clear();
            sign_in(login, password);
            EXPECT_EQ(messages,
                      std::vector<QString>{QStringLiteral("Identifiant ou mot de passe incorrect")});
            EXPECT_FALSE(window->Timer1.isActive());
            EXPECT_EQ(db->count("tab_resa"), 0);
        }
        EXPECT_EQ(all("tab_user"), users);

        // An account can hold the text when the code page has all its characters and it fits the column.
        const std::string bytes = to_cp1252(hostile.text);
        if (!encodable_in_cp1252(hostile.text) || bytes.find('\0') != std::string::npos ||
            bytes.size() > 255) {
            continue;
        }
        db->exec("INSERT INTO tab_user (login_user, pass_user, status_user, temps_user) VALUES (" +
                 latin1_literal(bytes) + ", MD5(" + latin1_literal(bytes) + "), 1, 120)");
        const std::string id_user = std::to_string(db->insert_id());
        messages.clear();
        sign_in(hostile.text, hostile.text);
        EXPECT_TRUE(messages.empty());
        ASSERT_TRUE(window->Timer1.isActive());
        EXPECT_EQ(db->scalar("SELECT id_user_resa FROM tab_resa"), id_user);
        window->sessions().Compteur_Bouton_deconnexionClick();
        db->exec("DELETE FROM tab_resa");
        db->exec("DELETE FROM tab_user WHERE id_user=" + id_user);
    }
    EXPECT_EQ(all("tab_user"), users);
    EXPECT_EQ(connections_beyond_kept_links(), 0);
}

namespace {

class HostileRegistration : public Hostile {
  protected:
    void SetUp() override {
        Hostile::SetUp();
        if (IsSkipped() || HasFatalFailure()) {
            return;
        }
        add_room();
        db->exec("INSERT INTO tab_city (nom_city) VALUES ('Lyon'), ('Autres')");
        add_user("mdurand", "soleil");
        start();
    }
    Ui::Inscription* form() const { return window->inscription()->ui(); }
    void fill_required() {
        id()->Identification_bouton_inscription->click();
        form()->Inscription_Nom->setText(QStringLiteral("DUPONT"));
        form()->Inscription_Prenom->setText(QStringLiteral("JEAN"));
        form()->Inscription_radio_homme->setChecked(true);
        form()->Inscription_ComboBox_jour->setCurrentIndex(4);
        form()->Inscription_ComboBox_mois->setCurrentIndex(2);
        form()->Inscription_annee->setText(QStringLiteral("1990"));
        form()->Inscription_Code_postal->setText(QStringLiteral("69001"));
        form()->Inscription_ComboBox_ville->setCurrentIndex(0);
        form()->Inscription_radio_retraite->setChecked(true);
        form()->Inscription_radio_internet->setChecked(true);
        form()->Inscription_radio_maison->setChecked(true);
        form()->Inscription_radio_Intermediaire->setChecked(true);
    }
    // The registration row, every text column as hexadecimal bytes.
    std::map<std::string, std::string> registration() {
        const Rows rows = db->rows(
            "SELECT HEX(nom_inscription_user), HEX(prenom_inscription_user), HEX(code_postal_inscription), "
            "HEX(commune_inscription_autres), HEX(tel_inscription_user), HEX(tel_port_inscription_user), "
            "HEX(mail_inscription_user), HEX(adresse_inscription_user), HEX(info_inscription_user), "
            "ville_inscription_user, HEX(login_inscription_user), annee_naissance_inscription_user "
            "FROM tab_inscription_user");
        if (rows.size() != 1) {
            return {};
        }
        const char* names[] = {"nom",  "prenom",  "code_postal", "autres", "tel",   "tel_port",
                               "mail", "adresse", "info",        "ville",  "login", "annee"};
        std::map<std::string, std::string> out;
        for (std::size_t i = 0; i < rows[0].size(); ++i) {
            out[names[i]] = rows[0][i];
        }
        return out;
    }
};

} // namespace

TEST_F(HostileRegistration, EveryFieldStoresEachHostileTextExactlyOrCutAtItsCapacity) {
    fill_required();
    form()->Bouton_valider_inscription->click();
    const std::map<std::string, std::string> plain = registration();
    ASSERT_FALSE(plain.empty());
    db->exec("DELETE FROM tab_inscription_user");
    const Rows users = all("tab_user");
    const Rows towns = all("tab_city");

    // Each field: how it is set, and the bytes it must store for the text it shows.
    struct Field {
        const char* column;
        std::function<void(const QString&)> set;
        std::function<std::string()> expected;
    };
    auto line = [](const char* column, QLineEdit* edit, std::size_t capacity, bool capitalise) {
        return Field{column, [edit](const QString& text) { edit->setText(text); },
                     [edit, capacity, capitalise] {
                         const QString shown = edit->text();
                         return hex(station_bytes(capitalise ? capitalised(shown) : shown, capacity));
                     }};
    };
    auto memo = [](const char* column, QPlainTextEdit* edit, std::size_t capacity) {
        return Field{column, [edit](const QString& text) { edit->setPlainText(text); },
                     [edit, capacity] { return hex(memo_bytes(edit->toPlainText(), capacity)); }};
    };
    namespace cap = registration_capacity;
    const std::vector<Field> fields = {
        line("nom", form()->Inscription_Nom, cap::name, false),
        line("prenom", form()->Inscription_Prenom, cap::name, true),
        line("code_postal", form()->Inscription_Code_postal, cap::postcode, false),
        line("autres", form()->Inscription_ville, cap::name, true),
        line("tel", form()->Inscription_tel, cap::telephone, false),
        line("tel_port", form()->Inscription_tel_port, cap::telephone, false),
        line("mail", form()->Inscription_mail, cap::mail, false),
        memo("adresse", form()->Inscription_richedit_adresse, cap::address),
        memo("info", form()->Inscription_memo_info, cap::info),
    };

    // A few outcomes spelled out, beside the rule above.
    const std::map<std::pair<std::string, std::string>, std::string> spot_checks = {
        {{"SQL drop", "nom"}, "'; DROP TABLE TAB_USER; --"},
        {{"SQL always true", "prenom"}, "' or '1'='1"},
        {{"backslashes", "mail"}, "fin\\ \\\\ \\' \\"},
        {{"emoji", "tel"}, "sourire ?"},
        {{"CJK", "autres"}, "??"},
        {{"embedded NUL", "tel_port"}, "avant"},
        {{"10 000 characters", "nom"}, std::string(99, 'Y')},
        {{"10 000 characters", "info"}, std::string(118, 'y') + "\r\n"},
        {{"CR and LF", "adresse"}, "ligne1\r\nligne2\r\n"},
        {{"format directives", "code_postal"}, "%s %n"},
    };
    int spots_seen = 0;
    int registered = 0;
    for (const HostileText& hostile : hostile_corpus()) {
        for (const Field& field : fields) {
            SCOPED_TRACE(std::string(hostile.name) + " in " + field.column);
            messages.clear();
            fill_required();
            field.set(hostile.text);
            const std::string expected = field.expected();
            form()->Bouton_valider_inscription->click();
            ASSERT_EQ(messages.size(), 1u);
            EXPECT_TRUE(messages[0].startsWith(QStringLiteral("Votre inscription est enregistré")))
                << messages[0].toStdString();
            std::map<std::string, std::string> row = registration();
            ASSERT_FALSE(row.empty());
            EXPECT_EQ(row[field.column], expected);
            const auto spot = spot_checks.find({hostile.name, field.column});
            if (spot != spot_checks.end()) {
                EXPECT_EQ(row[field.column], hex(spot->second));
                ++spots_seen;
            }
            ++registered;
            // Every other value is the plain registration's; the names decide the login.
            std::map<std::string, std::string> others = row;
            std::map<std::string, std::string> plain_others = plain;
            for (auto* values : {&others, &plain_others}) {
                values->erase(field.column);
                if (std::string(field.column) == "nom" || std::string(field.column) == "prenom") {
                    values->erase("login");
                }
            }
            EXPECT_EQ(others, plain_others);
            db->exec("DELETE FROM tab_inscription_user");
        }

        // The year is a number: any other text is the conversion error, and nothing is written.
        SCOPED_TRACE(std::string(hostile.name) + " as the year");
        messages.clear();
        errors.clear();
        fill_required();
        form()->Inscription_annee->setText(hostile.text);
        form()->Bouton_valider_inscription->click();
        EXPECT_EQ(errors.size(), 1u);
        EXPECT_EQ(db->count("tab_inscription_user"), 0);
        form()->Bouton_retour_inscription->click();
    }
    EXPECT_EQ(registered, static_cast<int>(hostile_corpus().size() * fields.size()));
    EXPECT_EQ(spots_seen, static_cast<int>(spot_checks.size()));
    EXPECT_EQ(all("tab_user"), users);
    EXPECT_EQ(all("tab_city"), towns);
    EXPECT_EQ(connections_beyond_kept_links(), 0);
}

namespace {

class HostileSetup : public Hostile {
  protected:
    void SetUp() override {
        Hostile::SetUp();
        if (IsSkipped() || HasFatalFailure()) {
            return;
        }
        // An unidentified station and a staff member who opens its set-up screen.
        add_user("admin", "secret", 3);
        start();
        sign_in(QStringLiteral("admin"), QStringLiteral("secret"));
        ASSERT_TRUE(window->parametrage()->isVisible());
    }
    Ui::Parametrage* screen() const { return window->parametrage()->ui(); }
};

} // namespace

TEST_F(HostileSetup, TheDatabaseEditsRefuseWhatTheFileCannotHoldAndStoreTheRest) {
    db->exec("INSERT INTO tab_computer (nom_computer) VALUES ('Poste-libre')");
    const Rows computers = all("tab_computer");
    QLineEdit* edits[] = {screen()->Parametrage_edit_nom_table_bdd, screen()->Parametrage_edit_adresse_bdd,
                          screen()->Parametrage_edit_nom_bdd, screen()->Parametrage_edit_mdp_bdd};
    const std::size_t capacities[] = {254, 254, 69, 69};
    for (const HostileText& hostile : hostile_corpus()) {
        for (int e = 0; e < 4; ++e) {
            SCOPED_TRACE(std::string(hostile.name) + " in edit " + std::to_string(e));
            window->setup().fill_setup_screen();
            const bool storable =
                encodable_in_cp1252(hostile.text) && !hostile.text.contains(QLatin1Char('\r')) &&
                !hostile.text.contains(QLatin1Char('\n')) && !hostile.text.contains(QChar(0));
            if (e == 1 && storable) {
                // A host name is resolved before any connection: the round trip through the file is
                // tried below, without sending a strange name to the resolver.
                continue;
            }
            messages.clear();
            edits[e]->setText(hostile.text);
            screen()->Bouton_valider_parametrage->click();
            EXPECT_EQ(messages, std::vector<QString>{
                                    QStringLiteral("la nouvelle configuration de la bdd est mauvaise")});
            EXPECT_TRUE(window->parametrage()->isVisible());
            FixedText<255> values[2];
            FixedText<70> access[2];
            int status = 0;
            read_database_file(values[0], values[1], access[0], access[1], status);
            ASSERT_EQ(status, 1);
            const std::string read[] = {values[0].str(), values[1].str(), access[0].str(), access[1].str()};
            if (storable) {
                EXPECT_EQ(read[e], to_cp1252(hostile.text).substr(0, capacities[e]))
                    << "stored, cut at its capacity";
            } else {
                EXPECT_EQ(folder.read_file(database_file_name), good_database_file)
                    << "refused: nothing written";
            }
            folder.write_file(database_file_name, good_database_file);
        }
        // The file itself: a value with a line break is refused, any other comes back as it went in.
        SCOPED_TRACE(std::string(hostile.name) + " through the file");
        const std::string bytes = c_text(to_cp1252(hostile.text));
        int written = -1;
        write_database_file(bytes.c_str(), bytes.c_str(), bytes.c_str(), bytes.c_str(), written);
        const bool line_break = bytes.find_first_of("\r\n") != std::string::npos;
        EXPECT_EQ(written, line_break ? 0 : 1);
        if (!line_break) {
            FixedText<255> name;
            FixedText<255> host;
            FixedText<70> user;
            FixedText<70> password;
            int status = 0;
            read_database_file(name, host, user, password, status);
            EXPECT_EQ(name.str(), bytes.substr(0, 254));
            EXPECT_EQ(host.str(), bytes.substr(0, 254));
            EXPECT_EQ(user.str(), bytes.substr(0, 69));
            EXPECT_EQ(password.str(), bytes.substr(0, 69));
        }
        write_station_file(bytes.c_str());
        FixedText<20> mac;
        int mac_status = -1;
        read_station_file(mac, mac_status);
        EXPECT_EQ(mac_status, 1) << "no adapter has that address";
        folder.write_file(database_file_name, good_database_file);
    }
    EXPECT_EQ(all("tab_computer"), computers);
    EXPECT_EQ(connections_beyond_kept_links(), 0);
}

TEST_F(HostileSetup, HostileComputerNamesAreListedAsStoredAndBindTheirOwnRecordOnly) {
    db->exec("INSERT INTO tab_espace (nom_espace) VALUES ('Espace')");
    db->exec("INSERT INTO tab_salle (id_espace) VALUES (" + std::to_string(db->insert_id()) + ")");
    const std::string room = std::to_string(db->insert_id());
    for (const HostileText& hostile : hostile_corpus()) {
        SCOPED_TRACE(hostile.name);
        db->exec("DELETE FROM tab_computer");
        db->exec("INSERT INTO tab_computer (nom_computer, id_salle) VALUES ('Poste-libre', " + room + ")");
        const std::string name = database_bytes(hostile, 255);
        db->exec("INSERT INTO tab_computer (nom_computer, id_salle) VALUES (" + latin1_literal(name) + ", " +
                 room + ")");
        const std::string record = std::to_string(db->insert_id());
        window->station.id_computer = 0;
        window->station.db_check = 0;
        window->setup().fill_setup_screen();
        QComboBox* names = screen()->Parametrage_combobox_nom_poste;
        const int index = names->findText(from_cp1252(c_text(name)));
        if (c_text(name).size() > 99) {
            EXPECT_EQ(index, -1) << "a name longer than the station keeps is not offered";
            EXPECT_EQ(names->count(), 2);
            continue;
        }
        ASSERT_GE(index, 1) << "listed as stored, up to a NUL";
        names->setCurrentIndex(index);
        screen()->Parametrage_combobox_adresse_mac->setCurrentIndex(1);
        messages.clear();
        screen()->Bouton_valider_parametrage->click();
        EXPECT_TRUE(messages.empty());
        EXPECT_EQ(
            db->scalar("SELECT adresse_mac_computer FROM tab_computer WHERE nom_computer='Poste-libre'"), "")
            << "no other record is bound";
        const std::string bound =
            db->scalar("SELECT adresse_mac_computer FROM tab_computer WHERE id_computer=" + record);
        if (name.find('\0') != std::string::npos) {
            EXPECT_EQ(bound, "") << "a name cut at its NUL names no record";
            continue;
        }
        EXPECT_EQ(bound, kMac);
        EXPECT_EQ(window->windowTitle(), QStringLiteral("Kalimo")) << "identified by that name";
        EXPECT_EQ(id()->Identification_label_nom_poste->text(), from_cp1252(name));
        // Back to the set-up screen for the next name.
        db->exec("UPDATE tab_computer SET usage_computer=0");
        window->start_station();
        sign_in(QStringLiteral("admin"), QStringLiteral("secret"));
        ASSERT_TRUE(window->parametrage()->isVisible());
    }
    EXPECT_EQ(connections_beyond_kept_links(), 0);
}

TEST_F(Hostile, TextsFromTheDatabaseAreShownAsStoredAndFindTheirRows) {
    for (const HostileText& hostile : hostile_corpus()) {
        SCOPED_TRACE(hostile.name);
        db.reset();
        with_database();
        const std::string space = database_bytes(hostile, 999);
        const std::string station = database_bytes(hostile, 255);
        const std::string message = database_bytes(hostile, 65535);
        const std::string town = database_bytes(hostile, 255);

        // A hostile space name with a hostile message, on a station with a plain name.
        add_room("espace", "Poste-01", 1, "1, 1, 0, 0, 0, 0");
        db->exec("UPDATE tab_espace SET nom_espace=" + latin1_literal(space));
        db->exec("INSERT INTO tab_message_kalimo (corp_message, espace_message, status_message) VALUES (" +
                 latin1_literal(message) + ", '" + std::to_string(id_espace) + "', 0)");
        db->exec("INSERT INTO tab_city (nom_city) VALUES ('Lyon'), (" + latin1_literal(town) + ")");
        window.reset();
        start();
        ASSERT_EQ(window->windowTitle(), QStringLiteral("Kalimo"));
        EXPECT_EQ(id()->Identification_label_nom_espace->text(), from_cp1252(c_text(space)));
        const bool space_found = space.find('\0') == std::string::npos;
        EXPECT_EQ(window->station.settings.config_menu_logiciel, space_found ? 1 : 0)
            << "the settings are found by the name as stored";
        EXPECT_EQ(id()->Identification_memo_message_espace->isVisible(), space_found);
        if (space_found) {
            // The memo shows a CR LF as its own line end.
            EXPECT_EQ(id()->Identification_memo_message_espace->toPlainText(),
                      from_cp1252(c_text(message)).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
        }

        // Towns are listed as stored; choosing one stores its id.
        id()->Identification_bouton_inscription->click();
        QComboBox* towns = window->inscription()->ui()->Inscription_ComboBox_ville;
        ASSERT_EQ(towns->count(), 2);
        EXPECT_EQ(towns->itemText(1), from_cp1252(c_text(town).substr(0, registration_capacity::city)));
        window->inscription()->ui()->Bouton_retour_inscription->click();

        // A hostile station name identifies its station, up to the name's capacity of 99 characters.
        db->exec("UPDATE tab_computer SET nom_computer=" + latin1_literal(station));
        db->exec("UPDATE tab_espace SET nom_espace='espace'");
        window.reset();
        start();
        if (station.find('\0') == std::string::npos && station.size() <= 99) {
            EXPECT_EQ(window->windowTitle(), QStringLiteral("Kalimo"));
            EXPECT_EQ(id()->Identification_label_nom_poste->text(), from_cp1252(station));
            EXPECT_EQ(id()->Identification_label_nom_espace->text(), QStringLiteral("espace"));
        } else {
            EXPECT_EQ(window->windowTitle(), QStringLiteral("Kalimo - Paramétrage"))
                << "a name the station cannot hold does not identify it";
        }
        EXPECT_TRUE(errors.empty());
        EXPECT_EQ(db->count("tab_computer"), 1);
        EXPECT_EQ(db->count("tab_espace"), 1);
        EXPECT_EQ(connections_beyond_kept_links(), 0);
    }
}

// What staff type in the room view is stored as shown (cut to the account columns' 255 characters), or
// refused as it is typed (the code page's characters only) or with a clear message; a station signs in
// with such an account and shows such a message as they were typed.
TEST_F(Hostile, TheRoomViewStoresEveryTextAsShownOrRefusesItClearly) {
    add_room("Espace Jean Moulin", "Accueil", 2, "1, 1, 0, 0, 0, 0");
    add_user("animateur", "kalimo", 3);
    db->write_staff_database_file();
    start();
    sign_in(QStringLiteral("animateur"), QStringLiteral("kalimo"));
    window->Salle1->trigger();
    Ui::Salle* s = window->room().salle()->ui();
    for (const HostileText& hostile : hostile_corpus()) {
        SCOPED_TRACE(hostile.name);
        for (QLineEdit* edit : {s->Salle_compte_identifiant, s->Salle_compte_nom, s->Salle_compte_prenom,
                                s->Salle_compte_mot_de_passe}) {
            edit->clear();
            edit->insert(hostile.text);
            EXPECT_TRUE(edit->text().isEmpty() || edit->text() == hostile.text.left(255));
        }
        const std::string login = to_cp1252(s->Salle_compte_identifiant->text());
        const Rows created = {{s->Salle_compte_nom->text().toStdString(),
                               s->Salle_compte_prenom->text().toStdString(),
                               password_digest(to_cp1252(s->Salle_compte_mot_de_passe->text()))}};
        messages.clear();
        s->Salle_bouton_creer_compte->click();
        EXPECT_EQ(db->rows("SELECT nom_user, prenom_user, pass_user FROM tab_user WHERE login_user=" +
                           latin1_literal(login)),
                  login.empty() ? Rows{} : created);
        EXPECT_EQ(messages.size(), 1u) << "created, or the fields are said to be filled in";

        // A message the stations show as typed, or one clear refusal and nothing written.
        s->Salle_message_reseau->setPlainText(hostile.text);
        const QString shown = s->Salle_message_reseau->toPlainText();
        messages.clear();
        s->Salle_bouton_publier_reseau->click();
        int visible = 0;
        DbLink station;
        const std::string on_station = load_space_message(station, "Espace Jean Moulin", visible);
        EXPECT_EQ(messages.empty(),
                  from_cp1252(on_station).replace(QStringLiteral("\r\n"), QStringLiteral("\n")) == shown);
        EXPECT_EQ(messages.empty(),
                  encodable_in_cp1252(shown) && !shown.contains(QChar(0)) && shown.size() <= 1000);
    }
    EXPECT_TRUE(errors.empty());
}
