// CDrawSet: inserting and removing layers, loading volume layers and inserting computed results.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <cstring>
#include <memory>

#include "AppOptions.h"
#include "DicomRec.h"
#include "DocHooks.h"
#include "DocMessages.h"
#include "docsupport/DocSupport.h"
#include "DrawDoc.h"
#include "DrawSet.h"
#include "DrawView.h"
#include "DrawVol.h"
#include "ArrayHelpers.h"
#include "TwkMem.h"
#include "Vol.h"
#include "io/ImageFiles.h"
#include "paths/FilePaths.h"
#include "volume/Frame.h"

namespace {

unsigned g_newRoiCounter = 0;

int defaultOpacity(const CVol* vol, int percent) {
  if (percent != -1) return percent;
  return vol && vol->frame && vol->IsROI() ? 20 : 100;
}

void markModified(CDrawDoc* doc) {
  if (doc) doc->SetModifiedFlag();
}

}  // namespace

bool CDrawSet::AppendLayer(CDrawObj* layer) {
  if (!layer) return false;
  layer->SetDocument(document);
  entries_.emplace_back(layer);
  return true;
}

bool CDrawSet::RemoveLayer(int i, bool deleteObject) {
  if (i < 0 || i >= NumEntries()) return false;
  std::unique_ptr<CDrawObj> entry = std::move(entries_[size_t(i)]);
  entries_.erase(entries_.begin() + i);
  // Without deleteObject the caller has taken the entry over.
  if (deleteObject) entry.reset();
  else (void)entry.release();
  const int count = NumEntries();
  if (activeLayer >= i && count >= 1) --activeLayer;
  activeLayer = std::clamp(activeLayer, 0, std::max(0, count - 1));
  if (NumLayers() == 1) GetLayer(0)->opacity = 100;
  return true;
}

bool CDrawSet::DeleteLayerVol(CVol** vol) {
  const CVol* activeVol = GetActiveVol();
  const CVol* deleted = vol ? *vol : nullptr;
  const int index = IndexOfVol(deleted);
  if (index >= 0) {
    *vol = nullptr;
    RemoveLayer(index, true);
    markModified(document);
  }
  if (deleted && deleted == activeVol) activeLayer = 0;
  else if (index >= 0) {
    const int again = IndexOfVol(activeVol);
    if (again >= 0) activeLayer = again;
  }
  if (!HasLayer4D() && document) {
    if (CDrawSet* active = document->GetActiveSet())
      for (CDrawView* view : document->Views())
        if (VA_VOLPROJ* p = active->FindViewProjection(view)) p->timeIndex = 0;
  }
  return true;
}

CDrawVol* LoadVolFile(CDrawDoc* doc, const wchar_t* path, const PR_VIEWFILT* filter, bool showProgress) {
  VA_ImageReader file(VA_ClassifyImagePath(path ? path : L""));
  return LoadVolFile(doc, file, filter, showProgress);
}

CDrawVol* LoadVolFile(CDrawDoc* doc, VA_ImageReader& file, const PR_VIEWFILT* initial, bool showProgress) {
  const VA_IMAGEPATH& door = file.File();
  if (door.format == VA_IMAGE_DICOM) {
    twk::doc::message(L"LoadVolFile", CString(L"Unable to load the Volume") + L" : " + door.path);
    return nullptr;
  }
  PR_VIEWFILT filter;
  if (initial) filter = *initial;
  VA_ImageReader* source = &file;
  std::unique_ptr<VA_ImageReader> unpacked;
  CString temporary;
  // MGZ is compressed MGH, which the reader inflates itself; only other gzip files go through a
  // decompressed copy.
  if (door.compressed && PR_GetFileExt(door.path).CompareNoCase(L"mgz") != 0) {
    // The decompressed copy goes to the work folder (the system's temporary folder before the
    // options are read).
    const CString work = TW_Options().tempFolder.IsEmpty()
                             ? CString::fromUtf8(std::filesystem::temp_directory_path().string())
                             : TW_Options().tempFolder;
    temporary = VA_ProduceZlibDecompressName(door.path, work);
    if (temporary.IsEmpty() || !PR_gunzip_to_file(door.path, temporary, showProgress)) return nullptr;
    unpacked = std::make_unique<VA_ImageReader>(VA_DecompressedImagePath(door, temporary));
    source = unpacked.get();
  } else if (door.timeSetBeside) {
    twk::doc::message(L"LoadVolFile", L"Unsuported functionality at the moment");
    return nullptr;
  }
  bool bigEndian = false;
  CVol* vol = source->Load(&filter, nullptr, &bigEndian, L"VA_RAW_LoadVolume", showProgress);
  unpacked.reset();
  if (!temporary.IsEmpty()) std::remove(temporary.toUtf8().c_str());
  if (!vol) return nullptr;
  const TW_DOCUMENT_HOOKS& hooks = TW_DocumentHooks();
  const bool buildTest = hooks.buildTestRunning && hooks.buildTestRunning();
  if (vol->frame && vol->T() > 1 && vol->GetModality() == MODALITY_UNKNOWN && !buildTest && hooks.specifyModality) {
    unsigned modality = MODALITY_UNKNOWN;
    if (!hooks.specifyModality(&modality) || !vol->SetModality(int(modality))) {
      delete vol;
      return nullptr;
    }
  }
  return LoadVolFile(doc, &vol, door.path, &filter, showProgress);
}

