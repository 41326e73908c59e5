// Self-registration of a new visitor, for staff approval later. It owns the registration form.
#pragma once

#include "fonction/db_link.h"

#include <QObject>

class Inscription;
class QWidget;
class StationWindow;

class SelfRegistration : public QObject {
    Q_OBJECT

  public:
    SelfRegistration(StationWindow& window, DbLink& link, QWidget* panels_parent);

    Inscription* inscription() const { return inscription_; }

    void Identification_bouton_inscriptionClick();
    void Inscription_ComboBox_villeChange();
    void Bouton_valider_inscriptionClick();
    void reset_registration_form(); // Bouton_retour_inscriptionClick

  private:
    void connect_components();
    void guard(void (SelfRegistration::*handler)());
    void fill_city_list();

    StationWindow& window_;
    DbLink& link_;
    Inscription* inscription_;
};
