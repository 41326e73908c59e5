#include "app/logiciel.h"

#include "app/desktop_reset.h"
#include "app/lockdown.h"
#include "fonction/config_files.h"
#include "fonction/network.h"
#include "fonction/station_queries.h"
#include "fonction/text.h"
#include "registration/inscription.h"
#include "registration/self_registration.h"
#include "room/room_view.h"
#include "session/compteur_temps.h"
#include "session/identification.h"
#include "session/renseignement.h"
#include "session/sessions.h"
#include "setup/parametrage.h"
#include "setup/station_setup.h"
#include "ui_compteur_temps.h"
#include "ui_identification.h"
#include "ui_logiciel.h"
#include "window/guarded.h"
#include "window/server_operation.h"
#include "window/message_box.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGridLayout>
#include <QGuiApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QMenu>
#include <QScreen>
#include <QSystemTrayIcon>

Tlogiciel* logiciel = nullptr;

bool PopupWatch::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Hide && watched->isWidgetType() &&
        static_cast<QWidget*>(watched)->windowType() == Qt::Popup) {
        closed_();
    }
    return false;
}

// The images are compiled into the panels' static library; register them before any form uses them.
// (The registration macro must stand outside every namespace.)
static void register_images() {
    Q_INIT_RESOURCE(kalimo);
}

Tlogiciel::Tlogiciel(WorkerMode worker_mode, QWidget* parent)
    : QMainWindow(parent), ui_(std::make_unique<Ui::Tlogiciel>()), platform_(platform()) {
    register_images();
    ui_->setupUi(this);
    logiciel = this;

    worker_ = std::make_unique<StationWorker>(server_health, worker_mode);
    identity_ = std::make_unique<ServerOperation>(*worker_, this);
    desktop_reset_ = std::make_unique<DesktopReset>(platform_);

    QWidget* panels = ui_->Fond_principale;
    sessions_ = std::make_unique<Sessions>(*this, platform_, station, session, Timer1, *worker_, panels);
    setup_ = std::make_unique<StationSetup>(*this, station, session, config, *worker_, panels);
    registration_ = std::make_unique<SelfRegistration>(
        *this, *worker_, sessions_->identification()->ui()->Identification_bouton_inscription, panels);
    room_ = std::make_unique<RoomView>(*this, platform_, station, *worker_);
    // The panels fill the client area, one visible at a time; the order is the design's stacking order.
    for (QWidget* panel : {static_cast<QWidget*>(renseignement()), static_cast<QWidget*>(inscription()),
                           static_cast<QWidget*>(compteur_temps()), static_cast<QWidget*>(parametrage()),
                           static_cast<QWidget*>(identification())}) {
        ui_->Fond_principale_layout->addWidget(panel, 0, 0);
        panel->raise();
    }

    Timer1.setObjectName(QStringLiteral("Timer1"));
    Timer1.setInterval(1000);
    // Never early: the counter reads the clock at each tick.
    Timer1.setTimerType(Qt::PreciseTimer);
    Timer2.setObjectName(QStringLiteral("Timer2"));
    Timer2.setInterval(15000);
    Timer3.setObjectName(QStringLiteral("Timer3"));
    Timer3.setInterval(5000);
    Timer_premier_plan_application.setObjectName(QStringLiteral("Timer_premier_plan_application"));
    Timer_premier_plan_application.setInterval(1000);

    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    Salle1 = PopupMenu1->addAction(QStringLiteral("Salle"));
    Salle1->setObjectName(QStringLiteral("Salle1"));
    Salle1->setVisible(false);
    Paramtres1 = PopupMenu1->addAction(QStringLiteral("Paramètres"));
    Paramtres1->setObjectName(QStringLiteral("Paramtres1"));
    Dconnexion1 = PopupMenu1->addAction(QStringLiteral("Déconnexion"));
    Dconnexion1->setObjectName(QStringLiteral("Dconnexion1"));
    TrayIcon1 = new QSystemTrayIcon(QIcon(QStringLiteral(":/kalimo/tray_icon.png")), this);
    TrayIcon1->setObjectName(QStringLiteral("TrayIcon1"));
    TrayIcon1->setToolTip(QStringLiteral("Kalimo"));
    TrayIcon1->setContextMenu(PopupMenu1);
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        TrayIcon1->show();
    }

    connect_components();
    apply_window_flags();

    // What a crash or a power cut left open is closed before the station shows its first screen, and
    // its desktop reset before anyone signs in.
    if (const std::optional<OpenSession> left = worker_->settle_left_record();
        left && !left->opened_clock.none()) {
        reset_due_ = left->opened_clock;
    }
    Timer1.start();
    Timer3.start();
    FormCreate();
}

