#include "session/session_rules.h"

#include <gtest/gtest.h>

TEST(SignInRoute, TheLookupComesBeforeTheScreenAndTheScreenBeforeTheStatus) {
    using R = SignInRoute;
    for (int screen : {0, 1}) {
        for (int status : {0, 1, 2, 3, 4, 9}) {
            EXPECT_EQ(route_sign_in(0, screen, status, 1), R::Incorrect);
            EXPECT_EQ(route_sign_in(2, screen, status, 0), R::AlreadySignedIn);
        }
    }
    for (int status : {3, 4}) {
        EXPECT_EQ(route_sign_in(1, 1, status, 1), R::StaffToSetUp);
        EXPECT_EQ(route_sign_in(1, 1, status, 0), R::StaffSession);
        EXPECT_EQ(route_sign_in(1, 0, status, 1), R::StaffOnVisitorStation);
    }
    for (int status : {0, 1, 2, 5}) {
        EXPECT_EQ(route_sign_in(1, 1, status, 0), R::NotAllowedHere) << "a locked account too";
    }
    EXPECT_EQ(route_sign_in(1, 0, 1, 1), R::Visitor);
    EXPECT_EQ(route_sign_in(1, 0, 2, 0), R::Locked);
    EXPECT_EQ(route_sign_in(1, 0, 0, 0), R::Ignored);
    EXPECT_EQ(route_sign_in(1, 0, -1, 0), R::Ignored);
}

namespace {
SpaceSettings display(int affichage, int auto_logout) {
    SpaceSettings s;
    s.affichage_temps_logiciel = affichage;
    s.deconnexion_auto_logiciel = auto_logout;
    return s;
}
} // namespace

TEST(CounterTick, AutomaticLogoutComesOnTheTickAfterTheWholeCreditInBothDisplays) {
    for (int affichage : {0, 1, 7}) {
        SCOPED_TRACE(affichage);
        SessionState session;
        session.remaining_seconds = 120;
        const SpaceSettings settings = display(affichage, 1);
        std::uint32_t tick = 0;
        TickAction action = TickAction::Show;
        while (action != TickAction::End && tick < 1000) {
            ++tick;
            action = counter_tick(session, settings, tick);
        }
        EXPECT_EQ(tick, 121u);
    }
}

// A tick that waited on the server comes late: the count follows the clock, the missed ticks are not
// shown, and the credit ends on time; a tick that came early changes nothing.
TEST(CounterTick, LateTicksCatchUpWithTheClockAndTheCreditEndsOnTime) {
    for (int affichage : {0, 1}) {
        SCOPED_TRACE(affichage);
        SessionState session;
        session.remaining_seconds = 120;
        const SpaceSettings settings = display(affichage, 1);
        EXPECT_EQ(counter_tick(session, settings, 1), TickAction::Show);
        EXPECT_EQ(counter_tick(session, settings, 1), TickAction::Keep) << "early: already counted";
        EXPECT_EQ(counter_tick(session, settings, 31), TickAction::Show);
        EXPECT_EQ(session.counter_text.str(), affichage == 0 ? "30 s" : "1 min 30 s");
        EXPECT_EQ(session.elapsed_seconds, 31u);
        EXPECT_EQ(counter_tick(session, settings, 121), TickAction::End) << "the credit is spent at its tick";
    }
    for (int affichage : {0, 1}) {
        SCOPED_TRACE(affichage);
        SessionState session;
        session.remaining_seconds = 120;
        const SpaceSettings settings = display(affichage, 1);
        EXPECT_EQ(counter_tick(session, settings, 1), TickAction::Show);
        EXPECT_EQ(counter_tick(session, settings, 4000), TickAction::End)
            << "a stall past the credit ends it";
    }
    SessionState session;
    session.remaining_seconds = 120;
    EXPECT_EQ(counter_tick(session, display(1, 0), 500), TickAction::Show);
    EXPECT_EQ(session.counter_text.str(), "0 s") << "without logout the time left rests at zero";
    EXPECT_EQ(session.elapsed_seconds, 500u);
}

