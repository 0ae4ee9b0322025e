// Transform files (".vtf", text) and flow-field files (".fff", binary); the formats are described in
// TransformFiles.h. Numbers are written in their shortest exact form and read back bit for bit,
// whatever the process locale.
#include "registration/TransformFiles.h"

#include <unistd.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "TextCodec.h"
#include "TwkMem.h"
#include "TwkUi.h"
#include "paths/FilePaths.h"
#include "registration/Transform.h"

namespace {

constexpr const char* kVtfHeader = "Tarnwick volume transform 1";
constexpr char kFffMagic[8] = {'T', 'W', 'K', 'F', 'F', 'F', 0, 0};
constexpr uint32_t kFffVersion = 1;
constexpr int64_t kFffHeaderBytes = 8 + 4 + 2 * (16 + 24);
// Files larger than this are not transform files (a bound against reading garbage).
constexpr int64_t kVtfMaxBytes = 64 << 20;

bool report(bool show, const wchar_t* function, const CString& text) {
  if (show) twk::showNamedError(function, text);
  return false;
}

void appendNumber(std::string& out, double v) {
  char buffer[32];
  const auto r = std::to_chars(buffer, buffer + sizeof buffer, v);
  out.append(buffer, r.ptr);
}

bool validGrid(const DIM3D& d, const SPC& s) {
  return d.w > 0 && d.h > 0 && d.d > 0 && d.t > 0 && std::isfinite(s.x) && std::isfinite(s.y) &&
         std::isfinite(s.z) && s.x > 0 && s.y > 0 && s.z > 0;
}

void appendGrid(std::string& out, const char* key, const DIM3D& d, const SPC& s) {
  out += key;
  for (int v : {d.w, d.h, d.d, d.t}) out += ' ' + std::to_string(v);
  for (double v : {s.x, s.y, s.z}) {
    out += ' ';
    appendNumber(out, v);
  }
  out += '\n';
}

// Writes bytes (the parts in order) through a temporary file renamed over path when complete, so
// that a failed save keeps the last good file.
bool writeReplacing(const wchar_t* path, const std::vector<std::pair<const void*, int64_t>>& parts, CString* why) {
  const std::string target = twk::pathToNative(path);
  const std::string temp = target + ".~save" + std::to_string(::getpid());
  FILE* fp = std::fopen(temp.c_str(), "wb");
  if (!fp) {
    *why = L"Unable to create the file " + CString(path);
    return false;
  }
  bool ok = true;
  for (const auto& [data, bytes] : parts)
    ok = ok && (bytes == 0 || std::fwrite(data, 1, size_t(bytes), fp) == size_t(bytes));
  ok = (std::fclose(fp) == 0) && ok;
  if (!ok || std::rename(temp.c_str(), target.c_str()) != 0) {
    std::remove(temp.c_str());
    *why = L"Unable to write the file " + CString(path) + L" (disk full or no permission?)";
    return false;
  }
  return true;
}

// The words of one text line.
std::vector<std::string> words(const std::string& line) {
  std::vector<std::string> out;
  std::istringstream in(line);
  for (std::string w; in >> w;) out.push_back(w);
  return out;
}

bool parseInt(const std::string& s, int32_t* v) {
  const auto r = std::from_chars(s.data(), s.data() + s.size(), *v);
  return r.ec == std::errc() && r.ptr == s.data() + s.size();
}

bool parseDouble(const std::string& s, double* v) {
  const auto r = std::from_chars(s.data(), s.data() + s.size(), *v);
  return r.ec == std::errc() && r.ptr == s.data() + s.size() && std::isfinite(*v);
}

bool parseGrid(const std::vector<std::string>& w, DIM3D* d, SPC* s) {
  return w.size() == 8 && parseInt(w[1], &d->w) && parseInt(w[2], &d->h) && parseInt(w[3], &d->d) &&
         parseInt(w[4], &d->t) && parseDouble(w[5], &s->x) && parseDouble(w[6], &s->y) && parseDouble(w[7], &s->z) &&
         validGrid(*d, *s);
}

}  // namespace

