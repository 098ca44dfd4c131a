#include "jobs/closures_geojson.h"

#include <charconv>
#include <exception>

#include "base/text_codec.h"

namespace velmora::jobs {
namespace {

// The shortest text that reads back as the same double; to_chars ignores the locale.
std::string Number(double value) {
    char text[32];
    const auto [end, ec] = std::to_chars(text, text + sizeof text, value);
    return ec == std::errc{} ? std::string(text, end) : "0";
}

}  // namespace

std::string JsonString(std::string_view raw) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out = "\"";
    for (char c : ValidUtf8(raw)) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20) {
            out += "\\u00";
            out += kHex[byte >> 4];
            out += kHex[byte & 15];
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string ClosuresGeoJson(const SpliceMatrix& matrix) {
    std::string out = "{\"type\":\"FeatureCollection\",\"features\":[";
    bool first = true;
    for (const MatrixClosure& closure : matrix.closures) {
        const ClosureDetails& d = closure.closure.details;
        if (!d.point) continue;
        const MatrixCounts& n = closure.counts;
        out += first ? "\n" : ",\n";
        first = false;
        out += "{\"type\":\"Feature\",\"geometry\":{\"type\":\"Point\",\"coordinates\":[" +
               Number(d.point->longitude) + "," + Number(d.point->latitude) +
               "]},\"properties\":{\"name\":" + JsonString(d.name) +
               ",\"location\":" + JsonString(d.location) +
               ",\"job\":" + JsonString(matrix.job.details.name);
        for (const auto& [name, count] : {std::pair{"positions", n.positions},
                                          {"spliced", n.spliced},
                                          {"passed", n.passed},
                                          {"failed", n.failed},
                                          {"overLimit", n.overLimit},
                                          {"respliced", n.respliced},
                                          {"planned", n.positions - n.spliced}})
            out += ",\"" + std::string(name) + "\":" + std::to_string(count);
        out += "}}";
    }
    out += "\n]}\n";
    return out;
}

FileWriteResult WriteClosuresGeoJson(const std::filesystem::path& file,
                                     const SpliceMatrix& matrix) {
    try {
        return ReplaceFile(file, ClosuresGeoJson(matrix));
    } catch (const std::exception& e) {
        return {false, e.what()};
    }
}

}  // namespace velmora::jobs
