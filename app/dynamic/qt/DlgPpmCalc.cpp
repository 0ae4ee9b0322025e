// The parametric-map dialog.

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "AppOptions.h"
#include "ConcConv.h"
#include "DlgViewTac.h"
#include "DynExpDialogsQt.h"
#include "DynExpQtKit.h"
#include "FilePickers.h"
#include "ParameterDialog.h"
#include "TwkMem.h"
#include "TwkUi.h"
#include "Vol.h"
#include "paths/FilePaths.h"

using twkdx::colourOf;
using twkdx::fromQt;
using twkdx::toQt;

namespace {

constexpr int kRows = 12;

void showStop(const wchar_t* text) {
  twk::ui().messageBox(text, L"Tarnwick", MB_OK | MB_ICONSTOP);
}

}  // namespace

CDlgPpmCalc::CDlgPpmCalc(TW_PPMCALC* dialog, QWidget* parent)
    : QDialog(parent), d_(dialog), host_(dialog->host) {
  setWindowTitle(QStringLiteral(" Parametric Map Calculation for Dynamic Experiment"));
  setObjectName(QStringLiteral("CDlgPpmCalc"));
  auto* layout = new QVBoxLayout(this);
  auto button = [this](const wchar_t* text) {
    auto* b = new QPushButton(toQt(text), this);
    b->setObjectName(toQt(text));
    buttons_.push_back(b);
    return b;
  };

  // Model and optimisation.
  auto* top = new QGridLayout;
  model_ = new QComboBox(this);
  top->addWidget(new QLabel(QStringLiteral("Model"), this), 0, 0);
  top->addWidget(model_, 0, 1, 1, 5);
  optimization_ = new QComboBox(this);
  grid_ = new QLineEdit(this);
  iterations_ = new QLineEdit(this);
  top->addWidget(new QLabel(QStringLiteral("Fitting"), this), 1, 0);
  top->addWidget(optimization_, 1, 1);
  top->addWidget(new QLabel(QStringLiteral("Grid"), this), 1, 2);
  top->addWidget(grid_, 1, 3);
  top->addWidget(new QLabel(QStringLiteral("# Iterations"), this), 1, 4);
  top->addWidget(iterations_, 1, 5);
  layout->addLayout(top);

  // Hyperparameters and outputs, side by side.
  auto* middle = new QHBoxLayout;
  auto* parmBox = new QGroupBox(QStringLiteral("Hyperparameters"), this);
  auto* parmGrid = new QGridLayout(parmBox);
  auto* outBox = new QGroupBox(QStringLiteral("Output parameters"), this);
  auto* outGrid = new QGridLayout(outBox);
  for (int i = 0; i < kRows; ++i) {
    parmNames_[i] = new QLabel(this);
    parms_[i] = new QLineEdit(this);
    parmGrid->addWidget(parmNames_[i], i, 0);
    parmGrid->addWidget(parms_[i], i, 1);
    outputs_[i] = new QCheckBox(this);
    outGrid->addWidget(outputs_[i], i, 0);
  }
  parmGrid->addWidget(button(L"Reset hyperparameters"), kRows, 0, 1, 2);
  auto* selectRow = new QHBoxLayout;
  selectRow->addWidget(button(L"Select all"));
  selectRow->addWidget(button(L"Unselect all"));
  outGrid->addLayout(selectRow, kRows, 0);
  middle->addWidget(parmBox);
  middle->addWidget(outBox);
  layout->addLayout(middle);

  // Input functions and conversions.
  ifPanel_ = new QGroupBox(this);
  auto* ifGrid = new QGridLayout(ifPanel_);
  for (int s = 0; s < DYNEXP_NUM_INPUTFUNCS; ++s) {
    swatches_[s] = new QLabel(this);
    swatches_[s]->setFixedSize(16, 16);
    swatches_[s]->setAutoFillBackground(true);
    slotNames_[s] = new QLabel(this);
    slotNames_[s]->installEventFilter(this);
    ifGrid->addWidget(swatches_[s], s, 0);
    ifGrid->addWidget(slotNames_[s], s, 1, 1, 3);
  }
  int row = DYNEXP_NUM_INPUTFUNCS, col = 0;
  for (const wchar_t* text : {L"Load from file", L"Paste", L"Delete", L"View", L"Attributes", L"Concentration"}) {
    ifGrid->addWidget(button(text), row, col);
    if (++col == 3) col = 0, ++row;
  }
  ifConcName_ = new QLabel(this);
  ifGrid->addWidget(ifConcName_, row, 0, 1, 3);
  layout->addWidget(ifPanel_);
  auto* tissueRow = new QHBoxLayout;
  tissueRow->addWidget(button(L"Tissue concentration"));
  tissueConcName_ = new QLabel(this);
  tissueRow->addWidget(tissueConcName_, 1);
  layout->addLayout(tissueRow);

  // Processing.
  fitVolume_ = new QCheckBox(QStringLiteral("Create model volume layer"), this);
  layout->addWidget(fitVolume_);
  auto* process = new QGridLayout;
  const int modes[4] = {1, 2, 3, 5};
  for (int i = 0; i < 4; ++i) {
    modeButtons_[i] = new QPushButton(toQt(TW_PpmCalcButtonText(modes[i], d_->roiCount)), this);
    const int mode = modes[i];
    connect(modeButtons_[i], &QPushButton::clicked, this, [this, mode] { OnProcess(mode); });
    process->addWidget(modeButtons_[i], i / 2, i % 2);
  }
  auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  process->addWidget(cancel, 2, 1);
  layout->addLayout(process);

  connect(model_, &QComboBox::currentIndexChanged, this, [this] {
    if (!filling_) OnModelChange();
  });
  connect(optimization_, &QComboBox::currentIndexChanged, this, [this] {
    if (!filling_) OnOptimizationChange();
  });
  connect(Button(L"Reset hyperparameters"), &QPushButton::clicked, this, [this] {
    host_->DefaultFreeParms(host_->GetCurrentModel());
    fillParameterRows();
  });
  for (bool on : {true, false})
    connect(Button(on ? L"Select all" : L"Unselect all"), &QPushButton::clicked, this, [this, on] {
      for (int i = 0; i < host_->NumOutputParms() && i < kRows; ++i) outputs_[i]->setChecked(on);
    });
  connect(Button(L"Load from file"), &QPushButton::clicked, this, &CDlgPpmCalc::OnLoadInfunc);
  connect(Button(L"Paste"), &QPushButton::clicked, this, &CDlgPpmCalc::OnPasteInfunc);
  connect(Button(L"Delete"), &QPushButton::clicked, this, &CDlgPpmCalc::OnDeleteInfunc);
  connect(Button(L"View"), &QPushButton::clicked, this, &CDlgPpmCalc::OnView);
  connect(Button(L"Attributes"), &QPushButton::clicked, this,
          [this] { TW_DlgTissueProp(this, 4, &host_->bloodAttrib); });
  connect(Button(L"Tissue concentration"), &QPushButton::clicked, this, [this] {
    TW_DlgConcConv(this, concMask_, true, &host_->tissueConc, TW_FirstDicom(d_->vol));
    showConcNames();
  });
  connect(Button(L"Concentration"), &QPushButton::clicked, this, [this] {
    TW_DlgConcConv(this, concMask_, false, &host_->ifuncConc, TW_FirstDicom(d_->vol));
    showConcNames();
  });

  // Opening: the buttons by the mask and the ROI count, the preset, the lists, the slots and the
  // conversions of the current model.
  for (int i = 0; i < 4; ++i) modeButtons_[i]->setEnabled(TW_PpmCalcButtonEnabled(*d_, modes[i]));
  if (d_->requested) host_->SetParmReq(d_->requested, DYNEXP_NUM_OUTPUTS);
  fillModels();
  OnModelChange();
  fillSlots();
  fitVolume_->setChecked(false);
}

