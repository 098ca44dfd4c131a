#pragma once
// What every tab page shares: the line and the session of the connected
// splicer, its worker thread, the page colour as background and the control
// colours. A page reports upward through its signals; it never knows the window.
#include <QWidget>
#include <string>

#include "app/page_worker.h"
#include "base/messages.h"
#include "protocol/link.h"
#include "settings/parameter_exchange.h"

namespace velmora::ui {

// What the pages of one window share.
struct PageContext {
    Link& link;
    ParameterSession& session;
    // The device of the built-in virtual splicer ("" when none runs).
    std::string demoPort;
};

class CPageDlg : public QWidget {
    Q_OBJECT
  public:
    CPageDlg(QWidget* parent, PageContext& context);
    ~CPageDlg() override;

    Link& GetLink() { return context_.link; }
    ParameterSession& Session() { return context_.session; }
    const std::string& DemoPort() const { return context_.demoPort; }

    // The page's one worker thread. A page whose worker uses the page's own
    // members stops it in its destructor (this base is destroyed after them).
    PageWorker& Worker() { return worker_; }

    // The shared control-colour rule as a style sheet: blue text on edits and
    // static texts (which keep a transparent background), black elsewhere.
    // A page that needs a style sheet of its own appends to this one.
    static QString ControlColourSheet();

    // Pane 1: "Comm Sucess", or the failure label with `failureText`.
    void ShowCommState(bool success, const std::string& failureText = {});
    // An OK box, captioned "提示" / "Info" unless told otherwise.
    void ShowBox(const std::string& text, const Message& caption = msg::CaptionInfo);
    // With the port closed: says so in the failure pane and a box, and returns
    // true; the caller then does nothing else.
    bool RefuseClosedPort();

  signals:
    // The outcome of an exchange, for pane 1.
    void CommStateReported(bool success, const QString& failureText);
    // The port was opened or closed (or went away), for pane 0.
    void ConnectionChanged(bool open);
    // A notice of the page's own for pane 1, shown as it is.
    void StatusNotice(const QString& text);
    // While true, the tabs must stay where they are (a firmware transfer runs).
    void TabsLocked(bool locked);

  protected:
    // Fills the page with PageColour; a page that paints more calls this first.
    void paintEvent(QPaintEvent* event) override;

  private:
    PageContext& context_;
    PageWorker worker_;
};

}  // namespace velmora::ui
