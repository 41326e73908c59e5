#include "app/lockdown.h"

#include "session/identification.h"
#include "session/sessions.h"
#include "app/logiciel.h"
#include "fonction/station_queries.h"
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
    // The beat's own connection tells whether the server answers; while it does not, nothing else is
    // tried this tick (each attempt may wait out the connect bound on the window's thread).
    if (!report_station_alive(link, station.id_computer)) {
        return;
    }
    if (!pending_closes.empty()) {
        retry_pending_closes();
    }
    // Nobody is in a session while the welcome screen waits for the server.
    if (awaiting_server && session.id_resa == 0 && !Timer1.isActive()) {
        start_station();
    }
}

void Tlogiciel::Timer2Timer() {}
