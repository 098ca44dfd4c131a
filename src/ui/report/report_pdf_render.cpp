// The entries of the PDF writer module (report_pdf_module.h): an application object
// for Qt Gui, then the document or the diagram.
#include "report/report_pdf_module.h"
#include "ui/report/diagram_png.h"
#include "ui/report/report_render.h"

extern "C" __attribute__((visibility("default"))) void velmora_report_pdf_document_v2(
    velmora::report::PdfModuleJob& job) {
    using namespace velmora::report;
    const GuiForReport gui;
    job.document = PdfDocument(*job.report, *job.progress, job.missingImages, job.stop);
}

extern "C" __attribute__((visibility("default"))) void velmora_diagram_png_v1(
    velmora::report::DiagramPngJob& job) {
    using namespace velmora::report;
    const GuiForReport gui;
    job.png = DiagramPng(job.diagrams, job.width, job.scale);
}
