#include "fonction/config_files.h"
#include "fonction/db_link.h"
#include "fonction/session_queries.h"
#include "fonction/setup_queries.h"
#include "fonction/station_queries.h"
#include "tests/support/fake_platform.h"
#include "tests/support/test_database.h"

#include <gtest/gtest.h>

namespace {

class DbLinkTest : public ::testing::Test {
  protected:
    void SetUp() override {
        REQUIRE_SERVER();
        db = std::make_unique<TestDatabase>();
        db->write_database_file();
    }
    WorkingFolder folder;
    FakePlatform system;
    std::unique_ptr<TestDatabase> db;
    DbLink link;
};

} // namespace

TEST_F(DbLinkTest, ConnectsFromTheFileAndClosesEveryTime) {
    int status = -1;
    open_link(link, status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(db->open_connections(), 1);
    close_link(link);
    EXPECT_EQ(link.handle, nullptr);
    EXPECT_EQ(db->open_connections(), 0);
}

TEST_F(DbLinkTest, WrongCredentialsUnknownDatabaseOrNoFileAreNotConnected) {
    int status = -1;
    db->write_database_file("kalimo", "wrong password");
    open_link(link, status);
    EXPECT_EQ(status, 1);
    close_link(link);

    folder.write_file("Configuration_Base_de_donnee.init",
                      "no_such_database\r\n127.0.0.1\r\nkalimo\r\nkalimo");
    open_link(link, status);
    EXPECT_EQ(status, 1);
    close_link(link);

    std::remove("Configuration_Base_de_donnee.init");
    status = -1;
    open_link(link, status);
    EXPECT_EQ(status, 1);
    EXPECT_FALSE(run(link, "SELECT 1", {})) << "a statement on a link that is not connected fails";
    close_link(link);
}

TEST_F(DbLinkTest, EditingTheFileBetweenOperationsChangesTheServerUsed) {
    db->exec("INSERT INTO tab_computer (nom_computer, adresse_mac_computer, usage_computer) VALUES ('P1', "
             "'00-00-00-00-00-01', 1)");
    int id = 0;
    int status = -1;
    find_computer_by_mac(link, "00-00-00-00-00-01", id, status);
    EXPECT_EQ(status, 0);
    EXPECT_GT(id, 0);
    db->write_database_file("kalimo", "not the password");
    id = 0;
    find_computer_by_mac(link, "00-00-00-00-00-01", id, status);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(id, 0);
}

// The worker's links keep one connection across operations, its session relaxed once, for as long as
// the database file says the same; a changed file (a set-up, a moved server) is honoured at the next
// operation, and the old connection is not left behind.
TEST_F(DbLinkTest, AKeptLinkServesOperationsOnOneConnectionUntilTheDatabaseFileChanges) {
    link.keep_open = true;
    // The connection an operation ran on, its session's sql_mode and account; {"!"} when not connected.
    const auto session = [this] {
        int status = 1;
        LinkScope scope(link, status);
        if (status != 0 || !run(link, "SELECT CONNECTION_ID(), @@SESSION.sql_mode, CURRENT_USER()", {}) ||
            !store_result(link) || fetch_row(link) != Fetch::Row) {
            return std::vector<std::string>{"!"};
        }
        return std::vector<std::string>{column(link, 0), column(link, 1), column(link, 2)};
    };
    const std::vector<std::string> first = session();
    ASSERT_EQ(first.size(), 3u);
    EXPECT_TRUE(report_station_alive(link, 1)) << "a write relaxes the session first";
    const std::vector<std::string> again = session();
    EXPECT_EQ(again, (std::vector<std::string>{first[0], "", first[2]}))
        << "the same connection, still relaxed";
    EXPECT_EQ(db->open_connections(1), 1);

    const ServerAccess access = ServerAccess::from_environment();
    db->write_database_file(access.user, access.password);
    const std::vector<std::string> other = session();
    ASSERT_EQ(other.size(), 3u);
    EXPECT_NE(other[0], first[0]);
    EXPECT_EQ(other[1], first[1]) << "a new session, in the server's mode";
    EXPECT_NE(other[2], first[2]) << "the account the file names now";
    db->write_database_file(access.station_user, "not the password");
    EXPECT_EQ(session(), std::vector<std::string>{"!"});
    EXPECT_EQ(link.handle, nullptr);
    EXPECT_EQ(db->open_connections(), 0);
}

TEST_F(DbLinkTest, TextValuesAreEscapedAndTheTemplateIsKept) {
    LinkScope scope(link);
    ASSERT_TRUE(compose(link, "SELECT '%s', '%d', '%02d', '%04d', '%lu', '%c' ;",
                        {"L'Atelier \\ %s \"x\"", -5, 7, 42, 86399UL, SqlValue::character('\'')}));
    // A plain read runs in the server's own mode, and is escaped for it: where backslashes are plain
    // characters, a quote is doubled.
    if (test_server_mode().find("NO_BACKSLASH_ESCAPES") != std::string::npos) {
        EXPECT_EQ(link.statement.str(),
                  "SELECT 'L''Atelier \\ %s \"x\"', '-5', '07', '0042', '86399', '''' ;");
    } else {
        EXPECT_EQ(link.statement.str(),
                  "SELECT 'L\\'Atelier \\\\ %s \\\"x\\\"', '-5', '07', '0042', '86399', '\\'' ;");
    }
    ASSERT_TRUE(run_statement(link));
    ASSERT_TRUE(store_result(link));
    ASSERT_EQ(fetch_row(link), Fetch::Row);
    EXPECT_STREQ(column(link, 0), "L'Atelier \\ %s \"x\"");
    EXPECT_STREQ(column(link, 5), "'");
}

TEST_F(DbLinkTest, EachStatementIsEscapedForTheModeItRunsIn) {
    const std::string server_mode = db->scalar("SELECT @@GLOBAL.sql_mode");
    const std::string value = "\\' OR 1=1 -- \" %s";
    LinkScope scope(link);
    // A plain read keeps the server's mode, whatever its values hold: no extra round trip.
    ASSERT_TRUE(run(link, "SELECT '%s', @@SESSION.sql_mode", {value}));
    ASSERT_TRUE(store_result(link));
    ASSERT_EQ(fetch_row(link), Fetch::Row);
    EXPECT_EQ(column(link, 0), value);
    EXPECT_EQ(column(link, 1), server_mode);
    // A template with double quotes relaxes the session before its values are escaped.
    ASSERT_TRUE(run(link, "SELECT \"%s\", @@SESSION.sql_mode", {value}));
    ASSERT_TRUE(store_result(link));
    ASSERT_EQ(fetch_row(link), Fetch::Row);
    EXPECT_EQ(column(link, 0), value);
    EXPECT_STREQ(column(link, 1), "");
}

TEST_F(DbLinkTest, PiecesEscapedForAnotherModeAreNeitherJoinedNorSent) {
    LinkScope scope(link);
    // The head is a plain read, escaped for the server's mode; the tail's template relaxes the session.
    ASSERT_TRUE(compose(link, link.statement, "SELECT '%s'", {"l'un"}));
    ASSERT_TRUE(compose(link, link.statement_tail, " UNION SELECT '%s'", {"l'autre"}));
    EXPECT_FALSE(run_statement(link)) << "the head was escaped for the mode the session has left";
    EXPECT_FALSE(append_tail(link));
    EXPECT_TRUE(link.statement.empty());
    // Composed again, the head is escaped for the relaxed session, as the tail is.
    ASSERT_TRUE(compose(link, link.statement, "SELECT '%s'", {"l'un"}));
    ASSERT_TRUE(append_tail(link));
    ASSERT_TRUE(run_statement(link));
    ASSERT_TRUE(store_result(link));
    ASSERT_EQ(fetch_row(link), Fetch::Row);
    EXPECT_STREQ(column(link, 0), "l'un");
    ASSERT_EQ(fetch_row(link), Fetch::Row);
    EXPECT_STREQ(column(link, 0), "l'autre");
}

TEST_F(DbLinkTest, AStatementThatWouldNotFitIsRefusedNotCut) {
    LinkScope scope(link);
    // "SELECT ''" takes 9 of the 2 999 characters the statement holds.
    EXPECT_TRUE(compose(link, "SELECT '%s'", {std::string(2990, 'a')}));
    EXPECT_EQ(link.statement.size(), 2999u);
    EXPECT_FALSE(compose(link, "SELECT '%s'", {std::string(2991, 'a')}));
    EXPECT_TRUE(link.statement.empty());
    EXPECT_FALSE(run_statement(link)) << "nothing is sent";
    // Quotes double in length when escaped: 1 400 of them no longer fit.
    EXPECT_FALSE(compose(link, "SELECT '%s'", {std::string(1500, '\'')}));
    EXPECT_TRUE(compose(link, "SELECT '%s'", {std::string(1400, 'b')}));
}

TEST_F(DbLinkTest, TemplateAndValuesMustAgree) {
    LinkScope scope(link);
    EXPECT_FALSE(compose(link, "SELECT '%d'", {"text"}));
    EXPECT_FALSE(compose(link, "SELECT '%s' '%s'", {"one"}));
    EXPECT_FALSE(compose(link, "SELECT 1", {"extra"}));
    EXPECT_TRUE(compose(link, "SELECT 100%%", {}));
    EXPECT_EQ(link.statement.str(), "SELECT 100%");
}

TEST_F(DbLinkTest, Latin1BytesRoundTripThroughTheServer) {
    db->exec("INSERT INTO tab_espace (nom_espace) VALUES ('Médiathèque €uro')");
    LinkScope scope(link);
    ASSERT_TRUE(run(link, "SELECT `nom_espace` FROM `tab_espace`", {}));
    ASSERT_TRUE(use_result(link));
    ASSERT_EQ(fetch_row(link), Fetch::Row);
    EXPECT_STREQ(column(link, 0), "M\xe9\x64iath\xe8que \x80uro");
}

TEST_F(DbLinkTest, NullReadsAsEmptyText) {
    db->exec("INSERT INTO tab_computer (nom_computer) VALUES (NULL)");
    LinkScope scope(link);
    ASSERT_TRUE(run(link, "SELECT `nom_computer` FROM `tab_computer`", {}));
    ASSERT_TRUE(store_result(link));
    ASSERT_EQ(fetch_row(link), Fetch::Row);
    EXPECT_STREQ(column(link, 0), "");
    EXPECT_STREQ(column(link, 7), "") << "a column past the end is empty, not a crash";
    EXPECT_EQ(fetch_row(link), Fetch::End);
}

// Every visitor can read the stations' password; these are what it must not let them do. The
// station's own operations all run as this account in every database test.
TEST_F(DbLinkTest, TheStationsAccountIsRefusedWhatNoStationStatementNeeds) {
    // Another database of the same server, which the role was never given.
    const std::string other = db->name() + "_other";
    db->exec("CREATE DATABASE `" + other + "`; CREATE TABLE `" + other +
             "`.`tab_user` (`login_user` VARCHAR(20) PRIMARY KEY)");
    struct Drop {
        TestDatabase& db;
        std::string sql;
        ~Drop() { db.exec(sql); }
    } drop{*db, "DROP DATABASE `" + other + "`"};
    db->exec("INSERT INTO tab_user (login_user, status_user, temps_user) VALUES ('mdurand', 1, 60)");
    db->exec("INSERT INTO tab_inscription_user (nom_inscription_user) VALUES ('DURAND')");
    // A room's default collation, where case and trailing blanks do not count.
    db->exec(
        "ALTER TABLE tab_computer MODIFY adresse_mac_computer VARCHAR(17) COLLATE latin1_swedish_ci "
        "NOT NULL DEFAULT ''; INSERT INTO tab_resa (id_resa, status_resa) VALUES (1, 0), (2, 0), (3, 1), "
        "(4, 2); INSERT INTO tab_computer (id_computer, nom_computer, adresse_mac_computer, usage_computer) "
        "VALUES (1, 'P1', 'AA-00-00-00-00-01', 1), (2, 'P2', '', 0), (3, 'P3', '', 0)");
    // What the station does passes: heartbeat, Valider on its own record unchanged, claim of a free
    // record, its close, and its late close after staff's.
    EXPECT_TRUE(report_station_alive(link, 1));
    EXPECT_EQ(update_computer_record(link, "P1", 1, "AA-00-00-00-00-01", "10.0.0.1", "l'h\xf4te\\"),
              UpdateRun);
    EXPECT_EQ(update_computer_record(link, "P2", 1, "AA-00-00-00-00-02", "10.0.0.2", "h2"), UpdateRun);
    EXPECT_TRUE(close_session_row(link, 30, 2, 1));
    db->exec("UPDATE tab_resa SET duree_resa=10, status_resa=1 WHERE id_resa=2");
    EXPECT_TRUE(close_session_row(link, 45, 1, 2));
    constexpr unsigned int table = 1142, column = 1143, database = 1044, rule = 1644;
    const struct {
        std::string sql;
        unsigned int error;
        const char* rule = "";
    } refused[] = {
        {"UPDATE `tab_user` SET `status_user`='3'", table},
        {"UPDATE `tab_user` SET `temps_user`='9999'", table},
        {"SELECT `adresse_inscription_user` FROM `tab_inscription_user`", column},
        {"SELECT `tel_inscription_user` FROM `tab_inscription_user`", column},
        {"SELECT `tel_port_inscription_user` FROM `tab_inscription_user`", column},
        {"SELECT `mail_inscription_user` FROM `tab_inscription_user`", column},
        {"SELECT `info_inscription_user` FROM `tab_inscription_user`", column},
        {"SELECT * FROM `tab_inscription_user`", table},
        {"UPDATE `tab_resa` SET `id_user_resa`='1'", column},
        {"DELETE FROM `tab_resa`", table},
        {"DELETE FROM `tab_user`", table},
        {"TRUNCATE `tab_resa`", table},
        {"DROP TABLE `tab_city`", table},
        {"CREATE TABLE `kt_probe` (`a` INT PRIMARY KEY)", table},
        {"ALTER TABLE `tab_user` ADD `x` INT", table},
        {"SELECT `login_user` FROM `" + other + "`.`tab_user`", table},
        {"CREATE DATABASE `" + db->name() + "_x`", database},
        {"UPDATE tab_resa SET status_resa=0 WHERE id_resa=3", rule, "keeps its status"},
        {"UPDATE tab_resa SET duree_resa=5, status_resa=1 WHERE id_resa=4", rule, "keeps its status"},
        {"UPDATE tab_computer SET usage_computer=2 WHERE id_computer=1", rule, "claimed"},
        {"UPDATE tab_computer SET usage_computer=NULL WHERE id_computer=1", rule, "claimed"},
        {"UPDATE tab_computer SET adresse_mac_computer='aa-00-00-00-00-01' WHERE id_computer=1", rule,
         "claimed"},
        {"UPDATE tab_computer SET adresse_mac_computer='' WHERE id_computer=2", rule, "claimed"},
        {"UPDATE tab_computer SET usage_computer=2, adresse_mac_computer='aa-00-00-00-00-01' WHERE "
         "id_computer=3",
         rule, "no other"},
        {"UPDATE tab_computer SET usage_computer=2 WHERE id_computer=3", rule, "no other"},
        {"UPDATE tab_computer SET usage_computer=0, adresse_mac_computer='3' WHERE id_computer=3", rule,
         "usage 1 or 2"},
        {"UPDATE tab_computer SET usage_computer=3, adresse_mac_computer='3' WHERE id_computer=3", rule,
         "usage 1 or 2"},
    };
    for (const auto& statement : refused) {
        LinkScope scope(link);
        EXPECT_FALSE(run(link, statement.sql.c_str(), {})) << statement.sql;
        EXPECT_EQ(mysql_errno(link.handle), statement.error) << statement.sql;
        EXPECT_NE(std::string(mysql_error(link.handle)).find(statement.rule), std::string::npos)
            << statement.sql;
    }
    EXPECT_EQ(db->rows("SELECT status_user, temps_user FROM tab_user"),
              (std::vector<std::vector<std::string>>{{"1", "60"}}));
    EXPECT_EQ(db->count("tab_inscription_user"), 1);
    EXPECT_EQ(db->count("tab_city"), 0) << "the table is still there";
    EXPECT_EQ(
        db->scalar("SELECT GROUP_CONCAT(usage_computer, adresse_mac_computer, lastetat_computer ORDER BY "
                   "id_computer) FROM tab_computer"),
        "1AA-00-00-00-00-0137800,1AA-00-00-00-00-020,00");
    EXPECT_EQ(db->rows("SELECT duree_resa, status_resa FROM tab_resa ORDER BY id_resa"),
              (std::vector<std::vector<std::string>>{{"30", "2"}, {"45", "1"}, {"0", "1"}, {"0", "2"}}));
    // The room's tools are not held by those rules.
    for (const auto& statement : refused) {
        if (statement.error == rule) {
            EXPECT_NO_THROW(db->exec(statement.sql)) << statement.sql;
        }
    }
}

// What a Galera cluster replicates: InnoDB tables, each with a primary key. On the cluster, its
// strict mode refuses the rest, so every database test that runs there runs the station's statements
// under it.
TEST_F(DbLinkTest, EveryTableIsOneAClusterReplicates) {
    const std::string schema = sql_quoted(db->name());
    EXPECT_GE(
        std::stoi(db->scalar("SELECT COUNT(*) FROM information_schema.TABLES WHERE TABLE_SCHEMA=" + schema)),
        7);
    EXPECT_EQ(db->rows("SELECT TABLE_NAME, ENGINE FROM information_schema.TABLES WHERE TABLE_SCHEMA=" +
                       schema + " AND ENGINE <> 'InnoDB'"),
              (std::vector<std::vector<std::string>>{}));
    EXPECT_EQ(db->rows("SELECT t.TABLE_NAME FROM information_schema.TABLES t LEFT JOIN "
                       "information_schema.TABLE_CONSTRAINTS c ON c.TABLE_SCHEMA=t.TABLE_SCHEMA AND "
                       "c.TABLE_NAME=t.TABLE_NAME AND c.CONSTRAINT_TYPE='PRIMARY KEY' WHERE t.TABLE_SCHEMA=" +
                       schema + " AND c.CONSTRAINT_NAME IS NULL"),
              (std::vector<std::vector<std::string>>{}));
    if (test_cluster::folder().empty()) {
        return;
    }
    const std::string mode = "," + db->scalar("SELECT @@GLOBAL.wsrep_mode") + ",";
    EXPECT_NE(mode.find(",STRICT_REPLICATION,"), std::string::npos) << mode;
    EXPECT_NE(mode.find(",REQUIRED_PRIMARY_KEY,"), std::string::npos) << mode;
    EXPECT_EQ(db->rows("SELECT @@GLOBAL.binlog_format, @@GLOBAL.innodb_autoinc_lock_mode"),
              (std::vector<std::vector<std::string>>{{"ROW", "2"}}));
    for (const char* refused :
         {"CREATE TABLE `kt_no_key` (`a` INT)", "CREATE TABLE `kt_other` (`a` INT PRIMARY KEY) "
                                                "ENGINE=MyISAM"}) {
        EXPECT_THROW(db->exec(refused), std::runtime_error) << refused;
    }
}
