#include "DlgUserOpt.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <filesystem>

#include "DrawDoc.h"
#include "FilePickers.h"
#include "TwkMem.h"
#include "TwkUi.h"
#include "UiHelpers.h"
#include "paths/FilePaths.h"

TW_USEROPT_HOOKS& TW_UserOptHooks() {
  static TW_USEROPT_HOOKS hooks;
  return hooks;
}

namespace {

QString toQt(const CString& s) { return QString::fromStdWString(s.wstr()); }
CString fromQt(const QString& s) { return CString(s.toStdWString()); }

// Every view of every open document, each document's active view once more last.
void redrawAllOpenViews() {
  int count = 0;
  CDrawDoc** docs = TW_GetAllDocuments(&count);
  for (int i = 0; i < count; ++i) CDrawDoc::RedrawAllViews(docs[i], false);
  pf_free(&docs);
}

QComboBox* list(QWidget* parent, std::initializer_list<const char*> entries, int current) {
  auto* box = new QComboBox(parent);
  for (const char* e : entries) box->addItem(QString::fromUtf8(e));
  box->setCurrentIndex(current >= 0 && current < box->count() ? current : 0);
  return box;
}

QCheckBox* check(QWidget* parent, const char* text, bool on) {
  auto* box = new QCheckBox(QString::fromUtf8(text), parent);
  box->setChecked(on);
  return box;
}

bool sameFolder(const CString& a, const CString& b) {
  std::error_code e1, e2;
  const auto ca = std::filesystem::weakly_canonical(std::filesystem::path(a.toUtf8()), e1);
  const auto cb = std::filesystem::weakly_canonical(std::filesystem::path(b.toUtf8()), e2);
  if (e1 || e2) return a == b;
  return ca == cb;
}

}  // namespace

QString CDlgUserOpt::TempFolderLabel(const CString& folder) {
  const int64_t bytes = PR_FolderSize(folder.GetString());
  CString text;
  text.Format(L"Temp folder (%8.1lf MB)", bytes > 0 ? double(bytes) / 1e6 : 0.0);
  return toQt(text);
}

CDlgUserOpt::CDlgUserOpt(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("User Interface Options"));
  const USEROPT& o = TW_Options();
  auto* layout = new QVBoxLayout(this);

  auto* interp = new QGroupBox(QStringLiteral("Use interpolation"), this);
  auto* interpRow = new QHBoxLayout(interp);
  interpVols = check(interp, "Volumes", o.interpVols);
  interpRois = check(interp, "ROIs", o.interpRois);
  interpPmaps = check(interp, "Real volumes", o.interpPmaps);
  interpFilm = check(interp, "Film View", o.interpFilmView);
  for (QCheckBox* b : {interpVols, interpRois, interpPmaps, interpFilm}) interpRow->addWidget(b);
  layout->addWidget(interp);

  dicomCompress = check(this, "Loselessly compress DICOM file when saving (JpegLS)", o.dicomCompress);
  compressHeaders = check(this, "Compress DICOM headers when saving to TWK file", o.compressDicomInTwk);
  loadDynamic = check(this, "Load dynamic modelling settings from TWK file", o.loadDmdbFromTwk);
  verifyModality = check(this, "Specify missing Modality when loading volumes", o.verifyModality);
  autoTile = check(this, "Automatically tile when a new window is created", o.autoTile);
  orientation = check(this, "Patient orientation", o.displayOrient);
  for (QCheckBox* b : {dicomCompress, compressHeaders, loadDynamic, verifyModality, autoTile, orientation})
    layout->addWidget(b);

  auto* form = new QFormLayout;
  volCursor = list(this, {"Regular", "Multiprojection Synchronize on left mouse click"}, o.volCursor);
  interpolation = list(this, {"Nearest Neighbor", "Tri linear", "Wsinc2", "Wsinc3", "Wsinc4"}, o.defaultInterpolation);
  toolbarAlign = list(this, {"Left", "Top", "Right", "Bottom"}, o.toolbarAlign);
  openLayout = list(this, {"FilmView", "Single Slice", "Axial, Sagittal and Coronal projections"}, o.imageOpenLayout);
  visualStyle = list(this, {"Basic", "Aqua", "Luna Blue", "Obsidian", "Silver"}, o.visualStyle);
  convention = list(this, {"Original Data", "Radiological", "Neurological"}, o.projViewConvention);
  form->addRow(QStringLiteral("Volumetric cursor"), volCursor);
  form->addRow(QStringLiteral("Default interpolation"), interpolation);
  form->addRow(QStringLiteral("Toolbar alignment"), toolbarAlign);
  form->addRow(QStringLiteral("Image open layout"), openLayout);
  form->addRow(QStringLiteral("Visual style"), visualStyle);
  form->addRow(QStringLiteral("Projection view convention"), convention);
  layout->addLayout(form);

  auto* temp = new QGridLayout;
  tempSize = new QLabel(TempFolderLabel(o.tempFolder), this);
  tempFolder = new QLineEdit(toQt(o.tempFolder), this);
  browse = new QPushButton(QStringLiteral("Browse"), this);
  clear = new QPushButton(QStringLiteral("Clear"), this);
  temp->addWidget(tempSize, 0, 0, 1, 3);
  temp->addWidget(tempFolder, 1, 0);
  temp->addWidget(browse, 1, 1);
  temp->addWidget(clear, 1, 2);
  layout->addLayout(temp);
  background = new QPushButton(QStringLiteral("Document background"), this);
  layout->addWidget(background);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  connect(interpVols, &QCheckBox::toggled, this, [this](bool on) { immediate(&TW_EditOptions().interpVols, on); });
  connect(interpRois, &QCheckBox::toggled, this, [this](bool on) { immediate(&TW_EditOptions().interpRois, on); });
  connect(interpPmaps, &QCheckBox::toggled, this, [this](bool on) { immediate(&TW_EditOptions().interpPmaps, on); });
  connect(interpFilm, &QCheckBox::toggled, this, [this](bool on) { immediate(&TW_EditOptions().interpFilmView, on); });
  connect(orientation, &QCheckBox::toggled, this, [this](bool on) { immediate(&TW_EditOptions().displayOrient, on); });
  connect(visualStyle, &QComboBox::currentIndexChanged, this, [](int style) {
    TW_EditOptions().visualStyle = style;
    if (TW_UserOptHooks().applyVisualStyle) TW_UserOptHooks().applyVisualStyle(style);
  });
  connect(toolbarAlign, &QComboBox::currentIndexChanged, this, [](int edge) {
    if (TW_UserOptHooks().dockToolbar) TW_UserOptHooks().dockToolbar(edge);
  });
  connect(browse, &QPushButton::clicked, this, [this] {
    CString folder = fromQt(tempFolder->text());
    if (!TW_SpecifyFolder(&folder)) return;
    tempFolder->setText(toQt(folder));
    tempSize->setText(TempFolderLabel(folder));
  });
  connect(clear, &QPushButton::clicked, this, [this] { onClear(); });
  connect(background, &QPushButton::clicked, this, [this] { onBackground(); });
}

