// The Image page in the main window against the virtual splicer: listing on
// tab selection, downloads drawn and saved, saved images shown without an
// exchange, nothing started beside a running download, closing mid-download, and
// how it looks with the shipped language files.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFontMetrics>
#include <QTest>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

#include "app/message_box.h"
#include "app/ui_wait.h"
#include "app/velmora_dlg.h"
#include "base/app_config.h"
#include "images/image_files.h"
#include "protocol/command_catalogue.h"
#include "sim/image_commands.h"
#include "support/test_support.h"

namespace velmora::ui {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

constexpr auto kMargin = 10s;
constexpr int kImages = 4;

QImage Decoded(const Bytes& jpeg) {
    return QImage::fromData(jpeg.data(), static_cast<int>(jpeg.size()));
}

// Mean difference per channel between what the frame shows and `image`
// stretched over the frame's whole rectangle.
double DifferenceFromStretched(QWidget& frame, const QImage& image) {
    const QImage shot = frame.grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QImage expected =
        image.scaled(shot.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
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
        // Answers every box instead of a person: "text / caption".
        SetMessageBoxHook(
            [this](const QString& text, const QString& caption, MsgButtons buttons, MsgIcon) {
                boxes.push_back(text + " / " + caption);
                return buttons == MsgButtons::YesNo ? answer : MsgAnswer::Ok;
            });
        sim::InstallImageCommands(*splicer, kImages);
        ASSERT_TRUE(OpenLink());
        NewWindow();
        SelectTab(kImageTab);
    }
    void TearDown() override {
        dlg.reset();
        SetMessageBoxHook({});
        test::SplicerTest::TearDown();
    }

    // A new main window, shown, whose session keeps the splicer's files in deviceFolder.
    void NewWindow() {
        dlg = std::make_unique<CVelmoraDlg>(link);
        dlg->Session().DeviceFolder = deviceFolder;
        dlg->show();
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
        return *ImageFilePath(deviceFolder, Page().Catalogue(), position);
    }
    bool WaitForDownloadEnd() {
        return test::WaitUntil([&] { return !Page().Downloading(); }, kMargin);
    }
    void ExpectShown(const Bytes& jpeg) {
        ASSERT_TRUE(Page().Picture().ImageShown());
        ASSERT_FALSE(Decoded(jpeg).isNull());
        EXPECT_EQ(Page().Picture().Image(), Decoded(jpeg));
        EXPECT_LT(DifferenceFromStretched(Page().Picture(), Decoded(jpeg)), 8.0);
    }

    test::TempDir workDir;
    const fs::path deviceFolder = workDir.path() / "FS" / "M2406A0153";
    std::vector<QString> boxes;
    MsgAnswer answer = MsgAnswer::Yes;
    std::unique_ptr<CVelmoraDlg> dlg;
};

TEST_F(ImagePageTest, SelectingTheTabListsTheImages) {
    CListCtrlEx& list = Page().ImageList();
    ASSERT_EQ(list.GetItemCount(), kImages);
    EXPECT_EQ(list.GetItemText(kImages - 1, 0), QString::number(kImages));
    EXPECT_EQ(dlg->CommText(), "Comm Sucess");
    EXPECT_TRUE(fs::is_directory(deviceFolder / "JPG"));
    EXPECT_TRUE(boxes.empty());
}

TEST_F(ImagePageTest, DownloadDrawsTheImageAndSavesItByteIdentical) {
    // No row chosen: the first image; then the third, chosen in the list.
    for (const auto& [row, request] :
         {std::pair{-1, "87 71 02 00 20 FA"}, std::pair{2, "87 71 02 02 20 FC"}}) {
        SCOPED_TRACE(request);
        Page().ImageList().SelectRow(row);
        boxes.clear();  // a chosen row without a file asks for a download
        const std::size_t before = splicer->ReceivedFrames().size();
        Page().DownLoadButton().click();
        EXPECT_FALSE(Page().ImageList().isEnabled());
        ASSERT_TRUE(WaitForDownloadEnd());
        EXPECT_TRUE(Page().ImageList().isEnabled());

        const int position = std::max(row, 0);
        const Bytes jpeg = sim::SimulatedImageJpeg(position);
        std::ifstream saved(FileOf(position), std::ios::binary);
        EXPECT_TRUE(Bytes(std::istreambuf_iterator<char>(saved), {}) == jpeg);
        EXPECT_EQ(test::Hex(splicer->ReceivedFrames().at(before)), request);
        EXPECT_EQ(Page().Progress().value(), 100);
        EXPECT_EQ(dlg->CommText(), "Comm Sucess");
        ExpectShown(jpeg);
        EXPECT_TRUE(boxes.empty());
    }
}

TEST_F(ImagePageTest, ARowWithASavedFileIsShownWithoutAnExchange) {
    const Bytes jpeg = sim::SimulatedImageJpeg(1);
    std::ofstream(FileOf(1), std::ios::binary)
        .write(reinterpret_cast<const char*>(jpeg.data()), static_cast<long>(jpeg.size()));
    const std::size_t bytesBefore = splicer->BytesReceived();
    ClickRow(1);
    EXPECT_TRUE(boxes.empty());
    ExpectShown(jpeg);

    // A row without a file clears the frame and asks for a download first.
    ClickRow(3);
    EXPECT_FALSE(Page().Picture().ImageShown());
    EXPECT_EQ(boxes, std::vector<QString>{"Please download bmp file / info"});
    EXPECT_EQ(splicer->BytesReceived(), bytesBefore);
}

TEST_F(ImagePageTest, ASilentSplicerHoldsEverythingOffThenTimesOut) {
    Page().SetDownloadOptions({1500ms});
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
    EXPECT_TRUE(boxes.empty());
}

TEST_F(ImagePageTest, AForeignHeadIsADataErrorAndTheLineStaysUsable) {
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
    fs::create_directories(FileOf(0));  // a folder where the file should go
    Page().DownLoadButton().click();
    ASSERT_TRUE(WaitForDownloadEnd());
    ASSERT_EQ(boxes.size(), 2u);  // the already-exists question, answered Yes
    EXPECT_TRUE(boxes[1].startsWith("Image file could not be saved: "));
    EXPECT_TRUE(dlg->CommText().startsWith("Comm Fail:Image file could not be saved: "));
    EXPECT_TRUE(Page().Picture().ImageShown());
}

TEST_F(ImagePageTest, QuestionsAndRefusalsOfThePage) {
    // In Chinese, where the captions of questions and notices differ.
    test::ScopedConfig chinese(0, workDir.path());
    // A saved first image, then No to downloading it again: nothing is sent.
    std::ofstream(FileOf(0)) << "saved before";
    answer = MsgAnswer::No;
    Page().DownLoadButton().click();
    EXPECT_EQ(FramesOf(cmd::ImageDownload), 0u);

    // A reply that is not a list empties the catalogue but keeps the rows.
    splicer->SetFault(cmd::ImageList, {sim::FaultKind::WrongEcho, 0, 1});
    ReselectImageTab();
    EXPECT_TRUE(Page().Catalogue().empty());
    EXPECT_EQ(Page().ImageList().GetItemCount(), kImages);
    Page().DownLoadButton().click();
    ClickRow(2);

    // With the port closed the tab says so and keeps the rows.
    link.Port().ClosePort();
    ReselectImageTab();
    EXPECT_EQ(Page().ImageList().GetItemCount(), kImages);
    const char* expected[] = {"文件已经存在，是否重新下载？ / 信息提示", "没有图片记录 / 信息提示",
                              "没有图片记录 / 提示", "通讯已经断开 / 提示"};
    ASSERT_EQ(boxes.size(), std::size(expected));
    for (std::size_t i = 0; i < boxes.size(); ++i) EXPECT_EQ(boxes[i].toStdString(), expected[i]);
}

TEST_F(ImagePageTest, ClosingOrDestroyingDuringADownloadStopsAndJoinsTheWorker) {
    splicer->SetFault(cmd::ImageDownload, {sim::FaultKind::Silent});
    // Unacknowledged, so no late ack of the goodbye waits on the line after reopening.
    splicer->SetFault(cmd::Disconnect, {sim::FaultKind::Silent});
    Page().DownLoadButton().click();
    ASSERT_TRUE(Page().Worker().Running());
    // Without the stop this would wait the full 50 s for the silent splicer.
    EXPECT_TRUE(dlg->close());
    EXPECT_FALSE(Page().Worker().Running());
    EXPECT_FALSE(link.Port().IsOpen());
    ASSERT_TRUE(splicer->WaitForFrames(3, kMargin));
    EXPECT_EQ(test::Hex(splicer->ReceivedFrames().back()), "87 68 01 00 F0");

    // A page destroyed without a close gives the line back too.
    dlg.reset();
    ASSERT_TRUE(OpenLink());
    ParameterSession session;
    session.DeviceFolder = deviceFolder;
    PageContext context{link, session, {}};
    auto page = std::make_unique<CImageDlg>(nullptr, context);
    page->RefreshImageList();
    ASSERT_EQ(page->Catalogue().size(), static_cast<std::size_t>(kImages));
    page->OnBnClickedDownLoad();
    ASSERT_TRUE(page->Worker().Running());
    page.reset();
    EXPECT_FALSE(link.LineBusy());
    EXPECT_EQ(FetchImageList(link).outcome, Outcome::Accepted);
}

// With the shipped language files everything a person reads fits where it stands.
// With VELMORA_SCREENSHOTS naming a folder, each view is saved there as a PNG file.
TEST_F(ImagePageTest, ScreensOfListAndImageFitInBothLanguages) {
    for (const auto& [tag, commLanage] : {std::pair{"en", "1"}, std::pair{"zh", "0"}}) {
        SCOPED_TRACE(tag);
        test::TempDir folder;
        fs::copy(fs::path(__FILE__).parent_path() / "../../par", folder.path() / "par",
                 fs::copy_options::recursive);
        folder.Write("par/Lan_Ver.ini",
                     std::string("[DlgPara]\r\nComm_Lanage=") + commLanage + "\r\n");
        test::ScopedConfig config(LoadAppConfig(folder.path()));
        NewWindow();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dlg.get()));
        SelectTab(kImageTab);
        CListCtrlEx& list = Page().ImageList();
        ASSERT_EQ(list.GetItemCount(), kImages);
        Page().DownLoadButton().click();
        ASSERT_TRUE(WaitForDownloadEnd());
        ASSERT_TRUE(Page().Picture().ImageShown());

        const QFontMetrics metrics(list.font());
        for (int row = 0; row < list.GetItemCount(); ++row)
            EXPECT_LE(metrics.horizontalAdvance(list.GetItemText(row, 1)) + 8,
                      list.GetColumnWidth(1));
        EXPECT_LE(list.GetColumnWidth(0) + list.GetColumnWidth(1), list.viewport()->width());
        EXPECT_GE(Page().DownLoadButton().width(), Page().DownLoadButton().sizeHint().width());
        EXPECT_FALSE(Page().SaveButton().isVisible());
        EXPECT_GT(Page().Picture().width(), list.width());
        if (const char* out = std::getenv("VELMORA_SCREENSHOTS")) {
            QDir().mkpath(out);
            EXPECT_TRUE(dlg->grab().toImage().save(QString("%1/image_%2.png").arg(out, tag)));
        }
        std::filesystem::remove_all(deviceFolder);  // the next language downloads anew
    }
    EXPECT_TRUE(boxes.empty());
}

}  // namespace
}  // namespace velmora::ui
