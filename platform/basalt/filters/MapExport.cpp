#include "filters/MapExport.h"

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "CString.h"
#include "TwkUi.h"
#include "Vol.h"
#include "paths/FilePaths.h"
#include "volume/VoxelAccess.h"

bool VA_SaveParamMapNtupleFile(bool coordinates, const wchar_t* path, CVol* const* maps, int count, const CVol* roi,
                               bool show) {
  auto fail = [&](const CString& text) {
    if (show) twk::showNamedError(L"VA_SaveParamMapNtupleFile", text);
    return false;
  };
  if (!path || !*path) return fail(L"No file name");
  if (!maps || count < 2) return fail(L"At least two REAL volumes are required");
  const CVol* first = maps[0];
  for (int i = 0; i < count; ++i) {
    const CVol* m = maps[i];
    if (!m || !m->frame || !m->IsReal3D()) return fail(L"At least two REAL volumes are required");
    if (m->W() != first->W() || m->H() != first->H() || m->D() != first->D())
      return fail(L"Maps of equal dimensions are required");
  }
  if (roi && (!roi->frame || !roi->IsROI() || roi->W() != first->W() || roi->H() != first->H() ||
              roi->D() != first->D()))
    return fail(L"The ROI does not match the maps");
  const std::string target = CString(path).toUtf8();
  const std::string temporary = target + ".part";
  FILE* f = std::fopen(temporary.c_str(), "wb");
  if (!f) return fail(CString(L"Unable to write ") + path);
  std::string line = coordinates ? "x\ty\tz" : "";
  for (int i = 0; i < count; ++i) {
    if (!line.empty()) line += '\t';
    line += PR_GetFileTitleName(maps[i]->name).toUtf8();
  }
  bool ok = std::fprintf(f, "%s\n", line.c_str()) > 0;
  char buffer[64];
  for (int z = 0; z < first->D() && ok; ++z)
    for (int y = 0; y < first->H() && ok; ++y)
      for (int x = 0; x < first->W() && ok; ++x) {
        if (roi && !twk::roiBit(roi->frame, x, y, z, roi->effT(0))) continue;
        line.clear();
        if (coordinates) line = std::to_string(x) + '\t' + std::to_string(y) + '\t' + std::to_string(z);
        for (int i = 0; i < count; ++i) {
          const double v = twk::voxelValue(maps[i]->frame, x, y, z, 0);
          if (!line.empty() || i > 0) line += '\t';
          if (v == VOID_VALUE || !std::isfinite(v)) line += "NaN";
          else {
            std::snprintf(buffer, sizeof buffer, "%.17g", v);
            line += buffer;
          }
        }
        line += '\n';
        ok = std::fputs(line.c_str(), f) >= 0;
      }
  ok = std::fclose(f) == 0 && ok;
  if (!ok || std::rename(temporary.c_str(), target.c_str()) != 0) {
    std::remove(temporary.c_str());
    return fail(CString(L"Unable to write ") + path);
  }
  return true;
}
