// The GBK text of the splicer (names, its text after the firmware handshakes) and
// of the Chinese files: both conversions, the cuts that must not split a
// character, and the splicer's text as shown.
//
// Input: one byte choosing the cut length, then the text.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "base/text_codec.h"
#include "firmware/firmware_update.h"
#include "fuzz_common.h"

using namespace velmora;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    velmora_fuzz::InstallEnglishConfig();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::size_t cut = size ? data[0] : 0;
    const std::string_view text = velmora_fuzz::AsText({data, size});

    // GBK in: always valid UTF-8 out, and back to GBK without trouble.
    const std::string utf8 = GbkToUtf8(text);
    FUZZ_CHECK(IsValidUtf8(utf8));
    (void)Utf8ToGbk(utf8);

    // UTF-8 in (whatever the bytes are): GBK out; valid UTF-8 survives the round trip
    // as far as GBK can carry it.
    const std::string gbk = Utf8ToGbk(text);
    FUZZ_CHECK(IsValidUtf8(GbkToUtf8(gbk)));

    // The cuts: a prefix, no longer than asked, that does not split a character.
    const std::string_view gbkCut = CutGbk(text, cut);
    FUZZ_CHECK(gbkCut.size() <= cut && gbkCut.size() <= text.size());
    FUZZ_CHECK(gbkCut.data() == text.data());
    const std::string_view utf8Cut = CutUtf8(text, cut);
    FUZZ_CHECK(utf8Cut.size() <= cut && utf8Cut.size() <= text.size());
    FUZZ_CHECK(utf8Cut.data() == text.data());
    if (IsValidUtf8(text)) {
        FUZZ_CHECK(IsValidUtf8(utf8Cut));
        if (cut >= text.size()) FUZZ_CHECK(utf8Cut.size() == text.size());
    }
    const std::string_view gbkOfUtf8Cut = CutGbk(gbk, cut);
    FUZZ_CHECK(IsValidUtf8(GbkToUtf8(gbkOfUtf8Cut)));
    for (std::size_t i = 0; i < size && i < 8; ++i)
        FUZZ_CHECK(Utf8SequenceLength(data[i]) >= 1 && Utf8SequenceLength(data[i]) <= 4);

    // The splicer's text after the firmware handshakes, as a label shows it.
    const std::string shown = SplicerTextForDisplay({data, size});
    FUZZ_CHECK(IsValidUtf8(shown));
    for (char c : shown) {
        const unsigned char u = static_cast<unsigned char>(c);
        FUZZ_CHECK(u >= 0x20 || c == '\t' || c == '\n');
    }
    return 0;
}