TEST(CounterTick, CountingUpHoldsTheTextOnceAtTheCreditAndGoesOn) {
    SessionState session;
    session.remaining_seconds = 2;
    const SpaceSettings settings = display(0, 0);
    EXPECT_EQ(counter_tick(session, settings, 1), TickAction::Show);
    EXPECT_EQ(session.counter_text.str(), "0 s");
    EXPECT_EQ(counter_tick(session, settings, 2), TickAction::Show);
    EXPECT_EQ(counter_tick(session, settings, 3), TickAction::Keep);
    EXPECT_EQ(counter_tick(session, settings, 4), TickAction::Show);
    EXPECT_EQ(session.counter_text.str(), "3 s");
    EXPECT_EQ(session.remaining_seconds, 2u) << "the credit does not move when counting up";
}

TEST(CounterTick, CountingDownWithoutLogoutRestsAtZeroAndNeverWraps) {
    SessionState session;
    session.remaining_seconds = 1;
    const SpaceSettings settings = display(1, 0);
    EXPECT_EQ(counter_tick(session, settings, 1), TickAction::Show);
    EXPECT_EQ(session.counter_text.str(), "1 s");
    for (std::uint32_t tick = 2; tick < 5; ++tick) {
        EXPECT_EQ(counter_tick(session, settings, tick), TickAction::Show);
        EXPECT_EQ(session.counter_text.str(), "0 s");
    }
    EXPECT_EQ(session.remaining_seconds, 0u);
    EXPECT_EQ(session.elapsed_seconds, 4u);
}

TEST(CounterWarning, FiveMinutesThenTheLastMinuteOfASessionThatEndsByItself) {
    using W = CounterWarning;
    for (int affichage : {0, 1}) {
        SCOPED_TRACE(affichage);
        const SpaceSettings ends = display(affichage, 1);
        EXPECT_EQ(counter_warning(1, 60, 0, ends), W::None);
        EXPECT_EQ(counter_warning(1, 60, 3299, ends), W::None) << "5 min 1 s left";
        EXPECT_EQ(counter_warning(1, 60, 3300, ends), W::Soon);
        EXPECT_EQ(counter_warning(1, 60, 3539, ends), W::Soon);
        EXPECT_EQ(counter_warning(1, 60, 3540, ends), W::LastMinute);
        EXPECT_EQ(counter_warning(1, 60, 9999, ends), W::LastMinute) << "past the credit";
        EXPECT_EQ(counter_warning(1, 5, 0, ends), W::Soon) << "a short credit is warned from the start";
        EXPECT_EQ(counter_warning(1, 1, 0, ends), W::LastMinute);
        // Staff sessions and sessions that go on past the credit are never warned.
        EXPECT_EQ(counter_warning(3, 60, 3600, ends), W::None);
        EXPECT_EQ(counter_warning(4, 60, 3600, ends), W::None);
        EXPECT_EQ(counter_warning(1, 60, 3600, display(affichage, 0)), W::None);
        EXPECT_EQ(counter_warning(1, 60, 3600, display(affichage, 2)), W::None);
    }
}

TEST(SessionMinutes, WholeMinutesAndAtLeastOne) {
    EXPECT_EQ(session_minutes(0), 1u);
    EXPECT_EQ(session_minutes(30), 1u);
    EXPECT_EQ(session_minutes(119), 1u);
    EXPECT_EQ(session_minutes(120), 2u);
    EXPECT_EQ(session_minutes(4294967295u), 71582788u);
}

TEST(SurveyLayout, EachStateOfTheTwoHeads) {
    const std::array<int, 7> emploi = {204, 236, 268, 300, 332, 364, 396};
    const SurveyLayout none = survey_layout(false, false);
    EXPECT_FALSE(none.emploi_group_visible);
    EXPECT_FALSE(none.internet_group_visible);
    EXPECT_EQ(none.internet_top, 204);
    EXPECT_EQ(none.autres_top, 236);
    const SurveyLayout both = survey_layout(true, true);
    EXPECT_EQ(both.emploi_group_tops, emploi);
    EXPECT_EQ(both.internet_top, 428);
    EXPECT_EQ(both.internet_group_tops, (std::array<int, 5>{460, 492, 524, 556, 588}));
    EXPECT_EQ(both.autres_top, 620);
    EXPECT_EQ(survey_layout(true, false).autres_top, 460);
    const SurveyLayout internet = survey_layout(false, true);
    EXPECT_EQ(internet.internet_group_tops, (std::array<int, 5>{236, 268, 300, 332, 364}));
    EXPECT_EQ(internet.autres_top, 396);
}
