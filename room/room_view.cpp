#include "room/room_view.h"

#include "fonction/text.h"
#include "platform/platform.h"
#include "room/salle.h"
#include "ui_salle.h"
#include "window/guarded.h"
#include "window/message_box.h"
#include "window/station_window.h"

#include <QEvent>
#include <QHeaderView>
#include <QTableWidget>

#include <algorithm>
#include <array>

namespace {

QString text_of(const std::string& bytes) {
    return from_cp1252(bytes);
}

QString two(int value) {
    return QStringLiteral("%1").arg(value, 2, 10, QLatin1Char('0'));
}

QString minutes_text(int minutes) {
    if (minutes < 60) {
        return QStringLiteral("%1 min").arg(minutes);
    }
    return QStringLiteral("%1 h %2 min").arg(minutes / 60).arg(two(minutes % 60));
}

// The time of day alone when it is today's, with the date otherwise; a heartbeat with its seconds.
QString since_text(const StationLine& line, const LocalTime& now) {
    const LocalTime& t = line.since;
    QString time = two(t.hour) + QLatin1Char(':') + two(t.minute);
    if (line.state == StationStatus::Silent) {
        time += QLatin1Char(':') + two(t.second);
    }
    if (t.year == now.year && t.month == now.month && t.day == now.day) {
        return time;
    }
    return two(t.day) + QLatin1Char('/') + two(t.month) + QLatin1Char('/') + QString::number(t.year) +
           QLatin1Char(' ') + time;
}

QString state_text(StationStatus state) {
    switch (state) {
    case StationStatus::Free:
        return QStringLiteral("Libre");
    case StationStatus::InUse:
        return QStringLiteral("Occupé");
    case StationStatus::Staff:
        return QStringLiteral("Animateur");
    case StationStatus::Silent:
        return QStringLiteral("Silencieux");
    case StationStatus::NeverSeen:
        break;
    }
    return QStringLiteral("Jamais vu");
}

// Sets a cell's text only when it changes: a refresh every two seconds leaves a screen reader, the
// selection and the scrolling alone where nothing moved. True when it changed.
bool set_cell(QTableWidget* table, int row, int column, const QString& text) {
    QTableWidgetItem* cell = table->item(row, column);
    if (cell == nullptr) {
        table->setItem(row, column, new QTableWidgetItem(text));
        return true;
    }
    if (cell->text() == text) {
        return false;
    }
    cell->setText(text);
    return true;
}

// The row's key, kept in its first cell.
int row_key(const QTableWidget* table, int row) {
    const QTableWidgetItem* cell = row >= 0 ? table->item(row, 0) : nullptr;
    return cell != nullptr ? cell->data(Qt::UserRole).toInt() : 0;
}

void set_row_key(QTableWidget* table, int row, int key) {
    table->item(row, 0)->setData(Qt::UserRole, key);
}

void select_key(QTableWidget* table, int key) {
    for (int row = 0; row < table->rowCount(); ++row) {
        if (key != 0 && row_key(table, row) == key) {
            table->selectRow(row);
            return;
        }
    }
    table->clearSelection();
    table->setCurrentItem(nullptr);
}

int selected_row(const QTableWidget* table) {
    const QList<QTableWidgetItem*> selected = table->selectedItems();
    return selected.isEmpty() ? -1 : selected.first()->row();
}

// A memo's text as the welcome screens keep it (lines ended by CR LF), and back.
std::string stored_message(const QString& shown) {
    QString text = shown;
    text.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
    return to_cp1252(text);
}
QString shown_message(const std::string& stored) {
    QString text = from_cp1252(stored);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return text;
}

// What the registration form's choices read, by their stored positions.
QString choice(int position, std::initializer_list<const char*> captions) {
    if (position < 0 || position >= static_cast<int>(captions.size())) {
        return QString::number(position);
    }
    return QString::fromUtf8(*(captions.begin() + position));
}

QString registration_details(const WaitingRegistration& r) {
    const QString town = r.other_town.empty()
                             ? text_of(r.town)
                             : text_of(r.town) + QStringLiteral(" : ") + text_of(r.other_town);
    QStringList lines;
    lines << QStringLiteral("Adresse : ") + shown_message(r.address).trimmed()
          << QStringLiteral("Code postal : ") + text_of(r.postcode) << QStringLiteral("Ville : ") + town
          << QStringLiteral("Téléphone fixe : ") + text_of(r.phone)
          << QStringLiteral("Téléphone portable : ") + text_of(r.mobile)
          << QStringLiteral("Adresse e-mail : ") + text_of(r.mail)
          << QStringLiteral("Catégorie socio-professionnelle : ") +
                 choice(r.csp, {"Élève", "Collégien", "Lycéen", "Étudiant", "Demandeur d'emploi",
                                "Agriculteur exploitant", "Artisant-commerçant-chef d'entreprise",
                                "Cadres et professions libérales", "Profession intermédiaire", "Employé",
                                "Ouvrier", "Retraité"})
          << QStringLiteral("Équipement personnel : ") +
                 choice(r.equipment, {"Aucun équipement", "Ordinateur seul", "Ordinateur et Internet"})
          << QStringLiteral("Lieu d'utilisation d'internet : ") +
                 choice(r.usage_place, {"Aucun", "A la maison", "Au bureau ou à l'école",
                                        "A la maison et au bureau ou à l'école"})
          << QStringLiteral("Quel est votre niveau informatique ? ") + text_of(r.knowledge)
          << QStringLiteral("Information complémentaire : ") + shown_message(r.info).trimmed();
    return lines.join(QLatin1Char('\n'));
}

const char* const nothing_written = "Rien n'a été enregistré : la base de données ne répond pas ou refuse.";
const char* const account_created = "Compte créé : %1";
const char* const login_taken = "Cet identifiant est déjà pris : %1";

} // namespace

