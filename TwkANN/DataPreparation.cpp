// Training-data preparation: 2D slice pairs of one label for BRUNET2D, and 3D image and mask pairs
// resampled to a working resolution and cropped around the region of interest.
#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include "AnnLib.h"
#include "Vol.h"
#include "io/ImageFiles.h"
#include "paths/FilePaths.h"
#include "paths/ValueText.h"
#include "volume/Frame.h"
#include "volume/VolumeBox.h"

namespace {

using VolPtr = std::unique_ptr<CVol>;

CVol* loadVolume(const wchar_t* path) { return VA_RAW_LoadVolume(path, nullptr, nullptr, nullptr, true); }

void showInfo(const CString& text) { ANN_ShowMessage(text, MB_OK | MB_ICONINFORMATION); }

CString outputName(const wchar_t* folder, const char* format, unsigned index) {
  return PR_JoinPath(folder, FmtStr(format, index));
}

// The normal of a volume's orientation (slice direction).
void sliceNormal(const double* o, double n[3]) {
  n[0] = o[1] * o[5] - o[2] * o[4];
  n[1] = o[2] * o[3] - o[0] * o[5];
  n[2] = o[0] * o[4] - o[1] * o[3];
}

// The patient position of voxel (x, y, z) of a volume.
DPOINT3D voxelPosition(const CVol* vol, int x, int y, int z) {
  const double* o = vol->orient;
  double n[3];
  sliceNormal(o, n);
  const DPOINT3D p0 = vol->imgPos ? vol->imgPos[0] : DPOINT3D{};
  const double dx = x * vol->Vx(), dy = y * vol->Vy(), dz = z * vol->Vz();
  return {p0.x + o[0] * dx + o[3] * dy + n[0] * dz, p0.y + o[1] * dx + o[4] * dy + n[1] * dz,
          p0.z + o[2] * dx + o[5] * dy + n[2] * dz};
}

}  // namespace

bool CheckPresentUniqueIndices(const wchar_t* const* files, int n) {
  const wchar_t* name = L"CheckPresentUniqueIndices";
  std::set<int64_t> seen;
  for (int i = 0; i < n; ++i) {
    int64_t index = 0;
    if (!PR_ExtractInxFromString(PR_GetFileTitle(files[i]), &index)) {
      ANN_NamedMessage(name, FmtStr(L"Invalid file name : %s", files[i]));
      return false;
    }
    if (!seen.insert(index).second) {
      ANN_NamedMessage(name, L"Repeating input file index");
      return false;
    }
  }
  return true;
}

