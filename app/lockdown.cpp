#include "app/lockdown.h"

#include "session/identification.h"
#include "session/sessions.h"
#include "app/logiciel.h"
#include "registration/inscription.h"
#include "session/compteur_temps.h"
#include "session/renseignement.h"
#include "setup/parametrage.h"
#include "window/message_box.h"
#include "ui_identification.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWindow>

#include <algorithm>

namespace {

// The toolkit's own connection to the X server, which a keyboard grab must be taken on; null on
// any other platform.
void* display_connection() {
#if QT_CONFIG(xcb)
    if (auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>()) {
        return x11->connection();
    }
#endif
    return nullptr;
}

// Shown, mapped, not minimised and exactly over the given rectangle.
bool in_place(const QWidget* window, const QRect& where) {
    return window->isVisible() && window->windowHandle() != nullptr && window->windowHandle()->isExposed() &&
           (window->windowState() & Qt::WindowMinimized) == 0 && window->geometry() == where;
}

// Puts a window back over the given rectangle. Unmapped by another program, the window still counts
// as shown for the toolkit: it is hidden first so that showing it maps it again.
void put_back(QWidget* window, const QRect& where) {
    if (window->isVisible() && (window->windowHandle() == nullptr || !window->windowHandle()->isExposed())) {
        window->hide();
    }
    window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    window->setGeometry(where);
    window->show();
    window->raise();
}

} // namespace

void Tlogiciel::Timer_premier_plan_applicationTimer() {
    set_stay_on_top(true);
    if (layout_ == FullScreen) {
        hold_lock();
    } else {
        raise();
    }
    kill_shell_processes(platform_);
}

bool Tlogiciel::locked() const {
    return layout_ == FullScreen && Timer_premier_plan_application.isActive();
}

void Tlogiciel::hold_lock() {
    put_lock_back();
    cover_other_screens();
    hold_keyboard();
}

void Tlogiciel::put_lock_back() {
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    if (!in_place(this, screen)) {
        put_back(this, screen);
        activateWindow();
        keyboard_retries_ = 0;
    } else if (QGuiApplication::applicationState() != Qt::ApplicationActive || another_program_on_top()) {
        // Another program's window has the focus or lies over the lock: the station comes back on top.
        raise();
        activateWindow();
    }
}

bool Tlogiciel::another_program_on_top() {
    const std::uintptr_t top = platform_.top_window(display_connection());
    if (top == 0) {
        return false; // the system cannot tell
    }
    const QWindowList ours = QGuiApplication::allWindows();
    return std::none_of(ours.begin(), ours.end(),
                        [top](const QWindow* w) { return w->handle() != nullptr && w->winId() == top; });
}

void Tlogiciel::cover_other_screens() {
    std::vector<QScreen*> others;
    for (QScreen* each : QGuiApplication::screens()) {
        if (each != QGuiApplication::primaryScreen()) {
            others.push_back(each);
        }
    }
    covers_.resize(others.size());
    for (std::size_t i = 0; i < others.size(); ++i) {
        std::unique_ptr<QWidget>& cover = covers_[i];
        if (!cover) {
            // Blank, above every window, never focused: the keyboard stays with the locked window.
            cover = std::make_unique<QWidget>(nullptr, Qt::Window | Qt::FramelessWindowHint |
                                                           Qt::WindowStaysOnTopHint |
                                                           Qt::WindowDoesNotAcceptFocus);
            cover->setObjectName(QStringLiteral("Couverture_ecran"));
            cover->setAttribute(Qt::WA_ShowWithoutActivating);
            QPalette black = cover->palette();
            black.setColor(QPalette::Window, Qt::black);
            cover->setPalette(black);
            cover->setAutoFillBackground(true);
        }
        const QRect where = others[i]->geometry();
        if (!in_place(cover.get(), where)) {
            put_back(cover.get(), where);
        }
    }
}