RoomView::RoomView(StationWindow& window, Platform& platform, const StationState& station,
                   StationWorker& worker)
    : window_(window), platform_(platform), station_(station), worker_(worker),
      salle_(std::make_unique<Salle>()), operation_(worker, salle_.get()) {
    Timer_salle.setObjectName(QStringLiteral("Timer_salle"));
    Timer_salle.setInterval(2000);
    connect_components();
}

RoomView::~RoomView() = default;

void RoomView::guard(void (RoomView::*handler)()) {
    guarded(salle_.get(), [this, handler] { (this->*handler)(); });
}

void RoomView::connect_components() {
    auto* s = salle_->ui();
    connect(&Timer_salle, &QTimer::timeout, this, [this] { guard(&RoomView::Timer_salleTimer); });
    connect(s->Salle_tout_reseau, &QCheckBox::toggled, this,
            [this] { guard(&RoomView::Salle_tout_reseauChange); });
    connect(s->Salle_recherche, &QLineEdit::textChanged, this,
            [this] { guard(&RoomView::Salle_rechercheChange); });
    connect(s->Salle_table_postes, &QTableWidget::itemSelectionChanged, this,
            [this] { guard(&RoomView::Salle_table_postesChange); });
    connect(s->Salle_bouton_terminer, &QPushButton::clicked, this,
            [this] { guard(&RoomView::Salle_bouton_terminerClick); });
    connect(s->Salle_table_inscriptions, &QTableWidget::itemSelectionChanged, this,
            [this] { guard(&RoomView::Salle_table_inscriptionsChange); });
    connect(s->Salle_bouton_valider_inscription, &QPushButton::clicked, this,
            [this] { guard(&RoomView::Salle_bouton_valider_inscriptionClick); });
    connect(s->Salle_bouton_refuser_inscription, &QPushButton::clicked, this,
            [this] { guard(&RoomView::Salle_bouton_refuser_inscriptionClick); });
    connect(s->Salle_bouton_rechercher_compte, &QPushButton::clicked, this,
            [this] { guard(&RoomView::Salle_bouton_rechercher_compteClick); });
    connect(s->Salle_recherche_compte, &QLineEdit::returnPressed, this,
            [this] { guard(&RoomView::Salle_bouton_rechercher_compteClick); });
    connect(s->Salle_table_comptes, &QTableWidget::itemSelectionChanged, this,
            [this] { guard(&RoomView::Salle_table_comptesChange); });
    connect(s->Salle_bouton_creer_compte, &QPushButton::clicked, this,
            [this] { guard(&RoomView::Salle_bouton_creer_compteClick); });
    connect(s->Salle_bouton_enregistrer_compte, &QPushButton::clicked, this,
            [this] { guard(&RoomView::Salle_bouton_enregistrer_compteClick); });
    connect(s->Salle_bouton_publier_reseau, &QPushButton::clicked, this,
            [this] { guard(&RoomView::Salle_bouton_publier_reseauClick); });
    connect(s->Salle_bouton_retirer_reseau, &QPushButton::clicked, this,
            [this] { guard(&RoomView::Salle_bouton_retirer_reseauClick); });
    connect(s->Salle_bouton_publier_espace, &QPushButton::clicked, this,
            [this] { guard(&RoomView::Salle_bouton_publier_espaceClick); });
    connect(s->Salle_bouton_retirer_espace, &QPushButton::clicked, this,
            [this] { guard(&RoomView::Salle_bouton_retirer_espaceClick); });
    salle_->installEventFilter(this);
    Salle_table_postesChange();
    Salle_table_inscriptionsChange();
    Salle_table_comptesChange();
}

