// Opening document and image files as new documents, and NumPy arrays through the raw-volume dialog.
#include "ImageOpen.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

#include "AppOptions.h"
#include "DocHooks.h"
#include "DocMessages.h"
#include "DocumentFile.h"
#include "DrawDoc.h"
#include "DrawSet.h"
#include "DrawView.h"
#include "DrawVol.h"
#include "FilePickers.h"
#include "Prompts.h"
#include "RawVolumeSettings.h"
#include "TextCodec.h"
#include "TwkMem.h"
#include "Vol.h"
#include "docsupport/DocSupport.h"
#include "io/ImageFiles.h"
#include "paths/FilePaths.h"
#include "paths/ValueText.h"
#include "render/ProjectionGeometry.h"
#include "volume/Frame.h"

namespace {

// A user who keeps cancelling the modality question is not asked for ever.
constexpr int kMaxModalityCancels = 10;

// Whether the door lets a file in: DICOM files (for the DICOM loader's message), MGH and compressed
// files go on to the load; any other file must have a header the readers accept, read here once
// and kept for the load ("VA_RAW_FileInfo : <path> : <why>" otherwise).
bool isImageFile(VA_ImageReader& file) {
  const VA_IMAGEPATH& door = file.File();
  if (door.format == VA_IMAGE_DICOM || door.format == VA_IMAGE_MGH || door.compressed) return true;
  DIM3D dim;
  SPC spc;
  return file.ReadHeader(&dim, &spc, L"VA_RAW_FileInfo", true);
}

// Puts the layer into a new layer set of the document; false (the layer deleted) without one.
bool adoptLayer(CDrawDoc* doc, CDrawVol* layer) {
  if (!layer) return false;
  layer->highlight = 2;
  auto* set = new CDrawSet(doc);
  set->highlight = 1;
  set->AppendLayer(layer);
  if (layer->vol->IsROI() && layer->filter.roiColor == 0) layer->filter.roiColor = int32_t(set->NewRoiColor());
  CDrawObj* obj = set;
  doc->AddObject(&obj, true);
  return true;
}

// The active set fills the unit square of the base volume's diameter.
bool placeActiveSet(CDrawDoc* doc) {
  CDrawSet* active = doc->GetActiveSet();
  if (!active) return false;
  const double d = active->GetBaseVol()->UnivoxDiam();
  active->position = DRECT{0, 0, d, d};
  active->GetBaseLayer()->position = active->position;
  return true;
}

void closeDocument(CDrawDoc* doc) {
  if (!doc) return;
  pf_free(&doc->storedProjection);
  doc->SaveModified();
  doc->RedrawAllViews(false);
  if (CDrawSet* set = doc->GetActiveSet()) set->FreeAllViewCaches();
  const auto& close = TW_DocumentHooks().closeDocument;
  if (close) close(doc);
  else delete doc;
}

// The time point of the largest signal of the set's operand volume, inside its ROI when there is one.
int timeOfMaxSignal(CDrawSet* set) {
  CVol *vol = nullptr, *roi = nullptr;
  if (!set->WorkVolNonROIandROI(false, false, false, &vol, &roi) || !vol) vol = set->GetBaseVol();
  int t = 0;
  if (!vol || !vol->frame) return 0;
  if (roi && roi->frame) {
    double* curve = vol->GetRoiTac(roi->frame);
    if (curve) {
      double best = -VOID_VALUE;
      for (int i = 0; i < vol->T(); ++i)
        if (curve[i] != VOID_VALUE && curve[i] > best) {
          best = curve[i];
          t = i;
        }
      pf_free(&curve);
      return t;
    }
  }
  VA_VolGetTimeOfMaxSignal(vol->frame, &t);
  return t;
}

void settleModality(CDrawDoc* doc, CDrawSet* set, int defaultModality) {
  CVol* base = set->GetBaseVol();
  if (!base || base->GetModality() != MODALITY_UNKNOWN || !TW_Options().verifyModality) return;
  if (defaultModality != MODALITY_UNKNOWN) {
    base->SetModality(defaultModality);
    return;
  }
  int maxT = 0;
  if (base->T() >= 2 && set->MaxT(&maxT, nullptr) && maxT > 1) {
    doc->SetModifiedFlag();
    set->VolChangeSlice(nullptr, 1, timeOfMaxSignal(set), 0, 0);
  }
  unsigned modality = unsigned(base->GetModality());
  for (int cancels = 0; cancels < kMaxModalityCancels;) {
    if (!TW_SpecifyModality(&modality)) {
      ++cancels;
      continue;
    }
    if (base->SetModality(int(modality))) return;
  }
}

}  // namespace

