#pragma once
// CDlgLayerOpers, the "Layer Operations" dialog: a button per operation on the marked layers of a
// set, enabled as the record (LayerOperations.h) allows; pressing one closes the dialog with its code.

#include <QDialog>

#include "LayerOperations.h"

class QPushButton;

class CDlgLayerOpers : public QDialog {
 public:
  CDlgLayerOpers(const TW_LAYEROPERS& record, QWidget* parent);
  // The operation pressed (1..7), 0 when closed with OK.
  int Chosen() const { return chosen_; }
  QPushButton* Button(int code) const { return code >= 1 && code <= 7 ? buttons_[code] : nullptr; }

 private:
  int chosen_ = 0;
  QPushButton* buttons_[8] = {};
};

// Installs the dialog as the view of TW_DlgLayerOpers; the shell calls it at start-up.
void TW_InstallLayerOperationsDialog();
