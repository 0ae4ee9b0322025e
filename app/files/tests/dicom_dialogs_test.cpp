// The Qt views of the DICOM browser, the volume information and the CT extractor, offscreen: they
// show the state of their records and forward the user's clicks to the right commands.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QImage>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QSpinBox>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>

#include <memory>

#include "AppOptions.h"
#include "ColumnTreeCtrl.h"
#include "DicomLoad.h"
#include "DicomNodeImages.h"
#include "DicomTestKit.h"
#include "DlgDicomExtractorCT.h"
#include "DlgOpenDicomDir.h"
#include "DlgVolInfo.h"
#include "FilesTestKit.h"
#include "TwkDicom.h"
#include "TwkMem.h"

namespace {

using namespace twk::dicomtest;

QApplication& app() {
  static int argc = 1;
  static char name[] = "dicom_dialogs_test";
  static char* argv[] = {name, nullptr};
  if (!QApplication::instance()) new QApplication(argc, argv);
  return *static_cast<QApplication*>(QApplication::instance());
}

QString toQt(const CString& s) { return QString::fromStdWString(s.wstr()); }

class DicomDialogsTest : public twk::filestest::DocumentFileTest {
 protected:
  static void SetUpTestSuite() {
    app();
    ASSERT_TRUE(TWKDCM_Initialize());
    ASSERT_TRUE(TW_InitTreeNodeImgList());
    fixtures();
  }
  void SetUp() override {
    DocumentFileTest::SetUp();
    baseline_ = PR_GetTotalAllocSize();
  }
  void TearDown() override {
    EXPECT_EQ(PR_GetTotalAllocSize(), baseline_);
    DocumentFileTest::TearDown();
  }
  int64_t baseline_ = 0;
};

// Shows the dialog and lets it build its tree.
void open(CDlgOpenDicomDir& dialog) {
  dialog.show();
  QElapsedTimer clock;
  clock.start();
  while (!dialog.Opened() && clock.elapsed() < 20000) QApplication::processEvents();
  QApplication::processEvents();
}

void clickRow(CColumnTreeCtrl* tree, QTreeWidgetItem* row, Qt::KeyboardModifiers keys, bool onBox) {
  tree->scrollToItem(row);
  const QRect label = tree->visualItemRect(row);
  const QPoint at = onBox ? tree->CheckBoxRect(row).center() : QPoint(label.left() + 60, label.center().y());
  QMouseEvent press(QEvent::MouseButtonPress, QPointF(at), QPointF(tree->viewport()->mapToGlobal(at)), Qt::LeftButton,
                    Qt::LeftButton, keys);
  QApplication::sendEvent(tree->viewport(), &press);
  QMouseEvent release(QEvent::MouseButtonRelease, QPointF(at), QPointF(tree->viewport()->mapToGlobal(at)), Qt::LeftButton,
                      Qt::NoButton, keys);
  QApplication::sendEvent(tree->viewport(), &release);
}

TEST_F(DicomDialogsTest, NodePicturesByResource) {
  const struct {
    int resource, index;
  } cases[] = {{385, 0}, {384, 1}, {386, 2}, {533, 3}, {719, 8}, {100, -1}};
  for (const auto& c : cases) EXPECT_EQ(TW_DicomNodeImageIndex(c.resource), c.index) << c.resource;
  for (int i = 0; i < 9; ++i) {
    const QImage image = TW_DicomNodeIcon(i).pixmap(16, 16).toImage().convertToFormat(QImage::Format_ARGB32);
    ASSERT_FALSE(image.isNull()) << i;
    EXPECT_EQ(qAlpha(image.pixel(15, 15)), 0) << "white is transparent in picture " << i;
  }
  EXPECT_TRUE(TW_DicomNodeIcon(9).isNull());
}

TEST_F(DicomDialogsTest, StudyTreeShowsTheBrowserAndForwardsClicks) {
  OpenDicomDir browser(wide(fixtures() / "tree"), nullptr, nullptr, false, true, nullptr, false, true);
  {
    CDlgOpenDicomDir dialog(&browser);
    open(dialog);
    ASSERT_TRUE(dialog.Opened());
    CColumnTreeCtrl* tree = dialog.StudyTree();
    int rows = 0;
    for (QTreeWidgetItemIterator it(tree); *it; ++it) {
      ++rows;
      VA_DICOMTREEITEM* item = dialog.ItemOf(*it);
      ASSERT_NE(item, nullptr);
      EXPECT_EQ(tree->ItemText(*it), toQt(browser.RowText(item)));
    }
    EXPECT_EQ(rows, countItems(browser.Tree()));
    EXPECT_TRUE(dialog.Button(QStringLiteral("Load"))->isEnabled());
    // The column widths follow the tree's client area.
    EXPECT_EQ(tree->header()->sectionSize(0), TW_DicomTreeColumnWidths(tree->viewport()->width())[0]);

    // A click with Ctrl on a new row selects it and toggles its check mark once.
    VA_DICOMTREEITEM* gap = findSeries(browser.Tree(), 4);
    dialog.RowOf(gap->parent)->setExpanded(true);
    dialog.RowOf(gap->parent->parent)->setExpanded(true);
    QApplication::processEvents();
    clickRow(tree, dialog.RowOf(gap), Qt::ControlModifier, false);
    EXPECT_EQ(browser.Highlighted(), gap);
    EXPECT_TRUE(gap->checked);
    EXPECT_TRUE(tree->IsChecked(dialog.RowOf(gap)));
    // On the highlighted row the same click toggles it back.
    clickRow(tree, dialog.RowOf(gap), Qt::ControlModifier, false);
    EXPECT_FALSE(gap->checked);
    // The check box alone changes the mark, not the selection.
    VA_DICOMTREEITEM* ct = findSeries(browser.Tree(), 7);
    dialog.RowOf(ct->parent)->setExpanded(true);
    dialog.RowOf(ct->parent->parent)->setExpanded(true);
    QApplication::processEvents();
    clickRow(tree, dialog.RowOf(ct), Qt::NoModifier, true);
    EXPECT_TRUE(ct->checked);
    EXPECT_EQ(browser.Highlighted(), gap);

    // The tags and preview of the highlighted series' middle image.
    ASSERT_EQ(dialog.TagTree()->topLevelItemCount(), int(browser.Tags().rows.size()));
    EXPECT_EQ(dialog.TagTree()->topLevelItem(0)->text(0), QStringLiteral("Name"));
    EXPECT_FALSE(dialog.Preview().isNull());
    dialog.FullInfo()->setChecked(true);
    EXPECT_EQ(dialog.TagTree()->ColumnCount(), 3);
    EXPECT_EQ(dialog.TagTree()->topLevelItemCount(), int(browser.Tags().rows.size()));

    dialog.Button(QStringLiteral("Check\\Uncheck All"))->click();
    for (QTreeWidgetItemIterator it(tree); *it; ++it) EXPECT_TRUE(tree->IsChecked(*it));
    static_cast<QDialog&>(dialog).reject();
  }
  EXPECT_EQ(browser.Result(), IDCANCEL);
}

TEST_F(DicomDialogsTest, VolumeInfoShowsTheElementTree) {
  VolInfo info(wide(fixtures() / "tree" / "A" / "enh" / "enhanced.dcm"));
  {
    CDlgVolInfo dialog(&info);
    ASSERT_TRUE(dialog.OnInitDialog());
    dialog.show();
    QApplication::processEvents();
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Full DICOM info for the selected item"));
    QTreeWidgetItem* root = dialog.ElementTree()->topLevelItem(0);
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->childCount(), int(info.Root()->numChildren));
    // Opening a sequence shows the open folder, closing it the closed one.
    QTreeWidgetItem* sequence = nullptr;
    for (int i = 0; i < root->childCount() && !sequence; ++i)
      if (root->child(i)->text(0).startsWith(QStringLiteral("PerFrameFunctionalGroupsSequence"))) sequence = root->child(i);
    ASSERT_NE(sequence, nullptr);
    sequence->setExpanded(true);
    EXPECT_EQ(sequence->icon(0).cacheKey(), TW_DicomNodeIcon(1).cacheKey());
    sequence->setExpanded(false);
    EXPECT_EQ(sequence->icon(0).cacheKey(), TW_DicomNodeIcon(0).cacheKey());
    // The selected element's value.
    QTreeWidgetItem* rows = nullptr;
    for (int i = 0; i < root->childCount() && !rows; ++i)
      if (root->child(i)->text(0).startsWith(QStringLiteral("Rows :"))) rows = root->child(i);
    ASSERT_NE(rows, nullptr);
    dialog.ElementTree()->setCurrentItem(rows);
    ASSERT_EQ(dialog.ValueTree()->topLevelItemCount(), 1);
    EXPECT_EQ(dialog.ValueTree()->topLevelItem(0)->text(0), QStringLiteral("16"));
    // The table and its modes.
    EXPECT_EQ(dialog.Table()->topLevelItemCount(), int(info.Table().rows.size()));
    dialog.FullInfo()->setChecked(true);
    EXPECT_EQ(dialog.Table()->ColumnCount(), 3);
    EXPECT_EQ(dialog.Table()->topLevelItemCount(), int(info.Table().rows.size()));
  }
}

TEST_F(DicomDialogsTest, ExtractorDialogEditsItsRecord) {
  DicomExtractorCTSettings s;
  s.sourceFolder = L"/data/in";
  s.targetFolder = L"/data/out";
  s.sliceRange = true;
  s.minSlices = 20;
  s.maxSlices = 200;
  s.modality = 2;
  CDlgDicomExtractorCT dialog(s);
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Dicom File Extractor"));
  const DicomExtractorCTSettings back = dialog.Settings();
  EXPECT_EQ(back.sourceFolder, s.sourceFolder);
  EXPECT_EQ(back.targetFolder, s.targetFolder);
  EXPECT_TRUE(back.sliceRange);
  EXPECT_FALSE(back.separatedStudies);
  EXPECT_EQ(back.minSlices, 20);
  EXPECT_EQ(back.maxSlices, 200);
  EXPECT_EQ(back.modality, 2);
  dialog.months->setValue(1001);
  EXPECT_FALSE(TW_DicomExtractorAccept(dialog.Settings()));
}

}  // namespace
