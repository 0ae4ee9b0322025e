#pragma once
// Fixtures of the command layer's tests: documents whose views are counting stand-ins (new documents
// that crops open get one too), volumes filled by a function, numpy and scikit-image run as
// independent references, and frames compared voxel by voxel.

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "../../document/tests/DocTestKit.h"
#include "AppOptions.h"
#include "CommandTable.h"
#include "DocHooks.h"
#include "DrawDoc.h"
#include "DrawSet.h"
#include "DrawView.h"
#include "DrawVol.h"
#include "ImageOpen.h"
#include "TestFolder.h"
#include "TwkMem.h"
#include "Vol.h"
#include "volume/Frame.h"
#include "volume/VoxelAccess.h"

namespace twk::optest {

using twk::testkit::CountingView;

// A volume of the kind and bits whose voxels are value(x, y, z, t); dynamic times 0, 10, 20, ...
inline CVol* makeVolume(FRMTYPE type, int bpv, DIM3D dims, const std::function<double(int, int, int, int)>& value,
                        const wchar_t* name = L"/data/vol.nii") {
  auto* vol = new CVol;
  vol->frame = PR_FrameCreate(type, bpv, dims, true);
  vol->name = name;
  vol->spc = SPC{1.0, 1.0, 2.0};
  vol->dyn = static_cast<DYNCRD*>(pf_calloc(int64_t(dims.t) * int64_t(sizeof(DYNCRD))));
  for (int t = 0; t < dims.t; ++t) vol->dyn[t].time = vol->dyn[t].timeEnd = 10.0 * t;
  if (value)
    for (int t = 0; t < dims.t; ++t)
      for (int z = 0; z < dims.d; ++z)
        for (int y = 0; y < dims.h; ++y)
          for (int x = 0; x < dims.w; ++x) twk::setVoxelValue(vol->frame, x, y, z, t, value(x, y, z, t));
  return vol;
}

inline std::vector<double> voxels(const FRAME* f) {
  std::vector<double> v;
  for (int t = 0; t < f->dim.t; ++t)
    for (int z = 0; z < f->dim.d; ++z)
      for (int y = 0; y < f->dim.h; ++y)
        for (int x = 0; x < f->dim.w; ++x) v.push_back(twk::voxelValue(f, x, y, z, t));
  return v;
}

inline std::string join(const std::vector<double>& v) {
  std::ostringstream s;
  s.precision(17);
  for (size_t i = 0; i < v.size(); ++i) s << (i ? "," : "") << v[i];
  return s.str();
}

// Runs a Python expression over the array a (the given values in C order with the given shape,
// outermost first) with numpy as np and skimage's exposure available; the result's values flattened.
inline std::vector<double> numpyReference(const std::vector<double>& values, const std::vector<int>& shape,
                                          const std::string& dtype, const std::string& expression) {
  std::string shapeText;
  for (int s : shape) shapeText += std::to_string(s) + ",";
  const std::string script = "import sys, numpy as np\nfrom skimage import exposure\n"
                             "a = np.array([float(v) for v in sys.stdin.read().split(',')]).astype('" + dtype +
                             "').reshape((" + shapeText + "))\n"
                             "r = np.asarray(" + expression + ", dtype=float).ravel()\n"
                             "print(','.join(repr(float(x)) for x in r))\n";
  const std::string path = twk::testing::testFile("twk_reference.py");
  const std::string input = twk::testing::testFile("twk_reference.txt");
  if (FILE* f = std::fopen(path.c_str(), "w")) {
    std::fputs(script.c_str(), f);
    std::fclose(f);
  }
  if (FILE* f = std::fopen(input.c_str(), "w")) {
    std::fputs(join(values).c_str(), f);
    std::fclose(f);
  }
  std::vector<double> out;
  FILE* pipe = ::popen(("/usr/bin/python3 " + path + " < " + input).c_str(), "r");
  if (!pipe) return out;
  std::string text;
  char buffer[4096];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) text.append(buffer, n);
  ::pclose(pipe);
  std::stringstream s(text);
  for (std::string item; std::getline(s, item, ',');)
    if (!item.empty()) out.push_back(std::stod(item));
  return out;
}

