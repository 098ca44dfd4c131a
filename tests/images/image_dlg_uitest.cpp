// The Image page in the main window against the virtual splicer: listing on
// tab selection, downloads drawn and saved, saved images shown without an
// exchange, nothing started beside a running download, and closing mid-download.
#include <gtest/gtest.h>

#include <QApplication>
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

#include "app/message_box.h"
#include "app/velmora_dlg.h"
#include "images/image_files.h"
#include "protocol/command_catalogue.h"
#include "sim/image_commands.h"
#include "support/test_support.h"
#include "app/ui_wait.h"

namespace velmora::ui {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

constexpr auto kMargin = 10s;
constexpr int kImages = 4;

struct Box {
    QString text;
    QString caption;
    MsgButtons buttons;
    MsgIcon icon;
};

// Answers every message box instead of a person and remembers it.
class BoxRecorder {
public:
    BoxRecorder() {
        SetMessageBoxHook([this](const QString& text, const QString& caption, MsgButtons buttons,
                                 MsgIcon icon) {
            boxes.push_back({text, caption, buttons, icon});
            return buttons == MsgButtons::YesNo ? answer : MsgAnswer::Ok;
        });
    }
    ~BoxRecorder() { SetMessageBoxHook({}); }

    std::vector<Box> boxes;
    MsgAnswer answer = MsgAnswer::Yes;
};

Bytes ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

QImage Decoded(const Bytes& jpeg) {
    return QImage::fromData(jpeg.data(), static_cast<int>(jpeg.size()));
}

// Mean difference per channel between what the frame shows and `image`
// stretched over the frame's whole rectangle.
double DifferenceFromStretched(QWidget& frame, const QImage& image) {
    const QImage shot = frame.grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QImage expected = image.scaled(shot.size(), Qt::IgnoreAspectRatio,
                                         Qt::SmoothTransformation)
                                .convertToFormat(QImage::Format_RGB32);
    double sum = 0;
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x) {
            const QRgb a = shot.pixel(x, y), b = expected.pixel(x, y);
            sum += std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) +
                   std::abs(qBlue(a) - qBlue(b));
        }
    return sum / (3.0 * shot.width() * shot.height());
}

class ImagePageTest : public test::SplicerTest {
protected:
    void SetUp() override {
        test::SplicerTest::SetUp();
        UseLanguage(1);
        sim::InstallImageCommands(*splicer, kImages);
        ASSERT_TRUE(OpenLink());
        link.DeviceFolder = workDir.path() / "FS" / "M2406A0153";
        dlg = std::make_unique<CVelmoraDlg>(link);
        dlg->show();
    }
    void TearDown() override {
        dlg.reset();
        test::SplicerTest::TearDown();
    }

    void UseLanguage(int englishFlag) {
        english.reset();
        english = std::make_unique<test::ScopedConfig>(englishFlag, workDir.path());
    }
    CImageDlg& Page() { return dlg->ImagePage(); }
    void SelectTab(int tab) { dlg->TabCtrl().TabBar().setCurrentIndex(tab); }
    void ReselectImageTab() {
        SelectTab(kHistoryTab);
        SelectTab(kImageTab);
    }
    void ClickRow(int row) {
        CListCtrlEx& list = Page().ImageList();
        test::LeftClick(*list.viewport(), list.visualRect(list.model()->index(row, 1)).center());
    }
    std::size_t FramesOf(std::uint8_t command) const {
        const auto frames = splicer->ReceivedFrames();
        return std::count_if(frames.begin(), frames.end(),
                             [&](const auto& f) { return f.at(1) == command; });
    }
    fs::path FileOf(int position) {
        return *ImageFilePath(link.DeviceFolder, Page().Catalogue(), position);
    }
    bool WaitForDownloadEnd() {
        return test::WaitUntil([&] { return !Page().Downloading(); }, kMargin);
    }

    test::TempDir workDir;
    BoxRecorder boxes;
    std::unique_ptr<CVelmoraDlg> dlg;
};

