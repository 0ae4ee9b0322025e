// The Layers panel and its column tree: rows, check boxes, activation, opacity, drag and drop,
// removal, renaming; the marked-layer counts of a layer set.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QMouseEvent>
#include <QPushButton>
#include <QSlider>

#include "ColumnTreeCtrl.h"
#include "DlgLayerCtrl.h"
#include "DrawDoc.h"
#include "DrawSet.h"
#include "DrawViewWidget.h"
#include "DrawVol.h"
#include "ScriptedUi.h"
#include "ShellQtTestKit.h"
#include "render/ColorSchemes.h"

using namespace twk::shelltest;

namespace {

const DIM3D kDims{8, 8, 4, 1};

void press(QWidget* target, QPoint at, QEvent::Type type = QEvent::MouseButtonPress) {
  QMouseEvent event(type, QPointF(at), QPointF(target->mapToGlobal(at)), Qt::LeftButton,
                    type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(target, &event);
}

void clickAt(QWidget* target, QPoint at) {
  press(target, at);
  press(target, at, QEvent::MouseButtonRelease);
}

// A document with one layer set of the given layers, a view window and the panel over them.
class LayersPanel : public ::testing::Test {
 protected:
  void build(const std::vector<CDrawVol*>& layers) {
    app();
    installed_ = std::make_unique<twk::ScopedUi>(script_);
    doc_ = std::make_unique<CDrawDoc>();
    doc_->SetTitle(L"doc");
    set_ = addSet(doc_.get(), layers);
    view_ = std::make_unique<CDrawViewWidget>(doc_.get());
    view_->resize(200, 200);
    panel_ = std::make_unique<CDlgLayerCtrl>(view_.get());
    panel_->show();
    ASSERT_TRUE(panel_->OnInitDialog());
  }
  void TearDown() override {
    panel_.reset();
    view_.reset();
    doc_.reset();
  }
  CColumnTreeCtrl* tree() const { return panel_->Tree(); }
  QTreeWidgetItem* row(int i) const { return tree()->topLevelItem(i); }
  CDrawVol* layer(int i) const { return set_->GetLayer(i); }

  twk::ScriptedUi script_;
  std::unique_ptr<twk::ScopedUi> installed_;
  std::unique_ptr<CDrawDoc> doc_;
  CDrawSet* set_ = nullptr;
  std::unique_ptr<CDrawViewWidget> view_;
  std::unique_ptr<CDlgLayerCtrl> panel_;
};

}  // namespace

TEST_F(LayersPanel, RowsReadTitlePercentTimePointsAndType) {
  build({makeLayer(makeVol(FRM_INT, kDims, L"/data/name")),
         makeLayer(makeVol(FRM_ROI, DIM3D{8, 8, 4, 3}, L"/data/roi.nii"), 20),
         makeLayer(makeVol(FRM_REAL, kDims, L"C:\\maps\\ktrans.im"), 55, false)});
  ASSERT_EQ(tree()->topLevelItemCount(), 3);
  EXPECT_EQ(tree()->ItemText(row(0)), QStringLiteral("name\t100\t1\tinteger\t"));
  EXPECT_EQ(tree()->ItemText(row(1)), QStringLiteral("roi.nii\t20\t3\troi\t"));
  EXPECT_EQ(tree()->ItemText(row(2)), QStringLiteral("ktrans.im\t55\t1\treal\t"));
  EXPECT_TRUE(tree()->IsChecked(row(0)));
  EXPECT_FALSE(tree()->IsChecked(row(2)));
  EXPECT_EQ(panel_->windowTitle(), QStringLiteral("doc: /data/name : w8 x h8 x d4 x t1 (2 marked)"));
}

TEST_F(LayersPanel, CheckBoxTogglesOnlyTheMarkedFlagAndARowClickActivates) {
  build({makeLayer(makeVol(FRM_INT, kDims, L"/a")), makeLayer(makeVol(FRM_INT, kDims, L"/b"))});
  ASSERT_EQ(set_->GetActive(), 0);
  const QRect box = tree()->CheckBoxRect(row(1));
  ASSERT_FALSE(box.isEmpty());
  clickAt(tree()->viewport(), box.center());
  EXPECT_FALSE(layer(1)->IsMarked());
  EXPECT_EQ(set_->GetActive(), 0);
  EXPECT_EQ(tree()->currentItem(), row(0));
  clickAt(tree()->viewport(), box.center());
  EXPECT_TRUE(layer(1)->IsMarked());
  EXPECT_EQ(set_->GetActive(), 0);

  // Elsewhere on the row: the row's layer becomes active, its mark stays.
  const QRect text = tree()->visualItemRect(row(1));
  clickAt(tree()->viewport(), QPoint(text.right() - 5, text.center().y()));
  EXPECT_EQ(set_->GetActive(), 1);
  EXPECT_TRUE(layer(1)->IsMarked());
}

TEST_F(LayersPanel, DropOnEmptySpaceMovesToTheEndOntoItselfDoesNothing) {
  build({makeLayer(makeVol(FRM_INT, kDims, L"/a")), makeLayer(makeVol(FRM_INT, kDims, L"/b")),
         makeLayer(makeVol(FRM_INT, kDims, L"/c"))});
  CDrawVol* a = layer(0);
  QTreeWidgetItem* before = row(0);
  panel_->BeginDrag(row(0));
  panel_->DropOnTree(row(0));
  EXPECT_EQ(row(0), before);  // not even a refill
  EXPECT_EQ(layer(0), a);

  panel_->BeginDrag(row(0));
  panel_->DropOnTree(nullptr);
  EXPECT_EQ(layer(2), a);
  EXPECT_EQ(set_->GetActive(), 2);
  EXPECT_EQ(panel_->LayerOfRow(row(2)), a);
  EXPECT_EQ(tree()->currentItem(), row(2));

  // A drop onto a view of the same document copies nothing.
  panel_->BeginDrag(row(0));
  panel_->DropOnView(view_.get());
  EXPECT_EQ(set_->NumLayers(), 3);
}

TEST_F(LayersPanel, DropOntoAnotherDocumentsViewCopiesTheLayer) {
  build({makeLayer(makeVol(FRM_INT, kDims, L"/a")), makeLayer(makeVol(FRM_ROI, kDims, L"/mask"), 30)});
  layer(1)->filter.roiColor = 0x00FF00;
  CDrawDoc other;
  CDrawSet* target = addSet(&other, {makeLayer(makeVol(FRM_INT, kDims, L"/other"))});
  CDrawViewWidget otherView(&other);
  panel_->BeginDrag(row(1));
  panel_->DropOnView(&otherView);
  ASSERT_EQ(target->NumLayers(), 2);
  EXPECT_EQ(target->GetActive(), 1);
  EXPECT_EQ(target->GetLayerVol(1)->name, L"/mask");
  EXPECT_EQ(target->GetLayer(1)->opacity, 30);
  EXPECT_EQ(target->GetLayer(1)->filter.roiColor, 0x00FF00);
  EXPECT_EQ(set_->NumLayers(), 2);  // the source keeps its layer
}

TEST_F(LayersPanel, OpacityAppliesToTheActiveLayerAndWithTheBoxToMarkedRois) {
  build({makeLayer(makeVol(FRM_INT, kDims, L"/active")), makeLayer(makeVol(FRM_ROI, kDims, L"/marked"), 20),
         makeLayer(makeVol(FRM_ROI, kDims, L"/unmarked"), 20, false), makeLayer(makeVol(FRM_REAL, kDims, L"/other"))});
  panel_->OpacitySlider()->setValue(60);
  EXPECT_EQ(layer(0)->opacity, 60);
  EXPECT_EQ(layer(1)->opacity, 20);
  EXPECT_EQ(tree()->GetItemColumnText(row(0), 1), QStringLiteral("60"));
  panel_->ApplyToAllRois()->setChecked(true);
  panel_->OpacitySlider()->setValue(40);
  EXPECT_EQ(layer(0)->opacity, 40);
  EXPECT_EQ(layer(1)->opacity, 40);
  EXPECT_EQ(tree()->GetItemColumnText(row(1), 1), QStringLiteral("40"));
  EXPECT_EQ(layer(2)->opacity, 20);
  EXPECT_EQ(layer(3)->opacity, 100);
  // Activating another layer shows its percent without changing anything.
  set_->SetActive(3);
  panel_->ShowActiveLayer();
  EXPECT_EQ(panel_->OpacitySlider()->value(), 100);
  EXPECT_EQ(layer(1)->opacity, 40);
}

TEST_F(LayersPanel, MarkAllRemoveUnmarkedAndRemoveActive) {
  build({makeLayer(makeVol(FRM_INT, kDims, L"/a")), makeLayer(makeVol(FRM_INT, kDims, L"/b"), 100, false),
         makeLayer(makeVol(FRM_INT, kDims, L"/c"))});
  panel_->OnMarkUnmarkAll();
  EXPECT_EQ(set_->NumMarkedLayers(), 3);
  // Every layer marked: nothing to remove and nothing asked (an unexpected question would throw).
  panel_->OnRemoveUnmarked();
  EXPECT_EQ(set_->NumLayers(), 3);
  panel_->OnMarkUnmarkAll();
  EXPECT_EQ(set_->NumMarkedLayers(), 0);
  panel_->OnRemoveUnmarked();
  EXPECT_EQ(script_.lastMessage(), L"CDlgLayerCtrl::OnBnClickedRemoveUnmarked : Not allowed to remove all layers");
  EXPECT_EQ(set_->NumLayers(), 3);

  layer(0)->SetMarked(true);
  script_.answerMessage(IDYES);
  panel_->OnRemoveUnmarked();
  EXPECT_EQ(script_.lastMessage(), L"Remove 2 unmarked layers?");
  ASSERT_EQ(set_->NumLayers(), 1);
  EXPECT_EQ(tree()->topLevelItemCount(), 1);

  panel_->OnRemoveActive();
  EXPECT_EQ(script_.lastMessage(), L"CDlgLayerCtrl::OnBnClickedRemoveActive : Not allowed to remove all layers");
  EXPECT_EQ(set_->NumLayers(), 1);
  EXPECT_FALSE(script_.pendingAnswers());
}

TEST_F(LayersPanel, RemoveActiveAsksWithTheLayersName) {
  build({makeLayer(makeVol(FRM_INT, kDims, L"/data/first.nii")),
         makeLayer(makeVol(FRM_INT, kDims, L"/data/second.nii"))});
  set_->SetActive(1);
  script_.answerMessage(IDNO);
  panel_->OnRemoveActive();
  EXPECT_EQ(script_.lastMessage(), L"Remove Active layer? : second");
  EXPECT_EQ(set_->NumLayers(), 2);
  script_.answerMessage(IDYES);
  panel_->OnRemoveActive();
  ASSERT_EQ(set_->NumLayers(), 1);
  EXPECT_EQ(set_->GetLayerVol(0)->name, L"/data/first.nii");
  EXPECT_EQ(tree()->topLevelItemCount(), 1);
}

TEST_F(LayersPanel, DoubleClickRenamesTheLayerAndMarksTheDocumentModified) {
  build({makeLayer(makeVol(FRM_INT, kDims, L"/data/old.nii"))});
  doc_->SetModifiedFlag(false);
  script_.answerValuesText({L"/data/renamed.nii"});
  panel_->OnItemDoubleClicked(row(0), false);
  EXPECT_EQ(layer(0)->vol->name, L"/data/renamed.nii");
  EXPECT_EQ(tree()->ItemText(row(0)), QStringLiteral("renamed.nii\t100\t1\tinteger\t"));
  EXPECT_TRUE(doc_->IsModified());
  // Cancel keeps the name.
  script_.cancelValues();
  panel_->OnItemDoubleClicked(row(0), false);
  EXPECT_EQ(layer(0)->vol->name, L"/data/renamed.nii");
}

TEST_F(LayersPanel, SetValuesFollowTheControls) {
  build({makeLayer(makeVol(FRM_INT, kDims, L"/a"))});
  panel_->DisplayUnmarked()->setChecked(true);
  EXPECT_EQ(set_->displayUnmarked, 1);
  panel_->InterlaceCombo()->setCurrentIndex(3);
  EXPECT_EQ(set_->interlaceMode, 3);
  panel_->InterlaceSlider()->setValue(500);
  EXPECT_EQ(set_->interlaceCell, 200);
  panel_->InterlaceSlider()->setValue(-4);
  EXPECT_EQ(set_->interlaceCell, 1);
  // Buttons of operations not installed are disabled; the panel's own ones are enabled.
  EXPECT_FALSE(panel_->Button(IDC_LAYER_SAVE_DICOM)->isEnabled());
  EXPECT_TRUE(panel_->Button(IDC_LAYER_NEW_ROI_3D)->isEnabled());
}

TEST_F(LayersPanel, NewRoiLayerIsAddedUnlessWorkIsRunning) {
  build({makeLayer(makeVol(FRM_INT, kDims, L"/a"))});
  PR_SetInWorkProcess(true);
  panel_->OnNewRoi(false);
  EXPECT_EQ(set_->NumLayers(), 1);
  PR_SetInWorkProcess(false);
  panel_->OnNewRoi(false);
  ASSERT_EQ(set_->NumLayers(), 2);
  EXPECT_EQ(tree()->topLevelItemCount(), 2);
  EXPECT_TRUE(tree()->ItemText(row(1)).endsWith(QStringLiteral("\t20\t1\troi\t")));
}

TEST(LayerIcons, RoiColourSquareAndSchemeBar) {
  app();
  CDrawVol* roi = makeLayer(makeVol(FRM_ROI, kDims, L"/r"));
  roi->filter.roiColor = 0x0000FF;  // red
  const QImage roiIcon = CDlgLayerCtrl::LayerIcon(roi);
  EXPECT_EQ(roiIcon.pixelColor(0, 0), QColor(255, 0, 0));
  EXPECT_EQ(roiIcon.pixelColor(22, 22), QColor(255, 0, 0));
  EXPECT_EQ(qAlpha(roiIcon.pixel(23, 23)), 0);

  CDrawVol* image = makeLayer(makeVol(FRM_INT, kDims, L"/i"));
  image->filter.scheme = 0;
  for (bool invert : {false, true}) {
    image->filter.invert = invert;
    const QImage icon = CDlgLayerCtrl::LayerIcon(image);
    for (int r : {0, 11, 23}) {
      const int i = std::min(255, int(std::floor(r * 256.0 / 23.0 + 0.5)));
      const int grey = invert ? i : 255 - i;  // monochrome: index i is grey level i
      EXPECT_EQ(icon.pixelColor(5, r), QColor(grey, grey, grey)) << "row " << r << " invert " << invert;
    }
  }
  delete roi;
  delete image;
}

TEST(ColumnTree, FieldsSortingAndTheFirstColumnsMinimum) {
  app();
  CColumnTreeCtrl tree;
  tree.resize(400, 200);
  tree.show();
  for (int i = 0; i < 3; ++i) tree.InsertColumn(i, QStringLiteral("c%1").arg(i), 80);
  QTreeWidgetItem* item = tree.InsertRootItem();
  tree.SetItemText(item, QStringLiteral("a\tb\tc\t"));
  tree.SetItemColumnText(item, 1, QStringLiteral("x"));
  EXPECT_EQ(tree.ItemText(item), QStringLiteral("a\tx\tc\t"));
  QTreeWidgetItem* shortItem = tree.InsertRootItem();
  tree.SetItemText(shortItem, QStringLiteral("B\t"));  // fewer fields than columns: empty cells
  EXPECT_EQ(tree.ItemText(shortItem), QStringLiteral("B\t\t\t"));
  EXPECT_EQ(tree.GetItemColumnText(shortItem, 5), QString());

  item->setData(0, Qt::UserRole, 7);
  tree.SortByColumn(3, true);  // no such column: nothing happens
  EXPECT_EQ(tree.topLevelItem(0), item);
  tree.SortByColumn(0, true);  // case-sensitive: "B" before "a"
  EXPECT_EQ(tree.topLevelItem(0), shortItem);
  EXPECT_EQ(item->data(0, Qt::UserRole).toInt(), 7);  // sorting keeps the items' data
  tree.SortByColumn(0, false);
  EXPECT_EQ(tree.topLevelItem(0), item);

  tree.SetFirstColumnMinWidth(30);
  tree.header()->setMinimumSectionSize(1);  // the header's own minimum follows the font: keep it below 10
  tree.header()->resizeSection(0, 10);
  EXPECT_EQ(tree.header()->sectionSize(0), 80);
  tree.header()->resizeSection(0, 40);
  EXPECT_EQ(tree.header()->sectionSize(0), 40);
  EXPECT_EQ(tree.DeleteColumn(2), 1);
  EXPECT_EQ(tree.ColumnCount(), 2);
}

TEST(LayerSetMarks, CountsTwoRoisAndUniqueNames) {
  app();
  twk::ScriptedUi script;
  twk::ScopedUi installed(script);
  CDrawDoc doc;
  CDrawSet* set = addSet(&doc, {makeLayer(makeVol(FRM_INT, kDims, L"/d/vol.nii")),
                                makeLayer(makeVol(FRM_ROI, kDims, L"/d/one.nii")),
                                makeLayer(makeVol(FRM_ROI, kDims, L"/e/vol.im"), 20, false),
                                makeLayer(makeVol(FRM_ROI, kDims, L"/d/two.nii"))});
  EXPECT_EQ(set->NumMarkedLayers(), 3);
  EXPECT_EQ(set->NumMarkedRoiLayers(), 2);
  CVol *first = nullptr, *second = nullptr;
  ASSERT_TRUE(set->GetTwoMarkedROIs(&first, &second));
  EXPECT_EQ(first->name, L"/d/one.nii");
  EXPECT_EQ(second->name, L"/d/two.nii");
  set->GetLayer(2)->SetMarked(true);
  EXPECT_FALSE(set->GetTwoMarkedROIs(&first, &second));
  EXPECT_EQ(script.lastMessage(), L"CDrawSet::GetTwoMarkedROIs : Two ROIs are required");

  CString duplicate = L"stale";
  EXPECT_FALSE(set->CheckUniqueLayerNames(false, &duplicate));
  EXPECT_EQ(duplicate, L"vol");
  set->GetLayer(2)->SetMarked(false);
  EXPECT_TRUE(set->CheckUniqueLayerNames(true, &duplicate));
  EXPECT_TRUE(duplicate.IsEmpty());
}
