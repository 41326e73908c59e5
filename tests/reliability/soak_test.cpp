// A long visitor session with its heartbeat, driven as fast as the server answers: 100 000 counter
// ticks and 20 000 beats on the fake clock. Memory, descriptors and the server's connections stay flat,
// and the server counts exactly the statements the station sent, none refused.
#include "session/compteur_temps.h"
#include "tests/reliability/private_server.h"
#include "tests/support/station_fixture.h"
#include "ui_compteur_temps.h"

#include <QDateTime>
#include <QDir>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <optional>

namespace {

long resident_kilobytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return -1;
}

long open_descriptors() {
    return static_cast<long>(
        QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot | QDir::System).size());
}

#if defined(__SANITIZE_ADDRESS__)
// AddressSanitizer keeps freed blocks in quarantine: resident memory grows by design there.
constexpr long resident_growth_allowed_kb = 512 * 1024;
#else
constexpr long resident_growth_allowed_kb = 2 * 1024;
#endif

class Soak : public StationTest {
  protected:
    void SetUp() override {
        StationTest::SetUp();
        std::string why;
        server = PrivateServer::shared(why);
        if (server == nullptr) {
            if (server_required()) {
                FAIL() << "a private MariaDB server is required: " << why;
            }
            GTEST_SKIP() << "no private MariaDB server: " << why;
        }
        host.emplace(server->host());
        with_database();
    }
    void TearDown() override {
        StationTest::TearDown();
        db.reset();
        host.reset();
    }
    void set_clock(const QDateTime& at) {
        system.now = LocalTime{at.date().year(), at.date().month(),  at.date().day(),
                               at.time().hour(), at.time().minute(), at.time().second()};
    }
    PrivateServer* server = nullptr;
    std::optional<TestHostOverride> host;
};

} // namespace

TEST_F(Soak, HundredThousandTicksAndTheirHeartbeatsLeaveNothingBehind) {
    constexpr int ticks = 100000;
    constexpr int checkpoint_every = 10000;
    // Count-down display with automatic logout and a credit longer than the soak.
    add_room("Espace Jean Moulin", "Poste-01", 1, "1, 1, 0, 0, 1, 1");
    add_user("mdurand", "soleil", 1, 2000);
    QDateTime clock(QDate(2026, 12, 9), QTime(10, 30, 0));
    set_clock(clock);
    // The station keeps its two links (the window's and the timers') open across operations, and
    // never more than those.
    const long long connections = server->connections_settled(1) + 2;
    start();
    sign_in(QStringLiteral("mdurand"), QStringLiteral("soleil"));
    ASSERT_TRUE(messages.empty());
    ASSERT_TRUE(window->Timer1.isActive());
    // The real timers stay out of the way: the test drives every tick.
    window->Timer1.blockSignals(true);
    window->Timer3.blockSignals(true);

    const long long selects = server->status("Com_select");
    const long long own_selects = server->own_selects();
    const long long updates = server->status("Com_update");
    const long long aborted = server->status("Aborted_connects");
    long first_resident = 0;
    long first_descriptors = 0;
    const auto begin = std::chrono::steady_clock::now();
    for (int tick = 1; tick <= ticks; ++tick) {
        clock = clock.addSecs(1);
        set_clock(clock);
        system.advance(1000);
        guarded(window.get(), [this] { window->sessions().Timer1Timer(); });
        if (tick % 5 == 0) {
            guarded(window.get(), [this] { window->Timer3Timer(); });
        }
        if (tick % checkpoint_every == 0) {
            SCOPED_TRACE(tick);
            const long resident = resident_kilobytes();
            const long descriptors = open_descriptors();
            if (tick == checkpoint_every) {
                first_resident = resident;
                first_descriptors = descriptors;
            }
            EXPECT_LE(resident - first_resident, resident_growth_allowed_kb) << "resident memory stays flat";
            EXPECT_LE(descriptors, first_descriptors) << "no descriptor is left open";
            EXPECT_LE(server->connections_settled(connections), connections) << "no connection is left open";
            ASSERT_TRUE(window->Timer1.isActive());
            ASSERT_TRUE(errors.empty());
        }
    }
    const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    std::printf("[ soak     ] %d ticks and %d beats in %.1f s; resident %ld kB -> %ld kB; %ld descriptors\n",
                ticks, ticks / 5, took, first_resident, resident_kilobytes(), open_descriptors());

    // One status poll per tick and one beat per five, every one taken; the checkpoints' own connection
    // counts are SELECTs too.
    EXPECT_EQ(server->status("Com_select") - selects, ticks + (server->own_selects() - own_selects));
    EXPECT_EQ(server->status("Com_update") - updates, ticks / 5);
    EXPECT_EQ(server->status("Aborted_connects") - aborted, 0);
    EXPECT_EQ(window->session.polled_status, 0);
    EXPECT_EQ(window->session.elapsed_seconds, static_cast<std::uint32_t>(ticks));
    EXPECT_EQ(window->session.remaining_seconds, 2000u * 60u - ticks);
    EXPECT_EQ(window->compteur_temps()->ui()->Compteur_Temps_parcouru->text(),
              QStringLiteral("5 h 33 min 21 s"));
    // The last beat carries the clock of the last tick: 2026-12-10 14:16:40.
    EXPECT_EQ(
        db->rows("SELECT date_lastetat_computer, lastetat_computer FROM tab_computer"),
        (std::vector<std::vector<std::string>>{{"2026-12-10", std::to_string(14 * 3600 + 16 * 60 + 40)}}));

    window->Timer1.blockSignals(false);
    window->Timer3.blockSignals(false);
    window->sessions().Compteur_Bouton_deconnexionClick();
    EXPECT_EQ(db->rows("SELECT duree_resa, status_resa FROM tab_resa"),
              (std::vector<std::vector<std::string>>{{std::to_string(ticks / 60), "1"}}));
    EXPECT_LE(server->connections_settled(connections), connections);
}
