// The small exports: atlas region names, the surface atrophy-depth map and the reserved CSF entry.
#include <cstring>
#include <vector>

#include "BrainSteps.h"
#include "Gyrelab.h"
#include "TwkMem.h"
#include "roi/RoiDistance.h"
#include "volume/Frame.h"
#include "volume/VoxelAccess.h"

namespace {

// Regions of the right hemisphere by label 1..51; label n + 51 is the same region on the left.
const wchar_t* const kRegions[51] = {
    L"Rostral Middle Frontal", L"Vermal lobules VI-VII", L"Inferior temporal", L"Accumbens Area",
    L"Inferior Lateral Ventricle", L"Pericalcarine", L"Lateral Orbitofrontal", L"Rostral Anterior Cingulate",
    L"Superior Parietal", L"Inferior Parietal", L"Brainstem", L"Lingual", L"Postcentral", L"Transverse Temporal",
    L"Medial Orbitofrontal", L"Paracentral", L"Optic Chiasm", L"Parahippocampal", L"Amygdala",
    L"Vermal lobules VIII-X", L"Putamen", L"Pars Triangularis", L"Insula", L"Fusiform", L"Basal Forebrain",
    L"Ventral Diencephalon", L"Pallidum", L"Middle Temporal", L"Third Ventricle", L"Caudal Anterior Cingulate",
    L"Precuneus", L"Pars Opercularis", L"Isthmus Cingulate", L"Lateral Occipital", L"Precentral", L"Entorhinal",
    L"Fourth Ventricle", L"Superior Frontal", L"Cerebellum White Matter", L"Thalamus", L"Lateral Ventricle",
    L"Caudal Middle Frontal", L"Cuneus", L"Pars Orbitalis", L"Superior Temporal", L"Cerebellum Gray Matter",
    L"Posterior Cingulate", L"Hippocampus", L"Caudate", L"Vermal lobules I-V", L"Supramarginal"};

}  // namespace

CString BP_GetCerebrAregionName(int label) {
  if (label < 1 || label > 102) return CString();
  const bool right = label <= 51;
  CString name;
  name.Format(L"(%s %s)", right ? L"RH" : L"LH", kRegions[right ? label - 1 : label - 52]);
  return name;
}

FRAME* BP_AtrophySurfaceDepth_x100(const FRAME* reference, const FRAME* surface, const SPC* spc) {
  if (!reference || !surface || !reference->data || !surface->data || reference->type != FRM_ROI ||
      surface->type != FRM_ROI)
    return nullptr;
  const DIM3D& d = reference->dim;
  if (d.w != surface->dim.w || d.h != surface->dim.h || d.d != surface->dim.d) {
    gyrelab::reportFailure(L"BP_AtrophySurfaceDepth_x100", L"Equal dimensions are expected");
    return nullptr;
  }
  // The caller's spacing gives the distances in millimetres (1 mm voxels when there is none).
  gyrelab::Frames frames;
  FRAME*& distance = frames.add(VA_RoiWaveDistance_x100(reference, spc, true, true, false));
  if (!distance) return nullptr;
  const int64_t plane = int64_t(d.w) * d.h, n = plane * d.d;
  uint32_t* depth = static_cast<uint32_t*>(pf_malloc(size_t(n) * sizeof(uint32_t)));
  if (!depth) return nullptr;
  for (int64_t i = 0; i < n; ++i) depth[i] = VOID_INT_VALUE;
  // Boundary voxels of the surface region: inside, with a 6-neighbour outside it or off the grid.
  auto inside = [&](int x, int y, int z) {
    return x >= 0 && y >= 0 && z >= 0 && x < d.w && y < d.h && z < d.d && twk::roiBit(surface, x, y, z, 0);
  };
  for (int z = 0; z < d.d; ++z)
    for (int y = 0; y < d.h; ++y)
      for (int x = 0; x < d.w; ++x) {
        if (!inside(x, y, z)) continue;
        if (inside(x - 1, y, z) && inside(x + 1, y, z) && inside(x, y - 1, z) && inside(x, y + 1, z) &&
            inside(x, y, z - 1) && inside(x, y, z + 1))
          continue;
        depth[z * plane + int64_t(y) * d.w + x] = uint32_t(twk::voxelValue(distance, x, y, z, 0));
      }
  // One time point: the buffer holds one volume whatever the reference's time points.
  FRAME* result = VA_CreateVol(depth, 32, d.w, d.h, d.d, 1);
  pf_free(&depth);
  return result;
}

FRAME* BP_SegmentBrainCSF(const FRAME*, const DIM3D*, const SPC*, const FRAME*, const BP_CSFPARM*) { return nullptr; }