bool RoomView::eventFilter(QObject* watched, QEvent* event) {
    // Closed (by staff, or as the staff session ends): nothing more is asked, and what comes back for it
    // is dropped.
    if (watched == salle_.get() && event->type() == QEvent::Hide && !event->spontaneous()) {
        Timer_salle.stop();
        ++openings_;
    }
    return QObject::eventFilter(watched, event);
}

std::function<bool()> RoomView::still_open() {
    return [this, same = same_screen(window_), opening = openings_] {
        return same() && opening == openings_ && salle_->isVisible();
    };
}

void RoomView::Salle1Click() {
    const bool was_open = salle_->isVisible();
    salle_->setWindowState(salle_->windowState() & ~Qt::WindowMinimized);
    salle_->show();
    salle_->raise();
    salle_->activateWindow();
    if (was_open) {
        return;
    }
    ++openings_;
    Timer_salle.start();
    Timer_salleTimer();
    read_registrations();
    read_messages();
}

void RoomView::close_view() {
    if (salle_->isVisible()) {
        salle_->close();
    }
}

void RoomView::Timer_salleTimer() {
    // One refresh at a time: a server that stalls gets no queue of them.
    if (refresh_out_ || error_box_open() || !salle_->isVisible()) {
        return;
    }
    struct Refresh {
        int id_computer;
        bool network;
        std::vector<RoomComputer> computers;
        RoomRead read = RoomRead::NotConnected;
    };
    refresh_out_ = true;
    ask_server<Refresh>(
        worker_, salle_.get(), Refresh{station_.id_computer, network_, {}},
        [](DbLink& link, Refresh& r) {
            r.read = read_room_computers(link, r.id_computer, r.network, r.computers);
        },
        [this, open = still_open()] {
            refresh_out_ = false;
            return open();
        },
        [this](Refresh& r, std::exception_ptr error) {
            refresh_out_ = false;
            if (error) {
                std::rethrow_exception(error);
            }
            if (r.network != network_) {
                Timer_salleTimer(); // asked before staff switched: the other view now
                return;
            }
            refresh_status_ = r.read;
            if (r.read == RoomRead::Read) {
                refreshed_at_ = platform_.local_time();
                refreshed_once_ = true;
                lines_ = room_lines(r.computers, refreshed_at_);
                show_lines();
            }
            show_status();
        });
}

