// Page workers: handing work to the page's thread, and closing the window while
// a worker waits on the page (the pages' own tests close it while one waits on
// the line). None of it may hang. And the page's colours.
#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <future>
#include <thread>

#include "app/page_dlg.h"
#include "support/page_fixture.h"

namespace velmora::ui {
namespace {

class PageWorkerTest : public test::PageTest {};

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