TWKANN_API bool TWKANN_PrepareTraining_BRUNET2D_Binary(const wchar_t* inFolder, wchar_t* outFolder, bool show) {
  const wchar_t* name = L"TWKANN_PrepareTraining_BRUNET2D_Binary";
  return ANN_Guarded(name, false, [&] {
    int numFolders = 0;
    ANN_CountedArray folders;
    folders.p = reinterpret_cast<void**>(PR_FindAllSubfoldersInFolder(false, inFolder, &numFolders, show));
    folders.n = numFolders;
    if (!folders.p) return false;
    ANN_Progress progress(L"BRUNET2D constructing data", show);
    unsigned pairs = 0;
    for (int f = 0; f < numFolders; ++f) {
      progress.step(f, numFolders, 1, 98);  // the preparation runs to its end
      const wchar_t* folder = static_cast<const wchar_t*>(folders.p[f]);
      const CString title = PR_GetFileTitle(folder);
      const CString imagePath = PR_JoinPath(folder, FmtStr(L"%s_preVIBE_3D.nii", title.GetString()));
      const CString maskPath = PR_JoinPath(folder, FmtStr(L"%s_mask_3D.nii", title.GetString()));
      for (const CString& path : {imagePath, maskPath})
        if (!PR_FileExists(path)) {
          ANN_NamedMessage(name, L"Missing file : " + path);
          return false;
        }
      VolPtr image(loadVolume(imagePath));
      if (!image) return false;
      VolPtr mask(loadVolume(maskPath));
      if (!mask) return false;
      if (image->W() != 320 || image->H() != 320 || mask->W() != 320 || mask->H() != 321 || image->D() != mask->D()) {
        ANN_NamedMessage(name, L"Incompatible dimensions");
        return false;
      }
      for (int z = 0; z < image->D(); ++z) {
        ANN_Counted<uint32_t> labels(static_cast<uint32_t*>(mask->GetSlice(0, z, 32)));
        if (!labels) return false;
        const int64_t maskPixels = 320 * 321;
        if (std::none_of(labels.get(), labels.get() + maskPixels, [](uint32_t v) { return v == 5; })) continue;
        ANN_Counted<double> pixels(static_cast<double*>(image->GetSlice(0, z, 64)));
        if (!pixels) return false;
        std::vector<uint32_t> binary(320 * 320);
        for (size_t i = 0; i < binary.size(); ++i) binary[i] = labels[int64_t(i)] == 5 ? 1 : 0;
        const DIM3D dims{320, 320, 1, 1};
        const DPOINT3D position = voxelPosition(image.get(), 0, 0, z);
        if (!VA_NiftiSaveVol(outputName(outFolder, "image_%u.nii", pairs), pixels.get(), 64, &dims, image->Spc(),
                             image->orient, &position, nullptr, image->GetModality(), nullptr, show) ||
            !VA_NiftiSaveVol(outputName(outFolder, "mask_%u.nii", pairs), binary.data(), 32, &dims, image->Spc(),
                             image->orient, &position, nullptr, image->GetModality(), nullptr, show))
          return false;
        ++pairs;
      }
    }
    progress.end();
    showInfo(FmtStr(L"%u pairs were processed", pairs));
    return true;
  });
}

