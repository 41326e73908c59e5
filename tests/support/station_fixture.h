// The whole station under test: a private database seeded with a room, a working folder with both
// configuration files, the fake platform, every message recorded, and the real main window.
// Test texts are UTF-8; the database's admin connection and the widgets both speak it.
#pragma once

#include "session/identification.h"
#include "app/logiciel.h"
#include "window/message_box.h"
#include "registration/inscription.h"
#include "registration/self_registration.h"
#include "session/compteur_temps.h"
#include "session/renseignement.h"
#include "session/sessions.h"
#include "setup/parametrage.h"
#include "setup/station_setup.h"
#include "tests/support/fake_platform.h"
#include "tests/support/test_database.h"
#include "ui_identification.h"
#include "window/guarded.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QString>
#include <QWindow>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

// Runs the window's event loop until `done`; false when it did not come within a generous bound
// (the bound only keeps a broken build from hanging, it measures nothing).
inline bool wait_for(const std::function<bool()>& done) {
    QElapsedTimer waited;
    waited.start();
    while (!done()) {
        if (waited.elapsed() > 20000) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

// Readable texts in test failures.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

class StationTest : public ::testing::Test {
  protected:
    static constexpr const char* kMac = "00-1A-2B-3C-4D-5E";

    void SetUp() override {
        set_message_sink([this](const QString& text, bool critical) {
            messages.push_back(text);
            if (critical) {
                errors.push_back(text);
            }
        });
        system.adapters = {FakePlatform::mac(0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E)};
    }
    void TearDown() override {
        window.reset();
        set_message_sink(nullptr);
    }

    // Connections to this test's database beyond the worker's two kept links (the timers' and the
    // window's): what a leak would leave.
    long long connections_beyond_kept_links() { return std::max(0LL, db->open_connections(2) - 2); }
    // Needs the server: call first in tests that use the database.
    void with_database() {
        db = std::make_unique<TestDatabase>();
        db->write_database_file();
    }
    // A space with its settings, a room and this station's computer record; returns id_computer.
    int add_room(const std::string& space = "Espace Jean Moulin",
                 const std::string& station_name = "Poste-01", int usage = 1,
                 const std::string& settings = "1, 1, 0, 0, 1, 1") {
        db->exec("INSERT INTO tab_espace (nom_espace) VALUES (" + sql_quoted(space) + ")");
        id_espace = db->insert_id();
        db->exec(
            "INSERT INTO tab_config_logiciel (id_espace, config_menu_logiciel, page_inscription_logiciel, "
            "page_renseignement_logiciel, bloquage_touche_logiciel, affichage_temps_logiciel, "
            "deconnexion_auto_logiciel) VALUES (" +
            std::to_string(id_espace) + ", " + settings + ")");
        db->exec("INSERT INTO tab_salle (id_espace, nom_salle) VALUES (" + std::to_string(id_espace) +
                 ", 'Salle')");
        const long long id_salle = db->insert_id();
        db->exec("INSERT INTO tab_computer (nom_computer, adresse_mac_computer, usage_computer, id_salle) "
                 "VALUES (" +
                 sql_quoted(station_name) + ", '" + kMac + "', " + std::to_string(usage) + ", " +
                 std::to_string(id_salle) + ")");
        id_computer = static_cast<int>(db->insert_id());
        folder.write_file("Configuration_Poste_MAC.init", kMac);
        return id_computer;
    }
    // An account; the password is stored as its MD5 digest, computed by the server.
    int add_user(const std::string& login, const std::string& password, int status = 1, int minutes = 120) {
        db->exec(
            "INSERT INTO tab_user (login_user, pass_user, status_user, temps_user, nom_user, prenom_user) "
            "VALUES (" +
            sql_quoted(login) + ", MD5(CONVERT(" + sql_quoted(password) + " USING latin1)), " +
            std::to_string(status) + ", " + std::to_string(minutes) + ", 'Durand', 'Marie')");
        return static_cast<int>(db->insert_id());
    }
    void start() {
        window = std::make_unique<Tlogiciel>(WorkerMode::Inline);
        window->show();
        QApplication::processEvents();
    }
    Ui::Identification* id() const { return window->identification()->ui(); }
    // Asks the window to close the two ways it can be asked: by the program (QWidget::close) and through
    // its native window, the window system's route for Alt+F4 and the close button. True when both were
    // refused and the window is still shown.
    bool refuses_every_close() {
        QWindow* native = window->windowHandle();
        if (native == nullptr) {
            return false;
        }
        const bool by_program = window->close();
        const bool by_window_manager = native->close();
        return !by_program && !by_window_manager && window->isVisible();
    }
    void sign_in(const QString& login, const QString& password) {
        id()->Identification_labeledit_identifiant->setText(login);
        id()->Identification_labeledit_mot_de_passe->setText(password);
        guarded(window.get(), [this] { window->sessions().Identification_bouton_connexionClick(); });
    }

    FakePlatform system;
    WorkingFolder folder;
    std::unique_ptr<TestDatabase> db;
    std::unique_ptr<Tlogiciel> window;
    std::vector<QString> messages;
    std::vector<QString> errors;
    long long id_espace = 0;
    int id_computer = 0;
};