bool CDrawDoc::OnOpenDocument(const wchar_t* path, bool show) {
  if (!path || !*path) return false;
  if (PR_GetFileExt(path).CompareNoCase(L"twk") == 0) {
    if (!Load(path, show)) return false;
  } else {
    // The door: the file is classified once here, and its header read at most once on the way.
    VA_ImageReader file(VA_ClassifyImagePath(path));
    if (!isImageFile(file) || !adoptLayer(this, LoadVolFile(this, file, nullptr, show))) return false;
  }
  return placeActiveSet(this);
}

bool CDrawDoc::OnOpenVolume(CVol** vol, bool show) {
  if (!vol || !*vol) return false;
  const CString name = (*vol)->name;
  return adoptLayer(this, LoadVolFile(this, vol, name, nullptr, show)) && placeActiveSet(this);
}

namespace {

// The open of a new document filled by fill (a file or a volume) under path: its view, layout,
// modality and zoom.
CDrawDoc* openDocument(const CString& path, const std::function<bool(CDrawDoc*)>& fill, bool applyLayout,
                       int defaultModality) {
  const wchar_t* fn = L"CDrawApp::OpenDocumentFile";
  const TW_OPENSERVICES& services = TW_DocumentHooks().open;
  auto* doc = new CDrawDoc;
  if (!fill(doc)) {
    delete doc;
    return nullptr;
  }
  // An image keeps its name as the title and in the recent files, but is no document path: a save
  // must never write a document over the image it came from.
  doc->SetPathName(path, PR_GetFileExt(path).CompareNoCase(L"twk") == 0);
  doc->SetTitle(PR_GetFileTitle(path));
  if (PR_FileExists(path)) TW_AddToRecentFiles(path);
  CDrawView* view = nullptr;
  if (services.createView) {
    view = services.createView(doc);
    if (!view) {
      closeDocument(doc);
      return nullptr;
    }
  }

  doc->SetModifiedFlag(false);
  CDrawSet* set = doc->GetActiveSet();
  if (!set) {
    closeDocument(doc);
    return nullptr;
  }
  CVol* base = set->GetBaseVol();
  // Every view shows the set through its own projection record.
  for (CDrawView* v : doc->Views()) set->AddViewProjection(v);
  view = doc->GetActiveOrFirstView();
  VA_VOLPROJ* record = view ? set->FindViewProjection(view) : nullptr;

  if (doc->storedProjection) {
    doc->storedProjection->projType = 0;
    for (VA_VOLPROJ* p : set->Projections()) {
      VA_CopyVOLPROJ(p, doc->storedProjection);
      if (base->D() == 1) p->filmView = 0;
    }
  } else {
    if (!base->IsValidSpc()) {
      twk::doc::message(fn, L"Invalid or missing resolution info");
      closeDocument(doc);
      return nullptr;
    }
    const int layout = !applyLayout ? 1 : base->D() == 1 ? 1 : TW_Options().imageOpenLayout;
    if (layout < 0 || layout > 2) {
      twk::doc::message(fn, L"Unknow Image Open layout");
      closeDocument(doc);
      return nullptr;
    }
    if (record) {
      if (layout == 0) {
        set->SetFilmView(record, true);
      } else {
        record->filmView = 0;
        record->slice = base->D() / 2;
      }
    }
    // The convention turns the view first, so that the orthogonal views find its plane shown and
    // do not open a second view of it.
    if (view && services.applyProjectionConvention) services.applyProjectionConvention(view);
    if (layout == 2 && view && services.createOrthogonalViews) services.createOrthogonalViews(view);
  }
  if (view && services.showFitted) services.showFitted(view);
  pf_free(&doc->storedProjection);

  settleModality(doc, set, defaultModality);
  if (view) view->ZoomAll();
  doc->RedrawAllViews(false);
  return doc;
}

bool refusePresent(const CString& path) {
  if (!TW_FindDocumentByPath(path)) return false;
  twk::doc::message(L"CDrawApp::OpenDocumentFile", L"Document with requested name is already present");
  return true;
}

}  // namespace

