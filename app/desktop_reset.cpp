#include "app/desktop_reset.h"

#include <cstdio>

DesktopReset::DesktopReset(Platform& platform) : platform_(platform) {
    poll_timer.setObjectName(QStringLiteral("Timer_remise_a_zero"));
    poll_timer.setInterval(100);
    connect(&poll_timer, &QTimer::timeout, this, &DesktopReset::poll);
}

void DesktopReset::ask(const ProcessClock& opened) {
    opened_ = opened;
    asked_ms_ = platform_.monotonic_ms();
    if (platform_.ask_reset(opened) == ResetProgress::NoGuard) {
        if (!said_unreset_) {
            said_unreset_ = true;
            std::fprintf(stderr,
                         "kalimo: no guard watches this station: nothing of the last session was reset\n");
        }
        become(State::Idle);
        return;
    }
    become(State::Waiting);
    poll(); // a guard with nothing to do may have answered already
}

void DesktopReset::poll() {
    const std::int64_t waited = platform_.monotonic_ms() - asked_ms_;
    if (state_ == State::Failed) {
        if (waited >= bound_ms) {
            ask(opened_); // a failure may pass: a program that would not end, a file system busy
        }
        return;
    }
    switch (platform_.reset_progress()) {
    case ResetProgress::Done:
        become(State::Idle);
        return;
    case ResetProgress::Failed:
        asked_ms_ = platform_.monotonic_ms();
        become(State::Failed);
        return;
    case ResetProgress::NoGuard:
    case ResetProgress::Waiting:
        if (state_ == State::Waiting && waited >= bound_ms) {
            asked_ms_ = platform_.monotonic_ms();
            become(State::Failed);
        }
        return;
    }
}

void DesktopReset::become(State state) {
    const bool changed_state = state != state_;
    state_ = state;
    if (state_ == State::Idle) {
        poll_timer.stop();
    } else if (!poll_timer.isActive()) {
        poll_timer.start();
    }
    if (changed_state) {
        emit changed();
    }
}
