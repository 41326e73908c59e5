// What a screen of the station may ask of the main window: the window alone shows and hides panels,
// sets its layout and stacking, runs the start-up sequence and goes to the notification area. The
// screens are given this interface, never the window itself, so calls go one way.
#pragma once

class QString;
class QWidget;
struct ProcessClock;

enum WindowLayout { FullScreen = 1, Windowed = 2, CounterCorner = 3 };

class StationWindow {
  public:
    // The window itself: the parent of message boxes; its width centres the counter's controls.
    virtual QWidget* widget() = 0;

    virtual void apply_window_layout(int layout) = 0;
    virtual void set_stay_on_top(bool on_top) = 0;
    // Above every other window without ever taking the keyboard from the one the person types in (the
    // counter as the credit ends); off again with the next start_station.
    virtual void keep_above_without_focus(bool on) = 0;
    virtual void set_title(const QString& title) = 0;
    // Hides every panel but this one and shows it (nullptr hides all five).
    virtual void show_only(QWidget* panel) = 0;

    virtual void start_station() = 0;
    // How many times start_station has run: an answer asked for before the last one is for a screen
    // that is gone.
    virtual unsigned starts() const = 0;
    // A station waiting for its server identifies itself again before anyone signs in on it.
    virtual void identify_if_awaiting_server() = 0;
    // A session opened at `opened` on this visitor station: when it ends, the next start has the
    // desktop reset before anyone signs in again.
    virtual void desktop_session_opened(const ProcessClock& opened) = 0;
    // The session whose opening desktop_session_opened gave is ending: the guard is asked to reset its
    // desktop now, before the record lets go of it (start_station asks too, for an earlier run's).
    virtual void reset_desktop_if_due() = 0;
    // The desktop of the last session is being reset (or could not be): nobody signs in meanwhile.
    virtual bool desktop_being_reset() const = 0;
    virtual void show_welcome_screen() = 0;
    virtual void show_staff_screen() = 0;
    virtual void show_setup_screen() = 0;
    // The login panel again, the identifier field ready for typing; its fields emptied on request.
    virtual void show_login() = 0;
    virtual void clear_login() = 0;
    // Ends the lock-down that keeps the window on top and the shell ended.
    virtual void stop_lockdown() = 0;

    virtual void minimise_to_tray() = 0;
    virtual void restore_from_tray() = 0;

    // Allows the window to close and closes it, which ends the program.
    virtual void quit() = 0;

  protected:
    ~StationWindow() = default;
};
