#include "session/sessions.h"

#include "fonction/session_queries.h"
#include "fonction/station_worker.h"
#include "fonction/text.h"
#include "platform/platform.h"
#include "session/compteur_temps.h"
#include "session/identification.h"
#include "session/renseignement.h"
#include "session/session_rules.h"
#include "ui_compteur_temps.h"
#include "ui_identification.h"
#include "ui_renseignement.h"
#include "window/guarded.h"
#include "window/message_box.h"
#include "window/station_window.h"

#include <QCheckBox>
#include <QSignalBlocker>
#include <QTimer>

#include <algorithm>

#include <array>
#include <exception>
#include <functional>
#include <string>
#include <vector>

namespace {

// The sixteen boxes in the order their answers are recorded.
std::vector<QCheckBox*> boxes_in_answer_order(Ui::Renseignement* r) {
    return {r->CheckBox_Bureautique,
            r->CheckBox_Emploi,
            r->CheckBox1,
            r->CheckBox2,
            r->CheckBox3,
            r->CheckBox4,
            r->CheckBox5,
            r->CheckBox6,
            r->CheckBox7,
            r->CheckBox_Internet,
            r->CheckBox8,
            r->CheckBox9,
            r->CheckBox10,
            r->CheckBox11,
            r->CheckBox12,
            r->CheckBox_Autres};
}

void place(QWidget* w, int left, int top) {
    w->move(left, top);
}

// The program's own unchecks lay nothing out: the survey's layout follows the visitor's changes only.
void uncheck_quietly(QCheckBox* box) {
    const QSignalBlocker quiet(box);
    box->setChecked(false);
}

} // namespace

Sessions::Sessions(StationWindow& window, Platform& platform, StationState& station, SessionState& session,
                   QTimer& counter_timer, StationWorker& worker, QWidget* panels_parent)
    : window_(window), platform_(platform), station_(station), session_(session),
      counter_timer_(counter_timer), worker_(worker), identification_(new Identification(panels_parent)),
      renseignement_(new Renseignement(panels_parent)), compteur_temps_(new Compteur_temps(panels_parent)),
      operation_(worker, window.widget()) {
    connect_components();
}

void Sessions::guard(void (Sessions::*handler)()) {
    guarded(window_.widget(), [this, handler] { (this->*handler)(); });
}

void Sessions::connect_components() {
    auto* id = identification_->ui();
    auto* r = renseignement_->ui();
    auto* c = compteur_temps_->ui();
    connect(id->Identification_bouton_connexion, &QPushButton::clicked, this,
            [this] { guard(&Sessions::Identification_bouton_connexionClick); });
    connect(r->Bouton_valider, &QPushButton::clicked, this, [this] { guard(&Sessions::start_session); });
    connect(r->Bouton_retour, &QPushButton::clicked, this, [this] { guard(&Sessions::Bouton_retourClick); });
    // The heads follow their state, however it changed: a screen reader checks a box through its
    // toggle action, which emits no click.
    connect(r->CheckBox_Emploi, &QCheckBox::toggled, this,
            [this] { guard(&Sessions::CheckBox_EmploiClick); });
    connect(r->CheckBox_Internet, &QCheckBox::toggled, this,
            [this] { guard(&Sessions::CheckBox_InternetClick); });
    connect(c->Compteur_Bouton_deconnexion, &QPushButton::clicked, this,
            [this] { guard(&Sessions::Compteur_Bouton_deconnexionClick); });
    connect(&worker_, &StationWorker::status_polled, this, &Sessions::on_status_polled);
    connect(&worker_, &StationWorker::status_unreadable, this, &Sessions::on_status_unreadable);
}

ProcessClock Sessions::take_opening() {
    // A visitor's session, or staff's on a visitor station, hands the desktop back clean when it ends,
    // however it ends: the record keeps its opening for a station that dies meanwhile. A staff
    // station's own session resets nothing.
    if (opening_.none() && (session_.status_user == 1 || session_.staff_on_visitor_station == 1)) {
        opening_ = platform_.process_clock();
        window_.desktop_session_opened(opening_);
        // The Windows service notes the opening on its own clock: told before the desktop shell
        // starts, it counts the shell as the session's.
        platform_.ask_guard(GuardRequest::SessionOpened);
    }
    return opening_;
}

