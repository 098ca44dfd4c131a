#pragma once
// How the Setting page and velmora-cli word the steps of the Setting page, in
// the run's language.
#include <string>
#include <vector>

#include "base/messages.h"
#include "settings/parameter_exchange.h"

namespace velmora {

namespace msg {
inline constexpr Message WriteQuestion{"是否写入参数？", "Whether in parameter"};
inline constexpr Message WriteSucceeded{"参数写入成功", "Parameter in success"};
inline constexpr Message WriteRefused{"写参数错误", "write parameters error"};
inline constexpr Message HeaterWriteRefused{"写参数错误", "write Heating Parameters error"};
// Our own: a write of a group whose values were not read from this splicer.
inline constexpr Message ReadGroupFirst{"请先读取该组参数，再写入",
                                        "Please read this group before writing it"};
// The write went out but its answer was lost or garbled (%s: how).
inline constexpr Message WriteUnconfirmed{
    "写入未得到确认（%s）：熔接机可能已接受这些参数，请重新读取该组参数核对",
    "The write was not confirmed (%s): the splicer may have taken the values; read the group to "
    "check"};
// The handshake was accepted but the configuration could not be read (%s: how).
inline constexpr Message ConfigUnread{
    "已连接，但无法读取熔接机的配置（%s）：序列号和文件夹未知，请重新连接",
    "Connected, but the splicer's configuration could not be read (%s): its serial number and "
    "folder are not known; please connect again"};
}  // namespace msg

// The text of the failure pane for a failed step ("" when it has none).
std::string StepStatusText(const StepResult& result);

// The OK message boxes of a step, in order.
std::vector<std::string> StepBoxTexts(const StepResult& result);

}  // namespace velmora
