#include "fonction/session_record.h"
#include "tests/support/test_database.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

namespace {

const char* const kRecord = "Session_en_cours.init";
const char* const kTemporary = "Session_en_cours.init.tmp";

// Every field a different value, so that a swap of two fields shows.
SessionRecord full_record() {
    SessionRecord record;
    record.open = OpenSession{4711,
                              815,
                              1,
                              LocalTime{2024, 2, 29, 23, 59, 7},
                              LocalTime{2024, 3, 1, 0, 41, 58},
                              ProcessClock{86399123, "0f3b2c1d-77aa-4bbb-8ccc-1234567890ab"}};
    record.pending = {PendingClose{42, 1, 2147483647, 77}, PendingClose{0, 2, 9, 2147483647}};
    return record;
}

const std::string kFullRecordBytes = "Kalimo session record 3\r\n"
                                     "open 4711 815 1 2024-02-29 23:59:07 2024-03-01 00:41:58 86399123 "
                                     "0f3b2c1d-77aa-4bbb-8ccc-1234567890ab\r\n"
                                     "pending 42 1 2147483647 77\r\n"
                                     "pending 0 2 9 2147483647\r\n"
                                     "end\r\n";

class SessionRecordFile : public ::testing::Test {
  protected:
    RecordRead read() { return read_session_record(record); }
    WorkingFolder folder;
    SessionRecord record;
};

} // namespace

TEST_F(SessionRecordFile, ARoundTripKeepsEveryFieldInTheDocumentedFormat) {
    ASSERT_TRUE(write_session_record(full_record()));
    EXPECT_EQ(folder.read_file(kRecord), kFullRecordBytes);
    EXPECT_FALSE(folder.exists(kTemporary));
    ASSERT_EQ(read(), RecordRead::Read);
    ASSERT_TRUE(record.open);
    EXPECT_EQ(record.open->id_resa, 4711);
    EXPECT_EQ(record.open->id_user, 815);
    EXPECT_EQ(record.open->closing_status, 1);
    const LocalTime& o = record.open->opened;
    EXPECT_EQ((std::vector<int>{o.year, o.month, o.day, o.hour, o.minute, o.second}),
              (std::vector<int>{2024, 2, 29, 23, 59, 7}));
    const LocalTime& a = record.open->last_alive;
    EXPECT_EQ((std::vector<int>{a.year, a.month, a.day, a.hour, a.minute, a.second}),
              (std::vector<int>{2024, 3, 1, 0, 41, 58}));
    EXPECT_EQ(record.open->opened_clock.ms, 86399123);
    EXPECT_EQ(record.open->opened_clock.boot, "0f3b2c1d-77aa-4bbb-8ccc-1234567890ab");
    ASSERT_EQ(record.pending.size(), 2u);
    EXPECT_EQ(record.pending[0].duration_minutes, 42);
    EXPECT_EQ(record.pending[0].closing_status, 1);
    EXPECT_EQ(record.pending[0].id_resa, 2147483647);
    EXPECT_EQ(record.pending[0].id_user, 77);
    EXPECT_EQ(record.pending[1].duration_minutes, 0);
    EXPECT_EQ(record.pending[1].closing_status, 2);
    EXPECT_EQ(record.pending[1].id_resa, 9);
    EXPECT_EQ(record.pending[1].id_user, 2147483647);

    // Only closes, then only an open session: each part stands alone.
    SessionRecord closes_only;
    closes_only.pending = {PendingClose{3, 1, 5, 6}};
    ASSERT_TRUE(write_session_record(closes_only));
    ASSERT_EQ(read(), RecordRead::Read);
    EXPECT_FALSE(record.open);
    ASSERT_EQ(record.pending.size(), 1u);
    EXPECT_EQ(record.pending[0].id_resa, 5);
    SessionRecord open_only;
    open_only.open = full_record().open;
    ASSERT_TRUE(write_session_record(open_only));
    ASSERT_EQ(read(), RecordRead::Read);
    EXPECT_TRUE(record.open);
    EXPECT_TRUE(record.pending.empty());
}