CDrawVol* LoadVolFile(CDrawDoc* doc, CVol** vol, const wchar_t* name, const PR_VIEWFILT* initial, bool showProgress) {
  if (!vol || !*vol) return nullptr;
  PR_VIEWFILT filter;
  if (initial) filter = *initial;
  (*vol)->name = PR_GetFileTitleName(name ? name : L"");
  auto* layer = new CDrawVol;
  if (!layer->Init(vol, &filter, showProgress)) {
    delete layer;
    delete *vol;
    *vol = nullptr;
    return nullptr;
  }
  layer->document = doc;
  return layer;
}

bool CDrawSet::AddLayer(CVol** vol, int percent, int scheme, int colour) {
  if (!vol || !*vol || !(*vol)->frame) return false;
  CVol* base = GetBaseVol();
  if (base) {
    int maxT = 0;
    MaxT(&maxT, nullptr);
    if (maxT > 1 && (*vol)->T() >= 2 && (*vol)->T() != maxT) {
      twk::doc::message(L"CDrawSet::AddLayer", L"Invalid dynamic points");
      return false;
    }
    if (!VA_LayersAreCompatible(*vol, base, 1)) return false;
  }
  auto* layer = new CDrawVol;
  if (!layer->Init(vol, nullptr, false) || (base && !VA_CopyAllSpatialInfo(layer->vol, base))) {
    delete layer;
    return false;
  }
  layer->opacity = defaultOpacity(layer->vol, percent);
  if (layer->vol->IsROI()) {
    layer->filter.roiColor = int32_t(colour == -1 ? NewRoiColor() : COLORREF(colour));
    layer->filter.scheme = 0;
  } else {
    layer->filter.scheme = scheme;
    layer->filter.roiColor = int32_t(0xFFFFFFFF);
  }
  if (const CDrawVol* baseLayer = GetBaseLayer()) layer->position = baseLayer->position;
  if (base)
    if (const CDrawVol* working = GetLayerOfVol(WorkVolAny()))
      std::memcpy(layer->zoomGeometry, working->zoomGeometry, sizeof layer->zoomGeometry);
  AppendLayer(layer);
  RefreshLayerPanel();
  return true;
}

bool CDrawSet::AddLayerVol(bool askSpatial, const wchar_t* path, int percent, int scheme, int colour,
                           const PR_VIEWFILT* filter, bool showProgress) {
  if (!IsVolumeSet()) return insertLoadedLayer(nullptr, askSpatial, percent, scheme, colour);
  return insertLoadedLayer(LoadVolFile(document, path, filter, showProgress), askSpatial, percent, scheme, colour);
}

bool CDrawSet::AddLayerVol(bool askSpatial, CVol** vol, const wchar_t* layerName, int percent, int scheme, int colour,
                           const PR_VIEWFILT* filter, bool showProgress) {
  if (!IsVolumeSet()) {
    if (vol) {
      delete *vol;
      *vol = nullptr;
    }
    return insertLoadedLayer(nullptr, askSpatial, percent, scheme, colour);
  }
  return insertLoadedLayer(LoadVolFile(document, vol, layerName, filter, showProgress), askSpatial, percent, scheme,
                           colour);
}

bool CDrawSet::insertLoadedLayer(CDrawVol* layer, bool askSpatial, int percent, int scheme, int colour) {
  auto fail = [&]() {
    delete layer;
    twk::doc::information(L"Failed to add new layer");
    return false;
  };
  if (!layer) return fail();
  if (const CDrawVol* working = GetLayerOfVol(WorkVolAny()))
    std::memcpy(layer->zoomGeometry, working->zoomGeometry, sizeof layer->zoomGeometry);
  CVol* base = GetBaseVol();
  CVol* vol = layer->vol;
  if (!VA_IsEqualDim(vol, base)) {
    twk::doc::message(L"CDrawSet::AddLayerVol", L"Equal dimensions are expected");
    return fail();
  }
  if (askSpatial) {
    if (!PR_IsEqualSpc(vol->Spc(), base->Spc()) || !PR_IsEqualOrient(vol->orient, base->orient)) {
      CString question;
      question.Format(L"New layer <%s> spatial information differs from base layer %s.\nProceed anyway?",
                      vol->name.GetString(), base->name.GetString());
      if (!twk::askYesNo(question)) return fail();
      if (!VA_CopyAllSpatialInfo(vol, base)) return fail();
    }
  } else if (!VA_CopyAllSpatialInfo(vol, base)) {
    return fail();
  }
  markModified(document);
  layer->opacity = defaultOpacity(vol, percent);
  layer->filter.scheme = scheme;
  layer->position = GetBaseLayer()->position;
  if (vol->IsROI()) layer->filter.roiColor = int32_t(colour == -1 ? NewRoiColor() : COLORREF(colour));
  if (!AppendLayer(layer)) return fail();
  markModified(document);
  RefreshLayerPanel();
  return true;
}

