// The station's only window, the coordinator of its screens. It owns the records, the timers, the
// notification icon and its menu, the window layouts and screen operations, start_station, the
// lock-down, the power buttons and the heartbeat. Each subsystem's behaviour lives in its own class,
// which the window creates and wires and which reaches the window only through StationWindow.
#pragma once

#include "fonction/db_link.h"
#include "fonction/records.h"
#include "fonction/station_worker.h"
#include "window/station_window.h"

#include <QMainWindow>
#include <QTimer>
#include <exception>
#include <string>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class Compteur_temps;
class DesktopReset;
class Identification;
class Inscription;
class Parametrage;
class Platform;
class QAction;
class QMenu;
class QSystemTrayIcon;
class RoomView;
class SelfRegistration;
class ServerOperation;
class Renseignement;
class Sessions;
class StationSetup;
namespace Ui {
class Tlogiciel;
}

// Tells when a popup window of the application (a list's drop-down, a menu) closes.
class PopupWatch : public QObject {
  public:
    explicit PopupWatch(std::function<void()> closed) : closed_(std::move(closed)) {}

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    std::function<void()> closed_;
};

class Tlogiciel : public QMainWindow, public StationWindow {
    Q_OBJECT

  public:
    // The timers' database work runs on a worker thread; tests may run it inline.
    explicit Tlogiciel(WorkerMode worker_mode = WorkerMode::Thread, QWidget* parent = nullptr);
    ~Tlogiciel() override;

    // Records owned for the window's whole life, reset in place by start_station.
    ServerHealth server_health;
    StationState station;
    SessionState session;
    StationConfig config;

    // The worker, the subsystems and their panels.
    StationWorker& worker() const { return *worker_; }
    DesktopReset& desktop_reset() const { return *desktop_reset_; }
    Sessions& sessions() const { return *sessions_; }
    StationSetup& setup() const { return *setup_; }
    SelfRegistration& registration() const { return *registration_; }
    RoomView& room() const { return *room_; }
    Identification* identification() const;
    Renseignement* renseignement() const;
    Compteur_temps* compteur_temps() const;
    Inscription* inscription() const;
    Parametrage* parametrage() const;

    // The non-visual components.
    QTimer Timer1;
    QTimer Timer2;
    QTimer Timer3;
    QTimer Timer_premier_plan_application;
    QSystemTrayIcon* TrayIcon1 = nullptr;
    QMenu* PopupMenu1 = nullptr;
    QAction* Salle1 = nullptr; // the room view, for a staff session on a staff station
    QAction* Paramtres1 = nullptr;
    QAction* Dconnexion1 = nullptr;
    // A station that was set up and cannot reach its server stays locked on its welcome screen rather
    // than offering the set-up screen, which can be closed; it identifies itself again at the first
    // heartbeat that reaches the server, once nobody is using it.
    bool awaiting_server = false;

    // Start-up and screens.
    void FormCreate();
    void start_station() override;
    unsigned starts() const override { return starts_; }
    void identify_if_awaiting_server() override;
    void desktop_session_opened(const ProcessClock& opened) override;
    void reset_desktop_if_due() override;
    bool desktop_being_reset() const override;
    // What the station's identification brings back from the server (a copy of the station's record,
    // read on the worker), and how far it went.
    struct SpaceMessage {
        std::string space;
        std::string text;
        int visible = 0;
    };
    struct Identity {
        StationState state;
        FixedText<20> mac;
        bool file_found = false;
        bool name_read = false;
        bool settings_read = false;
        bool usage_read = false;
        bool welcome = false; // it leads to the welcome screen, which shows `message`
        SpaceMessage message;
        // The welcome screen shown while it was out (the worker on its thread) changed these; an
        // answer that leads elsewhere puts them back as they were.
        bool lock_was_running = false;
        bool group_was_enabled = true;
        int layout_was = 0;
        QRect geometry_was;
        bool frameless_was = false;
        QString title_was;
    };
    void route_unidentified_station(Identity& who);
    void apply_window_layout(int layout) override;
    void show_welcome_screen() override;
    void show_staff_screen() override;
    void show_staff_setup_login();
    void show_setup_screen() override;
    // FormStyle: stay-on-top (locked station) or normal.
    void set_stay_on_top(bool on_top) override;
    void keep_above_without_focus(bool on) override;
    bool takes_focus() const { return !no_focus_; }
    bool stays_on_top() const { return stay_on_top_; }
    bool frameless() const { return frameless_; }
    void show_only(QWidget* panel) override;

