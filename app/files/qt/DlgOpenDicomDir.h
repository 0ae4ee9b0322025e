#pragma once
// CDlgOpenDicomDir, the "DICOM Tree" dialog: a thin Qt view over OpenDicomDir. The study tree shows
// the browser's tree (check boxes, node pictures, six columns), the tag tree and the preview show the
// image under the cursor, and the check boxes, the filter text and the thirteen buttons forward to
// the browser's commands. The tree is built after the dialog is shown, so that a long scan shows the
// dialog with the progress of the main frame moving (Esc stops it; the dialog stays).

#include <QDialog>
#include <QImage>

#include <unordered_map>

#include "OpenDicomDir.h"

class CColumnTreeCtrl;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidgetItem;

class CDlgOpenDicomDir : public QDialog {
  Q_OBJECT
 public:
  explicit CDlgOpenDicomDir(OpenDicomDir* browser, QWidget* parent = nullptr);
  ~CDlgOpenDicomDir() override;

  OpenDicomDir* Browser() const { return browser_; }
  CColumnTreeCtrl* StudyTree() const { return tree_; }
  CColumnTreeCtrl* TagTree() const { return tags_; }
  QPushButton* Button(const QString& text) const;
  QCheckBox* FullInfo() const { return fullInfo_; }
  QCheckBox* UseSeriesUid() const { return useSeriesUid_; }
  QCheckBox* CombineStudies() const { return combineStudies_; }
  QLineEdit* SeriesFilter() const { return filter_; }
  QTreeWidgetItem* RowOf(const VA_DICOMTREEITEM* item) const;
  VA_DICOMTREEITEM* ItemOf(const QTreeWidgetItem* row) const;
  // The preview as drawn (null when the image could not be decoded).
  const QImage& Preview() const { return preview_; }
  // Whether the tree was built (the opening ran).
  bool Opened() const { return opened_; }

 protected:
  void showEvent(QShowEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void reject() override;

 private:
  void onChange(unsigned changes);
  void rebuildRows();
  void refreshRows();
  void refreshTags();
  void refreshOptions();
  void selectHighlighted();
  void layoutColumns();
  QPushButton* addButton(const QString& text, std::function<void()> action);
  // The keys held with the mouse press being handled, else the keyboard's.
  Qt::KeyboardModifiers modifiers() const;

  OpenDicomDir* browser_;
  QLabel* folder_ = nullptr;
  CColumnTreeCtrl* tree_ = nullptr;
  CColumnTreeCtrl* tags_ = nullptr;
  QWidget* previewArea_ = nullptr;
  QCheckBox* fullInfo_ = nullptr;
  QCheckBox* useSeriesUid_ = nullptr;
  QCheckBox* combineStudies_ = nullptr;
  QLineEdit* filter_ = nullptr;
  std::vector<QPushButton*> buttons_;
  std::unordered_map<const VA_DICOMTREEITEM*, QTreeWidgetItem*> rows_;
  QImage preview_;
  const VA_DICOMTREEITEM* pressedOnHighlighted_ = nullptr;  // the highlighted item when the mouse went down
  Qt::KeyboardModifiers pressKeys_;
  bool pressing_ = false;
  bool syncing_ = false;
  bool opened_ = false;
  bool opening_ = false;
};

// Makes the dialogs of the DICOM browser, the volume information and the CT extractor the views of
// their records (the shell calls it at start-up), and removes them again (at shutdown).
void TW_InstallDicomDialogs();
void TW_RemoveDicomDialogs();
