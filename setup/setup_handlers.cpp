// The set-up screen: binds the station to a free computer record, chooses the adapter whose MAC
// address identifies it and its usage, and writes the two configuration files.
#include "app/logiciel.h"

#include "app/message_box.h"
#include "app/radio_buttons.h"
#include "fonction/config_files.h"
#include "fonction/network.h"
#include "fonction/session_queries.h"
#include "fonction/setup_queries.h"
#include "fonction/station_queries.h"
#include "fonction/text.h"
#include "session/session_rules.h"
#include "setup/parametrage.h"
#include "ui_parametrage.h"

#include <QAction>
#include <QByteArray>
#include <QComboBox>
#include <QSignalBlocker>

#include <optional>
#include <set>
#include <string>

namespace {

const char* const name_prompt = "Choisissez le nom du poste ...";
const char* const mac_prompt = "choisissez votre adresse mac ...";
const char* const no_connection = "Pas de connexion à la base de données";

QString text(const char* utf8) {
    return QString::fromUtf8(utf8);
}

// Each item keeps its exact bytes, so that a name goes back to the database as it came from it.
void add_item(QComboBox* list, const std::string& bytes) {
    list->addItem(from_cp1252(bytes), QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())));
}
void add_item(QComboBox* list, const char* utf8) {
    add_item(list, to_cp1252(text(utf8)));
}

std::string prompt_bytes() {
    return to_cp1252(text(name_prompt));
}

std::string item_bytes(const QComboBox* list, int index) {
    if (index < 0 || index >= list->count()) {
        return {};
    }
    return list->itemData(index).toByteArray().toStdString();
}

// Adds the name of every free computer record, except `skip` and names already listed; a record
// without a name cannot be told from another and is not offered, nor one whose name is longer than
// the station keeps (it would be bound, then never identify the station).
void add_free_names(DbLink& link, QComboBox* list, const std::string& skip) {
    std::set<std::string> listed;
    listed.insert(skip);
    int count = 0;
    count_free_computers(link, count);
    for (int index = 0; index < count; ++index) {
        FixedText<256> name;
        free_computer_name(link, index, name);
        if (!name.empty() && decltype(StationState::station_name)::fits(name.size()) &&
            listed.insert(name.str()).second) {
            add_item(list, name.str());
        }
    }
}

// Refills the name list quietly: `first` (a prompt or the station's own name) when there is one, then
// the free records, and selects the first item.
void refill_names(DbLink& link, QComboBox* names, const std::optional<std::string>& first) {
    const QSignalBlocker quiet(names);
    names->clear();
    if (first) {
        add_item(names, *first);
    }
    add_free_names(link, names, first.value_or(std::string()));
    names->setCurrentIndex(0);
}

void add_adapters(QComboBox* list) {
    int count = 0;
    count_adapters(count);
    for (int index = 0; index < count; ++index) {
        FixedText<18> mac;
        adapter_mac_text(index, mac);
        add_item(list, mac.str());
    }
}

void set_usage_radios(QRadioButton* usager, QRadioButton* animateur, bool usager_checked,
                      bool animateur_checked) {
    uncheck_all({usager, animateur});
    usager->setChecked(usager_checked);
    animateur->setChecked(animateur_checked);
}

} // namespace

void Tlogiciel::connect_setup_components() {
    auto* p = parametrage_->ui();
    connect(p->Parametrage_combobox_nom_poste, &QComboBox::currentIndexChanged, this,
            [this] { guarded([this] { Parametrage_combobox_nom_posteChange(); }); });
    connect(p->Parametrage_bouton_actualiser_nom_poste, &QToolButton::clicked, this,
            [this] { guarded([this] { Parametrage_bouton_actualiser_nom_posteClick(); }); });
    connect(p->Parametrage_bouton_aide_adresse_mac, &QToolButton::clicked, this,
            [this] { guarded([this] { Parametrage_bouton_aide_adresse_macClick(); }); });
    connect(p->Bouton_valider_parametrage, &QPushButton::clicked, this,
            [this] { guarded([this] { Bouton_valider_parametrageClick(); }); });
    connect(p->Bouton_retour_parametrage, &QPushButton::clicked, this,
            [this] { guarded([this] { Bouton_retour_parametrageClick(); }); });
    connect(Paramtres1, &QAction::triggered, this, [this] { guarded([this] { Paramtres1Click(); }); });
}

