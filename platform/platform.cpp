#include "platform/platform.h"

#include <cstdlib>

namespace {
Platform* current = nullptr;
}

Platform& platform() {
    if (current == nullptr) {
        // A program that forgot to install one still gets the real system, never a null seam.
        static std::unique_ptr<Platform> fallback = make_system_platform();
        current = fallback.get();
    }
    return *current;
}

void install_platform(Platform* instance) {
    current = instance;
}