CDrawDoc* TW_OpenImageDocument(const wchar_t* pathText, bool applyLayout, bool showProgress, int defaultModality) {
  if (!pathText || !*pathText) return nullptr;
  const CString path = pathText;
  if (refusePresent(path)) return nullptr;
  return openDocument(
      path, [&](CDrawDoc* doc) { return doc->OnOpenDocument(path, showProgress); }, applyLayout, defaultModality);
}

CDrawDoc* TW_OpenVolumeDocument(CVol** vol, bool applyLayout, bool showProgress, int defaultModality) {
  if (!vol || !*vol) return nullptr;
  std::unique_ptr<CVol> volume(*vol);
  *vol = nullptr;
  const CString path = volume->name;
  if (path.IsEmpty() || refusePresent(path)) return nullptr;
  return openDocument(
      path,
      [&](CDrawDoc* doc) {
        CVol* taken = volume.release();
        return doc->OnOpenVolume(&taken, showProgress);
      },
      applyLayout, defaultModality);
}

CDrawDoc* TW_CreateDocumentFromVolume(CVol** vol) {
  if (!vol || !*vol) return nullptr;
  CDrawDoc* doc = TW_OpenVolumeDocument(vol, false, false);
  if (doc) doc->SetModifiedFlag(true);
  return doc;
}

CDrawDoc* TW_CreateDocument(FRAME** frame, const wchar_t* name) {
  if (!frame || !*frame) return nullptr;
  if ((*frame)->dim.t > 1) {
    twk::doc::message(L"TW_CreateDocument", L"3D volume is required");
    return nullptr;
  }
  CVol* vol = VA_CreateBasicVolume(name, frame);
  CDrawDoc* doc = TW_CreateDocumentFromVolume(&vol);
  delete vol;
  return doc;
}

bool GetFullPathCheckPresent(const wchar_t* name, CString* full) {
  const wchar_t* fn = L"GetFullPathCheckPresent";
  std::error_code error;
  std::filesystem::path path;
  if (name && *name) path = std::filesystem::absolute(std::filesystem::path(twk::pathToNative(name)), error);
  const CString text = path.empty() ? CString() : CString::fromUtf8(path.lexically_normal().string());
  if (!name || !*name || error || text.IsEmpty() || text.GetLength() > 4000) {
    twk::doc::message(fn, L"Document name error");
    return false;
  }
  if (TW_FindDocumentByPath(text)) {
    twk::doc::message(fn, L"Document with requested name is already present");
    return false;
  }
  if (full) *full = text;
  return true;
}

namespace {

// Opens the volume (taken) under its name (it is its full path), without layout.
CDrawDoc* openComputedVolume(CVol* vol, bool showProgress) {
  const CString name = vol->name;
  CDrawDoc* doc = TW_OpenVolumeDocument(&vol, false, showProgress);
  if (doc) {
    doc->SetModifiedFlag(true);
    // A name to save under, not a file this document came from: a save asks first.
    doc->SetPathName(name, false);
  }
  return doc;
}

// Exactly one box, as a 4D box of the volume (a 3D box spans every time point).
bool cropBox(const CVol* source, const RECT3D* box3, const RECT4D* box4, RECT4D* box) {
  if (!source || !source->frame || (box3 == nullptr) == (box4 == nullptr)) return false;
  if (box4) {
    *box = *box4;
  } else {
    *box = RECT4D{box3->x0, box3->y0, box3->z0, box3->x1, box3->y1, box3->z1, 0, source->T() - 1};
  }
  return true;
}

}  // namespace