void CDlgUserOpt::immediate(uint8_t* option, bool on) {
  *option = on ? 1 : 0;
  redrawAllOpenViews();
}

void CDlgUserOpt::onClear() {
  // Only the folder the program works in is emptied; a folder merely typed in the edit is not.
  const CString inForce = TW_Options().tempFolder;
  const CString typed = fromQt(tempFolder->text());
  if (inForce.IsEmpty() || !sameFolder(typed, inForce)) {
    CString text;
    text.Format(L"Only the temporary folder in force can be cleared:\n%s", inForce.GetString());
    twk::messageBox(text, MB_OK | MB_ICONINFORMATION);
    return;
  }
  CString question;
  question.Format(L"Clear Temporary Folder?\n%s\n%lld files will be deleted", inForce.GetString(),
                  static_cast<long long>(TW_CountFolderFiles(inForce)));
  if (!twk::askYesNo(question)) return;
  TW_DeleteFolderFiles(inForce);
  tempSize->setText(TempFolderLabel(inForce));
}

void CDlgUserOpt::onBackground() {
  COLORREF colour = TW_Options().docBackgroundColor;
  if (!TW_ChooseColor(&colour)) return;
  TW_EditOptions().docBackgroundColor = colour;
  int count = 0;
  CDrawDoc** docs = TW_GetAllDocuments(&count);
  for (int i = 0; i < count; ++i) {
    docs[i]->backgroundColor = colour;
    CDrawDoc::RedrawAllViews(docs[i], false);
  }
  pf_free(&docs);
}

bool CDlgUserOpt::ApplyOk() {
  const CString folder = fromQt(tempFolder->text().trimmed());
  if (folder.IsEmpty() || !PR_UsableFolder(folder.GetString(), false)) {
    CString text;
    text.Format(L"Temporary folder %s is not usable.\nPlease set temporary folder to an accessible folder",
                folder.GetString());
    twk::messageBox(text, MB_OK | MB_ICONINFORMATION);
    return false;
  }
  USEROPT& o = TW_EditOptions();
  o.interpVols = interpVols->isChecked();
  o.interpRois = interpRois->isChecked();
  o.interpPmaps = interpPmaps->isChecked();
  o.interpFilmView = interpFilm->isChecked();
  o.dicomCompress = dicomCompress->isChecked();
  o.compressDicomInTwk = compressHeaders->isChecked();
  o.loadDmdbFromTwk = loadDynamic->isChecked();
  o.verifyModality = verifyModality->isChecked();
  o.autoTile = autoTile->isChecked();
  o.displayOrient = orientation->isChecked();
  o.volCursor = volCursor->currentIndex();
  o.defaultInterpolation = interpolation->currentIndex();
  o.toolbarAlign = toolbarAlign->currentIndex();
  o.imageOpenLayout = openLayout->currentIndex();
  o.visualStyle = visualStyle->currentIndex();
  o.projViewConvention = convention->currentIndex();
  o.tempFolder = folder;
  redrawAllOpenViews();
  return true;
}

void CDlgUserOpt::accept() {
  if (ApplyOk()) QDialog::accept();
}

bool TW_DlgUserOpt(bool silentApply) {
  CDlgUserOpt dialog(QApplication::activeWindow());
  if (!silentApply) return dialog.exec() == QDialog::Accepted;
  dialog.show();
  return dialog.ApplyOk();
}
