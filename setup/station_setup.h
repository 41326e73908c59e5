// The set-up screen: binds the station to a free computer record, chooses the adapter whose MAC
// address identifies it and its usage, and writes the two configuration files. It owns its panel.
#pragma once

#include "fonction/db_link.h"
#include "fonction/records.h"

#include "window/server_operation.h"

#include <QObject>

class Parametrage;
class QWidget;
class StationWindow;
class StationWorker;
struct SetupLists;
struct SpaceOfName;

class StationSetup : public QObject {
    Q_OBJECT

  public:
    // `worker` runs the screen's queries and closes the staff session that "Paramètres" ends.
    StationSetup(StationWindow& window, StationState& station, SessionState& session, StationConfig& config,
                 StationWorker& worker, QWidget* panels_parent);

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
    // The lists and the usage as the server gave them (nullptr: no server).
    void show_lists(const SetupLists* lists);
    // The address and the database file, which are the station's own.
    void show_local_settings();
    void show_space(const SpaceOfName& space);
    // Valider's outcome, once the computer record was written or refused.
    void bound(int outcome);

    StationWindow& window_;
    StationState& station_;
    SessionState& session_;
    StationConfig& config_;
    StationWorker& worker_;
    Parametrage* parametrage_;
    // The lists, "Actualiser" and "Valider", out on the worker one at a time.
    ServerOperation operation_;
};
