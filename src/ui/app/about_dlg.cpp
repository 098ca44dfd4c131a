#include "ui/app/about_dlg.h"

#include "base/version.h"
#include "ui/app/ui_resources.h"

namespace velmora::ui {

CAboutDlg::CAboutDlg(QWidget* parent)
    : QDialog(parent),
      text_(QStringLiteral("Velmora，%1 版").arg(QLatin1String(kVersion))),
      ok_(QStringLiteral("确定")) {
    setWindowTitle(QStringLiteral("关于 Velmora"));
    setWindowIcon(ProgramIcon());
    icon_.setPixmap(ProgramIcon().pixmap(32, 32));
    ok_.setDefault(true);
    connect(&ok_, &QPushButton::clicked, this, &QDialog::accept);

    setLayout(&layout_);
    layout_.setHorizontalSpacing(16);
    layout_.addWidget(&icon_, 0, 0, Qt::AlignTop);
    layout_.addWidget(&text_, 0, 1);
    layout_.addWidget(&ok_, 0, 2, Qt::AlignTop);
    layout_.setColumnStretch(1, 1);
    setFixedSize(sizeHint().expandedTo(QSize(320, 80)));
}

}  // namespace velmora::ui
