#include "DlgDicomExtractorCT.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "FilePickers.h"

namespace {

QString toQt(const CString& s) { return QString::fromStdWString(s.wstr()); }
CString fromQt(const QString& s) { return CString(s.toStdWString()); }

QSpinBox* number(int value, QWidget* parent) {
  auto* box = new QSpinBox(parent);
  // The dialog's own ranges are checked on OK; the box lets any value be typed.
  box->setRange(-1000000, 1000000);
  box->setValue(value);
  return box;
}

}  // namespace

CDlgDicomExtractorCT::CDlgDicomExtractorCT(const DicomExtractorCTSettings& s, QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Dicom File Extractor"));
  setObjectName(QStringLiteral("Dicom File Extractor"));
  auto* layout = new QVBoxLayout(this);
  auto* grid = new QGridLayout;
  source = new QLineEdit(toQt(s.sourceFolder), this);
  target = new QLineEdit(toQt(s.targetFolder), this);
  QLineEdit* edits[2] = {source, target};
  const char* labels[2] = {"Source folder:", "Target folder:"};
  for (int i = 0; i < 2; ++i) {
    auto* browse = new QPushButton(QStringLiteral("&Browse"), this);
    browse->setAutoDefault(false);
    QLineEdit* edit = edits[i];
    connect(browse, &QPushButton::clicked, this, [edit] {
      CString folder = fromQt(edit->text());
      if (TW_SpecifyFolder(&folder)) edit->setText(toQt(folder));
    });
    grid->addWidget(new QLabel(QString::fromLatin1(labels[i]), this), i, 0);
    grid->addWidget(edit, i, 1, 1, 3);
    grid->addWidget(browse, i, 4);
  }
  separated = new QCheckBox(QStringLiteral("Patients with studies separated by at least"), this);
  separated->setChecked(s.separatedStudies);
  months = number(s.months, this);
  grid->addWidget(separated, 2, 0, 1, 2);
  grid->addWidget(months, 2, 2);
  grid->addWidget(new QLabel(QStringLiteral("months"), this), 2, 3);
  sliceRange = new QCheckBox(QStringLiteral("Volumes contain between"), this);
  sliceRange->setChecked(s.sliceRange);
  minSlices = number(s.minSlices, this);
  maxSlices = number(s.maxSlices, this);
  grid->addWidget(sliceRange, 3, 0, 1, 2);
  grid->addWidget(minSlices, 3, 2);
  grid->addWidget(new QLabel(QStringLiteral("and"), this), 3, 3);
  grid->addWidget(maxSlices, 3, 4);
  grid->addWidget(new QLabel(QStringLiteral("slices"), this), 3, 5);
  modality = new QComboBox(this);
  for (const wchar_t* name : kDicomExtractorModalities) modality->addItem(QString::fromWCharArray(name));
  modality->setCurrentIndex(s.modality >= 0 && s.modality < 5 ? s.modality : 0);
  grid->addWidget(new QLabel(QStringLiteral("Modalities"), this), 4, 0);
  grid->addWidget(modality, 4, 1);
  layout->addLayout(grid);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
}

DicomExtractorCTSettings CDlgDicomExtractorCT::Settings() const {
  DicomExtractorCTSettings s;
  s.sourceFolder = fromQt(source->text().trimmed());
  s.targetFolder = fromQt(target->text().trimmed());
  s.separatedStudies = separated->isChecked();
  s.months = months->value();
  s.sliceRange = sliceRange->isChecked();
  s.minSlices = minSlices->value();
  s.maxSlices = maxSlices->value();
  s.modality = modality->currentIndex();
  return s;
}
