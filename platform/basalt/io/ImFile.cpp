// The program's own ".im" volume file and ".time" 4D sets; layouts in ImageFiles.h.

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "TextCodec.h"
#include "TwkMem.h"
#include "Vol.h"
#include "io/ImageData.h"
#include "paths/FilePaths.h"
#include "volume/Frame.h"

namespace twk::io {
namespace {

constexpr char kImMagic[8] = {'T', 'W', 'K', 'I', 'M', '0', '1', '\n'};
constexpr int kImFixedBytes = 172;
constexpr const char* kTimeMagic = "TWKTIME 1";

template <class T>
void put(std::vector<uint8_t>& out, const T& value) {
  const auto* p = reinterpret_cast<const uint8_t*>(&value);
  out.insert(out.end(), p, p + sizeof(T));
}

template <class T>
T get(const uint8_t* p) {
  T v;
  std::memcpy(&v, p, sizeof(T));
  return v;
}

// Writes bytes to path through a temporary file renamed over it when complete.
void writeAtomically(const CString& path, const std::vector<const std::vector<uint8_t>*>& parts, const uint8_t* tail,
                     int64_t tailBytes) {
  const std::string target = twk::pathToNative(path);
  const std::string temp = target + ".~save" + std::to_string(::getpid());
  FILE* fp = std::fopen(temp.c_str(), "wb");
  if (!fp) throw IoError{L"unable to create the file"};
  bool ok = true;
  for (const auto* part : parts)
    ok = ok && (part->empty() || std::fwrite(part->data(), 1, part->size(), fp) == part->size());
  ok = ok && (tailBytes == 0 || std::fwrite(tail, 1, size_t(tailBytes), fp) == size_t(tailBytes));
  ok = (std::fclose(fp) == 0) && ok;
  if (!ok || std::rename(temp.c_str(), target.c_str()) != 0) {
    std::remove(temp.c_str());
    throw IoError{L"unable to write the file (disk full or no permission?)"};
  }
}

CString memberExtension(int kind) { return kind == RAWFILE_IM ? L"im" : kind == RAWFILE_ANALYZE ? L"img" : L"nii"; }

}  // namespace

void writeIm(const CString& path, const WriteRequest& r) {
  requireReplaceableImage(path);
  checkDimensions(r.dim);
  const std::string unit = twk::toUtf16LE(r.unit.wstr());
  const bool withPositions = r.firstPos != nullptr;
  const int32_t P = withPositions ? r.dim.d : 0;
  const int32_t Q = r.dyn ? r.dim.t : 0;
  const int64_t voxelBytes = checkedProduct({r.lineBytes, r.dim.h, r.dim.d, r.dim.t}, L"voxel data");
  std::vector<uint8_t> h;
  for (char c : kImMagic) h.push_back(uint8_t(c));
  const int32_t headerBytes = int32_t(kImFixedBytes + unit.size() + 24 * size_t(P) + 72 * size_t(Q));
  put(h, headerBytes);
  put(h, int32_t(r.kind));
  put(h, int32_t(r.bitsPerVoxel));
  put(h, r.dim);
  put(h, r.spc);
  static const double kDefault[6] = {1, 0, 0, 0, 1, 0};
  const double* o = r.orient ? r.orient : kDefault;
  for (int i = 0; i < 6; ++i) put(h, o[i]);
  put(h, int32_t(r.modality));
  put(h, r.filter ? *r.filter : PR_VIEWFILT{});
  put(h, int16_t(0));
  put(h, P);
  put(h, Q);
  put(h, voxelBytes);
  put(h, r.lineBytes);
  put(h, int32_t(r.dynDim));
  put(h, int32_t(unit.size() / 2));
  h.insert(h.end(), unit.begin(), unit.end());
  if (withPositions) {
    // Positions of every slice along the slice direction (from the last position when given).
    DPOINT3D step{};
    if (r.lastPos && r.dim.d > 1) {
      step = {(r.lastPos->x - r.firstPos->x) / (r.dim.d - 1), (r.lastPos->y - r.firstPos->y) / (r.dim.d - 1),
              (r.lastPos->z - r.firstPos->z) / (r.dim.d - 1)};
    } else {
      double n[3] = {o[1] * o[5] - o[2] * o[4], o[2] * o[3] - o[0] * o[5], o[0] * o[4] - o[1] * o[3]};
      step = {n[0] * r.spc.z, n[1] * r.spc.z, n[2] * r.spc.z};
    }
    for (int k = 0; k < P; ++k)
      put(h, DPOINT3D{r.firstPos->x + k * step.x, r.firstPos->y + k * step.y, r.firstPos->z + k * step.z});
  }
  for (int t = 0; t < Q; ++t) put(h, r.dyn[t]);
  if (int64_t(h.size()) != headerBytes) throw IoError{L"internal header size mismatch"};
  writeAtomically(path, {&h}, r.values, voxelBytes);
}

void readIm(const CString& path, ImageData& image, bool headerOnly) {
  auto input = std::make_shared<InputFile>(path);
  InputFile& in = *input;
  uint8_t f[kImFixedBytes];
  in.read(f, kImFixedBytes, L".im header");
  if (std::memcmp(f, kImMagic, 8) != 0) throw IoError{L"not a .im volume file"};
  const int32_t headerBytes = get<int32_t>(f + 8);
  const auto kind = FRMTYPE(get<int32_t>(f + 12));
  const int32_t bpv = get<int32_t>(f + 16);
  image.dim = get<DIM3D>(f + 20);
  image.spc = get<SPC>(f + 36);
  for (int i = 0; i < 6; ++i) image.orient[i] = get<double>(f + 60 + 8 * i);
  image.modality = get<int32_t>(f + 108);
  image.filter = get<PR_VIEWFILT>(f + 112);
  const int32_t P = get<int32_t>(f + 140), Q = get<int32_t>(f + 144);
  const int64_t voxelBytes = get<int64_t>(f + 148), lineBytes = get<int64_t>(f + 156);
  const int32_t units = get<int32_t>(f + 168);
  checkDimensions(image.dim);
  const bool kindOk = (kind == FRM_ROI && bpv == 1) || (kind == FRM_INT && (bpv == 8 || bpv == 16 || bpv == 32)) ||
                      (kind == FRM_REAL && bpv == 64);
  if (!kindOk) throw IoError{L"unknown voxel kind or bits per voxel"};
  if ((P != 0 && P != image.dim.d) || (Q != 0 && Q != image.dim.t) || units < 0 || units > 4096)
    throw IoError{L"inconsistent header counts"};
  if (int64_t(headerBytes) != kImFixedBytes + 2 * int64_t(units) + 24 * int64_t(P) + 72 * int64_t(Q))
    throw IoError{L"inconsistent header size"};
  if (lineBytes != PR_VolLineSize(image.dim.w, bpv)) throw IoError{L"line size does not match the width"};
  if (voxelBytes != checkedProduct({lineBytes, image.dim.h, image.dim.d, image.dim.t}, L"voxel data"))
    throw IoError{L"voxel byte count does not match the dimensions"};
  if (!(image.spc.x > 0 && image.spc.y > 0 && image.spc.z > 0)) throw IoError{L"invalid spacing"};
  std::vector<uint8_t> rest(size_t(headerBytes - kImFixedBytes));
  in.read(rest.data(), int64_t(rest.size()), L".im header");
  image.unit = CString(twk::fromUtf16LE(rest.data(), size_t(units) * 2, false));
  const uint8_t* p = rest.data() + 2 * units;
  if (P) {
    image.positions.resize(size_t(P));
    std::memcpy(image.positions.data(), p, size_t(P) * 24);
    image.hasGeometry = true;
    p += 24 * P;
  }
  if (Q) {
    image.dyn.resize(size_t(Q));
    std::memcpy(image.dyn.data(), p, size_t(Q) * 72);
  }
  auto readVoxels = [input, kind, bpv, voxelBytes](ImageData& target) {
    input->require(voxelBytes, L"voxel data");
    target.frame = newFrame(kind, bpv, target.dim);
    input->read(target.frame->data, voxelBytes, L"voxel data");
  };
  if (headerOnly) {
    image.readVoxels = readVoxels;
    return;
  }
  readVoxels(image);
}

void writeTimeSet(const CString& path, const WriteRequest& r, int memberKind) {
  checkDimensions(r.dim);
  requireReplaceableImage(path);
  const CString folder = PR_GetFileFolder(path);
  const CString title = PR_GetFileTitleName(path);
  std::ostringstream list;
  list << kTimeMagic << "\ntimepoints " << r.dim.t << "\ndyndim " << int(r.dynDim) << "\n";
  list.precision(17);
  const int64_t perTime = r.lineBytes * r.dim.h * r.dim.d;
  for (int t = 0; t < r.dim.t; ++t) {
    CString member;
    member.Format(L"%s_t%04d.%s", title.GetString(), t, memberExtension(memberKind).GetString());
    WriteRequest one = r;
    one.dim.t = 1;
    one.values = r.values + t * perTime;
    one.dyn = r.dyn ? r.dyn + t : nullptr;
    const CString memberPath = PR_JoinPath(folder, member);
    if (memberKind == RAWFILE_IM) writeIm(memberPath, one);
    else writeNifti(memberPath, one, memberKind == RAWFILE_ANALYZE);
    list << member.toUtf8();
    DYNCRD d{};
    if (r.dyn) d = r.dyn[t];
    else d.time = t;
    const double* v = &d.time;
    for (int k = 0; k < 9; ++k) list << '\t' << v[k];
    list << '\n';
  }
  const std::string text = list.str();
  std::vector<uint8_t> bytes(text.begin(), text.end());
  writeAtomically(path, {&bytes}, nullptr, 0);
}

CVol* readTimeSet(const CString& path, bool headerOnly, DIM3D* dimOut, SPC* spcOut, bool show) {
  std::ifstream file(twk::pathToNative(path));
  if (!file) throw IoError{L"file does not exist or cannot be read"};
  std::string line;
  int timepoints = 0, dyndim = 0;
  if (!std::getline(file, line) || line != kTimeMagic) throw IoError{L"not a .time set"};
  if (!std::getline(file, line) || std::sscanf(line.c_str(), "timepoints %d", &timepoints) != 1 || timepoints < 1 ||
      timepoints > 1000000)
    throw IoError{L"invalid number of time points"};
  if (!std::getline(file, line) || std::sscanf(line.c_str(), "dyndim %d", &dyndim) != 1) throw IoError{L"invalid dynamic dimension"};
  std::vector<CString> members;
  std::vector<DYNCRD> dyn;
  while (std::getline(file, line)) {
    if (line.empty()) continue;
    std::istringstream s(line);
    std::string name;
    if (!std::getline(s, name, '\t') || name.empty() || name.find('/') != std::string::npos || name.find("..") != std::string::npos)
      throw IoError{L"invalid member line"};
    DYNCRD d{};
    double* v = &d.time;
    for (int k = 0; k < 9; ++k)
      if (!(s >> v[k])) throw IoError{L"invalid dynamic values in a member line"};
    members.push_back(PR_JoinPath(PR_GetFileFolder(path), CString::fromUtf8(name)));
    dyn.push_back(d);
  }
  if (int(members.size()) != timepoints) throw IoError{L"the number of member files differs from the time points"};

  CVol* first = VA_RAW_LoadVolume(members[0], nullptr, nullptr, nullptr, show);
  if (!first) throw IoError{CString(L"cannot read member ") + members[0]};
  if (first->T() != 1) {
    delete first;
    throw IoError{L"members must be 3D volumes"};
  }
  DIM3D dim = *first->Dim();
  dim.t = timepoints;
  if (dimOut) *dimOut = dim;
  if (spcOut) *spcOut = first->spc;
  if (headerOnly) {
    delete first;
    return nullptr;
  }
  FRAME* frame = nullptr;
  try {
    frame = newFrame(first->Type(), first->frame->bpv, dim);
  } catch (...) {
    delete first;
    throw;
  }
  const int64_t perTime = frame->lineBytes * dim.h * dim.d;
  std::memcpy(frame->data, first->frame->data, size_t(perTime));
  for (int t = 1; t < timepoints; ++t) {
    CVol* member = VA_RAW_LoadVolume(members[size_t(t)], nullptr, nullptr, nullptr, show);
    const bool same = member && member->T() == 1 && member->Type() == frame->type && member->frame->bpv == frame->bpv &&
                      member->W() == dim.w && member->H() == dim.h && member->D() == dim.d;
    if (same) std::memcpy(frame->data + t * perTime, member->frame->data, size_t(perTime));
    delete member;
    if (!same) {
      delete first;
      PR_FrameDelete(&frame);
      throw IoError{CString(L"member differs from the first or cannot be read: ") + members[size_t(t)]};
    }
  }
  PR_FrameDelete(&first->frame);
  first->frame = frame;
  pf_free(&first->dyn);
  first->dyn = static_cast<DYNCRD*>(pf_malloc(int64_t(timepoints) * sizeof(DYNCRD)));
  if (!first->dyn) {
    delete first;
    throw IoError{L"not enough memory"};
  }
  std::memcpy(first->dyn, dyn.data(), dyn.size() * sizeof(DYNCRD));
  first->name = path;
  return first;
}

}  // namespace twk::io
