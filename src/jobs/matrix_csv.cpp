#include "jobs/matrix_csv.h"

#include <exception>
#include <vector>

#include "base/text_codec.h"

namespace velmora::jobs {
namespace {

constexpr std::string_view kLineEnd = "\r\n";
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// Each line of the file as its fields, header first: `each(line, fields)`.
template <class Each>
void ForEachLine(const SpliceMatrix& matrix, const MatrixCaptions& captions, Each each) {
    std::vector<std::string_view> fields;
    auto line = [&](std::size_t number, std::string_view first, const auto& rest) {
        fields.assign({first});
        fields.insert(fields.end(), rest.begin(), rest.end());
        each(number, fields);
    };
    std::size_t number = 1;
    line(number++, captions.closure, captions.columns);
    for (const MatrixClosure& closure : matrix.closures)
        for (const MatrixRow& row : closure.rows)
            line(number++, closure.closure.details.name, RowTexts(row, captions));
}

}  // namespace

std::string CsvField(std::string_view raw) {
    const std::string field = ValidUtf8(raw);
    const bool quoted = field.find_first_of(",\"\r\n") != std::string::npos ||
                        (!field.empty() && (field.front() == ' ' || field.back() == ' '));
    if (!quoted) return field;
    std::string out = "\"";
    for (char c : field) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

MatrixCsvText MatrixCsv(const SpliceMatrix& matrix, const MatrixCaptions& captions,
                        TableLanguage language, CsvEncoding encoding) {
    MatrixCsvText out;
    std::string& text = out.bytes;
    std::size_t rows = 0;
    for (const MatrixClosure& closure : matrix.closures) rows += closure.rows.size();
    text.reserve(200 + rows * 120);
    if (encoding == CsvEncoding::Utf8WithMark) text += kByteOrderMark;
    ForEachLine(matrix, captions, [&](std::size_t, const std::vector<std::string_view>& fields) {
        for (std::size_t k = 0; k < fields.size(); ++k) {
            if (k > 0) text += ',';
            text += CsvField(fields[k]);
        }
        text += kLineEnd;
    });
    if (encoding == CsvEncoding::Utf8WithMark || language != TableLanguage::Chinese) return out;
    std::string gbk = Utf8ToGbk(text);
    if (GbkToUtf8(gbk) == text) {
        text = std::move(gbk);
        return out;
    }
    // Some character has no GBK code: the first field that holds one is named.
    text.clear();
    ForEachLine(matrix, captions,
                [&](std::size_t line, const std::vector<std::string_view>& fields) {
                    for (const std::string_view field : fields) {
                        if (out.unheld) return;
                        std::string character = FirstNotInGbk(ValidUtf8(field));
                        if (!character.empty())
                            out.unheld = {line, std::string(field), std::move(character)};
                    }
                });
    return out;
}

FileWriteResult WriteMatrixCsv(const std::filesystem::path& file, const SpliceMatrix& matrix,
                               const MatrixCaptions& captions, TableLanguage language,
                               CsvEncoding encoding) {
    try {
        const MatrixCsvText text = MatrixCsv(matrix, captions, language, encoding);
        if (text.unheld)
            return {false,
                    NotInGbkText(text.unheld->line, text.unheld->field, text.unheld->character)};
        return ReplaceFile(file, text.bytes);
    } catch (const std::exception& e) {
        return {false, e.what()};
    }
}

}  // namespace velmora::jobs
