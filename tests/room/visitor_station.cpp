// A visitor station beside the staff station of a UI test: the real main window, its worker on its own
// thread, in a second process (the main window is one per process). It enters FOLDER (its two
// configuration files), claims the adapter 02-00-00-00-00-02, signs LOGIN in with PASSWORD as soon as its
// welcome screen answers, prints "session" once the session has started and "ended" once it has ended and
// the station is locked on its welcome screen again, and exits 0 then; 1 when that did not come within a
// minute.
//
//   room_visitor_station FOLDER LOGIN PASSWORD
#include "app/logiciel.h"
#include "session/identification.h"
#include "session/sessions.h"
#include "tests/support/fake_platform.h"
#include "ui_identification.h"
#include "window/guarded.h"

#include <QApplication>
#include <QDir>
#include <QTimer>
#include <cstdio>
#include <mysql.h>

int main(int argc, char** argv) {
    if (argc != 4 || !QDir::setCurrent(QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "usage: %s FOLDER LOGIN PASSWORD\n", argv[0]);
        return 2;
    }
    mysql_library_init(0, nullptr, nullptr);
    int code = 1;
    {
        QApplication application(argc, argv);
        FakePlatform system;
        system.adapters = {FakePlatform::mac(0x02, 0, 0, 0, 0, 0x02)};
        Tlogiciel window(WorkerMode::Thread);
        window.show();
        auto* id = window.identification()->ui();
        bool signing_in = false, in_session = false;
        int ticks = 0;
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, [&] {
            if (!signing_in && id->group_box_Identification->isEnabled() && window.station.id_computer > 0) {
                signing_in = true;
                id->Identification_labeledit_identifiant->setText(QString::fromLocal8Bit(argv[2]));
                id->Identification_labeledit_mot_de_passe->setText(QString::fromLocal8Bit(argv[3]));
                guarded(&window, [&] { window.sessions().Identification_bouton_connexionClick(); });
            } else if (!in_session && window.Timer1.isActive()) {
                in_session = true;
                std::printf("session\n");
                std::fflush(stdout);
            } else if (in_session && !window.Timer1.isActive() && window.locked()) {
                std::printf("ended\n");
                code = 0;
            }
            // A minute at most. quit() would first ask the locked window to close, which it refuses.
            if (code == 0 || ++ticks > 3000) {
                QApplication::exit(code);
            }
        });
        watch.start(20);
        QApplication::exec();
    }
    mysql_library_end();
    return code;
}
