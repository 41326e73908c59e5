#include "fonction/station_worker.h"

#include "fonction/conversion.h"
#include "fonction/session_queries.h"
#include "fonction/station_queries.h"
#include "platform/platform.h"

#include <algorithm>

StationWorker::StationWorker(ServerHealth& health, WorkerMode mode) : mode_(mode) {
    // The worker's link is the probe that tells when a lost server answers again: it always tries.
    link_.health = &health;
    link_.fail_fast = false;
    window_link_.health = &health;
    window_link_.fail_fast = true;
    link_.keep_open = true;
    window_link_.keep_open = true;
    if (mode_ == WorkerMode::Thread) {
        // A result waits at most this long on a window that is otherwise idle.
        pick_up_.setInterval(20);
        connect(&pick_up_, &QTimer::timeout, this, &StationWorker::deliver_results);
        thread_ = std::thread([this] { run_jobs(); });
    }
}

StationWorker::~StationWorker() {
    if (thread_.joinable()) {
        // The closes already asked for are sent (or kept in the record) before the program goes.
        {
            const std::lock_guard<std::mutex> lock(queue_mutex_);
            stopping_ = true;
        }
        queue_changed_.notify_all();
        thread_.join();
    }
    drop_link(link_);
    drop_link(window_link_);
}

void StationWorker::run_jobs() {
    std::unique_lock<std::mutex> lock(queue_mutex_);
    for (;;) {
        queue_changed_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
        if (jobs_.empty()) {
            return; // stopping, and every job asked for has run
        }
        std::function<void()> job = std::move(jobs_.front());
        jobs_.pop_front();
        lock.unlock();
        try {
            job();
        } catch (...) {
            // A job that failed (memory ran out) is as a server that did not answer: it delivers
            // nothing, and the worker goes on with the next.
        }
        lock.lock();
        --outstanding_;
        queue_changed_.notify_all();
    }
}

void StationWorker::post(std::function<void()> job) {
    if (mode_ == WorkerMode::Inline) {
        job();
        return;
    }
    {
        const std::lock_guard<std::mutex> lock(queue_mutex_);
        jobs_.push_back(std::move(job));
        ++outstanding_;
    }
    queue_changed_.notify_all();
    if (!pick_up_.isActive()) {
        pick_up_.start();
    }
}

void StationWorker::deliver(std::function<void()> result) {
    if (mode_ == WorkerMode::Inline) {
        result();
        return;
    }
    {
        const std::lock_guard<std::mutex> lock(queue_mutex_);
        results_.push_back(std::move(result));
    }
    // The window's thread picks it up at its next turn, not at the pick-up timer's: an answer a
    // person waits for is shown at once.
    QMetaObject::invokeMethod(this, &StationWorker::deliver_results, Qt::QueuedConnection);
}

void StationWorker::deliver_results() {
    // One at a time: a result whose handler throws leaves the others queued for the next pick-up.
    for (;;) {
        std::function<void()> result;
        {
            const std::lock_guard<std::mutex> lock(queue_mutex_);
            if (results_.empty()) {
                if (outstanding_ == 0) {
                    pick_up_.stop();
                }
                return;
            }
            result = std::move(results_.front());
            results_.pop_front();
        }
        result();
    }
}

void StationWorker::drain() {
    if (mode_ == WorkerMode::Inline) {
        return;
    }
    std::unique_lock<std::mutex> lock(queue_mutex_);
    queue_changed_.wait(lock, [this] { return outstanding_ == 0; });
}

std::optional<OpenSession> StationWorker::settle_left_record() {
    // Runs before any request, on the caller's thread: nothing else touches the record yet.
    SessionRecord left;
    switch (read_session_record(left)) {
    case RecordRead::Absent:
        return std::nullopt;
    case RecordRead::Unreadable:
        // As an unreadable configuration file: removed, and the station starts normally.
        remove_session_record();
        return std::nullopt;
    case RecordRead::Read:
        break;
    }
    const SessionRecord kept = settle_session_record(link_, left);
    const std::lock_guard<std::mutex> lock(mutex_);
    leftover_ = kept.open;
    pending_ = kept.pending;
    record_on_disk_ = true;
    save_record();
    return left.open;
}

