// The set-up screen: binds the station to a free computer record, chooses the adapter whose MAC
// address identifies it and its usage, and writes the two configuration files.
#include "setup/station_setup.h"

#include "fonction/config_files.h"
#include "fonction/network.h"
#include "fonction/setup_queries.h"
#include "fonction/station_worker.h"
#include "fonction/station_queries.h"
#include "fonction/text.h"
#include "setup/parametrage.h"
#include "ui_parametrage.h"
#include "window/guarded.h"
#include "window/message_box.h"
#include "window/radio_buttons.h"
#include "window/station_text.h"
#include "window/station_window.h"

#include <QByteArray>
#include <QComboBox>
#include <QSignalBlocker>

#include <optional>
#include <set>
#include <string>

namespace {

// What staff ask for explicitly is tried even while the server is known not to answer: they may just
// have mended it, or the database file.
class AlwaysTry {
  public:
    explicit AlwaysTry(DbLink& link) : link_(link), was_(link.fail_fast) { link_.fail_fast = false; }
    ~AlwaysTry() { link_.fail_fast = was_; }
    AlwaysTry(const AlwaysTry&) = delete;
    AlwaysTry& operator=(const AlwaysTry&) = delete;

  private:
    DbLink& link_;
    bool was_;
};

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

// The name list as the server gives it: `first` (a prompt or the station's own name) when there is
// one, then the name of every free computer record, except names already listed; a record without a
// name cannot be told from another and is not offered, nor one whose name is longer than the station
// keeps (it would be bound, then never identify the station).
std::vector<std::string> name_list(DbLink& link, const std::optional<std::string>& first) {
    std::vector<std::string> list;
    std::set<std::string> listed;
    listed.insert(first.value_or(std::string()));
    if (first) {
        list.push_back(*first);
    }
    int count = 0;
    count_free_computers(link, count);
    for (int index = 0; index < count; ++index) {
        FixedText<256> name;
        free_computer_name(link, index, name);
        if (!name.empty() && decltype(StationState::station_name)::fits(name.size()) &&
            listed.insert(name.str()).second) {
            list.push_back(name.str());
        }
    }
    return list;
}

// Refills the name list quietly and selects the first item.
void refill_names(QComboBox* names, const std::vector<std::string>& list) {
    const QSignalBlocker quiet(names);
    names->clear();
    for (const std::string& name : list) {
        add_item(names, name);
    }
    names->setCurrentIndex(0);
}

} // namespace

// The space of the name that comes first in a list.
struct SpaceOfName {
    std::string name;
    int status = 1;
    FixedText<1000> space;
};
static void read_space_of(DbLink& link, SpaceOfName& s) {
    read_space_name(link, s.name.c_str(), s.space, s.status);
}

// What the set-up screen shows of the server: the station's record, the free names and the first
// name's space.
struct SetupLists {
    int id_computer = 0;
    int usage = 0;
    int found = 0;
    int name_status = 1;
    FixedText<100> station_name;
    std::vector<std::string> names;
    SpaceOfName first;
};

// The names listed, and the space of the one that comes first (the one selected).
static void list_names(DbLink& link, SetupLists& l, std::vector<std::string> names) {
    l.names = std::move(names);
    l.first.name = l.names.empty() ? std::string() : l.names.front();
    read_space_of(link, l.first);
}

