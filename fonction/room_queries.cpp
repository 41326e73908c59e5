#include "fonction/room_queries.h"

#include "fonction/conversion.h"

#include <functional>

namespace {

// Every computer with its room, space, open session row and that row's account. The open row is found
// by the session's computer column (an index of its own: see db/schema.sql); what the station counted
// against the allowance at sign-in is the account's other rows of that day not closed normally.
const std::string room_computers =
    "SELECT c.`id_computer`, c.`nom_computer`, IFNULL(c.`usage_computer`, 0), c.`date_lastetat_computer`, "
    "IFNULL(c.`lastetat_computer`, 0), s.`nom_salle`, e.`nom_espace`, IFNULL(r.`id_resa`, 0), r.`date_resa`, "
    "IFNULL(r.`debut_resa`, 0), IFNULL(u.`id_user`, 0), u.`login_user`, u.`nom_user`, u.`prenom_user`, "
    "IFNULL(u.`status_user`, 0), IFNULL(u.`temps_user`, 0), IFNULL((SELECT SUM(p.`duree_resa`) FROM "
    "`tab_resa` p WHERE p.`id_user_resa` = r.`id_user_resa` AND p.`date_resa` = r.`date_resa` AND "
    "p.`status_resa` != '1' AND p.`id_resa` <> r.`id_resa`), 0) FROM `tab_computer` c LEFT JOIN `tab_salle` "
    "s ON s.`id_salle` = c.`id_salle` LEFT JOIN `tab_espace` e ON e.`id_espace` = s.`id_espace` LEFT JOIN "
    "`tab_resa` r ON r.`id_computer_resa` = c.`id_computer` AND r.`status_resa` = '0' LEFT JOIN `tab_user` u "
    "ON u.`id_user` = r.`id_user_resa`";
const std::string of_the_space =
    " WHERE s.`id_espace` = (SELECT s2.`id_espace` FROM `tab_computer` c2 JOIN `tab_salle` s2 ON "
    "s2.`id_salle` = c2.`id_salle` WHERE c2.`id_computer` = '%d')";

// Sends the statement composed from `templ` and reads every row with `each`; false when anything failed.
bool read_rows(DbLink& link, const char* templ, std::initializer_list<SqlValue> values,
               const std::function<void()>& each) {
    if (!run(link, templ, values) || !store_result(link)) {
        return false;
    }
    for (;;) {
        switch (fetch_row(link)) {
        case Fetch::Row:
            each();
            break;
        case Fetch::End:
            return true;
        case Fetch::Error:
            return false;
        }
    }
}

// The first column of the statement's first row; false when there is none or the statement failed.
bool first_value(DbLink& link, const char* templ, std::initializer_list<SqlValue> values,
                 std::string& value) {
    if (!compose(link, templ, values) || first_row(link, true) != FirstRow::Present) {
        return false;
    }
    value = column(link, 0);
    return true;
}

// One transaction on the operation's connection: committed when `steps` returns true, rolled back on
// every other way out, an exception's included.
bool in_transaction(DbLink& link, const std::function<bool()>& steps) {
    if (!run(link, "START TRANSACTION", {})) {
        return false;
    }
    struct Rollback {
        DbLink& link;
        bool committed = false;
        ~Rollback() {
            if (!committed) {
                free_result(link);
                run(link, "ROLLBACK", {});
            }
        }
    } rollback{link};
    if (!steps()) {
        return false;
    }
    free_result(link);
    rollback.committed = run(link, "COMMIT", {});
    return rollback.committed;
}

bool affected_one(const DbLink& link) {
    return mysql_affected_rows(link.handle) == 1;
}

} // namespace

RoomRead read_room_computers(DbLink& link, int id_computer, bool whole_network,
                             std::vector<RoomComputer>& computers) {
    int connected = 1;
    LinkScope scope(link, connected);
    if (connected != 0) {
        return RoomRead::NotConnected;
    }
    std::vector<RoomComputer> read;
    const std::string templ = whole_network ? room_computers : room_computers + of_the_space;
    const auto each = [&] {
        RoomComputer c;
        c.id_computer = to_int(column(link, 0));
        c.name = column(link, 1);
        c.usage = to_int(column(link, 2));
        c.heartbeat_date = column(link, 3);
        c.heartbeat_seconds = to_int(column(link, 4));
        c.room = column(link, 5);
        c.space = column(link, 6);
        c.id_resa = to_int(column(link, 7));
        c.session_date = column(link, 8);
        c.session_minute = to_int(column(link, 9));
        c.id_user = to_int(column(link, 10));
        c.login = column(link, 11);
        c.surname = column(link, 12);
        c.first_name = column(link, 13);
        c.status_user = to_int(column(link, 14));
        c.allowance = to_int(column(link, 15));
        c.spent = to_int(column(link, 16));
        read.push_back(std::move(c));
    };
    const bool done = whole_network ? read_rows(link, templ.c_str(), {}, each)
                                    : read_rows(link, templ.c_str(), {id_computer}, each);
    if (!done) {
        // The client library's own errors: the server went or stopped answering.
        const unsigned int error = link.handle != nullptr ? mysql_errno(link.handle) : 2000;
        return error >= 2000 && error <= 2999 ? RoomRead::NotConnected : RoomRead::Refused;
    }
    computers = std::move(read);
    return RoomRead::Read;
}

