// The Archive page on the in-process virtual splicer: what the other pages
// download, read and write is kept once and shown here; the filters, the order and
// job naming; a snapshot compared and restored byte for byte; the backup before a
// firmware update; and a damaged archive file that leaves the program working.
#include <QHeaderView>
#include <algorithm>
#include <fstream>
#include <functional>
#include <map>

#include "history/csv_export.h"
#include "history/history_texts.h"
#include "images/image_catalogue.h"
#include "images/image_files.h"
#include "protocol/command_catalogue.h"
#include "protocol/frame.h"
#include "settings/parameter_records.h"
#include "support/cli_runner.h"
#include "support/page_fixture.h"
#include "ui/archive/archive_dlg.h"

namespace velmora::ui {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::Texts;

constexpr const char* kOtherSplicer = "OTHER01";
constexpr const char* kSibling = "XM2406A0153";

class ArchivePageTest : public test::PageTest {
  protected:
    CArchiveDlg& Page() { return dlg->ArchivePage(); }
    fs::path ArchivePath() const { return workDir.path() / "FS" / "archive.db"; }

    // From now on the splicer holds sample records first .. first + count - 1.
    void HoldRecords(int first, int count) {
        auto stream = std::make_shared<std::vector<std::uint8_t>>();
        for (int i = first; i < first + count; ++i) {
            const std::vector<std::uint8_t> frame = sim::SampleRecordFrame(i);
            stream->insert(stream->end(), frame.begin(), frame.end());
        }
        splicer->SetHandler(cmd::RecordCount, [count](const sim::Request&) {
            std::vector<std::uint8_t> reply{kFrameStart, cmd::RecordCount, 2,
                                            static_cast<std::uint8_t>(count), 0};
            reply.push_back(SumCheck(reply));
            return reply;
        });
        splicer->SetHandler(cmd::RecordDownload, [stream](const sim::Request&) { return *stream; });
    }
    // Receive on the Result page, until what it keeps has reached the archive.
    bool Download() {
        dlg->HistoryPage().OnBnClickedReceive();
        return WaitFor([&] { return !dlg->HistoryPage().Downloading(); }) && Settled();
    }
    bool Settled() {
        return WaitFor([&] { return dlg->Archiver().Idle() && !Page().Busy(); });
    }
    bool Refreshed() {
        Page().Refresh();
        return Settled();
    }
    void Choose(QComboBox& combo, const QString& text) {
        const int index = combo.findText(text);
        ASSERT_GE(index, 0) << text.toStdString();
        combo.setCurrentIndex(index);
        emit combo.activated(index);
        ASSERT_TRUE(Settled());
    }
    // Every row of the list, in its order: the pages not yet fetched are asked for.
    std::vector<archive::ArchivedRecord> Listed() {
        CPagedTableModel& model = Page().RecordModel();
        model.Prefetch(0, model.Rows());
        std::vector<archive::ArchivedRecord> rows;
        EXPECT_TRUE(WaitFor([&] {
            for (int row = 0; row < model.Rows(); ++row)
                if (!Page().RecordAt(row)) return false;
            return true;
        }));
        for (int row = 0; row < model.Rows(); ++row)
            if (const auto* r = Page().RecordAt(row)) rows.push_back(*r);
        return rows;
    }
    std::unique_ptr<archive::Archive> OpenArchive() {
        auto opened = archive::Archive::Open(ArchivePath());
        EXPECT_TRUE(opened.archive) << opened.error.message;
        return std::move(opened.archive);
    }
};

QDate DateOf(const SpliceRecord& record) {
    return QDate(2000 + record.yearOffset(), record.bytes[1], record.bytes[2]);
}

// The splicer's images are of its own splices: one downloaded on the Image page shows
// beside its splice in the Archive tab.
TEST_F(ArchivePageTest, ASplicersImageShowsBesideItsSplice) {
    ASSERT_TRUE(OpenLink());
    ASSERT_TRUE(Download());
    SelectTab(kImageTab);
    CImageDlg& images = dlg->ImagePage();
    images.ImageList().SelectRow(2);
    images.DownLoadButton().click();
    ASSERT_TRUE(WaitFor([&] { return !images.Downloading(); }));
    SelectTab(kArchiveTab);
    ASSERT_TRUE(Settled());
    const std::vector<archive::ArchivedRecord> listed = Listed();
    const auto spliced = std::find_if(listed.begin(), listed.end(), [](const auto& r) {
        return r.record.bytes == sim::SampleRecord(2);
    });
    ASSERT_NE(spliced, listed.end());
    Page().RecordList().SelectRow(static_cast<int>(spliced - listed.begin()));
    EXPECT_TRUE(Page().Picture().ImageShown()) << Page().PictureText().text().toStdString();
}

TEST_F(ArchivePageTest, EverySpliceOnceAcrossDaysWithFiltersAndJobs) {
    fs::path imageFile;
    ASSERT_TRUE(OpenLink());
    HoldRecords(0, 60);  // Monday
    ASSERT_TRUE(Download());
    HoldRecords(0, 100);  // Tuesday: Monday's again and forty new
    ASSERT_TRUE(Download());
    HoldRecords(100, 30);  // the splicer cleared; Wednesday
    ASSERT_TRUE(Download());
    // A download cut short keeps the records that did arrive.
    HoldRecords(130, 20);
    splicer->SetFault(cmd::RecordDownload, {sim::FaultKind::Short, 38 * 10 + 17});
    dlg->HistoryPage().SetDownloadOptions({.deadline = 300ms});
    ASSERT_TRUE(Download());
    ASSERT_EQ(dlg->HistoryPage().Records().size(), 10u);
    // Another splicer's records, stored by another program at the same time: its
    // serial number is one letter apart from this one's, so it shares its folder.
    {
        auto other = OpenArchive();
        std::vector<SpliceRecord> records;
        for (int i = 200; i < 205; ++i) records.push_back({sim::SampleRecord(i)});
        ASSERT_TRUE(other->StoreDownload({test::kPageDevice, kSibling}, records).ok());
        // And an image saved for a splice of this one.
        const SpliceRecord r{sim::SampleRecord(50)};
        const std::string stamp = ImageStampText(
            {0, static_cast<std::uint8_t>(r.yearOffset()), static_cast<std::uint8_t>(r.month()),
             static_cast<std::uint8_t>(r.day()), static_cast<std::uint8_t>(r.hour()),
             static_cast<std::uint8_t>(r.minute()), static_cast<std::uint8_t>(r.second())});
        imageFile = JpgFolder(deviceFolder) / (stamp + "0.jpg");
        fs::create_directories(imageFile.parent_path());
        QImage picture(16, 12, QImage::Format_RGB32);
        picture.fill(Qt::red);
        ASSERT_TRUE(picture.save(QString::fromStdString(imageFile.string()), "JPG"));
        const std::string jpg = test::ReadFileBytes(imageFile);
        const std::vector<std::uint8_t> bytes(jpg.begin(), jpg.end());
        ASSERT_TRUE(other
                        ->StoreImage({test::kPageDevice, sim::kSimSerialNumber},
                                     {stamp, imageFile.filename().string(), bytes})
                        .ok());
    }

    SelectTab(kArchiveTab);
    ASSERT_TRUE(Settled());
    ASSERT_EQ(Page().RecordList().GetItemCount(), 145);
    // Dates not set by the user run from the first to the last splice of the splicer chosen.
    const auto datesFollow = [&] {
        const std::vector<archive::ArchivedRecord> listed = Listed();
        EXPECT_EQ(Page().FromDate().date(), DateOf(listed.front().record));
        EXPECT_EQ(Page().ToDate().date(), DateOf(listed.back().record));
    };
    datesFollow();
    std::map<std::string, int> seen;
    std::vector<archive::ArchivedRecord> listed = Listed();
    for (const archive::ArchivedRecord& r : listed)
        if (r.serialNumber != kSibling)
            ++seen[std::string(r.record.bytes.begin(), r.record.bytes.end())];
    ASSERT_EQ(seen.size(), 140u);
    for (int i = 0; i < 140; ++i) {
        const auto bytes = sim::SampleRecord(i);
        EXPECT_EQ(seen[std::string(bytes.begin(), bytes.end())], 1) << "record " << i;
    }
    // The chosen record's details as on the Result page; no image was saved for it.
    Page().RecordList().SelectRow(0);
    const SpliceRecord first = listed.front().record;
    EXPECT_EQ(Page().DetailList().GetItemText(0, 1), QString::fromStdString(TimeText(first)));
    EXPECT_EQ(Page().PictureText().text(), "No image of this splice");
    // The splice with an image shows it, and says so once its file is gone.
    const auto withImage = std::find_if(
        listed.begin(), listed.end(),
        [](const archive::ArchivedRecord& r) { return r.record.bytes == sim::SampleRecord(50); });
    const int imageRow = static_cast<int>(withImage - listed.begin());
    Page().RecordList().SelectRow(imageRow);
    EXPECT_TRUE(Page().Picture().ImageShown());
    EXPECT_EQ(Page().PictureText().text(), QString::fromStdString(imageFile.filename().string()));
    // A click opens it at full size in a window of its own, which Escape closes.
    QTest::mouseClick(&Page().Picture(), Qt::LeftButton);
    ASSERT_NE(Page().ImageWindow(), nullptr);
    EXPECT_TRUE(Page().ImageWindow()->isVisible());
    EXPECT_EQ(Page().ImageWindow()->ImageLabel().pixmap().size(), QSize(16, 12));
    QTest::keyClick(Page().ImageWindow(), Qt::Key_Escape);
    EXPECT_FALSE(Page().ImageWindow()->isVisible());

    // A header click orders the list by that column, a second one the other way round;
    // the Index numbers the rows as listed, and the record chosen stays chosen.
    const std::int64_t chosenId = withImage->id;
    for (const bool descending : {false, true}) {
        emit Page().RecordList().header()->sectionClicked(3);
        ASSERT_TRUE(Settled());
        std::vector<int> losses;
        const std::vector<archive::ArchivedRecord> ordered = Listed();
        for (const archive::ArchivedRecord& r : ordered) losses.push_back(r.record.loss());
        if (descending) std::reverse(losses.begin(), losses.end());
        EXPECT_TRUE(std::is_sorted(losses.begin(), losses.end()));
        const int row = Page().RecordList().GetSelectedRow();
        ASSERT_GE(row, 0);
        const archive::ArchivedRecord& chosen = ordered[static_cast<std::size_t>(row)];
        EXPECT_EQ(chosen.id, chosenId);
        EXPECT_EQ(Page().RecordList().GetItemText(row, 0), QString::number(row + 1));
        EXPECT_EQ(Page().RecordList().GetItemText(row, 3),
                  QString::fromStdString(LossText(chosen.record)));
    }
    emit Page().RecordList().header()->sectionClicked(0);
    ASSERT_TRUE(Settled());
    ASSERT_EQ(Listed()[static_cast<std::size_t>(imageRow)].id, chosenId);

    // Another picture under its name, a folder or nothing: not drawn, and why.
    const std::vector<std::pair<std::function<void()>, QString>> fates{
        {[&] { std::ofstream(imageFile, std::ios::binary) << "another picture"; },
         "is no longer the one archived"},
        {[&] {
             fs::remove(imageFile);
             fs::create_directory(imageFile);
         },
         "not a file"},
        {[&] { fs::remove(imageFile); }, "is no longer there"}};
    for (const auto& [make, says] : fates) {
        make();
        Page().RecordList().SelectRow(0);
        Page().RecordList().SelectRow(imageRow);
        EXPECT_FALSE(Page().Picture().ImageShown());
        EXPECT_TRUE(Page().PictureText().text().contains(says))
            << Page().PictureText().text().toStdString();
    }

    const QDate day = DateOf(first);
    const auto onDay = static_cast<int>(
        std::count_if(listed.begin(), listed.end(),
                      [&](const archive::ArchivedRecord& r) { return DateOf(r.record) == day; }));
    ASSERT_GT(onDay, 3);
    ASSERT_LT(onDay, 145);
    Choose(Page().SplicerCombo(), kSibling);
    EXPECT_EQ(Page().RecordList().GetItemCount(), 5);
    datesFollow();
    Choose(Page().SplicerCombo(), sim::kSimSerialNumber);
    EXPECT_EQ(Page().RecordList().GetItemCount(), 140);
    Page().FromDate().setDate(day);
    Page().ToDate().setDate(day);
    Choose(Page().SplicerCombo(), "All splicers");
    EXPECT_EQ(Page().ToDate().date(), day) << "a date the user set stays";
    Page().FromCheck().setChecked(true);
    Page().ToCheck().setChecked(true);
    ASSERT_TRUE(Settled());
    EXPECT_EQ(Page().RecordList().GetItemCount(), onDay);

    // Two chosen records named, then every one shown, then the job renamed.
    Page().JobEdit().setText("Site A");
    Page().RecordList().SelectRows(std::vector<int>{0, 2});
    Page().OnBnClickedNameSelected();
    ASSERT_TRUE(Settled());
    Page().FromCheck().setChecked(false);
    Page().ToCheck().setChecked(false);
    ASSERT_TRUE(Settled());
    Choose(Page().JobCombo(), "Site A");
    EXPECT_EQ(Page().RecordList().GetItemCount(), 2);
    Choose(Page().JobCombo(), "All jobs");
    Page().FromCheck().setChecked(true);
    Page().ToCheck().setChecked(true);
    ASSERT_TRUE(Settled());
    Page().OnBnClickedNameAll();
    ASSERT_TRUE(Settled());
    EXPECT_EQ(dlg->CommText(), QString("%1 records named Site A").arg(onDay - 2));
    Page().FromCheck().setChecked(false);
    Page().ToCheck().setChecked(false);
    Choose(Page().JobCombo(), "Site A");
    EXPECT_EQ(Page().RecordList().GetItemCount(), onDay);
    Page().JobEdit().setText("站点 B");
    Page().OnBnClickedRename();
    ASSERT_TRUE(Settled());
    EXPECT_EQ(Page().JobCombo().currentText(), "站点 B");
    EXPECT_EQ(Page().RecordList().GetItemCount(), onDay);
    EXPECT_EQ(Page().JobCombo().findText("Site A"), -1);
    // Typed in another case, the search finds the job once the typing pauses; the
    // Result filter then splits its records, the count following.
    Choose(Page().JobCombo(), "All jobs");
    Page().SearchEdit().setText("站点 b");
    ASSERT_TRUE(WaitFor([&] { return Page().RecordList().GetItemCount() == onDay; }));
    ASSERT_TRUE(Settled());
    int split = 0;
    for (const char* result : {"Failed on the splicer", "Passed"}) {
        Choose(Page().ResultCombo(), result);
        const auto rows = Listed();
        for (const auto& r : rows) EXPECT_EQ(r.record.result() != 0, split == 0) << result;
        EXPECT_EQ(Page().CountText().text(), QString("%1 records").arg(rows.size()));
        split += static_cast<int>(rows.size());
    }
    EXPECT_EQ(split, onDay);
    Choose(Page().ResultCombo(), "All results");
    Page().SearchEdit().clear();
    emit Page().SearchEdit().returnPressed();
    ASSERT_TRUE(Settled());
    Choose(Page().JobCombo(), "站点 B");
    EXPECT_TRUE(shown.empty()) << BoxTexts().front().toStdString();
    Page().RecordList().SelectRow(0);
    Page().OnBnClickedClearJob();
    ASSERT_TRUE(Settled());
    EXPECT_EQ(Page().RecordList().GetItemCount(), onDay - 1);

    // Naming records of another job asks first: No changes nothing, Yes names them,
    // and the naming is undone.
    Choose(Page().JobCombo(), "All jobs");
    Page().JobEdit().setText("Site C");
    answer = MsgAnswer::No;
    Page().OnBnClickedNameAll();
    ASSERT_TRUE(Settled());
    EXPECT_EQ(BoxTexts(), Texts{QString("Of the 145 records, %1 have another job and %2 none. "
                                        "Give all of them the job Site C?")
                                    .arg(onDay - 1)
                                    .arg(146 - onDay)});
    EXPECT_EQ(Page().JobCombo().findText("Site C"), -1);
    answer = MsgAnswer::Yes;
    Page().OnBnClickedNameAll();
    ASSERT_TRUE(Settled());
    EXPECT_EQ(dlg->CommText(), "145 records named Site C");
    Page().OnBnClickedUndoNaming();
    ASSERT_TRUE(Settled());
    EXPECT_EQ(dlg->CommText(), "145 records have their job of before again");
    Choose(Page().JobCombo(), "No job");
    EXPECT_EQ(Page().RecordList().GetItemCount(), 146 - onDay);

    // The records shown, exported as the Result page exports a download.
    const fs::path csv = workDir.path() / "no job.csv";
    Page().SetFileChooser(
        [&](QWidget*, const QString&) { return QString::fromStdString(csv.string()); });
    Page().OnBnClickedExport();
    ASSERT_TRUE(Settled());
    ASSERT_TRUE(WaitFor([&] { return !Page().Exporting(); }));
    EXPECT_EQ(BoxTexts().back(), QString::fromStdString("File successfully!\n" + csv.string()));
    const std::vector<std::string> lines = test::Lines(test::ReadFileBytes(csv));
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(146 - onDay + 1));
    EXPECT_EQ(lines[0] + "\n", CsvHeaderLine(DetailCaptions()));  // CR LF line ends