void Sessions::keep_session_open(int closing_status) {
    if (session_.id_resa <= 0 || session_.id_user <= 0) {
        return; // no row was written: nothing to close after a crash
    }
    const LocalTime now = platform_.local_time();
    const ProcessClock opened = take_opening();
    opening_ = ProcessClock{};
    worker_.session_opened(OpenSession{session_.id_resa, session_.id_user, closing_status, now, now, opened});
}

namespace {

// What the sign-in's lookup reads and writes.
struct Lookup {
    std::string login;
    std::string digest;
    bool asked = false; // the texts can be an account's
    int id_user = 0;
    int status_user = 0;
    int outcome = 0;
};

// The identifier and password typed in the sign-in fields, ready for the lookup.
Lookup typed_lookup(Ui::Identification* id) {
    const QString password = id->Identification_labeledit_mot_de_passe->text();
    const QString login = id->Identification_labeledit_identifiant->text();
    Lookup lookup;
    // Accounts are stored in the stations' code page: a text with characters outside it cannot be
    // any account's, and must not be folded into one that is. Nor can a login holding a NUL, which
    // would end it early and name the account of its first part.
    if (encodable_in_cp1252(login) && encodable_in_cp1252(password) && !login.contains(QChar(0))) {
        lookup.asked = true;
        lookup.login = to_cp1252(login);
        lookup.digest = password_digest(to_cp1252(password));
    }
    return lookup;
}

void look_up(DbLink& link, Lookup& l) {
    if (l.asked) {
        lookup_account(link, l.login.c_str(), l.digest.c_str(), l.id_user, l.status_user, l.outcome);
    }
}

} // namespace

void Sessions::Identification_bouton_connexionClick() {
    if (operation_.out()) {
        return; // a second press while the first is answered
    }
    auto* id = identification_->ui();
    // The last session's desktop is not handed to anyone before the guard has reset it.
    if (window_.desktop_being_reset()) {
        refuse_sign_in(QStringLiteral("Identifiant ou mot de passe incorrect"));
        return;
    }
    window_.identify_if_awaiting_server();
    session_.lookup_outcome = 0;
    opening_ = ProcessClock{}; // a sign-in that opened no row left none behind
    Lookup lookup = typed_lookup(id);
    lookup.id_user = session_.id_user;
    lookup.status_user = session_.status_user;
    operation_.start<Lookup>(id->Identification_bouton_connexion, std::move(lookup), look_up,
                             same_screen(window_, identification_),
                             [this](Lookup& l, std::exception_ptr error) {
                                 session_.id_user = l.id_user;
                                 session_.status_user = l.status_user;
                                 session_.lookup_outcome = l.outcome;
                                 if (error) {
                                     session_.lookup_outcome = 0;
                                     clear_sign_in_fields();
                                     std::rethrow_exception(error);
                                 }
                                 route_sign_in_answer();
                             });
}

void Sessions::act_for_staff(QWidget* control, std::function<void()> act) {
    if (operation_.out()) {
        return;
    }
    operation_.start<Lookup>(control, typed_lookup(identification_->ui()), look_up,
                             same_screen(window_, identification_),
                             [this, act = std::move(act)](Lookup& l, std::exception_ptr error) {
                                 if (error) {
                                     clear_sign_in_fields();
                                     std::rethrow_exception(error);
                                 }
                                 if (l.outcome == 0 || !is_staff_status(l.status_user)) {
                                     refuse_sign_in(QStringLiteral("Identifiant ou mot de passe incorrect"));
                                     return;
                                 }
                                 clear_sign_in_fields();
                                 act();
                             });
}

void Sessions::clear_sign_in_fields() {
    identification_->ui()->Identification_labeledit_identifiant->clear();
    identification_->ui()->Identification_labeledit_mot_de_passe->clear();
}

void Sessions::open_row_then(QWidget* control, int closing_status, std::function<void()> then) {
    struct Row {
        int id_computer;
        int id_user;
        int planned;
        int id_resa;
    };
    operation_.start<Row>(
        control, Row{station_.id_computer, session_.id_user, session_.planned_duration, session_.id_resa},
        [](DbLink& link, Row& r) { open_session_row(link, r.id_computer, r.id_user, r.planned, r.id_resa); },
        same_screen(window_),
        [this, closing_status, then](Row& r, std::exception_ptr error) {
            session_.id_resa = r.id_resa;
            if (error) {
                std::rethrow_exception(error);
            }
            keep_session_open(closing_status);
            then();
        });
}