TEST_F(SessionRecordFile, AnEmptyRecordRemovesTheFileAndNoFileReadsAsAbsent) {
    ASSERT_TRUE(write_session_record(full_record()));
    ASSERT_TRUE(write_session_record(SessionRecord{}));
    EXPECT_FALSE(folder.exists(kRecord));
    record = full_record();
    EXPECT_EQ(read(), RecordRead::Absent);
    EXPECT_TRUE(record.empty()) << "what the caller passed in is not taken for a record";
    EXPECT_TRUE(write_session_record(SessionRecord{})) << "nothing to remove is not a failure";
    ASSERT_TRUE(write_session_record(full_record()));
    remove_session_record();
    EXPECT_EQ(read(), RecordRead::Absent);
}

TEST_F(SessionRecordFile, AnythingButAWholeRecordOfThisVersionIsUnreadable) {
    const std::string head = "Kalimo session record 3\r\n";
    const std::string open = "open 4711 815 1 2024-02-29 23:59:07 2024-03-01 00:41:58 5 -\r\n";
    std::string all_bytes;
    for (int b = 0; b < 256; ++b) {
        all_bytes.push_back(static_cast<char>(b));
    }
    std::string too_many = head;
    for (std::size_t i = 0; i <= max_pending_closes; ++i) {
        too_many += "pending 1 1 " + std::to_string(i + 1) + " 3\r\n";
    }
    too_many += "end\r\n";
    const std::vector<std::string> files = {
        "",
        all_bytes,
        std::string(3 * 1024 * 1024, 'A'),
        head + std::string(1024 * 1024, '\0'),
        "kalimo\r\n127.0.0.1\r\nstation\r\nsecret", // a configuration file copied over it
        "Kalimo session record 4\r\n" + open + "end\r\n",
        "kalimo session record 3\r\n" + open + "end\r\n",
        head + open,                    // no end line
        head + "end\r\ntrailing\r\n",   // something after the end
        head + open + open + "end\r\n", // two open sessions
        head + "open 4711 815 1 2024-02-29 23:59:07\r\nend\r\n",
        head + "open 4711 815 1 2024-02-29 23:59:07 2024-03-01 00:41:58\r\nend\r\n", // no process clock
        head + "open 4711 815 1 2024-02-29 23:59:07 2024-03-01 00:41:58 -5 -\r\nend\r\n",
        head + "open 4711 815 1 2024-02-29 23:59:07 2024-03-01 00:41:58 5 ../etc\r\nend\r\n",
        head + "open 4711 815 1 2024-02-29 23:59:07 2024-03-01 00:41:58 5 \r\nend\r\n",
        head + "open 4711 815 1 2024-02-29 23:59:07 2024-03-01 00:41:58 99999999999999999999 -\r\nend\r\n",
        head + "open 0 815 1 2024-02-29 23:59:07 2024-03-01 00:41:58\r\nend\r\n",
        head + "open 4711 -815 1 2024-02-29 23:59:07 2024-03-01 00:41:58\r\nend\r\n",
        head + "open 4711 815 3 2024-02-29 23:59:07 2024-03-01 00:41:58\r\nend\r\n",
        head + "open 4711 815 1 2023-02-29 23:59:07 2024-03-01 00:41:58\r\nend\r\n", // not a leap year
        head + "open 4711 815 1 2024-04-31 23:59:07 2024-03-01 00:41:58\r\nend\r\n",
        head + "open 4711 815 1 2024-02-29 24:00:00 2024-03-01 00:41:58\r\nend\r\n",
        head + "open 4711 815 1 2024-02-29 23:59:07 2024-13-01 00:41:58\r\nend\r\n",
        head + "open 4711 815 1 2024-2-29 23:59:07 2024-03-01 00:41:58\r\nend\r\n",
        head + "open 4711  815 1 2024-02-29 23:59:07 2024-03-01 00:41:58\r\nend\r\n",
        head + "pending 42 1 2147483648 3\r\nend\r\n",
        head + "pending 42 1 99999999999999999999 3\r\nend\r\n",
        head + "pending +42 1 7 3\r\nend\r\n",
        head + "pending 42 0 7 3\r\nend\r\n",
        head + "pending 42 1 7\r\nend\r\n",   // no account
        head + "pending 42 1 7 0\r\nend\r\n", // nobody's
        head + "pending 42 1 0x7 3\r\nend\r\n",
        head + "pending 42 1 7 3 \r\nend\r\n",
        head + "pending 4\xc2\xb2 1 7 3\r\nend\r\n",
        head + "pending 42 1 7 '; DROP TABLE tab_resa; --\r\nend\r\n",
        head + "fermer 42 1 7\r\nend\r\n",
        too_many,
    };
    for (const std::string& bytes : files) {
        folder.write_file(kRecord, bytes);
        record = full_record();
        EXPECT_EQ(read(), RecordRead::Unreadable) << bytes.substr(0, 80);
        EXPECT_TRUE(record.empty()) << bytes.substr(0, 80);
    }
    // A record cut anywhere, as a write that was not atomic would leave it.
    for (std::size_t length = 0; length < kFullRecordBytes.size(); ++length) {
        folder.write_file(kRecord, kFullRecordBytes.substr(0, length));
        EXPECT_EQ(read(), RecordRead::Unreadable) << "cut at " << length;
    }
    folder.write_file(kRecord, head + "pending 42 1 7 3\nend\n");
    EXPECT_EQ(read(), RecordRead::Read) << "line feeds alone, as an editor may leave them";
}

