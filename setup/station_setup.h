// The set-up screen: binds the station to a free computer record, chooses the adapter whose MAC
// address identifies it and its usage, and writes the two configuration files. It owns its panel.
#pragma once

#include "fonction/db_link.h"
#include "fonction/records.h"

#include <QObject>

class Parametrage;
class QWidget;
class StationWindow;
class StationWorker;

class StationSetup : public QObject {
    Q_OBJECT

  public:
    // `worker` closes the staff session that "Paramètres" ends.
    StationSetup(StationWindow& window, DbLink& link, StationState& station, SessionState& session,
                 StationConfig& config, StationWorker& worker, QWidget* panels_parent);

    Parametrage* parametrage() const { return parametrage_; }

    void Paramtres1Click();
    void fill_setup_screen();
    void Parametrage_combobox_nom_posteChange();
    void Parametrage_bouton_actualiser_nom_posteClick();
    void Parametrage_bouton_aide_adresse_macClick();
    void Bouton_valider_parametrageClick();
    void Bouton_retour_parametrageClick();

  private:
    void connect_components();
    void guard(void (StationSetup::*handler)());

    StationWindow& window_;
    DbLink& link_;
    StationState& station_;
    SessionState& session_;
    StationConfig& config_;
    StationWorker& worker_;
    Parametrage* parametrage_;
};