    // A download stored while the list is shown: the list follows it where it was,
    // and the record chosen stays chosen.
    Choose(Page().JobCombo(), "All jobs");
    Page().RecordList().SelectRow(3);
    const std::int64_t kept = Page().RecordAt(3)->id;
    {
        auto other = OpenArchive();
        std::vector<SpliceRecord> later;
        for (int i = 300; i < 310; ++i) later.push_back({sim::SampleRecord(i)});
        ASSERT_TRUE(other->StoreDownload({test::kPageDevice, kSibling}, later).ok());
    }
    Page().Refresh(true);
    ASSERT_TRUE(Settled());
    EXPECT_EQ(Page().RecordList().GetItemCount(), 155);
    EXPECT_EQ(Page().RecordList().GetSelectedRows(), std::vector<int>{3});
    EXPECT_EQ(Page().RecordAt(3)->id, kept);
    // Listed anew, only the rows in view are fetched: every row chosen is named all the same.
    Page().Refresh();
    ASSERT_TRUE(Settled());
    ASSERT_EQ(Page().RecordAt(154), nullptr);
    Page().RecordList().selectAll();
    Page().JobEdit().setText("全部");
    Page().OnBnClickedNameSelected();
    ASSERT_TRUE(Settled());
    EXPECT_EQ(dlg->CommText(), "155 records named 全部");
}

