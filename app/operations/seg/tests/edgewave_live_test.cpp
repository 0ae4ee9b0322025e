// EdgeWave Live on a small document: the command's checks and its cropped document, the session's
// Process, Range (bounded, sorted, pruned; refused below two steps), slider, spins, Accept writing
// the result into the source set, Cancel leaving it alone, and the window offscreen.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <random>

#include "DrawDoc.h"
#include "DrawSet.h"
#include "DrawVol.h"
#include "EdgeWaveLive.h"
#include "EdgeWaveLiveDialog.h"
#include "OperationsTestKit.h"
#include "ScriptedUi.h"
#include "SegTestApp.h"
#include "TwkMem.h"
#include "VectorRois.h"
#include "Vol.h"
#include "roi/RoiComponents.h"
#include "volume/Frame.h"
#include "volume/VoxelAccess.h"

using twk::optest::Documents;

namespace {

using twk::segtest::app;

// 48^3 volume at 1 mm: a sphere of radius 10 (signal 100) at (26, 24, 22) inside a blanket sphere of
// radius 15 (signal 20), 5 % noise, background 0 outside the blanket.
bool inSphere(int x, int y, int z, double r) {
  const double dx = x - 26, dy = y - 24, dz = z - 22;
  return dx * dx + dy * dy + dz * dz <= r * r;
}

CVol* liveVolume(double spacingZ = 1.0) {
  std::mt19937 rng(11);
  std::normal_distribution<double> noise(0.0, 5.0);
  CVol* vol = twk::optest::makeVolume(FRM_INT, 16, DIM3D{48, 48, 48, 1}, [&](int x, int y, int z, int) {
    const double v = inSphere(x, y, z, 10) ? 100.0 : inSphere(x, y, z, 15) ? 20.0 : 0.0;
    return std::max(0.0, std::round(v + noise(rng)));
  }, L"/data/kidney.nii");
  vol->spc = SPC{1.0, 1.0, spacingZ};
  return vol;
}

CVol* blanketRoi() {
  CVol* vol = twk::optest::makeVolume(FRM_ROI, 1, DIM3D{48, 48, 48, 1},
                                      [](int x, int y, int z, int) { return inSphere(x, y, z, 15) ? 1.0 : 0.0; },
                                      L"/data/blanket.nii");
  vol->spc = SPC{1, 1, 1};
  return vol;
}

int64_t voxels(const CVol* roi) {
  int64_t n = 0;
  VA_RoiNumVox(roi->frame, -1, -1, &n);
  return n;
}

double diceWithSphere(const FRAME* roi) {
  int64_t a = 0, b = 0, both = 0;
  for (int z = 0; z < roi->dim.d; ++z)
    for (int y = 0; y < roi->dim.h; ++y)
      for (int x = 0; x < roi->dim.w; ++x) {
        const bool r = twk::roiBit(roi, x, y, z, 0), t = inSphere(x, y, z, 10);
        a += r;
        b += t;
        both += r && t;
      }
  return 2.0 * double(both) / double(a + b);
}

// A document of the volume and blanket with one seed at the sphere's centre; the program's window
// stand-in keeps the session the command opens.
struct LiveFixture {
  Documents docs;
  twk::ScriptedUi ui;
  twk::ScopedUi installed{ui};
  CDrawDoc* doc = nullptr;
  CDrawSet* set = nullptr;
  std::unique_ptr<CEdgeWaveLiveSession> session;

  explicit LiveFixture(double spacingZ = 1.0, int seeds = 1) {
    doc = docs.open({twk::testkit::makeLayer(liveVolume(spacingZ)), twk::testkit::makeLayer(blanketRoi())});
    set = doc->GetActiveSet();
    for (int i = 0; i < seeds; ++i) {
      const double box[6] = {25.0 + i, 23, 21, 28.0 + i, 26, 24};
      TW_CreateVectRoiFromLabel(set, box, 0, 0, "seed");
    }
    TW_EWLVIEW view;
    view.open = [this](std::unique_ptr<CEdgeWaveLiveSession> s) {
      session = std::move(s);
      return true;
    };
    TW_SetEdgeWaveLiveView(view);
  }
  ~LiveFixture() { TW_SetEdgeWaveLiveView(TW_EWLVIEW{}); }
  bool run(VA_EWL* record) { return TW_EdgeWaveLive(set, Documents::viewOf(doc), record, L"ROI"); }
};

VA_EWL quickRecord() {
  VA_EWL r = g_EWLParms;
  r.correctNonuniformity = 0;
  r.peelSteps = 4;
  r.edgeSteps = 3;
  r.peelRange = 3.0;
  return r;
}

}  // namespace

