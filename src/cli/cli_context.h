#pragma once
// What every command of velmora-cli works with: the options, the line to the
// splicer (connected on first use, as the Setting page connects), and the ways
// a command reports its outcome and exit status.
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "base/interrupt.h"
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