EndOutcome end_session_from_outside(DbLink& link, int id_resa, int duration_minutes) {
    LinkScope scope(link);
    if (!run(link,
             "UPDATE `tab_resa` SET `duree_resa`='%d', `status_resa`='1' WHERE `id_resa`='%d' AND "
             "`status_resa`='0'",
             {duration_minutes, id_resa})) {
        return EndOutcome::Failed;
    }
    return affected_one(link) ? EndOutcome::Ended : EndOutcome::NotOpen;
}

bool read_waiting_registrations(DbLink& link, std::vector<WaitingRegistration>& registrations) {
    LinkScope scope(link);
    std::vector<WaitingRegistration> read;
    const bool done = read_rows(
        link,
        "SELECT i.`id_inscription_user`, i.`date_inscription_user`, i.`nom_inscription_user`, "
        "i.`prenom_inscription_user`, i.`sexe_inscription_user`, "
        "IFNULL(i.`jour_naissance_inscription_user`, 0), IFNULL(i.`mois_naissance_inscription_user`, 0), "
        "IFNULL(i.`annee_naissance_inscription_user`, 0), i.`adresse_inscription_user`, "
        "i.`code_postal_inscription`, c.`nom_city`, i.`commune_inscription_autres`, "
        "i.`tel_inscription_user`, "
        " i.`tel_port_inscription_user`, i.`mail_inscription_user`, "
        "IFNULL(i.`temps_inscription_user`, 0), IFNULL(i.`csp_inscription_user`, 0), "
        "IFNULL(i.`equipement_inscription_user`, 0), IFNULL(i.`utilisation_inscription_user`, 0), "
        "i.`connaissance_inscription_user`, i.`info_inscription_user`, i.`login_inscription_user` FROM "
        "`tab_inscription_user` i LEFT JOIN `tab_city` c ON c.`id_city` = i.`ville_inscription_user` WHERE "
        "i.`status_inscription_user` = '%d' ORDER BY i.`date_inscription_user`, i.`id_inscription_user`",
        {registration_status::waiting}, [&] {
            WaitingRegistration r;
            r.id = to_int(column(link, 0));
            r.date = column(link, 1);
            r.surname = column(link, 2);
            r.first_name = column(link, 3);
            r.sex = column(link, 4);
            r.day = to_int(column(link, 5));
            r.month = to_int(column(link, 6));
            r.year = to_int(column(link, 7));
            r.address = column(link, 8);
            r.postcode = column(link, 9);
            r.town = column(link, 10);
            r.other_town = column(link, 11);
            r.phone = column(link, 12);
            r.mobile = column(link, 13);
            r.mail = column(link, 14);
            r.allowance = to_int(column(link, 15));
            r.csp = to_int(column(link, 16));
            r.equipment = to_int(column(link, 17));
            r.usage_place = to_int(column(link, 18));
            r.knowledge = column(link, 19);
            r.info = column(link, 20);
            r.login = column(link, 21);
            read.push_back(std::move(r));
        });
    if (done) {
        registrations = std::move(read);
    }
    return done;
}

RegistrationOutcome registration_verdict(const RegistrationFacts& facts, int allowance) {
    if (!facts.waiting) {
        return RegistrationOutcome::Gone;
    }
    if (facts.login.empty()) {
        return RegistrationOutcome::NoLogin;
    }
    if (facts.login_taken) {
        return RegistrationOutcome::LoginTaken;
    }
    if (facts.person_known) {
        return RegistrationOutcome::PersonKnown;
    }
    return allowance < 0 ? RegistrationOutcome::BadAllowance : RegistrationOutcome::Validated;
}

