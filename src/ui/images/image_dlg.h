#pragma once
// The "Image" page: the splicer's image list, downloads and the image shown.
#include <QDialog>
#include <QFrame>
#include <QGridLayout>
#include <QImage>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>
#include <filesystem>
#include <stop_token>
#include <string>

#include "images/image_catalogue.h"
#include "images/image_download.h"
#include "ui/app/page_dlg.h"
#include "ui/widgets/list_ctrl_ex.h"
#include "ui/widgets/wb_button.h"

namespace velmora::ui {

// The frame a splice image is drawn in: the image is stretched over the whole
// rectangle, border included, whatever its shape; or, when the frame keeps its
// aspect, drawn as large as fits inside the border, centred. Without an image
// only the black frame is drawn. Used on the page's thread only, so a paint
// always sees either the old image or the new one.
class CPictureFrame : public QFrame {
    Q_OBJECT
  public:
    explicit CPictureFrame(QWidget* parent = nullptr);

    // Shows `image`; a null image (an undecodable file) leaves the frame empty.
    void ShowImage(QImage image);
    void Clear();
    void SetKeepAspect(bool keep);

    bool ImageShown() const { return m_bImageShown; }
    const QImage& Image() const { return m_image; }

  signals:
    // A click on an image shown.
    void Clicked();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    bool m_bImageShown = false;
    bool m_bKeepAspect = false;
    QImage m_image;
};

// A splice image at its full size in a window of its own, which scrolls when the
// image is larger; Close or Escape closes it.
class CImageWindow : public QDialog {
    Q_OBJECT
  public:
    CImageWindow(QWidget* parent, const QString& closeText);
    // Shows `image` at 100 %, titled `title`, in a window as large as the image
    // or most of the screen, whichever is smaller.
    void ShowImage(const QImage& image, const QString& title);

    QLabel& ImageLabel() { return image_; }
    QScrollArea& Area() { return area_; }

  private:
    QScrollArea area_;
    QLabel image_;
    QPushButton close_;
    QVBoxLayout layout_;  // holds the widgets, never owning them
};

// The image in `path` decoded, or a null image for a file that is gone, no file,
// too large, unreadable or not an image; then `problem`, when given, says which in
// the run's language. The file is read whole and closed before decoding.
QImage DecodeImageFile(const std::filesystem::path& path, std::string* problem = nullptr);
// The same for a file already read (by ReadImageFile) into `read`.
QImage DecodeImageFile(const std::filesystem::path& path, const FileReadResult& read,
                       std::string* problem = nullptr);

class CImageDlg : public CPageDlg {
    Q_OBJECT
  public:
    CImageDlg(QWidget* parent, PageContext& context);
    ~CImageDlg() override;

    // Called when the page is selected, in this order.
    void EnsureJpgFolder();
    void RefreshImageList();

    // DownLoad: fetches the selected image (the first when none is selected) on the worker.
    void OnBnClickedDownLoad();
    // A row was chosen in the list: shows its saved image, without any exchange.
    void OnLvnItemchangedImageList();
    // Cancel: stops a running download, else ends the list's exchange.
    void CancelExchange() override;

    // True from the start of a download until the page has taken its result.
    bool Downloading() const { return m_bDownloading; }
    const ImageCatalogue& Catalogue() const { return m_catalogue; }
    // Catalogue position of the image being downloaded or last chosen.
    int ImageIndex() const { return m_nImageIndex; }

    CListCtrlEx& ImageList() { return m_listImages; }
    CWBButton& DownLoadButton() { return m_btnDownLoad; }
    CWBButton& SaveButton() { return m_btnSave; }
    QProgressBar& Progress() { return m_progress; }
    CPictureFrame& Picture() { return m_picture; }

    // Time limits of the next downloads (shorter ones for tests and demonstrations).
    void SetDownloadOptions(const ImageDownloadOptions& options) { m_downloadOptions = options; }

  private:
    // What the worker hands to the page when a download has ended.
    struct DownloadEnd {
        Outcome outcome = Outcome::NoAnswer;
        std::string statusText;      // why it failed
        QImage image;                // decoded on the worker from the bytes received
        std::filesystem::path file;  // where it was to be saved
        FileWriteResult saved;
    };

    void FillImageList();
    void SizeColumns(int clientWidth);
    // The catalogue position a row stands for; rows change places when sorted.
    int PositionOfRow(int row) const;
    void StartDownload(int position, const std::filesystem::path& path);
    // On the worker: gathers, saves and decodes the image; touches no widget.
    // A saved image goes into the archive as `splicer`'s, with its time `stamp`.
    DownloadEnd RunDownload(int position, const std::filesystem::path& path, std::stop_token stop,
                            const ImageDownloadOptions& options,
                            const archive::SplicerIdentity& splicer, const std::string& stamp);
    void FinishDownload(const DownloadEnd& end);
    void LoadImageFile(const std::filesystem::path& path);

    void ShowBusyText();

    ImageCatalogue m_catalogue;
    int m_nImageIndex = 0;
    bool m_bDownloading = false;
    bool m_bFilling = false;  // the list's own changes while it is rebuilt are no choice
    ImageDownloadOptions m_downloadOptions;
    // Written by the worker only, while it runs.
    ImageBuffer m_imageBuffer;

    CListCtrlEx m_listImages;
    CWBButton m_btnSave;  // kept hidden: the page saves every download itself
    CWBButton m_btnDownLoad;
    QProgressBar m_progress;
    CPictureFrame m_picture;
    QGridLayout m_layout;  // holds the widgets, never owning them
};

}  // namespace velmora::ui
