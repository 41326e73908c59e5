// A person's session on the station: the sign-in of the login panel, the usage survey, the session
// counter and every way a session ends. It owns the three panels it reads (login, survey, counter).
#pragma once

#include "fonction/db_link.h"
#include "fonction/records.h"
#include "platform/platform.h"
#include "window/server_operation.h"

#include <QObject>

#include <cstdint>
#include <functional>

class Compteur_temps;
class Identification;
class Platform;
class QByteArray;
class QString;
class QTimer;
class QWidget;
class Renseignement;
class StationWindow;
class StationWorker;

class Sessions : public QObject {
    Q_OBJECT

  public:
    // `counter_timer` is the window's Timer1; `worker` runs the status poll and keeps the session's
    // record and closes; `panels_parent` receives the three panels.
    Sessions(StationWindow& window, Platform& platform, StationState& station, SessionState& session,
             QTimer& counter_timer, StationWorker& worker, QWidget* panels_parent);

    Identification* identification() const { return identification_; }
    Renseignement* renseignement() const { return renseignement_; }
    Compteur_temps* compteur_temps() const { return compteur_temps_; }

    void Identification_bouton_connexionClick();
    // Runs `act` only for a staff account (status 3 or 4) whose identifier and password stand in the
    // sign-in fields, looked up as the sign-in looks them up; anything else, an unreachable server
    // included, is refused as a wrong sign-in is. The fields are emptied either way.
    void act_for_staff(QWidget* control, std::function<void()> act);
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
    // A session row was opened: the worker keeps it in the record until it is closed.
    void keep_session_open(int closing_status);
    // The session's opening, taken once before its desktop is handed over (the guard resets what the
    // session started when it ends); none for a session that resets nothing.
    ProcessClock take_opening();
    // The sign-in's answer, on the window's thread: the account's route.
    void route_sign_in_answer();
    void clear_sign_in_fields();
    void refuse_sign_in(const QString& message);
    // Opens the session row of a staff sign-in on the worker, then keeps it and goes on with `then`.
    void open_row_then(QWidget* control, int closing_status, std::function<void()> then);
    // The session's row and answers are written: the counter starts and the lock ends.
    void begin_counting();
    // The counter's warning for the time it counts as used: above the other windows and a changed
    // look as the credit ends, for a session that will end by itself.
    void show_warning(std::uint32_t seconds_used);
    void clear_warning();
    void on_status_polled(int id_resa, int polled_status);
    void on_status_unreadable(int id_resa, const QByteArray& value);

    StationWindow& window_;
    Platform& platform_;
    StationState& station_;
    SessionState& session_;
    QTimer& counter_timer_;
    StationWorker& worker_;
    // The monotonic clock when the visitor's session started: the counter, the automatic logout and
    // the recorded duration follow it, however late the ticks come.
    std::int64_t started_ms_ = 0;
    ProcessClock opening_;
    // A poll is on its way: the next tick asks again only once it is answered.
    bool poll_in_flight_ = false;
    // The current tick's poll ended it (the status could not be read).
    bool tick_stopped_ = false;
    // The counter is kept above the other windows; in the last minute its look blinks tick by tick.
    bool warned_ = false;
    bool blink_ = false;
    std::uint32_t blinked_at_ = 0;
    Identification* identification_;
    Renseignement* renseignement_;
    Compteur_temps* compteur_temps_;
    // The sign-in and the session's start, out on the worker one at a time.
    ServerOperation operation_;
};
