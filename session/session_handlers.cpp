// Sign-in, the usage survey, the session counter and the end of a session.
#include "app/identification.h"
#include "app/logiciel.h"
#include "app/message_box.h"
#include "fonction/session_queries.h"
#include "fonction/text.h"
#include "session/compteur_temps.h"
#include "session/session_rules.h"
#include "session/renseignement.h"
#include "setup/parametrage.h"
#include "registration/inscription.h"
#include "ui_compteur_temps.h"
#include "ui_identification.h"
#include "ui_renseignement.h"

#include <QCheckBox>
#include <QMenu>
#include <QSystemTrayIcon>

#include <array>
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

} // namespace

void Tlogiciel::connect_session_components() {
    auto* id = identification_->ui();
    auto* r = renseignement_->ui();
    auto* c = compteur_temps_->ui();
    connect(id->Identification_bouton_connexion, &QPushButton::clicked, this,
            [this] { guarded([this] { Identification_bouton_connexionClick(); }); });
    connect(r->Bouton_valider, &QPushButton::clicked, this, [this] { guarded([this] { start_session(); }); });
    connect(r->Bouton_retour, &QPushButton::clicked, this,
            [this] { guarded([this] { Bouton_retourClick(); }); });
    connect(r->CheckBox_Emploi, &QCheckBox::clicked, this,
            [this] { guarded([this] { CheckBox_EmploiClick(); }); });
    connect(r->CheckBox_Internet, &QCheckBox::clicked, this,
            [this] { guarded([this] { CheckBox_InternetClick(); }); });
    connect(c->Compteur_Bouton_deconnexion, &QPushButton::clicked, this,
            [this] { guarded([this] { Compteur_Bouton_deconnexionClick(); }); });
    connect(Dconnexion1, &QAction::triggered, this, [this] { guarded([this] { Dconnexion1Click(); }); });
    // Where there is no notification area the same menu opens from the window itself.
    setContextMenuPolicy(Qt::CustomContextMenu);
    connect(this, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        if (staff_session_open(session)) {
            PopupMenu1->popup(mapToGlobal(at));
        }
    });
}

void Tlogiciel::Identification_bouton_connexionClick() {
    auto* id = identification_->ui();
    session.lookup_outcome = 0;
    const QString password = id->Identification_labeledit_mot_de_passe->text();
    const QString login = id->Identification_labeledit_identifiant->text();
    auto clear_fields = [&] {
        id->Identification_labeledit_identifiant->clear();
        id->Identification_labeledit_mot_de_passe->clear();
    };
    auto refuse = [&](const QString& message) {
        show_message(this, message);
        session.lookup_outcome = 0;
        clear_fields();
        id->Identification_labeledit_identifiant->setFocus();
    };

    // Accounts are stored in the stations' code page: a text with characters outside it cannot be
    // any account's, and must not be folded into one that is. Nor can a login holding a NUL, which
    // would end it early and name the account of its first part.
    if (encodable_in_cp1252(login) && encodable_in_cp1252(password) && !login.contains(QChar(0))) {
        const std::string digest = password_digest(to_cp1252(password));
        try {
            lookup_account(link, to_cp1252(login).c_str(), digest.c_str(), session.id_user,
                           session.status_user, session.lookup_outcome);
        } catch (...) {
            session.lookup_outcome = 0;
            clear_fields();
            throw;
        }
    }

    switch (route_sign_in(session.lookup_outcome, station.staff_screen, session.status_user,
                          station.setup_required)) {
    case SignInRoute::Incorrect:
        refuse(QStringLiteral("Identifiant ou mot de passe incorrect"));
        return;
    case SignInRoute::AlreadySignedIn:
        refuse(QStringLiteral("Vous êtes déjà connecté sur un poste"));
        return;
    case SignInRoute::NotAllowedHere:
        refuse(QStringLiteral("pas d'autorisation pour se connecter sur ce poste"));
        return;
    case SignInRoute::Locked:
        refuse(QStringLiteral("Compte vérouillé"));
        return;
    case SignInRoute::StaffToSetUp:
        // No session row: the staff member came to set the station up.
        session.lookup_outcome = 0;
        station.staff_screen = 0;
        clear_fields();
        apply_window_layout(Windowed);
        setWindowTitle(QStringLiteral("Kalimo - Paramétrage"));
        identification_->hide();
        renseignement_->hide();
        inscription_->hide();
        compteur_temps_->hide();
        parametrage_->show();
        fill_setup_screen();
        return;
    case SignInRoute::StaffSession:
        session.lookup_outcome = 0;
        station.staff_screen = 0;
        clear_fields();
        open_session_row(link, station.id_computer, session.id_user, session.planned_duration,
                         session.id_resa);
        minimise_to_tray();
        return;
    case SignInRoute::StaffOnVisitorStation:
        set_stay_on_top(false);
        Timer_premier_plan_application.stop();
        platform().run_command("start c://Windows//explorer.exe");
        session.staff_on_visitor_station = 1;
        clear_fields();
        session.lookup_outcome = 0;
        session.planned_duration = 999;
        open_session_row(link, station.id_computer, session.id_user, session.planned_duration,
                         session.id_resa);
        minimise_to_tray();
        return;
    case SignInRoute::Visitor:
        try {
            compute_credit(link, session.id_user, session.credit_minutes);
        } catch (...) {
            session.lookup_outcome = 0;
            clear_fields();
            throw;
        }
        if (session.credit_minutes <= 0) {
            refuse(QStringLiteral("Crédit temps épuisé"));
            return;
        }
        identification_->hide();
        if (station.settings.page_renseignement_logiciel == 1) {
            present_survey();
        } else {
            renseignement_->hide();
            start_session();
        }
        clear_fields();
        session.lookup_outcome = 0;
        return;
    case SignInRoute::Ignored:
        session.lookup_outcome = 0;
        return;
    }
}