void RoomView::show_lines() {
    QTableWidget* table = salle_->ui()->Salle_table_postes;
    const int selected = row_key(table, selected_row(table));
    bool changed = table->rowCount() != static_cast<int>(lines_.size());
    table->setRowCount(static_cast<int>(lines_.size()));
    for (int row = 0; row < static_cast<int>(lines_.size()); ++row) {
        const StationLine& line = lines_[static_cast<std::size_t>(row)];
        const RoomComputer& c = line.computer;
        const bool session = c.id_resa > 0;
        QString names = text_of(c.first_name);
        if (!c.surname.empty()) {
            names += (names.isEmpty() ? QString() : QStringLiteral(" ")) + text_of(c.surname);
        }
        const std::array<QString, 9> cells = {
            text_of(c.space),
            text_of(c.room),
            text_of(c.name),
            state_text(line.state),
            line.has_since ? since_text(line, refreshed_at_) : QString(),
            session ? text_of(c.login) : QString(),
            session ? names : QString(),
            line.used_minutes >= 0 ? minutes_text(line.used_minutes) : QString(),
            line.left_minutes >= 0 ? minutes_text(line.left_minutes) : QString(),
        };
        for (int column = 0; column < static_cast<int>(cells.size()); ++column) {
            changed = set_cell(table, row, column, cells[static_cast<std::size_t>(column)]) || changed;
        }
        set_row_key(table, row, c.id_computer);
    }
    table->setColumnHidden(0, !network_);
    // The columns fit what they show; a refresh that changed nothing measures nothing again.
    if (changed) {
        table->resizeColumnsToContents();
    }
    Salle_rechercheChange();
    select_key(table, selected);
    Salle_table_postesChange();
}

void RoomView::show_status() {
    const StateCounts counts = count_states(lines_);
    QString text = QStringLiteral("Postes : %1 ; libres : %2 ; occupés : %3 ; animateurs : %4 ; "
                                  "silencieux : %5 ; jamais vus : %6.")
                       .arg(counts.total())
                       .arg(counts.free)
                       .arg(counts.in_use)
                       .arg(counts.staff)
                       .arg(counts.silent)
                       .arg(counts.never_seen);
    if (refresh_status_ != RoomRead::Read) {
        QString failure = refresh_status_ == RoomRead::NotConnected
                              ? QStringLiteral("Pas de connexion à la base de données")
                              : QStringLiteral("La base de données refuse la lecture des postes");
        if (refreshed_once_) {
            const LocalTime& t = refreshed_at_;
            failure += QStringLiteral(" ; dernière mise à jour à %1:%2:%3")
                           .arg(two(t.hour), two(t.minute), two(t.second));
        }
        text = failure + QStringLiteral(". ") + (refreshed_once_ ? text : QString());
    }
    salle_->ui()->Salle_etat->setText(text.trimmed());
}

void RoomView::Salle_tout_reseauChange() {
    network_ = salle_->ui()->Salle_tout_reseau->isChecked();
    salle_->ui()->Salle_table_postes->setColumnHidden(0, !network_);
    Timer_salleTimer();
}

void RoomView::Salle_rechercheChange() {
    QTableWidget* table = salle_->ui()->Salle_table_postes;
    const std::string wanted = to_cp1252(salle_->ui()->Salle_recherche->text());
    for (int row = 0; row < table->rowCount() && row < static_cast<int>(lines_.size()); ++row) {
        table->setRowHidden(row, !line_matches(lines_[static_cast<std::size_t>(row)], wanted));
    }
}

void RoomView::Salle_table_postesChange() {
    const int row = selected_row(salle_->ui()->Salle_table_postes);
    salle_->ui()->Salle_bouton_terminer->setEnabled(row >= 0 && row < static_cast<int>(lines_.size()) &&
                                                    lines_[static_cast<std::size_t>(row)].can_end);
}

