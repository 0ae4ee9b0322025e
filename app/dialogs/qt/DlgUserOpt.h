#pragma once
// The "User Interface Options" dialog over the program's options record (USEROPT): interpolation
// switches, DICOM and document storage switches, the linked cursor, the default transform
// interpolation, the toolbar edge, the image open layout, the visual style, the projection view
// convention, the temporary work folder (with its size, Browse and Clear) and the document
// background colour.
//
// Some controls act at once, before OK: the interpolation switches and "Patient orientation" set
// their option and redraw every open view; the visual style is stored and applied; the toolbar edge
// docks the toolbar (the option itself waits for OK); the background colour is set and every open
// document redrawn. OK copies every control into the record - a temporary folder that cannot be
// used is refused first - and redraws the views. "Clear" empties only the temporary folder in
// force, after a question that names it and its file count.

#include <QDialog>

#include <functional>

#include "AppOptions.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

// What the dialog's immediate effects ask of the main frame (installed by the program).
struct TW_USEROPT_HOOKS {
  std::function<void(int style)> applyVisualStyle;
  std::function<void(int edge)> dockToolbar;
};
TW_USEROPT_HOOKS& TW_UserOptHooks();

class CDlgUserOpt : public QDialog {
  Q_OBJECT
 public:
  explicit CDlgUserOpt(QWidget* parent = nullptr);
  // OK: the apply step, then the dialog closes.
  void accept() override;

  // The OK step: the controls into the record (false, with a message, for an unusable temporary
  // folder) and every view redrawn.
  bool ApplyOk();
  // The "Temp folder (%8.1lf MB)" text of a folder.
  static QString TempFolderLabel(const CString& folder);

  QCheckBox* interpVols = nullptr;        // "Volumes"
  QCheckBox* interpRois = nullptr;        // "ROIs"
  QCheckBox* interpPmaps = nullptr;       // "Real volumes"
  QCheckBox* interpFilm = nullptr;        // "Film View"
  QCheckBox* dicomCompress = nullptr;
  QCheckBox* compressHeaders = nullptr;
  QCheckBox* loadDynamic = nullptr;
  QCheckBox* verifyModality = nullptr;
  QCheckBox* autoTile = nullptr;
  QCheckBox* orientation = nullptr;       // "Patient orientation"
  QComboBox* volCursor = nullptr;
  QComboBox* interpolation = nullptr;
  QComboBox* toolbarAlign = nullptr;
  QComboBox* openLayout = nullptr;
  QComboBox* visualStyle = nullptr;
  QComboBox* convention = nullptr;
  QLineEdit* tempFolder = nullptr;
  QLabel* tempSize = nullptr;
  QPushButton* browse = nullptr;
  QPushButton* clear = nullptr;
  QPushButton* background = nullptr;      // "Document background"

 private:
  void immediate(uint8_t* option, bool on);
  void onClear();
  void onBackground();
};

// The options dialog: modal (true on OK), or with silentApply created, shown and confirmed at once
// (true when its OK step went through).
bool TW_DlgUserOpt(bool silentApply);
