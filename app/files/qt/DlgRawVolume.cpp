#include "DlgRawVolume.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace {

QString toQt(const CString& s) { return QString::fromStdWString(s.wstr()); }
CString fromQt(const QString& s) { return CString(s.toStdWString()); }

}  // namespace

CDlgSpecifyRawVolume::CDlgSpecifyRawVolume(const RawVolumeSettings& settings, QWidget* parent) : QDialog(parent), settings_(settings) {
  setWindowTitle(QStringLiteral("Specify RAW Volume"));
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(toQt(RawVolumeShapeLabel(settings)), this));
  layout->addWidget(new QLabel(toQt(RawVolumeDataTypeLabel(settings)), this));

  auto* form = new QFormLayout;
  const int values[4] = {settings.width, settings.height, settings.depth, settings.timePoints};
  const char* labels[4] = {"Width ", "Height", "Depth", "Number of timepoints"};
  for (int i = 0; i < 4; ++i) {
    dims[size_t(i)] = new QSpinBox(this);
    dims[size_t(i)]->setRange(0, 1 << 30);
    dims[size_t(i)]->setValue(values[i]);
    form->addRow(QString::fromLatin1(labels[i]), dims[size_t(i)]);
  }
  order = new QLineEdit(toQt(settings.order), this);
  update = new QPushButton(QStringLiteral("Update"), this);
  form->addRow(QStringLiteral("Order :"), order);
  form->addRow(QString(), update);
  layout->addLayout(form);

  auto* size = new QGroupBox(QStringLiteral("Voxel size (mm)"), this);
  auto* sizeForm = new QFormLayout(size);
  const char* axes[3] = {"Vx", "Vy", "Vz"};
  for (int i = 0; i < 3; ++i) {
    voxel[size_t(i)] = new QLineEdit(QString::number(settings.voxel[i], 'g', 15), size);
    sizeForm->addRow(QString::fromLatin1(axes[i]), voxel[size_t(i)]);
  }
  layout->addWidget(size);

  auto* dynamic = new QGroupBox(QStringLiteral("Dynamic dimension"), this);
  auto* dynamicForm = new QFormLayout(dynamic);
  dynamicKind = new QComboBox(dynamic);
  for (const wchar_t* name : kRawDynamicKindNames) dynamicKind->addItem(QString::fromWCharArray(name));
  dynamicKind->setCurrentIndex(settings.dynamicKind >= 0 && settings.dynamicKind < 6 ? settings.dynamicKind : 0);
  dynamicValues = new QLineEdit(toQt(settings.dynamicValues), dynamic);
  dynamicForm->addRow(QStringLiteral("Type"), dynamicKind);
  dynamicForm->addRow(QStringLiteral("Values"), dynamicValues);
  layout->addWidget(dynamic);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(update, &QPushButton::clicked, this, [this] { onUpdate(); });
}

void CDlgSpecifyRawVolume::onUpdate() {
  RawVolumeSettings settings = Settings();
  if (!RawVolumeUpdate(&settings)) return;
  const int values[4] = {settings.width, settings.height, settings.depth, settings.timePoints};
  for (int i = 0; i < 4; ++i) dims[size_t(i)]->setValue(values[i]);
}

RawVolumeSettings CDlgSpecifyRawVolume::Settings() const {
  RawVolumeSettings settings = settings_;
  settings.width = dims[0]->value();
  settings.height = dims[1]->value();
  settings.depth = dims[2]->value();
  settings.timePoints = dims[3]->value();
  for (int i = 0; i < 3; ++i) {
    bool ok = false;
    const double v = voxel[size_t(i)]->text().trimmed().toDouble(&ok);
    settings.voxel[i] = ok ? v : 0.0;
  }
  settings.dynamicKind = dynamicKind->currentIndex();
  settings.dynamicValues = fromQt(dynamicValues->text());
  settings.order = fromQt(order->text().trimmed());
  return settings;
}

void TW_InstallRawVolumeDialog() {
  TW_SetRawVolumeView([](RawVolumeSettings* settings) {
    CDlgSpecifyRawVolume dialog(*settings);
    if (dialog.exec() != QDialog::Accepted) return false;
    *settings = dialog.Settings();
    return true;
  });
}
