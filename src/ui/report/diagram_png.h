#pragma once
// Splice diagrams into a PNG file, for the command-line tool: drawn with QPainter
// (diagram_painter.cpp), declared free of Qt so that velmora-cli includes it like a
// core header.
#include <optional>
#include <span>
#include <string>

#include "jobs/splice_diagram.h"

namespace velmora::report {

// The diagrams one below another as a PNG file's bytes: `width` units wide, each
// unit `scale` pixels; nothing when the image cannot be made. Needs a
// QGuiApplication (GuiForReport).
std::optional<std::string> DiagramPng(std::span<const jobs::TrayDiagram> diagrams, double width,
                                      double scale);

}  // namespace velmora::report
