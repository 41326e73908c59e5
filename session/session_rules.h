// The session's decisions over plain records, apart from the widgets: where a sign-in leads, what a
// counter tick does, when the counter warns of the end, and where the survey's boxes go.
#pragma once

#include "fonction/records.h"

#include <array>
#include <cstdint>

// Where a sign-in attempt leads, read from the lookup and the screen, first matching rule first.
enum class SignInRoute {
    Incorrect,             // no such account (or no server)
    AlreadySignedIn,       // a session row of the account is still open, on any station
    StaffToSetUp,          // staff on the sign-in of a station that needs setting up
    StaffSession,          // staff on a staff station's login
    NotAllowedHere,        // anyone else on a staff login
    StaffOnVisitorStation, // staff on the visitor welcome screen
    Visitor,               // a visitor: the credit decides
    Locked,                // a locked account
    Ignored,               // an account status the station does not know
};
SignInRoute route_sign_in(int lookup_outcome, int staff_screen, int status_user, int setup_required);

// One tick of the counter once the poll has not ended the session: Show when counter_text holds a new
// text to display, Keep when the display stays, End when the credit is spent and the space logs out.
// `tick` is the tick's number by the clock, the first being 1: ticks that came late are caught up (a
// stall neither slows the count nor lengthens the credit), a tick that came early waits. Counts the
// session's seconds in `session`.
enum class TickAction { Show, Keep, End };
TickAction counter_tick(SessionState& session, const SpaceSettings& settings, std::uint32_t tick);

// The number of the counter tick due at `elapsed_ms` after the session started (ticks run every second,
// the first a second after the start); a tick a little early or late counts as on time.
std::uint32_t tick_number(std::int64_t elapsed_ms);

// How the counter warns that the session will soon end by itself.
enum class CounterWarning { None, Soon, LastMinute };
// Soon with five minutes of credit left or less, LastMinute with one minute or less, for a visitor's
// session that the space ends when the credit is spent (either display); None otherwise, and always
// for staff and where the session goes on past the credit. `seconds_used` is the time the counter
// counts as used, the credit is `credit_minutes`.
CounterWarning counter_warning(int status_user, int credit_minutes, std::uint32_t seconds_used,
                               const SpaceSettings& settings);

// The survey's layout for the states of its two group heads.
struct SurveyLayout {
    bool emploi_group_visible;
    bool internet_group_visible;
    std::array<int, 7> emploi_group_tops;
    int internet_top;
    std::array<int, 5> internet_group_tops;
    int autres_top;
};
SurveyLayout survey_layout(bool emploi_checked, bool internet_checked);