    // What the screens ask of the window.
    QWidget* widget() override { return this; }
    void set_title(const QString& title) override;
    void show_login() override;
    void clear_login() override;
    void stop_lockdown() override;
    void minimise_to_tray() override;
    void restore_from_tray() override;
    void quit() override;

    // Lock-down, power actions, heartbeat.
    void Timer_premier_plan_applicationTimer();
    // The full-screen welcome screen (or the survey or registration form over it) is up: every
    // screen is covered and the keyboard is the station's.
    bool locked() const;
    // The blank windows over the screens other than the primary one, while locked.
    const std::vector<std::unique_ptr<QWidget>>& screen_covers() const { return covers_; }
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

  protected:
    void closeEvent(QCloseEvent* event) override; // FormCloseQuery
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // Where the welcome screen's staff message comes from: asked of the server, given by the
    // identification, or kept as it is (the lock shown while the identification is out).
    enum class WelcomeMessage { Ask, Given, Keep };
    void show_welcome(WelcomeMessage from, const SpaceMessage* given);
    void apply_space_message(const SpaceMessage& message);
    void show_not_lockable();
    // The welcome screen says for staff that the last session's desktop could not be reset, or shows
    // its space's message again once it was.
    void show_reset_state();
    // The identification's queries, on the worker; its outcome, on the window's thread.
    static void identify(DbLink& link, Identity& who);
    void apply_identity(Identity& who, std::exception_ptr error);
    void connect_components();
    void guard(void (Tlogiciel::*handler)());
    void apply_window_flags();
    // The window takes the keyboard (the locked station, the screens) or never does (the warned counter).
    void refuse_focus(bool refuse);
    void show_staff_login(bool before_setup);
    // While locked: puts the window back over the primary screen and on top when another program
    // unmapped, minimised, moved or shrank it, covers the other screens and takes the keyboard;
    // changes nothing where nothing changed.
    void hold_lock();
    void put_lock_back();
    // The window system says the window on top of all is not one of the station's.
    bool another_program_on_top();
    void cover_other_screens();
    void hold_keyboard();
    // Ends what hold_lock holds: the covers and the keyboard.
    void release_lock();
    void on_beat_done(bool server_answered);
    // Nobody is signed in and the welcome screen is up: no survey, no registration form, no counter.
    bool idle_on_welcome_screen() const;
    // A staff session is open on this staff station: the room view may be opened.
    bool room_view_allowed() const;

    std::unique_ptr<Ui::Tlogiciel> ui_;
    Platform& platform_;
    std::unique_ptr<StationWorker> worker_;
    std::unique_ptr<DesktopReset> desktop_reset_;
    // The opening of the session whose end the next start resets the desktop of.
    std::optional<ProcessClock> reset_due_;
    // The space's message the welcome screen shows, for when the reset's failure no longer covers it.
    SpaceMessage space_message_;
    std::unique_ptr<ServerOperation> identity_;
    std::unique_ptr<Sessions> sessions_;
    std::unique_ptr<StationSetup> setup_;
    std::unique_ptr<SelfRegistration> registration_;
    std::unique_ptr<RoomView> room_;
    bool stay_on_top_ = true;
    bool frameless_ = false;
    bool no_focus_ = false;
    // The station file names one of this computer's adapters: the station was set up.
    bool station_file_found_ = false;
    bool beat_in_flight_ = false;
    int layout_ = 0;
    unsigned starts_ = 0;
    int keyboard_retries_ = 0;
    std::vector<std::unique_ptr<QWidget>> covers_;
    std::unique_ptr<PopupWatch> popup_watch_;
};

// The one instance, set while it exists.
extern Tlogiciel* logiciel;