RegistrationOutcome validate_registration(DbLink& link, int id_registration, int allowance) {
    LinkScope scope(link);
    RegistrationOutcome outcome = RegistrationOutcome::Failed;
    const bool committed = in_transaction(link, [&] {
        // The row is locked for the transaction: two staff stations cannot validate it twice.
        if (!compose(
                link,
                "SELECT `login_inscription_user`, `pass_inscription_user`, `nom_inscription_user`, "
                "`prenom_inscription_user`, `sexe_inscription_user`, "
                "IFNULL(`jour_naissance_inscription_user`, 0), IFNULL(`mois_naissance_inscription_user`, 0), "
                "IFNULL(`annee_naissance_inscription_user`, 0), IFNULL(`status_inscription_user`, 0) FROM "
                "`tab_inscription_user` WHERE `id_inscription_user`='%d' FOR UPDATE",
                {id_registration})) {
            return false;
        }
        const FirstRow row = first_row(link, true);
        if (row == FirstRow::Failed) {
            return false;
        }
        RegistrationFacts facts;
        NewAccount account;
        std::string sex;
        int day = 0;
        int month = 0;
        int year = 0;
        if (row == FirstRow::Present) {
            facts.waiting = to_int(column(link, 8)) == registration_status::waiting;
            facts.login = account.login = column(link, 0);
            account.digest = column(link, 1);
            account.surname = column(link, 2);
            account.first_name = column(link, 3);
            sex = column(link, 4);
            day = to_int(column(link, 5));
            month = to_int(column(link, 6));
            year = to_int(column(link, 7));
        }
        free_result(link);
        if (facts.waiting && !facts.login.empty()) {
            // The accounts that would clash, locked too, as the station's own checks find them.
            if (!compose(
                    link,
                    "SELECT IFNULL(SUM(`login_user`='%s'), 0), IFNULL(SUM(`nom_user`='%s' AND "
                    "`prenom_user`='%s' AND `sexe_user`='%s' AND `jour_naissance_user`='%d' AND "
                    "`mois_naissance_user`='%d' AND `annee_naissance_user`='%d'), 0) FROM `tab_user` WHERE "
                    "`login_user`='%s' OR (`nom_user`='%s' AND `prenom_user`='%s') FOR UPDATE",
                    {account.login, account.surname, account.first_name, sex, day, month, year, account.login,
                     account.surname, account.first_name}) ||
                first_row(link, true) != FirstRow::Present) {
                return false;
            }
            facts.login_taken = to_int(column(link, 0)) > 0;
            facts.person_known = to_int(column(link, 1)) > 0;
            free_result(link);
        }
        outcome = registration_verdict(facts, allowance);
        if (outcome != RegistrationOutcome::Validated) {
            return false;
        }
        return run(link,
                   "INSERT INTO `tab_user` (`login_user`, `pass_user`, `status_user`, `temps_user`, "
                   "`nom_user`, `prenom_user`, `sexe_user`, `jour_naissance_user`, `mois_naissance_user`, "
                   "`annee_naissance_user`) "
                   "VALUES ('%s', '%s', '1', '%d', '%s', '%s', '%s', '%d', '%d', '%d')",
                   {account.login, account.digest, allowance, account.surname, account.first_name, sex, day,
                    month, year}) &&
               run(link,
                   "UPDATE `tab_inscription_user` SET `status_inscription_user`='%d' WHERE "
                   "`id_inscription_user`='%d'",
                   {registration_status::validated, id_registration});
    });
    // Checked, but not all written and committed: nothing was.
    return !committed && outcome == RegistrationOutcome::Validated ? RegistrationOutcome::Failed : outcome;
}

bool refuse_registration(DbLink& link, int id_registration) {
    LinkScope scope(link);
    return run(link,
               "UPDATE `tab_inscription_user` SET `status_inscription_user`='%d' WHERE "
               "`id_inscription_user`='%d' "
               "AND `status_inscription_user`='%d'",
               {registration_status::refused, id_registration, registration_status::waiting}) &&
           affected_one(link);
}

std::string like_pattern(const std::string& text) {
    std::string pattern = "%";
    for (const char c : text) {
        if (c == '%' || c == '_' || c == '!') {
            pattern.push_back('!');
        }
        pattern.push_back(c);
    }
    return pattern + "%";
}

