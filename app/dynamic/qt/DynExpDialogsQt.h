#pragma once
// The Qt windows of the parametric-map dialogs: the conversion settings and the relaxivity lookup,
// the parametric-map dialog and the single-curve results. Their runners (app/dynamic,
// DynExpDialogs.h) hold what the dialogs decide; these windows show it and take the user's choices.
// TW_InstallDynExpDialogs makes them the runners' views.

#include <QDialog>

#include <functional>
#include <vector>

#include "DynExpDialogs.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

// "Concentration Conversion": edits the runner's copy of the record; OK writes it when the values
// of the enabled edits read and lie in their ranges (a refusal is shown and the dialog stays).
class CDlgConcConv : public QDialog {
  Q_OBJECT
 public:
  explicit CDlgConcConv(TW_CONCCONVDLG* dialog, QWidget* parent = nullptr);

  QComboBox* Method() const { return method_; }
  QLineEdit* Edit(unsigned control) const;  // CONCCTRL_* (CONCCTRL_BASELINE: "Skip first")
  QLineEdit* AverageNext() const { return average_; }
  QCheckBox* Manual() const { return manual_; }
  QPushButton* FromDicom() const { return fromDicom_; }
  QPushButton* Lookup() const { return lookup_; }
  // The method shown, as its index of the conversion methods.
  int CurrentMethod() const;
  void OnFromDicom();
  void OnLookup();
  bool OnOK();
  void accept() override { OnOK(); }

 private:
  void updateEnabled();
  bool readValues(VA_CONCCONV* record) const;
  TW_CONCCONVDLG* d_;
  QComboBox* method_;
  QCheckBox* manual_;
  QLineEdit *hct_, *flip_, *tr_, *te_, *r1_, *fw_, *lifetime_, *rate_, *skip_, *average_;
  QPushButton *fromDicom_, *lookup_;
};

// "Contrast Relaxivity Lookup": agent, field strength and medium; the value follows each change.
class CDlgRelaxivity : public QDialog {
  Q_OBJECT
 public:
  explicit CDlgRelaxivity(QWidget* parent = nullptr);
  QComboBox* Agent() const { return agent_; }
  QComboBox* Field() const { return field_; }
  QComboBox* Medium() const { return medium_; }
  QLabel* ValueText() const { return valueText_; }
  double Value() const { return value_; }

 private:
  void update();
  QComboBox *agent_, *field_, *medium_;
  QLabel* valueText_;
  double value_ = 0;
};

// " Parametric Map Calculation for Dynamic Experiment": model, hyperparameters, outputs,
// optimisation, input functions and conversions, written into the host; a processing button
// stores its mode and closes the dialog when the choices can be taken.
class CDlgPpmCalc : public QDialog {
  Q_OBJECT
 public:
  explicit CDlgPpmCalc(TW_PPMCALC* dialog, QWidget* parent = nullptr);

  QComboBox* Model() const { return model_; }
  QComboBox* Optimization() const { return optimization_; }
  QLineEdit* Grid() const { return grid_; }
  QLineEdit* Iterations() const { return iterations_; }
  QCheckBox* Output(int i) const { return outputs_[i]; }
  QLineEdit* Parameter(int i) const { return parms_[i]; }
  QLabel* ParameterName(int i) const { return parmNames_[i]; }
  QLabel* SlotName(int slot) const { return slotNames_[slot]; }
  QGroupBox* InputFunctionPanel() const { return ifPanel_; }
  QLabel* TissueConcName() const { return tissueConcName_; }
  QLabel* IfConcName() const { return ifConcName_; }
  QCheckBox* FitVolume() const { return fitVolume_; }
  // Buttons by their texts ("Load from file", "Paste", "Delete", "View", "Attributes",
  // "Concentration", "Tissue concentration", "Reset hyperparameters", "Select all",
  // "Unselect all"); processing buttons by mode (1, 2, 3, 5).
  QPushButton* Button(const wchar_t* text) const;
  QPushButton* ModeButton(int mode) const;
  int SelectedSlot() const { return slot_; }
  uint32_t SlotColour(int slot) const;

  void OnModelChange();
  void OnOptimizationChange();
  void OnLoadInfunc();
  void OnPasteInfunc();
  void OnDeleteInfunc();
  void OnView();
  void SelectSlot(int slot);
  // A processing button: true when the dialog closed with OK.
  bool OnProcess(int mode);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void fillModels();
  void fillParameterRows();
  void fillOptimizations();
  void fillSlots();
  void showConcNames();
  void setInputFunctionButtons();
  bool storeChoices();
  TW_PPMCALC* d_;
  CDynExp* host_;
  int concMask_ = 0;
  int slot_ = 0;
  bool filling_ = false;
  std::vector<int> entryModels_;
  std::vector<int> optimizationMethods_;
  QComboBox *model_, *optimization_;
  QLineEdit *grid_, *iterations_;
  QCheckBox* outputs_[12];
  QLabel* parmNames_[12];
  QLineEdit* parms_[12];
  QGroupBox* ifPanel_;
  QLabel* slotNames_[DYNEXP_NUM_INPUTFUNCS];
  QLabel* swatches_[DYNEXP_NUM_INPUTFUNCS];
  QLabel *tissueConcName_, *ifConcName_;
  QCheckBox* fitVolume_;
  std::vector<QPushButton*> buttons_;
  QPushButton* modeButtons_[4];
};

// Makes these windows the runners' views; modalScope, when given, wraps each modal run.
void TW_InstallDynExpDialogs(std::function<bool(const std::function<bool()>& run)> modalScope = {});
void TW_RemoveDynExpDialogs();
