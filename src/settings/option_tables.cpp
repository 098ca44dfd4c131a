#include "settings/option_tables.h"

#include <algorithm>

namespace velmora {

OptionTables ChineseOptionTables() {
    OptionTables t;
    t.programNames = {"AUTO", "SM AUTO", "MM AUTO", "NZ AUTO", "DS AUTO", "SM", "NZ", "DS", "MM"};
    t.heaterNames = {"60mmS", "45mmS", "40mmS", "25mmS", "60mmPS", "60mmPM", "35mmS", "30mmS"};
    t.alignModeNames = {"包层", "纤芯", "手动"};
    t.offOnNames = {"关", "开"};
    t.onOffNames = {"开", "关"};
    t.disableEnableNames = {"忽略", "使能"};
    t.languageNames = {"中文", "英文", "西班牙"};
    t.lcdDirNames = {"自动", "前", "后"};
    t.alwaysOnNames = {"不关闭", "不开启"};
    t.baudNames = {"115200", "256000", "512000", "896000"};
    t.arcCountNames = {"0", "10", "100", "200"};
    t.brightnessNames = {"1", "2", "3", "4", "5", "6", "7"};
    return t;
}

void UseEnglishOptionNames(OptionTables& t) {
    t.alignModeNames = {"Cladding", "Core", "Manual"};
    t.offOnNames = {"Off", "On"};
    t.onOffNames = {"On", "Off"};
    t.disableEnableNames = {"Disable", "Enable"};
    t.languageNames = {"Chinese", "English", "Spanish"};
    t.lcdDirNames = {"Auto", "Front", "Back"};
    t.alwaysOnNames = {"Alaways On", "Alaways Off"};
}

OptionTables OptionTablesFor(const AppConfig& config) {
    OptionTables tables = ChineseOptionTables();
    if (config.UsesEnglishFiles()) UseEnglishOptionNames(tables);
    return tables;
}

namespace {
std::vector<std::string> TimeOptions(const OptionTables& tables, int step, const char* unit) {
    std::vector<std::string> options = {tables.alwaysOnNames.at(0)};
    for (int i = 1; i <= 10; ++i) options.push_back(std::to_string(i * step) + unit);
    return options;
}

char LowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}
}  // namespace

std::vector<std::string> SysTimeOptions(const OptionTables& tables) {
    return TimeOptions(tables, 3, " min");
}
std::vector<std::string> LcdTimeOptions(const OptionTables& tables) {
    return TimeOptions(tables, 30, " s");
}

std::optional<int> MatchOption(std::span<const std::string> options, std::string_view text) {
    for (std::size_t i = 0; i < options.size(); ++i) {
        const std::string& option = options[i];
        if (option.size() == text.size() &&
            std::equal(option.begin(), option.end(), text.begin(),
                       [](char a, char b) { return LowerAscii(a) == LowerAscii(b); }))
            return static_cast<int>(i);
    }
    return std::nullopt;
}

std::optional<std::string> OptionAt(std::span<const std::string> options, long index) {
    if (index < 0 || index >= static_cast<long>(options.size())) return std::nullopt;
    return options[static_cast<std::size_t>(index)];
}

}  // namespace velmora