// The command crops to the blanket (+3 voxels) into a new document, Process finds the sphere
// (4.19 cm3), the range is bounded and ordered, and Accept puts the result at its place in the
// source set instead of the blanket and the seed.
TEST(EdgeWaveLive, ProcessRangeAndAcceptIntoTheSourceSet) {
  LiveFixture f;
  VA_EWL record = quickRecord();
  const int before = Documents::openCount();
  ASSERT_TRUE(f.run(&record));
  ASSERT_TRUE(f.session);
  EXPECT_EQ(Documents::openCount(), before + 1);
  CEdgeWaveLiveSession& s = *f.session;
  EXPECT_GT(s.EdgeMapMaximum(), 0);
  EXPECT_DOUBLE_EQ(s.Values().edge.edgeThreshold, std::floor(s.EdgeMapMaximum() / 0.01 + 0.5) * 0.01);
  ASSERT_TRUE(s.Process());
  ASSERT_TRUE(s.LiveRoi());
  const double cm3 = double(voxels(s.LiveRoi())) * 0.001;
  EXPECT_NEAR(cm3, 4.19, 0.419);
  EXPECT_EQ(s.VolumeText(), FmtStr(L"%8.2lf cm3", cm3));
  EXPECT_FALSE(s.ProcessEnabled());
  EXPECT_TRUE(s.AcceptEnabled());

  // The range: at most (4 - 1) x 3 entries, ascending, no empty one after the first, no repeats.
  ASSERT_TRUE(s.Range());
  const auto& entries = s.Entries();
  EXPECT_LE(entries.size(), 9u);
  for (size_t i = 1; i < entries.size(); ++i) {
    EXPECT_LE(entries[i - 1].count, entries[i].count);
    EXPECT_GT(entries[i].count, 0);
  }
  if (s.HasRange()) {
    EXPECT_EQ(s.SliderMaximum(), int(entries.size()) - 1);
    EXPECT_EQ(s.SliderPosition(), int(entries.size()) / 2);
    s.SelectEntry(0);
    EXPECT_EQ(voxels(s.LiveRoi()), entries[0].count);
    EXPECT_EQ(s.Values().peel, entries[0].peel);
  }
  // A spin arrow below 0.00 stays at 0.00.
  s.SetField(CEdgeWaveLiveSession::Field::GrowFactor, 0.0);
  s.SpinField(CEdgeWaveLiveSession::Field::GrowFactor, false);
  EXPECT_EQ(s.Values().growFactor, 0.0);
  EXPECT_FALSE(s.HasRange());
  // Back to the start values (an entry of the range may hold an empty result).
  s.SetField(CEdgeWaveLiveSession::Field::GrowFactor, record.growFactor);
  s.SetField(CEdgeWaveLiveSession::Field::Peel, record.peel);
  s.SetField(CEdgeWaveLiveSession::Field::EdgeThreshold, s.EdgeMapMaximum() + 1);
  ASSERT_TRUE(s.Process());
  const int64_t live = voxels(s.LiveRoi());

  f.ui.answerMessage(IDNO);  // the temporary document's own save question
  s.Accept();
  EXPECT_EQ(Documents::openCount(), before);
  ASSERT_EQ(f.set->NumLayers(), 2);  // the volume and the result; the blanket went
  CVol* result = f.set->GetLayerVol(1);
  EXPECT_EQ(result->name.Right(3), L"ROI");
  EXPECT_TRUE(result->IsROI());
  EXPECT_EQ(voxels(result), live);
  EXPECT_GE(diceWithSphere(result->frame), 0.9);

  int count = 0;
  CDrawSet** rois = TW_CollectVectRoiObjects(f.set, &count);
  pf_free(&rois);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(record.peel, s.Values().peel);  // stored back
  EXPECT_FALSE(f.ui.pendingAnswers());
}