void StationWorker::poll_status(int id_user, int id_resa, int polled_status) {
    post([this, id_user, id_resa, polled_status] {
        int status = polled_status;
        try {
            poll_session_status(link_, id_user, id_resa, status);
        } catch (const ConversionError& error) {
            const QByteArray value = QByteArray::fromStdString(error.value());
            deliver([this, id_resa, value] { emit status_unreadable(id_resa, value); });
            return;
        }
        deliver([this, id_resa, status] { emit status_polled(id_resa, status); });
    });
}

void StationWorker::beat(int id_computer) {
    post([this, id_computer] {
        const bool answered = report_station_alive(link_, id_computer);
        {
            std::unique_lock<std::mutex> lock(mutex_);
            SessionRecord left;
            left.open = leftover_;
            left.pending = pending_;
            // The file changes when something was settled, or when an open session was alive again;
            // a record only waiting for the server is not written again at every beat.
            bool changed = current_.has_value();
            if (answered && !left.empty()) {
                lock.unlock();
                const SessionRecord kept = settle_session_record(link_, left);
                lock.lock();
                leftover_ = kept.open;
                pending_ = kept.pending;
                changed = true;
            }
            if (current_) {
                current_->last_alive = platform().local_time();
            }
            if (changed) {
                save_record();
            }
        }
        deliver([this, answered] { emit beat_done(answered); });
    });
}

void StationWorker::session_opened(const OpenSession& session) {
    post([this, session] {
        std::optional<OpenSession> leftover;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            leftover = leftover_;
        }
        if (leftover) {
            // One open session fits in the record: an earlier run's is settled first (the server
            // answered this sign-in), and only if it cannot be does it become the close it would get.
            SessionRecord left;
            left.open = leftover;
            const SessionRecord kept = settle_session_record(link_, left);
            const std::lock_guard<std::mutex> lock(mutex_);
            if (kept.open) {
                pending_.push_back(close_of(*kept.open));
            }
            leftover_.reset();
        }
        const std::lock_guard<std::mutex> lock(mutex_);
        current_ = session;
        save_record();
    });
}

void StationWorker::close_session(const PendingClose& close) {
    post([this, close] {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            if (current_ && current_->id_resa == close.id_resa) {
                current_.reset();
            }
        }
        const bool taken =
            close_session_row(link_, close.duration_minutes, close.closing_status, close.id_resa);
        const std::lock_guard<std::mutex> lock(mutex_);
        // A row that was never written (id 0) has nothing to close later; what is kept is held to
        // what the record may say (a session of more than a day is settled as a day).
        if (!taken && close.id_resa > 0) {
            PendingClose kept = close;
            kept.duration_minutes = std::min(std::max(kept.duration_minutes, 0), max_settled_minutes);
            pending_.push_back(kept);
        }
        save_record();
    });
}

void StationWorker::for_window(std::function<void(DbLink&)> work,
                               std::function<void(std::exception_ptr)> apply) {
    post([this, work = std::move(work), apply = std::move(apply)] {
        std::exception_ptr error;
        try {
            work(window_link_);
        } catch (...) {
            error = std::current_exception();
        }
        deliver([apply, error] { apply(error); });
    });
}

std::vector<PendingClose> StationWorker::pending_closes() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return pending_;
}

SessionRecord StationWorker::record() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return record_locked();
}

SessionRecord StationWorker::record_locked() const {
    SessionRecord record;
    record.open = current_ ? current_ : leftover_;
    record.pending = pending_;
    return record;
}

void StationWorker::save_record() {
    const SessionRecord record = record_locked();
    if (record.empty() && !record_on_disk_) {
        return;
    }
    // A record the reader would refuse is not written; the file keeps the last good one.
    if (write_session_record(record)) {
        record_on_disk_ = !record.empty();
    }
}
