// Preloaded (LD_PRELOAD) into a Qt Widgets program under measurement, never linked into one: the
// first time a window's backing store is flushed, that is when the first frame has been handed to
// the platform, it lets the flush finish, writes "kalimo-first-frame NANOSECONDS" (CLOCK_MONOTONIC)
// on standard error and ends the process at once. The program itself is left as it is.
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dlfcn.h>
#include <unistd.h>

namespace {

constexpr const char* flush_symbol = "_ZN13QBackingStore5flushERK7QRegionP7QWindowRK6QPoint";
using Flush = void (*)(void*, const void*, void*, const void*);

} // namespace

// QBackingStore::flush(const QRegion&, QWindow*, const QPoint&), by its linkage name, so that this
// library needs no Qt header: the object pointer comes first, as for any member function.
extern "C" void _ZN13QBackingStore5flushERK7QRegionP7QWindowRK6QPoint(void* self, const void* region,
                                                                      void* window, const void* offset) {
    void* found = dlsym(RTLD_NEXT, flush_symbol);
    if (found != nullptr) {
        Flush flush = nullptr;
        std::memcpy(&flush, &found, sizeof flush);
        flush(self, region, window, offset);
    }
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    char line[64];
    const int length = std::snprintf(line, sizeof line, "kalimo-first-frame %lld\n",
                                     static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec);
    if (length > 0 && write(2, line, static_cast<std::size_t>(length)) < 0) {
        _exit(3);
    }
    _exit(0);
}
