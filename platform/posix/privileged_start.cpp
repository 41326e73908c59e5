#include "platform/posix/privileged_start.h"

#include <cstdlib>
#include <sys/auxv.h>
#include <sys/stat.h>
#include <unistd.h>

bool running_privileged() {
    // The kernel's own verdict: set for setgid, setuid and file capabilities alike.
    return getauxval(AT_SECURE) != 0;
}

const char* const loading_environment[] = {
    // Qt's plug-in folders, platform, theme, style, input method, generic and OpenGL plug-ins, and
    // its debugging of them.
    "QT_PLUGIN_PATH", "QT_QPA_PLATFORM_PLUGIN_PATH", "QT_QPA_PLATFORMTHEME", "QT_QPA_GENERIC_PLUGINS",
    "QT_STYLE_OVERRIDE", "QT_IM_MODULE", "QT_DEBUG_PLUGINS", "QT_OPENGL", "QT_LOGGING_CONF",
    "QT_QPA_PLATFORM", "QT_XCB_GL_INTEGRATION",
    // The desktop's theme choice (a GTK theme refuses to run setgid).
    "XDG_CURRENT_DESKTOP", "DESKTOP_SESSION",
    // OpenGL, EGL, GBM and Vulkan drivers.
    "LIBGL_DRIVERS_PATH", "__EGL_VENDOR_LIBRARY_DIRS", "__EGL_VENDOR_LIBRARY_FILENAMES",
    "__GLX_VENDOR_LIBRARY_NAME", "GBM_BACKENDS_PATH", "VK_ICD_FILENAMES", "VK_LAYER_PATH",
    // GTK and GIO modules.
    "GTK_MODULES", "GTK3_MODULES", "GTK_PATH", "GIO_EXTRA_MODULES", "GIO_MODULE_DIR",
    // The database client library's authentication plug-ins and its peer verification switch.
    "LIBMYSQL_PLUGINS", "LIBMYSQL_PLUGIN_DIR", "MARIADB_PLUGIN_DIR", "MARIADB_TLS_DISABLE_PEER_VERIFICATION",
    // OpenSSL's configuration, engines and providers.
    "OPENSSL_CONF", "OPENSSL_ENGINES", "OPENSSL_MODULES", nullptr};

void clear_loading_environment() {
    for (const char* const* name = loading_environment; *name != nullptr; ++name) {
        unsetenv(*name);
    }
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    setenv("QT_XCB_GL_INTEGRATION", "none", 1);
}

bool enter_station_folder(const char* folder) {
    umask(007);
    return chdir(folder) == 0;
}

bool give_up_station_group() {
    const gid_t own = getgid();
    gid_t real = 0;
    gid_t effective = 0;
    gid_t saved = 0;
    return setresgid(own, own, own) == 0 && getresgid(&real, &effective, &saved) == 0 && real == own &&
           effective == own && saved == own;
}

bool drop_station_rights() {
    if (!give_up_station_group()) {
        return false;
    }
    // The database connection and the station's files stay the station's. They close at the exec,
    // not before: one of them may tell the parent that the exec happened.
    close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
    return true;
}
