#include "cli/cli_context.h"

#include <algorithm>
#include <cstdio>

#include "base/app_config.h"
#include "base/atomic_file.h"
#include "base/text_codec.h"
#include "serial/port_discovery.h"
#include "settings/settings_texts.h"

namespace velmora::cli {

std::string TerminalSafe(std::string_view text) {
    return EscapeControlBytes(text);
}

std::optional<std::string> SplitCommandWords(std::span<const std::string> args,
                                             const std::set<std::string_view>& valued,
                                             const std::set<std::string_view>& flags,
                                             CommandWords& out) {
    bool optionsEnd = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& word = args[i];
        if (optionsEnd || (!word.starts_with("-") && !valued.contains(word))) {
            out.words.push_back(word);
        } else if (word == "--") {
            optionsEnd = true;
        } else if (flags.contains(word)) {
            out.flags.insert(word);
        } else if (valued.contains(word)) {
            if (i + 1 >= args.size()) return word + " needs a value";
            if (!out.values.emplace(word, args[++i]).second) return word + " is given twice";
        } else if (word.starts_with("--")) {
            return "unknown option " + word;
        } else {
            out.words.push_back(word);  // "-" or a negative number
        }
    }
    return std::nullopt;
}

std::string NumberRefusedText(std::string_view what, std::string_view text,
                              const NumberRange& range) {
    std::string kind = range.decimals == 0
                           ? "a whole number"
                           : "a number with at most " + std::to_string(range.decimals) +
                                 (range.decimals == 1 ? " decimal" : " decimals");
    return std::string(what) + " needs " + kind + " from " + RangeText(range) + ", not '" +
           TerminalSafe(text) + "'";
}

std::string ArgumentNotText(const std::vector<std::string>& args, std::size_t index,
                            const std::string& encoding) {
    std::string shown;
    for (const char c : args[index]) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7F && c != '\\') {
            shown += c;
        } else {
            static constexpr char kDigits[] = "0123456789ABCDEF";
            shown += std::string("\\x") + kDigits[byte >> 4] + kDigits[byte & 0xF];
        }
    }
    std::string named = "argument " + std::to_string(index + 1);
    if (index > 0 && args[index - 1].starts_with("-"))
        named += " (the value of " + TerminalSafe(args[index - 1]) + ")";
    return named + " is not text in the terminal's encoding (" + encoding + "): '" + shown +
           "'; type it again in that encoding, or set the terminal's encoding (LANG) to the "
           "one it is in";
}

std::string Counted(std::size_t count, std::string_view one, std::string_view many) {
    return std::to_string(count) + " " + std::string(count == 1 ? one : many);
}

std::FILE* NoticeStream(const std::filesystem::path& output) {
    return IsStandardOutput(output) ? stderr : stdout;
}

CliContext::CliContext(GlobalOptions options)
    : options_(std::move(options)), tables_(OptionTablesFor(Config())) {
    // Ctrl-C wakes whatever wait the line is in, so no wait has to look for it in
    // slices; the pumps only show how long a wait has lasted, in whole seconds.
    SetInterruptCallback([this] { link_.Cancel(); });
    link_.SetPumpInterval(std::chrono::seconds(1));
}

CliContext::~CliContext() {
    FinishSplicer();
    SetInterruptCallback(nullptr);
}

int CliContext::ConnectSplicer() {
    if (session_.state == ConnectionState::Connected && link_.Port().IsOpen()) return kExitOk;
    std::string device = options_.port;
    if (device.empty()) {
        // As the page does: the first port found is the one selected.
        const std::vector<PortEntry> ports = DiscoverPorts();
        if (ports.empty()) return UsageError("no serial port found; name one with -p DEVICE");
        device = ports.front().device;
    }
    const StepResult result =
        Connect(link_, session_, device, options_.baud, WaitingPump("Connecting"));
    progress_.Clear();
    if (result.ok) return kExitOk;
    // A handshake nobody answered leaves the port open; nothing more is sent on it.
    link_.Port().ClosePort();
    // Without -p the user may not know which port was tried.
    if (options_.port.empty())
        std::fprintf(stderr, "velmora-cli: %s (the first port found)\n", device.c_str());
    return ReportFailure(result);
}

void CliContext::FinishSplicer() {
    if (!link_.Port().IsOpen()) return;
    if (Interrupted() || session_.state != ConnectionState::Connected) {
        SendDisconnectOnExit(link_, session_);
        return;
    }
    const StepResult result = Disconnect(link_, session_, WaitingPump("Disconnecting"));
    progress_.Clear();
    if (!result.ok)
        std::fprintf(stderr, "velmora-cli: disconnection: %s\n", StepStatusText(result).c_str());
}

Pump CliContext::WaitingPump(std::string_view what) {
    const auto start = std::chrono::steady_clock::now();
    return [this, start, label = std::string(what)] {
        if (Interrupted()) link_.Cancel();
        const auto waited = std::chrono::steady_clock::now() - start;
        if (waited < std::chrono::seconds(1)) return;
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(waited).count();
        progress_.Show(label + "... " + std::to_string(seconds) + " s");
    };
}

int CliContext::ReportFailure(const StepResult& result) {
    progress_.Clear();
    if (result.outcome == Outcome::Cancelled && Interrupted()) {
        std::fprintf(stderr, "%s\n", kInterruptedText);
        return kExitLineFailed;
    }
    const std::vector<std::string> boxes = StepBoxTexts(result);
    for (const std::string& text : boxes) std::fprintf(stderr, "%s\n", text.c_str());
    const std::string status = StepStatusText(result);
    const bool statusShown = std::find(boxes.begin(), boxes.end(), status) != boxes.end();
    if (result.pane == StatusPane::Failure && !statusShown)
        std::fprintf(stderr, "%s\n", status.c_str());
    return result.userError ? kExitUsage : kExitLineFailed;
}

int CliContext::UsageError(const std::string& text) {
    progress_.Clear();
    std::fprintf(stderr, "velmora-cli: %s\n", text.c_str());
    return kExitUsage;
}

}  // namespace velmora::cli
