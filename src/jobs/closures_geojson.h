#pragma once
// A job's closures as GeoJSON (RFC 7946) for a GIS: a FeatureCollection with a Point
// for each closure that has a location, at [longitude, latitude] (WGS84), and its
// name, location text and counts as properties. Closures without a location are
// left out. UTF-8; numbers with a decimal point whatever the locale.
#include <filesystem>
#include <string>
#include <string_view>

#include "base/atomic_file.h"
#include "jobs/splice_matrix.h"

namespace velmora::jobs {

// `text` as a JSON string, quotes included: quote, backslash and every control
// character escaped, and a byte that is not UTF-8 as U+FFFD (JSON is UTF-8).
std::string JsonString(std::string_view text);

std::string ClosuresGeoJson(const SpliceMatrix& matrix);

// Writes it to `file`, replacing any file there only once the new one is complete.
FileWriteResult WriteClosuresGeoJson(const std::filesystem::path& file, const SpliceMatrix& matrix);

}  // namespace velmora::jobs
