// images and image: the Image page's work on the command line.
#include "cli/image_commands.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "base/path_text.h"
#include "cli/archive_commands.h"
#include "images/image_catalogue.h"
#include "images/image_download.h"
#include "images/image_files.h"
#include "images/images_texts.h"
#include "images/reply_rest.h"
#include "protocol/outcome_texts.h"

namespace velmora::cli {
namespace {

void PrintError(const std::string& text) {
    std::fprintf(stderr, "%s\n", text.c_str());
}

// NUMBER as `images` lists it: 1 to 255 (the list's count is one byte).
constexpr NumberRange kImageNumbers{1, 255};

// Connects and asks for the image list; kExitOk with `catalogue` filled, or the
// exit status once the failure has been reported.
int FetchCatalogue(CliContext& context, ImageCatalogue& catalogue) {
    if (int status = context.ConnectSplicer(); status != kExitOk) return status;
    const ImageListAnswer answer =
        FetchImageList(context.link(), context.WaitingPump("Listing images"));
    context.progress().Clear();
    switch (answer.outcome) {
        case Outcome::Accepted:
            catalogue = answer.catalogue;
            return kExitOk;
        case Outcome::Unexpected:
            // Another head than 87 70: the window stays silent, a command must not.
            // Whatever else the splicer sends is dropped before the disconnection.
            DiscardRestOfReply(context.link(), {}, context.WaitingPump("Listing images"));
            context.progress().Clear();
            PrintError(Say(msg::DataError));
            return kExitLineFailed;
        default: {
            const Message* text = StandardFailureText(answer.outcome);
            PrintError(text ? Say(*text) : Say(msg::DataError));
            return kExitLineFailed;
        }
    }
}

// Runs the download worker on a thread of its own while this thread watches for
// Ctrl-C and shows the percentage; returns once the worker has ended.
ImageDownloadResult GatherImage(CliContext& context, int position, ImageBuffer& buffer,
                                int number) {
    std::mutex mutex;
    std::condition_variable ended;
    bool done = false;
    int percent = 0;
    bool moved = true;
    ImageDownloadResult result;
    std::jthread worker([&](std::stop_token stop) {
        ImageDownloadCallbacks callbacks;
        // The waiting thread wakes when the percentage moves or the download ends;
        // Ctrl-C cancels the link (CliContext), which wakes the download's wait.
        callbacks.progress = [&](int p) {
            std::lock_guard lock(mutex);
            if (p == percent) return;
            percent = p;
            moved = true;
            ended.notify_all();
        };
        ImageDownloadResult fetched = FetchImage(context.link(), position, buffer, stop, callbacks);
        std::lock_guard lock(mutex);
        result = std::move(fetched);
        done = true;
        ended.notify_all();
    });
    std::unique_lock lock(mutex);
    for (;;) {
        // Once a second too: a Ctrl-C that came before the download claimed the
        // line was cleared by that claim, and is passed on here.
        ended.wait_for(lock, std::chrono::seconds(1), [&] { return done || moved; });
        if (done) break;
        if (Interrupted()) worker.request_stop();
        moved = false;
        context.progress().Show("Downloading image " + std::to_string(number) + "... " +
                                std::to_string(percent) + "%");
    }
    lock.unlock();
    worker.join();
    context.progress().Clear();
    return result;
}

}  // namespace

int RunImages(CliContext& context, CommandArgs args) {
    if (!args.empty()) return context.UsageError("images takes no arguments");
    ImageCatalogue catalogue;
    if (int status = FetchCatalogue(context, catalogue); status != kExitOk) return status;
    for (const ImageRow& row : ImageListRows(catalogue))
        std::printf("%s\t%s\n", row.number.c_str(), row.time.c_str());
    return kExitOk;
}

int RunImage(CliContext& context, CommandArgs args) {
    // --force replaces a file saved before, as the window does once the user says Yes.
    CommandWords words;
    const bool parsed = !SplitCommandWords(args, {}, {"--force"}, words);
    const bool replace = words.flags.contains("--force");
    const NumberRead read = parsed && words.words.size() == 1
                                ? ReadNumber(words.words[0], kImageNumbers)
                                : NumberRead{};
    if (!read.ok())
        return context.UsageError(
            "image needs one NUMBER from 1 to 255, as 'images' lists it (and may take --force)");
    const int number = static_cast<int>(read.units);

    ImageCatalogue catalogue;
    if (int status = FetchCatalogue(context, catalogue); status != kExitOk) return status;
    const std::size_t position = static_cast<std::size_t>(number - 1);
    if (position >= catalogue.size())
        return context.UsageError("no image " + std::to_string(number) + ": the splicer holds " +
                                  std::to_string(catalogue.size()));
    const std::optional<std::filesystem::path> path =
        ImageFilePath(context.session().DeviceFolder, catalogue, position);
    if (!path) {
        PrintError(Say(msg::NoDeviceFolder));
        return kExitLineFailed;
    }
    if (ImageFileExists(*path) && !replace)
        return context.UsageError(path->string() +
                                  " exists already; add --force to download and replace it");
    if (!EnsureJpgFolder(context.session().DeviceFolder)) {
        PrintError("velmora-cli: cannot create the folder " + PathText(path->parent_path()));
        return kExitUsage;
    }

    ImageBuffer buffer;
    const ImageDownloadResult result =
        GatherImage(context, static_cast<int>(position), buffer, number);
    if (result.outcome != Outcome::Accepted) {
        PrintError(result.outcome == Outcome::Cancelled ? kInterruptedText
                                                        : ImageDownloadFailureText(result));
        return kExitLineFailed;
    }
    if (const FileWriteResult saved = SaveImageFile(*path, result.image); !saved.ok) {
        PrintError(FileWriteProblemText(*path, saved));
        return kExitUsage;
    }
    const bool archived = ArchiveImage(context, ImageStampText(catalogue[position]),
                                       PathText(path->filename()), result.image);
    std::printf("%s\n", path->string().c_str());
    return archived ? kExitOk : kExitNotArchived;
}

}  // namespace velmora::cli