bool VTF_SaveEx(const wchar_t* path, const VA_VTFINFO& info, const double* coefficients, bool show) {
  const wchar_t* name = L"VTF_Save";
  if (!path || !*path) return report(show, name, L"No file name");
  const int degree = info.type == VA_TRANSFORM_POLYNOMIAL ? info.degree : 1;
  const int count = VA_TransformCoefficientCount(info.type, degree);
  if (count == 0) return report(show, name, L"Unknown transform type");
  if (!coefficients || info.timePoints < 1) return report(show, name, L"No transform");
  if (!validGrid(info.sourceDim, info.sourceSpc) || (info.hasTarget && !validGrid(info.targetDim, info.targetSpc)))
    return report(show, name, L"Invalid grid");
  for (int64_t i = 0; i < int64_t(count) * info.timePoints; ++i)
    if (!std::isfinite(coefficients[i])) return report(show, name, L"Invalid transform");
  std::string text = kVtfHeader;
  text += "\ntype " + std::to_string(info.type) + "\ndegree " + std::to_string(degree) + "\ntimepoints " +
          std::to_string(info.timePoints) + "\n";
  appendGrid(text, "source", info.sourceDim, info.sourceSpc);
  if (info.hasTarget) appendGrid(text, "target", info.targetDim, info.targetSpc);
  else text += "target none\n";
  text += "coefficients " + std::to_string(count) + "\n";
  const int perRow = info.type == VA_TRANSFORM_POLYNOMIAL ? count / 3 : 4;
  for (int64_t i = 0; i < int64_t(count) * info.timePoints; ++i) {
    appendNumber(text, coefficients[i]);
    text += (i + 1) % perRow == 0 ? '\n' : ' ';
  }
  text += "end\n";
  CString why;
  if (!writeReplacing(path, {{text.data(), int64_t(text.size())}}, &why)) return report(show, name, why);
  return true;
}

bool VTF_Save(const wchar_t* path, int type, const DIM3D* sourceDims, const SPC* sourceSpc, const DIM3D* targetDims,
              const SPC* targetSpc, const double* coefficients, bool show) {
  if (!sourceDims || !sourceSpc) return report(show, L"VTF_Save", L"Invalid grid");
  VA_VTFINFO info;
  info.type = type;
  info.degree = type == VA_TRANSFORM_POLYNOMIAL ? 2 : 1;
  info.sourceDim = *sourceDims;
  info.sourceSpc = *sourceSpc;
  if (targetDims && targetSpc) {
    info.hasTarget = true;
    info.targetDim = *targetDims;
    info.targetSpc = *targetSpc;
  }
  return VTF_SaveEx(path, info, coefficients, show);
}