void Tlogiciel::hold_keyboard() {
    // Taken again at every tick: a popup list of the station's own, or another program, may have
    // taken it meanwhile.
    // The platform window's own id: changing the window's flags replaces the native window.
    const bool held =
        windowHandle() != nullptr &&
        platform_.hold_keyboard(display_connection(), static_cast<std::uintptr_t>(windowHandle()->winId()));
    // A window just mapped again (put back, or shown anew after a session) cannot take the keyboard
    // until the window manager has mapped it: tried again shortly, a few times, not only at the
    // next tick.
    if (held) {
        keyboard_retries_ = 0;
    } else if (keyboard_retries_ < 20) {
        ++keyboard_retries_;
        QTimer::singleShot(50, this, [this] {
            if (locked()) {
                hold_keyboard();
            }
        });
    }
}

void Tlogiciel::release_lock() {
    covers_.clear();
    platform_.release_keyboard(display_connection());
}

void Tlogiciel::Identification_labeledit_identifiantKeyDown(int key, Qt::KeyboardModifiers modifiers) {
    auto* id = identification()->ui();
    const Qt::KeyboardModifiers chord = Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier;
    const bool reveal =
        station.settings.config_menu_logiciel == 1 && (modifiers & chord) == chord && key == Qt::Key_Up;
    id->Identification_bouton_arret_poste->setVisible(reveal);
    id->Identification_bouton_redemarrer_poste->setVisible(reveal);
    id->Identification_bouton_fermer_session->setVisible(reveal);
    id->Identification_bouton_quitter_logiciel->setVisible(reveal);
}

void Tlogiciel::Identification_labeledit_mot_de_passeKeyPress(int character) {
    if (character == 13) {
        sessions_->Identification_bouton_connexionClick();
    }
}

int Tlogiciel::FormKeyPress(int character) {
    return character == 17 ? 0 : character; // 17 is what Ctrl+Q types
}

// The chord is no secret: each of the four buttons acts only for a staff account typed in the
// sign-in fields.
void Tlogiciel::Identification_bouton_quitter_logicielClick() {
    sessions_->act_for_staff(identification()->ui()->Identification_bouton_quitter_logiciel, [this] {
        platform_.run_command("start c://Windows//explorer.exe");
        set_stay_on_top(false);
        Timer_premier_plan_application.stop();
        release_lock();
        platform_.ask_guard(GuardRequest::StaffQuit);
        station.close_allowed = 1;
        close();
    });
}

void Tlogiciel::Identification_bouton_arret_posteClick() {
    sessions_->act_for_staff(identification()->ui()->Identification_bouton_arret_poste,
                             [this] { platform_.run_command("shutdown /s /f"); });
}

void Tlogiciel::Identification_bouton_redemarrer_posteClick() {
    sessions_->act_for_staff(identification()->ui()->Identification_bouton_redemarrer_poste,
                             [this] { platform_.run_command("shutdown /r /f"); });
}

void Tlogiciel::Identification_bouton_fermer_sessionClick() {
    sessions_->act_for_staff(identification()->ui()->Identification_bouton_fermer_session,
                             [this] { platform_.run_command("shutdown /l /f"); });
}

void Tlogiciel::Timer3Timer() {
    // The beat raises no box of its own, so it goes on under one: the room keeps seeing the station,
    // the waiting closes are sent. One beat at a time: while the worker waits on a silent server the
    // next beats are not queued.
    if (beat_in_flight_) {
        return;
    }
    beat_in_flight_ = true;
    worker_->beat(station.id_computer);
}

void Tlogiciel::on_beat_done(bool server_answered) {
    beat_in_flight_ = false;
    // The station identifies itself again once the server answers, but never takes a person out of
    // the survey, the registration form or a session to do it.
    if (server_answered && awaiting_server && idle_on_welcome_screen() && !box_open()) {
        guard(&Tlogiciel::start_station);
    }
}

void Tlogiciel::identify_if_awaiting_server() {
    // Someone signs in on a station still waiting for its server: it identifies itself first, so the
    // session opens on its computer record with its space's settings, or is refused as unconnected.
    if (awaiting_server) {
        start_station();
    }
}

bool Tlogiciel::idle_on_welcome_screen() const {
    return !identification()->isHidden() && renseignement()->isHidden() && inscription()->isHidden() &&
           compteur_temps()->isHidden() && parametrage()->isHidden() && session.id_resa == 0 &&
           !Timer1.isActive();
}

void Tlogiciel::Timer2Timer() {}
