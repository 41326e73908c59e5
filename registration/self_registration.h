// Self-registration of a new visitor, for staff approval later. It owns the registration form.
#pragma once

#include "fonction/db_link.h"
#include "fonction/registration_queries.h"
#include "window/server_operation.h"

#include <QObject>

#include <string>
#include <vector>

class Inscription;
class QWidget;
class StationWindow;

class SelfRegistration : public QObject {
    Q_OBJECT

  public:
    // `inscription_button` is the welcome screen's "Inscription", disabled while the towns are read.
    SelfRegistration(StationWindow& window, StationWorker& worker, QWidget* inscription_button,
                     QWidget* panels_parent);

    Inscription* inscription() const { return inscription_; }

    void Identification_bouton_inscriptionClick();
    void Inscription_ComboBox_villeChange();
    void Bouton_valider_inscriptionClick();
    void reset_registration_form(); // Bouton_retour_inscriptionClick

  private:
    void connect_components();
    void guard(void (SelfRegistration::*handler)());
    void fill_city_list(const std::vector<std::string>& names);
    // What a registration asks and writes, on the worker: the checks against the accounts and the
    // waiting registrations, a free login, the towns' ids, the row.
    struct Registration {
        RegistrationValues values;
        std::string town;
        std::string other_town;
        bool written = false;
    };
    static void register_person(DbLink& link, Registration& r);

    StationWindow& window_;
    QWidget* inscription_button_;
    Inscription* inscription_;
    ServerOperation operation_;
};