TEST_F(SessionRecordFile, ARecordOfTheFirstVersionKeepsItsOpenSessionAndDropsItsUncheckableCloses) {
    folder.write_file(kRecord, "Kalimo session record 1\r\n"
                               "open 4711 815 1 2024-02-29 23:59:07 2024-03-01 00:41:58\r\n"
                               "pending 42 1 7\r\n"
                               "end\r\n");
    ASSERT_EQ(read(), RecordRead::Read);
    ASSERT_TRUE(record.open);
    EXPECT_EQ(record.open->id_user, 815);
    EXPECT_TRUE(record.pending.empty());
    folder.write_file(kRecord, "Kalimo session record 1\r\npending 42 1 7 3\r\nend\r\n");
    EXPECT_EQ(read(), RecordRead::Unreadable) << "a first-version line is whole, or the record is not";
    // A second-version open line has no process clock: its opening on that clock is unknown.
    folder.write_file(kRecord, "Kalimo session record 2\r\n"
                               "open 4711 815 1 2024-02-29 23:59:07 2024-03-01 00:41:58\r\n"
                               "end\r\n");
    ASSERT_EQ(read(), RecordRead::Read);
    ASSERT_TRUE(record.open);
    EXPECT_EQ(record.open->opened_clock.ms, 0);
    EXPECT_EQ(record.open->opened_clock.boot, "");
    // A duration no session has is read, for the settlement to drop; the station never writes one.
    folder.write_file(kRecord, "Kalimo session record 3\r\npending 99999 1 7 3\r\nend\r\n");
    ASSERT_EQ(read(), RecordRead::Read);
    EXPECT_EQ(record.pending.at(0).duration_minutes, 99999);
    EXPECT_FALSE(write_session_record(record));
}

TEST_F(SessionRecordFile, AValueOutOfRangeIsNotWrittenAndTheRecordStaysAsItWas) {
    ASSERT_TRUE(write_session_record(full_record()));
    std::vector<SessionRecord> bad(10, full_record());
    bad[0].open->id_resa = 0;
    bad[1].open->closing_status = 0;
    bad[2].open->last_alive.day = 31; // 31 March exists, 31 February not
    bad[2].open->last_alive.month = 2;
    bad[3].pending[1].duration_minutes = -1;
    bad[4].pending[0].closing_status = 3;
    bad[5].pending.assign(max_pending_closes + 1, PendingClose{1, 1, 1, 1});
    bad[6].pending[0].id_user = 0;
    bad[7].pending[0].duration_minutes = max_settled_minutes + 1;
    bad[8].open->opened_clock.boot = "boot id"; // a space would split the line
    bad[9].open->opened_clock.ms = -1;
    for (const SessionRecord& r : bad) {
        EXPECT_FALSE(write_session_record(r));
        EXPECT_EQ(folder.read_file(kRecord), kFullRecordBytes);
    }
    EXPECT_FALSE(folder.exists(kTemporary));
}

