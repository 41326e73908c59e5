#include "fonction/config_files.h"
#include "tests/support/fake_platform.h"
#include "tests/support/test_database.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

struct DatabaseValues {
    FixedText<255> name{"unchanged"};
    FixedText<255> host{"unchanged"};
    FixedText<70> user{"unchanged"};
    FixedText<70> password{"unchanged"};
    int status = -1;
    void read() { read_database_file(name, host, user, password, status); }
};

class ConfigFiles : public ::testing::Test {
  protected:
    WorkingFolder folder;
    FakePlatform system;
};

} // namespace

TEST_F(ConfigFiles, DatabaseFileIsWrittenWithCrLfAndNoFinalLineEnd) {
    int status = -1;
    write_database_file("kalimo", "10.0.0.5", "station", "s3cret", status);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(folder.read_file("Configuration_Base_de_donnee.init"),
              "kalimo\r\n10.0.0.5\r\nstation\r\ns3cret");
    DatabaseValues values;
    values.read();
    EXPECT_EQ(values.status, 1);
    EXPECT_EQ(values.name.str(), "kalimo");
    EXPECT_EQ(values.host.str(), "10.0.0.5");
    EXPECT_EQ(values.user.str(), "station");
    EXPECT_EQ(values.password.str(), "s3cret");
}

TEST_F(ConfigFiles, MissingOrEmptyDatabaseFileReadsAsMissingAndLeavesValues) {
    DatabaseValues values;
    values.read();
    EXPECT_EQ(values.status, 0);
    folder.write_file("Configuration_Base_de_donnee.init", "");
    values.read();
    EXPECT_EQ(values.status, 0);
    EXPECT_EQ(values.name.str(), "unchanged");
    EXPECT_EQ(values.password.str(), "unchanged");
}

TEST_F(ConfigFiles, MissingLinesAreEmptyValues) {
    folder.write_file("Configuration_Base_de_donnee.init", "kalimo\r\nserveur");
    DatabaseValues values;
    values.read();
    EXPECT_EQ(values.status, 1);
    EXPECT_EQ(values.host.str(), "serveur");
    EXPECT_EQ(values.user.str(), "");
    EXPECT_EQ(values.password.str(), "");
}

TEST_F(ConfigFiles, LongValuesSurviveWholeAndDoNotShiftTheNextOnes) {
    const std::string host(200, 'h');
    const std::string password = std::string(69, 'p');
    int status = 0;
    write_database_file("une_base_au_nom_tres_long", host.c_str(), "utilisateur_long_1234", password.c_str(),
                        status);
    DatabaseValues values;
    values.read();
    EXPECT_EQ(values.name.str(), "une_base_au_nom_tres_long");
    EXPECT_EQ(values.host.str(), host);
    EXPECT_EQ(values.user.str(), "utilisateur_long_1234");
    EXPECT_EQ(values.password.str(), password);
}

TEST_F(ConfigFiles, LinesBeyondCapacityAreCutWithoutShifting) {
    folder.write_file("Configuration_Base_de_donnee.init",
                      "base\r\nhote\r\n" + std::string(500, 'u') + "\r\nmotdepasse");
    DatabaseValues values;
    values.read();
    EXPECT_EQ(values.user.str(), std::string(69, 'u'));
    EXPECT_EQ(values.password.str(), "motdepasse");
}

TEST_F(ConfigFiles, LfOnlyFilesAndHostileBytesReadAsWritten) {
    folder.write_file("Configuration_Base_de_donnee.init", "base\nh\xf4te\n'; DROP TABLE x; --\n%s%n\\");
    DatabaseValues values;
    values.read();
    EXPECT_EQ(values.host.str(), "h\xf4te");
    EXPECT_EQ(values.user.str(), "'; DROP TABLE x; --");
    EXPECT_EQ(values.password.str(), "%s%n\\");
}

TEST_F(ConfigFiles, AValueWithALineBreakIsRefusedAndNothingIsWritten) {
    int status = 1;
    write_database_file("base", "hote", "user", "pass\r\nword", status);
    EXPECT_EQ(status, 0);
    EXPECT_FALSE(folder.exists("Configuration_Base_de_donnee.init"));
}

TEST_F(ConfigFiles, ReadOnlyDatabaseFileStillConfiguresTheStation) {
    folder.write_file("Configuration_Base_de_donnee.init", "base\r\nhote\r\nuser\r\npass");
    chmod("Configuration_Base_de_donnee.init", 0444);
    DatabaseValues values;
    values.read();
    EXPECT_EQ(values.status, 1);
    EXPECT_EQ(values.password.str(), "pass");
}

TEST_F(ConfigFiles, UnwritableDatabaseFileReportsFailure) {
    // A folder in the file's place cannot be opened for writing, even by root.
    mkdir("Configuration_Base_de_donnee.init", 0755);
    int status = 1;
    write_database_file("base", "hote", "user", "pass", status);
    EXPECT_EQ(status, 0);
}

TEST_F(ConfigFiles, StationFileMatchesOneOfTheAdaptersExactly) {
    system.adapters = {FakePlatform::mac(0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E),
                       FakePlatform::mac(0xAA, 0xBB, 0xCC, 0x00, 0x11, 0x22)};
    FixedText<20> mac;
    int status = -1;

    write_station_file("AA-BB-CC-00-11-22");
    EXPECT_EQ(folder.read_file("Configuration_Poste_MAC.init"), "AA-BB-CC-00-11-22");
    read_station_file(mac, status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(mac.str(), "AA-BB-CC-00-11-22");

    folder.write_file("Configuration_Poste_MAC.init", "00-1A-2B-3C-4D-5E\r\n");
    read_station_file(mac, status);
    EXPECT_EQ(status, 0) << "a trailing line end is not part of the MAC";

    folder.write_file("Configuration_Poste_MAC.init", "00-1a-2b-3c-4d-5e");
    read_station_file(mac, status);
    EXPECT_EQ(status, 1) << "lower case never matches";

    folder.write_file("Configuration_Poste_MAC.init", "00:1A:2B:3C:4D:5E");
    read_station_file(mac, status);
    EXPECT_EQ(status, 1);
}

TEST_F(ConfigFiles, StationFileMissingEmptyOrWithoutAdaptersDoesNotIdentify) {
    FixedText<20> mac;
    int status = 0;
    read_station_file(mac, status);
    EXPECT_EQ(status, 1);
    folder.write_file("Configuration_Poste_MAC.init", "");
    status = 0;
    read_station_file(mac, status);
    EXPECT_EQ(status, 1);
    folder.write_file("Configuration_Poste_MAC.init", "00-1A-2B-3C-4D-5E");
    status = 0;
    read_station_file(mac, status); // the fake has no adapter at all
    EXPECT_EQ(status, 1);
}
