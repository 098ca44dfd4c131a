#include "protocol/outcome_texts.h"

namespace velmora {

const Message* StandardFailureText(Outcome outcome) {
    static constexpr Message kWriteFailed{"串口写入失败", "Write to port failed"};
    static constexpr Message kCancelled{"通讯已取消", "Communication cancelled"};
    // 0xEC in the command position: the splicer answered, and said no.
    static constexpr Message kRefused{"熔接机拒绝了该请求", "The splicer refused the request"};
    switch (outcome) {
        case Outcome::NoAnswer:
            return &msg::NoAnswer;
        case Outcome::BadCheck:
            return &msg::CheckCodeError;
        case Outcome::NotOpen:
            return &msg::CommDisconnected;
        case Outcome::PortLost:
            return &msg::PortLost;
        case Outcome::Busy:
            return &msg::LineBusy;
        case Outcome::WriteFailed:
            return &kWriteFailed;
        case Outcome::Cancelled:
            return &kCancelled;
        case Outcome::Rejected:
            return &kRefused;
        case Outcome::Accepted:
        case Outcome::Unexpected:
            return nullptr;
    }
    return nullptr;
}

std::string PortOpenFailureText(const std::string& reason, bool accessDenied) {
    std::string text = Say(msg::CommPortError) + ": " + reason;
    if (accessDenied) text += "; " + Say(msg::PortPermission);
    return text;
}

}  // namespace velmora
