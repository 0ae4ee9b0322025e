#pragma once
// A brain-like FLAIR phantom with known truth for the brain library's tests: an ellipsoidal brain of
// white matter (100) under a gray rim (80), two joined lateral-ventricle lobes (20), two lesions
// of radius 3 voxels and one of two voxels (180; the small one under 12 mm^3), air 0, noise SD 2,
// on 1.5 mm voxels in the standard axial orientation.
#include <random>

#include "TwkMem.h"
#include "Vol.h"
#include "volume/Frame.h"
#include "volume/VoxelAccess.h"

namespace twk::brainphantom {

constexpr int W = 64, H = 72, D = 56;
constexpr double kVoxel = 1.5;
inline const double kCx = 31.5, kCy = 35.5, kCz = 27.5;

struct Ellipsoid {
  double cx, cy, cz, rx, ry, rz;
  bool inside(int x, int y, int z) const {
    const double dx = (x - cx) / rx, dy = (y - cy) / ry, dz = (z - cz) / rz;
    return dx * dx + dy * dy + dz * dz <= 1.0;
  }
};

inline const Ellipsoid kBrain{kCx, kCy, kCz, 26, 30, 22};
inline const Ellipsoid kWhite{kCx, kCy, kCz, 23, 27, 19};  // a gray rim of 3 voxels (4.5 mm)
// The lateral ventricles: two overlapping lobes (one connected cavity).
inline const Ellipsoid kVentricles[2] = {{kCx - 4, kCy, kCz + 2, 6, 11, 5}, {kCx + 4, kCy, kCz + 2, 6, 11, 5}};
// Lesions of 180: two spheres of radius 3 voxels and one of two voxels (6.75 mm^3 < 12 mm^3).
inline const Ellipsoid kLesions[2] = {{kCx - 13, kCy + 12, kCz - 4, 3, 3, 3}, {kCx + 13, kCy - 14, kCz + 6, 3, 3, 3}};
inline const int kSmallLesion[2][3] = {{int(kCx) + 12, int(kCy) + 10, int(kCz) - 6}, {int(kCx) + 13, int(kCy) + 10, int(kCz) - 6}};

inline bool inVentricle(int x, int y, int z) { return kVentricles[0].inside(x, y, z) || kVentricles[1].inside(x, y, z); }
inline int lesionOf(int x, int y, int z) {
  for (int i = 0; i < 2; ++i)
    if (kLesions[i].inside(x, y, z)) return i;
  for (const auto& v : kSmallLesion)
    if (x == v[0] && y == v[1] && z == v[2]) return 2;
  return -1;
}

// A FLAIR-like volume: WM 100, GM rim 80, ventricles 20, lesions 180, air 0; noise SD 2.
inline CVol* brainPhantom(unsigned seed = 7) {
  std::mt19937 rng(seed);
  std::normal_distribution<double> noise(0.0, 2.0);
  CVol* vol = new CVol;
  vol->frame = PR_FrameCreate(FRM_INT, 16, DIM3D{W, H, D, 1}, true);
  vol->spc = SPC{kVoxel, kVoxel, kVoxel};
  vol->name = L"flair.nii";
  vol->imgPos = static_cast<DPOINT3D*>(pf_malloc(D * sizeof(DPOINT3D)));
  for (int z = 0; z < D; ++z) vol->imgPos[z] = DPOINT3D{0, 0, z * kVoxel};
  for (int z = 0; z < D; ++z)
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) {
        double v = 0;
        if (kBrain.inside(x, y, z)) v = kWhite.inside(x, y, z) ? 100 : 80;
        if (inVentricle(x, y, z)) v = 20;
        if (lesionOf(x, y, z) >= 0) v = 180;
        if (v > 0) v += noise(rng);
        twk::setVoxelValue(vol->frame, x, y, z, 0, v);
      }
  return vol;
}

}  // namespace twk::brainphantom
