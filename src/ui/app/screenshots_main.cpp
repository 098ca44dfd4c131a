// velmora-screenshots: renders the main window with each tab selected, in
// English and in Chinese, and a row of image buttons, to PNG files, so that a
// person can look at them. Runs on any Qt platform (offscreen is enough).
//   velmora-screenshots PAR_FOLDER OUT_FOLDER
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QHBoxLayout>
#include <QTemporaryDir>
#include <cstdio>
#include <filesystem>
#include <string>

#include "archive/archive.h"
#include "base/app_config.h"
#include "base/language.h"
#include "base/messages.h"
#include "jobs/job_store.h"
#include "protocol/link.h"
#include "settings/parameter_records.h"
#include "sim/record_commands.h"
#include "team/team_join.h"
#include "team/team_pull.h"
#include "ui/app/message_box.h"
#include "ui/app/page_dlg.h"
#include "ui/app/qt_text.h"
#include "ui/app/velmora_dlg.h"
#include "ui/team/team_dlg.h"
#include "ui/widgets/wb_button.h"

namespace fs = std::filesystem;
using namespace velmora;
using namespace velmora::ui;

namespace {

struct Language {
    const char* tag;
    const char* commLanage;
};

// A working folder whose par/ is a copy of the shipped one, set to `language`.
bool PrepareWorkingFolder(const fs::path& shippedPar, const fs::path& folder,
                          const Language& language) {
    std::error_code ec;
    fs::create_directories(folder / "par", ec);
    fs::copy(shippedPar, folder / "par",
             fs::copy_options::recursive | fs::copy_options::overwrite_existing, ec);
    if (ec) {
        std::fprintf(stderr, "velmora-screenshots: cannot copy %s: %s\n", shippedPar.c_str(),
                     ec.message().c_str());
        return false;
    }
    QFile version(QString::fromStdString((folder / "par" / "Lan_Ver.ini").string()));
    if (!version.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    version.write(QByteArray("[DlgPara]\r\nComm_Lanage=") + language.commLanage + "\r\n");
    return true;
}

// A job of two closures, for the Job tab to show: the first splicer's records placed
// on two trays of the first (a failure among them redone), the last one a test splice.
bool SeedJob(archive::Archive& archive) {
    jobs::JobStore store(archive);
    // The job the Archive tab named, with more of its records and its details.
    const std::string name = "Riverside cable 3";
    if (!archive
             .TagJob(name,
                     std::vector<std::int64_t>({6,  7,  8,  9,  10, 11, 12, 13, 14, 15, 16, 17,
                                                18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28}))
             .ok() ||
        !store.EditJob(name, {.name = name, .customer = "City fibre"}).ok())
        return false;
    const std::optional<jobs::JobInfo> job = store.Job(name);
    if (!job) return false;
    const jobs::JobResult closure =
        store.AddClosure(job->id, {"C-17", "Mill Road", jobs::GeoPoint{51.75, -1.25}});
    const jobs::JobResult other = store.AddClosure(job->id, {.name = "C-18"});
    const jobs::JobResult a = store.AddCable(closure.id, {"F-112", 48, 12});
    const jobs::JobResult b = store.AddCable(closure.id, {"F-113", 48, 12});
    const jobs::JobResult tray1 = store.AddTray(closure.id, {1, 12});
    const jobs::JobResult tray2 = store.AddTray(closure.id, {2, 12});
    if (!closure.ok() || !other.ok() || !a.ok() || !b.ok() || !tray1.ok() || !tray2.ok()) {
        std::fprintf(stderr, "velmora-screenshots: the job's closures could not be made\n");
        return false;
    }
    const auto first = store.LatestUnplaced(job->id, 22);
    if (!first || first->size() != 22) {
        std::fprintf(stderr, "velmora-screenshots: the job has too few records\n");
        return false;
    }
    const std::vector<std::int64_t> records = *first;
    bool ok =
        store.Place({tray1.id, 1, {a.id, 1}, {b.id, 1}, {records.begin(), records.begin() + 12}})
            .ok();
    ok &=
        store
            .Place({tray2.id, 1, {a.id, 13}, {b.id, 13}, {records.begin() + 12, records.end() - 2}})
            .ok();
    // A re-splice on tray 1's fourth position; the last record is a test splice.
    ok &= store.Place({tray1.id, 4, {a.id, 4}, {b.id, 4}, {records.end() - 2, records.end() - 1}})
              .ok();
    ok &= store.MarkTestSplice(records.back(), true).ok();
    if (!ok) std::fprintf(stderr, "velmora-screenshots: the job could not be placed\n");
    return ok;
}

// Two splicers' records, a job and settings snapshots, for the Archive tab to show.
bool SeedArchive(const fs::path& folder) {
    auto opened = archive::Archive::Open(archive::ArchiveFile(folder));
    if (!opened.archive) {
        std::fprintf(stderr, "velmora-screenshots: %s\n", opened.error.message.c_str());
        return false;
    }
    std::vector<SpliceRecord> records;
    for (int i = 0; i < 60; ++i) records.push_back({sim::SampleRecord(i)});
    archive::Archive& store = *opened.archive;
    bool ok = store.StoreDownload({"M2406A0153", "VM2406A0153"}, records).ok();
    ok &= store.StoreDownload({"M2311B0042", "VM2311B0042"}, std::span(records).first(12)).ok();
    ok &= store.TagJob("Riverside cable 3", std::vector<std::int64_t>{1, 2, 3, 4, 5}).ok();
    const ParameterRecords defaults;
    const auto splice = EncodeSpliceParams(defaults.splice);
    const auto config = EncodeDeviceConfig(defaults.config);
    const std::vector<archive::GroupBytes> groups{
        {archive::RecordKind::Splice, {splice.begin(), splice.end()}},
        {archive::RecordKind::DeviceConfig, {config.begin(), config.end()}}};
    ok &= store.StoreSnapshot({"M2406A0153", "VM2406A0153"}, archive::reason::Read, groups).ok();
    ok &=
        store.StoreSnapshot({"M2406A0153", "VM2406A0153"}, archive::reason::BeforeFirmware, groups)
            .ok();
    return ok && SeedJob(store);
}

// Runs the window's events until the Archive tab has shown what it asked for.
void SettleArchive(CVelmoraDlg& dlg) {
    for (int turn = 0;
         turn < 500 && (!dlg.Archiver().Idle() || dlg.ArchivePage().Busy() || dlg.JobPage().Busy());
         ++turn)
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    QApplication::processEvents();
}

bool Save(const QImage& image, const QString& path) {
    if (image.save(path)) {
        std::printf("%s\n", qPrintable(path));
        return true;
    }
    std::fprintf(stderr, "velmora-screenshots: cannot write %s\n", qPrintable(path));
    return false;
}

// The main window with each tab selected in turn.
bool ShootMainWindow(const QString& out, const char* tag) {
    Link link;
    CVelmoraDlg dlg(link);
    dlg.show();
    bool ok = true;
    for (int tab = 0; tab < dlg.TabCtrl().GetItemCount(); ++tab) {
        dlg.TabCtrl().TabBar().setCurrentIndex(tab);
        QApplication::processEvents();
        if (tab == kArchiveTab) {
            SettleArchive(dlg);
            dlg.ArchivePage().RecordList().SelectRow(2);
            QApplication::processEvents();
        }
        if (tab == kJobTab) {
            SettleArchive(dlg);
            dlg.JobPage().Choose(CJobDlg::Node::Tray, QStringLiteral("C-17"), 1);
            dlg.JobPage().PositionList().SelectRow(1);
            QApplication::processEvents();
        }
        ok &= Save(dlg.grab().toImage(),
                   QStringLiteral("%1/main_%2_tab%3.png").arg(out).arg(tag).arg(tab));
    }
    // The Archive tab's snapshots, and the tab at a larger and at its smallest size (the
    // loop above ended on the last tab).
    dlg.TabCtrl().TabBar().setCurrentIndex(kArchiveTab);
    SettleArchive(dlg);
    dlg.ArchivePage().Views().setCurrentIndex(1);
    dlg.ArchivePage().SnapshotList().SelectRow(0);
    QApplication::processEvents();
    ok &= Save(dlg.grab().toImage(),
               QStringLiteral("%1/main_%2_tab4_snapshots.png").arg(out).arg(tag));
    dlg.ArchivePage().Views().setCurrentIndex(0);
    for (const QSize size : {QSize(1000, 700), dlg.minimumSizeHint()}) {
        dlg.resize(size);
        QApplication::processEvents();
        ok &= Save(dlg.grab().toImage(), QStringLiteral("%1/main_%2_tab4_%3x%4.png")
                                             .arg(out)
                                             .arg(tag)
                                             .arg(size.width())
                                             .arg(size.height()));
    }
    // Every tab on a laptop's screen and on a wide one; the Job tab with its tray's diagram.
    const QSize smallest = dlg.size();
    for (const QSize size : {QSize(1280, 720), QSize(1366, 768), QSize(1920, 1080)}) {
        dlg.resize(size);
        for (int tab = 0; tab < dlg.TabCtrl().GetItemCount(); ++tab) {
            dlg.TabCtrl().TabBar().setCurrentIndex(tab);
            SettleArchive(dlg);
            if (tab == kJobTab) {
                dlg.JobPage().Choose(CJobDlg::Node::Tray, QStringLiteral("C-17"), 1);
                QApplication::processEvents();
            }
            ok &= Save(dlg.grab().toImage(), QStringLiteral("%1/main_%2_tab%3_%4x%5.png")
                                                 .arg(out)
                                                 .arg(tag)
                                                 .arg(tab)
                                                 .arg(size.width())
                                                 .arg(size.height()));
        }
    }
    dlg.resize(smallest);
    QApplication::processEvents();
    ok &= Save(dlg.grab().toImage(), QStringLiteral("%1/main_%2_tab5_%3x%4.png")
                                         .arg(out)
                                         .arg(tag)
                                         .arg(dlg.width())
                                         .arg(dlg.height()));
    // Its placing form, with the records beside the positions they would fill.
    dlg.JobPage().OnBnClickedPlace();
    SettleArchive(dlg);
    if (CJobForm* form = dlg.JobPage().Form()) {
        ok &= Save(form->grab().toImage(), QStringLiteral("%1/job_%2_place.png").arg(out).arg(tag));
        form->reject();
    }
    dlg.TabCtrl().TabBar().setCurrentIndex(kSettingTab);
    dlg.ShowCommState(false, Q(msg::NoAnswer));
    QApplication::processEvents();
    ok &= Save(dlg.grab().toImage(), QStringLiteral("%1/main_%2_commfail.png").arg(out).arg(tag));
    return ok;
}

// The team archive's settings, joined to an address that does not answer, and the
// Archive and Job tabs showing the team view (a copy seeded as a read would leave it).
bool ShootTeam(const QString& out, const char* tag, const fs::path& folder) {
    const std::string uri = "postgresql://tech1@127.0.0.1:1/crew?sslmode=verify-full&sslrootcert=" +
                            (folder / "crew-ca.crt").generic_string();
    if (!team::JoinTeam(folder, uri).ok() || !SeedArchive(team::TeamViewFolder(folder)))
        return false;
    Link link;
    CVelmoraDlg dlg(link);
    dlg.show();
    dlg.TabCtrl().TabBar().setCurrentIndex(kArchiveTab);
    SettleArchive(dlg);
    bool ok = true;
    {
        CTeamDlg settings(dlg.Team(), &dlg);
        settings.PasswordEdit().setText(QStringLiteral("secret"));
        settings.RememberCheck().setChecked(true);
        settings.show();
        settings.OnBnClickedTest();
        for (int turn = 0; turn < 500 && settings.Testing(); ++turn)
            QApplication::processEvents(QEventLoop::AllEvents, 10);
        ok &= Save(settings.grab().toImage(),
                   QStringLiteral("%1/team_%2_settings.png").arg(out).arg(tag));
    }
    auto settleTeam = [&] {
        for (int turn = 0; turn < 500 && dlg.Team().TeamViewText() == Q(keys::team_window::Reading);
             ++turn)
            QApplication::processEvents(QEventLoop::AllEvents, 10);
        SettleArchive(dlg);
    };
    dlg.ArchivePage().TeamBar().TeamButton().click();
    settleTeam();
    dlg.ArchivePage().RecordList().SelectRow(2);
    QApplication::processEvents();
    ok &= Save(dlg.grab().toImage(), QStringLiteral("%1/team_%2_archive.png").arg(out).arg(tag));
    dlg.ArchivePage().TeamBar().ThisPcButton().click();
    SettleArchive(dlg);
    ok &= Save(dlg.grab().toImage(), QStringLiteral("%1/team_%2_outbox.png").arg(out).arg(tag));
    dlg.TabCtrl().TabBar().setCurrentIndex(kJobTab);
    dlg.JobPage().TeamBar().TeamButton().click();
    settleTeam();
    dlg.JobPage().Choose(CJobDlg::Node::Tray, QStringLiteral("C-17"), 1);
    QApplication::processEvents();
    ok &= Save(dlg.grab().toImage(), QStringLiteral("%1/team_%2_jobs.png").arg(out).arg(tag));
    return ok;
}

// The image buttons in their states, on a page.
bool ShootButtons(const QString& out, const char* tag) {
    Link link;
    ParameterSession session;
    PageContext context{link, session, {}};
    CPageDlg page(nullptr, context);
    QHBoxLayout layout;
    page.setLayout(&layout);
    CWBButton normal(Q(keys::BtnConnect));
    CWBButton disabled(Q(keys::BtnDisconnect));
    CWBButton focused(Q(keys::BtnRestore));
    CWBButton pressed(Q(keys::BtnAccept));
    CWBButton wide(Q(keys::TxtInfo3));
    disabled.setEnabled(false);
    pressed.setDown(true);
    for (CWBButton* button : {&normal, &disabled, &focused, &pressed, &wide})
        layout.addWidget(button);
    page.resize(900, 60);
    page.show();
    focused.setFocus();
    QApplication::processEvents();
    return Save(page.grab().toImage(), QStringLiteral("%1/buttons_%2.png").arg(out).arg(tag));
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: velmora-screenshots PAR_FOLDER OUT_FOLDER\n");
        return 2;
    }
    const fs::path shippedPar = fs::absolute(argv[1]);
    const QString out = QDir(QString::fromLocal8Bit(argv[2])).absolutePath();
    QDir().mkpath(out);
    // Nothing may wait for a person.
    SetMessageBoxHook([](const QString& text, const QString&, MsgButtons, MsgIcon) {
        std::fprintf(stderr, "message box: %s\n", qPrintable(text));
        return MsgAnswer::Ok;
    });

    QTemporaryDir scratch;
    bool ok = scratch.isValid();
    // The team settings remember a password: in the scratch folder, never the user's own file.
    qputenv("PGPASSFILE", QDir(scratch.path()).filePath(QStringLiteral("pgpass")).toLocal8Bit());
    for (const Language& language : {Language{"en", "1"}, Language{"zh", "0"}}) {
        const fs::path folder = fs::path(scratch.path().toStdString()) / language.tag;
        if (!PrepareWorkingFolder(shippedPar, folder, language) || !SeedArchive(folder)) return 1;
        InstallConfig(LoadAppConfig(folder));
        ok &= ShootMainWindow(out, language.tag);
        ok &= ShootButtons(out, language.tag);
        ok &= ShootTeam(out, language.tag, folder);
    }
    return ok ? 0 : 1;
}
