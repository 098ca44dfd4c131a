// Page workers: handing work to the page's thread, and the window closed or a
// page destroyed while a worker waits on the page or on the line. None of it may
// hang. And the page's colours.
#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <future>
#include <thread>

#include "protocol/command_catalogue.h"
#include "support/page_fixture.h"
#include "ui/app/page_dlg.h"
#include "ui/firmware/firmware_dlg.h"

namespace velmora::ui {
namespace {

constexpr int kSpeed = 256000;
constexpr std::size_t kFirmwareSize = 300000;  // about 12 s at 256000 bit/s

class PageWorkerTest : public test::PageTest {
  protected:
    // Each page's transfer, still going when these return: records trickling in,
    // an image the splicer never sends, a firmware file at the paced line's rate.
    bool StartTransfer(CHistoryDlg& page) {
        page.OnBnClickedReceive();
        return WaitFor([&] { return page.IndexList().GetItemCount() >= 1; });
    }
    bool StartTransfer(CImageDlg& page) {
        page.RefreshImageList();
        page.OnBnClickedDownLoad();
        return page.Catalogue().size() == test::kPageImages;
    }
    bool StartTransfer(CFirmWareDlg& page) {
        const std::string file = workDir.Write("fw.bin", std::string(kFirmwareSize, 'F')).string();
        page.SetBackupBeforeUpdate(false);
        page.SetFileChooser([file](QWidget*) { return QString::fromStdString(file); });
        page.OnBnClickedBrowse();
        page.OnBnClickedSend();
        return WaitFor([&] { return page.InfoText() == "Updating ,0%"; });
    }

