#include "fonction/registration_queries.h"

#include "fonction/conversion.h"
#include "fonction/registration_text.h"
#include "fonction/text.h"

#include <string>

namespace {

constexpr const char* registration_columns =
    "INSERT INTO `tab_inscription_user` (`id_inscription_user`, `date_inscription_user`, "
    "`nom_inscription_user`, "
    "`prenom_inscription_user`, `sexe_inscription_user`, `jour_naissance_inscription_user`, "
    "`mois_naissance_inscription_user`, `annee_naissance_inscription_user`, `adresse_inscription_user`, "
    "`code_postal_inscription`, `ville_inscription_user`, `commune_inscription_autres`, "
    "`tel_inscription_user`, "
    "`tel_port_inscription_user`, `mail_inscription_user`, `temps_inscription_user`, `csp_inscription_user`, "
    "`equipement_inscription_user`, `utilisation_inscription_user`, `connaissance_inscription_user`, "
    "`info_inscription_user`, `login_inscription_user`, `pass_inscription_user`, `status_inscription_user`, "
    "`lastvisit_inscription_user`)";

constexpr const char* registration_values =
    " VALUES ('', '%s', '%s', '%s', '%c', '%02d', '%02d', '%04d', '%s', '%s', '%d', '%s', '%s', '%s', '%s', "
    "'999', '%d', '%d', '%d', '%s', '%s', '%s', '%s', '1', '%s')";

// The template's own characters, conversions left out.
constexpr std::size_t fixed_length(const char* templ) {
    std::size_t length = 0;
    for (const char* p = templ; *p != '\0'; ++p) {
        if (*p == '%') {
            ++p;
            while ((*p >= '0' && *p <= '9') || *p == 'l') {
                ++p;
            }
            continue;
        }
        ++length;
    }
    return length;
}

constexpr std::size_t length_of(const char* text) {
    std::size_t length = 0;
    while (text[length] != '\0') {
        ++length;
    }
    return length;
}

// Worst case of the values piece: every text character a visitor or the database supplies escaped to
// two bytes, every integer at its widest, both dates of ten characters; the digest (hexadecimal) and
// the knowledge word (one of three fixed words) need no escaping.
constexpr std::size_t integer_width = 11;
constexpr std::size_t date_width = 10;
namespace cap = registration_capacity;
constexpr std::size_t widest_values = fixed_length(registration_values) + 2 * date_width +
                                      2 * (2 * cap::name) + 2 /* sex */ + 3 * integer_width +
                                      2 * cap::address + 2 * cap::postcode + integer_width + 2 * cap::name +
                                      2 * (2 * cap::telephone) + 2 * cap::mail + 3 * integer_width +
                                      cap::knowledge + 2 * cap::info + 2 * cap::login + cap::digest;
static_assert(widest_values <= FixedText<2000>::capacity, "the values piece always fits statement_tail");
static_assert(length_of(registration_columns) == 733, "the column list as the table names them");
static_assert(length_of(registration_columns) + widest_values <= FixedText<3000>::capacity,
              "the whole registration always fits statement");

constexpr const char* city_names = "SELECT `nom_city` FROM `tab_city`";

// Whether a lookup finds a row, its result let go at once.
FirstRow row_exists(DbLink& link, const char* templ, std::initializer_list<SqlValue> values) {
    if (!compose(link, templ, values)) {
        return FirstRow::Failed;
    }
    const FirstRow found = first_row(link, false);
    free_result(link);
    return found;
}

} // namespace

void read_city_names(DbLink& link, std::vector<std::string>& names) {
    names.clear();
    LinkScope scope(link);
    if (!compose(link, city_names, {}) || !run_statement(link) || !store_result(link)) {
        return;
    }
    const unsigned long long rows = row_count(link);
    names.assign(static_cast<std::size_t>(rows), std::string());
    for (std::string& name : names) {
        if (fetch_row(link) != Fetch::Row) {
            break; // the rows left read as no such row: empty
        }
        name = column(link, 0);
        if (name.size() > registration_capacity::city) {
            name.resize(registration_capacity::city);
        }
    }
}

void count_cities(DbLink& link, int& count) {
    LinkScope scope(link);
    count = 0;
    if (!compose(link, city_names, {}) || !run_statement(link) || !store_result(link)) {
        return;
    }
    count = static_cast<int>(static_cast<unsigned int>(row_count(link) & 0xFFFFFFFFULL));
}