namespace {

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

StationSetup::StationSetup(StationWindow& window, StationState& station, SessionState& session,
                           StationConfig& config, StationWorker& worker, QWidget* panels_parent)
    : window_(window), station_(station), session_(session), config_(config), worker_(worker),
      parametrage_(new Parametrage(panels_parent)), operation_(worker, window.widget()) {
    connect_components();
}

void StationSetup::guard(void (StationSetup::*handler)()) {
    guarded(window_.widget(), [this, handler] { (this->*handler)(); });
}

void StationSetup::connect_components() {
    auto* p = parametrage_->ui();
    connect(p->Parametrage_combobox_nom_poste, &QComboBox::currentIndexChanged, this,
            [this] { guard(&StationSetup::Parametrage_combobox_nom_posteChange); });
    connect(p->Parametrage_bouton_actualiser_nom_poste, &QToolButton::clicked, this,
            [this] { guard(&StationSetup::Parametrage_bouton_actualiser_nom_posteClick); });
    connect(p->Parametrage_bouton_aide_adresse_mac, &QToolButton::clicked, this,
            [this] { guard(&StationSetup::Parametrage_bouton_aide_adresse_macClick); });
    connect(p->Bouton_valider_parametrage, &QPushButton::clicked, this,
            [this] { guard(&StationSetup::Bouton_valider_parametrageClick); });
    connect(p->Bouton_retour_parametrage, &QPushButton::clicked, this,
            [this] { guard(&StationSetup::Bouton_retour_parametrageClick); });
}

void StationSetup::Paramtres1Click() {
    // Only a staff member signed in on this station may change its set-up.
    if (!staff_session_open(session_)) {
        return;
    }
    // Staff's session on a visitor station ends here: its desktop is reset as any session's.
    window_.reset_desktop_if_due();
    session_.elapsed_seconds = 0;
    session_.closing_status = 2;
    worker_.close_session(PendingClose{static_cast<int>(session_.elapsed_seconds), session_.closing_status,
                                       session_.id_resa, session_.id_user});
    // The row is closed: nothing may close it a second time.
    session_.id_resa = 0;
    window_.restore_from_tray();
    window_.apply_window_layout(Windowed);
    station_.setup_required = 1;
    window_.set_title(QStringLiteral("Kalimo - Paramétrage"));
    station_.staff_screen = 1;
    window_.show_only(parametrage_);
    fill_setup_screen();
}

void StationSetup::fill_setup_screen() {
    auto* p = parametrage_->ui();
    p->Parametrage_combobox_adresse_mac->setPlaceholderText(QString());
    // The last reachability test decides first: a station known from an earlier start has nothing
    // to list while the server does not answer.
    if (station_.db_check == 1) {
        show_lists(nullptr);
    } else {
        SetupLists lists;
        lists.id_computer = station_.id_computer;
        lists.station_name = station_.station_name;
        operation_.start<SetupLists>(
            p->Bouton_valider_parametrage, std::move(lists),
            [](DbLink& link, SetupLists& l) {
                std::optional<std::string> first = prompt_bytes();
                if (l.id_computer > 0) {
                    computer_usage(link, l.id_computer, l.usage, l.found);
                    read_computer_name(link, l.id_computer, l.station_name, l.name_status);
                    first =
                        l.name_status == 0 ? std::optional<std::string>(l.station_name.str()) : std::nullopt;
                }
                list_names(link, l, name_list(link, first));
            },
            same_screen(window_, parametrage_),
            [this](SetupLists& l, std::exception_ptr error) {
                if (error) {
                    std::rethrow_exception(error);
                }
                show_lists(&l);
            });
    }
    show_local_settings();
}

void StationSetup::show_lists(const SetupLists* lists) {
    auto* p = parametrage_->ui();
    QComboBox* names = p->Parametrage_combobox_nom_poste;
    QComboBox* macs = p->Parametrage_combobox_adresse_mac;
    QRadioButton* usager = p->Parametrage_radio_type_poste_usager;
    QRadioButton* animateur = p->Parametrage_radio_type_poste_animateur;
    if (lists == nullptr) {
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
    } else if (lists->id_computer > 0) {
        if (lists->found == 1) {
            if (lists->usage == 1) {
                set_usage_radios(usager, animateur, true, false);
            } else if (lists->usage == 2) {
                set_usage_radios(usager, animateur, false, true);
            }
        } else {
            set_usage_radios(usager, animateur, true, false);
        }
        // A station set up while the server was away had its usage choice disabled.
        usager->setEnabled(true);
        animateur->setEnabled(true);
        names->setEnabled(true);
        station_.station_name = lists->station_name;
        refill_names(names, lists->names);
        show_space(lists->first);
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
        refill_names(names, lists->names);
        show_space(lists->first);
        macs->clear();
        add_item(macs, mac_prompt);
        macs->setEnabled(true);
        p->Parametrage_bouton_actualiser_nom_poste->show();
        p->Parametrage_bouton_aide_adresse_mac->show();
        add_adapters(macs);
        macs->setCurrentIndex(0);
    }
}

void StationSetup::show_local_settings() {
    auto* p = parametrage_->ui();
    int network_status = 0;
    read_ip_and_host_name(station_.ip_address, station_.host_name, network_status);
    p->Parametrage_label_adresse_ip_lier->setText(from_cp1252(station_.ip_address.str()));
    int file_status = 0;
    read_database_file(config_.database_name, config_.database_host, config_.database_user,
                       config_.database_password, file_status);
    if (file_status == 1) {
        p->Parametrage_edit_nom_table_bdd->setText(from_cp1252(config_.database_name.str()));
        p->Parametrage_edit_adresse_bdd->setText(from_cp1252(config_.database_host.str()));
        p->Parametrage_edit_nom_bdd->setText(from_cp1252(config_.database_user.str()));
        p->Parametrage_edit_mdp_bdd->setText(from_cp1252(config_.database_password.str()));
    } else {
        p->Parametrage_edit_nom_table_bdd->clear();
        p->Parametrage_edit_adresse_bdd->clear();
        p->Parametrage_edit_nom_bdd->clear();
        p->Parametrage_edit_mdp_bdd->clear();
    }
}

void StationSetup::show_space(const SpaceOfName& s) {
    station_.space_name = s.space;
    parametrage_->ui()->Parametrage_label_espace_lier->setText(
        s.status == 0 ? from_cp1252(station_.space_name.str()) : QStringLiteral("Espace non défini"));
}

void StationSetup::Parametrage_combobox_nom_posteChange() {
    QComboBox* names = parametrage_->ui()->Parametrage_combobox_nom_poste;
    SpaceOfName asked;
    asked.name = item_bytes(names, names->currentIndex());
    // Any number at a time: the answer shown is the one for the name still selected.
    ask_server<SpaceOfName>(
        worker_, window_.widget(), std::move(asked),
        [](DbLink& link, SpaceOfName& s) { read_space_of(link, s); },
        [this, names, name = asked.name] {
            return !parametrage_->isHidden() && item_bytes(names, names->currentIndex()) == name;
        },
        [this](SpaceOfName& s, std::exception_ptr error) {
            if (error) {
                std::rethrow_exception(error);
            }
            show_space(s);
        });
}

void StationSetup::Parametrage_bouton_actualiser_nom_posteClick() {
    SetupLists refresh;
    refresh.id_computer = station_.id_computer;
    refresh.station_name = station_.station_name;
    operation_.start<SetupLists>(
        parametrage_->ui()->Parametrage_bouton_actualiser_nom_poste, std::move(refresh),
        [](DbLink& link, SetupLists& r) {
            const AlwaysTry explicitly(link);
            read_computer_name(link, r.id_computer, r.station_name, r.name_status);
            int free_records = 0;
            if (r.name_status == 0) {
                count_free_computers(link, free_records);
            }
            if (r.name_status == 0 && free_records > 0) {
                list_names(link, r, name_list(link, std::string(r.station_name.str())));
            } else if (r.name_status == 0) {
                // No free record left: only the prompt.
                list_names(link, r, {prompt_bytes()});
            } else {
                list_names(link, r, name_list(link, prompt_bytes()));
            }
        },
        same_screen(window_, parametrage_),
        [this](SetupLists& r, std::exception_ptr error) {
            station_.station_name = r.station_name;
            if (error) {
                std::rethrow_exception(error);
            }
            refill_names(parametrage_->ui()->Parametrage_combobox_nom_poste, r.names);
            show_space(r.first);
        });
}

void StationSetup::Parametrage_bouton_aide_adresse_macClick() {
    show_message(window_.widget(),
                 QStringLiteral("Pour connaître l'adresse mac à renseigner, faite < Démarrer / Tous les "
                                "programmes / Accessoires / Invite de commande > à se moment, taper < "
                                "ipconfig/all > et relever l'adresse physique lié à l'adresse ip indiqué."));
}

void StationSetup::Bouton_valider_parametrageClick() {
    auto* p = parametrage_->ui();
    const QString values[4] = {p->Parametrage_edit_nom_table_bdd->text(),
                               p->Parametrage_edit_adresse_bdd->text(), p->Parametrage_edit_nom_bdd->text(),
                               p->Parametrage_edit_mdp_bdd->text()};
    // A value the file cannot hold would reach the server altered: nothing is written.
    for (const QString& value : values) {
        if (!is_station_text(value)) {
            show_message(window_.widget(),
                         QStringLiteral("la nouvelle configuration de la bdd est mauvaise"));
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
    station_.station_name = selected_name;
    // Under the prompt of a known station's list the first adapter stays the selected item.
    const FixedText<70> chosen_mac = item_bytes(macs, macs->currentIndex() >= 0 ? macs->currentIndex() : 0);

    config_.database_name = to_cp1252(values[0]);
    config_.database_host = to_cp1252(values[1]);
    config_.database_user = to_cp1252(values[2]);
    config_.database_password = to_cp1252(values[3]);
    int file_status = 0;
    write_database_file(config_.database_name.c_str(), config_.database_host.c_str(),
                        config_.database_user.c_str(), config_.database_password.c_str(), file_status);
    if (file_status == 0) {
        show_message(window_.widget(), QStringLiteral("l'ecriture du fichier texte n'a pas reussi"));
    }

    struct Binding {
        std::string name;
        int usage;
        FixedText<70> mac;
        FixedText<16> ip_address;
        FixedText<100> host_name;
        int outcome = UpdateRefused;
    };
    operation_.start<Binding>(
        p->Bouton_valider_parametrage,
        Binding{selected_name, chosen_usage, chosen_mac, station_.ip_address, station_.host_name,
                UpdateRefused},
        [](DbLink& link, Binding& b) {
            const AlwaysTry explicitly(link);
            b.outcome = update_computer_record(link, b.name.c_str(), b.usage, b.mac.c_str(),
                                               b.ip_address.c_str(), b.host_name.c_str());
        },
        same_screen(window_, parametrage_),
        [this](Binding& b, std::exception_ptr error) {
            if (error) {
                std::rethrow_exception(error);
            }
            bound(b.outcome);
        });
}

void StationSetup::bound(int outcome) {
    switch (outcome) {
    case UpdateRun:
        station_.db_check = 0;
        window_.start_station();
        break;
    case UpdateRefused:
        show_message(window_.widget(),
                     QStringLiteral("la configuration avec la base de données n'a pas fonctionné"));
        break;
    case UpdateNotConnected:
        show_message(window_.widget(), QStringLiteral("la nouvelle configuration de la bdd est mauvaise"));
        break;
    default:
        break;
    }
}

void StationSetup::Bouton_retour_parametrageClick() {
    window_.quit();
}
