#include "session/session_rules.h"

#include "session/counter_text.h"

SignInRoute route_sign_in(int lookup_outcome, int staff_screen, int status_user, int setup_required) {
    if (lookup_outcome == 0) {
        return SignInRoute::Incorrect;
    }
    if (lookup_outcome == 2) {
        return SignInRoute::AlreadySignedIn;
    }
    if (staff_screen == 1) {
        if (!is_staff_status(status_user)) {
            return SignInRoute::NotAllowedHere;
        }
        return setup_required == 1 ? SignInRoute::StaffToSetUp : SignInRoute::StaffSession;
    }
    if (is_staff_status(status_user)) {
        return SignInRoute::StaffOnVisitorStation;
    }
    switch (status_user) {
    case 1:
        return SignInRoute::Visitor;
    case 2:
        return SignInRoute::Locked;
    default:
        return SignInRoute::Ignored;
    }
}

namespace {

// The steps of the ticks before `tick` that did not run on time (a tick waited), taken at once and
// shown by none. End when one of them would have ended the session.
bool catch_up(SessionState& session, bool counting_up, bool auto_logout, std::uint32_t tick) {
    if (session.elapsed_seconds + 1 >= tick) {
        return false;
    }
    const std::uint32_t missed = tick - 1 - session.elapsed_seconds;
    if (counting_up) {
        // A missed step ends the session when the time used stood at the credit.
        if (auto_logout && session.remaining_seconds >= session.elapsed_seconds &&
            session.remaining_seconds < session.elapsed_seconds + missed) {
            return true;
        }
    } else if (session.remaining_seconds < missed) {
        if (auto_logout) {
            return true;
        }
        session.remaining_seconds = 0;
    } else {
        session.remaining_seconds -= missed;
    }
    session.elapsed_seconds += missed;
    return false;
}

} // namespace

TickAction counter_tick(SessionState& session, const SpaceSettings& settings, std::uint32_t tick) {
    const bool auto_logout = settings.deconnexion_auto_logiciel == 1;
    const bool counting_up = settings.affichage_temps_logiciel == 0;
    if (session.elapsed_seconds >= tick) {
        // Early: this tick's step is done already.
        return TickAction::Keep;
    }
    if (catch_up(session, counting_up, auto_logout, tick)) {
        return TickAction::End;
    }
    if (counting_up) {
        // Counting up: the time used, until it reaches the credit.
        if (session.elapsed_seconds == session.remaining_seconds && auto_logout) {
            return TickAction::End;
        }
        TickAction action = TickAction::Keep;
        if (session.elapsed_seconds != session.remaining_seconds) {
            format_counter(session.elapsed_seconds, session.counter_text);
            action = TickAction::Show;
        }
        ++session.elapsed_seconds;
        return action;
    }
    // Counting down: the time left.
    if (session.remaining_seconds == 0) {
        if (auto_logout) {
            return TickAction::End;
        }
        // The credit is spent and the session goes on: the counter rests at zero.
        format_counter(0, session.counter_text);
        ++session.elapsed_seconds;
        return TickAction::Show;
    }
    format_counter(session.remaining_seconds, session.counter_text);
    --session.remaining_seconds;
    ++session.elapsed_seconds;
    return TickAction::Show;
}

std::uint32_t tick_number(std::int64_t elapsed_ms) {
    if (elapsed_ms <= 0) {
        return 0;
    }
    const std::int64_t tick = (elapsed_ms + 500) / 1000;
    return tick > 0xFFFFFFFFLL ? 0xFFFFFFFFu : static_cast<std::uint32_t>(tick);
}

CounterWarning counter_warning(int status_user, int credit_minutes, std::uint32_t seconds_used,
                               const SpaceSettings& settings) {
    if (status_user != 1 || settings.deconnexion_auto_logiciel != 1 || credit_minutes <= 0) {
        return CounterWarning::None;
    }
    const std::uint64_t credit = static_cast<std::uint64_t>(credit_minutes) * 60u;
    const std::uint64_t left = credit > seconds_used ? credit - seconds_used : 0;
    if (left <= 60) {
        return CounterWarning::LastMinute;
    }
    return left <= 5 * 60 ? CounterWarning::Soon : CounterWarning::None;
}

SurveyLayout survey_layout(bool emploi_checked, bool internet_checked) {
    SurveyLayout layout{};
    layout.emploi_group_visible = emploi_checked;
    layout.internet_group_visible = internet_checked;
    for (int i = 0; i < 7; ++i) {
        layout.emploi_group_tops[static_cast<std::size_t>(i)] = 204 + 32 * i;
    }
    layout.internet_top = emploi_checked ? 428 : 204;
    const int first_member = internet_checked && !emploi_checked ? 236 : 460;
    for (int i = 0; i < 5; ++i) {
        layout.internet_group_tops[static_cast<std::size_t>(i)] = first_member + 32 * i;
    }
    if (emploi_checked && internet_checked) {
        layout.autres_top = 620;
    } else if (emploi_checked) {
        layout.autres_top = 460;
    } else if (internet_checked) {
        layout.autres_top = 396;
    } else {
        layout.autres_top = 236;
    }
    return layout;
}
