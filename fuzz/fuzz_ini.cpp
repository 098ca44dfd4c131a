// The INI files the program reads: the language choice (par/Lan_Ver.ini) and the
// caption files (par/Lan_En.ini, par/Lan.ini in GBK), through ReadProfileString,
// the caption lookup and the start-up configuration.
//
// Each input is written once to a fixed file under /tmp (one folder per process)
// that stands for all three files.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <system_error>

#include "base/app_config.h"
#include "base/ini_file.h"
#include "base/language.h"
#include "base/text_codec.h"
#include "fuzz_common.h"

using namespace velmora;

namespace {

std::filesystem::path g_dir;   // holds par/
std::filesystem::path g_file;  // par/Lan_En.ini; Lan.ini and Lan_Ver.ini lead to it

void CheckValue(const std::string& value) {
    FUZZ_CHECK(IsValidUtf8(value));
    // 1023 bytes of GBK become at most 1.5 times as many of UTF-8 (U+FFFD for a stray byte).
    FUZZ_CHECK(value.size() <= kProfileValueCap * 3);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    velmora_fuzz::InstallEnglishConfig();
    g_dir = std::filesystem::path("/tmp") / ("velmora-fuzz-ini-" + std::to_string(getpid()));
    std::error_code ec;
    std::filesystem::create_directories(g_dir / "par", ec);
    g_file = g_dir / "par" / "Lan_En.ini";
    for (const char* other : {"Lan.ini", "Lan_Ver.ini"}) {
        std::filesystem::remove(g_dir / "par" / other, ec);
        std::filesystem::create_symlink("Lan_En.ini", g_dir / "par" / other, ec);
    }
    std::atexit([] {
        std::error_code ignored;
        std::filesystem::remove_all(g_dir, ignored);
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    {
        std::FILE* f = std::fopen(g_file.c_str(), "wb");
        if (!f) return 0;
        if (size) std::fwrite(data, 1, size, f);
        std::fclose(f);
    }

    const std::span<const TextKey> keys = AllTextKeys();
    const TextKey& chosen = keys[(size ? data[0] : 0) % keys.size()];
    const std::pair<std::string_view, std::string_view> lookups[] = {
        {"DlgPara", "Comm_Lanage"},
        {"dlgpara", "dlgname"},
        {chosen.section, chosen.key},
        {"TAB0", "Para0"},
        {"", ""},
        {"\xD6\xD0", "\xCE\xC4"},  // GBK names
    };
    for (const auto& [section, key] : lookups) CheckValue(ReadProfileString(g_file, section, key));

    // Start-up: the language choice and the page colour from the same file, which
    // the caption lookup would otherwise keep from the input before.
    ReloadCaptions();
    const AppConfig config = LoadAppConfig(g_dir);
    (void)config.EnglishMessages();
    AppConfig other = config;
    other.EnglishFlag = config.UsesEnglishFiles() ? 0 : 1;
    CheckValue(LookupText(config, chosen.section, chosen.key));
    CheckValue(LookupText(other, chosen.section, chosen.key));
    return 0;
}