bool find_accounts(DbLink& link, const std::string& text, std::vector<AccountRow>& accounts) {
    LinkScope scope(link);
    const std::string pattern = like_pattern(text);
    std::vector<AccountRow> found;
    const bool done = read_rows(
        link,
        "SELECT `id_user`, `login_user`, `nom_user`, `prenom_user`, IFNULL(`status_user`, 0), "
        "IFNULL(`temps_user`, 0) FROM `tab_user` WHERE `login_user` LIKE '%s' ESCAPE '!' OR "
        "`nom_user` LIKE '%s' ESCAPE '!' OR `prenom_user` LIKE '%s' ESCAPE '!' "
        "ORDER BY `login_user`, `id_user` LIMIT %d",
        {pattern, pattern, pattern, accounts_listed}, [&] {
            found.push_back(AccountRow{to_int(column(link, 0)), column(link, 1), column(link, 2),
                                       column(link, 3), to_int(column(link, 4)), to_int(column(link, 5))});
        });
    if (done) {
        accounts = std::move(found);
    }
    return done;
}

AccountOutcome create_account(DbLink& link, const NewAccount& account) {
    LinkScope scope(link);
    AccountOutcome outcome = AccountOutcome::Failed;
    const bool written = in_transaction(link, [&] {
        std::string taken;
        if (!first_value(link, "SELECT COUNT(*) FROM `tab_user` WHERE `login_user`='%s' FOR UPDATE",
                         {account.login}, taken)) {
            return false;
        }
        if (to_int(taken.c_str()) > 0) {
            outcome = AccountOutcome::LoginTaken;
            return false;
        }
        free_result(link);
        return run(
            link,
            "INSERT INTO `tab_user` (`login_user`, `pass_user`, `status_user`, `temps_user`, `nom_user`, "
            "`prenom_user`) VALUES ('%s', '%s', '%d', '%d', '%s', '%s')",
            {account.login, account.digest, account.status, account.allowance, account.surname,
             account.first_name});
    });
    return written ? AccountOutcome::Done : outcome;
}

bool change_account(DbLink& link, int id_user, const AccountChange& change) {
    LinkScope scope(link);
    return in_transaction(link, [&] {
        return (!change.allowance_changed ||
                run(link, "UPDATE `tab_user` SET `temps_user`='%d' WHERE `id_user`='%d'",
                    {change.allowance, id_user})) &&
               (!change.status_changed ||
                run(link, "UPDATE `tab_user` SET `status_user`='%d' WHERE `id_user`='%d'",
                    {change.status, id_user})) &&
               (change.digest.empty() ||
                run(link, "UPDATE `tab_user` SET `pass_user`='%s' WHERE `id_user`='%d'",
                    {change.digest, id_user}));
    });
}

bool read_welcome_messages(DbLink& link, int id_computer, WelcomeMessages& messages) {
    LinkScope scope(link);
    WelcomeMessages read;
    // The first column of the composed statement's first row into `into`, `found` set when there is
    // one; false when the statement failed.
    const auto first_text = [&link](std::string& into, bool* found) {
        switch (first_row(link, true)) {
        case FirstRow::Present:
            into = column(link, 0);
            if (found != nullptr) {
                *found = true;
            }
            break;
        case FirstRow::Absent:
            break;
        case FirstRow::Failed:
            return false;
        }
        free_result(link);
        return true;
    };
    // The station's own statement, newest first, for the network and for the space.
    const char* const newest =
        "SELECT `corp_message` FROM `tab_message_kalimo` WHERE `espace_message`='%s' AND "
        "`status_message`='0' ORDER BY `id_message` DESC LIMIT 1";
    if (!compose(
            link,
            "SELECT s.`id_espace` FROM `tab_computer` c JOIN `tab_salle` s ON s.`id_salle` = c.`id_salle` "
            "WHERE c.`id_computer`='%d'",
            {id_computer}) ||
        !first_text(read.space_id, nullptr) || !compose(link, newest, {"0"}) ||
        !first_text(read.network, &read.network_shown)) {
        return false;
    }
    if (!read.space_id.empty() &&
        (!compose(link, newest, {read.space_id}) || !first_text(read.space, &read.space_shown))) {
        return false;
    }
    messages = read;
    return true;
}

namespace {

bool withdraw_in(DbLink& link, const std::string& scope) {
    return run(link,
               "UPDATE `tab_message_kalimo` SET `status_message`='1' WHERE `espace_message`='%s' AND "
               "`status_message`='0'",
               {scope});
}

} // namespace

bool publish_message(DbLink& link, const std::string& scope, const std::string& text) {
    LinkScope scope_link(link);
    return in_transaction(link, [&] {
        const char* const insert = "INSERT INTO `tab_message_kalimo` (`corp_message`, `espace_message`, "
                                   "`status_message`) VALUES ('%s', '%s', '0')";
        return withdraw_in(link, scope) && run(link, insert, {text, scope});
    });
}

bool withdraw_messages(DbLink& link, const std::string& scope) {
    LinkScope scope_link(link);
    return withdraw_in(link, scope);
}