void RoomView::Salle_bouton_terminerClick() {
    const int row = selected_row(salle_->ui()->Salle_table_postes);
    if (row < 0 || row >= static_cast<int>(lines_.size()) || !lines_[static_cast<std::size_t>(row)].can_end) {
        return;
    }
    const StationLine line = lines_[static_cast<std::size_t>(row)];
    if (!ask_confirmation(salle_.get(),
                          QStringLiteral("Terminer la session de %1 sur %2 ?")
                              .arg(text_of(line.computer.login), text_of(line.computer.name)))) {
        return;
    }
    struct End {
        int id_resa;
        int minutes;
        EndOutcome outcome = EndOutcome::Failed;
    };
    // The time so far, at least a minute, as the station writes it; the station writes its own as it ends.
    operation_.start<End>(
        salle_->ui()->Salle_bouton_terminer, End{line.computer.id_resa, std::max(1, line.used_minutes)},
        [](DbLink& link, End& e) { e.outcome = end_session_from_outside(link, e.id_resa, e.minutes); },
        still_open(),
        [this](End& e, std::exception_ptr error) {
            if (error) {
                std::rethrow_exception(error);
            }
            if (e.outcome == EndOutcome::Failed) {
                show_message(salle_.get(), QString::fromUtf8(nothing_written));
            }
            Timer_salleTimer();
        });
}

void RoomView::read_registrations() {
    struct Waiting {
        std::vector<WaitingRegistration> list;
        bool read = false;
    };
    ask_server<Waiting>(
        worker_, salle_.get(), Waiting{},
        [](DbLink& link, Waiting& w) { w.read = read_waiting_registrations(link, w.list); }, still_open(),
        [this](Waiting& w, std::exception_ptr error) {
            if (error) {
                std::rethrow_exception(error);
            }
            if (w.read) {
                registrations_ = std::move(w.list);
                show_registrations();
            }
        });
}

void RoomView::show_registrations() {
    QTableWidget* table = salle_->ui()->Salle_table_inscriptions;
    const int selected = row_key(table, selected_row(table));
    table->setRowCount(static_cast<int>(registrations_.size()));
    for (int row = 0; row < static_cast<int>(registrations_.size()); ++row) {
        const WaitingRegistration& r = registrations_[static_cast<std::size_t>(row)];
        const std::array<QString, 7> cells = {
            text_of(r.date),
            text_of(r.surname),
            text_of(r.first_name),
            r.sex == "H"   ? QStringLiteral("Monsieur")
            : r.sex == "F" ? QStringLiteral("Madame")
                           : text_of(r.sex),
            two(r.day) + QLatin1Char('/') + two(r.month) + QLatin1Char('/') + QString::number(r.year),
            text_of(r.other_town.empty() ? r.town : r.other_town),
            text_of(r.login),
        };
        for (int column = 0; column < static_cast<int>(cells.size()); ++column) {
            set_cell(table, row, column, cells[static_cast<std::size_t>(column)]);
        }
        set_row_key(table, row, r.id);
    }
    table->resizeColumnsToContents();
    select_key(table, selected);
    Salle_table_inscriptionsChange();
}

void RoomView::Salle_table_inscriptionsChange() {
    auto* s = salle_->ui();
    const int row = selected_row(s->Salle_table_inscriptions);
    const bool chosen = row >= 0 && row < static_cast<int>(registrations_.size());
    s->Salle_bouton_valider_inscription->setEnabled(chosen);
    s->Salle_bouton_refuser_inscription->setEnabled(chosen);
    if (!chosen) {
        s->Salle_detail_inscription->clear();
        return;
    }
    const WaitingRegistration& r = registrations_[static_cast<std::size_t>(row)];
    s->Salle_detail_inscription->setPlainText(registration_details(r));
    s->Salle_credit_inscription->setValue(r.allowance);
}

