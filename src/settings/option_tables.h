#pragma once
// The fixed lists behind the coded parameter fields. A field's wire value is
// the position of its text in its list (or the position + 1 where it counts from 1).
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/app_config.h"

namespace velmora {

struct OptionTables {
    std::vector<std::string> programNames;
    std::vector<std::string> heaterNames;
    std::vector<std::string> alignModeNames;
    std::vector<std::string> offOnNames;
    std::vector<std::string> onOffNames;
    std::vector<std::string> disableEnableNames;
    std::vector<std::string> languageNames;
    std::vector<std::string> lcdDirNames;
    std::vector<std::string> alwaysOnNames;  // only the first entry is used
    std::vector<std::string> baudNames;
    std::vector<std::string> arcCountNames;
    std::vector<std::string> brightnessNames;
};

// The tables with their Chinese entries (those that exist in one form only as they are).
OptionTables ChineseOptionTables();

// Replaces the Chinese entries of the translated tables by their English ones.
void UseEnglishOptionNames(OptionTables& tables);

// The tables of a run: English only when EnglishFlag is exactly 1.
OptionTables OptionTablesFor(const AppConfig& config);

// The choices of SysTime ("3 min" ... "30 min") and LcdTime ("30 s" ... "300 s"),
// each after the always-on entry.
std::vector<std::string> SysTimeOptions(const OptionTables& tables);
std::vector<std::string> LcdTimeOptions(const OptionTables& tables);

// Position of the first entry equal to `text`, ignoring the case of Latin letters.
std::optional<int> MatchOption(std::span<const std::string> options, std::string_view text);

// Entry `index` of `options`, or nothing when the index lies outside the table.
std::optional<std::string> OptionAt(std::span<const std::string> options, long index);

}  // namespace velmora
