#include "ChooseColor.h"

#include <QApplication>
#include <QColorDialog>

#include "UiHelpers.h"

bool TW_ChooseColorDialog(COLORREF* colour) {
  if (!colour) return false;
  const COLORREF start = *colour == 0xFFFFFFFFu ? 0 : *colour;
  QColorDialog dialog(QColor(GetRValue(start), GetGValue(start), GetBValue(start)), QApplication::activeWindow());
  dialog.setObjectName(QStringLiteral("ChooseColor"));
  dialog.setOption(QColorDialog::ShowAlphaChannel, false);
  // The program's own dialog (not the desktop's), so that tests and scripts can answer it.
  dialog.setOption(QColorDialog::DontUseNativeDialog, true);
  if (dialog.exec() != QDialog::Accepted) return false;
  const QColor chosen = dialog.selectedColor();
  if (!chosen.isValid()) return false;
  *colour = RGB(chosen.red(), chosen.green(), chosen.blue());
  return true;
}

void TW_InstallColorDialog() { TW_SetColorChooserView(&TW_ChooseColorDialog); }