void RoomView::Salle_bouton_valider_inscriptionClick() {
    auto* s = salle_->ui();
    const int row = selected_row(s->Salle_table_inscriptions);
    if (row < 0 || row >= static_cast<int>(registrations_.size())) {
        return;
    }
    struct Validation {
        int id;
        int allowance;
        std::string login;
        RegistrationOutcome outcome = RegistrationOutcome::Failed;
    };
    const WaitingRegistration& r = registrations_[static_cast<std::size_t>(row)];
    operation_.start<Validation>(
        s->Salle_bouton_valider_inscription, Validation{r.id, s->Salle_credit_inscription->value(), r.login},
        [](DbLink& link, Validation& v) { v.outcome = validate_registration(link, v.id, v.allowance); },
        still_open(),
        [this](Validation& v, std::exception_ptr error) {
            if (error) {
                std::rethrow_exception(error);
            }
            const QString login = text_of(v.login);
            switch (v.outcome) {
            case RegistrationOutcome::Validated:
                show_message(salle_.get(), QString::fromUtf8(account_created).arg(login));
                break;
            case RegistrationOutcome::LoginTaken:
                show_message(salle_.get(), QString::fromUtf8(login_taken).arg(login));
                break;
            case RegistrationOutcome::PersonKnown:
                show_message(salle_.get(), QStringLiteral("Cette personne a déjà un compte."));
                break;
            case RegistrationOutcome::Gone:
                show_message(salle_.get(), QStringLiteral("Cette inscription n'est plus en attente."));
                break;
            case RegistrationOutcome::NoLogin:
                show_message(salle_.get(), QStringLiteral("Cette inscription n'a pas d'identifiant."));
                break;
            case RegistrationOutcome::BadAllowance:
            case RegistrationOutcome::Failed:
                show_message(salle_.get(), QString::fromUtf8(nothing_written));
                break;
            }
            read_registrations();
        });
}

void RoomView::Salle_bouton_refuser_inscriptionClick() {
    auto* s = salle_->ui();
    const int row = selected_row(s->Salle_table_inscriptions);
    if (row < 0 || row >= static_cast<int>(registrations_.size())) {
        return;
    }
    struct Refusal {
        int id;
        bool done = false;
    };
    operation_.start<Refusal>(
        s->Salle_bouton_refuser_inscription, Refusal{registrations_[static_cast<std::size_t>(row)].id},
        [](DbLink& link, Refusal& r) { r.done = refuse_registration(link, r.id); }, still_open(),
        [this](Refusal& r, std::exception_ptr error) {
            if (error) {
                std::rethrow_exception(error);
            }
            if (!r.done) {
                show_message(salle_.get(), QString::fromUtf8(nothing_written));
            }
            read_registrations();
        });
}

void RoomView::Salle_bouton_rechercher_compteClick() {
    search_accounts(to_cp1252(salle_->ui()->Salle_recherche_compte->text()));
}

void RoomView::search_accounts(const std::string& text) {
    struct Search {
        std::string text;
        std::vector<AccountRow> found;
        bool read = false;
    };
    operation_.start<Search>(
        salle_->ui()->Salle_bouton_rechercher_compte, Search{text, {}},
        [](DbLink& link, Search& s) { s.read = find_accounts(link, s.text, s.found); }, still_open(),
        [this](Search& found, std::exception_ptr error) {
            if (error) {
                std::rethrow_exception(error);
            }
            if (!found.read) {
                show_message(salle_.get(), QStringLiteral("Pas de connexion à la base de données"));
                return;
            }
            accounts_ = std::move(found.found);
            QTableWidget* table = salle_->ui()->Salle_table_comptes;
            const int selected = shown_account_.id_user;
            table->setRowCount(static_cast<int>(accounts_.size()));
            for (int row = 0; row < static_cast<int>(accounts_.size()); ++row) {
                const AccountRow& a = accounts_[static_cast<std::size_t>(row)];
                const QString status = a.status >= 1 && a.status <= 4
                                           ? salle_->ui()->Salle_compte_statut->itemText(a.status - 1)
                                           : QString::number(a.status);
                const std::array<QString, 5> cells = {text_of(a.login), text_of(a.surname),
                                                      text_of(a.first_name), status,
                                                      minutes_text(a.allowance)};
                for (int column = 0; column < static_cast<int>(cells.size()); ++column) {
                    set_cell(table, row, column, cells[static_cast<std::size_t>(column)]);
                }
                set_row_key(table, row, a.id_user);
            }
            table->resizeColumnsToContents();
            select_key(table, selected);
            Salle_table_comptesChange();
        });
}