TEST_F(ArchivePageTest, SnapshotComparedAndRestoredWithItsKeptBytes) {
    auto splice = store->Splice();
    splice[30] = 0xC3;  // a byte the page never shows
    store->SetSplice(splice);
    ASSERT_TRUE(Connect());
    // The Setting page's read keeps a snapshot.
    dlg->MonitorPage().GroupCombo().setCurrentIndex(static_cast<int>(ParamGroup::Splice));
    dlg->MonitorPage().OnBnClickedRead();
    // The splicer changes: a shown value and the kept byte.
    SpliceParams changed = DecodeSpliceParams(splice);
    changed.cutAngle += 5;
    auto bytes = EncodeSpliceParams(changed);
    bytes[30] = 0x00;
    store->SetSplice(bytes);
    const QString shownBefore = dlg->MonitorPage().Grid().GetItemText(4, 1);  // Cut Angle
    dlg->MonitorPage().OnBnClickedRead();
    ASSERT_NE(dlg->MonitorPage().Grid().GetItemText(4, 1), shownBefore);

    SelectTab(kArchiveTab);
    ASSERT_TRUE(Settled());
    ASSERT_EQ(Page().Snapshots().size(), 2u);
    EXPECT_EQ(Page().SnapshotList().GetItemText(0, 2), "Read");
    Page().SnapshotList().SelectRow(0);
    Page().OnBnClickedCompare();
    ASSERT_EQ(Page().DifferenceList().GetItemCount(), 1);
    EXPECT_EQ(Page().DifferenceList().GetItemText(0, 1), "Cut Angle");
    EXPECT_NE(Page().DifferenceList().GetItemText(0, 2), Page().DifferenceList().GetItemText(0, 3));

    // Nothing ticked: nothing is asked or written.
    Page().OnBnClickedRestore();
    EXPECT_EQ(BoxTexts(), Texts{"Tick the groups to restore first"});
    shown.clear();
    Page().RestoreCheck(0).setChecked(true);
    answer = MsgAnswer::No;
    Page().OnBnClickedRestore();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_TRUE(shown[0].text.contains("Cut Angle")) << shown[0].text.toStdString();
    EXPECT_EQ(store->Splice(), bytes) << "No writes nothing";
    shown.clear();
    answer = MsgAnswer::Yes;
    Page().OnBnClickedRestore();
    EXPECT_EQ(store->Splice(), splice) << "every byte back as it was";
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[1].text, "Splice: written");
    // Compared again with the splicer as it is now.
    EXPECT_EQ(Page().DifferenceList().GetItemCount(), 1);
    EXPECT_EQ(Page().DifferenceList().GetItemText(0, 0), "No differences");
    // The write keeps a snapshot of its own; the Setting page shows what was restored.
    ASSERT_TRUE(Refreshed());
    EXPECT_EQ(Page().Snapshots().size(), 3u);
    SelectTab(kSettingTab);
    EXPECT_EQ(dlg->MonitorPage().Grid().GetItemText(4, 1), shownBefore);
    SelectTab(kArchiveTab);

    // Another splicer's snapshot asks first.
    {
        auto other = OpenArchive();
        const std::vector<archive::GroupBytes> groups{
            {archive::RecordKind::Splice, {bytes.begin(), bytes.end()}}};
        ASSERT_TRUE(other->StoreSnapshot({kOtherSplicer, "X1"}, "backup", groups).ok());
    }
    ASSERT_TRUE(Refreshed());
    ASSERT_TRUE(Settled());
    Page().Views().setCurrentIndex(1);
    Page().SnapshotList().SelectRow(3);
    ASSERT_EQ(Page().SnapshotList().GetItemText(3, 0), "X1");
    Page().RestoreCheck(0).setChecked(true);
    shown.clear();
    answer = MsgAnswer::No;
    Page().OnBnClickedRestore();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_TRUE(shown[0].text.startsWith("This snapshot is of splicer X1"))
        << shown[0].text.toStdString();
    EXPECT_EQ(store->Splice(), splice);
    // Yes: its rows are written, but the bytes no row shows stay this splicer's own.
    answer = MsgAnswer::Yes;
    Page().OnBnClickedRestore();
    auto expected = bytes;
    expected[30] = splice[30];
    EXPECT_EQ(store->Splice(), expected);
}

