// The room view's statements, run under the staff stations' role (kalimo_staff): every computer of the
// space or of the network with its open session in one statement, a session ended from outside, the
// waiting registrations and their validation, the accounts, the welcome messages. Texts are the
// stations' code page. Each returns false (or Failed) when the server could not be asked or refused the
// statement; outputs are then left as the caller set them.
#pragma once

#include "fonction/db_link.h"

#include <cstddef>
#include <string>
#include <vector>

// One computer as the refresh reads it: its record, its room and space, its open session row if any,
// that row's account, and what the station counted against the allowance when the session opened.
struct RoomComputer {
    int id_computer = 0;
    std::string name;
    int usage = 0;
    std::string heartbeat_date; // date_lastetat_computer; empty: never beat
    int heartbeat_seconds = 0;  // lastetat_computer, seconds since midnight
    std::string room;
    std::string space;
    int id_resa = 0; // 0: no open session row
    std::string session_date;
    int session_minute = 0; // its opening, minutes since midnight
    int id_user = 0;
    std::string login;
    std::string surname;
    std::string first_name;
    int status_user = 0;
    int allowance = 0; // temps_user, minutes a day
    // The minutes of the account's other rows of the session's day not closed normally: what the
    // credit at sign-in was less than the allowance.
    int spent = 0;
};

// One statement for the whole space of the station `id_computer` stands in (its room's space), or for
// every space. A computer with several open rows comes once per row. `computers` is replaced only when
// every row was read.
enum class RoomRead { Read, NotConnected, Refused };
RoomRead read_room_computers(DbLink& link, int id_computer, bool whole_network,
                             std::vector<RoomComputer>& computers);

// Ends a visitor's session from outside, as staff always could: the row closed with status 1 and the
// duration so far; the station sees it at its next poll, ends its session and writes its own duration.
enum class EndOutcome { Ended, NotOpen, Failed };
EndOutcome end_session_from_outside(DbLink& link, int id_resa, int duration_minutes);

// Values of status_inscription_user: the stations write 1; the view marks the others.
namespace registration_status {
constexpr int waiting = 1;
constexpr int validated = 2; // its account was created
constexpr int refused = 3;
} // namespace registration_status

// A registration waiting for staff, with the name of its town.
struct WaitingRegistration {
    int id = 0;
    std::string date;
    std::string surname;
    std::string first_name;
    std::string sex; // "H" or "F"
    int day = 0;
    int month = 0;
    int year = 0;
    std::string address;
    std::string postcode;
    std::string town; // tab_city's name of its town id, empty when none
    std::string other_town;
    std::string phone;
    std::string mobile;
    std::string mail;
    int allowance = 0;
    int csp = 0;
    int equipment = 0;
    int usage_place = 0;
    std::string knowledge;
    std::string info;
    std::string login;
};

// The waiting registrations, oldest first.
bool read_waiting_registrations(DbLink& link, std::vector<WaitingRegistration>& registrations);

// What the validation finds, in its transaction, before it writes anything.
struct RegistrationFacts {
    bool waiting = false; // the row is there and still waits
    std::string login;
    bool login_taken = false;  // an account has that login
    bool person_known = false; // an account has the same surname, first name, sex and birth date
};
enum class RegistrationOutcome { Validated, Gone, NoLogin, LoginTaken, PersonKnown, BadAllowance, Failed };
// The registration's checks: Validated when the account may be created with that allowance.
RegistrationOutcome registration_verdict(const RegistrationFacts& facts, int allowance);

// In one transaction: the checks, then the account (login, digest, names, sex, birth date, the allowance,
// visitor status) and the registration marked validated. Nothing is written unless all of it is.
RegistrationOutcome validate_registration(DbLink& link, int id_registration, int allowance);
// Marks a waiting registration refused; false when it no longer waits or the server did not take it.
bool refuse_registration(DbLink& link, int id_registration);

// An account as the view lists it (never its digest).
struct AccountRow {
    int id_user = 0;
    std::string login;
    std::string surname;
    std::string first_name;
    int status = 0;
    int allowance = 0;
};
// "%text%" for LIKE ... ESCAPE '!': the text's own %, _ and ! match themselves.
std::string like_pattern(const std::string& text);
constexpr int accounts_listed = 200;
// Accounts whose login, surname or first name holds the text, by login, at most accounts_listed.
bool find_accounts(DbLink& link, const std::string& text, std::vector<AccountRow>& accounts);

struct NewAccount {
    std::string login;
    std::string digest; // password_digest of the password's Windows-1252 bytes
    std::string surname;
    std::string first_name;
    int status = 1;
    int allowance = 0;
};
enum class AccountOutcome { Done, LoginTaken, Failed };
AccountOutcome create_account(DbLink& link, const NewAccount& account);

// What changes of an account: each part only when asked for.
struct AccountChange {
    bool allowance_changed = false;
    int allowance = 0;
    bool status_changed = false;
    int status = 0;
    std::string digest; // empty: the password stays
    bool empty() const { return !allowance_changed && !status_changed && digest.empty(); }
};
bool change_account(DbLink& link, int id_user, const AccountChange& change);

// The newest active message of the network and of the space, as the welcome screens pick them.
struct WelcomeMessages {
    std::string space_id; // the space of the station's room, as espace_message holds it
    std::string network;
    bool network_shown = false;
    std::string space;
    bool space_shown = false;
};
bool read_welcome_messages(DbLink& link, int id_computer, WelcomeMessages& messages);
// The longest message the view publishes, in characters: its statement fits even when every one needs
// escaping.
constexpr std::size_t message_capacity = 1000;
// A new message for the scope ("0": every space; else a space's id), the scope's older active ones
// withdrawn (status 1) in the same transaction; withdraw_messages withdraws them alone. Nothing is deleted.
bool publish_message(DbLink& link, const std::string& scope, const std::string& text);
bool withdraw_messages(DbLink& link, const std::string& scope);
