#include "fonction/config_files.h"
#include "fonction/conversion.h"
#include "fonction/setup_queries.h"
#include "tests/support/fake_platform.h"
#include "tests/support/test_database.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <unistd.h>
#include <vector>

namespace {

class SetupQueries : public ::testing::Test {
  protected:
    void SetUp() override {
        REQUIRE_SERVER();
        db = std::make_unique<TestDatabase>();
        db->write_database_file();
    }
    int add_computer(const std::string& name, const std::string& mac, const std::string& usage = "0") {
        db->exec("INSERT INTO tab_computer (nom_computer, adresse_mac_computer, usage_computer) VALUES (" +
                 sql_quoted(name) + ", " + sql_quoted(mac) + ", " + usage + ")");
        return static_cast<int>(db->insert_id());
    }
    std::vector<std::string> record(int id) {
        return db
            ->rows("SELECT usage_computer, adresse_mac_computer, adresse_ip_computer, nom_hote_computer FROM "
                   "tab_computer WHERE id_computer=" +
                   std::to_string(id))
            .at(0);
    }
    void lose_the_server() { db->write_database_file("kalimo", "not the password"); }

    WorkingFolder folder;
    FakePlatform system;
    std::unique_ptr<TestDatabase> db;
    DbLink link;
};

} // namespace

TEST_F(SetupQueries, ComputerUsageReadsTheRowOrReportsThatThereIsNone) {
    const int staff = add_computer("Poste-01", "00-1A-2B-3C-4D-5E", "2");
    int usage = -1;
    int found = -1;
    computer_usage(link, staff, usage, found);
    EXPECT_EQ(usage, 2);
    EXPECT_EQ(found, 1);

    usage = 7;
    found = 9;
    computer_usage(link, staff + 100, usage, found);
    EXPECT_EQ(usage, 0);
    EXPECT_EQ(found, 0);

    lose_the_server();
    usage = 7;
    found = 9;
    computer_usage(link, staff, usage, found);
    EXPECT_EQ(usage, 7) << "no server: the outputs stay as the caller set them";
    EXPECT_EQ(found, 9);
    EXPECT_EQ(db->open_connections(), 0);
}

TEST_F(SetupQueries, AUsageThatIsNotAnIntegerIsAConversionErrorAndTheLinkIsClosed) {
    const int id = add_computer("Poste-01", "", "NULL");
    int usage = 0;
    int found = 0;
    EXPECT_THROW(computer_usage(link, id, usage, found), ConversionError);
    EXPECT_EQ(link.handle, nullptr);
    EXPECT_EQ(db->open_connections(), 0);
}

TEST_F(SetupQueries, FreeRecordsAreTheRowsWithoutMacInServerOrder) {
    add_computer("Poste-01", "00-1A-2B-3C-4D-5E", "1");
    add_computer("Poste-02", "");
    add_computer("Poste \"B\" d'Anne\\", "");
    add_computer("Poste-é 100%", "");
    int count = -1;
    count_free_computers(link, count);
    ASSERT_EQ(count, 3);
    const std::vector<std::string> expected = {"Poste-02", "Poste \"B\" d'Anne\\", "Poste-\xE9 100%"};
    for (int index = 0; index < count; ++index) {
        FixedText<256> name("kept");
        free_computer_name(link, index, name);
        EXPECT_EQ(name.str(), expected[static_cast<std::size_t>(index)]) << "row " << index;
    }
    FixedText<256> past("kept");
    free_computer_name(link, 3, past);
    EXPECT_EQ(past.str(), "") << "no row n: an empty text";
    FixedText<256> negative("kept");
    free_computer_name(link, -1, negative);
    EXPECT_EQ(negative.str(), "");
    EXPECT_EQ(db->open_connections(), 0);
}

