// The core's include graph runs one way: base, then serial, then protocol, then
// the feature cores, then the texts the front ends word their results with; no
// core file includes anything of the Qt layer. The build also gives the core no
// Qt include path; this test names the offending line when a file breaks the rule.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <string>

namespace {

namespace fs = std::filesystem;

const fs::path kSource = VELMORA_SOURCE_DIR;

// The layer of a file of src/, lower layers first; -1 for the Qt layer and the programs.
int LayerOf(const std::string& relative) {
    const std::string folder = relative.substr(0, relative.find('/'));
    const std::string name = fs::path(relative).stem().string();
    // The window (ui/) and the programs present and ask; every other folder is core.
    if (folder == "ui" || folder == "cli" || folder == "sim") return -1;
    // Start-up reads the page colour from the language file: its source sits with the wording.
    if (relative == "base/app_config.cpp") return 4;
    if (folder == "base") return name == "messages" || name == "language" ? 4 : 0;
    if (folder == "serial") return 1;
    if (folder == "protocol") return name.ends_with("_texts") ? 4 : 2;
    // The jobs judge their splices by the pass rule of history/; the report reads the
    // archive, words every splice as the Result page does and presents the jobs'
    // matrix and verdict, above them.
    // The team archive checks what it reads with the job store's rules.
    if (folder == "jobs" || folder == "team") return 4;
    if (folder == "report") return 5;
    // Feature cores; the files that word results for the front ends sit above them.
    const bool wording = name.ends_with("_texts") || name == "parameter_rows" ||
                         name == "settings_backup" || name == "snapshot_backup";
    return wording ? 4 : 3;
}

TEST(Layering, CoreIncludesRunOneWayAndNeverReachTheQtLayer) {
    const std::regex include(R"re(^\s*#\s*include\s*[<"]([^">]+)[">])re");
    int files = 0;
    for (const auto& entry : fs::recursive_directory_iterator(kSource / "src")) {
        const std::string ext = entry.path().extension().string();
        if (ext != ".h" && ext != ".cpp") continue;
        const std::string relative = fs::relative(entry.path(), kSource / "src").generic_string();
        const int layer = LayerOf(relative);
        if (layer < 0) continue;
        ++files;
        std::ifstream in(entry.path());
        std::string line;
        for (int number = 1; std::getline(in, line); ++number) {
            std::smatch m;
            if (!std::regex_search(line, m, include)) continue;
            const std::string target = m[1];
            const std::string where = relative + ":" + std::to_string(number) + ": " + target;
            EXPECT_FALSE(target.starts_with("Q") || target.starts_with("qt")) << where;
            if (!fs::exists(kSource / "src" / target)) continue;  // a system header
            const int targetLayer = LayerOf(target);
            EXPECT_GE(targetLayer, 0) << where << " (the Qt layer or a program)";
            EXPECT_LE(targetLayer, layer) << where << " (a layer above)";
        }
    }
    EXPECT_GT(files, 40);
}

}  // namespace
