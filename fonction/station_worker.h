// Every database operation of the station, on a thread of its own so that the window never waits on
// the network: the timers' (the session's status poll, the heartbeat, the session closes and their
// retries, and the session record that lets a crash or a power cut lose none of them) and, through
// for_window, those a person starts. The worker has its own two links, the timers' and the window's,
// each kept open across operations (see DbLink::keep_open): a station polls every second, and with TLS
// a connection per operation would be a handshake every second on the station and on the server.
//
// Requests come from the window's thread into a queue under a lock; results go back the same way and
// reach the window's thread at its next turn (a short timer of its own picks up any left while
// anything is outstanding), which applies them or emits them as signals. Nothing else crosses: the
// ServerHealth locks itself.
//
// Inline, every request runs at once on the caller's thread and its result is delivered before the
// request returns: tests stay deterministic and the window's code is the same.
#pragma once

#include "fonction/db_link.h"
#include "fonction/session_record.h"

#include <QByteArray>
#include <QObject>
#include <QTimer>

#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

enum class WorkerMode { Inline, Thread };

class StationWorker : public QObject {
    Q_OBJECT

  public:
    StationWorker(ServerHealth& health, WorkerMode mode);
    ~StationWorker() override;
    StationWorker(const StationWorker&) = delete;
    StationWorker& operator=(const StationWorker&) = delete;

    WorkerMode mode() const { return mode_; }

    // Reads the session record a previous run left behind and settles it with the server: rows still
    // open are closed with the time they really lasted, closes not taken are sent. Runs at once on the
    // caller's thread, before the first screen; what the server does not take is kept for the beats.
    // Returns the session the previous run left open, if it left one: its desktop is to be reset.
    std::optional<OpenSession> settle_left_record();

    // Requests, from the window's thread.
    // The status of the open session row; answered by status_polled (or status_unreadable).
    void poll_status(int id_user, int id_resa, int polled_status);
    // The heartbeat of the station's computer row; while the server answers, the closes it has not
    // taken yet and the sessions an earlier run left open are settled. Answered by beat_done.
    void beat(int id_computer);
    // A session row was opened on this station: it is kept in the record until it is closed.
    void session_opened(const OpenSession& session);
    // Closes a session row; a close the server does not take is kept and sent again at each beat.
    void close_session(const PendingClose& close);

    // An operation a person started (a sign-in, a session's start, the station's identification):
    // `work` runs on the worker, after the requests before it, with a link of its own that fails at
    // once while the server is known to be lost, as the window's operations always have; then `apply`
    // runs on the window's thread, given what `work` threw (nullptr when it returned). `work` touches
    // nothing of the window's: it reads and writes only what its lambda holds.
    void for_window(std::function<void(DbLink&)> work, std::function<void(std::exception_ptr)> apply);

    // Waits until every request made so far has run; their results are then waiting for
    // deliver_results (or the pick-up timer).
    void drain();
    // Emits, on the window's thread, the results that have come back.
    void deliver_results();

    // What is waiting for the server (a copy; safe from any thread).
    std::vector<PendingClose> pending_closes() const;
    SessionRecord record() const;

  signals:
    void status_polled(int id_resa, int polled_status);
    // The row's status is not a decimal integer: the value, in the station's code page.
    void status_unreadable(int id_resa, const QByteArray& value);
    void beat_done(bool server_answered);

  private:
    void post(std::function<void()> job);
    // From a job: a result for the window's thread.
    void deliver(std::function<void()> result);
    void run_jobs();
    // With mutex_ held: the record as the file holds it, and writing it.
    SessionRecord record_locked() const;
    void save_record();

    const WorkerMode mode_;
    DbLink link_;
    DbLink window_link_; // for_window's operations

    // The queue both ways. `outstanding_` counts the jobs posted and not finished.
    std::mutex queue_mutex_;
    std::condition_variable queue_changed_;
    std::deque<std::function<void()>> jobs_;
    std::deque<std::function<void()>> results_;
    int outstanding_ = 0;
    bool stopping_ = false;
    std::thread thread_;
    // Window's thread: picks the results up while anything is outstanding.
    QTimer pick_up_;

    // The record's parts, written by the jobs and read under the lock for copies.
    mutable std::mutex mutex_;
    std::optional<OpenSession> current_;  // this run's open session
    std::optional<OpenSession> leftover_; // an earlier run's, not settled yet
    std::vector<PendingClose> pending_;
    bool record_on_disk_ = false;
};
