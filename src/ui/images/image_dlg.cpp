#include "ui/images/image_dlg.h"

#include <QMetaObject>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <exception>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "base/language.h"
#include "base/messages.h"
#include "base/path_text.h"
#include "images/image_files.h"
#include "images/images_texts.h"
#include "images/reply_rest.h"
#include "protocol/outcome_texts.h"
#include "ui/app/message_box.h"
#include "ui/app/qt_text.h"
#include "ui/app/ui_pump.h"

namespace velmora::ui {
namespace {

constexpr Message kNoRecord{"没有图片记录", "There is no record"};
constexpr Message kAlreadyExists{"文件已经存在，是否重新下载？",
                                 "File already exists, whether or not to download ?"};
constexpr Message kDownloadFirst{"图片不存在，请先下载文件", "Please download bmp file"};
constexpr Message kDownloadFirstCaption{"提示", "info"};
// The same English text in both languages.
constexpr Message kSavingBusy{"Saving,Please Waitting", "Saving,Please Waitting"};
// Our own: an image was saved; the box adds where.
constexpr Message kImageSaved{"文件保存成功!", "File successfully!"};
constexpr Message kNotAnImage{"%s：不是可显示的图片", "%s: not an image that can be shown"};
constexpr Message kNoDeviceFolder{"熔接机的文件夹未知，请重新连接",
                                  "The splicer's folder is not known, please connect again"};

// Wide enough for the number and a whole time stamp; the frame takes the rest.
constexpr int kListWidth = 250;
constexpr int kPageMargin = 10;
constexpr int kProgressHeight = 18;
constexpr QSize kButtonSize{110, 32};

}  // namespace

QImage DecodeImageFile(const std::filesystem::path& path, std::string* problem) {
    // Read whole and closed at once, so the file is never held while it is shown.
    return DecodeImageFile(path, ReadImageFile(path), problem);
}

QImage DecodeImageFile(const std::filesystem::path& path, const FileReadResult& read,
                       std::string* problem) {
    QImage image;
    if (read.ok())
        image = QImage::fromData(reinterpret_cast<const uchar*>(read.bytes.data()),
                                 static_cast<int>(read.bytes.size()));
    if (image.isNull() && problem)
        *problem = read.ok() ? Say(kNotAnImage, {PathText(path)}) : FileReadProblemText(path, read);
    return image;
}

CPictureFrame::CPictureFrame(QWidget* parent) : QFrame(parent) {
    setFrameStyle(QFrame::Box | QFrame::Plain);
    setLineWidth(1);
    QPalette black = palette();
    black.setColor(QPalette::WindowText, Qt::black);
    setPalette(black);
}

void CPictureFrame::ShowImage(QImage image) {
    m_image = std::move(image);
    m_bImageShown = true;
    update();
}

void CPictureFrame::Clear() {
    m_bImageShown = false;
    update();
}

void CPictureFrame::SetKeepAspect(bool keep) {
    m_bKeepAspect = keep;
    update();
}

void CPictureFrame::paintEvent(QPaintEvent* event) {
    const bool drawn = m_bImageShown && !m_image.isNull();
    if (!drawn || m_bKeepAspect) QFrame::paintEvent(event);
    if (!drawn) return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    if (!m_bKeepAspect) {
        painter.drawImage(rect(), m_image);
        return;
    }
    const QRect inside = contentsRect();
    QRect area(QPoint(), m_image.size().scaled(inside.size(), Qt::KeepAspectRatio));
    area.moveCenter(inside.center());
    painter.drawImage(area, m_image);
}

void CPictureFrame::mouseReleaseEvent(QMouseEvent* event) {
    QFrame::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) &&
        m_bImageShown && !m_image.isNull())
        emit Clicked();
}

