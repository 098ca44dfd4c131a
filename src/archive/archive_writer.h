#pragma once
// The thread of a program that keeps its archive: the window's pages hand it what
// they want stored or looked up, and it runs that in order on its own connection,
// so no page ever waits for the file (a writer of another instance may hold it for
// seconds). The archive is opened on the first job; a file that cannot be used is
// tried again after a pause (meanwhile jobs get the same failure at once, so a
// locked file never holds each queued job for the whole busy timeout), and the
// first failure is reported once; so is a file that can only be read.
#include <chrono>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <stop_token>
#include <thread>

#include "archive/archive.h"

namespace velmora::archive {

class ArchiveWriter {
  public:
    // Runs on the writer's thread. `archive` is null when the archive cannot be used;
    // `error` then says why. A job must not keep the pointer.
    using Job = std::function<void(Archive* archive, const ArchiveError& error)>;
    // Runs on the writer's thread, the first time the archive cannot be opened.
    using UnavailableHandler = std::function<void(const ArchiveError& error)>;

    explicit ArchiveWriter(std::filesystem::path file, OpenOptions options = {});
    // Runs every job still queued (nothing handed over is lost), then ends the thread.
    ~ArchiveWriter();
    ArchiveWriter(const ArchiveWriter&) = delete;
    ArchiveWriter& operator=(const ArchiveWriter&) = delete;

    void SetUnavailableHandler(UnavailableHandler handler);
    // Runs on the writer's thread after each job handed over with Post (a store).
    void SetWrittenHandler(std::function<void()> handler);
    // Queues `job` behind the ones before it.
    void Post(Job job);
    // The same for a job that has nothing to do without an archive (a look, a
    // naming): while no archive file exists it is not created, and the job gets no
    // archive with error NoArchive.
    void PostQuery(Job job);
    // True when no job is queued or running.
    bool Idle() const;
    const std::filesystem::path& File() const { return file_; }

  private:
    void Run(std::stop_token stop);
    struct Queued {
        Job job;
        bool query = false;
    };
    void Queue(Queued queued);
    void RunJob(const Queued& queued);
    void ReportOnce(const ArchiveError& error);

    const std::filesystem::path file_;
    const OpenOptions options_;
    mutable std::mutex mutex_;
    std::condition_variable_any wake_;
    std::deque<Queued> jobs_;
    bool running_ = false;
    UnavailableHandler unavailable_;
    std::function<void()> written_;
    bool reported_ = false;
    // Used on the writer's thread only.
    std::unique_ptr<Archive> archive_;
    ArchiveError openError_;
    std::chrono::steady_clock::time_point nextOpen_{};
    std::jthread thread_;  // last: started once the rest exists
};

}  // namespace velmora::archive
