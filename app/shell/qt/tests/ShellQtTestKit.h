#pragma once
// Fixtures of the shell's Qt tests: one QApplication on the offscreen platform, a scratch folder
// per test under the build's test folder, and layer sets made in code.

#include <QApplication>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "DrawApp.h"
#include "DrawDoc.h"
#include "DrawSet.h"
#include "DrawVol.h"
#include "TestFolder.h"
#include "TwkMem.h"
#include "Vol.h"
#include "volume/Frame.h"
#include "volume/VoxelAccess.h"

namespace twk::shelltest {

inline QApplication& app() {
  static int argc = 1;
  static char name[] = "shell_qt_test";
  static char* argv[] = {name, nullptr};
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  if (!QApplication::instance()) new QApplication(argc, argv);
  return *static_cast<QApplication*>(QApplication::instance());
}

// An empty folder of its own for a test.
inline std::filesystem::path scratch(const std::string& name) {
  return twk::testing::testFolder("shell_qt/" + name);
}

inline CString wide(const std::filesystem::path& p) { return CString::fromUtf8(p.string()); }

#ifdef KINMODELS_LIBRARY
// A program folder holding only the kinetic-model plug-in, so that start-up finds it.
inline std::filesystem::path programFolder(const std::string& name) {
  const std::filesystem::path folder = scratch(name);
  std::filesystem::create_symlink(KINMODELS_LIBRARY, folder / "libKinmodels.so");
  return folder;
}
#endif

// Starts the application headless (the scripted UI stays installed) in the given program folder.
inline bool startApp(CDrawApp& drawApp, const std::filesystem::path& folder) {
  drawApp.SetProgramFolder(wide(folder));
  drawApp.SetInstallQtUi(false);
  return drawApp.InitInstance();
}

// A volume whose voxels are (x + y + z) mod 7, or an ROI set where x == y.
inline CVol* makeVol(FRMTYPE type, DIM3D dims, const wchar_t* name) {
  auto* vol = new CVol;
  const int bpv = type == FRM_ROI ? 1 : type == FRM_REAL ? 64 : 16;
  vol->frame = PR_FrameCreate(type, bpv, dims, true);
  vol->name = name;
  vol->spc.x = vol->spc.y = vol->spc.z = 1.0;
  vol->dyn = static_cast<DYNCRD*>(pf_calloc(int64_t(dims.t) * int64_t(sizeof(DYNCRD))));
  for (int t = 0; t < dims.t; ++t)
    for (int z = 0; z < dims.d; ++z)
      for (int y = 0; y < dims.h; ++y)
        for (int x = 0; x < dims.w; ++x)
          twk::setVoxelValue(vol->frame, x, y, z, t, type == FRM_ROI ? (x == y ? 1 : 0) : (x + y + z) % 7);
  return vol;
}

inline CDrawVol* makeLayer(CVol* vol, int opacity = 100, bool marked = true) {
  auto* layer = new CDrawVol;
  PR_VIEWFILT filter;
  filter.level = 3;
  filter.width = 6;
  layer->Init(&vol, &filter, false);
  layer->opacity = opacity;
  layer->SetMarked(marked);
  return layer;
}

// A set of the layers appended to the document.
inline CDrawSet* addSet(CDrawDoc* doc, const std::vector<CDrawVol*>& layers) {
  auto* set = new CDrawSet(doc);
  for (CDrawVol* layer : layers) set->AppendLayer(layer);
  CDrawObj* obj = set;
  doc->AddObject(&obj, true);
  return set;
}

}  // namespace twk::shelltest