namespace {

// One case of the bounding-box preparation: its files and its box in the resampled mask.
struct BoxCase {
  CString image, mask;
  RECT3D box;
  DIM3D resampled;
};

bool listVolumeFiles(const wchar_t* folder, std::vector<CString>* out) {
  int n = 0;
  wchar_t** files = PR_FindAllFilesInFolder(folder, L"nii;gz", false, false, &n, false);
  for (int i = 0; i < n; ++i) out->push_back(files[i]);
  pf_free_parr(&files, n);
  return true;
}

// A region of interest from a mask: a mask that is one is copied, otherwise voxels from 0.99 up are inside.
FRAME* maskToRoi(const FRAME* mask) { return VA_VolThresholdToRoi(mask, 0.99, VOID_VALUE); }

bool prepareBoundRect(const wchar_t* name, const char* progressPrefix, bool common, const wchar_t* imageFolder,
                      const wchar_t* maskFolder, uint32_t flags, double resolutionMm, double inflateMm,
                      int sizeMultiple, const wchar_t* outFolder, bool show) {
  auto refuse = [name](const CString& message) {
    ANN_NamedMessage(name, message);
    return false;
  };
  if (!(resolutionMm > 0) || !(inflateMm >= 0) || sizeMultiple < 1)
    return refuse(L"Invalid resolution, margin or size multiple");
  std::vector<CString> images, masks;
  listVolumeFiles(imageFolder, &images);
  listVolumeFiles(maskFolder, &masks);
  if (images.size() != masks.size()) return refuse(L"Different number of input and output files");
  if (images.empty()) return refuse(L"No input files");
  const CString prefix(progressPrefix);
  ANN_Progress progress(prefix + L"Verifying file names", show);
  auto pointers = [](const std::vector<CString>& v) {
    std::vector<const wchar_t*> p;
    for (const CString& s : v) p.push_back(s.GetString());
    return p;
  };
  if (!CheckPresentUniqueIndices(pointers(images).data(), int(images.size())) ||
      !CheckPresentUniqueIndices(pointers(masks).data(), int(masks.size())))
    return false;
  std::map<int64_t, CString> maskByIndex;
  for (const CString& m : masks) {
    int64_t index = 0;
    PR_ExtractInxFromString(PR_GetFileTitle(m), &index);
    maskByIndex[index] = m;
  }
  std::vector<BoxCase> cases;
  for (const CString& image : images) {
    int64_t index = 0;
    PR_ExtractInxFromString(PR_GetFileTitle(image), &index);
    auto match = maskByIndex.find(index);
    if (match == maskByIndex.end()) return refuse(FmtStr(L"Unable to find match for input %s", image.GetString()));
    cases.push_back({image, match->second, {}, {}});
  }

  progress.start(prefix + L"Determine common bounding rectangle");
  int maxW = 0, maxH = 0, maxD = 0;
  RECT3D unionBox{INT32_MAX, INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN, INT32_MIN};
  for (size_t i = 0; i < cases.size(); ++i) {
    progress.step(int64_t(i), int64_t(cases.size()), 1, 98);
    BoxCase& c = cases[i];
    VolPtr image(loadVolume(c.image));
    if (!image) return false;
    VolPtr mask(loadVolume(c.mask));
    if (!mask) return false;
    if (!VA_AreCompatibleDimensions(image.get(), mask.get()))
      return refuse(FmtStr(L"Incompatible dimensions : %s : %s", c.image.GetString(), c.mask.GetString()));
    if (image->IsROI()) return refuse(FmtStr(L"ROI not allowed : %s", c.image.GetString()));
    if (mask->IsReal()) return refuse(FmtStr(L"Real Image is not allowed : %s", c.mask.GetString()));
    VolPtr resampled(VA_ResampleToVoxelSize(mask.get(), resolutionMm, 0, true));
    if (!resampled) return false;
    ANN_FrameOwner roi(maskToRoi(resampled->frame));
    if (!roi.p) return refuse(L"Not enough memory");
    if (!VA_RoiBoundingBox(roi.p, &c.box)) return refuse(FmtStr(L"ROI is empty :%s", c.mask.GetString()));
    c.resampled = *resampled->Dim();
    maxW = std::max(maxW, c.box.x1 - c.box.x0 + 1);
    maxH = std::max(maxH, c.box.y1 - c.box.y0 + 1);
    maxD = std::max(maxD, c.box.z1 - c.box.z0 + 1);
    if (common) {
      RECT3D r = c.box;
      resampled->RectToCentralCoords(&r);
      unionBox = {std::min(unionBox.x0, r.x0), std::min(unionBox.y0, r.y0), std::min(unionBox.z0, r.z0),
                  std::max(unionBox.x1, r.x1), std::max(unionBox.y1, r.y1), std::max(unionBox.z1, r.z1)};
    }
  }

  const int margin = int(std::ceil(inflateMm / resolutionMm - 1e-9));
  if (common) {
    unionBox.x0 -= margin, unionBox.y0 -= margin, unionBox.z0 -= margin;
    unionBox.x1 += margin, unionBox.y1 += margin, unionBox.z1 += margin;
    PR_MakeDimensionsMultipleOfBase(&unionBox, sizeMultiple);
    for (BoxCase& c : cases) {
      c.box = unionBox;
      const int cx = c.resampled.w / 2, cy = c.resampled.h / 2, cz = c.resampled.d / 2;
      c.box.x0 += cx, c.box.x1 += cx, c.box.y0 += cy, c.box.y1 += cy, c.box.z0 += cz, c.box.z1 += cz;
    }
  } else {
    auto roundUp = [sizeMultiple](int v) { return (v + sizeMultiple - 1) / sizeMultiple * sizeMultiple; };
    const int size[3] = {roundUp(maxW + 2 * margin), roundUp(maxH + 2 * margin), roundUp(maxD + 2 * margin)};
    for (BoxCase& c : cases) {
      int32_t* lo[3] = {&c.box.x0, &c.box.y0, &c.box.z0};
      int32_t* hi[3] = {&c.box.x1, &c.box.y1, &c.box.z1};
      for (int a = 0; a < 3; ++a) {
        const int grow = size[a] - (*hi[a] - *lo[a] + 1);
        *lo[a] -= grow / 2;
        *hi[a] += grow - grow / 2;
      }
    }
  }

  progress.start(prefix + L"Preparing file pairs");
  const SPC spacing{resolutionMm, resolutionMm, resolutionMm};
  const double imageFill = flags == 0 ? -1024.0 : 0.0;
  for (size_t i = 0; i < cases.size(); ++i) {
    progress.step(int64_t(i), int64_t(cases.size()), 1, 98);
    const BoxCase& c = cases[i];
    for (int part = 0; part < 2; ++part) {
      VolPtr vol(loadVolume(part == 0 ? c.image : c.mask));
      if (!vol) return false;
      VolPtr resampled(VA_ResampleToVoxelSize(vol.get(), resolutionMm, 1, true));
      if (!resampled) return false;
      ANN_FrameOwner crop(VA_VolCropWithFill(resampled->frame, &c.box, part == 0 ? imageFill : 0.0));
      if (crop.p && part == 1) {
        FRAME* roi = maskToRoi(crop.p);
        PR_FrameDelete(&crop.p);
        crop.p = roi;
      }
      if (!crop.p) return refuse(L"Not enough memory");
      const int bpv = part == 0 ? 64 : 8;
      ANN_Counted<uint8_t> values(static_cast<uint8_t*>(VA_VolGetBox(crop.p, 0, nullptr, bpv, 1, 0)));
      if (!values) return refuse(L"Not enough memory");
      // The crop's first voxel, placed in the patient (the box may start outside the volume).
      const DPOINT3D position = voxelPosition(resampled.get(), c.box.x0, c.box.y0, c.box.z0);
      const CString path = outputName(outFolder, part == 0 ? "image_%u.nii" : "mask_%u.nii", unsigned(i));
      if (!VA_NiftiSaveVol(path, values.get(), bpv, &crop.p->dim, &spacing, resampled->orient, &position, nullptr,
                           1, nullptr, show))
        return false;
    }
  }
  progress.end();
  showInfo(FmtStr(L"%u pairs were processed", unsigned(cases.size())));
  return true;
}

}  // namespace