CImageWindow::CImageWindow(QWidget* parent, const QString& closeText)
    : QDialog(parent), close_(closeText) {
    image_.setAlignment(Qt::AlignCenter);
    area_.setWidget(&image_);
    area_.setWidgetResizable(true);
    area_.setAlignment(Qt::AlignCenter);
    layout_.addWidget(&area_, 1);
    layout_.addWidget(&close_, 0, Qt::AlignRight);
    setLayout(&layout_);
    // The window is looked at beside the page, not instead of it.
    setModal(false);
    connect(&close_, &QPushButton::clicked, this, &QDialog::close);
}

void CImageWindow::ShowImage(const QImage& image, const QString& title) {
    setWindowTitle(title);
    image_.setPixmap(QPixmap::fromImage(image));
    image_.adjustSize();
    // The image whole where the screen has room; otherwise most of the screen, with scroll bars.
    const QMargins margins = layout_.contentsMargins();
    const int frame = 2 * area_.frameWidth() + 2;
    QSize wanted(image.width() + frame + margins.left() + margins.right(),
                 image.height() + frame + margins.top() + margins.bottom() +
                     std::max(layout_.spacing(), 0) + close_.sizeHint().height());
    if (const QScreen* shown = screen()) wanted = wanted.boundedTo(shown->availableSize() * 9 / 10);
    resize(wanted);
    show();
    raise();
    activateWindow();
}

CImageDlg::CImageDlg(QWidget* parent, PageContext& context) : CPageDlg(parent, context) {
    m_listImages.setFixedWidth(kListWidth);
    m_listImages.InsertColumn(0, Q(keys::ImageCol0), Qt::AlignHCenter);
    m_listImages.InsertColumn(1, Q(keys::ImageCol1), Qt::AlignHCenter);
    SizeColumns(m_listImages.viewport()->width());
    connect(&m_listImages, &CListCtrlEx::ClientWidthChanged, this, &CImageDlg::SizeColumns);
    connect(&m_listImages, &CListCtrlEx::ItemChanged, this, &CImageDlg::OnLvnItemchangedImageList);

    m_progress.setRange(0, 100);
    m_progress.setValue(0);
    m_progress.setTextVisible(false);
    m_progress.setFixedHeight(kProgressHeight);

    m_btnSave.setText(Q(keys::BtnSave));
    m_btnDownLoad.setText(Q(keys::BtnDownLoad));
    m_btnSave.setMinimumSize(kButtonSize);
    m_btnDownLoad.setMinimumSize(kButtonSize);
    m_btnSave.hide();
    connect(&m_btnDownLoad, &QPushButton::clicked, this, &CImageDlg::OnBnClickedDownLoad);

    setLayout(&m_layout);
    m_layout.setContentsMargins(kPageMargin, kPageMargin, kPageMargin, kPageMargin);
    m_layout.setHorizontalSpacing(kPageMargin);
    m_layout.setVerticalSpacing(8);
    m_layout.addWidget(&m_listImages, 0, 0);
    m_layout.addWidget(&m_progress, 1, 0);
    m_layout.addWidget(&m_btnDownLoad, 2, 0, Qt::AlignHCenter);
    m_layout.addWidget(&m_btnSave, 3, 0, Qt::AlignHCenter);
    m_layout.addWidget(&m_picture, 0, 1, 4, 1);
    m_layout.setRowStretch(0, 1);
    m_layout.setColumnStretch(1, 1);

    EnsureJpgFolder();
}

CImageDlg::~CImageDlg() {
    // The worker fills this page's buffer and hands its result to this page.
    Worker().StopAndJoin();
}

void CImageDlg::EnsureJpgFolder() {
    velmora::EnsureJpgFolder(Session().DeviceFolder);
}