CDrawDoc* TW_CreateDocumentByClone(const wchar_t* name, const CVol* source, const SPC* spacing,
                                   const double* orientation, const DPOINT3D* position, bool showProgress) {
  CString full;
  if (!source || !GetFullPathCheckPresent(name, &full)) return nullptr;
  CVol* vol = source->CloneByReformat(nullptr, spacing, orientation, position, showProgress);
  if (!vol) return nullptr;
  vol->name = full;
  CDrawDoc* doc = openComputedVolume(vol, showProgress);
  if (!doc) return nullptr;
  CDrawSet* set = doc->GetActiveSet();
  CDrawView* view = doc->GetActiveOrFirstView();
  VA_VOLPROJ* record = set && view ? set->FindViewProjection(view) : nullptr;
  if (!record) {
    closeDocument(doc);
    return nullptr;
  }
  if (CDrawVol* last = set->GetLayer(set->NumLayers() - 1)) last->filter.scheme = 0;
  record->rotation[0] = record->rotation[1] = record->rotation[2] = 0;
  doc->RedrawAllViews(false);
  return doc;
}

CDrawDoc* TW_CreateDocumentByCrop(const wchar_t* name, const CVol* source, const RECT3D* box3, const RECT4D* box4,
                                  bool showProgress) {
  RECT4D box;
  if (!cropBox(source, box3, box4, &box)) {
    twk::doc::message(L"TW_CreateDocumentByCrop", L"Invalid cropping parameters");
    return nullptr;
  }
  return TW_CreateDocumentByCrop(name, source, &box, nullptr, true, showProgress);
}

bool TW_CropToNewLayer(CDrawSet* set, bool askSpatial, const wchar_t* name, const CVol* source, const RECT3D* box3,
                       const RECT4D* box4, int percent, int scheme, int colour, bool showProgress) {
  RECT4D box;
  if (!set || !cropBox(source, box3, box4, &box)) return false;
  return TW_CropToNewLayer(set, askSpatial, name, source, &box, nullptr, percent, scheme, colour, true, showProgress);
}

CDrawDoc* TW_CreateDocumentByCrop(const wchar_t* name, const CVol* source, const RECT4D* box, const int32_t* timeList,
                                  bool cloneFlag, bool showProgress) {
  if (!source || !source->frame || (box == nullptr) == (timeList == nullptr)) {
    twk::doc::message(L"TW_CreateDocumentByCrop", L"Invalid cropping parameters");
    return nullptr;
  }
  CString full;
  if (!GetFullPathCheckPresent(name, &full)) return nullptr;
  CVol* vol = source->CloneByCrop(box, timeList, cloneFlag, showProgress);
  if (!vol) return nullptr;
  vol->name = full;
  return openComputedVolume(vol, showProgress);
}

bool TW_CropToNewLayer(CDrawSet* set, bool askSpatial, const wchar_t* name, const CVol* source, const RECT4D* box,
                       const int32_t* timeList, int percent, int scheme, int colour, bool cloneFlag,
                       bool showProgress) {
  if (!set || !source || !source->frame || (box == nullptr) == (timeList == nullptr)) return false;
  CVol* vol = source->CloneByCrop(box, timeList, cloneFlag, showProgress);
  if (!vol) return false;
  if (vol->frame && vol->IsROI()) vol->MinimizeDicomHeaders(showProgress);
  CString layerName = name ? name : L"";
  PR_FilenameReplaceInvalidChars(&layerName);
  vol->name = layerName;
  return set->AddLayerVol(askSpatial, &vol, layerName, percent, scheme, colour, nullptr, showProgress);
}