void Tlogiciel::present_survey() {
    auto* r = renseignement_->ui();
    renseignement_->show();
    for (QCheckBox* box : boxes_in_answer_order(r)) {
        box->setChecked(false);
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
}

void Tlogiciel::apply_survey_layout() {
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
}

void Tlogiciel::CheckBox_EmploiClick() {
    apply_survey_layout();
}

void Tlogiciel::CheckBox_InternetClick() {
    apply_survey_layout();
}

void Tlogiciel::start_session() {
    auto* r = renseignement_->ui();
    auto* c = compteur_temps_->ui();
    open_session_row(link, station.id_computer, session.id_user, session.planned_duration, session.id_resa);
    session.remaining_seconds = static_cast<std::uint32_t>(session.credit_minutes) * 60u;
    for (QCheckBox* box : boxes_in_answer_order(r)) {
        if (box->isChecked()) {
            record_usage_answer(link, to_cp1252(box->text()).c_str(), session.id_user);
            box->setChecked(false);
        }
    }
    session.elapsed_seconds = 0;
    Timer1.start();
    apply_window_layout(CounterCorner);
    Timer_premier_plan_application.stop();
    platform().run_command("start c://Windows//explorer.exe");
    renseignement_->hide();
    compteur_temps_->show();
    c->Compteur_Temps_parcouru->show();
    c->Compteur_Bouton_deconnexion->show();
    const int w = width();
    place(c->Compteur_Temps_parcouru, w / 2 - c->Compteur_Temps_parcouru->width() / 2, 16);
    place(c->Compteur_Bouton_deconnexion, w / 2 - c->Compteur_Bouton_deconnexion->width() / 2, 102);
    setWindowTitle(QStringLiteral("Kalimo - Compteur Temps"));
    set_stay_on_top(false);
}

void Tlogiciel::Bouton_retourClick() {
    auto* id = identification_->ui();
    identification_->show();
    renseignement_->hide();
    inscription_->hide();
    compteur_temps_->hide();
    id->Identification_bouton_inscription->setVisible(station.settings.page_inscription_logiciel == 1);
    id->Identification_labeledit_identifiant->setFocus();
}

void Tlogiciel::Timer1Timer() {
    auto* c = compteur_temps_->ui();
    poll_session_status(link, session.id_user, session.id_resa, session.polled_status);
    if (session.polled_status == 1) {
        end_session();
        return;
    }
    switch (counter_tick(session, station.settings)) {
    case TickAction::End:
        end_session();
        return;
    case TickAction::Show:
        c->Compteur_Temps_parcouru->setText(from_cp1252(session.counter_text.str()));
        break;
    case TickAction::Keep:
        break;
    }
    const int w = width();
    place(c->Compteur_Temps_parcouru, w / 2 - c->Compteur_Temps_parcouru->width() / 2,
          c->Compteur_Temps_parcouru->y());
}

void Tlogiciel::end_session() {
    if (session.status_user == 1) {
        show_welcome_screen();
        Timer1.stop();
        session.elapsed_seconds = session_minutes(session.elapsed_seconds);
        session.closing_status = 1;
    } else if (is_staff_status(session.status_user)) {
        if (session.staff_on_visitor_station == 0) {
            show_welcome_screen();
        } else {
            show_staff_screen();
        }
        session.elapsed_seconds = 0;
        session.closing_status = 2;
    }
    close_session_or_retry_later(static_cast<int>(session.elapsed_seconds), session.closing_status,
                                 session.id_resa);
    start_station();
}

void Tlogiciel::close_session_or_retry_later(int duration_minutes, int closing_status, int id_resa) {
    if (!close_session_row(link, duration_minutes, closing_status, id_resa) && id_resa > 0) {
        pending_closes.push_back(PendingClose{duration_minutes, closing_status, id_resa});
    }
}

void Tlogiciel::retry_pending_closes() {
    std::vector<PendingClose> still_pending;
    for (const PendingClose& close : pending_closes) {
        if (!close_session_row(link, close.duration_minutes, close.closing_status, close.id_resa)) {
            still_pending.push_back(close);
        }
    }
    pending_closes.swap(still_pending);
}

void Tlogiciel::Compteur_Bouton_deconnexionClick() {
    end_session();
}

void Tlogiciel::Dconnexion1Click() {
    end_session();
    restore_from_tray();
}

void Tlogiciel::minimise_to_tray() {
    if (tray_available) {
        // Only the notification-area icon remains; its menu brings the station back.
        hide();
        return;
    }
    // No notification area: a small window in the corner keeps the way back. Its button ends the
    // staff session and the same menu opens from the window.
    auto* c = compteur_temps_->ui();
    show_only(compteur_temps_);
    apply_window_layout(CounterCorner);
    set_stay_on_top(false);
    c->Compteur_Temps_parcouru->hide();
    const int w = width();
    place(c->Compteur_Bouton_deconnexion, w / 2 - c->Compteur_Bouton_deconnexion->width() / 2, 102);
    setWindowTitle(QStringLiteral("Kalimo - Animateur"));
    show();
}

void Tlogiciel::restore_from_tray() {
    showNormal();
    raise();
    activateWindow();
}