void CImageDlg::RefreshImageList() {
    // The worker owns the line and reads the catalogue's file name: nothing starts beside it.
    if (m_bDownloading) {
        ShowBusyText();
        return;
    }
    // The rows of the last list stay, so saved images can still be shown.
    if (RefuseClosedPort()) return;
    const ExchangeScope busy(*this);
    const ImageListAnswer answer = FetchImageList(GetLink(), UiPump());
    const Message* failure = StandardFailureText(answer.outcome);
    switch (answer.outcome) {
        case Outcome::Accepted:
            m_catalogue = answer.catalogue;
            FillImageList();
            ShowCommState(true);
            break;
        case Outcome::Unexpected:
            // Not a list: no report; the rows stay but no longer stand for images.
            m_catalogue.clear();
            DiscardRestOfReply(GetLink(), {}, UiPump());
            break;
        case Outcome::NotOpen:
        case Outcome::Busy:
            // Nothing was asked: what the page knows still holds.
            ShowCommState(false, Say(*failure));
            break;
        case Outcome::Cancelled:
            break;
        default:
            m_catalogue.clear();
            ShowCommState(false, failure ? Say(*failure) : std::string());
            break;
    }
}

void CImageDlg::FillImageList() {
    m_bFilling = true;
    m_listImages.DeleteAllItems();
    std::vector<CListCtrlEx::Row> rows;
    const std::vector<ImageRow> texts = ImageListRows(m_catalogue);
    rows.reserve(texts.size());
    for (std::size_t i = 0; i < texts.size(); ++i)
        rows.push_back({{Q(texts[i].number), Q(texts[i].time)}, i});
    m_listImages.AppendRows(rows);
    m_bFilling = false;
}

void CImageDlg::SizeColumns(int clientWidth) {
    m_listImages.SetColumnWidth(0, clientWidth / 4 - 5);
    m_listImages.SetColumnWidth(1, 3 * clientWidth / 4);
}

int CImageDlg::PositionOfRow(int row) const {
    return static_cast<int>(m_listImages.GetItemData(row));
}

void CImageDlg::OnBnClickedDownLoad() {
    if (m_bDownloading) {
        ShowBusyText();
        return;
    }
    const int row = m_listImages.GetSelectedRow();
    const int position = row >= 0 ? PositionOfRow(row) : 0;
    if (m_catalogue.empty()) {
        ShowMessage(this, Q(kNoRecord), Q(msg::CaptionQuestion));
        return;
    }
    const std::optional<std::filesystem::path> path =
        ImageFilePath(Session().DeviceFolder, m_catalogue, static_cast<std::size_t>(position));
    if (path && ImageFileExists(*path) &&
        ShowMessage(this, Q(kAlreadyExists), Q(msg::CaptionQuestion), MsgButtons::YesNo,
                    MsgIcon::Exclamation) != MsgAnswer::Yes)
        return;
    if (RefuseClosedPort()) return;
    if (!path) {
        // Connected, but the splicer never said who it is: there is nowhere to save.
        ShowMessage(this, Q(kNoDeviceFolder), Q(msg::CaptionInfo));
        return;
    }
    StartDownload(position, *path);
}

void CImageDlg::StartDownload(int position, const std::filesystem::path& path) {
    if (!GetLink().Port().IsOpen() || GetLink().LineBusy()) {
        const ImageDownloadResult refused =
            FetchImage(GetLink(), position, m_imageBuffer, {}, {}, m_downloadOptions);
        ShowCommState(false, ImageDownloadFailureText(refused));
        return;
    }
    velmora::EnsureJpgFolder(Session().DeviceFolder);
    m_nImageIndex = position;
    m_bDownloading = true;
    m_progress.setValue(0);
    m_listImages.setEnabled(false);

    const ImageDownloadOptions options = m_downloadOptions;
    const std::string stamp = ImageStampText(m_catalogue[static_cast<std::size_t>(position)]);
    const bool started = Worker().Start(
        [this, position, path, options, stamp, splicer = ArchiveIdentity()](std::stop_token stop) {
            DownloadEnd end;
            try {
                end = RunDownload(position, path, stop, options, splicer, stamp);
            } catch (const std::exception& e) {
                end.outcome = Outcome::Unexpected;
                end.statusText = e.what();
            }
            QMetaObject::invokeMethod(
                this, [this, end] { FinishDownload(end); }, Qt::QueuedConnection);
        });
    if (!started) {
        m_bDownloading = false;
        m_listImages.setEnabled(true);
        return;
    }
    emit DownloadBusy(true);
}