bool TW_LoadRoisFromFolder(int mode, const wchar_t* folder, const wchar_t* const* paths, int n, CVol*** volumes,
                           int* count) {
  if (!volumes || !count) return false;
  *volumes = nullptr;
  *count = 0;
  std::vector<CVol*> loaded;
  auto fail = [&]() {
    for (CVol* v : loaded) delete v;
    return false;
  };
  if (mode == 2 || mode == 3) {
    for (int i = 0; paths && i < n; ++i) {
      if (mode == 3) {
        CString ext = PR_GetFileExt(paths[i]);
        if (ext.MakeLower() != L"im") continue;
      }
      CVol* vol = VA_RAW_LoadVolume(paths[i], nullptr, nullptr, nullptr, false);
      if (!vol) return fail();
      loaded.push_back(vol);
    }
    if (mode == 3 && (n % 2 != 0 || int(loaded.size()) != n / 2)) {
      twk::doc::message(L"TW_LoadRoisFromFolder",
                        CString(L"Unexpected number of loaded OBRIX files") + L" " + (folder ? folder : L""));
      return fail();
    }
  }
  if (loaded.empty()) return true;
  auto** out = static_cast<CVol**>(pf_malloc(int64_t(loaded.size()) * int64_t(sizeof(CVol*))));
  if (!out) return fail();
  std::copy(loaded.begin(), loaded.end(), out);
  *volumes = out;
  *count = int(loaded.size());
  return true;
}

bool TW_OpenRawVolume() {
  CString path;
  int filterIndex = 0;
  CString extension = L"npy";
  if (!TW_GetFileLoadName(TW_FILTER_NUMPY, &TW_EditOptions().rawLoadFolder, &filterIndex, &extension, &path)) return false;
  return TW_OpenRawVolumeFile(path);
}

bool TW_OpenRawVolumeFile(const wchar_t* path) {
  const wchar_t* fn = L"TW_OpenRawVolume";
  int ndim = 0;
  uint64_t npShape[VA_NUMPY_MAXDIMS] = {};
  DTYPE type = DTYPE_UNKNOWN;
  void* data = nullptr;
  if (!VA_NumpyLoad(path, &ndim, npShape, &type, &data, true)) return false;
  struct Free {
    void** p;
    ~Free() { pf_free(p); }
  } freeData{&data};

  uint64_t shape[4] = {1, 1, 1, 1};
  if (ndim < 2 || ndim > 4) {
    twk::doc::message(fn, L"Wrong number of dimensions");
    return false;
  }
  for (int i = 0; i < ndim; ++i) shape[4 - ndim + i] = npShape[i];

  int dims[4] = {0, 0, 0, 0};
  double voxel[3] = {1.0, 1.0, 1.0};
  int dynamicKind = 0;
  CString values, order;
  if (!TW_SpecifyRawVolume(shape, type, dims, voxel, &dynamicKind, &values, &order)) return false;
  if (!PR_NormalizeAxisOrder(data, type, shape, order)) return false;
  const DIM3D dim{dims[0], dims[1], dims[2], dims[3]};
  if (values.IsEmpty())
    for (int t = 0; t < dim.t; ++t) values.AppendFormat(t ? L",%d" : L"%d", t);

  if (PR_IsComplexType(type)) {
    bool inverse = false;
    if (!PR_AskYesNoCancel(L"Complex data is detected.\nUse inverse Fourier transform?", &inverse)) return false;
    if (inverse && !PR_InverseFourier2D(data, type, dim.w, dim.h, int64_t(dim.d) * dim.t)) return false;
    int mode = 1;
    if (!TW_SpecifyInt(L"Specify complex converison\n1:Magnitude 2:Re 3:Im 4:Phase", &mode)) return false;
    if (mode < 1 || mode > 4) {
      twk::doc::message(fn, L"Invalid Complex conversion mode");
      return false;
    }
    const int64_t count = int64_t(dim.w) * dim.h * dim.d * dim.t;
    if (!PR_ComplexToRealConversion(&data, &type, count, mode)) return false;
  }
  const SPC spc{voxel[0], voxel[1], voxel[2]};
  CVol* vol = VA_LoadRawData(data, type, &dim, &spc, dynamicKind, values, path, true);
  if (!vol) return false;
  return TW_OpenVolumeDocument(&vol, true, true) != nullptr;
}