std::string city_name_at(DbLink& link, int index) {
    std::string name;
    if (index < 0) {
        return name;
    }
    LinkScope scope(link);
    if (!compose(link, city_names, {}) || !run_statement(link) || !store_result(link)) {
        return name;
    }
    const unsigned long long rows = row_count(link);
    for (unsigned long long i = 0; i < rows; ++i) {
        if (fetch_row(link) != Fetch::Row) {
            break;
        }
        if (i == static_cast<unsigned long long>(index)) {
            for (unsigned int c = 0; c < field_count(link); ++c) {
                name = column(link, c);
            }
            break;
        }
    }
    if (name.size() > registration_capacity::city) {
        name.resize(registration_capacity::city);
    }
    return name;
}

void person_already_known(DbLink& link, const char* surname, const char* first_name, char sex_letter, int day,
                          int month, int year, int& person_known) {
    LinkScope scope(link);
    const FirstRow account = row_exists(
        link,
        "SELECT `id_user` FROM `tab_user` WHERE `nom_user`='%s' AND `prenom_user`='%s' AND `sexe_user`= "
        "'%c' AND `jour_naissance_user`='%d' AND `mois_naissance_user`='%d' AND `annee_naissance_user`='%d';",
        {surname, first_name, SqlValue::character(sex_letter), day, month, year});
    if (account == FirstRow::Failed) {
        return;
    }
    if (account == FirstRow::Present) {
        person_known = 1;
        return;
    }
    person_known = 0;
    if (row_exists(
            link,
            "SELECT `id_inscription_user` FROM `tab_inscription_user` WHERE `nom_inscription_user`='%s' AND "
            "`prenom_inscription_user`='%s' AND `sexe_inscription_user`= '%c' AND "
            "`jour_naissance_inscription_user`='%d' AND `mois_naissance_inscription_user`='%d' AND "
            "`annee_naissance_inscription_user`='%d';",
            {surname, first_name, SqlValue::character(sex_letter), day, month, year}) == FirstRow::Present) {
        person_known = 1;
    }
}

void login_is_free(DbLink& link, const char* login, int& login_free) {
    LinkScope scope(link);
    const FirstRow account =
        row_exists(link, "SELECT `id_user` FROM `tab_user` WHERE `login_user`='%s';", {login});
    if (account == FirstRow::Failed) {
        return;
    }
    if (account == FirstRow::Present) {
        login_free = 0;
        return;
    }
    // A login already promised to a pending registration is not offered a second time.
    switch (row_exists(
        link, "SELECT `id_inscription_user` FROM `tab_inscription_user` WHERE `login_inscription_user`='%s';",
        {login})) {
    case FirstRow::Present:
        login_free = 0;
        break;
    case FirstRow::Absent:
        login_free = 1;
        break;
    case FirstRow::Failed:
        break;
    }
}

bool find_free_login(DbLink& link, const std::string& first_name, const std::string& surname,
                     FixedText<registration_capacity::login + 1>& login) {
    for (std::size_t k = 1; k <= first_name.size(); ++k) {
        const std::string candidate = login_candidate(first_name, surname, k);
        if (!FixedText<registration_capacity::login + 1>::fits(candidate.size())) {
            return false;
        }
        int free = 0;
        login_is_free(link, candidate.c_str(), free);
        if (free == 1) {
            login = candidate;
            return true;
        }
    }
    return false;
}

void city_id_of_name(DbLink& link, const char* city_name, int& id_city) {
    LinkScope scope(link);
    if (!compose(link, "SELECT `id_city` FROM `tab_city` WHERE `nom_city`='%s';", {city_name})) {
        return;
    }
    if (first_row(link, false) == FirstRow::Present) {
        id_city = to_int(column(link, 0));
    }
}

bool insert_registration(DbLink& link, const RegistrationValues& v) {
    const std::string today = local_date_text(platform().local_time());
    LinkScope scope(link);
    if (!compose(link, link.statement, registration_columns, {})) {
        return false;
    }
    if (!compose(link, link.statement_tail, registration_values,
                 {today,
                  v.surname,
                  v.first_name,
                  SqlValue::character(v.sex_letter()),
                  v.birth_day,
                  v.birth_month,
                  v.birth_year,
                  v.address,
                  v.postcode,
                  v.id_city,
                  v.other_town,
                  v.telephone,
                  v.mobile,
                  v.mail,
                  v.csp_code,
                  v.equipment_code,
                  v.usage_place_code,
                  v.knowledge_text,
                  v.info,
                  v.login,
                  v.digest,
                  today})) {
        return false;
    }
    return append_tail(link) && run_statement(link);
}