QPushButton* CDlgPpmCalc::Button(const wchar_t* text) const {
  for (QPushButton* b : buttons_)
    if (b->objectName() == toQt(text)) return b;
  return nullptr;
}

QPushButton* CDlgPpmCalc::ModeButton(int mode) const {
  switch (mode) {
    case 1: return modeButtons_[0];
    case 2: return modeButtons_[1];
    case 3: return modeButtons_[2];
    case 5: return modeButtons_[3];
    default: return nullptr;
  }
}

uint32_t CDlgPpmCalc::SlotColour(int slot) const { return TW_PpmCalcSlotColour(*host_, slot); }

void CDlgPpmCalc::fillModels() {
  filling_ = true;
  model_->clear();
  for (const CString& entry : TW_PpmCalcModelEntries(*host_, d_->vol, &entryModels_)) model_->addItem(toQt(entry));
  std::vector<CString> entries;
  for (int i = 0; i < model_->count(); ++i) entries.push_back(fromQt(model_->itemText(i)));
  model_->setCurrentIndex(TW_PpmCalcSelectedEntry(*host_, entries));
  filling_ = false;
}

void CDlgPpmCalc::OnModelChange() {
  if (model_->currentIndex() >= 0) host_->SetCurrentModelByName(fromQt(model_->currentText()).GetString());
  const int model = host_->GetCurrentModel();
  concMask_ = TW_PpmCalcConcMask(host_, model, d_->allowedConc);
  Button(L"Tissue concentration")->setEnabled(concMask_ != 1);
  showConcNames();
  fillParameterRows();
  setInputFunctionButtons();
  ModeButton(5)->setEnabled(TW_PpmCalcButtonEnabled(*d_, 5));
  fillOptimizations();
  ifPanel_->setTitle(toQt(host_->GetIFpanelName(model)));
}