TEST_F(ArchivePageTest, FirmwareUpdateBacksUpEveryGroupFirst) {
    ASSERT_TRUE(Connect());
    CFirmWareDlg& firmware = dlg->FirmWarePage();
    const fs::path file = workDir.Write("fw.bin", std::string(4000, 'F'));
    firmware.SetFileChooser([&](QWidget*) { return QString::fromStdString(file.string()); });
    firmware.OnBnClickedBrowse();
    std::vector<QString> infos;
    QObject::connect(&firmware, &CFirmWareDlg::InfoChanged,
                     [&](const QString& text) { infos.push_back(text); });
    firmware.OnBnClickedSend();
    ASSERT_TRUE(WaitFor([&] { return !firmware.UpdateRunning(); }));
    ASSERT_FALSE(infos.empty());
    EXPECT_EQ(infos.front(), "Settings backed up in the archive before the update");
    EXPECT_EQ(FramesOf(cmd::FirmwareHandshake1), 1u);
    auto archive = OpenArchive();
    const auto snapshots = archive->Snapshots({});
    ASSERT_TRUE(snapshots && snapshots->size() == 1u);
    EXPECT_EQ(snapshots->front().reason, archive::reason::BeforeFirmware);
    ASSERT_EQ(snapshots->front().groups.size(), 3u);
    const auto spliceBytes = store->Splice();
    EXPECT_EQ(snapshots->front().groups[0].bytes,
              std::vector<std::uint8_t>(spliceBytes.begin(), spliceBytes.end()));
}

