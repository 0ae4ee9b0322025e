// The "Specify RAW Volume" dialog over its record, offscreen.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

#include "DlgRawVolume.h"
#include "ScriptedUi.h"

namespace {

QApplication& app() {
  static int argc = 1;
  static char name[] = "raw_volume_dialog_test";
  static char* argv[] = {name, nullptr};
  static QApplication* instance = QApplication::instance() ? nullptr : new QApplication(argc, argv);
  (void)instance;
  return *static_cast<QApplication*>(QApplication::instance());
}

RawVolumeSettings spec4() {
  RawVolumeSettings settings;
  const uint64_t shape[4] = {1, 2, 3, 4};
  std::copy(shape, shape + 4, settings.shape);
  settings.type = DTYPE_UINT16;
  settings.width = 4;
  settings.height = 3;
  settings.depth = 2;
  settings.timePoints = 1;
  settings.dynamicKind = 2;
  settings.dynamicValues = L"0.01";
  return settings;
}

TEST(RawVolumeDialog, UpdateRecomputesTheDimensionsFromTheOrder) {
  app();
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  CDlgSpecifyRawVolume dialog(spec4());
  EXPECT_EQ(dialog.order->text(), QStringLiteral("tzyx"));
  EXPECT_EQ(dialog.dynamicKind->currentIndex(), 2);
  dialog.order->setText(QStringLiteral("xyzt"));
  dialog.update->click();
  EXPECT_EQ(dialog.dims[0]->value(), 1);
  EXPECT_EQ(dialog.dims[3]->value(), 4);
  // A repeated axis is refused and the dimensions stay.
  dialog.order->setText(QStringLiteral("xxzt"));
  dialog.update->click();
  EXPECT_EQ(ui.lastMessage(), L"Order should be a permutation of axis : xyzt");
  EXPECT_EQ(dialog.dims[3]->value(), 4);

  dialog.voxel[2]->setText(QStringLiteral("2.5"));
  dialog.dynamicValues->setText(QStringLiteral("1,2,3,4"));
  const RawVolumeSettings edited = dialog.Settings();
  EXPECT_EQ(edited.order, L"xxzt");
  EXPECT_EQ(edited.voxel[2], 2.5);
  EXPECT_EQ(edited.dynamicValues, L"1,2,3,4");
  EXPECT_EQ(edited.timePoints, 4);
  EXPECT_FALSE(RawVolumeAccept(edited));
}

}  // namespace
