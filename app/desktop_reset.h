// The desktop after a session on a visitor station: the guard resets the desktop's account (the
// visitor's programs ended, the home put back, the temporary files removed) and meanwhile the
// station stays locked and refuses sign-in, as while it waits for its server. A reset that does
// not finish within its bound keeps it so, says so for staff, and is asked again. Without a guard the
// station carries on and says once in its output that nothing was reset.
#pragma once

#include "platform/platform.h"

#include <QObject>
#include <QTimer>

#include <cstdint>

class DesktopReset : public QObject {
    Q_OBJECT

  public:
    // How long a reset may take before the station says it failed, and how long it waits before
    // asking again after a failure.
    static constexpr std::int64_t bound_ms = 15000;

    explicit DesktopReset(Platform& platform);

    // The session that opened at `opened` has ended: its desktop is reset before anyone signs in.
    void ask(const ProcessClock& opened);
    // Sign-in waits: a reset is under way, or failed.
    bool holding() const { return state_ != State::Idle; }
    bool failed() const { return state_ == State::Failed; }
    // One look at the guard's answer; `poll_timer` runs it while the reset holds the station.
    void poll();
    QTimer poll_timer; // 100 ms

  signals:
    // holding() or failed() changed.
    void changed();

  private:
    enum class State { Idle, Waiting, Failed };
    void become(State state);

    Platform& platform_;
    State state_ = State::Idle;
    ProcessClock opened_;
    std::int64_t asked_ms_ = 0;
    bool said_unreset_ = false;
};