void Sessions::refuse_sign_in(const QString& message) {
    show_message(window_.widget(), message);
    session_.lookup_outcome = 0;
    clear_sign_in_fields();
    identification_->ui()->Identification_labeledit_identifiant->setFocus();
}

void Sessions::route_sign_in_answer() {
    QWidget* button = identification_->ui()->Identification_bouton_connexion;

    switch (route_sign_in(session_.lookup_outcome, station_.staff_screen, session_.status_user,
                          station_.setup_required)) {
    case SignInRoute::Incorrect:
        refuse_sign_in(QStringLiteral("Identifiant ou mot de passe incorrect"));
        return;
    case SignInRoute::AlreadySignedIn:
        refuse_sign_in(QStringLiteral("Vous êtes déjà connecté sur un poste"));
        return;
    case SignInRoute::NotAllowedHere:
        refuse_sign_in(QStringLiteral("pas d'autorisation pour se connecter sur ce poste"));
        return;
    case SignInRoute::Locked:
        refuse_sign_in(QStringLiteral("Compte vérouillé"));
        return;
    case SignInRoute::StaffToSetUp:
        // No session row: the staff member came to set the station up.
        session_.lookup_outcome = 0;
        station_.staff_screen = 0;
        clear_sign_in_fields();
        window_.show_setup_screen();
        return;
    case SignInRoute::StaffSession:
        session_.lookup_outcome = 0;
        station_.staff_screen = 0;
        clear_sign_in_fields();
        open_row_then(button, 2, [this] { window_.minimise_to_tray(); });
        return;
    case SignInRoute::StaffOnVisitorStation:
        window_.set_stay_on_top(false);
        window_.stop_lockdown();
        session_.staff_on_visitor_station = 1;
        take_opening(); // the shell is the session's
        platform_.run_command("start c://Windows//explorer.exe");
        clear_sign_in_fields();
        session_.lookup_outcome = 0;
        session_.planned_duration = 999;
        open_row_then(button, 2, [this] { window_.minimise_to_tray(); });
        return;
    case SignInRoute::Visitor: {
        struct Credit {
            int id_user;
            int minutes;
        };
        operation_.start<Credit>(
            button, Credit{session_.id_user, session_.credit_minutes},
            [](DbLink& link, Credit& c) { compute_credit(link, c.id_user, c.minutes); },
            same_screen(window_, identification_),
            [this](Credit& c, std::exception_ptr error) {
                session_.credit_minutes = c.minutes;
                if (error) {
                    session_.lookup_outcome = 0;
                    clear_sign_in_fields();
                    std::rethrow_exception(error);
                }
                if (session_.credit_minutes <= 0) {
                    refuse_sign_in(QStringLiteral("Crédit temps épuisé"));
                    return;
                }
                if (station_.settings.page_renseignement_logiciel == 1) {
                    identification_->hide();
                    present_survey();
                } else {
                    // The welcome screen stays until the session's row is written.
                    renseignement_->hide();
                    start_session();
                }
                clear_sign_in_fields();
                session_.lookup_outcome = 0;
            });
        return;
    }
    case SignInRoute::Ignored:
        session_.lookup_outcome = 0;
        return;
    }
}

void Sessions::present_survey() {
    auto* r = renseignement_->ui();
    renseignement_->show();
    for (QCheckBox* box : boxes_in_answer_order(r)) {
        uncheck_quietly(box);
    }
    for (QCheckBox* box :
         {r->CheckBox_Bureautique, r->CheckBox_Emploi, r->CheckBox_Internet, r->CheckBox_Autres}) {
        box->show();
    }
    for (QCheckBox* box :
         {r->CheckBox1, r->CheckBox2, r->CheckBox3, r->CheckBox4, r->CheckBox5, r->CheckBox6, r->CheckBox7,
          r->CheckBox8, r->CheckBox9, r->CheckBox10, r->CheckBox11, r->CheckBox12}) {
        box->hide();
        place(box, 132, box->y());
    }
    place(r->CheckBox_Bureautique, 108, 140);
    place(r->CheckBox_Emploi, 108, 172);
    place(r->CheckBox_Internet, 108, 204);
    place(r->CheckBox_Autres, 108, 236);
    place(r->Label_Renseignement, 68, 108);
    renseignement_->follow_layout_with_tab_order();
}

