// Export of a set's layers: DICOM files or per-series DICOM folders, raw image files (".im",
// ANALYZE, NIfTI and ".time" sets), every marked layer at once, and the rewriting of TR, TE or flip
// angle in a layer's DICOM headers.
#include "LayerExport.h"

#include <tbb/parallel_for.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <memory>

#include "AppOptions.h"
#include "DocMessages.h"
#include "DrawDoc.h"
#include "DrawSet.h"
#include "DrawView.h"
#include "DrawVol.h"
#include "FilePickers.h"
#include "Prompts.h"
#include "TwkDicom.h"
#include "TwkMem.h"
#include "Vol.h"
#include "dicom/DicomFolders.h"
#include "dicom/DicomRecords.h"
#include "dicom/DicomVolume.h"
#include "io/ImageFiles.h"
#include "ops/VolumeOps.h"
#include "paths/FilePaths.h"
#include "paths/ValueText.h"
#include "volume/Frame.h"
#include "volume/VoxelAccess.h"

namespace {

// The raw-image save dialogs share one remembered folder, file type and extension.
struct RawSaveMemory {
  CString folder;
  int filterIndex = 1;
  CString extension;
};
RawSaveMemory& rawSaveMemory() {
  static RawSaveMemory memory;
  return memory;
}

const wchar_t* const kRawFilter = L"All (*.im;*.img;*nii)|*.im;*.img;*nii;*.time|Obrix (*.im)|*.im|ANALYZE (*.img)|*.img|"
                                  L"Nifti (*.nii)|*.nii|";

bool rawSaveName(CString* path) {
  RawSaveMemory& m = rawSaveMemory();
  return TW_GetFilteredSaveName(kRawFilter, &m.folder, &m.filterIndex, &m.extension, path);
}

// A copy of the frame with the slices of every time point in reverse order (the layer itself is
// never touched).
FramePtr reversedSlices(const FRAME* frame) {
  FramePtr copy(PR_FrameCreate(frame->type, frame->bpv, frame->dim, false));
  if (!copy) return copy;
  const DIM3D d = frame->dim;
  const size_t sliceBytes = size_t(frame->lineBytes) * size_t(d.h);
  tbb::parallel_for(0, d.d * d.t, [&](int i) {
    const int z = i % d.d, t = i / d.d;
    std::memcpy(twk::frameLine(copy.get(), 0, z, t), twk::frameLine(frame, 0, d.d - 1 - z, t), sliceBytes);
  });
  return copy;
}

// Replaces the void voxels (1e60 of real frames, 16777215 of 32-bit integer frames) by value.
void replaceVoids(FRAME* frame, double value) {
  const DIM3D d = frame->dim;
  const bool real = frame->type == FRM_REAL;
  tbb::parallel_for(0, d.d * d.t, [&](int i) {
    const int z = i % d.d, t = i / d.d;
    for (int y = 0; y < d.h; ++y) {
      uint8_t* line = twk::frameLine(frame, y, z, t);
      if (real) {
        auto* v = reinterpret_cast<double*>(line);
        for (int x = 0; x < d.w; ++x)
          if (v[x] == VOID_VALUE) v[x] = value;
      } else {
        auto* v = reinterpret_cast<uint32_t*>(line);
        const uint32_t with = twk::voxelFromDouble<uint32_t>(value);
        for (int x = 0; x < d.w; ++x)
          if (v[x] == VOID_INT_VALUE) v[x] = with;
      }
    }
  });
}

FramePtr copyOf(const FRAME* frame) {
  FramePtr copy(PR_FrameCreate(frame->type, frame->bpv, frame->dim, false));
  if (copy) std::memcpy(copy->data, frame->data, size_t(PR_FrameMemSize(frame)));
  return copy;
}

// The replacement of a real layer's void voxels: a number or "NaN" (the start value), which the
// number prompts cannot take; asked again until the text reads as one.
bool askRealVoidValue(double* value) {
  CString text = L"NaN";
  for (;;) {
    if (!TW_SpecifyStr(L"Specify new value for VOID voxels", &text)) return false;
    CString trimmed = text;
    trimmed.Trim();
    if (trimmed.CompareNoCase(L"nan") == 0) {
      *value = NAN;
      return true;
    }
    const std::string utf8 = trimmed.toUtf8();
    char* end = nullptr;
    const double v = std::strtod(utf8.c_str(), &end);
    if (!utf8.empty() && end && *end == 0 && std::isfinite(v)) {
      *value = v;
      return true;
    }
    twk::ui().messageBox(L"Please enter a number or NaN.", L"Tarnwick", MB_OK | MB_ICONEXCLAMATION);
  }
}

// The orientation and the first and last image positions handed to the raw writer; what the volume
// lacks becomes the DICOM library's void orientation or position.
struct WriteGeometry {
  double orient[6];
  DPOINT3D first, last;
  bool hasOrientation = false;
};
WriteGeometry writeGeometry(const CVol* vol) {
  WriteGeometry g;
  g.hasOrientation = vol->GetOrientation(g.orient);
  if (!g.hasOrientation) TWKDCM_GetVoidOrientation(g.orient);
  if (vol->imgPos && vol->D() > 0) {
    g.first = vol->imgPos[0];
    g.last = vol->imgPos[vol->D() - 1];
  } else {
    TWKDCM_GetVoidPosition(&g.first);
    TWKDCM_GetVoidPosition(&g.last);
  }
  return g;
}

// Removes the folder when the scope ends, whatever the outcome.
struct FolderRemoval {
  CString folder;
  ~FolderRemoval() { PR_RemoveFolder(folder); }
};

// The active layer of a volume set, integer valued: what the DICOM writers accept.
bool dicomOperand(const wchar_t* fn, const CVol* vol, const CDrawVol* layer, bool volumeSet) {
  if (!volumeSet || !vol || !layer) {
    twk::doc::message(fn, L"Volumetric Entity is required");
    return false;
  }
  if (vol->IsReal()) {
    twk::doc::message(fn, L"Real valued volumes are not allowed in this operation");
    return false;
  }
  return true;
}

}  // namespace

