#include "archive/archive_writer.h"

#include <exception>
#include <utility>

#include "base/path_text.h"

namespace velmora::archive {
namespace {

// How long a file that could not be opened is left alone before it is tried again.
constexpr std::chrono::seconds kRetryPause{10};

}  // namespace

ArchiveWriter::ArchiveWriter(std::filesystem::path file, OpenOptions options)
    : file_(std::move(file)),
      options_(std::move(options)),
      thread_([this](std::stop_token stop) { Run(stop); }) {}

ArchiveWriter::~ArchiveWriter() {
    thread_.request_stop();
    if (thread_.joinable()) thread_.join();
}

void ArchiveWriter::SetUnavailableHandler(UnavailableHandler handler) {
    std::lock_guard lock(mutex_);
    unavailable_ = std::move(handler);
}

void ArchiveWriter::SetWrittenHandler(std::function<void()> handler) {
    std::lock_guard lock(mutex_);
    written_ = std::move(handler);
}

void ArchiveWriter::Post(Job job) {
    Queue({std::move(job), false});
}

void ArchiveWriter::PostQuery(Job job) {
    Queue({std::move(job), true});
}

void ArchiveWriter::Queue(Queued queued) {
    {
        std::lock_guard lock(mutex_);
        jobs_.push_back(std::move(queued));
    }
    wake_.notify_one();
}

bool ArchiveWriter::Idle() const {
    std::lock_guard lock(mutex_);
    return jobs_.empty() && !running_;
}

void ArchiveWriter::Run(std::stop_token stop) {
    for (;;) {
        Queued job;
        {
            std::unique_lock lock(mutex_);
            // A stop ends the thread only once the queue is empty.
            wake_.wait(lock, stop, [this] { return !jobs_.empty(); });
            if (jobs_.empty()) break;
            job = std::move(jobs_.front());
            jobs_.pop_front();
            running_ = true;
        }
        RunJob(job);
        std::lock_guard lock(mutex_);
        running_ = false;
    }
    // The connection ends on the thread that used it.
    archive_.reset();
}

void ArchiveWriter::ReportOnce(const ArchiveError& error) {
    UnavailableHandler report;
    {
        std::lock_guard lock(mutex_);
        if (!reported_) report = unavailable_;
        reported_ = true;
    }
    if (report) report(error);
}

void ArchiveWriter::RunJob(const Queued& queued) {
    ArchiveError error;
    if (!archive_ && std::chrono::steady_clock::now() < nextOpen_) {
        error = openError_;
    } else if (!archive_) {
        OpenOptions options = options_;
        options.purpose = queued.query ? OpenFor::Reading : OpenFor::Writing;
        OpenResult opened = Archive::Open(file_, options);
        archive_ = std::move(opened.archive);
        error = opened.error;
        if (!archive_ && error.ok()) error = {ErrorCode::CannotOpen, {}, PathText(file_)};
        // Nothing archived yet is no failure: the first store makes the file.
        if (!archive_ && error.code != ErrorCode::NoArchive) {
            openError_ = error;
            nextOpen_ = std::chrono::steady_clock::now() + kRetryPause;
            ReportOnce(error);
        }
        if (archive_ && archive_->ReadOnly())
            ReportOnce({ErrorCode::ReadOnly, "the file cannot be written", PathText(file_)});
    }
    // A job that throws must not end the thread: later jobs would wait forever.
    try {
        queued.job(archive_.get(), error);
    } catch (const std::exception&) {
    }
    if (queued.query || !archive_) return;
    std::function<void()> written;
    {
        std::lock_guard lock(mutex_);
        written = written_;
    }
    if (written) written();
}

}  // namespace velmora::archive
