#include "app/lockdown.h"

#include "session/identification.h"
#include "session/sessions.h"
#include "app/logiciel.h"
#include "registration/inscription.h"
#include "session/compteur_temps.h"
#include "session/renseignement.h"
#include "setup/parametrage.h"
#include "window/message_box.h"
#include "ui_identification.h"

void Tlogiciel::Timer_premier_plan_applicationTimer() {
    set_stay_on_top(true);
    raise();
    kill_shell_processes(platform_);
}

void Tlogiciel::Identification_labeledit_identifiantKeyDown(int key, Qt::KeyboardModifiers modifiers) {
    auto* id = identification()->ui();
    const Qt::KeyboardModifiers chord = Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier;
    const bool reveal =
        station.settings.config_menu_logiciel == 1 && (modifiers & chord) == chord && key == Qt::Key_Up;
    id->Identification_bouton_arret_poste->setVisible(reveal);
    id->Identification_bouton_redemarrer_poste->setVisible(reveal);
    id->Identification_bouton_fermer_session->setVisible(reveal);
    id->Identification_bouton_quitter_logiciel->setVisible(reveal);
}

void Tlogiciel::Identification_labeledit_mot_de_passeKeyPress(int character) {
    if (character == 13) {
        sessions_->Identification_bouton_connexionClick();
    }
}

int Tlogiciel::FormKeyPress(int character) {
    return character == 17 ? 0 : character; // 17 is what Ctrl+Q types
}

void Tlogiciel::Identification_bouton_quitter_logicielClick() {
    platform_.run_command("start c://Windows//explorer.exe");
    set_stay_on_top(false);
    Timer_premier_plan_application.stop();
    station.close_allowed = 1;
    close();
}

void Tlogiciel::Identification_bouton_arret_posteClick() {
    platform_.run_command("shutdown /s /f");
}

void Tlogiciel::Identification_bouton_redemarrer_posteClick() {
    platform_.run_command("shutdown /r /f");
}

void Tlogiciel::Identification_bouton_fermer_sessionClick() {
    platform_.run_command("shutdown /l /f");
}

void Tlogiciel::Timer3Timer() {
    // The beat raises no box of its own, so it goes on under one: the room keeps seeing the station,
    // the waiting closes are sent. One beat at a time: while the worker waits on a silent server the
    // next beats are not queued.
    if (beat_in_flight_) {
        return;
    }
    beat_in_flight_ = true;
    worker_->beat(station.id_computer);
}

void Tlogiciel::on_beat_done(bool server_answered) {
    beat_in_flight_ = false;
    // The station identifies itself again once the server answers, but never takes a person out of
    // the survey, the registration form or a session to do it.
    if (server_answered && awaiting_server && idle_on_welcome_screen() && !box_open()) {
        guard(&Tlogiciel::start_station);
    }
}

void Tlogiciel::identify_if_awaiting_server() {
    // Someone signs in on a station still waiting for its server: it identifies itself first, so the
    // session opens on its computer record with its space's settings, or is refused as unconnected.
    if (awaiting_server) {
        start_station();
    }
}

bool Tlogiciel::idle_on_welcome_screen() const {
    return !identification()->isHidden() && renseignement()->isHidden() && inscription()->isHidden() &&
           compteur_temps()->isHidden() && parametrage()->isHidden() && session.id_resa == 0 &&
           !Timer1.isActive();
}

void Tlogiciel::Timer2Timer() {}