// Documents for the commands: opened documents (crops) get a counting view; closing a document
// deletes it with its views. Every document left open is closed at the end.
class Documents {
 public:
  Documents() {
    saved_ = TW_Options().tempFolder;
    TW_EditOptions().tempFolder = CString::fromUtf8(twk::testing::testFolder().string());
    TW_OPENSERVICES services;
    services.createView = [this](CDrawDoc* doc) { return addView(doc); };
    TW_DocumentHooks().open = services;
    TW_DocumentHooks().closeDocument = [this](CDrawDoc* doc) { close(doc); };
  }
  ~Documents() {
    int count = 0;
    CDrawDoc** docs = TW_GetAllDocuments(&count);
    for (int i = 0; i < count; ++i) close(docs[i]);
    pf_free(&docs);
    TW_DocumentHooks().open = TW_OPENSERVICES{};
    TW_DocumentHooks().closeDocument = nullptr;
    TW_EditOptions().tempFolder = saved_;
  }
  // A document of one set of the layers, with a view whose record shows the middle slice.
  CDrawDoc* open(const std::vector<CDrawVol*>& layers, const wchar_t* path = L"/data/source.twk") {
    auto* doc = new CDrawDoc;
    doc->SetPathName(path);
    doc->SetTitle(L"source.twk");
    twk::testkit::addSet(doc, layers);
    CDrawView* view = addView(doc);
    doc->GetActiveSet()->AddViewProjection(view);
    return doc;
  }
  CDrawView* addView(CDrawDoc* doc) {
    views_.push_back(std::make_unique<CountingView>());
    doc->AddView(views_.back().get());
    return views_.back().get();
  }
  void close(CDrawDoc* doc) {
    const std::vector<CDrawView*> shown = doc->Views();
    for (CDrawView* v : shown) doc->RemoveView(v);
    delete doc;
  }
  static CDrawView* viewOf(CDrawDoc* doc) { return doc->GetActiveOrFirstView(); }
  // The documents opened after the given count, in opening order.
  static std::vector<CDrawDoc*> openedAfter(int before) {
    int count = 0;
    CDrawDoc** docs = TW_GetAllDocuments(&count);
    std::vector<CDrawDoc*> out(docs + std::min(before, count), docs + count);
    pf_free(&docs);
    return out;
  }
  static int openCount() {
    int count = 0;
    CDrawDoc** docs = TW_GetAllDocuments(&count);
    pf_free(&docs);
    return count;
  }

 private:
  std::vector<std::unique_ptr<CountingView>> views_;
  CString saved_;
};

// Binds a stand-in for the operation of a row for the life of the scope (restoring the binding
// that was there) and records what the handler got.
class StandIn {
 public:
  explicit StandIn(const char* operation) : operation_(operation) {
    if (const TW_OPERATION_BINDING* b = TW_FindBinding(operation)) saved_ = *b, hadBinding_ = true;
    TW_BindOperation(operation, [this](const TW_COMMAND_CALL& c) { calls.push_back(c); });
  }
  ~StandIn() {
    if (hadBinding_) TW_BindOperation(operation_.c_str(), saved_);
    else TW_UnbindOperation(operation_.c_str());
  }
  std::vector<TW_COMMAND_CALL> calls;

 private:
  std::string operation_;
  TW_OPERATION_BINDING saved_;
  bool hadBinding_ = false;
};

// The id of a row by its group and path.
inline int rowId(const char* group, const char* path) {
  for (const TW_COMMAND_ROW* row : TW_CommandRows())
    if (row->group == std::string(group) && row->path == std::string(path)) return row->id;
  return 0;
}

}  // namespace twk::optest