void CDlgPpmCalc::setInputFunctionButtons() {
  const bool needs = host_->GetNumRequiredIfuncs(host_->GetCurrentModel()) > 0;
  for (const wchar_t* text : {L"Load from file", L"Paste", L"Delete", L"View", L"Attributes", L"Concentration"})
    Button(text)->setEnabled(needs);
  if (needs) Button(L"Concentration")->setEnabled(concMask_ != 1);
}

void CDlgPpmCalc::showConcNames() {
  CString name;
  VA_GetConcentrationName(int(host_->tissueConc.method), &name);
  tissueConcName_->setText(toQt(name));
  name.Empty();
  if (host_->GetNumRequiredIfuncs(host_->GetCurrentModel()) > 0)
    VA_GetConcentrationName(int(host_->ifuncConc.method), &name);
  ifConcName_->setText(toQt(name));
}

void CDlgPpmCalc::fillParameterRows() {
  const int model = host_->GetCurrentModel();
  double values[DYNEXP_MAX_FREE_PARMS] = {};
  host_->GetFreeParms(model, values);
  const int nParms = std::min(host_->GetNumFreeParms(model), std::min(kRows, DYNEXP_MAX_FREE_PARMS));
  int flags[DYNEXP_NUM_OUTPUTS] = {};
  host_->GetParmReq(flags, DYNEXP_NUM_OUTPUTS);
  const int nOut = std::min(host_->GetNumOutParms(model), std::min(kRows, DYNEXP_NUM_OUTPUTS));
  for (int i = 0; i < kRows; ++i) {
    const bool parm = i < nParms;
    parmNames_[i]->setText(parm ? toQt(host_->GetFreeParmName(model, i)) : QString());
    parms_[i]->setText(parm ? toQt(TW_RoundTripText(values[i])) : QString());
    parmNames_[i]->setEnabled(parm);
    parms_[i]->setEnabled(parm);
    const bool out = i < nOut;
    outputs_[i]->setText(out ? toQt(host_->GetOutParmName(model, i)) : QString());
    outputs_[i]->setChecked(out && flags[i] != 0);
    outputs_[i]->setEnabled(out);
  }
}

void CDlgPpmCalc::fillOptimizations() {
  const int model = host_->GetCurrentModel();
  int current = -1;
  if (!TW_PpmCalcOptimizations(*host_, model, &optimizationMethods_, &current)) return;
  int grid = 0, iterations = 0;
  const int method = host_->GetCurrentOptimization(model, &grid, &iterations);
  grid_->setText(QString::number(grid));
  iterations_->setText(QString::number(iterations));
  filling_ = true;
  optimization_->clear();
  for (int m : optimizationMethods_) {
    CString name;
    VA_GetOptimizationName(m, &name);
    optimization_->addItem(toQt(name));
  }
  optimization_->setCurrentIndex(current);
  filling_ = false;
  grid_->setEnabled(method != 1 && method != 2);
  iterations_->setEnabled(method != 1);
}

void CDlgPpmCalc::OnOptimizationChange() {
  const int index = optimization_->currentIndex();
  if (index < 0 || index >= int(optimizationMethods_.size())) return;
  const int method = optimizationMethods_[size_t(index)];
  host_->SetCurrentOptimization(host_->GetCurrentModel(), method, grid_->text().toInt(), iterations_->text().toInt());
  grid_->setEnabled(method != 1 && method != 2);
  iterations_->setEnabled(method != 1);
}

void CDlgPpmCalc::fillSlots() {
  for (int s = 0; s < DYNEXP_NUM_INPUTFUNCS; ++s) {
    slotNames_[s]->setText(toQt(host_->ifuncName[s]));
    QPalette names = slotNames_[s]->palette();
    names.setColor(QPalette::WindowText, s == slot_ ? QColor(255, 0, 0) : palette().color(QPalette::WindowText));
    slotNames_[s]->setPalette(names);
    QPalette swatch = swatches_[s]->palette();
    swatch.setColor(QPalette::Window, colourOf(SlotColour(s)));
    swatches_[s]->setPalette(swatch);
  }
}

void CDlgPpmCalc::SelectSlot(int slot) {
  if (slot < 0 || slot >= DYNEXP_NUM_INPUTFUNCS) return;
  slot_ = slot;
  fillSlots();
}