// Cancel leaves the source set as it was; Range refuses a record below two steps; Accept without a
// live layer only closes the temporary document.
TEST(EdgeWaveLive, CancelAndTheRangeRefusal) {
  LiveFixture f;
  VA_EWL record = quickRecord();
  record.edgeSteps = 1;
  const int before = Documents::openCount();
  ASSERT_TRUE(f.run(&record));
  CEdgeWaveLiveSession& s = *f.session;
  EXPECT_FALSE(s.Range());
  EXPECT_EQ(f.ui.lastMessage(),
            L"CDlgEWL::OnRange : The live range needs at least 2 peel steps and 2 edge steps");
  EXPECT_TRUE(s.Entries().empty());
  f.ui.answerMessage(IDNO);
  s.Cancel();
  EXPECT_EQ(Documents::openCount(), before);
  EXPECT_EQ(f.set->NumLayers(), 2);
  EXPECT_TRUE(f.set->GetLayerVol(1)->IsROI());
  EXPECT_EQ(f.set->GetLayerVol(1)->name, L"/data/blanket.nii");

  ASSERT_TRUE(f.run(&record));
  f.session->SetField(CEdgeWaveLiveSession::Field::Peel, 1.0);  // an edit removes the live layer
  EXPECT_FALSE(f.session->LiveRoi());
  f.ui.answerMessage(IDNO);
  f.session->Accept();
  EXPECT_EQ(Documents::openCount(), before);
  EXPECT_EQ(f.set->NumLayers(), 2);
  EXPECT_EQ(f.set->GetLayerVol(1)->name, L"/data/blanket.nii");
}

// The command's refusals: an anisotropic volume creates nothing; two seeds are refused after the
// crop, and the cropped document goes again.
TEST(EdgeWaveLive, RefusalsLeaveNoDocumentBehind) {
  {
    LiveFixture f(2.0);
    VA_EWL record = quickRecord();
    const int before = Documents::openCount();
    EXPECT_FALSE(f.run(&record));
    EXPECT_EQ(f.ui.lastMessage(), L"CDrawSet::EdgeWaveLive : Isotropic volume is expected");
    EXPECT_EQ(Documents::openCount(), before);
  }
  {
    LiveFixture f(1.0, 2);
    VA_EWL record = quickRecord();
    const int before = Documents::openCount();
    EXPECT_FALSE(f.run(&record));
    EXPECT_EQ(f.ui.lastMessage(), L"CDrawSet::EdgeWaveLive : Single seed is expected");
    EXPECT_EQ(Documents::openCount(), before);
    EXPECT_FALSE(f.session);
  }
}

// The window: Process greyed once a result shows, the volume text, the slider after a range, and
// Accept closing it.
TEST(EdgeWaveLive, TheWindowFollowsTheSession) {
  app();
  LiveFixture f;
  VA_EWL record = quickRecord();
  ASSERT_TRUE(f.run(&record));
  auto* window = new CEdgeWaveLiveDialog(std::move(f.session));
  window->setAttribute(Qt::WA_DeleteOnClose);
  CEdgeWaveLiveSession& s = window->Session();
  window->Button(QStringLiteral("Process"))->click();
  EXPECT_FALSE(window->Button(QStringLiteral("Process"))->isEnabled());
  EXPECT_TRUE(window->Button(QStringLiteral("Accept"))->isEnabled());
  EXPECT_EQ(window->VolumeLabel()->text().toStdWString(), s.VolumeText().wstr());
  QLineEdit* peel = window->Edit(CEdgeWaveLiveSession::Field::Peel);
  peel->setText(QStringLiteral("1.5"));
  emit peel->editingFinished();
  EXPECT_EQ(s.Values().peel, 1.5);
  EXPECT_TRUE(window->Button(QStringLiteral("Process"))->isEnabled());
  window->Button(QStringLiteral("Range"))->click();
  EXPECT_EQ(window->Slider()->isEnabled(), s.HasRange());
  EXPECT_EQ(window->Slider()->maximum(), s.SliderMaximum());
  f.ui.answerMessage(IDNO);
  window->Button(QStringLiteral("Accept"))->click();
  QApplication::processEvents();
  EXPECT_EQ(f.set->GetLayerVol(f.set->NumLayers() - 1)->name.Right(3), L"ROI");
}