void RoomView::Salle_table_comptesChange() {
    auto* s = salle_->ui();
    const int row = selected_row(s->Salle_table_comptes);
    const bool chosen = row >= 0 && row < static_cast<int>(accounts_.size());
    s->Salle_bouton_enregistrer_compte->setEnabled(chosen);
    if (!chosen) {
        shown_account_ = AccountRow{};
        return;
    }
    shown_account_ = accounts_[static_cast<std::size_t>(row)];
    s->Salle_compte_identifiant->setText(text_of(shown_account_.login));
    s->Salle_compte_nom->setText(text_of(shown_account_.surname));
    s->Salle_compte_prenom->setText(text_of(shown_account_.first_name));
    s->Salle_compte_statut->setCurrentIndex(
        shown_account_.status >= 1 && shown_account_.status <= 4 ? shown_account_.status - 1 : -1);
    s->Salle_compte_credit->setValue(shown_account_.allowance);
    s->Salle_compte_mot_de_passe->clear();
    // As shown: a value the list cannot show exactly is written only when staff change it.
    shown_allowance_ = s->Salle_compte_credit->value();
    shown_status_index_ = s->Salle_compte_statut->currentIndex();
}

void RoomView::Salle_bouton_creer_compteClick() {
    auto* s = salle_->ui();
    NewAccount account;
    account.login = to_cp1252(s->Salle_compte_identifiant->text());
    const QString password = s->Salle_compte_mot_de_passe->text();
    if (account.login.empty() || password.isEmpty()) {
        show_message(salle_.get(), QStringLiteral("Remplissez l'identifiant et le mot de passe."));
        return;
    }
    // The digest a station computes at sign-in: MD5 of the password's Windows-1252 bytes.
    account.digest = password_digest(to_cp1252(password));
    account.surname = to_cp1252(s->Salle_compte_nom->text());
    account.first_name = to_cp1252(s->Salle_compte_prenom->text());
    account.status = std::max(0, s->Salle_compte_statut->currentIndex()) + 1;
    account.allowance = s->Salle_compte_credit->value();
    struct Creation {
        NewAccount account;
        AccountOutcome outcome = AccountOutcome::Failed;
    };
    operation_.start<Creation>(
        s->Salle_bouton_creer_compte, Creation{account},
        [](DbLink& link, Creation& c) { c.outcome = create_account(link, c.account); }, still_open(),
        [this](Creation& c, std::exception_ptr error) {
            if (error) {
                std::rethrow_exception(error);
            }
            const QString login = text_of(c.account.login);
            switch (c.outcome) {
            case AccountOutcome::Done:
                salle_->ui()->Salle_compte_mot_de_passe->clear();
                show_message(salle_.get(), QString::fromUtf8(account_created).arg(login));
                salle_->ui()->Salle_recherche_compte->setText(login);
                search_accounts(c.account.login);
                break;
            case AccountOutcome::LoginTaken:
                show_message(salle_.get(), QString::fromUtf8(login_taken).arg(login));
                break;
            case AccountOutcome::Failed:
                show_message(salle_.get(), QString::fromUtf8(nothing_written));
                break;
            }
        });
}

void RoomView::Salle_bouton_enregistrer_compteClick() {
    auto* s = salle_->ui();
    if (shown_account_.id_user <= 0) {
        return;
    }
    AccountChange change;
    change.allowance_changed = s->Salle_compte_credit->value() != shown_allowance_;
    change.allowance = s->Salle_compte_credit->value();
    change.status_changed = s->Salle_compte_statut->currentIndex() >= 0 &&
                            s->Salle_compte_statut->currentIndex() != shown_status_index_;
    change.status = s->Salle_compte_statut->currentIndex() + 1;
    if (!s->Salle_compte_mot_de_passe->text().isEmpty()) {
        change.digest = password_digest(to_cp1252(s->Salle_compte_mot_de_passe->text()));
    }
    if (change.empty()) {
        return;
    }
    struct Change {
        int id_user;
        AccountChange change;
        bool done = false;
    };
    operation_.start<Change>(
        s->Salle_bouton_enregistrer_compte, Change{shown_account_.id_user, change},
        [](DbLink& link, Change& c) { c.done = change_account(link, c.id_user, c.change); }, still_open(),
        [this](Change& c, std::exception_ptr error) {
            if (error) {
                std::rethrow_exception(error);
            }
            if (!c.done) {
                show_message(salle_.get(), QString::fromUtf8(nothing_written));
                return;
            }
            salle_->ui()->Salle_compte_mot_de_passe->clear();
            show_message(salle_.get(), QStringLiteral("Modifications enregistrées."));
            search_accounts(to_cp1252(salle_->ui()->Salle_recherche_compte->text()));
        });
}