void Sessions::apply_survey_layout() {
    auto* r = renseignement_->ui();
    const SurveyLayout layout =
        survey_layout(r->CheckBox_Emploi->isChecked(), r->CheckBox_Internet->isChecked());
    const std::array<QCheckBox*, 7> emploi_group = {r->CheckBox1, r->CheckBox2, r->CheckBox3, r->CheckBox4,
                                                    r->CheckBox5, r->CheckBox6, r->CheckBox7};
    const std::array<QCheckBox*, 5> internet_group = {r->CheckBox8, r->CheckBox9, r->CheckBox10,
                                                      r->CheckBox11, r->CheckBox12};
    for (std::size_t i = 0; i < emploi_group.size(); ++i) {
        place(emploi_group[i], emploi_group[i]->x(), layout.emploi_group_tops[i]);
        emploi_group[i]->setVisible(layout.emploi_group_visible);
    }
    place(r->CheckBox_Internet, r->CheckBox_Internet->x(), layout.internet_top);
    for (std::size_t i = 0; i < internet_group.size(); ++i) {
        place(internet_group[i], internet_group[i]->x(), layout.internet_group_tops[i]);
        internet_group[i]->setVisible(layout.internet_group_visible);
    }
    place(r->CheckBox_Autres, r->CheckBox_Autres->x(), layout.autres_top);
    renseignement_->follow_layout_with_tab_order();
}

void Sessions::CheckBox_EmploiClick() {
    apply_survey_layout();
}

void Sessions::CheckBox_InternetClick() {
    apply_survey_layout();
}

void Sessions::start_session() {
    if (operation_.out()) {
        return;
    }
    auto* r = renseignement_->ui();
    struct Start {
        int id_computer;
        int id_user;
        int planned;
        int id_resa;
        std::vector<std::string> answers;
        bool row_opened = false;
    };
    Start start{station_.id_computer, session_.id_user, session_.planned_duration, session_.id_resa, {}};
    for (QCheckBox* box : boxes_in_answer_order(r)) {
        if (box->isChecked()) {
            start.answers.push_back(to_cp1252(box->text()));
        }
    }
    // Started from the survey, or straight from the sign-in when there is none.
    const bool from_survey = !renseignement_->isHidden();
    QWidget* control = from_survey ? static_cast<QWidget*>(r->Bouton_valider)
                                   : identification_->ui()->Identification_bouton_connexion;
    operation_.start<Start>(
        control, std::move(start),
        [](DbLink& link, Start& s) {
            open_session_row(link, s.id_computer, s.id_user, s.planned, s.id_resa);
            s.row_opened = true;
            for (const std::string& answer : s.answers) {
                record_usage_answer(link, answer.c_str(), s.id_user);
            }
        },
        same_screen(window_, from_survey ? renseignement_ : nullptr),
        [this](Start& s, std::exception_ptr error) {
            session_.id_resa = s.id_resa;
            if (error) {
                if (s.row_opened) {
                    keep_session_open(1); // the row was written: a crash must close it
                }
                std::rethrow_exception(error);
            }
            keep_session_open(1);
            begin_counting();
        });
}

void Sessions::begin_counting() {
    auto* r = renseignement_->ui();
    auto* c = compteur_temps_->ui();
    session_.remaining_seconds = static_cast<std::uint32_t>(session_.credit_minutes) * 60u;
    for (QCheckBox* box : boxes_in_answer_order(r)) {
        uncheck_quietly(box);
    }
    session_.elapsed_seconds = 0;
    // The count starts with the timer, the answers written.
    started_ms_ = platform_.monotonic_ms();
    counter_timer_.start();
    window_.apply_window_layout(CounterCorner);
    window_.stop_lockdown();
    platform_.run_command("start c://Windows//explorer.exe");
    identification_->hide();
    renseignement_->hide();
    compteur_temps_->show();
    c->Compteur_Temps_parcouru->show();
    c->Compteur_Bouton_deconnexion->show();
    const int w = window_.widget()->width();
    place(c->Compteur_Temps_parcouru, w / 2 - c->Compteur_Temps_parcouru->width() / 2, 16);
    place(c->Compteur_Bouton_deconnexion, w / 2 - c->Compteur_Bouton_deconnexion->width() / 2, 102);
    window_.set_title(QStringLiteral("Kalimo - Compteur Temps"));
    window_.set_stay_on_top(false);
    clear_warning();
    // A session that starts with five minutes or less is warned from the start.
    show_warning(0);
}

void Sessions::clear_warning() {
    warned_ = false;
    compteur_temps_->set_warning_look(0);
}