Tlogiciel::~Tlogiciel() {
    // The subsystems go first: nothing may answer the worker's last results.
    room_.reset();
    sessions_.reset();
    setup_.reset();
    registration_.reset();
    worker_.reset();
    if (logiciel == this) {
        logiciel = nullptr;
    }
}

Identification* Tlogiciel::identification() const {
    return sessions_->identification();
}
Renseignement* Tlogiciel::renseignement() const {
    return sessions_->renseignement();
}
Compteur_temps* Tlogiciel::compteur_temps() const {
    return sessions_->compteur_temps();
}
Inscription* Tlogiciel::inscription() const {
    return registration_->inscription();
}
Parametrage* Tlogiciel::parametrage() const {
    return setup_->parametrage();
}

void Tlogiciel::guard(void (Tlogiciel::*handler)()) {
    guarded(this, [this, handler] { (this->*handler)(); });
}

void Tlogiciel::connect_components() {
    auto* id = identification()->ui();
    connect(&Timer1, &QTimer::timeout, this, [this] { guarded(this, [this] { sessions_->Timer1Timer(); }); });
    connect(&Timer2, &QTimer::timeout, this, [this] { guard(&Tlogiciel::Timer2Timer); });
    connect(&Timer3, &QTimer::timeout, this, [this] { guard(&Tlogiciel::Timer3Timer); });
    connect(&Timer_premier_plan_application, &QTimer::timeout, this,
            [this] { guard(&Tlogiciel::Timer_premier_plan_applicationTimer); });
    connect(id->Identification_bouton_quitter_logiciel, &QPushButton::clicked, this,
            [this] { guard(&Tlogiciel::Identification_bouton_quitter_logicielClick); });
    connect(id->Identification_bouton_arret_poste, &QPushButton::clicked, this,
            [this] { guard(&Tlogiciel::Identification_bouton_arret_posteClick); });
    connect(id->Identification_bouton_redemarrer_poste, &QPushButton::clicked, this,
            [this] { guard(&Tlogiciel::Identification_bouton_redemarrer_posteClick); });
    connect(id->Identification_bouton_fermer_session, &QPushButton::clicked, this,
            [this] { guard(&Tlogiciel::Identification_bouton_fermer_sessionClick); });
    connect(id->Identification_bouton_inscription, &QPushButton::clicked, this,
            [this] { guarded(this, [this] { registration_->Identification_bouton_inscriptionClick(); }); });
    // Key handling of the login fields goes through an event filter, which sees modifiers and keys
    // before the edit does.
    id->Identification_labeledit_identifiant->installEventFilter(this);
    id->Identification_labeledit_mot_de_passe->installEventFilter(this);

    connect(Dconnexion1, &QAction::triggered, this,
            [this] { guarded(this, [this] { sessions_->Dconnexion1Click(); }); });
    connect(Paramtres1, &QAction::triggered, this, [this] {
        guarded(this, [this] {
            setup_->Paramtres1Click();
            // The staff session it ended takes the room view with it.
            if (!staff_session_open(session)) {
                room_->close_view();
            }
        });
    });
    connect(Salle1, &QAction::triggered, this, [this] {
        if (room_view_allowed()) {
            guarded(this, [this] { room_->Salle1Click(); });
        }
    });
    connect(PopupMenu1, &QMenu::aboutToShow, this, [this] { Salle1->setVisible(room_view_allowed()); });
    connect(TrayIcon1, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::DoubleClick) {
            restore_from_tray();
        }
    });
    connect(worker_.get(), &StationWorker::beat_done, this, &Tlogiciel::on_beat_done);
    connect(desktop_reset_.get(), &DesktopReset::changed, this,
            [this] { guarded(this, [this] { show_reset_state(); }); });
    // Screens plugged in, taken away or made primary while locked are covered at once.
    auto follow_screens = [this] {
        if (locked()) {
            hold_lock();
        }
    };
    connect(qGuiApp, &QGuiApplication::screenAdded, this, follow_screens);
    connect(qGuiApp, &QGuiApplication::screenRemoved, this, follow_screens);
    connect(qGuiApp, &QGuiApplication::primaryScreenChanged, this, follow_screens);
    // A popup list of the station's own gives the keyboard back to the desktop when it closes.
    popup_watch_ = std::make_unique<PopupWatch>([this] {
        QTimer::singleShot(0, this, [this] {
            if (locked()) {
                hold_keyboard();
            }
        });
    });
    qApp->installEventFilter(popup_watch_.get());
    // Where there is no notification area the same menu opens from the window itself.
    setContextMenuPolicy(Qt::CustomContextMenu);
    connect(this, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        if (staff_session_open(session)) {
            PopupMenu1->popup(mapToGlobal(at));
        }
    });
}

