// What a person types: numbers read against a field's range, names folded to tell
// them apart, and the names and texts a workbook is written with.
//
// Input: a byte choosing the range's decimals and a byte its size, then the text.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/number_text.h"
#include "base/text_codec.h"
#include "fuzz_common.h"
#include "jobs/xlsx_text.h"

using namespace velmora;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    velmora_fuzz::InstallEnglishConfig();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    velmora_fuzz::Bytes in(data, size);
    const int decimals = in.Byte() % 10;
    const std::int64_t bound = std::int64_t{1} << (in.Byte() % 62);
    const std::string_view text = velmora_fuzz::AsText(in.Rest());

    // A number is inside its range, and reads back from its own text; never clamped:
    // one refused as out of range is not a number of a wider range's bounds.
    for (const NumberRange range : {NumberRange{-bound, bound, decimals},
                                    NumberRange{1, bound, decimals}}) {
        const NumberRead read = ReadNumber(text, range);
        if (!read.ok()) continue;
        FUZZ_CHECK(read.units >= range.min && read.units <= range.max);
        const NumberRead again = ReadNumber(NumberText(read.units, decimals), range);
        FUZZ_CHECK(again.ok() && again.units == read.units);
    }

    // Folding: UTF-8 stays UTF-8, and folding twice is folding once.
    const std::string folded = FoldCase(text);
    if (IsValidUtf8(text)) FUZZ_CHECK(IsValidUtf8(folded));
    FUZZ_CHECK(FoldCase(folded) == folded);

    // A workbook's texts: UTF-8 within the format's bounds, nothing XML cannot hold.
    const std::string cell = jobs::CellText(text);
    FUZZ_CHECK(IsValidUtf8(cell) && cell.size() <= 32767);
    FUZZ_CHECK(cell.find("\xEF\xBF\xBE") == std::string::npos);
    std::vector<std::string> taken;
    const std::string first = jobs::SheetName(text, taken);
    const std::string second = jobs::SheetName(text, taken);
    for (const std::string& name : {first, second}) {
        FUZZ_CHECK(!name.empty() && IsValidUtf8(name));
        FUZZ_CHECK(name.find_first_of("[]:*?/\\") == std::string::npos);
        std::size_t characters = 0;
        for (const char c : name) characters += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
        FUZZ_CHECK(characters <= 31);
    }
    FUZZ_CHECK(FoldCase(first) != FoldCase(second));
    return 0;
}