void RoomView::read_messages() {
    struct Read {
        int id_computer;
        WelcomeMessages messages;
        bool read = false;
    };
    ask_server<Read>(
        worker_, salle_.get(), Read{station_.id_computer, {}},
        [](DbLink& link, Read& r) { r.read = read_welcome_messages(link, r.id_computer, r.messages); },
        still_open(),
        [this](Read& r, std::exception_ptr error) {
            if (error) {
                std::rethrow_exception(error);
            }
            if (!r.read) {
                return;
            }
            auto* s = salle_->ui();
            messages_ = r.messages;
            s->Salle_message_reseau->setPlainText(shown_message(messages_.network));
            s->Salle_message_espace->setPlainText(shown_message(messages_.space));
            s->Salle_groupe_espace->setEnabled(!messages_.space_id.empty());
        });
}

void RoomView::publish(bool network) {
    auto* s = salle_->ui();
    QPlainTextEdit* memo = network ? s->Salle_message_reseau : s->Salle_message_espace;
    const QString shown = memo->toPlainText();
    bool printable = true;
    for (const QChar c : shown) {
        printable = printable && (c.unicode() >= 0x20 || c == QLatin1Char('\n') || c == QLatin1Char('\t'));
    }
    const std::string text = stored_message(shown);
    if (shown.trimmed().isEmpty() || !printable || !encodable_in_cp1252(shown) ||
        text.size() > message_capacity) {
        show_message(salle_.get(),
                     QStringLiteral("Message refusé : vide, trop long (%1 caractères au plus) ou avec "
                                    "des caractères que les postes ne peuvent pas afficher.")
                         .arg(message_capacity));
        return;
    }
    const std::string scope = network ? std::string("0") : messages_.space_id;
    if (scope.empty()) {
        return;
    }
    struct Publication {
        std::string scope;
        std::string text;
        bool done = false;
    };
    operation_.start<Publication>(
        network ? s->Salle_bouton_publier_reseau : s->Salle_bouton_publier_espace, Publication{scope, text},
        [](DbLink& link, Publication& p) { p.done = publish_message(link, p.scope, p.text); }, still_open(),
        [this](Publication& p, std::exception_ptr error) {
            if (error) {
                std::rethrow_exception(error);
            }
            if (!p.done) {
                show_message(salle_.get(), QString::fromUtf8(nothing_written));
                return;
            }
            read_messages();
        });
}

void RoomView::withdraw(bool network) {
    auto* s = salle_->ui();
    const std::string scope = network ? std::string("0") : messages_.space_id;
    if (scope.empty()) {
        return;
    }
    struct Withdrawal {
        std::string scope;
        bool done = false;
    };
    operation_.start<Withdrawal>(
        network ? s->Salle_bouton_retirer_reseau : s->Salle_bouton_retirer_espace, Withdrawal{scope},
        [](DbLink& link, Withdrawal& w) { w.done = withdraw_messages(link, w.scope); }, still_open(),
        [this](Withdrawal& w, std::exception_ptr error) {
            if (error) {
                std::rethrow_exception(error);
            }
            if (!w.done) {
                show_message(salle_.get(), QString::fromUtf8(nothing_written));
                return;
            }
            read_messages();
        });
}

void RoomView::Salle_bouton_publier_reseauClick() {
    publish(true);
}
void RoomView::Salle_bouton_retirer_reseauClick() {
    withdraw(true);
}
void RoomView::Salle_bouton_publier_espaceClick() {
    publish(false);
}
void RoomView::Salle_bouton_retirer_espaceClick() {
    withdraw(false);
}