TEST_F(ImagePageTest, SelectingTheTabListsTheImages) {
    SelectTab(kImageTab);
    CListCtrlEx& list = Page().ImageList();
    ASSERT_EQ(list.GetItemCount(), kImages);
    for (int i = 0; i < kImages; ++i) {
        const auto e = sim::SimulatedImageEntry(i);
        const ImageEntry entry{e[0], e[1], e[2], e[3], e[4], e[5], e[6]};
        EXPECT_EQ(list.GetItemText(i, 0), QString::number(i + 1));
        EXPECT_EQ(list.GetItemText(i, 1), QString::fromStdString(ImageTimeText(entry)));
    }
    EXPECT_EQ(dlg->CommText(), "Comm Sucess");
    EXPECT_TRUE(fs::is_directory(link.DeviceFolder / "JPG"));
    ASSERT_TRUE(splicer->WaitForFrames(1, kMargin));
    EXPECT_EQ(test::Hex(splicer->ReceivedFrames().at(0)), "87 70 01 00 F8");
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(ImagePageTest, DownloadDrawsTheImageAndSavesItByteIdentical) {
    SelectTab(kImageTab);
    // No row chosen: the first image; then the third, chosen in the list.
    struct Case {
        int row;
        const char* request;
    } cases[] = {{-1, "87 71 02 00 20 FA"}, {2, "87 71 02 02 20 FC"}};
    for (const Case& c : cases) {
        Page().ImageList().SelectRow(c.row);
        boxes.boxes.clear();  // a chosen row without a file asks for a download
        const std::size_t before = splicer->ReceivedFrames().size();
        Page().DownLoadButton().click();
        EXPECT_FALSE(Page().ImageList().isEnabled());
        ASSERT_TRUE(WaitForDownloadEnd());
        EXPECT_TRUE(Page().ImageList().isEnabled());

        const int position = std::max(c.row, 0);
        const Bytes jpeg = sim::SimulatedImageJpeg(position);
        EXPECT_EQ(ReadFile(FileOf(position)), jpeg) << c.request;
        EXPECT_EQ(test::Hex(splicer->ReceivedFrames().at(before)), c.request);
        EXPECT_EQ(Page().ImageIndex(), position);
        EXPECT_EQ(Page().Progress().value(), 100);
        EXPECT_EQ(dlg->CommText(), "Comm Sucess");
        ASSERT_TRUE(Page().Picture().ImageShown());
        EXPECT_EQ(Page().Picture().Image(), Decoded(jpeg));
        EXPECT_LT(DifferenceFromStretched(Page().Picture(), Decoded(jpeg)), 8.0) << c.request;
        EXPECT_TRUE(boxes.boxes.empty());
    }
}

TEST_F(ImagePageTest, ARowWithASavedFileIsShownWithoutAnExchange) {
    SelectTab(kImageTab);
    const Bytes jpeg = sim::SimulatedImageJpeg(1);
    std::ofstream(FileOf(1), std::ios::binary).write(reinterpret_cast<const char*>(jpeg.data()),
                                                      static_cast<std::streamsize>(jpeg.size()));
    const std::size_t bytesBefore = splicer->BytesReceived();

    ClickRow(1);
    EXPECT_TRUE(boxes.boxes.empty());
    ASSERT_TRUE(Page().Picture().ImageShown());
    EXPECT_EQ(Page().Picture().Image(), Decoded(jpeg));
    EXPECT_LT(DifferenceFromStretched(Page().Picture(), Decoded(jpeg)), 8.0);

    // A row without a file clears the frame and asks for a download first.
    ClickRow(3);
    EXPECT_FALSE(Page().Picture().ImageShown());
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text, "Please download bmp file");
    EXPECT_EQ(boxes.boxes[0].caption, "info");
    EXPECT_EQ(splicer->BytesReceived(), bytesBefore);
}