void Tlogiciel::Paramtres1Click() {
    // Only a staff member signed in on this station may change its set-up.
    if (!staff_session_open(session)) {
        return;
    }
    session.elapsed_seconds = 0;
    session.closing_status = 2;
    close_session_or_retry_later(static_cast<int>(session.elapsed_seconds), session.closing_status,
                                 session.id_resa);
    // The row is closed: nothing may close it a second time.
    session.id_resa = 0;
    restore_from_tray();
    apply_window_layout(Windowed);
    station.setup_required = 1;
    setWindowTitle(QStringLiteral("Kalimo - Paramétrage"));
    station.staff_screen = 1;
    show_only(parametrage_);
    fill_setup_screen();
}

void Tlogiciel::fill_setup_screen() {
    auto* p = parametrage_->ui();
    QComboBox* names = p->Parametrage_combobox_nom_poste;
    QComboBox* macs = p->Parametrage_combobox_adresse_mac;
    QRadioButton* usager = p->Parametrage_radio_type_poste_usager;
    QRadioButton* animateur = p->Parametrage_radio_type_poste_animateur;
    macs->setPlaceholderText(QString());

    // The last reachability test decides first: a station known from an earlier start has nothing
    // to list while the server does not answer.
    if (station.db_check == 1) {
        set_usage_radios(usager, animateur, false, false);
        usager->setEnabled(false);
        animateur->setEnabled(false);
        {
            const QSignalBlocker quiet(names);
            names->clear();
            add_item(names, no_connection);
            names->setEnabled(false);
            names->setCurrentIndex(0);
        }
        p->Parametrage_label_espace_lier->setText(
            QStringLiteral("Il n'y a pas de connexion à la base de données"));
        macs->clear();
        add_item(macs, no_connection);
        macs->setCurrentIndex(0);
        macs->setEnabled(false);
        p->Parametrage_bouton_actualiser_nom_poste->hide();
        p->Parametrage_bouton_aide_adresse_mac->hide();
    } else if (station.id_computer > 0) {
        int usage = 0;
        int found = 0;
        computer_usage(link, station.id_computer, usage, found);
        if (found == 1) {
            if (usage == 1) {
                set_usage_radios(usager, animateur, true, false);
            } else if (usage == 2) {
                set_usage_radios(usager, animateur, false, true);
            }
        } else {
            set_usage_radios(usager, animateur, true, false);
        }
        // A station set up while the server was away had its usage choice disabled.
        usager->setEnabled(true);
        animateur->setEnabled(true);
        names->setEnabled(true);
        int setup_status = 1;
        read_computer_name(link, station.id_computer, station.station_name, setup_status);
        refill_names(link, names,
                     setup_status == 0 ? std::optional<std::string>(station.station_name.str())
                                       : std::nullopt);
        Parametrage_combobox_nom_posteChange();
        macs->clear();
        macs->setEnabled(true);
        add_adapters(macs);
        macs->setCurrentIndex(0);
        // The prompt is shown over the list; Valider still takes the first adapter, the item under it.
        macs->setPlaceholderText(QStringLiteral("Choisissez une adresse mac ..."));
        macs->setCurrentIndex(-1);
        p->Parametrage_bouton_actualiser_nom_poste->show();
        p->Parametrage_bouton_aide_adresse_mac->show();
    } else {
        set_usage_radios(usager, animateur, true, false);
        usager->setEnabled(true);
        animateur->setEnabled(true);
        names->setEnabled(true);
        refill_names(link, names, prompt_bytes());
        Parametrage_combobox_nom_posteChange();
        macs->clear();
        add_item(macs, mac_prompt);
        macs->setEnabled(true);
        p->Parametrage_bouton_actualiser_nom_poste->show();
        p->Parametrage_bouton_aide_adresse_mac->show();
        add_adapters(macs);
        macs->setCurrentIndex(0);
    }

    int network_status = 0;
    read_ip_and_host_name(station.ip_address, station.host_name, network_status);
    p->Parametrage_label_adresse_ip_lier->setText(from_cp1252(station.ip_address.str()));
    int file_status = 0;
    read_database_file(config.database_name, config.database_host, config.database_user,
                       config.database_password, file_status);
    if (file_status == 1) {
        p->Parametrage_edit_nom_table_bdd->setText(from_cp1252(config.database_name.str()));
        p->Parametrage_edit_adresse_bdd->setText(from_cp1252(config.database_host.str()));
        p->Parametrage_edit_nom_bdd->setText(from_cp1252(config.database_user.str()));
        p->Parametrage_edit_mdp_bdd->setText(from_cp1252(config.database_password.str()));
    } else {
        p->Parametrage_edit_nom_table_bdd->clear();
        p->Parametrage_edit_adresse_bdd->clear();
        p->Parametrage_edit_nom_bdd->clear();
        p->Parametrage_edit_mdp_bdd->clear();
    }
}

