#include "jobs/matrix_csv.h"

#include <exception>

#include "base/text_codec.h"

namespace velmora::jobs {
namespace {

constexpr std::string_view kLineEnd = "\r\n";

void AddLine(std::string& text, std::string_view first, const auto& fields) {
    text += CsvField(first);
    for (const std::string& field : fields) {
        text += ',';
        text += CsvField(field);
    }
    text += kLineEnd;
}

}  // namespace

std::string CsvField(std::string_view field) {
    const bool quoted = field.find_first_of(",\"\r\n") != std::string_view::npos ||
                        (!field.empty() && (field.front() == ' ' || field.back() == ' '));
    if (!quoted) return std::string(field);
    std::string out = "\"";
    for (char c : field) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

std::string MatrixCsv(const SpliceMatrix& matrix, const MatrixCaptions& captions,
                      TableLanguage language) {
    std::string text;
    std::size_t rows = 0;
    for (const MatrixClosure& closure : matrix.closures) rows += closure.rows.size();
    text.reserve(200 + rows * 120);
    AddLine(text, captions.closure, captions.columns);
    for (const MatrixClosure& closure : matrix.closures)
        for (const MatrixRow& row : closure.rows)
            AddLine(text, closure.closure.details.name, RowTexts(row, captions));
    return language == TableLanguage::Chinese ? Utf8ToGbk(text) : text;
}

FileWriteResult WriteMatrixCsv(const std::filesystem::path& file, const SpliceMatrix& matrix,
                               const MatrixCaptions& captions, TableLanguage language) {
    try {
        return ReplaceFile(file, MatrixCsv(matrix, captions, language));
    } catch (const std::exception& e) {
        return {false, e.what()};
    }
}

}  // namespace velmora::jobs