double* VTF_Load(const wchar_t* path, VA_VTFINFO* info, bool show) {
  const wchar_t* name = L"VTF_Load";
  if (!path || !*path || !info) {
    report(show, name, L"No file name");
    return nullptr;
  }
  const CString file(path);
  const int64_t size = PR_FileSize(path);
  if (size < 0) {
    report(show, name, L"Transformation File was not found: " + file);
    return nullptr;
  }
  if (size > kVtfMaxBytes) {
    report(show, name, L"Not a transformation file: " + file);
    return nullptr;
  }
  int64_t got = 0;
  char* bytes = static_cast<char*>(PR_FileLoad(path, nullptr, &got, false));
  if (!bytes && size > 0) {
    report(show, name, L"Unable to read " + file);
    return nullptr;
  }
  std::istringstream in(std::string(bytes ? bytes : "", size_t(got)));
  pf_free(&bytes);
  auto bad = [&](const wchar_t* why) -> double* {
    report(show, name, file + L" : " + why);
    return nullptr;
  };
  std::string line;
  if (!std::getline(in, line) || line != kVtfHeader) {
    if (line.rfind("Tarnwick volume transform ", 0) == 0) return bad(L"unsupported version of the transformation file");
    return bad(L"not a transformation file");
  }
  VA_VTFINFO r;
  auto keyed = [&](const char* key, int32_t* v) {
    if (!std::getline(in, line)) return false;
    const auto w = words(line);
    return w.size() == 2 && w[0] == key && parseInt(w[1], v);
  };
  if (!keyed("type", &r.type) || !keyed("degree", &r.degree) || !keyed("timepoints", &r.timePoints))
    return bad(L"damaged or truncated header");
  const int count = VA_TransformCoefficientCount(r.type, r.degree);
  if (count == 0 || (r.type != VA_TRANSFORM_POLYNOMIAL && r.degree != 1)) return bad(L"unknown transform type");
  if (r.timePoints < 1 || r.timePoints > 100000) return bad(L"invalid number of time points");
  if (!std::getline(in, line)) return bad(L"damaged or truncated header");
  auto w = words(line);
  if (w.empty() || w[0] != "source" || !parseGrid(w, &r.sourceDim, &r.sourceSpc)) return bad(L"invalid source grid");
  if (!std::getline(in, line)) return bad(L"damaged or truncated header");
  w = words(line);
  if (w.size() == 2 && w[0] == "target" && w[1] == "none") {
    r.hasTarget = false;
  } else if (!w.empty() && w[0] == "target" && parseGrid(w, &r.targetDim, &r.targetSpc)) {
    r.hasTarget = true;
  } else {
    return bad(L"invalid target grid");
  }
  int32_t declared = 0;
  if (!keyed("coefficients", &declared) || declared != count)
    return bad(L"the number of coefficients does not match the transform type");
  const int perRow = r.type == VA_TRANSFORM_POLYNOMIAL ? count / 3 : 4;
  const int64_t total = int64_t(count) * r.timePoints;
  std::vector<double> values;
  values.reserve(size_t(total));
  while (int64_t(values.size()) < total) {
    if (!std::getline(in, line)) return bad(L"truncated file");
    w = words(line);
    if (int(w.size()) != perRow) return bad(L"damaged coefficient line");
    for (const auto& s : w) {
      double v;
      if (!parseDouble(s, &v)) return bad(L"damaged coefficient line");
      values.push_back(v);
    }
  }
  if (!std::getline(in, line) || line != "end") return bad(L"truncated file");
  while (std::getline(in, line))
    if (!words(line).empty()) return bad(L"unexpected text after the end");
  double* out = pf_duplicate(values.data(), total);
  if (!out) {
    report(show, name, L"Not enough memory");
    return nullptr;
  }
  *info = r;
  return out;
}

bool VTF_LoadConfirm(const VA_VTFINFO& info, const DIM3D* layerDims, const SPC* layerSpc) {
  if (!layerDims || !layerSpc) return false;
  const auto close = [](double a, double b) { return std::fabs(a - b) <= 1e-6 * std::max(std::fabs(a), std::fabs(b)); };
  const DIM3D& d = info.sourceDim;
  const SPC& s = info.sourceSpc;
  if (d.w == layerDims->w && d.h == layerDims->h && d.d == layerDims->d && close(s.x, layerSpc->x) &&
      close(s.y, layerSpc->y) && close(s.z, layerSpc->z))
    return true;
  CString text;
  text.Format(L"The transformation was made for a volume of %d x %d x %d voxels of %g x %g x %g mm;\n"
              L"this layer has %d x %d x %d voxels of %g x %g x %g mm.\nApply the transformation anyway?",
              d.w, d.h, d.d, s.x, s.y, s.z, layerDims->w, layerDims->h, layerDims->d, layerSpc->x, layerSpc->y,
              layerSpc->z);
  return twk::askYesNo(text);
}

CString VA_VTF_GetSaveName(const wchar_t* name, const wchar_t* folder) {
  CString path = name ? name : L"";
  if (path.IsEmpty()) return path;
  if (PR_GetFileFolder(path).IsEmpty() && folder && *folder) path = PR_JoinPath(folder, path);
  if (PR_GetFileExt(path).CompareNoCase(L"vtf") != 0) path = PR_GetFileName(path) + L".vtf";
  return path;
}