TEST_F(ImagePageTest, ASilentSplicerHoldsEverythingOffThenTimesOut) {
    SelectTab(kImageTab);
    ImageDownloadOptions shortWait;
    shortWait.deadline = 1500ms;
    Page().SetDownloadOptions(shortWait);
    splicer->SetFault(cmd::ImageDownload, {sim::FaultKind::Silent});
    Page().DownLoadButton().click();
    ASSERT_TRUE(Page().Downloading());
    EXPECT_FALSE(Page().ImageList().isEnabled());

    // While it runs: no second download, no list request, a busy text instead.
    Page().DownLoadButton().click();
    EXPECT_EQ(dlg->CommText(), "Saving,Please Waitting");
    ReselectImageTab();
    EXPECT_TRUE(test::WaitUntil([&] { return Page().Progress().value() >= 3; }, kMargin));
    EXPECT_LE(Page().Progress().value(), 50);
    EXPECT_EQ(FramesOf(cmd::ImageDownload), 1u);
    EXPECT_EQ(FramesOf(cmd::ImageList), 1u);

    ASSERT_TRUE(WaitForDownloadEnd());
    EXPECT_EQ(dlg->CommText(), "Comm Fail:No answer,please Exit Program");
    EXPECT_EQ(Page().Progress().value(), 0);
    EXPECT_TRUE(Page().ImageList().isEnabled());
    EXPECT_FALSE(fs::exists(FileOf(0)));
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(ImagePageTest, AForeignHeadIsADataErrorAndTheLineStaysUsable) {
    SelectTab(kImageTab);
    // The rejection still carries the whole image behind it.
    splicer->SetFault(cmd::ImageDownload, {sim::FaultKind::Reject, 0, 1});
    Page().DownLoadButton().click();
    ASSERT_TRUE(WaitForDownloadEnd());
    EXPECT_EQ(dlg->CommText(), "Comm Fail:data error");
    EXPECT_FALSE(fs::exists(FileOf(0)));

    ReselectImageTab();
    EXPECT_EQ(dlg->CommText(), "Comm Sucess");
    EXPECT_EQ(Page().ImageList().GetItemCount(), kImages);
}

TEST_F(ImagePageTest, AFailedSaveIsReportedAndTheImageStillShown) {
    SelectTab(kImageTab);
    fs::create_directories(FileOf(0));  // a folder where the file should go
    Page().DownLoadButton().click();
    ASSERT_TRUE(WaitForDownloadEnd());
    ASSERT_EQ(boxes.boxes.size(), 2u);  // the already-exists question, answered Yes
    EXPECT_TRUE(boxes.boxes[1].text.startsWith("Image file could not be saved: "));
    EXPECT_TRUE(dlg->CommText().startsWith("Comm Fail:Image file could not be saved: "));
    EXPECT_TRUE(Page().Picture().ImageShown());
    EXPECT_TRUE(fs::is_directory(FileOf(0)));
}

TEST_F(ImagePageTest, MessagesInBothLanguages) {
    struct Expected {
        const char* noRecordDownLoad[2];
        const char* noRecordRow[2];
        const char* exists[2];
        const char* closed[2];
    };
    const Expected english{{"There is no record", "Info"},
                           {"There is no record", "Info"},
                           {"File already exists, whether or not to download ?", "Info"},
                           {"Communication Disconnect", "Info"}};
    const Expected chinese{{"没有图片记录", "信息提示"},
                           {"没有图片记录", "提示"},
                           {"文件已经存在，是否重新下载？", "信息提示"},
                           {"通讯已经断开", "提示"}};
    auto expectBox = [&](const char* const (&box)[2], MsgButtons buttons) {
        ASSERT_EQ(boxes.boxes.size(), 1u) << box[0];
        EXPECT_EQ(boxes.boxes[0].text, QString::fromUtf8(box[0]));
        EXPECT_EQ(boxes.boxes[0].caption, QString::fromUtf8(box[1]));
        EXPECT_EQ(boxes.boxes[0].buttons, buttons);
        if (buttons == MsgButtons::YesNo) {
            EXPECT_EQ(boxes.boxes[0].icon, MsgIcon::Exclamation);
        }
        boxes.boxes.clear();
    };
    for (const int flag : {1, 0}) {
        UseLanguage(flag);
        const Expected& want = flag ? english : chinese;
        splicer->ClearFaults();
        ReselectImageTab();
        ASSERT_EQ(Page().ImageList().GetItemCount(), kImages);

        // A saved first image, then No to downloading it again: nothing is sent.
        std::ofstream(FileOf(0)) << "saved before";
        boxes.answer = MsgAnswer::No;
        Page().DownLoadButton().click();
        expectBox(want.exists, MsgButtons::YesNo);
        EXPECT_EQ(FramesOf(cmd::ImageDownload), 0u);

        // A reply that is not a list empties the catalogue but keeps the rows.
        splicer->SetFault(cmd::ImageList, {sim::FaultKind::WrongEcho, 0, 1});
        ReselectImageTab();
        EXPECT_TRUE(Page().Catalogue().empty());
        EXPECT_EQ(Page().ImageList().GetItemCount(), kImages);
        EXPECT_TRUE(boxes.boxes.empty());
        Page().DownLoadButton().click();
        expectBox(want.noRecordDownLoad, MsgButtons::Ok);
        ClickRow(2);
        expectBox(want.noRecordRow, MsgButtons::Ok);
    }
    // With the port closed the tab says so and keeps the rows.
    link.Port().ClosePort();
    ReselectImageTab();
    expectBox(chinese.closed, MsgButtons::Ok);
    EXPECT_EQ(Page().ImageList().GetItemCount(), kImages);
}

TEST_F(ImagePageTest, ClosingTheWindowDuringADownloadStopsAndJoinsTheWorker) {
    SelectTab(kImageTab);
    splicer->SetFault(cmd::ImageDownload, {sim::FaultKind::Silent});
    Page().DownLoadButton().click();
    ASSERT_TRUE(Page().Worker().Running());
    // Without the stop this would wait the full 50 s for the silent splicer.
    EXPECT_TRUE(dlg->close());
    EXPECT_FALSE(Page().Worker().Running());
    EXPECT_FALSE(link.Port().IsOpen());
    ASSERT_TRUE(splicer->WaitForFrames(3, kMargin));
    EXPECT_EQ(test::Hex(splicer->ReceivedFrames().back()), "87 68 01 00 F0");
}

TEST_F(ImagePageTest, DestroyingThePageDuringADownloadJoinsItsWorker) {
    dlg.reset();
    auto page = std::make_unique<CImageDlg>(nullptr, link, nullptr);
    page->RefreshImageList();
    ASSERT_EQ(page->Catalogue().size(), static_cast<std::size_t>(kImages));
    splicer->SetFault(cmd::ImageDownload, {sim::FaultKind::Silent});
    page->OnBnClickedDownLoad();
    ASSERT_TRUE(page->Worker().Running());
    page.reset();
    // The line was given back: the next exchange runs.
    splicer->ClearFaults();
    EXPECT_FALSE(link.LineBusy());
    EXPECT_EQ(FetchImageList(link).outcome, Outcome::Accepted);
}

}  // namespace
}  // namespace velmora::ui
