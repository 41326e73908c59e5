// The sanitizer build must see leaks: a block nothing points to is reported, and once freed is not.
// The pointer is kept masked, so that the leak checker cannot find it while it is hidden.
#include <gtest/gtest.h>
#include <sanitizer/lsan_interface.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

constexpr std::uintptr_t mask = ~static_cast<std::uintptr_t>(0);
volatile std::uintptr_t hidden = 0;

__attribute__((noinline)) void lose_one_block() {
    auto* block = static_cast<char*>(std::malloc(4096));
    std::memset(block, 1, 4096);
    hidden = reinterpret_cast<std::uintptr_t>(block) ^ mask;
}

// Overwrites the stack the block's address went through.
__attribute__((noinline)) void scrub_stack() {
    volatile char scratch[16384];
    for (char& c : const_cast<char(&)[16384]>(scratch)) {
        c = 0;
    }
}

} // namespace

TEST(LeakSanitizer, ReportsABlockNothingPointsToAndNothingOnceItIsFreed) {
    lose_one_block();
    scrub_stack();
    EXPECT_NE(__lsan_do_recoverable_leak_check(), 0)
        << "leak detection is off (ASAN_OPTIONS=detect_leaks=0?)";
    std::free(reinterpret_cast<void*>(hidden ^ mask));
    EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0);
}