bool VA_SaveFlowField(const wchar_t* path, const DIM3D* sourceDims, const SPC* sourceSpc, const DIM3D* targetDims,
                      const SPC* targetSpc, const DPOINT3D* field, bool show) {
  const wchar_t* name = L"VA_SaveFlowField";
  if (!path || !*path) return report(show, name, L"No file name");
  if (!field) return report(show, name, L"No flow field");
  if (!sourceDims || !sourceSpc || !targetDims || !targetSpc) return report(show, name, L"Invalid grid");
  DIM3D sd = *sourceDims, td = *targetDims;
  sd.t = std::max(sd.t, 1);
  td.t = 1;
  if (!validGrid(sd, *sourceSpc) || !validGrid(td, *targetSpc)) return report(show, name, L"Invalid grid");
  std::vector<uint8_t> header(static_cast<size_t>(kFffHeaderBytes));
  uint8_t* p = header.data();
  auto put = [&p](const void* v, size_t n) {
    std::memcpy(p, v, n);
    p += n;
  };
  put(kFffMagic, 8);
  put(&kFffVersion, 4);
  for (const auto* g : {&sd, &td}) {
    const int32_t v[4] = {g->w, g->h, g->d, g->t};
    put(v, sizeof v);
    const double s[3] = {g == &sd ? sourceSpc->x : targetSpc->x, g == &sd ? sourceSpc->y : targetSpc->y,
                         g == &sd ? sourceSpc->z : targetSpc->z};
    put(s, sizeof s);
  }
  const int64_t n = int64_t(td.w) * td.h * td.d;
  CString why;
  if (!writeReplacing(path, {{header.data(), kFffHeaderBytes}, {field, n * int64_t(sizeof(DPOINT3D))}}, &why))
    return report(show, name, why);
  return true;
}

DPOINT3D* VA_LoadFlowField(const wchar_t* path, VA_FLOWFIELDINFO* info, bool show) {
  const wchar_t* name = L"VA_LoadFlowField";
  if (!path || !*path || !info) {
    report(show, name, L"No file name");
    return nullptr;
  }
  const CString file(path);
  auto bad = [&](const wchar_t* why) -> DPOINT3D* {
    report(show, name, file + L" : " + why);
    return nullptr;
  };
  const int64_t size = PR_FileSize(path);
  if (size < 0) return bad(L"the file was not found");
  FILE* fp = std::fopen(twk::pathToNative(path).c_str(), "rb");
  if (!fp) return bad(L"the file cannot be read");
  uint8_t header[kFffHeaderBytes];
  const bool whole = std::fread(header, 1, sizeof header, fp) == sizeof header;
  if (!whole || std::memcmp(header, kFffMagic, 8) != 0) {
    std::fclose(fp);
    return whole ? bad(L"not a flow field file") : bad(L"truncated file");
  }
  uint32_t version;
  std::memcpy(&version, header + 8, 4);
  if (version != kFffVersion) {
    std::fclose(fp);
    return bad(L"unsupported version of the flow field file");
  }
  VA_FLOWFIELDINFO r;
  const uint8_t* p = header + 12;
  for (int g = 0; g < 2; ++g, p += 40) {
    int32_t v[4];
    double s[3];
    std::memcpy(v, p, sizeof v);
    std::memcpy(s, p + 16, sizeof s);
    DIM3D& d = g == 0 ? r.sourceDim : r.targetDim;
    SPC& sp = g == 0 ? r.sourceSpc : r.targetSpc;
    d = DIM3D{v[0], v[1], v[2], v[3]};
    sp = SPC{s[0], s[1], s[2]};
    if (!validGrid(d, sp)) {
      std::fclose(fp);
      return bad(L"invalid grid in the header");
    }
  }
  const int64_t n = int64_t(r.targetDim.w) * r.targetDim.h * r.targetDim.d;
  const int64_t payload = n * int64_t(sizeof(DPOINT3D));
  if (size != kFffHeaderBytes + payload) {
    std::fclose(fp);
    return bad(size < kFffHeaderBytes + payload ? L"truncated file" : L"the file size does not match its grid");
  }
  auto* field = static_cast<DPOINT3D*>(pf_malloc(payload));
  if (!field) {
    std::fclose(fp);
    return bad(L"not enough memory");
  }
  const bool read = std::fread(field, 1, size_t(payload), fp) == size_t(payload);
  std::fclose(fp);
  if (!read) {
    pf_free(&field);
    return bad(L"truncated file");
  }
  *info = r;
  return field;
}
