#include "ui/app/page_worker.h"

#include <QMetaObject>
#include <QThread>
#include <condition_variable>
#include <exception>

namespace velmora::ui {
namespace {

// One call handed from the worker to the page's thread.
struct HandOver {
    enum class State { Queued, Running, Done, Abandoned };
    std::mutex mutex;
    std::condition_variable_any changed;
    State state = State::Queued;
};

void MarkDone(HandOver& handOver) {
    {
        std::lock_guard lock(handOver.mutex);
        handOver.state = HandOver::State::Done;
    }
    handOver.changed.notify_all();
}

}  // namespace

PageWorker::PageWorker(QObject* page, Link& link)
    : page_(page),
      link_(link),
      running_(std::make_shared<std::atomic<bool>>(false)),
      callsRunning_(std::make_shared<std::atomic<int>>(0)) {}

PageWorker::~PageWorker() {
    StopAndJoin();
}

bool PageWorker::Start(Task task) {
    if (running_->load()) return false;
    if (thread_.joinable()) thread_.join();
    {
        std::lock_guard lock(failureMutex_);
        failure_.clear();
    }
    running_->store(true);
    thread_ = std::jthread([this, task = std::move(task)](std::stop_token stop) {
        // An exception must not leave the thread: it would end the program.
        try {
            task(stop);
        } catch (const std::exception& e) {
            std::lock_guard lock(failureMutex_);
            failure_ = e.what();
        } catch (...) {
            std::lock_guard lock(failureMutex_);
            failure_ = "unknown error";
        }
        running_->store(false);
    });
    return true;
}

void PageWorker::StopAndJoin() {
    if (!thread_.joinable()) return;
    thread_.request_stop();
    if (running_->load()) link_.Cancel();
    // A task that stops its own worker cannot wait for itself.
    if (thread_.get_id() == std::this_thread::get_id()) return;
    thread_.join();
}

bool PageWorker::CallOnPage(const std::stop_token& stop, std::function<void()> call) {
    if (!page_ || stop.stop_requested()) return false;
    if (QThread::currentThread() == page_->thread()) {
        call();
        return true;
    }
    auto handOver = std::make_shared<HandOver>();
    auto calls = callsRunning_;
    QMetaObject::invokeMethod(
        page_.data(),
        [handOver, calls, call = std::move(call)] {
            {
                std::lock_guard lock(handOver->mutex);
                if (handOver->state == HandOver::State::Abandoned) return;
                handOver->state = HandOver::State::Running;
            }
            ++*calls;
            // The worker waits for Done whatever happens inside the call.
            struct Finish {
                HandOver& handOver;
                std::atomic<int>& calls;
                ~Finish() {
                    --calls;
                    MarkDone(handOver);
                }
            } finish{*handOver, *calls};
            call();
        },
        Qt::QueuedConnection);

    std::unique_lock lock(handOver->mutex);
    handOver->changed.wait(lock, stop, [&] { return handOver->state == HandOver::State::Done; });
    switch (handOver->state) {
        case HandOver::State::Done:
            return true;
        case HandOver::State::Queued:
            handOver->state = HandOver::State::Abandoned;
            return false;
        case HandOver::State::Running:
            // The page is inside the call, which may use what the worker holds: let it finish.
            handOver->changed.wait(lock, [&] { return handOver->state == HandOver::State::Done; });
            return true;
        case HandOver::State::Abandoned:
            break;
    }
    return false;
}

std::string PageWorker::Failure() const {
    std::lock_guard lock(failureMutex_);
    return failure_;
}

}  // namespace velmora::ui