void Sessions::show_warning(std::uint32_t seconds_used) {
    const CounterWarning warning =
        counter_warning(session_.status_user, session_.credit_minutes, seconds_used, station_.settings);
    const bool warned = warning != CounterWarning::None;
    if (warned != warned_) {
        warned_ = warned;
        window_.keep_above_without_focus(warned);
    }
    int look = 0;
    if (warning == CounterWarning::Soon) {
        look = 1;
    } else if (warning == CounterWarning::LastMinute) {
        // Once a second: a tick that came early shows the same second and the same look.
        if (seconds_used != blinked_at_) {
            blink_ = !blink_;
            blinked_at_ = seconds_used;
        }
        look = blink_ ? 2 : 1;
    }
    compteur_temps_->set_warning_look(look);
}

void Sessions::Bouton_retourClick() {
    auto* id = identification_->ui();
    window_.show_only(identification_);
    id->Identification_bouton_inscription->setVisible(station_.settings.page_inscription_logiciel == 1);
    id->Identification_labeledit_identifiant->setFocus();
}

void Sessions::Timer1Timer() {
    // While an error box is open the tick that would raise it again waits; the clock keeps the count.
    if (error_box_open() || !counter_timer_.isActive()) {
        return;
    }
    auto* c = compteur_temps_->ui();
    if (!poll_in_flight_) {
        const int id_resa = session_.id_resa;
        poll_in_flight_ = true;
        tick_stopped_ = false;
        worker_.poll_status(session_.id_user, id_resa, session_.polled_status);
        // Run inline, the answer is in: it may have ended the session or this tick.
        if (tick_stopped_ || !counter_timer_.isActive() || session_.id_resa != id_resa) {
            return;
        }
    }
    const std::uint32_t tick = tick_number(platform_.monotonic_ms() - started_ms_);
    switch (counter_tick(session_, station_.settings, tick)) {
    case TickAction::End:
        end_session();
        return;
    case TickAction::Show:
        c->Compteur_Temps_parcouru->setText(from_cp1252(session_.counter_text.str()));
        break;
    case TickAction::Keep:
        break;
    }
    // The time the counter counts as used on this tick: the value before its step.
    show_warning(session_.elapsed_seconds > 0 ? session_.elapsed_seconds - 1 : 0);
    const int w = window_.widget()->width();
    place(c->Compteur_Temps_parcouru, w / 2 - c->Compteur_Temps_parcouru->width() / 2,
          c->Compteur_Temps_parcouru->y());
}

void Sessions::on_status_polled(int id_resa, int polled_status) {
    poll_in_flight_ = false;
    // The answer of a session that has ended since is not this session's.
    if (!counter_timer_.isActive() || id_resa != session_.id_resa) {
        return;
    }
    session_.polled_status = polled_status;
    if (session_.polled_status == 1) {
        tick_stopped_ = true;
        guard(&Sessions::end_session);
    }
}

void Sessions::on_status_unreadable(int id_resa, const QByteArray& value) {
    poll_in_flight_ = false;
    if (!counter_timer_.isActive() || id_resa != session_.id_resa || error_box_open()) {
        return;
    }
    tick_stopped_ = true;
    report_conversion_error(window_.widget(), value.toStdString());
}

void Sessions::end_session() {
    // Asked before the record lets the session go: a station killed in between still has it reset.
    window_.reset_desktop_if_due();
    if (session_.status_user == 1) {
        window_.show_welcome_screen();
        counter_timer_.stop();
        // The time the session lasted by the clock, even when its last ticks came late.
        const std::int64_t lasted = std::clamp<std::int64_t>((platform_.monotonic_ms() - started_ms_) / 1000,
                                                             session_.elapsed_seconds, 0xFFFFFFFFLL);
        session_.elapsed_seconds = session_minutes(static_cast<std::uint32_t>(lasted));
        session_.closing_status = 1;
    } else if (is_staff_status(session_.status_user)) {
        if (session_.staff_on_visitor_station == 0) {
            window_.show_welcome_screen();
        } else {
            window_.show_staff_screen();
        }
        session_.elapsed_seconds = 0;
        session_.closing_status = 2;
    }
    worker_.close_session(PendingClose{static_cast<int>(session_.elapsed_seconds), session_.closing_status,
                                       session_.id_resa, session_.id_user});
    poll_in_flight_ = false;
    clear_warning();
    window_.start_station();
}

void Sessions::Compteur_Bouton_deconnexionClick() {
    end_session();
}

void Sessions::Dconnexion1Click() {
    end_session();
    window_.restore_from_tray();
}