bool CDrawSet::AddResultLayer(bool askSpatial, bool showProgress, const wchar_t* layerName, CVol* templateVol,
                              FRAME** result, int percent, int scheme, int colour, const SPC* spacing,
                              const double* orientation, const DPOINT3D* imagePosition, const PR_VIEWFILT* filter) {
  std::unique_ptr<CVol> vol(VA_CloneByReformat(templateVol, result, spacing, orientation, imagePosition, showProgress));
  if (!vol) return false;
  if (vol->IsROI()) VA_MinimizeDicomHeaders(vol.get());
  CString newName;
  if (layerName) {
    newName = layerName;
  } else if (!VA_ConstructVolumeName(vol->dicom && vol->numDicom > 0 ? vol->dicom[0] : nullptr, true, true, 16,
                                     TW_Options().tempFolder, L"", &newName)) {
    return false;
  }
  markModified(document);
  CVol* taken = vol.release();
  if (!AddLayerVol(askSpatial, &taken, newName, percent, scheme, colour, filter, showProgress)) return false;
  if (colour != -1) GetLayer(NumLayers() - 1)->filter.roiColor = colour;
  RefreshLayerPanel();
  return true;
}

bool CDrawSet::AddResultLayerNewGeometry(CVol* source, bool showProgress, const wchar_t* layerName, FRAME** result,
                                         int percent, int scheme, int colour) {
  if (!source || !result || !*result) return false;
  markModified(document);
  auto owned = std::make_unique<CVol>();
  CVol* vol = owned.get();
  vol->frame = *result;
  *result = nullptr;
  auto fail = [] { return false; };
  vol->modality = source->modality;
  vol->unit = source->unit;
  vol->spc = source->spc;
  std::memcpy(vol->orient, source->orient, sizeof vol->orient);
  DICOMREC** records = nullptr;
  int64_t recordCount = 0;
  if (!VA_CloneDicomRecsWithNewGeometry(source, vol->Dim(), vol->Type(), &records, &recordCount)) return fail();
  vol->dicom = records;
  vol->numDicom = recordCount;
  if (vol->IsROI()) VA_MinimizeDicomHeaders(vol);
  vol->dyn = static_cast<DYNCRD*>(pf_calloc(int64_t(vol->T()) * int64_t(sizeof(DYNCRD))));
  if (!vol->dyn) return fail();
  const int sourceT = source->frame ? source->T() : 0;
  for (int t = 0; t < vol->T(); ++t) {
    if (source->dyn && t < sourceT) vol->dyn[t] = source->dyn[t];
    else vol->dyn[t].time = vol->dyn[t].timeEnd = double(t);
  }
  CString newName;
  if (layerName) newName = layerName;
  else if (!VA_ConstructVolumeName(vol->dicom && vol->numDicom > 0 ? vol->dicom[0] : nullptr, true, true, 16,
                                   TW_Options().tempFolder, L"", &newName))
    return fail();
  CVol* taken = owned.release();
  if (!AddLayerVol(false, &taken, newName, percent, scheme, colour, nullptr, showProgress)) return false;
  if (colour != -1) GetLayer(NumLayers() - 1)->filter.roiColor = colour;
  RefreshLayerPanel();
  return true;
}

bool CDrawSet::NewRoiLayer(bool is4D) {
  CVol* base = GetBaseVol();
  if (!base || !base->frame) return false;
  int t = 1;
  if (is4D && !MaxT(&t, nullptr)) return false;
  const CString folder = PR_GetFileFolder(base->name);
  CString text = folder;
  if (!folder.IsEmpty()) text += L"\\";
  text += is4D ? L"New ROI 4D" : L"New ROI 3D";
  CString layerName;
  layerName.Format(L"%s #%u", text.GetString(), g_newRoiCounter++);
  const DIM3D dims{base->W(), base->H(), base->D(), std::max(1, t)};
  FramePtr frame(VA_VolCreateUniform(FRM_ROI, dims, 0.0));
  if (!frame) return false;
  FRAME* taken = frame.release();
  CVol* vol = VA_CloneByReformat(base, &taken, nullptr, nullptr, nullptr, true);
  frame.reset(taken);
  if (!vol) return false;
  VA_MinimizeDicomHeaders(vol);
  vol->name = layerName;
  markModified(document);
  // The failure was shown by the insertion; the set is as it was.
  if (!AddLayerVol(false, &vol, layerName, -1, 0, -1, nullptr, true)) return false;
  activeLayer = NumEntries() - 1;
  RefreshLayerPanel();
  return true;
}

bool CDrawSet::DeleteParamMapLayers() {
  for (int i = NumLayers() - 1; i >= 0; --i) {
    CVol* vol = GetLayerVol(i);
    if (vol && vol->frame && vol->IsReal() && vol->T() == 1 && !DeleteLayerVol(&vol)) {
      twk::doc::information(L"Unable to remove Parametric Maps");
      return false;
    }
  }
  return true;
}