TEST_F(SetupQueries, FreeRecordsWithNoneLeftOrNoServer) {
    add_computer("Poste-01", "00-1A-2B-3C-4D-5E", "1");
    int count = -1;
    count_free_computers(link, count);
    EXPECT_EQ(count, 0);
    FixedText<256> name("kept");
    free_computer_name(link, 0, name);
    EXPECT_EQ(name.str(), "");

    add_computer("Poste-02", "");
    lose_the_server();
    count = -1;
    count_free_computers(link, count);
    EXPECT_EQ(count, -1);
    name = "kept";
    free_computer_name(link, 0, name);
    EXPECT_EQ(name.str(), "kept");
}

TEST_F(SetupQueries, TheUpdateBindsTheNamedRecordOnlyAndWritesTheStationFile) {
    const int chosen = add_computer("Poste-02", "");
    const int other = add_computer("Poste-03", "");
    const int result =
        update_computer_record(link, "Poste-02", 2, "00-1A-2B-3C-4D-5E", "192.168.10.21", "poste-test");
    EXPECT_EQ(result, UpdateRun);
    EXPECT_EQ(record(chosen),
              (std::vector<std::string>{"2", "00-1A-2B-3C-4D-5E", "192.168.10.21", "poste-test"}));
    EXPECT_EQ(record(other), (std::vector<std::string>{"0", "", "", ""}));
    EXPECT_EQ(folder.read_file("Configuration_Poste_MAC.init"), "00-1A-2B-3C-4D-5E");
    EXPECT_EQ(db->open_connections(), 0);
}

TEST_F(SetupQueries, HostileTextsAreStoredAsTheyAre) {
    const int chosen = add_computer("Poste \"B\" d'Anne\\", "");
    const int lookalike = add_computer("Poste \"B\" d", "");
    const int result = update_computer_record(link, "Poste \"B\" d'Anne\\", 1, "0'1\\2%s-\xE9", "10.0.0.'1",
                                              "h\\o'st%d \xE9t\xE9");
    EXPECT_EQ(result, UpdateRun);
    EXPECT_EQ(record(chosen), (std::vector<std::string>{"1", "0'1\\2%s-é", "10.0.0.'1", "h\\o'st%d été"}));
    EXPECT_EQ(record(lookalike)[1], "");
    EXPECT_EQ(folder.read_file("Configuration_Poste_MAC.init"), "0'1\\2%s-\xE9");
}

TEST_F(SetupQueries, AnUnknownNameIsAcceptedAndChangesNothing) {
    const int free = add_computer("Poste-02", "");
    const int result =
        update_computer_record(link, "Choisissez le nom du poste ...", 1, "choisissez votre adresse mac ...",
                               "192.168.10.21", "poste-test");
    EXPECT_EQ(result, UpdateRun);
    EXPECT_EQ(record(free), (std::vector<std::string>{"0", "", "", ""}));
    EXPECT_EQ(folder.read_file("Configuration_Poste_MAC.init"), "choisissez votre adresse mac ...");
}

TEST_F(SetupQueries, ARefusedUpdateAndALostServerHaveTheirOwnResults) {
    const int free = add_computer("Poste-02", "");
    db->exec("CREATE TRIGGER refuse_binding BEFORE UPDATE ON tab_computer FOR EACH ROW "
             "SIGNAL SQLSTATE '45000' SET MESSAGE_TEXT = 'refused'");
    EXPECT_EQ(update_computer_record(link, "Poste-02", 1, "00-1A-2B-3C-4D-5E", "192.168.10.21", "poste-test"),
              UpdateRefused);
    EXPECT_EQ(record(free)[1], "");
    EXPECT_EQ(folder.read_file("Configuration_Poste_MAC.init"), "00-1A-2B-3C-4D-5E");

    db->exec("DROP TRIGGER refuse_binding");
    lose_the_server();
    std::remove("Configuration_Poste_MAC.init");
    EXPECT_EQ(update_computer_record(link, "Poste-02", 1, "00-1A-2B-3C-4D-55", "192.168.10.21", "poste-test"),
              UpdateNotConnected);
    EXPECT_EQ(record(free)[1], "");
    EXPECT_EQ(folder.read_file("Configuration_Poste_MAC.init"), "00-1A-2B-3C-4D-55")
        << "the station file is written before the server is asked";
    EXPECT_EQ(db->open_connections(), 0);
}
