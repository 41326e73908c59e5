#include "app/logiciel.h"
#include "window/message_box.h"
#include "platform/platform.h"

#include <QApplication>
#include <mysql.h>

#include <cstdio>
#include <cstring>
#include <exception>

#if defined(__unix__)
#include "fonction/config_files.h"
#include "platform/posix/file_broker.h"
#include "platform/posix/privileged_start.h"
#include <cerrno>
#include <unistd.h>
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

#if defined(__unix__)
// Without its broker the station can neither read its configuration nor keep its session record: it
// ends, and the guard starts it again with a broker of its own.
void end_without_files() {
    static const char message[] = "kalimo: the station's file broker is gone\n";
    const ssize_t ignored = ::write(2, message, sizeof message - 1);
    static_cast<void>(ignored);
    ::_exit(1);
}
#endif

} // namespace

int main(int argc, char* argv[]) {
#if defined(__unix__)
    // Installed setgid to its folder's group, the station is started by an account that may not
    // enter that folder: it changes into it itself, and takes nothing from its caller that could
    // make it load code (Qt's own command-line options name plug-in folders too). Then only its file
    // broker keeps the group: the station goes on as its account's plain program, a screen reader's
    // bus included, and reaches its files through the broker.
    static char program_name[] = "kalimo";
    static char* privileged_argv[] = {program_name, nullptr};
    if (running_privileged()) {
        clear_loading_environment();
        if (!enter_station_folder(KALIMO_STATION_FOLDER)) {
            std::fprintf(stderr, "kalimo: cannot enter %s: %s\n", KALIMO_STATION_FOLDER,
                         std::strerror(errno));
            return 1;
        }
        pid_t broker = 0;
        const int files = start_file_broker(station_folder_files(), broker);
        if (files < 0 || !give_up_station_group()) {
            std::fprintf(stderr, "kalimo: cannot start the station's file broker: %s\n",
                         std::strerror(errno));
            return 1;
        }
        use_file_broker(files, end_without_files);
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
