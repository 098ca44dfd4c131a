#pragma once
// What every tab page shares: the line, the main window it reports to, its
// worker thread, the page colour as background and the control colours.
#include <QWidget>

#include "app/messages.h"
#include "app/page_worker.h"
#include "protocol/link.h"

namespace velmora::ui {

class CVelmoraDlg;

class CPageDlg : public QWidget {
    Q_OBJECT
public:
    // `mainDlg` receives the page's status reports; it may be null in tests.
    CPageDlg(QWidget* parent, Link& link, CVelmoraDlg* mainDlg);
    ~CPageDlg() override;

    Link& GetLink() { return link_; }
    CVelmoraDlg* MainDlg() const { return mainDlg_; }

    // The page's one worker thread. A page whose worker uses the page's own
    // members stops it in its destructor (this base is destroyed after them).
    PageWorker& Worker() { return worker_; }

    // The shared control-colour rule as a style sheet: blue text on edits and
    // static texts (which keep a transparent background), black elsewhere.
    // A page that needs a style sheet of its own appends to this one.
    static QString ControlColourSheet();

    // Pane 1 of the main window: "Comm Sucess", or the failure label and CommStatusText.
    void ShowCommState(bool success);
    // An OK box, captioned "提示" / "Info" unless told otherwise.
    void ShowBox(const std::string& text, const Message& caption = msg::CaptionInfo);
    // With the port closed: says so in CommStatusText, the failure pane and a box,
    // and returns true; the caller then does nothing else.
    bool RefuseClosedPort();

protected:
    // Fills the page with PageColour; a page that paints more calls this first.
    void paintEvent(QPaintEvent* event) override;

private:
    Link& link_;
    CVelmoraDlg* mainDlg_;
    PageWorker worker_;
};

}  // namespace velmora::ui
