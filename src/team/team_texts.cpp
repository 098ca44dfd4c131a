#include "team/team_texts.h"

#include "base/language.h"
#include "jobs/jobs_texts.h"

namespace velmora::team {
namespace {

const TextKey& KeyOf(TeamErrorCode code) {
    namespace t = keys::team_tab;
    switch (code) {
        case TeamErrorCode::None:
        case TeamErrorCode::Failed:
            break;
        case TeamErrorCode::NotAvailable:
            return t::NotAvailable;
        case TeamErrorCode::NotJoined:
            return t::NotJoined;
        case TeamErrorCode::BadAddress:
            return t::BadAddress;
        case TeamErrorCode::Insecure:
            return t::Insecure;
        case TeamErrorCode::Unreachable:
            return t::Unreachable;
        case TeamErrorCode::Refused:
            return t::Refused;
        case TeamErrorCode::NeedsTls:
            return t::NeedsTls;
        case TeamErrorCode::AuthFailed:
            return t::AuthFailed;
        case TeamErrorCode::TlsFailed:
            return t::TlsFailed;
        case TeamErrorCode::NoRights:
            return t::NoRights;
        case TeamErrorCode::NotInitialised:
            return t::NotInitialised;
        case TeamErrorCode::TooNew:
            return t::TooNew;
        case TeamErrorCode::ProtocolError:
            return t::ProtocolError;
        case TeamErrorCode::NotAnswering:
            return t::NotAnswering;
        case TeamErrorCode::Stopped:
            return t::Stopped;
        case TeamErrorCode::LocalArchive:
            return t::LocalArchive;
    }
    return t::Failed;
}

// The caption with %1, %2... replaced by `values` in order; a caption from a
// language file may lack some of them.
std::string Filled(const TextKey& key, std::initializer_list<std::string_view> values) {
    std::string text = Text(key);
    int n = 1;
    for (std::string_view value : values) {
        const std::string mark = "%" + std::to_string(n++);
        if (const auto at = text.find(mark); at != std::string::npos)
            text.replace(at, mark.size(), value);
    }
    return text;
}

std::string CountsText(const TextKey& key, const archive::OutboxCounts& counts) {
    const std::string a = std::to_string(counts[0]), b = std::to_string(counts[1]),
                      c = std::to_string(counts[2]), d = std::to_string(counts[3]);
    return Filled(key, {a, b, c, d});
}

}  // namespace

const char* TeamErrorCodeName(TeamErrorCode code) {
    switch (code) {
        case TeamErrorCode::None:
            return "none";
        case TeamErrorCode::NotAvailable:
            return "not available";
        case TeamErrorCode::NotJoined:
            return "not joined";
        case TeamErrorCode::BadAddress:
            return "bad address";
        case TeamErrorCode::Insecure:
            return "insecure";
        case TeamErrorCode::Unreachable:
            return "unreachable";
        case TeamErrorCode::Refused:
            return "refused";
        case TeamErrorCode::NeedsTls:
            return "needs tls";
        case TeamErrorCode::AuthFailed:
            return "auth failed";
        case TeamErrorCode::TlsFailed:
            return "tls failed";
        case TeamErrorCode::NoRights:
            return "no rights";
        case TeamErrorCode::NotInitialised:
            return "not initialised";
        case TeamErrorCode::TooNew:
            return "too new";
        case TeamErrorCode::ProtocolError:
            return "protocol error";
        case TeamErrorCode::NotAnswering:
            return "not answering";
        case TeamErrorCode::Stopped:
            return "stopped";
        case TeamErrorCode::LocalArchive:
            return "local archive";
        case TeamErrorCode::Failed:
            return "failed";
    }
    return "?";
}

std::string TeamErrorText(const TeamError& error) {
    if (error.ok()) return {};
    return Filled(KeyOf(error.code), {error.message});
}

std::string WaitingText(const archive::OutboxCounts& counts) {
    return CountsText(keys::team_tab::Waiting, counts);
}

std::string SentText(const archive::OutboxCounts& counts) {
    return CountsText(keys::team_tab::Sent, counts);
}

std::string AnsweredText(const ServerAnswer& answer) {
    namespace t = keys::team_tab;
    const TextKey& protection = answer.tls.empty()                ? t::NotEncrypted
                                : answer.sslmode == "verify-full" ? t::SecureVerified
                                : answer.sslmode == "verify-ca"   ? t::SecureCaVerified
                                                                  : t::SecureUnverified;
    return Filled(t::Answered, {answer.serverVersion, answer.host, answer.port, answer.user,
                                Filled(protection, {answer.tls})});
}

std::string PulledText(const PullOutcome& outcome) {
    return Filled(keys::team_tab::Pulled,
                  {std::to_string(outcome.records), std::to_string(outcome.images),
                   std::to_string(outcome.changes)});
}

std::string NoSuchTeamJobText(const std::string& job) {
    return Filled(keys::team_tab::NoSuchJob, {job});
}

std::string TeamViewAsOfText(const std::string& when) {
    return Filled(keys::team_tab::ViewAsOf, {when});
}

std::string ImagesWithoutFileText(std::size_t count) {
    return Filled(keys::team_tab::ImagesWithoutFile, {std::to_string(count)});
}

std::string LeftOutText(const LeftOutRow& row) {
    namespace t = keys::team_tab;
    std::string why;
    switch (row.problem) {
        case RowProblem::Refused:
            why = jobs::RefusalText(row.refusal);
            break;
        case RowProblem::NotANumber:
            why = Filled(t::NotANumber, {row.detail});
            break;
        case RowProblem::UnknownField:
            why = Text(t::UnknownField);
            break;
        case RowProblem::BadIdentity:
            why = Filled(t::BadIdentity, {row.detail});
            break;
        case RowProblem::BadRecord:
            why = Text(t::BadRecord);
            break;
        case RowProblem::UnsafeName:
            why = Filled(t::UnsafeName, {row.detail});
            break;
        case RowProblem::BadChecksum:
            why = Text(t::BadChecksum);
            break;
        case RowProblem::NotStored:
        case RowProblem::NotApplied:
            why = row.detail;
            break;
    }
    using Kind = LeftOutRow::Kind;
    if (row.kind == Kind::Entity) return Filled(t::NotApplied, {row.what, row.row, why});
    const std::string which = row.kind == Kind::Change   ? Filled(t::RowChange, {row.row, row.what})
                              : row.kind == Kind::Record ? Filled(t::RowRecord, {row.row})
                                                         : Filled(t::RowImage, {row.row});
    return Filled(t::LeftOut, {which, row.laptop, row.sender, why});
}

std::string LastSendText(const std::string& when) {
    return Filled(keys::team_tab::LastSend,
                  {when.empty() ? Text(keys::team_tab::NeverSent) : when});
}

}  // namespace velmora::team
