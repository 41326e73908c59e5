#include "app/logiciel.h"
#include "window/message_box.h"
#include "platform/platform.h"

#include <QApplication>
#include <mysql.h>

#include <exception>

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
