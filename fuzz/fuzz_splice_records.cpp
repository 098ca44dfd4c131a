// The record download stream off the serial line: frames gathered piece by piece
// into a RecordStream, and every text a record is shown or exported as (both
// languages), for the records the stream hands out and for raw 34-byte records.
//
// Input: count (2 bytes, low first), buffer-size byte, then pieces, each a length
// byte followed by up to that many line bytes.
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "base/text_codec.h"
#include "fuzz_common.h"
#include "history/csv_export.h"
#include "history/history_download.h"
#include "history/splice_record.h"

using namespace velmora;
using velmora_fuzz::Bytes;

namespace {

void CheckTexts(std::size_t position, const SpliceRecord& record) {
    for (TableLanguage language : {TableLanguage::English, TableLanguage::Chinese}) {
        const std::array<std::string, kDetailRowCount> details = DetailTexts(record, language);
        for (const std::string& text : details) FUZZ_CHECK(IsValidUtf8(text));
        const std::string line = CsvRecordLine(position, record, language);
        FUZZ_CHECK(IsValidUtf8(line));
        FUZZ_CHECK(line.size() >= 2 && line.ends_with("\r\n"));
        FUZZ_CHECK(IsValidUtf8(ResultListText(record, language)));
        FUZZ_CHECK(IsValidUtf8(ResultCsvText(record, language)));
        FUZZ_CHECK(IsValidUtf8(FiberTypeText(record, language)));
        FUZZ_CHECK(IsValidUtf8(SpliceModeText(record, language)));
        FUZZ_CHECK(IsValidUtf8(AlignText(record, language)));
    }
    FUZZ_CHECK(IsValidUtf8(TimeText(record)));
    (void)LossText(record);
    (void)AngleText(record.lfAngle());
    (void)AngleText(record.rfAngle());
    (void)HasRealTime(record);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    velmora_fuzz::InstallEnglishConfig();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Every 34 bytes of the input as a record of its own, whatever its time says.
    RecordStore raw;
    for (std::size_t at = 0; at + kRecordSize <= size && raw.size() < 8; at += kRecordSize) {
        SpliceRecord record;
        std::copy(data + at, data + at + kRecordSize, record.bytes.begin());
        CheckTexts(raw.size(), record);
        raw.push_back(record);
    }

    Bytes in(data, size);
    const int count = static_cast<std::int16_t>(in.Byte() | (in.Byte() << 8));
    const std::size_t bufferSize = in.Byte() * 8u;  // 0 to 2040 bytes: up to 53 records
    std::unique_ptr<std::uint8_t[]> storage(new std::uint8_t[bufferSize]);
    std::span<std::uint8_t> buffer(storage.get(), bufferSize);

    RecordStream stream(buffer, count);
    FUZZ_CHECK(stream.Expected() <= buffer.size());
    FUZZ_CHECK(stream.Expected() % kRecordFrameSize == 0);
    RecordStore store;
    while (!in.Empty() && !stream.Complete()) {
        std::span<std::uint8_t> room = stream.Room();
        FUZZ_CHECK(room.data() + room.size() <= buffer.data() + buffer.size());
        FUZZ_CHECK(room.size() == stream.Expected() - stream.Received());
        std::span<const std::uint8_t> piece =
            in.Take(std::min<std::size_t>(in.Byte(), room.size()));
        std::copy(piece.begin(), piece.end(), room.begin());
        const std::vector<SpliceRecord> ready = stream.Add(piece.size());
        FUZZ_CHECK(stream.Received() <= stream.Expected());
        for (const SpliceRecord& record : ready) {
            FUZZ_CHECK(HasRealTime(record));
            CheckTexts(store.size(), record);
            store.push_back(record);
        }
        FUZZ_CHECK(stream.Listed() <= stream.Received() / kRecordFrameSize);
        const int progress = stream.Progress();
        FUZZ_CHECK(progress >= 0 && progress <= 100);
    }
    if (auto garbled = stream.Garbled()) FUZZ_CHECK(*garbled == store.size());
    FUZZ_CHECK(store.size() == stream.Listed() || stream.Garbled());

    for (const RecordStore* records : {&store, &raw}) {
        const std::vector<IndexRow> rows = IndexRows(*records);
        FUZZ_CHECK(rows.size() == records->size());
        std::array<std::string, kDetailRowCount> captions;
        for (std::size_t i = 0; i < captions.size(); ++i) captions[i] = "c" + std::to_string(i);
        (void)CsvHeaderLine(captions);
        (void)CsvDocument(*records, captions, TableLanguage::English);
        (void)CsvDocument(*records, captions, TableLanguage::Chinese);
    }
    return 0;
}
