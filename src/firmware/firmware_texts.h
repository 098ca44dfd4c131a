#pragma once
// How the FirmWare page and velmora-cli word the update, in the run's language.
#include <filesystem>
#include <string>

#include "firmware/firmware_update.h"

namespace velmora {

// Why `file` cannot be sent, with its path ("" for None).
std::string FirmwareFileProblemText(FirmwareFileProblem problem, const std::filesystem::path& file);

// The failure pane's text when the handshakes brought no text from the splicer:
// no answer, or the line failure that ended them ("" when a text arrived).
std::string HandshakeStatusText(const HandshakeResult& result);

// What to tell the user when the handshakes did not lead to a transfer.
std::string NotStartedText(const HandshakeResult& result);

// The end of a transfer: the end text, or what went wrong and how far it got.
std::string FirmwareEndText(const FirmwareResult& result, const std::filesystem::path& file);

}  // namespace velmora
