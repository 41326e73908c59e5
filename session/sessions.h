// A person's session on the station: the sign-in of the login panel, the usage survey, the session
// counter and every way a session ends. It owns the three panels it reads (login, survey, counter).
#pragma once

#include "fonction/db_link.h"
#include "fonction/records.h"

#include <QObject>

class Compteur_temps;
class Identification;
class Platform;
class QTimer;
class QWidget;
class Renseignement;
class StationWindow;

class Sessions : public QObject {
    Q_OBJECT

  public:
    // `counter_timer` is the window's Timer1; `panels_parent` receives the three panels.
    Sessions(StationWindow& window, Platform& platform, DbLink& link, StationState& station,
             SessionState& session, QTimer& counter_timer, QWidget* panels_parent);

    Identification* identification() const { return identification_; }
    Renseignement* renseignement() const { return renseignement_; }
    Compteur_temps* compteur_temps() const { return compteur_temps_; }

    void Identification_bouton_connexionClick();
    void present_survey();
    void apply_survey_layout();
    void CheckBox_EmploiClick();
    void CheckBox_InternetClick();
    void start_session(); // Bouton_validerClick
    void Bouton_retourClick();
    void Timer1Timer();
    void end_session();
    void Compteur_Bouton_deconnexionClick();
    void Dconnexion1Click();

  private:
    void connect_components();
    void guard(void (Sessions::*handler)());

    StationWindow& window_;
    Platform& platform_;
    DbLink& link_;
    StationState& station_;
    SessionState& session_;
    QTimer& counter_timer_;
    Identification* identification_;
    Renseignement* renseignement_;
    Compteur_temps* compteur_temps_;
};
