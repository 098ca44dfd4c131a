#pragma once
// The about box: program icon, name and version.
#include <QDialog>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

namespace velmora::ui {

// Caption of the menu entry that opens the about box.
inline constexpr const char* kAboutMenuText = "关于 Velmora(&A)...";

class CAboutDlg : public QDialog {
    Q_OBJECT
  public:
    explicit CAboutDlg(QWidget* parent = nullptr);

  private:
    QLabel icon_;
    QLabel text_;
    QPushButton ok_;
    QGridLayout layout_;  // holds widgets only, so it never owns any of them
};

}  // namespace velmora::ui