TEST_F(ArchivePageTest, DamagedArchiveIsReportedOnceAndTheProgramGoesOn) {
    workDir.Write("FS/archive.db", std::string(4096, 'x'));
    ASSERT_TRUE(Connect());
    for (int round = 0; round < 2; ++round) {
        ASSERT_TRUE(Download());
        EXPECT_EQ(dlg->HistoryPage().Records().size(),
                  static_cast<std::size_t>(test::kPageRecords));
        ASSERT_TRUE(WaitFor([&] { return !shown.empty(); }));
    }
    ASSERT_EQ(shown.size(), 1u) << "once per run";
    EXPECT_TRUE(shown[0].text.startsWith("The archive ")) << shown[0].text.toStdString();
    EXPECT_TRUE(shown[0].text.contains("damaged")) << shown[0].text.toStdString();
    SelectTab(kArchiveTab);
    ASSERT_TRUE(Settled());
    EXPECT_EQ(Page().RecordList().GetItemCount(), 0);
    EXPECT_TRUE(Page().CountText().text().startsWith("The archive could not do it"));

    // No backup can be kept before an update: the user is asked, and No sends nothing.
    shown.clear();
    CFirmWareDlg& firmware = dlg->FirmWarePage();
    const fs::path file = workDir.Write("fw.bin", std::string(4000, 'F'));
    firmware.SetFileChooser([&](QWidget*) { return QString::fromStdString(file.string()); });
    firmware.OnBnClickedBrowse();
    onBox = [&] { answer = shown.size() == 1 ? MsgAnswer::Yes : MsgAnswer::No; };
    firmware.OnBnClickedSend();
    ASSERT_TRUE(WaitFor([&] { return !firmware.UpdateRunning(); }));
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_TRUE(shown[1].text.startsWith("No backup of the settings could be taken: The archive "))
        << shown[1].text.toStdString();
    EXPECT_EQ(FramesOf(cmd::FirmwareHandshake1), 0u);
    // The file is left exactly as it was.
    EXPECT_EQ(test::ReadFileBytes(ArchivePath()), std::string(4096, 'x'));
}

}  // namespace
}  // namespace velmora::ui
