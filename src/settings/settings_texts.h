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
}  // namespace msg

// The text of the failure pane for a failed step ("" when it has none).
std::string StepStatusText(const StepResult& result);

// The OK message boxes of a step, in order.
std::vector<std::string> StepBoxTexts(const StepResult& result);

}  // namespace velmora
