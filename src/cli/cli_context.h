#pragma once
// What every command of velmora-cli works with: the options, the line to the
// splicer (connected on first use, as the Setting page connects), and the ways
// a command reports its outcome and exit status.
#include <cstdio>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/interrupt.h"
#include "base/number_text.h"
#include "cli/progress_line.h"
#include "protocol/link.h"
#include "settings/option_tables.h"
#include "settings/parameter_exchange.h"

namespace velmora::cli {

// What every command says when Ctrl-C ended it.
inline constexpr const char* kInterruptedText = "velmora-cli: interrupted";

// Exit statuses.
inline constexpr int kExitOk = 0;
inline constexpr int kExitLineFailed = 1;  // the splicer or the line failed
inline constexpr int kExitUsage = 2;       // usage error, failed range check, local file error
// The work was done (the splicer read or written, the file saved) but the archive
// did not keep it; the reason is on standard error.
inline constexpr int kExitNotArchived = 3;

// Text from the splicer, a file or the archive as a terminal may show it: control
// bytes (ESC, BEL, CR...) and the backslash become \xNN, so that a name can neither
// move the cursor nor ring a bell.
std::string TerminalSafe(std::string_view text);

// The words of a command and its options: each of `valued` takes the word after it
// (whatever that word is), each of `flags` stands alone, any other word beginning
// with "--" is an unknown option, and after "--" every word is a word (a job named
// "-o"). An error text when an option is unknown, lacks its value or comes twice.
struct CommandWords {
    std::vector<std::string> words;
    std::map<std::string, std::string, std::less<>> values;
    std::set<std::string, std::less<>> flags;

    const std::string* Value(std::string_view name) const {
        const auto found = values.find(name);
        return found == values.end() ? nullptr : &found->second;
    }
};
std::optional<std::string> SplitCommandWords(std::span<const std::string> args,
                                             const std::set<std::string_view>& valued,
                                             const std::set<std::string_view>& flags,
                                             CommandWords& out);

// "-b needs a whole number from 1 to 9999, not 'x'": a number an argument names
// that ReadNumber refused, with the range it must be in.
std::string NumberRefusedText(std::string_view what, std::string_view text,
                              const NumberRange& range);

// Why the argument `index` of `args` (the whole command line after the program's
// name) is refused: it is not text in the terminal's `encoding`; named by its place
// and the option it is the value of, its bytes shown as \xNN.
std::string ArgumentNotText(const std::vector<std::string>& args, std::size_t index,
                            const std::string& encoding);

// "1 splice", "3 splices": a count with the word for it.
std::string Counted(std::size_t count, std::string_view one, std::string_view many);

// Where a command prints what it says besides its output: standard output, unless
// the output is written there (-o -), then standard error.
std::FILE* NoticeStream(const std::filesystem::path& output);

struct GlobalOptions {
    std::string port;  // empty: the first port found
    int baud = 115200;
    std::optional<int> englishFlag;  // from --lang; else par/Lan_Ver.ini decides
};

class CliContext {
  public:
    explicit CliContext(GlobalOptions options);
    ~CliContext();
    CliContext(const CliContext&) = delete;
    CliContext& operator=(const CliContext&) = delete;

    // Connects to the splicer unless already connected: kExitOk, or the exit
    // status after the failure has been reported.
    int ConnectSplicer();
    // Sends the disconnection request if connected (called once the command ends).
    void FinishSplicer();

    Link& link() { return link_; }
    ParameterSession& session() { return session_; }
    const OptionTables& tables() const { return tables_; }
    ProgressLine& progress() { return progress_; }

    // A pump for the waits of one step: after a second it shows "<what> N s" on
    // the progress line, and it turns Ctrl-C into a cancelled exchange.
    Pump WaitingPump(std::string_view what);

    // Reports a failed step (its message texts, then the status text) on standard
    // error and returns its exit status.
    int ReportFailure(const StepResult& result);
    // Prints a usage error and returns kExitUsage.
    int UsageError(const std::string& text);

  private:
    GlobalOptions options_;
    Link link_;
    ParameterSession session_;
    OptionTables tables_;
    ProgressLine progress_;
};

}  // namespace velmora::cli
