#include "base/language.h"

#include <vector>

#include "base/ini_file.h"

namespace velmora {

std::string LookupText(const AppConfig& config, std::string_view section, std::string_view key) {
    const char* file = config.UsesEnglishFiles() ? "Lan_En.ini" : "Lan.ini";
    return ReadProfileString(config.ParFolder() / file, section, key);
}

std::string LookupText(std::string_view section, std::string_view key) {
    return LookupText(Config(), section, key);
}

std::string Text(const TextKey& key) {
    std::string value = LookupText(key.section, key.key);
    return value.empty() ? std::string(key.english) : value;
}

std::span<const TextKey> AllTextKeys() {
    static const std::vector<TextKey> all = [] {
        using namespace keys;
        std::vector<TextKey> v = {
            DlgName,          DlgStatOpen,      DlgStatClose,    CommStatFail,    CommStatSucess,
            DlgColorRed,      DlgColorGreen,    DlgColorBlue,    ParaCol0,        ParaCol1,
            BtnConnect,       BtnDisconnect,    BtnRestore,      BtnAccept,       BtnRefresh,
            HistoryCountCol0, HistoryCountCol1, HistoryParaCol0, HistoryParaCol1, BtnReceive,
            BtnExcel,         ImageCol0,        ImageCol1,       BtnSave,         BtnDownLoad,
            BtnBrowse,        BtnSend,          TxtInfo1,        TxtInfo2,        TxtInfo3};
        auto add = [&v](auto const& array) { v.insert(v.end(), array.begin(), array.end()); };
        add(TabNames);
        add(GroupNames);
        add(SpliceRows);
        add(HeaterRows);
        add(EnvironmentRows);
        add(FsConfigRows);
        add(SystemRows);
        add(HistoryDetailRows);
        return v;
    }();
    return all;
}

}  // namespace velmora
