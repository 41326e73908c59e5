// The queries of self-registration: the town list, the known-person and free-login lookups, the
// town id and the registration row. Flags are written only when the statements that decide them
// succeed; outputs the taken path does not reach keep the caller's values.
#pragma once

#include "fonction/db_link.h"

#include <cstddef>
#include <string>
#include <vector>

// Capacities of the registration's texts, in Windows-1252 characters. Longer input is cut here.
// They are chosen so that the registration row's values piece fits its buffer even when every
// character of every text needs escaping.
namespace registration_capacity {
constexpr std::size_t name = 99; // surname, first name, other town
constexpr std::size_t city = 251;
constexpr std::size_t login = 2 * name; // a prefix of the first name and the whole surname
constexpr std::size_t postcode = 5;
constexpr std::size_t telephone = 20;
constexpr std::size_t mail = 80;
constexpr std::size_t address = 120; // CR LF after each line included
constexpr std::size_t info = 120;    // CR LF after each line included
constexpr std::size_t knowledge = 15;
constexpr std::size_t digest = 32;
} // namespace registration_capacity

// The values of one validation, computed afresh each time.
struct RegistrationValues {
    FixedText<registration_capacity::name + 1> surname;    // upper case, as typed
    FixedText<registration_capacity::name + 1> first_name; // capitalised
    int sex_code = 0;                                      // 0 Monsieur (H), 1 Madame (F)
    int birth_day = 0;
    int birth_month = 0;
    int birth_year = 0;
    int csp_code = 0;
    int equipment_code = 0;
    int usage_place_code = 0;
    FixedText<registration_capacity::knowledge + 1> knowledge_text;
    int id_city = 0;
    FixedText<registration_capacity::name + 1> other_town; // capitalised, or empty
    int person_known = 0;
    int login_free = 0;
    FixedText<registration_capacity::login + 1> login;
    FixedText<registration_capacity::digest + 1> digest;
    // The free texts of the form.
    FixedText<registration_capacity::address + 1> address;
    FixedText<registration_capacity::postcode + 1> postcode;
    FixedText<registration_capacity::telephone + 1> telephone;
    FixedText<registration_capacity::telephone + 1> mobile;
    FixedText<registration_capacity::mail + 1> mail;
    FixedText<registration_capacity::info + 1> info;

    char sex_letter() const { return sex_code == 0 ? 'H' : 'F'; }
};

// The towns of the registration form, read on one connection: `names` gets every row of tab_city in the
// server's order, each cut at the town capacity, NULL as an empty name; no town when the statement fails.
void read_city_names(DbLink& link, std::vector<std::string>& names);

// The same list a town at a time, one connection each: the count of rows (0 when the statement fails),
// then the name at a position of the server's order (empty when there is no such row).
void count_cities(DbLink& link, int& count);
std::string city_name_at(DbLink& link, int index);

// person_known becomes 1 when tab_user or tab_inscription_user holds the same surname, first name,
// sex and birth date, 0 when neither does.
void person_already_known(DbLink& link, const char* surname, const char* first_name, char sex_letter, int day,
                          int month, int year, int& person_known);

// login_free becomes 1 when no account and no pending registration uses this login, 0 when one does.
void login_is_free(DbLink& link, const char* login, int& login_free);

// The first free candidate (first name's first 1, 2, ... characters, then the surname, lower-cased)
// into `login`; false when every candidate is taken or the server cannot tell.
bool find_free_login(DbLink& link, const std::string& first_name, const std::string& surname,
                     FixedText<registration_capacity::login + 1>& login);

// id_city of the first town of that name; unchanged when there is none.
void city_id_of_name(DbLink& link, const char* city_name, int& id_city);

// Writes the registration row, dated today; false when it was not written.
bool insert_registration(DbLink& link, const RegistrationValues& values);
