#pragma once
// BRUSHPARMS, the settings of the voxel paintbrush: the program's one record, read by the view's
// paintbrush and edited by the "Raster Paintbrush" dialog (TW_DlgRastPaintbrush). It holds its
// start values from program start and the last values accepted until the program exits.

#include <cstdint>

struct BRUSHPARMS {
  int32_t shape = 0;              // 0 circle, 1 sphere, 2 cylinder
  double eraseSignal = 0.0;
  double paintSignal = 255.0;
  double radius = 2.0;            // voxels
  int32_t allTimepoints = 0;      // modify all time points
  int32_t onIntegerVolumes = 0;   // the brush may paint integer volumes
  int32_t onRois = 1;             // ... ROIs
  int32_t onRealVolumes = 0;      // ... real volumes
  int32_t centerZoomOnMouse = 0;
};

extern BRUSHPARMS g_BrushParms;
