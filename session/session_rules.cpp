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

TickAction counter_tick(SessionState& session, const SpaceSettings& settings) {
    const bool auto_logout = settings.deconnexion_auto_logiciel == 1;
    if (settings.affichage_temps_logiciel == 0) {
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

std::uint32_t session_minutes(std::uint32_t elapsed_seconds) {
    const std::uint32_t minutes = elapsed_seconds / 60;
    return minutes == 0 ? 1 : minutes;
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
