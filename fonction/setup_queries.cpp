#include "fonction/setup_queries.h"

#include "fonction/config_files.h"
#include "fonction/conversion.h"

namespace {

const char* const free_computers_statement =
    "SELECT `nom_computer` FROM `tab_computer` WHERE `adresse_mac_computer`=''";

// Runs the free-records statement into a buffered result; false when the server cannot be asked.
bool select_free_computers(DbLink& link) {
    return compose(link, free_computers_statement, {}) && run_statement(link) && store_result(link);
}

} // namespace

void computer_usage(DbLink& link, int id_computer, int& usage, int& found) {
    LinkScope scope(link);
    if (!run(link, "SELECT `usage_computer` FROM `tab_computer` WHERE `id_computer`='%d';", {id_computer}) ||
        !use_result(link)) {
        return;
    }
    switch (fetch_row(link)) {
    case Fetch::Row:
        usage = to_int(column(link, 0));
        found = 1;
        break;
    case Fetch::End:
        usage = 0;
        found = 0;
        break;
    case Fetch::Error:
        break;
    }
}

void count_free_computers(DbLink& link, int& count) {
    LinkScope scope(link);
    if (select_free_computers(link)) {
        count = static_cast<int>(row_count(link));
    }
}

void free_computer_name(DbLink& link, int index, FixedText<256>& name) {
    LinkScope scope(link);
    if (!select_free_computers(link)) {
        return;
    }
    if (index < 0 || static_cast<unsigned long long>(index) >= row_count(link)) {
        name.clear();
        return;
    }
    mysql_data_seek(link.result, static_cast<unsigned long long>(index));
    if (fetch_row(link) == Fetch::Row) {
        name.assign(column(link, 0));
    } else {
        name.clear();
    }
}

int update_computer_record(DbLink& link, const char* station_name, int usage, const char* mac,
                           const char* ip_address, const char* host_name) {
    // The station file is written first, whatever the database says: the next start reads it.
    write_station_file(mac);
    int connect_status = 1;
    LinkScope scope(link, connect_status);
    if (connect_status != 0) {
        return UpdateNotConnected;
    }
    const bool accepted =
        run(link,
            "UPDATE `tab_computer` SET `usage_computer`='%d', `adresse_mac_computer`='%s', "
            "`adresse_ip_computer`='%s', `nom_hote_computer`='%s' WHERE `nom_computer`='%s' ",
            {usage, mac, ip_address, host_name, station_name});
    return accepted ? UpdateRun : UpdateRefused;
}
