#pragma once
// How the window and velmora-cli word the team archive's failures and counts, in
// the run's language (section "Team" of the language files).
#include <string>

#include "archive/archive.h"
#include "team/team_client.h"
#include "team/team_pull.h"

namespace velmora::team {

// The failure in plain words, with what the server said; "" when there is none.
std::string TeamErrorText(const TeamError& error);
// "Waiting to be sent: ..." and "Sent: ...", by kind.
std::string WaitingText(const archive::OutboxCounts& counts);
std::string SentText(const archive::OutboxCounts& counts);
// "Answered: PostgreSQL 15.18 at host:5432 as tech1, secure (TLSv1.3), ...".
std::string AnsweredText(const ServerAnswer& answer);
// "Read: ..." of a pull; that the team archive has no such job; "as of" a time.
std::string PulledText(const PullOutcome& outcome);
std::string NoSuchTeamJobText(const std::string& job);
std::string TeamViewAsOfText(const std::string& when);
std::string ImagesWithoutFileText(std::size_t count);
// A row of the team archive this PC did not take: which, whose and why.
std::string LeftOutText(const LeftOutRow& row);
// "Last successful send: <when>", or "never" in its place.
std::string LastSendText(const std::string& when);

}  // namespace velmora::team
