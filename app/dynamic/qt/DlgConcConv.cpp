// The conversion settings and the relaxivity lookup.

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "ConcConv.h"
#include "DynExpDialogsQt.h"
#include "DynExpQtKit.h"
#include "ParameterDialog.h"
#include "TwkMem.h"
#include "TwkUi.h"

using twkdx::fromQt;
using twkdx::toQt;

CDlgConcConv::CDlgConcConv(TW_CONCCONVDLG* dialog, QWidget* parent) : QDialog(parent), d_(dialog) {
  setWindowTitle(QStringLiteral("Concentration Conversion"));
  const VA_CONCCONV& r = d_->record;
  auto edit = [this](const wchar_t* label, const CString& text) {
    auto* e = new QLineEdit(toQt(text), this);
    e->setObjectName(toQt(label));
    return e;
  };
  auto real = [&](const wchar_t* label, double v) { return edit(label, TW_RoundTripText(v)); };
  auto integer = [&](const wchar_t* label, int v) { return edit(label, FmtStr(L"%d", v)); };

  method_ = new QComboBox(this);
  method_->setObjectName(QStringLiteral("Method:"));
  for (int m : d_->methods) {
    CString name;
    VA_GetConcentrationName(m, &name);
    method_->addItem(toQt(name));
    if (m == int(r.method)) method_->setCurrentIndex(method_->count() - 1);
  }
  hct_ = real(L"HCT", r.hct);
  flip_ = real(L"Flip angle (deg)", r.flipAngle);
  tr_ = real(L"TR (sec)", r.tr);
  te_ = real(L"TE (sec)", r.te);
  r1_ = real(L"Relaxivity r1 of contrast agent (1/(mM*s))", r.r1);
  fw_ = real(L"Tissue water fraction (fw)", r.waterFraction);
  lifetime_ = real(L"Mean intracellular lifetime (sec)", r.lifetime);
  rate_ = real(L"Intracellular relaxation rate without exchange (1/sec)", r.relaxationRate);
  manual_ = new QCheckBox(QStringLiteral("Manual"), this);
  manual_->setChecked(r.manualBaseline != 0);
  skip_ = integer(L"Skip first", r.skipFirst);
  average_ = integer(L"Average next", r.averageNext);
  fromDicom_ = new QPushButton(QStringLiteral("from DICOM"), this);
  fromDicom_->setEnabled(d_->dicom != nullptr);
  lookup_ = new QPushButton(QStringLiteral("Lookup value"), this);

  auto* layout = new QVBoxLayout(this);
  auto* top = new QFormLayout;
  top->addRow(QStringLiteral("Method:"), method_);
  top->addRow(QStringLiteral("HCT"), hct_);
  layout->addLayout(top);
  auto* acquisition = new QGroupBox(QStringLiteral("Acquisition parameters"), this);
  auto* acqForm = new QFormLayout(acquisition);
  acqForm->addRow(QStringLiteral("TR (sec)"), tr_);
  acqForm->addRow(QStringLiteral("TE (sec)"), te_);
  acqForm->addRow(QStringLiteral("Flip angle (deg)"), flip_);
  acqForm->addRow(fromDicom_);
  layout->addWidget(acquisition);
  auto* relaxivity = new QHBoxLayout;
  relaxivity->addWidget(new QLabel(QStringLiteral("Relaxivity r1 of contrast agent (1/(mM*s))"), this));
  relaxivity->addWidget(r1_);
  relaxivity->addWidget(lookup_);
  layout->addLayout(relaxivity);
  auto* exchange = new QGroupBox(QStringLiteral("Water exchange"), this);
  auto* exForm = new QFormLayout(exchange);
  exForm->addRow(QStringLiteral("Tissue water fraction (fw)"), fw_);
  exForm->addRow(QStringLiteral("Mean intracellular lifetime (sec)"), lifetime_);
  exForm->addRow(QStringLiteral("Intracellular relaxation rate without exchange (1/sec)"), rate_);
  layout->addWidget(exchange);
  auto* baseline = new QGroupBox(QStringLiteral("Signal baseline"), this);
  auto* blForm = new QFormLayout(baseline);
  blForm->addRow(manual_);
  blForm->addRow(QStringLiteral("Skip first"), skip_);
  blForm->addRow(QStringLiteral("Average next"), average_);
  layout->addWidget(baseline);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &CDlgConcConv::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);

  connect(method_, &QComboBox::currentIndexChanged, this, [this] { updateEnabled(); });
  connect(manual_, &QCheckBox::toggled, this, [this] { updateEnabled(); });
  connect(fromDicom_, &QPushButton::clicked, this, &CDlgConcConv::OnFromDicom);
  connect(lookup_, &QPushButton::clicked, this, &CDlgConcConv::OnLookup);
  updateEnabled();
}

int CDlgConcConv::CurrentMethod() const {
  return VA_GetConcentrationByName(fromQt(method_->currentText()).GetString());
}

QLineEdit* CDlgConcConv::Edit(unsigned control) const {
  switch (control) {
    case CONCCTRL_HCT: return hct_;
    case CONCCTRL_FLIP: return flip_;
    case CONCCTRL_TR: return tr_;
    case CONCCTRL_TE: return te_;
    case CONCCTRL_R1: return r1_;
    case CONCCTRL_FW: return fw_;
    case CONCCTRL_LIFETIME: return lifetime_;
    case CONCCTRL_RATE: return rate_;
    case CONCCTRL_BASELINE: return skip_;
    default: return nullptr;
  }
}

