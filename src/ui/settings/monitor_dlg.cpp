#include "ui/settings/monitor_dlg.h"

#include <QSignalBlocker>
#include <array>

#include "archive/snapshot_backup.h"
#include "base/language.h"
#include "serial/port_discovery.h"
#include "settings/backup_texts.h"
#include "settings/settings_texts.h"
#include "ui/app/message_box.h"
#include "ui/app/qt_text.h"
#include "ui/app/ui_pump.h"

namespace velmora::ui {
namespace {

// Our own: how the built-in virtual splicer's port is described in the list.
constexpr Message kVirtualSplicer{"虚拟熔接机", "virtual splicer"};
// Our own: a group change would drop edits that were never written.
constexpr Message kDiscardEdits{"本组参数的修改尚未写入，切换参数组会丢失这些修改。是否放弃修改？",
                                "The changes to this group have not been written and are lost "
                                "when the group changes. Discard them?"};

constexpr int kRowHeight = 30;
// Column widths in percent of the grid's width: captions, values.
constexpr int kCaptionPercent = 35;
constexpr int kValuePercent = 60;
constexpr int kGridPixelSize = 14;
constexpr unsigned kCaptionFormat = gvfmt::Left | gvfmt::VCenter | gvfmt::SingleLine;
constexpr unsigned kHeaderFormat = gvfmt::Center | gvfmt::VCenter | gvfmt::SingleLine;

// The grid's font: 14-pixel SimSun, or the fonts this system has instead. DejaVu
// comes before the CJK fonts because WenQuanYi draws "℃" as a blank.
QFont GridFont() {
    QFont font;
    font.setFamilies({QStringLiteral("宋体"), QStringLiteral("SimSun"), QStringLiteral("NSimSun"),
                      QStringLiteral("DejaVu Sans"), QStringLiteral("Noto Sans CJK SC"),
                      QStringLiteral("WenQuanYi Micro Hei")});
    font.setPixelSize(kGridPixelSize);
    font.setWeight(QFont::Medium);
    return font;
}

QString PortText(const std::string& device, const std::string& description) {
    return description.empty() ? Q(device)
                               : QStringLiteral("%1 (%2)").arg(Q(device), Q(description));
}

}  // namespace

CMonitorDlg::CMonitorDlg(QWidget* parent, PageContext& context)
    : CPageDlg(parent, context),
      tables_(OptionTablesFor(Config())),
      connect_(Q(keys::BtnConnect)),
      disconnect_(Q(keys::BtnDisconnect)),
      refresh_(Q(keys::BtnRefresh)),
      read_(Q(keys::BtnRestore)),
      accept_(Q(keys::BtnAccept)) {
    speedCombo_.addItems({QStringLiteral("115200"), QStringLiteral("256000")});
    speedCombo_.setCurrentIndex(speedCombo_.findText(QStringLiteral("115200"), Qt::MatchExactly));
    for (const ParamGroup group : kParamGroups) groupCombo_.addItem(Q(GroupCaption(group)));
    groupCombo_.setCurrentIndex(static_cast<int>(ParamGroup::Environment));
    paramRows_ = BuildParamRows();
    SetUpGrid();
    disconnect_.setEnabled(false);
    BuildGroupRows();
    EnumeratePorts();
    LayOutControls();

    connect(&connect_, &QPushButton::clicked, this, &CMonitorDlg::OnBnClickedConnect);
    connect(&disconnect_, &QPushButton::clicked, this, &CMonitorDlg::OnBnClickedDisconnect);
    connect(&refresh_, &QPushButton::clicked, this, &CMonitorDlg::OnBnClickedRefresh);
    connect(&read_, &QPushButton::clicked, this, &CMonitorDlg::OnBnClickedRead);
    connect(&accept_, &QPushButton::clicked, this, &CMonitorDlg::OnBnClickedAccept);
    connect(&groupCombo_, &QComboBox::activated, this, &CMonitorDlg::OnBnClickedRead);
}

void CMonitorDlg::LayOutControls() {
    // Any device path can be typed (a /dev/serial/by-id/... name included); what
    // is typed is never added to the list.
    portCombo_.setEditable(true);
    portCombo_.setInsertPolicy(QComboBox::NoInsert);
    portCombo_.setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    portCombo_.setMinimumContentsLength(18);
    connectionBox_.setLayout(&connectionLayout_);
    connectionLayout_.addWidget(&portCombo_, 0, 0, 1, 2);
    connectionLayout_.addWidget(&speedCombo_, 0, 2);
    connectionLayout_.addWidget(&connect_, 1, 0);
    connectionLayout_.addWidget(&disconnect_, 1, 1);
    connectionLayout_.addWidget(&refresh_, 1, 2);

    groupBox_.setLayout(&groupLayout_);
    groupLayout_.addWidget(&groupCombo_, 0, 0, 1, 2);
    groupLayout_.addWidget(&read_, 1, 0);
    groupLayout_.addWidget(&accept_, 1, 1);

    setLayout(&pageLayout_);
    pageLayout_.addWidget(&connectionBox_, 0, 0);
    pageLayout_.addWidget(&groupBox_, 0, 1);
    pageLayout_.addWidget(&grid_, 1, 0, 1, 3);
    pageLayout_.setColumnStretch(0, 3);
    pageLayout_.setColumnStretch(1, 2);
    pageLayout_.setRowStretch(1, 1);
    // On a wide screen the boxes grow to twice their own width at most, the rest of
    // the row left empty: their buttons never stretch across the window.
    for (QWidget* box : {static_cast<QWidget*>(&connectionBox_), static_cast<QWidget*>(&groupBox_)})
        box->setMaximumWidth(2 * box->sizeHint().width());
    pageLayout_.setColumnStretch(2, 1);
}

void CMonitorDlg::SetUpGrid() {
    grid_.setFont(GridFont());
    grid_.SetColumnCount(2);
    grid_.SetFixedRowCount(1);
    grid_.SetFixedColumnCount(1);
    grid_.SetRowCount(1);
    grid_.SetRowResize(false);
    grid_.SetColumnResize(false);
    grid_.SetColumnWidthPercents({kCaptionPercent, kValuePercent});
    const std::array<QString, 2> headers{Q(keys::ParaCol0), Q(keys::ParaCol1)};
    for (int col = 0; col < 2; ++col) {
        GridItem header;
        header.row = 0;
        header.col = col;
        header.mask = gvif::Text | gvif::Format;
        header.format = kHeaderFormat;
        header.text = headers[static_cast<std::size_t>(col)];
        grid_.SetItem(header);
    }
    grid_.SetRowHeight(0, kRowHeight);
}

void CMonitorDlg::SetConnectButtons(bool portOpen) {
    connect_.setEnabled(!portOpen);
    disconnect_.setEnabled(portOpen);
}

void CMonitorDlg::ShowSessionValues() {
    if (grid_.GetModified() || !Session().RecordWasRead(RecordOf(shownGroup_))) return;
    ShowGroupValues();
}

void CMonitorDlg::EnumeratePorts() {
    const std::string& demoPort = DemoPort();
    if (!demoPort.empty()) {
        portCombo_.addItem(PortText(demoPort, Say(kVirtualSplicer)), Q(demoPort));
    }
    for (const PortEntry& port : DiscoverPorts())
        if (port.device != demoPort)
            portCombo_.addItem(PortText(port.device, port.description), Q(port.device));
    if (portCombo_.count() > 0) portCombo_.setCurrentIndex(0);
}

void CMonitorDlg::OnBnClickedRefresh() {
    portCombo_.clear();
    EnumeratePorts();
}

void CMonitorDlg::OnBnClickedConnect() {
    // A listed entry opens its device (its text may carry a description); any
    // other text is taken as a device path the user typed.
    const QString typed = portCombo_.currentText().trimmed();
    const int listed = portCombo_.findText(typed, Qt::MatchExactly | Qt::MatchCaseSensitive);
    m_device = (listed >= 0 ? portCombo_.itemData(listed).toString() : typed).toStdString();
    m_nBaud = speedCombo_.currentText().toInt();
    StepResult result;
    {
        const ExchangeScope busy(*this);
        result = Connect(GetLink(), Session(), m_device, m_nBaud, UiPump());
    }
    if (!result.userError && result.outcome != Outcome::Busy) {
        // An unanswered handshake leaves the port open and the buttons as they are.
        if (Session().state == ConnectionState::Connected)
            ShowConnected(true);
        else if (Session().state == ConnectionState::Disconnected)
            ShowConnected(false);
    }
    Present(result);
}

void CMonitorDlg::OnBnClickedDisconnect() {
    const bool wasOpen = GetLink().Port().IsOpen();
    StepResult result;
    {
        const ExchangeScope busy(*this);
        result = Disconnect(GetLink(), Session(), UiPump());
    }
    if (wasOpen && result.outcome != Outcome::Busy) ShowConnected(false);
    Present(result);
}

void CMonitorDlg::OnBnClickedRead() {
    if (RefuseWhileLineBusy()) return;
    const bool switching = ChosenGroup() != shownGroup_;
    if (switching && grid_.GetModified() && !ConfirmDiscardEdits()) return;
    // A new group's captions at once; the shown group keeps its values until a
    // read brings new ones (a read that fails leaves them, and the edits, alone).
    if (switching) BuildGroupRows();
    StepResult result;
    {
        const ExchangeScope busy(*this);
        result = ReadRecord(GetLink(), Session(), RecordOf(shownGroup_), UiPump());
    }
    if (result.ok) {
        if (!switching) BuildGroupRows();
        ShowGroupValues();
        KeepSnapshot(RecordOf(shownGroup_), archive::reason::Read);
    }
    FollowPort();
    Present(result);
}

void CMonitorDlg::OnBnClickedAccept() {
    const ParamGroup g = shownGroup_;
    const StepResult gate = CheckWritable(GetLink(), Session(), RecordOf(g));
    if (!gate.ok) {
        Present(gate);
        return;
    }
    // One box per failing range check, and then nothing is sent.
    const std::vector<std::string> failures =
        ValidateAndEncode(g, ValueTexts(), tables_, Session().records);
    for (const std::string& failure : failures) ShowBox(failure);
    if (!failures.empty()) return;
    const MsgAnswer answer = ShowMessage(this, Q(msg::WriteQuestion), Q(msg::CaptionQuestion),
                                         MsgButtons::YesNo, MsgIcon::Exclamation);
    if (answer != MsgAnswer::Yes) return;
    StepResult result;
    {
        const ExchangeScope busy(*this);
        result = WriteRecord(GetLink(), Session(), RecordOf(g), UiPump());
    }
    if (result.ok) KeepSnapshot(RecordOf(g), archive::reason::Write);
    FollowPort();
    Present(result);
    grid_.Refresh();
}

bool CMonitorDlg::ConfirmDiscardEdits() {
    const MsgAnswer answer = ShowMessage(this, Q(kDiscardEdits), Q(msg::CaptionQuestion),
                                         MsgButtons::YesNo, MsgIcon::Exclamation);
    if (answer == MsgAnswer::Yes) return true;
    // No: the edited group stays, and so does the list's choice of it.
    const QSignalBlocker blocker(groupCombo_);
    groupCombo_.setCurrentIndex(static_cast<int>(shownGroup_));
    return false;
}

bool CMonitorDlg::RefuseWhileLineBusy() {
    if (!GetLink().LineBusy()) return false;
    // The grid keeps the group whose exchange is in flight; so does the list.
    const QSignalBlocker blocker(groupCombo_);
    groupCombo_.setCurrentIndex(static_cast<int>(shownGroup_));
    ShowBox(Say(msg::LineBusy));
    return true;
}

void CMonitorDlg::BuildGroupRows() {
    shownGroup_ = ChosenGroup();
    rows_ = velmora::BuildGroupRows(paramRows_, shownGroup_);
    grid_.DeleteNonFixedRows();
    for (const GridRow& row : rows_) {
        const int r = grid_.InsertRow(Q(row.caption));
        grid_.SetRowHeight(r, kRowHeight);
        GridItem caption;
        caption.row = r;
        caption.col = 0;
        caption.mask = gvif::Text | gvif::Format;
        caption.format = kCaptionFormat;
        caption.text = Q(row.caption);
        grid_.SetItem(caption);
        GridItem value;
        value.row = r;
        value.col = 1;
        value.mask = gvif::Text | gvif::Format;
        value.format = kHeaderFormat;  // centred until a value is shown
        value.text = Q(row.value);
        grid_.SetItem(value);
    }
    grid_.SetModified(false);
    grid_.Refresh();
}

void CMonitorDlg::ShowGroupValues() {
    ShowGroup(shownGroup_, Session().records, tables_, rows_);
    for (std::size_t i = 0; i < rows_.size(); ++i) ShowRow(static_cast<int>(i), rows_[i]);
    grid_.Refresh();
}

void CMonitorDlg::ShowRow(int index, const GridRow& row) {
    const int r = index + 1;
    GridItem caption;
    caption.row = r;
    caption.col = 0;
    caption.mask = gvif::Text | gvif::Format;
    caption.format = kCaptionFormat;
    caption.text = Q(row.CaptionText());
    grid_.SetItem(caption);

    GridItem value;
    value.row = r;
    value.col = 1;
    // A read-only cell also leaves the selection.
    value.mask = gvif::Text | gvif::Format | gvif::State;
    value.format = kCaptionFormat | (row.IsList() ? gvfmt::EndEllipsis : 0u);
    value.state = row.readOnly ? gvis::ReadOnly : 0u;
    value.text = Q(row.value);
    value.editorKind = row.IsList() ? EditorKind::List : EditorKind::Text;
    for (const std::string& option : row.options) value.options.append(Q(option));
    grid_.SetItem(value);
}

std::vector<std::string> CMonitorDlg::ValueTexts() const {
    std::vector<std::string> texts;
    for (std::size_t i = 0; i < rows_.size(); ++i)
        texts.push_back(grid_.GetItemText(static_cast<int>(i) + 1, 1).toStdString());
    return texts;
}

ParamGroup CMonitorDlg::ChosenGroup() const {
    return GroupAt(groupCombo_.currentIndex()).value_or(ParamGroup::Environment);
}

void CMonitorDlg::KeepSnapshot(ParamRecord record, std::string_view reason) {
    const archive::SplicerIdentity splicer = ArchiveIdentity();
    std::vector<archive::GroupBytes> groups =
        archive::SnapshotGroups(BackupOf(Session().records, std::span(&record, 1)));
    if (splicer.folderName.empty() || groups.empty()) return;
    StoreInArchive([splicer, reason = std::string(reason),
                    groups = std::move(groups)](archive::Archive& archive) {
        return archive.StoreSnapshot(splicer, reason, groups).error;
    });
}

void CMonitorDlg::Present(const StepResult& result) {
    if (result.pane != StatusPane::Unchanged)
        ShowCommState(result.pane == StatusPane::Success, StepStatusText(result));
    for (const std::string& text : StepBoxTexts(result)) ShowBox(text);
}

void CMonitorDlg::ShowConnected(bool connected) {
    SetConnectButtons(connected);
    emit ConnectionChanged(connected);
}

void CMonitorDlg::FollowPort() {
    if (!GetLink().Port().IsOpen() && disconnect_.isEnabled()) ShowConnected(false);
}

}  // namespace velmora::ui
