#pragma once
// The worker thread of a page (record download, image download, firmware
// transfer): started by the page, stopped and joined before the page goes away
// or the window closes, and able to hand work to the page's thread and wait for it.
#include <QObject>
#include <QPointer>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>

#include "protocol/link.h"

namespace velmora::ui {

class PageWorker {
  public:
    using Task = std::function<void(std::stop_token)>;

    // `page` is the object whose thread runs the handed-over calls; `link` is
    // cancelled on a stop so that a wait on the line returns at once.
    PageWorker(QObject* page, Link& link);
    ~PageWorker();
    PageWorker(const PageWorker&) = delete;
    PageWorker& operator=(const PageWorker&) = delete;

    // Runs `task` on a thread of its own. False (nothing started) while an
    // earlier run has not ended; an ended run is joined first.
    bool Start(Task task);
    bool Running() const { return running_->load(); }

    // Asks the task to stop, cancels a wait on the line, and waits for the
    // thread to end. Does nothing when no thread was started.
    void StopAndJoin();

    // For the task: runs `call` on the page's thread and waits until it has
    // run (the blocking hand-over of a batch or a result). Returns false, and
    // `call` never runs, when a stop is requested before the page took it up,
    // so that the page's thread may join the worker while a call is queued.
    bool CallOnPage(const std::stop_token& stop, std::function<void()> call);

    // True while the page's thread is inside a call handed over by CallOnPage.
    // The worker cannot be joined then: it waits for that call to return.
    bool InCall() const { return callsRunning_->load() > 0; }

    // The error that ended the last run with an exception, or "".
    std::string Failure() const;

  private:
    QPointer<QObject> page_;
    Link& link_;
    std::shared_ptr<std::atomic<bool>> running_;
    std::shared_ptr<std::atomic<int>> callsRunning_;
    mutable std::mutex failureMutex_;
    std::string failure_;
    std::jthread thread_;  // last, so that it is joined before the rest goes
};

}  // namespace velmora::ui
