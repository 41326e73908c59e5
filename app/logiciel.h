// The station's only window. It owns the records, the timers, the notification icon and its menu,
// and the screen operations; each panel's widgets live in the panel's own class, and the handlers
// of each subsystem are defined in that subsystem's folder.
#pragma once

#include "fonction/db_link.h"
#include "fonction/records.h"

#include <QMainWindow>
#include <QTimer>
#include <functional>
#include <memory>
#include <vector>

class QAction;
class QMenu;
class QSystemTrayIcon;
class Identification;
class Renseignement;
class Compteur_temps;
class Inscription;
class Parametrage;
namespace Ui {
class Tlogiciel;
}

enum WindowLayout { FullScreen = 1, Windowed = 2, CounterCorner = 3 };

class Tlogiciel : public QMainWindow {
    Q_OBJECT

  public:
    explicit Tlogiciel(QWidget* parent = nullptr);
    ~Tlogiciel() override;

    // Records owned for the window's whole life, reset in place by start_station.
    DbLink link;
    StationState station;
    SessionState session;
    StationConfig config;

    // The panels and the non-visual components.
    Identification* identification() const { return identification_; }
    Renseignement* renseignement() const { return renseignement_; }
    Compteur_temps* compteur_temps() const { return compteur_temps_; }
    Inscription* inscription() const { return inscription_; }
    Parametrage* parametrage() const { return parametrage_; }
    QTimer Timer1;
    QTimer Timer2;
    QTimer Timer3;
    QTimer Timer_premier_plan_application;
    QSystemTrayIcon* TrayIcon1 = nullptr;
    QMenu* PopupMenu1 = nullptr;
    QAction* Paramtres1 = nullptr;
    QAction* Dconnexion1 = nullptr;
    // Whether the desktop has a notification area for TrayIcon1; without one a staff session keeps a
    // small corner window instead of vanishing.
    bool tray_available = false;

    // Session closes the server did not take (it was briefly gone); each heartbeat sends them
    // again, unchanged, until it does. Without this the row would stay open and the person would
    // be refused on every station.
    struct PendingClose {
        int duration_minutes;
        int closing_status;
        int id_resa;
    };
    std::vector<PendingClose> pending_closes;
    void retry_pending_closes();
    // close_session_row, keeping the close for the next heartbeat when the server refuses it.
    void close_session_or_retry_later(int duration_minutes, int closing_status, int id_resa);

    // A visitor station that lost its server stays locked on its welcome screen rather than offering
    // the set-up screen, which can be closed; each heartbeat tries the server and identifies the
    // station again once it answers.
    bool awaiting_server = false;

    // Start-up and screens.
    void FormCreate();
    void start_station();
    void route_unidentified_station();
    void apply_window_layout(int layout);
    void show_welcome_screen();
    void show_staff_screen();
    void show_staff_setup_login();
    void show_setup_screen();
    // FormStyle: stay-on-top (locked station) or normal.
    void set_stay_on_top(bool on_top);
    bool stays_on_top() const { return stay_on_top_; }
    bool frameless() const { return frameless_; }
    // Hides every panel but the one given (nullptr hides all five).
    void show_only(QWidget* panel);

    // Lock-down, power actions, heartbeat.
    void Timer_premier_plan_applicationTimer();
    void Identification_labeledit_identifiantKeyDown(int key, Qt::KeyboardModifiers modifiers);
    void Identification_labeledit_mot_de_passeKeyPress(int character);
    // Returns the character to pass on (0 when discarded).
    int FormKeyPress(int character);
    void Identification_bouton_quitter_logicielClick();
    void Identification_bouton_arret_posteClick();
    void Identification_bouton_redemarrer_posteClick();
    void Identification_bouton_fermer_sessionClick();
    void Timer3Timer();
    void Timer2Timer();

    // Sign-in, survey, session counter and logout.
    void Identification_bouton_connexionClick();
    void start_session(); // Bouton_validerClick
    void Bouton_retourClick();
    void present_survey();
    void apply_survey_layout();
    void CheckBox_EmploiClick();
    void CheckBox_InternetClick();
    void Timer1Timer();
    void end_session();
    void Compteur_Bouton_deconnexionClick();
    void Dconnexion1Click();
    void minimise_to_tray();
    void restore_from_tray();

    // Set-up screen.
    void Paramtres1Click();
    void fill_setup_screen();
    void Parametrage_combobox_nom_posteChange();
    void Parametrage_bouton_actualiser_nom_posteClick();
    void Parametrage_bouton_aide_adresse_macClick();
    void Bouton_valider_parametrageClick();
    void Bouton_retour_parametrageClick();

    // Self-registration.
    void Identification_bouton_inscriptionClick();
    void Inscription_ComboBox_villeChange();
    void Bouton_valider_inscriptionClick();
    void reset_registration_form(); // Bouton_retour_inscriptionClick

    // Runs a handler; a database value that is not an integer is reported and ends the handler.
    void guarded(const std::function<void()>& handler);

  protected:
    void closeEvent(QCloseEvent* event) override; // FormCloseQuery
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void connect_components();
    void connect_session_components();
    void connect_setup_components();
    void connect_registration_components();
    void apply_window_flags();
    void show_staff_login(bool before_setup);

    std::unique_ptr<Ui::Tlogiciel> ui_;
    Identification* identification_ = nullptr;
    Renseignement* renseignement_ = nullptr;
    Compteur_temps* compteur_temps_ = nullptr;
    Inscription* inscription_ = nullptr;
    Parametrage* parametrage_ = nullptr;
    bool stay_on_top_ = true;
    bool frameless_ = false;
};

// The one instance, set while it exists.
extern Tlogiciel* logiciel;