TWKANN_API bool TWKANN_PrepareTraining_BinarySegmentMinBoundRect(const wchar_t* /*workFolder*/, const wchar_t* imageFolder,
                                                                 const wchar_t* maskFolder, uint32_t flags,
                                                                 double workingResolutionMm, double inflateMm,
                                                                 int sizeMultiple, const wchar_t* outFolder, bool show) {
  const wchar_t* name = L"TWKANN_PrepareTraining_BinarySegmentMinBoundRect";
  return ANN_Guarded(name, false, [&] {
    return prepareBoundRect(name, "minboundrect : ", false, imageFolder, maskFolder, flags, workingResolutionMm,
                            inflateMm, sizeMultiple, outFolder, show);
  });
}

TWKANN_API bool TWKANN_PrepareTraining_BinarySegmentCommonBoundRect(const wchar_t* /*workFolder*/, const wchar_t* imageFolder,
                                                                    const wchar_t* maskFolder, uint32_t flags,
                                                                    double workingResolutionMm, double inflateMm,
                                                                    int sizeMultiple, const wchar_t* outFolder, bool show) {
  const wchar_t* name = L"TWKANN_PrepareTraining_BinarySegmentCommonBoundRect";
  return ANN_Guarded(name, false, [&] {
    return prepareBoundRect(name, "commonboundrect : ", true, imageFolder, maskFolder, flags, workingResolutionMm,
                            inflateMm, sizeMultiple, outFolder, show);
  });
}
