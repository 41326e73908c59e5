// The plain records the main window owns for its whole life and resets in place.
#pragma once

#include "fonction/fixed_text.h"

#include <cstdint>

// The settings of the station's space, named after their columns.
struct SpaceSettings {
    int config_menu_logiciel = 0;        // 1: the staff key chord reveals the power and quit buttons
    int page_inscription_logiciel = 0;   // 1: the login screen offers "Inscription"
    int page_renseignement_logiciel = 0; // 1: visitors answer the usage survey first
    int bloquage_touche_logiciel = 0;    // kept, never consulted
    int affichage_temps_logiciel = 0;    // 0: the counter counts up; other: it counts the credit down
    int deconnexion_auto_logiciel = 0;   // 1: the session ends when the credit is spent
};

struct StationState {
    int close_allowed = 0;  // 1: the window may close
    int staff_screen = 0;   // 1 while the login screen expects staff credentials
    int setup_required = 0; // 0 identified, 1 not identified or set-up wanted
    FixedText<16> ip_address;
    FixedText<100> host_name;
    int id_computer = 0;
    int usage_computer = 0; // 0 not assigned, 1 visitor station, 2 staff station
    FixedText<100> station_name;
    int db_check = 0; // last reachability test: 0 reachable, 1 not
    FixedText<1000> space_name;
    int messages_visible = 0;
    SpaceSettings settings;
};

struct SessionState {
    int id_user = 0;
    int status_user = 0;    // 1 visitor, 2 locked, 3 and 4 staff
    int lookup_outcome = 0; // 0 no account, 1 found with no open session, 2 found with one open
    int id_resa = 0;
    int planned_duration = 90;
    int closing_status = 0;
    int staff_on_visitor_station = 0;
    int credit_minutes = 0;
    std::uint32_t elapsed_seconds = 0;
    std::uint32_t remaining_seconds = 0;
    int polled_status = 0;
    FixedText<20> counter_text;
};

// Account statuses 3 and 4 are staff; they are treated alike.
inline bool is_staff_status(int status_user) {
    return status_user == 3 || status_user == 4;
}
// A staff account is signed in on this station, its session row open.
inline bool staff_session_open(const SessionState& session) {
    return is_staff_status(session.status_user) && session.id_resa > 0;
}

// A visitor's session length for its row: whole minutes, at least one.
inline std::uint32_t session_minutes(std::uint32_t elapsed_seconds) {
    const std::uint32_t minutes = elapsed_seconds / 60;
    return minutes == 0 ? 1 : minutes;
}

struct StationConfig {
    FixedText<255> database_name;
    FixedText<255> database_host;
    FixedText<70> database_user;
    FixedText<70> database_password;
    FixedText<20> station_mac;
};
