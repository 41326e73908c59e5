#include "fonction/station_queries.h"

#include "fonction/conversion.h"
#include "fonction/text.h"

namespace {

// One text lookup on an open link: keeps the single column; `status` 0 found, 1 no row, unchanged
// when the statement fails.
template <std::size_t N>
void chained_lookup(DbLink& link, const char* templ, const SqlValue& value, FixedText<N>& found,
                    int& status) {
    if (!compose(link, templ, {value})) {
        return;
    }
    switch (first_row(link, false)) {
    case FirstRow::Present:
        found.assign(column(link, 0));
        status = 0;
        break;
    case FirstRow::Absent:
        status = 1;
        break;
    case FirstRow::Failed:
        break;
    }
    free_result(link);
}

// One integer of the computer record. `status` becomes 1 when the server cannot be reached or the
// record is missing; a failing statement leaves it as it is.
void integer_lookup(DbLink& link, const char* templ, const SqlValue& key, int& found, int& status) {
    LinkScope scope(link, status);
    if (!compose(link, templ, {key})) {
        return;
    }
    switch (first_row(link, true)) {
    case FirstRow::Present:
        found = to_int(column(link, 0));
        break;
    case FirstRow::Absent:
        status = 1;
        break;
    case FirstRow::Failed:
        break;
    }
}

} // namespace

void find_computer_by_mac(DbLink& link, const char* mac, int& id_computer, int& status) {
    integer_lookup(link,
                   "SELECT `id_computer` FROM `tab_computer` WHERE `adresse_mac_computer`= '%s' LIMIT 0,1",
                   mac, id_computer, status);
}

void read_computer_usage(DbLink& link, int id_computer, int& usage_computer, int& status) {
    integer_lookup(link, "SELECT `usage_computer` FROM `tab_computer` WHERE `id_computer`= '%d' LIMIT 0,1",
                   id_computer, usage_computer, status);
}

void read_computer_name(DbLink& link, int id_computer, FixedText<100>& station_name, int& status) {
    LinkScope scope(link);
    chained_lookup(link, "SELECT `nom_computer` FROM `tab_computer` WHERE `id_computer`='%d';", id_computer,
                   station_name, status);
}

void read_space_name(DbLink& link, const char* station_name, FixedText<1000>& space_name, int& status) {
    LinkScope scope(link);
    FixedText<32> id_salle;
    FixedText<32> id_espace;
    chained_lookup(link, "SELECT `id_salle` FROM `tab_computer` WHERE `nom_computer`='%s';", station_name,
                   id_salle, status);
    if (status == 0) {
        chained_lookup(link, "SELECT `id_espace` FROM `tab_salle` WHERE `id_salle`='%s';", id_salle.c_str(),
                       id_espace, status);
    }
    if (status == 0) {
        chained_lookup(link, "SELECT `nom_espace` FROM `tab_espace` WHERE `id_espace`='%s';",
                       id_espace.c_str(), space_name, status);
    }
}

void read_space_settings(DbLink& link, const char* space_name, SpaceSettings& settings) {
    LinkScope scope(link);
    FixedText<32> id_espace;
    int found = 1;
    chained_lookup(link, "SELECT `id_espace` FROM `tab_espace` WHERE `nom_espace`='%s';", space_name,
                   id_espace, found);
    if (!compose(link,
                 "SELECT `config_menu_logiciel`, `page_inscription_logiciel`, `page_renseignement_logiciel`, "
                 "`bloquage_touche_logiciel`, `affichage_temps_logiciel`, `deconnexion_auto_logiciel` FROM "
                 "`tab_config_logiciel` WHERE `id_espace`= '%s';",
                 {id_espace})) {
        return;
    }
    if (!run_statement(link) || !store_result(link)) {
        return;
    }
    const unsigned long long rows = row_count(link);
    for (unsigned long long i = 0; i < rows; ++i) {
        if (fetch_row(link) != Fetch::Row) {
            settings = SpaceSettings{};
            continue;
        }
        int values[6] = {};
        const unsigned int columns = field_count(link) < 6 ? field_count(link) : 6;
        for (unsigned int c = 0; c < columns; ++c) {
            values[c] = to_int(column(link, c));
        }
        settings.config_menu_logiciel = values[0];
        settings.page_inscription_logiciel = values[1];
        settings.page_renseignement_logiciel = values[2];
        settings.bloquage_touche_logiciel = values[3];
        settings.affichage_temps_logiciel = values[4];
        settings.deconnexion_auto_logiciel = values[5];
    }
}

std::string load_space_message(DbLink& link, const char* space_name, int& messages_visible) {
    int step = 1;
    LinkScope scope(link, step);
    messages_visible = 0;
    std::string message;
    FixedText<32> id_espace;
    chained_lookup(link, "SELECT `id_espace` FROM `tab_espace` WHERE `nom_espace`='%s';", space_name,
                   id_espace, step);
    if (step == 0 &&
        compose(link,
                "SELECT `corp_message` FROM `tab_message_kalimo` WHERE `espace_message`='%s' AND "
                "`status_message`='0' ORDER BY `id_message` DESC;",
                {id_espace})) {
        if (run_statement(link) && use_result(link)) {
            step = 1;
            if (fetch_row(link) == Fetch::Row) {
                message = column(link, 0);
                messages_visible = 1;
            } else {
                messages_visible = 0;
            }
        }
        free_result(link);
    }
    if (step == 1 && compose(link,
                             "SELECT `corp_message` FROM `tab_message_kalimo` WHERE `espace_message`='0' AND "
                             "`status_message`='0' ORDER BY `id_message` DESC;",
                             {})) {
        if (run_statement(link) && use_result(link) && fetch_row(link) == Fetch::Row) {
            message = column(link, 0);
            messages_visible = 1;
        }
        free_result(link);
    }
    return message;
}

bool report_station_alive(DbLink& link, int id_computer) {
    int connect_status = 1;
    LinkScope scope(link, connect_status);
    const LocalTime now = platform().local_time();
    const unsigned long seconds = static_cast<unsigned long>(now.hour) * 3600UL +
                                  static_cast<unsigned long>(now.minute) * 60UL +
                                  static_cast<unsigned long>(now.second);
    const bool ran =
        run(link,
            "UPDATE `tab_computer` SET `date_lastetat_computer`='%s', `lastetat_computer`='%lu' WHERE "
            "`id_computer`='%d' ;",
            {local_date_text(now), seconds, id_computer});
    return connect_status == 0 && ran;
}
