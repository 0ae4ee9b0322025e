#include "AboutDlg.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QVBoxLayout>

#include "FrameTools.h"
#include "TwkMem.h"

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("About Tarnwick"));
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(QStringLiteral("Tarnwick\nQuantitative analysis of 3D and 4D medical image volumes"), this));
  CString build;
  PR_GetBuildNumber(build);
  build_ = new QLabel(QString::fromStdWString(build.wstr()), this);
  memory_ = new QLabel(QString::fromStdWString(TW_AllocatedMemoryLine().wstr()), this);
  layout->addWidget(build_);
  layout->addWidget(memory_);
  auto* ok = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  connect(ok, &QDialogButtonBox::accepted, this, &QDialog::accept);
  layout->addWidget(ok);
}
