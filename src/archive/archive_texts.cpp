#include "archive/archive_texts.h"

namespace velmora::archive {

std::string ArchiveErrorText(const ArchiveError& error) {
    const Message* text = &archive_msg::Other;
    switch (error.code) {
        case ErrorCode::None:
            return {};
        case ErrorCode::NoArchive:
            text = &archive_msg::NoArchive;
            break;
        case ErrorCode::CannotOpen:
            text = &archive_msg::CannotOpen;
            break;
        case ErrorCode::ReadOnly:
            text = &archive_msg::ReadOnly;
            break;
        case ErrorCode::Locked:
            text = &archive_msg::Locked;
            break;
        case ErrorCode::Damaged:
            text = &archive_msg::Damaged;
            break;
        case ErrorCode::TooNew:
            text = &archive_msg::TooNew;
            break;
        case ErrorCode::DiskFull:
            text = &archive_msg::DiskFull;
            break;
        case ErrorCode::InvalidArgument:
        case ErrorCode::NotFound:
        case ErrorCode::Failed:
            break;
    }
    return Say(*text, {error.file, error.message});
}

}  // namespace velmora::archive
