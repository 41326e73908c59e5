// An operation a person starts that needs the server (a sign-in, a session's start), handed to the
// worker so that the window keeps answering while the server does. One at a time: while it is out,
// the control that started it is disabled, the pointer shows work and a second press starts nothing.
// Its outcome is applied on the window's thread, as the handler always applied it, unless the screen
// it was for is no longer up: then it is dropped.
//
// Run inline (the tests' worker), the work and its outcome come before the press returns, nothing is
// disabled, and an error goes to the caller as it always did.
#pragma once

#include "fonction/db_link.h"
#include "fonction/station_worker.h"
#include "window/guarded.h"
#include "window/station_window.h"

#include <QGuiApplication>
#include <QPointer>
#include <QWidget>

#include <exception>
#include <functional>
#include <memory>
#include <utility>

// The screen an answer is for is still up: the station has not started again since this was called,
// and `panel`, when given, is still shown.
inline std::function<bool()> same_screen(const StationWindow& window, const QWidget* panel = nullptr) {
    return [&window, panel, starts = window.starts()] {
        return window.starts() == starts && (panel == nullptr || !panel->isHidden());
    };
}

// The same without a control, and any number at a time (a screen's contents that follow it): `apply`
// runs if `still_up()` says so when the answer comes; inline, at once.
template <class Result>
void ask_server(StationWorker& worker, QWidget* window, Result initial,
                std::function<void(DbLink&, Result&)> work, std::function<bool()> still_up,
                std::function<void(Result&, std::exception_ptr)> apply) {
    auto result = std::make_shared<Result>(std::move(initial));
    const bool inline_mode = worker.mode() == WorkerMode::Inline;
    worker.for_window([result, work](DbLink& link) { work(link, *result); },
                      [window, result, still_up, apply, inline_mode](std::exception_ptr error) {
                          if (inline_mode) {
                              apply(*result, error);
                          } else if (still_up()) {
                              guarded(window, [&] { apply(*result, error); });
                          }
                      });
}

class ServerOperation {
  public:
    ServerOperation(StationWorker& worker, QWidget* window) : worker_(worker), window_(window) {}
    ~ServerOperation() { idle(); }
    ServerOperation(const ServerOperation&) = delete;
    ServerOperation& operator=(const ServerOperation&) = delete;

    bool out() const { return out_; }

    // Hands `work(link, result)` to the worker and, once it has run, `apply(result, error)` to the
    // window's thread if `still_up()` then says the screen is the one it was for. `result` starts as
    // `initial`. False (and nothing done) while another is out.
    template <class Result>
    bool start(QWidget* control, Result initial, std::function<void(DbLink&, Result&)> work,
               std::function<bool()> still_up, std::function<void(Result&, std::exception_ptr)> apply) {
        if (out_) {
            return false;
        }
        if (worker_.mode() == WorkerMode::Thread) {
            busy(control);
        }
        // Inline, still_up is not asked: nothing was made busy.
        ask_server<Result>(
            worker_, window_, std::move(initial), std::move(work),
            [this, still_up = std::move(still_up)] {
                idle();
                return still_up();
            },
            std::move(apply));
        return true;
    }

  private:
    void busy(QWidget* control) {
        out_ = true;
        control_ = control;
        if (control_ != nullptr) {
            had_focus_ = control_->hasFocus();
            was_enabled_ = !control_->testAttribute(Qt::WA_ForceDisabled);
            control_->setEnabled(false);
        }
        QGuiApplication::setOverrideCursor(Qt::BusyCursor);
    }
    void idle() {
        if (!out_) {
            return;
        }
        out_ = false;
        QGuiApplication::restoreOverrideCursor();
        if (control_ != nullptr && was_enabled_) {
            control_->setEnabled(true);
            // Disabling it sent the keyboard to the next control: it comes back.
            if (had_focus_ && control_->isVisible()) {
                control_->setFocus();
            }
        }
        control_.clear();
    }

    StationWorker& worker_;
    QWidget* window_;
    bool out_ = false;
    QPointer<QWidget> control_;
    bool had_focus_ = false;
    bool was_enabled_ = true;
};