void Tlogiciel::Parametrage_combobox_nom_posteChange() {
    QComboBox* names = parametrage_->ui()->Parametrage_combobox_nom_poste;
    const std::string selected_name = item_bytes(names, names->currentIndex());
    int setup_status = 1;
    read_space_name(link, selected_name.c_str(), station.space_name, setup_status);
    parametrage_->ui()->Parametrage_label_espace_lier->setText(
        setup_status == 0 ? from_cp1252(station.space_name.str()) : QStringLiteral("Espace non défini"));
}

void Tlogiciel::Parametrage_bouton_actualiser_nom_posteClick() {
    QComboBox* names = parametrage_->ui()->Parametrage_combobox_nom_poste;
    int setup_status = 1;
    read_computer_name(link, station.id_computer, station.station_name, setup_status);
    int free_records = 0;
    if (setup_status == 0) {
        count_free_computers(link, free_records);
    }
    if (setup_status == 0 && free_records > 0) {
        refill_names(link, names, station.station_name.str());
    } else if (setup_status == 0) {
        // No free record left: only the prompt.
        const QSignalBlocker quiet(names);
        names->clear();
        add_item(names, name_prompt);
        names->setCurrentIndex(0);
    } else {
        refill_names(link, names, prompt_bytes());
    }
    Parametrage_combobox_nom_posteChange();
}

void Tlogiciel::Parametrage_bouton_aide_adresse_macClick() {
    show_message(this,
                 QStringLiteral("Pour connaître l'adresse mac à renseigner, faite < Démarrer / Tous les "
                                "programmes / Accessoires / Invite de commande > à se moment, taper < "
                                "ipconfig/all > et relever l'adresse physique lié à l'adresse ip indiqué."));
}

void Tlogiciel::Bouton_valider_parametrageClick() {
    auto* p = parametrage_->ui();
    const QString values[4] = {p->Parametrage_edit_nom_table_bdd->text(),
                               p->Parametrage_edit_adresse_bdd->text(), p->Parametrage_edit_nom_bdd->text(),
                               p->Parametrage_edit_mdp_bdd->text()};
    // A value the file cannot hold would reach the server altered: nothing is written.
    for (const QString& value : values) {
        if (!is_station_text(value)) {
            show_message(this, QStringLiteral("la nouvelle configuration de la bdd est mauvaise"));
            return;
        }
    }

    int chosen_usage = 0;
    if (p->Parametrage_radio_type_poste_usager->isChecked()) {
        chosen_usage = 1;
    } else if (p->Parametrage_radio_type_poste_animateur->isChecked()) {
        chosen_usage = 2;
    }
    QComboBox* names = p->Parametrage_combobox_nom_poste;
    QComboBox* macs = p->Parametrage_combobox_adresse_mac;
    const std::string selected_name = item_bytes(names, names->currentIndex());
    station.station_name = selected_name;
    // Under the prompt of a known station's list the first adapter stays the selected item.
    const FixedText<70> chosen_mac = item_bytes(macs, macs->currentIndex() >= 0 ? macs->currentIndex() : 0);

    config.database_name = to_cp1252(values[0]);
    config.database_host = to_cp1252(values[1]);
    config.database_user = to_cp1252(values[2]);
    config.database_password = to_cp1252(values[3]);
    int file_status = 0;
    write_database_file(config.database_name.c_str(), config.database_host.c_str(),
                        config.database_user.c_str(), config.database_password.c_str(), file_status);
    if (file_status == 0) {
        show_message(this, QStringLiteral("l'ecriture du fichier texte n'a pas reussi"));
    }

    switch (update_computer_record(link, selected_name.c_str(), chosen_usage, chosen_mac.c_str(),
                                   station.ip_address.c_str(), station.host_name.c_str())) {
    case UpdateRun:
        station.db_check = 0;
        start_station();
        break;
    case UpdateRefused:
        show_message(this, QStringLiteral("la configuration avec la base de données n'a pas fonctionné"));
        break;
    case UpdateNotConnected:
        show_message(this, QStringLiteral("la nouvelle configuration de la bdd est mauvaise"));
        break;
    default:
        break;
    }
}

void Tlogiciel::Bouton_retour_parametrageClick() {
    station.close_allowed = 1;
    close();
}
