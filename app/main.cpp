#include "app/logiciel.h"
#include "window/message_box.h"
#include "platform/platform.h"

#include <QApplication>
#include <mysql.h>

#include <cstdio>
#include <cstring>
#include <exception>

#if defined(__unix__)
#include "platform/posix/privileged_start.h"
#include <cerrno>
#endif

namespace {

// An exception that escapes an event handler is shown, not allowed to end the station.
class StationApplication : public QApplication {
  public:
    using QApplication::QApplication;
    bool notify(QObject* receiver, QEvent* event) override {
        try {
            return QApplication::notify(receiver, event);
        } catch (const std::exception& error) {
            show_error(nullptr, QString::fromLocal8Bit(error.what()));
        } catch (...) {
            show_error(nullptr, QString());
        }
        return false;
    }
};

} // namespace

int main(int argc, char* argv[]) {
#if defined(__unix__)
    // Installed setgid to its folder's group, the station is started by an account that may not
    // enter that folder: it changes into it itself, and takes nothing from its caller that could
    // make it load code (Qt's own command-line options name plug-in folders too).
    static char program_name[] = "kalimo";
    static char* privileged_argv[] = {program_name, nullptr};
    if (running_privileged()) {
        clear_loading_environment();
        if (!enter_station_folder(KALIMO_STATION_FOLDER)) {
            std::fprintf(stderr, "kalimo: cannot enter %s: %s\n", KALIMO_STATION_FOLDER,
                         std::strerror(errno));
            return 1;
        }
        QCoreApplication::setSetuidAllowed(true);
        QGuiApplication::setDesktopSettingsAware(false);
        argc = 1;
        argv = privileged_argv;
    }
#endif
    mysql_library_init(0, nullptr, nullptr);
    int code = 0;
    {
        auto system = make_system_platform();
        install_platform(system.get());
        StationApplication application(argc, argv);
        QApplication::setApplicationName(QStringLiteral("Kalimo"));
        {
            // Gone (its worker thread joined) before the platform is taken away.
            Tlogiciel window;
            window.show();
            code = QApplication::exec();
        }
        install_platform(nullptr);
    }
    mysql_library_end();
    return code;
}