void CImageDlg::CancelExchange() {
    // The download's worker ends with Cancelled and hands that over as usual.
    if (m_bDownloading)
        Worker().StopAndJoin();
    else
        CPageDlg::CancelExchange();
}

CImageDlg::DownloadEnd CImageDlg::RunDownload(int position, const std::filesystem::path& path,
                                              std::stop_token stop,
                                              const ImageDownloadOptions& options,
                                              const archive::SplicerIdentity& splicer,
                                              const std::string& stamp) {
    ImageDownloadCallbacks callbacks;
    callbacks.progress = [this](int percent) {
        QMetaObject::invokeMethod(
            this, [this, percent] { m_progress.setValue(percent); }, Qt::QueuedConnection);
    };
    const ImageDownloadResult result =
        FetchImage(GetLink(), position, m_imageBuffer, stop, callbacks, options);
    DownloadEnd end;
    end.outcome = result.outcome;
    end.statusText = ImageDownloadFailureText(result);
    if (result.outcome != Outcome::Accepted) return end;

    end.file = path;
    end.saved = SaveImageFile(path, result.image);
    if (end.saved.ok)
        // A copy: the buffer is the next download's.
        StoreInArchive([splicer, stamp, name = PathText(path.filename()),
                        bytes = std::vector<std::uint8_t>(
                            result.image.begin(), result.image.end())](archive::Archive& archive) {
            return archive.StoreImage(splicer, {stamp, name, bytes}).error;
        });
    end.image = QImage::fromData(result.image.data(), static_cast<int>(result.image.size()));
    return end;
}

void CImageDlg::FinishDownload(const DownloadEnd& end) {
    m_bDownloading = false;
    m_listImages.setEnabled(true);
    emit DownloadBusy(false);
    switch (end.outcome) {
        case Outcome::Accepted:
            m_progress.setValue(100);
            // Shown even when it could not be saved: it did arrive.
            m_picture.ShowImage(end.image);
            if (end.saved.ok) {
                ShowCommState(true);
                ShowMessage(this, Q(Say(kImageSaved) + "\n" + PathText(end.file)),
                            Q(msg::CaptionInfo));
            } else {
                const std::string failure = FileWriteProblemText(end.file, end.saved);
                ShowCommState(false, failure);
                ShowMessage(this, Q(failure), Q(msg::CaptionInfo));
            }
            break;
        case Outcome::Cancelled:
            break;
        case Outcome::NotOpen:
        case Outcome::PortLost:
            ShowCommState(false, end.statusText);
            ShowMessage(this, Q(end.statusText), Q(keys::DlgName));
            break;
        default:
            ShowCommState(false, end.statusText);
            break;
    }
}

void CImageDlg::OnLvnItemchangedImageList() {
    if (m_bFilling) return;
    if (m_bDownloading) {
        ShowBusyText();
        return;
    }
    const int row = m_listImages.GetSelectedRow();
    if (row >= 0) m_nImageIndex = PositionOfRow(row);
    if (m_catalogue.empty()) {
        m_picture.Clear();
        ShowMessage(this, Q(kNoRecord), Q(msg::CaptionInfo));
        return;
    }
    const std::optional<std::filesystem::path> path =
        ImageFilePath(Session().DeviceFolder, m_catalogue, static_cast<std::size_t>(m_nImageIndex));
    if (!path || !ImageFileExists(*path)) {
        m_picture.Clear();
        ShowMessage(this, Q(kDownloadFirst), Q(kDownloadFirstCaption));
        return;
    }
    LoadImageFile(*path);
}

void CImageDlg::LoadImageFile(const std::filesystem::path& path) {
    std::string problem;
    QImage image = DecodeImageFile(path, &problem);
    if (image.isNull()) {
        // A folder, a device or a damaged file where the image should be.
        m_picture.Clear();
        ShowMessage(this, Q(problem), Q(msg::CaptionInfo));
        return;
    }
    m_picture.ShowImage(std::move(image));
}

void CImageDlg::ShowBusyText() {
    emit StatusNotice(Q(kSavingBusy));
}

}  // namespace velmora::ui
