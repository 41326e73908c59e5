// The room view of a staff station: from the staff session's "Salle", a window of its own showing every
// station of the space (or of the network) live, where staff end a visitor's session, validate or
// refuse the waiting registrations, find, create and change accounts, and change the welcome message.
// Its statements (fonction/room_queries.h) run on the worker; the window never waits for the server,
// says in its status line when the server does not answer, and drops what comes back for a window
// that was closed meanwhile.
#pragma once

#include "fonction/records.h"
#include "fonction/room_queries.h"
#include "room/room_rules.h"
#include "window/server_operation.h"

#include <QObject>
#include <QTimer>

#include <memory>
#include <string>
#include <vector>

class Platform;
class QString;
class Salle;
class StationWindow;
class StationWorker;

class RoomView : public QObject {
    Q_OBJECT

  public:
    // `station` is the staff station's own record: the space shown is its room's.
    RoomView(StationWindow& window, Platform& platform, const StationState& station, StationWorker& worker);
    ~RoomView() override;

    Salle* salle() const { return salle_.get(); }

    // The menu's "Salle": opens the window, or brings it back to the front when it is open.
    void Salle1Click();
    // The staff session ended: the window closes.
    void close_view();

    // The refresh, every two seconds while the window is open.
    QTimer Timer_salle;
    void Timer_salleTimer();
    void Salle_tout_reseauChange();
    void Salle_rechercheChange();
    void Salle_table_postesChange();
    void Salle_bouton_terminerClick();
    void Salle_table_inscriptionsChange();
    void Salle_bouton_valider_inscriptionClick();
    void Salle_bouton_refuser_inscriptionClick();
    void Salle_bouton_rechercher_compteClick();
    void Salle_table_comptesChange();
    void Salle_bouton_creer_compteClick();
    void Salle_bouton_enregistrer_compteClick();
    void Salle_bouton_publier_reseauClick();
    void Salle_bouton_retirer_reseauClick();
    void Salle_bouton_publier_espaceClick();
    void Salle_bouton_retirer_espaceClick();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void connect_components();
    void guard(void (RoomView::*handler)());
    // Still the window it was asked for: the station has not started again and the window was not
    // closed since.
    std::function<bool()> still_open();
    void show_lines();
    void show_status();
    void read_registrations();
    void show_registrations();
    void read_messages();
    void publish(bool network);
    void withdraw(bool network);
    void search_accounts(const std::string& text);

    StationWindow& window_;
    Platform& platform_;
    const StationState& station_;
    StationWorker& worker_;
    std::unique_ptr<Salle> salle_;
    // The actions staff start, out on the worker one at a time.
    ServerOperation operation_;
    // Opened, closed: an answer for an earlier opening is dropped.
    unsigned openings_ = 0;
    bool refresh_out_ = false;
    bool network_ = false;
    // The last refresh: its lines, whether it was read, and when the last one that was read came.
    std::vector<StationLine> lines_;
    RoomRead refresh_status_ = RoomRead::Read;
    bool refreshed_once_ = false;
    LocalTime refreshed_at_{};
    std::vector<WaitingRegistration> registrations_;
    std::vector<AccountRow> accounts_;
    // The account shown in the form, as it was shown: only what staff change is written.
    AccountRow shown_account_;
    int shown_allowance_ = 0;
    int shown_status_index_ = -1;
    WelcomeMessages messages_;
};
