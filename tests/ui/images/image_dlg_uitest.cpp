// The Image page in the main window against the virtual splicer: listing on
// tab selection, downloads drawn and saved, saved images shown without an
// exchange, nothing started beside a running download.
#include <fstream>
#include <iterator>

#include "images/image_files.h"
#include "protocol/command_catalogue.h"
#include "support/page_fixture.h"

namespace velmora::ui {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using test::kPageImages;
using test::Texts;

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

class ImagePageTest : public test::PageTest {
  protected:
    void SetUp() override {
        PageTest::SetUp();
        ASSERT_TRUE(OpenLink());
        SelectTab(kImageTab);
    }

    CImageDlg& Page() { return dlg->ImagePage(); }
    void ReselectImageTab() {
        SelectTab(kHistoryTab);
        SelectTab(kImageTab);
    }
    void ClickRow(int row) {
        CListCtrlEx& list = Page().ImageList();
        test::LeftClick(*list.viewport(), list.visualRect(list.model()->index(row, 1)).center());
    }
    fs::path FileOf(int position) {
        return *ImageFilePath(deviceFolder, Page().Catalogue(), position);
    }
    bool WaitForDownloadEnd() {
        return WaitFor([&] { return !Page().Downloading(); });
    }
    void ExpectShown(const Bytes& jpeg) {
        ASSERT_TRUE(Page().Picture().ImageShown());
        ASSERT_FALSE(Decoded(jpeg).isNull());
        EXPECT_EQ(Page().Picture().Image(), Decoded(jpeg));
        EXPECT_LT(DifferenceFromStretched(Page().Picture(), Decoded(jpeg)), 8.0);
    }
};

TEST_F(ImagePageTest, DownloadDrawsTheImageAndSavesItByteIdentical) {
    // No row chosen: the first image; then the third, chosen in the list.
    for (const auto& [row, request] :
         {std::pair{-1, "87 71 02 00 20 FA"}, std::pair{2, "87 71 02 02 20 FC"}}) {
        SCOPED_TRACE(request);
        Page().ImageList().SelectRow(row);
        shown.clear();  // a chosen row without a file asks for a download
        const std::size_t before = splicer->ReceivedFrames().size();
        Page().DownLoadButton().click();
        EXPECT_FALSE(Page().ImageList().isEnabled());
        ASSERT_TRUE(WaitForDownloadEnd());
        EXPECT_TRUE(Page().ImageList().isEnabled());

        const int position = std::max(row, 0);
        const Bytes jpeg = sim::SimulatedImageJpeg(position);
        EXPECT_EQ(test::ReadFileBytes(FileOf(position)), std::string(jpeg.begin(), jpeg.end()));
        EXPECT_EQ(test::Hex(splicer->ReceivedFrames().at(before)), request);
        EXPECT_EQ(Page().Progress().value(), 100);
        EXPECT_EQ(dlg->CommText(), "Comm Sucess");
        ExpectShown(jpeg);
        EXPECT_EQ(BoxTexts(), Texts{"File successfully!\n" +
                                    QString::fromStdString(FileOf(position).string())});
    }
}

TEST_F(ImagePageTest, ARowWithASavedFileIsShownWithoutAnExchange) {
    const Bytes jpeg = sim::SimulatedImageJpeg(1);
    std::ofstream(FileOf(1), std::ios::binary)
        .write(reinterpret_cast<const char*>(jpeg.data()), static_cast<long>(jpeg.size()));
    const std::size_t bytesBefore = splicer->BytesReceived();
    ClickRow(1);
    EXPECT_TRUE(shown.empty());
    ExpectShown(jpeg);

    // A row without a file clears the frame and asks for a download first; a
    // folder or a damaged file where the image should be clears it and says so.
    fs::create_directories(FileOf(2));
    std::ofstream(FileOf(0)) << "not a JPEG";
    for (int row : {3, 2, 0}) ClickRow(row);
    EXPECT_FALSE(Page().Picture().ImageShown());
    const QString folder = QString::fromStdString(FileOf(2).string());
    const QString damaged = QString::fromStdString(FileOf(0).string());
    EXPECT_EQ(Boxes(), (Texts{"Please download bmp file / info",
                              folder + ": not a file (a folder or a device) / Info",
                              damaged + ": not an image that can be shown / Info"}));
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
    EXPECT_TRUE(WaitFor([&] { return Page().Progress().value() >= 3; }));
    EXPECT_LE(Page().Progress().value(), 50);
    EXPECT_EQ(FramesOf(cmd::ImageDownload), 1u);
    EXPECT_EQ(FramesOf(cmd::ImageList), 1u);

    ASSERT_TRUE(WaitForDownloadEnd());
    EXPECT_EQ(dlg->CommText(), "Comm Fail:No answer,please Exit Program");
    EXPECT_EQ(Page().Progress().value(), 0);
    EXPECT_TRUE(Page().ImageList().isEnabled());
    EXPECT_FALSE(fs::exists(FileOf(0)));
    EXPECT_TRUE(shown.empty());
}

TEST_F(ImagePageTest, ARefusalIsSaidSoAndTheLineStaysUsable) {
    // The refusal still carries the whole image behind it.
    splicer->SetFault(cmd::ImageDownload, {sim::FaultKind::Reject, 0, 1});
    Page().DownLoadButton().click();
    ASSERT_TRUE(WaitForDownloadEnd());
    EXPECT_EQ(dlg->CommText(), "Comm Fail:The splicer refused the request");
    EXPECT_FALSE(fs::exists(FileOf(0)));

    ReselectImageTab();
    EXPECT_EQ(dlg->CommText(), "Comm Sucess");
    EXPECT_EQ(Page().ImageList().GetItemCount(), kPageImages);
}

TEST_F(ImagePageTest, AFailedSaveIsReportedAndTheImageStillShown) {
    fs::create_directories(FileOf(0));  // a folder where the file should go
    Page().DownLoadButton().click();
    ASSERT_TRUE(WaitForDownloadEnd());
    ASSERT_EQ(shown.size(), 2u);  // the already-exists question, answered Yes
    EXPECT_TRUE(shown[1].text.startsWith("File could not be saved: "));
    EXPECT_TRUE(dlg->CommText().startsWith("Comm Fail:File could not be saved: "));
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
    EXPECT_EQ(Page().ImageList().GetItemCount(), kPageImages);
    Page().DownLoadButton().click();
    ClickRow(2);

    // With the port closed the tab says so and keeps the rows.
    link.Port().ClosePort();
    ReselectImageTab();
    EXPECT_EQ(Page().ImageList().GetItemCount(), kPageImages);
    const char* expected[] = {"文件已经存在，是否重新下载？ / 信息提示", "没有图片记录 / 信息提示",
                              "没有图片记录 / 提示", "通讯已经断开 / 提示"};
    ASSERT_EQ(Boxes().size(), std::size(expected));
    for (std::size_t i = 0; i < shown.size(); ++i) EXPECT_EQ(Boxes()[i].toStdString(), expected[i]);
}

}  // namespace
}  // namespace velmora::ui