bool Tlogiciel::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        auto* id = identification()->ui();
        if (watched == id->Identification_labeledit_identifiant) {
            guarded(this, [&] { Identification_labeledit_identifiantKeyDown(key->key(), key->modifiers()); });
        } else if (watched == id->Identification_labeledit_mot_de_passe &&
                   (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)) {
            guarded(this, [&] { Identification_labeledit_mot_de_passeKeyPress(13); });
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void Tlogiciel::keyPressEvent(QKeyEvent* event) {
    const QString text = event->text();
    const int character = text.size() == 1 ? text.at(0).unicode() : 0;
    if (character != 0 && FormKeyPress(character) == 0) {
        event->accept();
        return;
    }
    QMainWindow::keyPressEvent(event);
}

void Tlogiciel::closeEvent(QCloseEvent* event) {
    // FormCloseQuery: the locked layouts refuse Alt+F4, the system menu and the caption button.
    if (station.close_allowed == 1) {
        event->accept();
    } else {
        event->ignore();
    }
}

void Tlogiciel::FormCreate() {
    guard(&Tlogiciel::start_station);
}

void Tlogiciel::show_only(QWidget* panel) {
    for (QWidget* each : {static_cast<QWidget*>(identification()), static_cast<QWidget*>(renseignement()),
                          static_cast<QWidget*>(inscription()), static_cast<QWidget*>(compteur_temps()),
                          static_cast<QWidget*>(parametrage())}) {
        if (each != panel) {
            each->hide();
        }
    }
    if (panel != nullptr) {
        panel->show();
    }
}

bool Tlogiciel::room_view_allowed() const {
    return staff_session_open(session) && session.staff_on_visitor_station == 0 &&
           station.usage_computer == 2;
}

void Tlogiciel::start_station() {
    ++starts_;
    // Whatever ends a staff session starts the station again: its room view closes.
    room_->close_view();
    auto* id = identification()->ui();
    reset_desktop_if_due();
    awaiting_server = false;
    session.credit_minutes = 0;
    refuse_focus(false);
    set_stay_on_top(true);
    kill_shell_processes(platform_);
    id->Identification_bouton_arret_poste->hide();
    id->Identification_bouton_redemarrer_poste->hide();
    id->Identification_bouton_fermer_session->hide();
    id->Identification_bouton_quitter_logiciel->hide();
    id->Identification_bouton_inscription->hide();
    station.settings = SpaceSettings{};
    session.polled_status = 0;
    Timer1.stop();
    station.close_allowed = 0;
    station.staff_screen = 0;
    station.setup_required = 0;
    session.id_user = 0;
    session.status_user = 0;
    session.lookup_outcome = 0;
    session.id_resa = 0;
    session.closing_status = 0;
    session.staff_on_visitor_station = 0;
    session.planned_duration = 90;
    show_only(nullptr);

    read_station_file(config.station_mac, station.setup_required);
    station_file_found_ = station.setup_required == 0;
    if (station.setup_required == 0) {
        read_ip_and_host_name(station.ip_address, station.host_name, station.setup_required);
    }

    // The identification is the server's: asked on the worker, in the design's order, with the
    // reachability test and the space's message that the screen it leads to will need.
    Identity who;
    who.state = station;
    who.mac = config.station_mac;
    who.file_found = station_file_found_;
    if (worker_->mode() == WorkerMode::Thread) {
        // Meanwhile the station is locked at once on its welcome screen, as it was, nothing on it
        // to press; what the answer brings fills it in, or leads elsewhere.
        who.lock_was_running = Timer_premier_plan_application.isActive();
        who.group_was_enabled = !id->group_box_Identification->testAttribute(Qt::WA_ForceDisabled);
        who.layout_was = layout_;
        who.geometry_was = geometry();
        who.frameless_was = frameless_;
        who.title_was = windowTitle();
        show_welcome(WelcomeMessage::Keep, nullptr);
        id->group_box_Identification->setEnabled(false);
        id->Identification_bouton_inscription->setEnabled(false);
    }
    identity_->start<Identity>(
        nullptr, std::move(who), [](DbLink& link, Identity& w) { identify(link, w); }, same_screen(*this),
        [this](Identity& w, std::exception_ptr error) { apply_identity(w, error); });
}

void Tlogiciel::identify(DbLink& link, Identity& w) {
    StationState& st = w.state;
    if (st.setup_required == 0) {
        find_computer_by_mac(link, w.mac.c_str(), st.id_computer, st.setup_required);
    }
    if (st.setup_required == 0) {
        read_computer_name(link, st.id_computer, st.station_name, st.setup_required);
    }
    if (st.setup_required == 0) {
        w.name_read = true;
        read_space_name(link, st.station_name.c_str(), st.space_name, st.setup_required);
    }
    if (st.setup_required == 0) {
        read_space_settings(link, st.space_name.c_str(), st.settings);
        w.settings_read = true;
        read_computer_usage(link, st.id_computer, st.usage_computer, st.setup_required);
    }
    if (st.setup_required == 0) {
        w.usage_read = true;
        if (st.usage_computer == 0) {
            st.setup_required = 1;
        }
    }
    w.welcome = st.setup_required == 0 && st.usage_computer == 1;
    if (st.setup_required == 1) {
        open_link(link, st.db_check);
        close_link(link);
        w.welcome = st.db_check != 0 && w.file_found;
    }
    if (w.welcome) {
        w.message.text = load_space_message(link, st.space_name.c_str(), st.messages_visible);
        w.message.visible = st.messages_visible;
    }
}

void Tlogiciel::apply_identity(Identity& w, std::exception_ptr error) {
    auto* id = identification()->ui();
    station = w.state;
    if (worker_->mode() == WorkerMode::Thread) {
        id->group_box_Identification->setEnabled(w.group_was_enabled);
        id->Identification_bouton_inscription->setEnabled(true);
    }
    if (w.name_read) {
        id->Identification_label_nom_poste->setText(from_cp1252(station.station_name.str()));
        id->Identification_label_nom_poste->adjustSize();
    }
    if (w.settings_read) {
        id->Identification_bouton_inscription->setVisible(station.settings.page_inscription_logiciel == 1);
        id->Identification_label_nom_espace->setText(from_cp1252(station.space_name.str()));
        id->Identification_label_nom_espace->adjustSize();
    }
    if (error) {
        std::rethrow_exception(error);
    }
    // The lock shown while the answer came was this start's own: a screen of another kind, or none,
    // is as it would have been without it.
    if (worker_->mode() == WorkerMode::Thread && !w.welcome) {
        show_only(nullptr);
        setWindowTitle(w.title_was);
        if (layout_ != w.layout_was) {
            apply_window_layout(w.layout_was);
            frameless_ = w.frameless_was;
            apply_window_flags();
            setGeometry(w.geometry_was);
        }
        if (!w.lock_was_running) {
            stop_lockdown();
        }
    }
    if (w.usage_read && station.setup_required == 0) {
        switch (station.usage_computer) {
        case 1:
            show_welcome(WelcomeMessage::Given, &w.message);
            break;
        case 2:
            show_staff_screen();
            break;
        default:
            break; // a usage the station does not know: no screen
        }
    }
    if (station.setup_required == 1) {
        route_unidentified_station(w);
    }
}

void Tlogiciel::route_unidentified_station(Identity& w) {
    if (station.db_check == 0) {
        show_staff_setup_login();
    } else if (station_file_found_) {
        // A station that was set up: the server is gone, not the set-up. Unlocking it would unlock
        // every station of the room whenever the server is down at boot.
        show_welcome(WelcomeMessage::Given, &w.message);
        awaiting_server = true;
    } else {
        show_setup_screen();
    }
}

void Tlogiciel::apply_window_flags() {
    Qt::WindowFlags flags = Qt::Window;
    if (frameless_) {
        flags |= Qt::FramelessWindowHint;
    } else {
        // A sizeable tool-style window: title and close button, no minimise or maximise.
        flags |= Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint;
    }
    if (stay_on_top_) {
        flags |= Qt::WindowStaysOnTopHint;
    }
    if (no_focus_) {
        flags |= Qt::WindowDoesNotAcceptFocus;
    }
    if (flags == windowFlags()) {
        return;
    }
    const bool was_visible = isVisible();
    setWindowFlags(flags);
    if (was_visible) {
        show(); // changing the flags hides a window
    }
}

void Tlogiciel::set_stay_on_top(bool on_top) {
    stay_on_top_ = on_top;
    apply_window_flags();
}

void Tlogiciel::refuse_focus(bool refuse) {
    no_focus_ = refuse;
    // Shown again by a change of flags, the window must not take the focus either.
    setAttribute(Qt::WA_ShowWithoutActivating, refuse);
}

void Tlogiciel::keep_above_without_focus(bool on) {
    refuse_focus(on);
    set_stay_on_top(on);
    if (on) {
        raise();
    }
}

void Tlogiciel::apply_window_layout(int layout) {
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    layout_ = layout;
    if (layout != FullScreen) {
        release_lock();
    }
    switch (layout) {
    case FullScreen:
        frameless_ = true;
        apply_window_flags();
        setGeometry(screen);
        station.close_allowed = 0;
        break;
    case Windowed:
        frameless_ = false;
        apply_window_flags();
        setGeometry(345, 209, 950, 600);
        station.close_allowed = 1;
        break;
    case CounterCorner:
        frameless_ = false;
        apply_window_flags();
        setGeometry(screen.width() - 319, 0, 319, 200);
        station.close_allowed = 0;
        break;
    default:
        break;
    }
}

namespace {

// The logos' design places suit the 950x600 window. Full screen, whatever its size, the product's
// logo goes to the top-right corner and the partners' logos to a row under the login group, clear of
// the space's name and the group's buttons.
void place_logos_full_screen(Identification* panel, int screen_width) {
    auto* id = panel->ui();
    QWidget* product = id->Identification_image_logo_kalimo;
    product->move(screen_width - product->width() - 25, 16);
    const QWidget* group = id->group_box_Identification;
    const std::vector<QWidget*> partners = {id->Identification_image_logo1, id->Identification_image_logo2,
                                            id->Identification_logo3};
    const int spacing = 10;
    int row_width = spacing * static_cast<int>(partners.size() - 1);
    for (const QWidget* logo : partners) {
        row_width += logo->width();
    }
    int left = screen_width / 2 - row_width / 2;
    for (QWidget* logo : partners) {
        logo->move(left, group->y() + group->height() + 40);
        left += logo->width() + spacing;
    }
}

void place_logos_windowed(Identification* panel) {
    auto* id = panel->ui();
    id->Identification_image_logo_kalimo->move(640, 8);
    id->Identification_image_logo1->move(560, 520);
    id->Identification_image_logo2->move(690, 520);
    id->Identification_logo3->move(820, 520);
}

void place_staff_login(Identification* panel) {
    auto* id = panel->ui();
    auto place = [](QWidget* w, int left, int top) { w->move(left, top); };
    const int mid = 475;
    place(id->Identification_label_bienvenue, 25, 16);
    QWidget* space = id->Identification_label_nom_espace;
    place(space, mid - space->width() / 2, 80);
    QWidget* staff = id->Identification_label_message_animateur;
    place(staff, mid - staff->width() / 2, 128);
    QWidget* name = id->Identification_label_nom_poste;
    place(name, mid - name->width() / 2 + 100, 480);
    QWidget* group = id->group_box_Identification;
    place(group, mid - group->width() / 2, 300 - group->height() / 2 + 20);
    place_logos_windowed(panel);
}

} // namespace

void Tlogiciel::show_welcome_screen() {
    show_welcome(WelcomeMessage::Ask, nullptr);
}

void Tlogiciel::apply_space_message(const SpaceMessage& message) {
    auto* memo = identification()->ui()->Identification_memo_message_espace;
    space_message_ = message;
    station.messages_visible = message.visible;
    memo->setPlainText(from_cp1252(message.text));
    memo->setVisible(message.visible == 1);
    if (!platform_.desktop_lockable()) {
        show_not_lockable();
    } else if (desktop_reset_->failed()) {
        show_reset_state();
    }
}

void Tlogiciel::show_reset_state() {
    if (!desktop_reset_->failed()) {
        apply_space_message(space_message_);
        return;
    }
    auto* memo = identification()->ui()->Identification_memo_message_espace;
    memo->setPlainText(QStringLiteral("Ce poste n'a pas pu être remis à zéro après la dernière session : "
                                      "prévenez un animateur."));
    memo->show();
}

void Tlogiciel::desktop_session_opened(const ProcessClock& opened) {
    reset_due_ = opened;
}

void Tlogiciel::reset_desktop_if_due() {
    if (reset_due_) {
        desktop_reset_->ask(*reset_due_);
        reset_due_.reset();
    }
}

bool Tlogiciel::desktop_being_reset() const {
    return desktop_reset_->holding();
}

void Tlogiciel::show_not_lockable() {
    auto* memo = identification()->ui()->Identification_memo_message_espace;
    memo->setPlainText(
        QStringLiteral("Ce poste ne peut pas être verrouillé dans une session Wayland : ouvrez une "
                       "session X11 (Xorg)."));
    memo->show();
}

void Tlogiciel::show_welcome(WelcomeMessage from, const SpaceMessage* given) {
    auto* id = identification()->ui();
    Timer_premier_plan_application.start();
    apply_window_layout(FullScreen);
    setWindowTitle(QStringLiteral("Kalimo"));
    station.staff_screen = 0;
    identification()->show();
    id->Identification_label_message_animateur->hide();
    id->Identification_bouton_inscription->show();

    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    const int sw = screen.width();
    const int sh = screen.height();
    const int wh = height();
    auto place = [](QWidget* w, int left, int top) { w->move(left, top); };
    QWidget* group = id->group_box_Identification;
    place(group, sw / 2 - group->width() / 2, sh / 2 - group->height() / 2);
    place(id->Identification_bouton_quitter_logiciel, id->Identification_bouton_quitter_logiciel->x(),
          wh - 152);
    place(id->Identification_bouton_arret_poste, id->Identification_bouton_arret_poste->x(), wh - 115);
    place(id->Identification_bouton_redemarrer_poste, id->Identification_bouton_redemarrer_poste->x(),
          wh - 78);
    place(id->Identification_bouton_fermer_session, id->Identification_bouton_fermer_session->x(), wh - 41);
    place(id->Identification_label_bienvenue, 25, 16);
    QWidget* space = id->Identification_label_nom_espace;
    place(space, sw / 2 - space->width() / 2, 80);
    QWidget* staff = id->Identification_label_message_animateur;
    place(staff, sw / 2 - staff->width() / 2, 128);
    QWidget* memo = id->Identification_memo_message_espace;
    place(memo, sw / 2 - group->width() / 2 - 50 - memo->width(), sh / 2 - memo->height() / 2);
    QWidget* name = id->Identification_label_nom_poste;
    place(name, sw / 2 - name->width() / 2 + 400, sh / 2 + name->height() + 200);
    place_logos_full_screen(identification(), sw);

    if (from == WelcomeMessage::Given) {
        apply_space_message(*given);
    } else if (from == WelcomeMessage::Ask) {
        // The space's staff message comes from the server; it is shown when it answers, if this
        // welcome screen is still up.
        SpaceMessage asked;
        asked.space = station.space_name.str();
        asked.visible = station.messages_visible;
        ask_server<SpaceMessage>(
            *worker_, this, std::move(asked),
            [](DbLink& link, SpaceMessage& m) {
                m.text = load_space_message(link, m.space.c_str(), m.visible);
            },
            [this, same = same_screen(*this, identification())] {
                return same() && station.staff_screen == 0;
            },
            [this](SpaceMessage& m, std::exception_ptr error) {
                if (error) {
                    std::rethrow_exception(error);
                }
                apply_space_message(m);
            });
    }
    // A desktop that cannot be locked is not pretended locked: nobody signs in there.
    const bool lockable = platform_.desktop_lockable();
    id->group_box_Identification->setEnabled(lockable);
    id->Identification_bouton_inscription->setEnabled(lockable);
    if (!lockable) {
        show_not_lockable();
    }
    // The station's first welcome screen is locked at the first tick after the window shows.
    if (isVisible()) {
        keyboard_retries_ = 0;
        hold_lock();
    }
}

void Tlogiciel::show_staff_screen() {
    show_staff_login(false);
}

void Tlogiciel::show_staff_setup_login() {
    show_staff_login(true);
}

void Tlogiciel::show_staff_login(bool before_setup) {
    auto* id = identification()->ui();
    apply_window_layout(Windowed);
    if (before_setup) {
        // A staff member must sign in before the station's set-up can be changed.
        station.setup_required = 1;
    }
    setWindowTitle(before_setup ? QStringLiteral("Kalimo - Paramétrage")
                                : QStringLiteral("Kalimo - Animateur"));
    station.staff_screen = 1;
    if (before_setup) {
        parametrage()->hide();
    }
    identification()->show();
    id->Identification_memo_message_espace->hide();
    id->Identification_label_message_animateur->show();
    id->Identification_bouton_inscription->hide();
    place_staff_login(identification());
    const int wh = height();
    id->Identification_bouton_quitter_logiciel->move(id->Identification_bouton_quitter_logiciel->x(),
                                                     wh - 248);
    id->Identification_bouton_arret_poste->move(id->Identification_bouton_arret_poste->x(), wh - 218);
    id->Identification_bouton_redemarrer_poste->move(id->Identification_bouton_redemarrer_poste->x(),
                                                     wh - 188);
    id->Identification_bouton_fermer_session->move(id->Identification_bouton_fermer_session->x(), wh - 158);
}

void Tlogiciel::show_setup_screen() {
    apply_window_layout(Windowed);
    station.setup_required = 1;
    setWindowTitle(QStringLiteral("Kalimo - Paramétrage"));
    setup_->fill_setup_screen();
    show_only(parametrage());
}

void Tlogiciel::set_title(const QString& title) {
    setWindowTitle(title);
}

void Tlogiciel::show_login() {
    show_only(identification());
    identification()->ui()->Identification_labeledit_identifiant->setFocus();
}

void Tlogiciel::clear_login() {
    identification()->ui()->Identification_labeledit_identifiant->clear();
    identification()->ui()->Identification_labeledit_mot_de_passe->clear();
}

void Tlogiciel::stop_lockdown() {
    Timer_premier_plan_application.stop();
    release_lock();
}

void Tlogiciel::quit() {
    platform_.ask_guard(GuardRequest::StaffQuit);
    station.close_allowed = 1;
    close();
}

void Tlogiciel::minimise_to_tray() {
    // Asked of the system each time: on Windows the lock-down ends the shell that draws the area.
    if (platform_.notification_area_present()) {
        // Only the notification-area icon remains; its menu brings the station back.
        hide();
        return;
    }
    // No notification area: a small window in the corner keeps the way back. Its button ends the
    // staff session and the same menu opens from the window.
    auto* c = compteur_temps()->ui();
    show_only(compteur_temps());
    apply_window_layout(CounterCorner);
    set_stay_on_top(false);
    c->Compteur_Temps_parcouru->hide();
    QWidget* button = c->Compteur_Bouton_deconnexion;
    button->move(width() / 2 - button->width() / 2, 102);
    setWindowTitle(QStringLiteral("Kalimo - Animateur"));
    show();
}

void Tlogiciel::restore_from_tray() {
    showNormal();
    raise();
    activateWindow();
}