void CDlgConcConv::updateEnabled() {
  const unsigned c = TW_ConcConvControls(CurrentMethod(), d_->tissue, manual_->isChecked());
  for (unsigned control : {CONCCTRL_HCT, CONCCTRL_FLIP, CONCCTRL_TR, CONCCTRL_TE, CONCCTRL_R1, CONCCTRL_FW,
                           CONCCTRL_LIFETIME, CONCCTRL_RATE, CONCCTRL_BASELINE})
    Edit(control)->setEnabled((c & control) != 0);
  average_->setEnabled((c & CONCCTRL_BASELINE) != 0);
  manual_->setEnabled((c & CONCCTRL_MANUAL) != 0);
}

bool CDlgConcConv::readValues(VA_CONCCONV* record) const {
  const int method = CurrentMethod();
  if (method < 0) return false;
  record->method = uint32_t(method);
  record->manualBaseline = manual_->isChecked() ? 1 : 0;
  const unsigned c = TW_ConcConvControls(method, d_->tissue, manual_->isChecked());
  struct REAL {
    QLineEdit* edit;
    unsigned control;
    double* field;
  };
  const REAL reals[] = {{hct_, CONCCTRL_HCT, &record->hct},
                        {flip_, CONCCTRL_FLIP, &record->flipAngle},
                        {tr_, CONCCTRL_TR, &record->tr},
                        {te_, CONCCTRL_TE, &record->te},
                        {r1_, CONCCTRL_R1, &record->r1},
                        {fw_, CONCCTRL_FW, &record->waterFraction},
                        {lifetime_, CONCCTRL_LIFETIME, &record->lifetime},
                        {rate_, CONCCTRL_RATE, &record->relaxationRate}};
  for (const REAL& f : reals) {
    bool ok = false;
    const double v = f.edit->text().trimmed().toDouble(&ok);
    if (ok) *f.field = v;
    else if (c & f.control) {
      twk::ui().messageBox(fromQt(f.edit->objectName()) + L" : enter a number", L"Concentration Conversion",
                           MB_OK | MB_ICONEXCLAMATION);
      f.edit->setFocus();
      return false;
    }
  }
  for (QLineEdit* e : {skip_, average_}) {
    bool ok = false;
    const int v = e->text().trimmed().toInt(&ok);
    if (ok) (e == skip_ ? record->skipFirst : record->averageNext) = v;
    else if (c & CONCCTRL_BASELINE) {
      twk::ui().messageBox(fromQt(e->objectName()) + L" : enter a whole number", L"Concentration Conversion",
                           MB_OK | MB_ICONEXCLAMATION);
      e->setFocus();
      return false;
    }
  }
  const CString problem = TW_ConcConvRangeProblem(*record, c);
  if (!problem.IsEmpty()) {
    twk::ui().messageBox(problem, L"Concentration Conversion", MB_OK | MB_ICONEXCLAMATION);
    return false;
  }
  return true;
}

void CDlgConcConv::OnFromDicom() {
  if (!d_->dicom) return;
  VA_CONCCONV acquisition;
  bool ok = false;
  acquisition.tr = tr_->text().toDouble(&ok);
  acquisition.te = te_->text().toDouble(&ok);
  acquisition.flipAngle = flip_->text().toDouble(&ok);
  if (!VA_GetConcentrationAttributes(d_->dicom, &acquisition)) return;
  tr_->setText(toQt(TW_RoundTripText(acquisition.tr)));
  te_->setText(toQt(TW_RoundTripText(acquisition.te)));
  flip_->setText(toQt(TW_RoundTripText(acquisition.flipAngle)));
}

void CDlgConcConv::OnLookup() {
  double r1 = 0;
  if (TW_DlgRelaxivity(&r1)) r1_->setText(toQt(TW_RoundTripText(r1)));
}

bool CDlgConcConv::OnOK() {
  VA_CONCCONV record = d_->record;
  if (!readValues(&record)) return false;
  d_->record = record;
  QDialog::accept();
  return true;
}

// --- relaxivity lookup ---

CDlgRelaxivity::CDlgRelaxivity(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Contrast Relaxivity Lookup"));
  auto list = [this](const std::vector<CString>& items) {
    auto* combo = new QComboBox(this);
    for (const CString& item : items) combo->addItem(toQt(item));
    combo->setCurrentIndex(0);
    connect(combo, &QComboBox::currentIndexChanged, this, [this] { update(); });
    return combo;
  };
  agent_ = list(TW_RelaxivityAgents());
  field_ = list(TW_RelaxivityFields());
  medium_ = list(TW_RelaxivityMedia());
  valueText_ = new QLabel(this);
  auto* layout = new QVBoxLayout(this);
  auto* form = new QFormLayout;
  form->addRow(QStringLiteral("Contrast agent"), agent_);
  form->addRow(QStringLiteral("Field strength"), field_);
  form->addRow(QStringLiteral("Medium"), medium_);
  form->addRow(QStringLiteral("Relaxivity r1"), valueText_);
  layout->addLayout(form);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
  update();
}

void CDlgRelaxivity::update() {
  value_ = VA_GetContrastRelaxivity(agent_->currentIndex(), medium_->currentIndex(), field_->currentIndex());
  valueText_->setText(toQt(TW_RelaxivityText(value_)));
}