    // The window closed, or the page destroyed on its own (its destructor must stop
    // the worker that fills its members), in the middle of the page's transfer.
    template <class Page>
    void GoMidTransfer(Page& (CVelmoraDlg::*pageOf)(), bool pageAlone) {
        constexpr bool kFirmware = std::is_same_v<Page, CFirmWareDlg>;
        sim::SplicerOptions options;
        options.fast = !kFirmware;
        options.baud = kSpeed;
        RestartSplicer(options);
        // Short enough that the splicer, busy sending, reads the goodbye well within the margin.
        sim::InstallRecordCommands(*splicer, 40);
        splicer->SetFault(cmd::RecordDownload, {sim::FaultKind::Trickle, 2});
        splicer->SetFault(cmd::ImageDownload, {sim::FaultKind::Silent});
        NewWindow();
        shown.clear();
        ASSERT_TRUE(OpenLink(kSpeed));
        ParameterSession session;
        session.DeviceFolder = deviceFolder;
        PageContext context{link, session, {}};
        std::unique_ptr<Page> alone;
        if (pageAlone) {
            dlg.reset();
            alone = std::make_unique<Page>(nullptr, context);
        }
        Page& page = pageAlone ? *alone : ((*dlg).*pageOf)();
        SCOPED_TRACE(page.metaObject()->className());
        ASSERT_TRUE(StartTransfer(page));
        ASSERT_TRUE(page.Worker().Running());
        if (pageAlone) {
            alone.reset();  // its lists go while the worker would still fill them
        } else {
            EXPECT_TRUE(WaitFor([&] { return dlg->close(); }));
            EXPECT_FALSE(page.Worker().Running());
            EXPECT_FALSE(link.Port().IsOpen());
        }
        EXPECT_FALSE(link.LineBusy());
        if constexpr (kFirmware) {
            ASSERT_TRUE(firmware->WaitForReceipts(1, test::kPageMargin));
            EXPECT_LT(firmware->Receipts().back().bytes, kFirmwareSize);
            if (pageAlone) return;
            ASSERT_TRUE(WaitFor([&] { return !page.UpdateRunning(); }));
            EXPECT_TRUE(page.InfoText().startsWith("Update cancelled"));
            EXPECT_EQ(shown.size(), 1u) << "nothing is asked of a closing window";
        } else if (!pageAlone) {
            // The goodbye went out once the worker had let go of the line.
            ASSERT_TRUE(splicer->WaitForFrames(3, test::kPageMargin));
            EXPECT_EQ(test::Hex(splicer->ReceivedFrames().back()), "87 68 01 00 F0");
        }
    }
};

TEST_F(PageWorkerTest, HandedOverCallsRunOnThePagesThread) {
    PageWorker& worker = dlg->HistoryPage().Worker();
    std::thread::id ranOn;
    bool handed = false;
    ASSERT_TRUE(worker.Start([&](std::stop_token stop) {
        handed = worker.CallOnPage(stop, [&] { ranOn = std::this_thread::get_id(); });
    }));
    EXPECT_FALSE(worker.Start([](std::stop_token) {})) << "a second run while one is running";
    ASSERT_TRUE(WaitFor([&] { return !worker.Running(); }));
    EXPECT_TRUE(handed);
    EXPECT_EQ(ranOn, std::this_thread::get_id());
    // A run that has ended makes room for the next.
    EXPECT_TRUE(worker.Start([](std::stop_token) {}));
    worker.StopAndJoin();
}

TEST_F(PageWorkerTest, AnExceptionEndsTheRunNotTheProgram) {
    PageWorker& worker = dlg->ImagePage().Worker();
    ASSERT_TRUE(worker.Start([](std::stop_token) { throw std::runtime_error("disk full"); }));
    worker.StopAndJoin();
    EXPECT_FALSE(worker.Running());
    EXPECT_EQ(worker.Failure(), "disk full");
}

TEST_F(PageWorkerTest, CloseWhileAWorkerWaitsForThePageDoesNotDeadlock) {
    PageWorker& worker = dlg->FirmWarePage().Worker();
    std::promise<void> posting;
    int calls = 0;
    bool handed = true;
    ASSERT_TRUE(worker.Start([&](std::stop_token stop) {
        posting.set_value();
        handed = worker.CallOnPage(stop, [&] { ++calls; });
    }));
    ASSERT_EQ(posting.get_future().wait_for(test::kPageMargin), std::future_status::ready);
    // No events are processed in between: the call is still queued when the
    // window, on the page's thread, joins the worker.
    EXPECT_TRUE(dlg->close());
    EXPECT_FALSE(worker.Running());
    EXPECT_FALSE(handed);
    // The abandoned call, delivered later, does nothing.
    QCoreApplication::processEvents();
    EXPECT_EQ(calls, 0);
}

TEST_F(PageWorkerTest, CloseDuringAHandedOverCallWaitsForIt) {
    PageWorker& worker = dlg->FirmWarePage().Worker();
    bool closedAtOnce = true;
    ASSERT_TRUE(worker.Start([&](std::stop_token stop) {
        // The page's call closes the window, as a user could from a message box it shows.
        worker.CallOnPage(stop, [&] { closedAtOnce = dlg->close(); });
    }));
    EXPECT_TRUE(WaitFor([&] { return !dlg->isVisible(); }));
    EXPECT_FALSE(closedAtOnce);
    EXPECT_FALSE(worker.Running());
}

TEST_F(PageWorkerTest, TheWindowOrAPageGoingMidTransferStopsTheWorker) {
    for (const bool pageAlone : {false, true}) {
        SCOPED_TRACE(pageAlone ? "the page destroyed on its own" : "the window closed");
        GoMidTransfer(&CVelmoraDlg::HistoryPage, pageAlone);
        GoMidTransfer(&CVelmoraDlg::ImagePage, pageAlone);
        GoMidTransfer(&CVelmoraDlg::FirmWarePage, pageAlone);
    }
}

TEST(PageBase, PageColourBackgroundAndBlueStaticAndEditText) {
    AppConfig config;
    config.PageColour = Rgb(10, 120, 200);
    test::ScopedConfig colour(config);
    Link link;
    ParameterSession session;
    PageContext context{link, session, {}};
    CPageDlg page(nullptr, context);
    QLabel label(QStringLiteral("Info"), &page);
    QLineEdit edit(&page);
    QPushButton button(QStringLiteral("OK"), &page);
    label.move(50, 0);
    page.resize(200, 100);
    for (QWidget* w : {static_cast<QWidget*>(&label), static_cast<QWidget*>(&edit),
                       static_cast<QWidget*>(&button)})
        w->ensurePolished();

    const QImage image = page.grab().toImage();
    EXPECT_EQ(image.pixelColor(150, 90), QColor(10, 120, 200));
    EXPECT_EQ(label.palette().color(QPalette::WindowText), QColor(0, 0, 255));
    EXPECT_EQ(edit.palette().color(QPalette::Text), QColor(0, 0, 255));
    EXPECT_NE(button.palette().color(QPalette::ButtonText), QColor(0, 0, 255));
}

}  // namespace
}  // namespace velmora::ui
