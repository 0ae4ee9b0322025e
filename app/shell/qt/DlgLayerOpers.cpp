#include "DlgLayerOpers.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "LayerOperationsView.h"
#include "MainFrame.h"
#include "ProgressPump.h"
#include "volops/VolumeOperations.h"

CDlgLayerOpers::CDlgLayerOpers(const TW_LAYEROPERS& record, QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Layer Operations"));
  auto* layout = new QVBoxLayout(this);
  const struct {
    int code;
    const char* caption;
    int group;
  } rows[] = {{VA_LAYEROP_UNION, "Union", 0},           {VA_LAYEROP_INTERSECT, "Intersect", 0},
              {VA_LAYEROP_A_AND_NOT_B, "A AND (NOT B)", 0}, {VA_LAYEROP_XOR, "XOR", 0},
              {VA_LAYEROP_NOT, "NOT", 0},               {VA_LAYEROP_ABS_DIFF, "Abs( Diff )", 1},
              {VA_LAYEROP_MAX_ZERO_DIFF, "Max( 0,Diff )", 1}};
  QGroupBox* groups[2] = {new QGroupBox(QStringLiteral("Binary ops"), this),
                          new QGroupBox(QStringLiteral("Arithmetic ops"), this)};
  QVBoxLayout* groupLayouts[2] = {new QVBoxLayout(groups[0]), new QVBoxLayout(groups[1])};
  for (const auto& row : rows) {
    auto* button = new QPushButton(QString::fromLatin1(row.caption), groups[row.group]);
    button->setEnabled(record.enabled[row.code]);
    groupLayouts[row.group]->addWidget(button);
    const int code = row.code;
    connect(button, &QPushButton::clicked, this, [this, code] {
      chosen_ = code;
      accept();
    });
    buttons_[row.code] = button;
  }
  layout->addWidget(groups[0]);
  layout->addWidget(groups[1]);
  auto* ok = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  connect(ok, &QDialogButtonBox::accepted, this, &QDialog::accept);
  layout->addWidget(ok);
}

void TW_InstallLayerOperationsDialog() {
  TW_SetLayerOperationsView([](const TW_LAYEROPERS& record) {
    TW_MODAL_SCOPE modal;
    QWidget* parent = QApplication::activeModalWidget() ? QApplication::activeModalWidget() : CMainFrame::Get();
    CDlgLayerOpers dialog(record, parent);
    dialog.exec();
    return dialog.Chosen();
  });
}
