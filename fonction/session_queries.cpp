#include "fonction/session_queries.h"

#include "fonction/conversion.h"
#include "fonction/text.h"

#include <string>

namespace {

const char* const session_status_query =
    "SELECT `status_resa` FROM `tab_resa` WHERE `id_user_resa`= '%d' AND `id_resa`='%d';";

enum class RowState { Open, Closed, Gone, Unknown };

// The settlement must tell a row that is gone from a server that did not answer, and must not take an
// unreadable answer for a close: the status poll cannot say either.
RowState session_row_state(DbLink& link, int id_user, int id_resa) {
    LinkScope scope(link);
    if (!compose(link, session_status_query, {id_user, id_resa})) {
        return RowState::Unknown;
    }
    switch (first_row(link, true)) {
    case FirstRow::Present:
        break;
    case FirstRow::Absent:
        return RowState::Gone;
    case FirstRow::Failed:
        return RowState::Unknown;
    }
    try {
        return to_int(column(link, 0)) == 0 ? RowState::Open : RowState::Closed;
    } catch (const ConversionError&) {
        return RowState::Unknown;
    }
}

} // namespace

void lookup_account(DbLink& link, const char* login, const char* digest, int& id_user, int& status_user,
                    int& lookup_outcome) {
    LinkScope scope(link);
    if (!run(link,
             "SELECT `id_user`, `status_user` FROM `tab_user` WHERE `login_user`= '%s' AND `pass_user`= '%s' "
             "LIMIT 0,1",
             {login, digest}) ||
        !store_result(link) || fetch_row(link) != Fetch::Row) {
        return;
    }
    const int found_id = to_int(column(link, 0));
    const int found_status = to_int(column(link, 1));
    id_user = found_id;
    status_user = found_status;
    free_result(link);
    if (!run(link, "SELECT COUNT(*) FROM tab_resa WHERE `id_user_resa` = %d AND `status_resa`=0",
             {id_user}) ||
        !store_result(link)) {
        return;
    }
    if (fetch_row(link) != Fetch::Row) {
        lookup_outcome = 1;
        return;
    }
    lookup_outcome = to_int(column(link, 0)) == 0 ? 1 : 2;
}

void compute_credit(DbLink& link, int id_user, int& credit_minutes) {
    LinkScope scope(link);
    int credit = 0;
    if (run(link, "SELECT `temps_user` FROM `tab_user` WHERE `id_user`='%d';", {id_user}) &&
        store_result(link) && fetch_row(link) == Fetch::Row) {
        credit = to_int(column(link, 0));
    }
    free_result(link);
    const std::string today = local_date_text(platform().local_time());
    if (run(link,
            "SELECT `duree_resa` FROM `tab_resa` WHERE `id_user_resa`= '%d' AND `date_resa`='%s' AND "
            "`status_resa`!='1';",
            {id_user, today}) &&
        store_result(link)) {
        const unsigned long long rows = row_count(link);
        for (unsigned long long i = 0; i < rows; ++i) {
            if (fetch_row(link) != Fetch::Row) {
                credit = 0;
                continue;
            }
            credit -= to_int(column(link, 0));
        }
    }
    credit_minutes = credit;
}

void open_session_row(DbLink& link, int id_computer, int id_user, int planned_duration, int& id_resa) {
    const LocalTime now = platform().local_time();
    const std::string today = local_date_text(now);
    const int opening_minute = static_cast<int>(now.hour) * 60 + static_cast<int>(now.minute);
    LinkScope scope(link);
    if (!run(link, "INSERT INTO tab_resa VALUES('', '%d', '%d','%s','%d','%d','%s','0')",
             {id_computer, id_user, today, opening_minute, planned_duration, today})) {
        return;
    }
    id_resa = to_int(std::to_string(mysql_insert_id(link.handle)).c_str());
}

void record_usage_answer(DbLink& link, const char* caption, int id_user) {
    const std::string today = local_date_text(platform().local_time());
    LinkScope scope(link);
    if (!run(link, "SELECT `id_utilisation` FROM `tab_utilisation` WHERE `nom_utilisation`=\"%s\";",
             {caption}) ||
        !use_result(link) || fetch_row(link) != Fetch::Row) {
        return;
    }
    const std::string id_utilisation = column(link, 0);
    free_result(link);
    if (id_utilisation.empty() || id_utilisation == "0") {
        return;
    }
    run(link, "INSERT INTO `rel_utilisation_user` VALUES('', '%s', '%d','%s');",
        {id_utilisation, id_user, today});
}

void poll_session_status(DbLink& link, int id_user, int id_resa, int& polled_status) {
    LinkScope scope(link);
    if (!run(link, session_status_query, {id_user, id_resa})) {
        return;
    }
    if (!store_result(link)) {
        polled_status = 1;
        return;
    }
    const unsigned long long rows = row_count(link);
    for (unsigned long long i = 0; i < rows; ++i) {
        if (fetch_row(link) != Fetch::Row) {
            polled_status = 1;
            continue;
        }
        polled_status = to_int(column(link, 0));
    }
}

bool close_session_row(DbLink& link, int duration_minutes, int closing_status, int id_resa) {
    LinkScope scope(link);
    return run(link, "UPDATE tab_resa SET `duree_resa`='%d', `status_resa`='%d' WHERE `id_resa`='%d' ",
               {duration_minutes, closing_status, id_resa});
}

SessionRecord settle_session_record(DbLink& link, const SessionRecord& left) {
    SessionRecord kept;
    bool server_takes = true;
    for (const PendingClose& close : left.pending) {
        if (!server_takes) {
            kept.pending.push_back(close);
            continue;
        }
        // The close statement rewrites whatever row it names: it is sent only for a row still open
        // for the account the record gives. A row closed meanwhile (by staff), gone, or another
        // account's is dropped, as is a duration no session of this station can have had.
        if (close.duration_minutes < 0 || close.duration_minutes > max_settled_minutes) {
            continue;
        }
        const RowState state = session_row_state(link, close.id_user, close.id_resa);
        if (state == RowState::Closed || state == RowState::Gone) {
            continue;
        }
        if (state == RowState::Open &&
            close_session_row(link, close.duration_minutes, close.closing_status, close.id_resa)) {
            continue;
        }
        server_takes = false;
        kept.pending.push_back(close);
    }
    if (!left.open) {
        return kept;
    }
    if (!server_takes) {
        kept.open = left.open;
        return kept;
    }
    // Kept open rather than turned into a pending close: a close is sent unconditionally, and would
    // overwrite a close staff made by hand while the server was away.
    const OpenSession& open = *left.open;
    switch (session_row_state(link, open.id_user, open.id_resa)) {
    case RowState::Open: {
        const PendingClose close = close_of(open);
        if (!close_session_row(link, close.duration_minutes, close.closing_status, close.id_resa)) {
            kept.open = open;
        }
        break;
    }
    case RowState::Closed:
    case RowState::Gone:
        break;
    case RowState::Unknown:
        kept.open = open;
        break;
    }
    return kept;
}