TEST_F(SessionRecordFile, ALeftoverTemporaryFileChangesNothing) {
    ASSERT_TRUE(write_session_record(full_record()));
    // A write interrupted before its rename: longer than the next record, and garbage.
    folder.write_file(kTemporary, std::string(100000, '\xff'));
    ASSERT_EQ(read(), RecordRead::Read);
    EXPECT_EQ(record.open->id_resa, 4711);
    SessionRecord next;
    next.pending = {PendingClose{7, 1, 12, 3}};
    ASSERT_TRUE(write_session_record(next));
    EXPECT_EQ(folder.read_file(kRecord), "Kalimo session record 3\r\npending 7 1 12 3\r\nend\r\n");
    EXPECT_FALSE(folder.exists(kTemporary));
    ASSERT_EQ(read(), RecordRead::Read);
    ASSERT_EQ(record.pending.size(), 1u);
}

TEST(SessionRecordMinutes, LivedMinutesCountsWholeMinutesAcrossDaysAndClampsNonsense) {
    struct Case {
        LocalTime opened;
        LocalTime last_alive;
        int minutes;
    };
    const std::vector<Case> cases = {
        {{2026, 3, 7, 10, 0, 0}, {2026, 3, 7, 10, 42, 30}, 42},
        {{2026, 3, 7, 10, 0, 0}, {2026, 3, 7, 10, 0, 59}, 1},    // under a minute counts one
        {{2026, 3, 7, 10, 0, 0}, {2026, 3, 7, 10, 0, 0}, 1},     // died at once
        {{2026, 3, 7, 23, 50, 10}, {2026, 3, 8, 0, 20, 9}, 29},  // across midnight
        {{2025, 12, 31, 23, 30, 0}, {2026, 1, 1, 0, 15, 0}, 45}, // across the year
        {{2023, 2, 28, 23, 0, 0}, {2023, 3, 1, 1, 0, 0}, 120},   // no 29 February that year
        {{2024, 2, 28, 23, 0, 0}, {2024, 2, 29, 1, 0, 0}, 120},  // a 29 February
        {{2026, 3, 7, 23, 0, 0}, {2026, 3, 8, 22, 59, 59}, 1439},
        {{2026, 3, 7, 23, 0, 0}, {2026, 3, 8, 23, 0, 0}, 1440},
        {{2026, 3, 7, 23, 0, 0}, {2026, 3, 8, 23, 1, 0}, 1440},  // over a day: one day
        {{2026, 10, 25, 2, 50, 0}, {2026, 10, 25, 2, 10, 0}, 1}, // the clock was set back
        {{2000, 1, 1, 0, 0, 0}, {2026, 3, 7, 10, 0, 0}, 1440},   // a reset clock corrected later
        {{INT_MIN, INT_MIN, INT_MIN, INT_MIN, INT_MIN, INT_MIN},
         {INT_MAX, INT_MAX, INT_MAX, INT_MAX, INT_MAX, INT_MAX},
         1440},
        {{INT_MAX, INT_MAX, INT_MAX, INT_MAX, INT_MAX, INT_MAX},
         {INT_MIN, INT_MIN, INT_MIN, INT_MIN, INT_MIN, INT_MIN},
         1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(lived_minutes(c.opened, c.last_alive), c.minutes)
            << c.opened.day << ' ' << c.opened.hour << ':' << c.opened.minute << " -> " << c.last_alive.day
            << ' ' << c.last_alive.hour << ':' << c.last_alive.minute;
    }
    const OpenSession staff{5, 6, 2, {2026, 3, 7, 10, 0, 0}, {2026, 3, 7, 12, 0, 0}, {}};
    const PendingClose staff_close = close_of(staff);
    EXPECT_EQ((std::vector<int>{staff_close.duration_minutes, staff_close.closing_status, staff_close.id_resa,
                                staff_close.id_user}),
              (std::vector<int>{0, 2, 5, 6}));
    const OpenSession visitor{5, 6, 1, {2026, 3, 7, 10, 0, 0}, {2026, 3, 7, 12, 0, 0}, {}};
    const PendingClose visitor_close = close_of(visitor);
    EXPECT_EQ((std::vector<int>{visitor_close.duration_minutes, visitor_close.closing_status,
                                visitor_close.id_resa, visitor_close.id_user}),
              (std::vector<int>{120, 1, 5, 6}));
}