bool CDlgPpmCalc::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseButtonPress)
    for (int s = 0; s < DYNEXP_NUM_INPUTFUNCS; ++s)
      if (watched == slotNames_[s]) {
        SelectSlot(s);
        return true;
      }
  return QDialog::eventFilter(watched, event);
}

void CDlgPpmCalc::OnLoadInfunc() {
  CString path, extension;
  int filterIndex = 0;
  if (!TW_GetFileLoadName(TW_FILTER_INPUT_FUNCTION, &TW_EditOptions().tacLoadFolder, &filterIndex, &extension, &path))
    return;
  if (!host_->LoadInputFunction(path.GetString()))
    twk::showNamedError(L"CDlgPpmCalc::OnBnClickedLoadInfunc", L"Failed to load Input Function file");
  fillSlots();
}

void CDlgPpmCalc::OnPasteInfunc() {
  const CString path = PR_JoinPath(TW_Options().tempFolder.GetString(), L"ClipboardIF.txt");
  const CString text = fromQt(QApplication::clipboard()->text());
  if (!PR_SaveTextToFile(path.GetString(), text.GetString()) || !host_->LoadInputFunction(path.GetString()))
    twk::showNamedError(L"CDlgPpmCalc::OnBnClickedPasteInfunc", L"Failed to load Input Function file");
  fillSlots();
}

void CDlgPpmCalc::OnDeleteInfunc() {
  if (host_->NumberIfuncs() == 0) return;
  host_->ifuncName[slot_].Empty();
  slot_ = 0;
  for (int s = 0; s < DYNEXP_NUM_INPUTFUNCS; ++s)
    if (!host_->ifuncName[s].IsEmpty()) {
      slot_ = s;
      break;
    }
  fillSlots();
}

void CDlgPpmCalc::OnView() {
  if (host_->NumberIfuncs() == 0) {
    twk::showNamedError(L"CDlgPpmCalc::OnBnClickedView", L"Input function is not present");
    return;
  }
  TW_ViewInputFunctions(host_, d_->vol);
}

bool CDlgPpmCalc::storeChoices() {
  const int model = host_->GetCurrentModel();
  int flags[DYNEXP_NUM_OUTPUTS] = {};
  for (int i = 0; i < kRows && i < DYNEXP_NUM_OUTPUTS; ++i) flags[i] = outputs_[i]->isEnabled() && outputs_[i]->isChecked();
  double values[DYNEXP_MAX_FREE_PARMS] = {};
  host_->GetFreeParms(model, values);
  for (int i = 0; i < kRows && i < DYNEXP_MAX_FREE_PARMS; ++i) {
    if (!parms_[i]->isEnabled()) continue;
    bool ok = false;
    const double v = parms_[i]->text().trimmed().toDouble(&ok);
    if (!ok) {
      twk::ui().messageBox(fromQt(parmNames_[i]->text()) + L" : enter a number", L"Tarnwick",
                           MB_OK | MB_ICONEXCLAMATION);
      parms_[i]->setFocus();
      return false;
    }
    values[i] = v;
  }
  if (host_->IsLoaded()) {
    host_->SetParmReq(flags, DYNEXP_NUM_OUTPUTS);
    host_->GetParmReq(flags, DYNEXP_NUM_OUTPUTS);
    host_->SetFreeParms(model, values);
    fillParameterRows();
  }
  return true;
}

bool CDlgPpmCalc::OnProcess(int mode) {
  d_->mode = mode;
  if (!storeChoices()) return false;
  if (mode != 5 && host_->NumReqOutputParms() == 0) {
    showStop(L"At least one Output parameter is required");
    return false;
  }
  bool okGrid = false, okIterations = false;
  const int grid = grid_->text().trimmed().toInt(&okGrid);
  const int iterations = iterations_->text().trimmed().toInt(&okIterations);
  if (grid_->isEnabled() && (!okGrid || grid < 0 || grid > 10000)) {
    twk::ui().messageBox(L"Grid : enter a whole number from 0 to 10000", L"Tarnwick", MB_OK | MB_ICONEXCLAMATION);
    return false;
  }
  if (iterations_->isEnabled() && (!okIterations || iterations < 0 || iterations > 100000000)) {
    twk::ui().messageBox(L"# Iterations : enter a whole number from 0 to 100000000", L"Tarnwick",
                         MB_OK | MB_ICONEXCLAMATION);
    return false;
  }
  const int method = VA_GetOptimizationFromName(fromQt(optimization_->currentText()).GetString());
  if (method >= 0) host_->SetCurrentOptimization(host_->GetCurrentModel(), method, grid, iterations);
  d_->fitVolume = fitVolume_->isChecked();
  accept();
  return true;
}