namespace twk::files {

bool SaveDicomData(CDrawSet& set) {
  const wchar_t* fn = L"CDrawSet::SaveDicomData";
  CVol* vol = set.GetActiveVol();
  CDrawVol* layer = set.GetActiveLayer();
  if (!dicomOperand(fn, vol, layer, set.IsVolumeSet())) return false;
  static CString folder, extension;
  static int filterIndex = 1;
  CString path;
  if (!TW_GetFilteredSaveName(L"DICOM Multiple files (*.dcm)|*.dcm|DICOM Single file (*.dic)|*.dic|", &folder,
                              &filterIndex, &extension, &path))
    return false;
  const int answer = twk::ui().messageBox(L"Generate new UIDs?", L"Tarnwick", MB_YESNOCANCEL | MB_ICONQUESTION);
  if (answer == IDCANCEL) return false;
  return CVol::SaveToDicom(vol, answer == IDNO, path, &layer->filter, TW_Options().dicomCompress != 0, true, true, false,
                           true);
}

bool SaveActiveLayer_DicomFolders(CDrawSet& set) {
  const wchar_t* fn = L"CDrawSet::SaveActiveLayer_DicomFolders";
  CVol* vol = set.GetActiveVol();
  if (!dicomOperand(fn, vol, set.GetActiveLayer(), set.IsVolumeSet())) return false;
  const FolderRemoval scratch{PR_JoinPath(TW_Options().tempFolder, L"TmpDicomSaveFolder")};
  if (!PR_ClearExistingFolderOrCreateNew(scratch.folder, false)) {
    twk::doc::message(fn, L"Unable to create a folder : " + scratch.folder);
    return false;
  }
  if (!CVol::SaveToDicom(vol, true, PR_JoinPath(scratch.folder, L"img.dcm"), nullptr, false, true, false, false, true))
    return false;
  static CString target;
  if (!TW_SpecifyFolder(&target)) return false;
  if (!PR_FolderExists(target)) {
    twk::doc::message(fn, L"Folder does not exist : " + target);
    return false;
  }
  const int answer = twk::ui().messageBox(L"Include Patient Name as part of the folder name?", L"Tarnwick",
                                          MB_YESNOCANCEL | MB_ICONQUESTION);
  if (answer == IDCANCEL) return false;
  return VA_DICOMDIRtoFileFolders(answer == IDYES, scratch.folder, target, true);
}

bool SaveActiveVolumeToRAW(CDrawSet& set) {
  const wchar_t* fn = L"CDrawSet::SaveActiveVolumeToRAW";
  CVol* vol = set.GetActiveVol();
  CDrawVol* layer = set.GetActiveLayer();
  if (!set.IsVolumeSet() || !vol || !layer) {
    twk::doc::message(fn, L"Volumetric Entity is required");
    return false;
  }
  CString path = PR_LayerNameRemoveExtraInfo(vol->name);
  if (!rawSaveName(&path)) return false;
  const int type = VA_RawFileType(path);
  if (type < 1 || type > 3) {
    twk::doc::message(fn, L"Invalid RAW file type");
    return false;
  }
  int mode = 0;
  if (vol->T() > 1) {
    if (type == 3) {
      const int answer = twk::ui().messageBox(
          L"Save as .TIME file with multiple NIFTI files to preserve dynamic info?\nPress NO to save as a single .NII file.",
          L"Tarnwick", MB_YESNOCANCEL | MB_ICONQUESTION);
      if (answer == IDCANCEL) return false;
      if (answer == IDYES) mode = 7;
    } else {
      mode = type + 4;
    }
    if (mode) {
      path = PR_GetFileName(path) + L".time";
      if (PR_FileExists(path) &&
          twk::ui().messageBox(FmtStr(L"File %s will be ovewritten. Proceed?", path.GetString()), L"Tarnwick",
                               MB_YESNO | MB_ICONQUESTION) != IDYES)
        return false;
    }
  }
  bool reverse = false;
  if (type == 3) {
    const int answer = twk::ui().messageBox(L"Change Slice Order when saving to NIFTI?", L"Tarnwick",
                                            MB_YESNOCANCEL | MB_ICONQUESTION);
    if (answer == IDCANCEL) return false;
    reverse = answer == IDYES;
  }
  WriteGeometry g = writeGeometry(vol);

  // Reversed slices and replaced voids go into one copy of the voxels; the layer stays as it is.
  FramePtr copy;
  const bool voids = VA_VoidVoxPresent(vol->frame);
  if (voids) {
    double value = NAN;
    int integer = 0;
    const bool ok = vol->IsReal() ? askRealVoidValue(&value)
                                  : TW_SpecifyInt(L"Specify new value for VOID voxels", &integer);
    if (!ok) return false;
    copy = reverse ? reversedSlices(vol->frame) : copyOf(vol->frame);
    if (copy) replaceVoids(copy.get(), vol->IsReal() ? value : double(integer));
  } else if (reverse) {
    copy = reversedSlices(vol->frame);
  }
  if ((reverse || voids) && !copy) {
    twk::doc::message(fn, L"Not enough memory");
    return false;
  }
  // Reversed slices run from the old last position to the old first: every voxel keeps its place.
  if (reverse) std::swap(g.first, g.last);
  const bool ok = VA_RAW_VolSaveFile(path, copy ? copy.get() : vol->frame, -1, vol->Spc(), g.orient, &g.first, &g.last,
                                     vol->modality, mode, vol->unit, &layer->filter, vol->dyn, true);
  if (CDrawDoc* doc = set.GetDocument()) doc->RedrawAllViews(false);
  return ok;
}

bool SaveAllMarkedVolumeLayersToRAW(CDrawSet& set, CDrawView* view) {
  const wchar_t* fn = L"CDrawSet::SaveAllMarkedVolumeLayersToRAW";
  if (!set.IsVolumeSet() || set.NumMarkedLayers() < 1) {
    twk::doc::message(fn, L"Marked Volume layer is required");
    return false;
  }
  CString duplicate;
  if (!set.CheckUniqueLayerNames(true, &duplicate)) {
    twk::doc::message(fn, L"Duplicate Layer names are marked : " + duplicate);
    return false;
  }
  CString path = L"-";
  if (!rawSaveName(&path)) return true;
  const CString title = PR_GetFileTitleName(path);
  if (title.Find(L'-') < 0 || title.Find(L'-') != title.ReverseFind(L'-')) {
    twk::doc::message(fn, L"Exactly one dash - required in Save ALL File name");
    return false;
  }
  const CString folder = PR_GetFileFolder(path), extension = PR_GetFileExt(path);
  const VA_VOLPROJ* record = view ? set.FindViewProjection(view) : nullptr;
  const int viewTime = record ? record->timeIndex : 0;

  twk::ProgressGuard progress(L"Save ALL marked volume layers", true);
  const int n = set.NumLayers();
  for (int i = 0; i < n; ++i) {
    CDrawVol* layer = set.GetLayer(i);
    CVol* vol = set.GetLayerVol(i);
    if (!layer || !vol || !set.IsLayerMarked(vol)) continue;
    if (!progress.Step(i, n, 1, 98)) return false;
    // The file is named by the layer's title only: a name with folders or ".." stays in the folder.
    CString fileTitle = PR_GetFileTitleName(PR_LayerNameRemoveExtraInfo(vol->name));
    PR_FilenameReplaceInvalidChars(&fileTitle);
    if (fileTitle.IsEmpty() || fileTitle == L"." || fileTitle == L"..") fileTitle = L"-";
    const WriteGeometry g = writeGeometry(vol);
    if (!g.hasOrientation) {
      twk::doc::message(fn, L"Layer has no orientation : " + vol->name);
      return false;
    }
    const int t = vol->T() > 1 ? std::min(viewTime, vol->T() - 1) : 0;
    const CString file = PR_JoinPath(folder, fileTitle + L"." + extension);
    if (!VA_RAW_VolSaveFile(file, vol->frame, t, vol->Spc(), g.orient, &g.first, &g.last, vol->modality, 5, vol->unit,
                            &layer->filter, vol->dyn, false)) {
      twk::doc::message(fn, L"Unable to save " + file);
      return false;
    }
  }
  return true;
}

bool SetDicomTag(CDrawSet& set, int tag) {
  const wchar_t* fn = L"CDrawSet::SetDicomTag";
  if (CDrawDoc* doc = set.GetDocument()) doc->SetModifiedFlag();
  CVol* vol = set.WorkVolNonRoi();
  if (!vol) {
    twk::doc::message(fn, L"No suitable volume is present or enabled");
    return false;
  }
  const int T = vol->T();
  const bool time = tag == TW_DICOMTAG_TR || tag == TW_DICOMTAG_TE;
  double* current = tag == TW_DICOMTAG_TR ? vol->GetAll_TR() : tag == TW_DICOMTAG_TE ? vol->GetAll_TE() : vol->GetAll_FA();
  if (!current) {
    twk::doc::message(fn, L"Not enough memory");
    return false;
  }
  if (time)
    for (int t = 0; t < T; ++t)
      if (current[t] < VOID_VALUE) current[t] *= 1000.0;
  CString text = PR_MakeValueString(current, T);
  pf_free(&current);
  const wchar_t* label = tag == TW_DICOMTAG_TR ? L"TR (Repetition time) ms"
                         : tag == TW_DICOMTAG_TE ? L"TE (Echo time) ms"
                                                 : L"Flip Angle deg";
  const CString prompt = T > 1 ? FmtStr(L"%s : %u timepoints", label, unsigned(T)) : CString(label);
  if (!TW_SpecifyStr(prompt, &text)) return false;
  double* values = nullptr;
  int count = 0;
  if (!PR_ExtractDoubles(text, &values, &count) || (count != 1 && count != T)) {
    pf_free(&values);
    twk::doc::message(fn, L"Specify one value or equal to number of timepoints");
    return false;
  }
  if (time)
    for (int i = 0; i < count; ++i) values[i] *= 0.001;
  // One header per slice and time point, time point by time point.
  bool ok = VA_VolEnsureDicomHeaders(vol);
  const int D = vol->D();
  for (int64_t i = 0; ok && i < vol->numDicom; ++i) {
    const int t = count == 1 ? 0 : std::min(int(i / D), T - 1);
    DCMFF* header = VA_DicomRecGetHeader(vol->dicom[i]);
    ok = header != nullptr;
    if (ok) {
      ok = tag == TW_DICOMTAG_TR   ? TWKDCM_SetTR(header, values[t])
           : tag == TW_DICOMTAG_TE ? TWKDCM_SetTE(header, values[t])
                                   : TWKDCM_SetFlipAngle(header, values[t]);
      ok = ok && VA_DicomRecSetHeader(vol->dicom[i], header);
      TWKDCM_DeleteFF(&header);
    }
    if (!ok) twk::doc::message(fn, FmtStr(L"Unable to write the value into DICOM header %I64d", int64_t(i)));
  }
  pf_free(&values);
  // Each time point's dynamic coordinate is read back from its first slice header.
  for (int t = 0; ok && vol->dyn && t < T && int64_t(t) * D < vol->numDicom; ++t) {
    DCMFF* header = VA_DicomRecGetHeader(vol->dicom[int64_t(t) * D]);
    double value = 0;
    if (tag == TW_DICOMTAG_TR && TWKDCM_GetTR(header, &value)) vol->dyn[t].repetitionTime = value;
    if (tag == TW_DICOMTAG_TE && TWKDCM_GetTE(header, &value)) vol->dyn[t].echoTime = value;
    if (tag == TW_DICOMTAG_FA && TWKDCM_GetFlipAngle(header, &value)) vol->dyn[t].flipAngle = value;
    TWKDCM_DeleteFF(&header);
  }
  if (CDrawDoc* doc = set.GetDocument()) doc->RedrawAllViews(false);
  return ok;
}

}  // namespace twk::files
