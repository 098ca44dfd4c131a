#pragma once
// Splice diagrams as an SVG document, drawn through the same DiagramCanvas as the
// window's: the HTML report holds it inline and velmora-cli writes it to a file,
// neither needing Qt.
#include <span>
#include <string>

#include "jobs/splice_diagram.h"

namespace velmora::jobs {

// The diagrams one below another, `width` units wide (a unit is a pixel of the
// SVG): one <svg> element, its text escaped for XML.
std::string DiagramSvg(std::span<const TrayDiagram> diagrams, double width = kDiagramWidth);

}  // namespace velmora::jobs
