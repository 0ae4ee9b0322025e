#include "dicom/DicomAssembly.h"

#include <algorithm>
#include <cmath>
#include <cwctype>
#include <set>

namespace twk::dcm {

namespace {

bool near(double a, double b, double tolerance) { return std::fabs(a - b) <= tolerance; }

// Acquisition parameters that make time points; equal when both are undefined.
bool sameValue(double a, double b) {
  if (a == VOID_VALUE || b == VOID_VALUE) return a == b;
  return std::fabs(a - b) <= 1e-6 * std::max(1.0, std::fabs(a));
}

bool sameParameters(const DICOMREC& a, const DICOMREC& b) {
  return sameValue(a.bValue, b.bValue) && sameValue(a.echoTime, b.echoTime) &&
         sameValue(a.inversionTime, b.inversionTime) && sameValue(a.flipAngle, b.flipAngle) &&
         sameValue(spinLockNumber(a), spinLockNumber(b));
}

// Less for values where undefined sorts last.
int compareValue(double a, double b) {
  if (a == b) return 0;
  if (a == VOID_VALUE) return 1;
  if (b == VOID_VALUE) return -1;
  return a < b ? -1 : 1;
}

CString fileName(const DICOMREC* rec) {
  const CString& p = rec->filePath;
  int cut = std::max(p.ReverseFind(L'/'), p.ReverseFind(L'\\'));
  return p.IsEmpty() ? CString(L"(no file)") : p.Mid(cut + 1);
}

}  // namespace

double spinLockNumber(const DICOMREC& rec) {
  const std::wstring& text = rec.imageComments.wstr();
  for (size_t i = 0; i + 3 <= text.size(); ++i) {
    if (std::towupper(text[i]) != L'T' || std::towupper(text[i + 1]) != L'S' || std::towupper(text[i + 2]) != L'L') continue;
    size_t j = i + 3;
    while (j < text.size() && (text[j] == L' ' || text[j] == L'=' || text[j] == L':' || text[j] == L'_')) ++j;
    const wchar_t* start = text.c_str() + j;
    wchar_t* end = nullptr;
    const double v = std::wcstod(start, &end);
    if (end != start && std::isfinite(v)) return v;
  }
  return VOID_VALUE;
}

bool assemble(std::vector<const DICOMREC*> images, Assembly& out) {
  out = Assembly();
  auto fail = [&](const CString& why) {
    out.problem = why;
    return false;
  };
  images.erase(std::remove(images.begin(), images.end(), nullptr), images.end());
  if (images.empty()) return fail(L"No images");
  const DICOMREC& first = *images[0];
  for (const DICOMREC* r : images) {
    CString why;
    if (r->patientId != first.patientId || r->patientName != first.patientName) {
      why.Format(L"Images belong to different patients: %s and %s", fileName(&first).GetString(), fileName(r).GetString());
      return fail(why);
    }
    if (r->width != first.width || r->height != first.height) {
      why.Format(L"Images differ in size: %ux%u in %s, %ux%u in %s", unsigned(first.width), unsigned(first.height),
                 fileName(&first).GetString(), unsigned(r->width), unsigned(r->height), fileName(r).GetString());
      return fail(why);
    }
    for (int i = 0; i < 6; ++i)
      if (!near(r->orientation[i], first.orientation[i], kOrientationTolerance)) {
        why.Format(L"Images differ in orientation: %s and %s", fileName(&first).GetString(), fileName(r).GetString());
        return fail(why);
      }
    for (int i = 0; i < 2; ++i) {
      const double a = first.pixelSpacing[i], b = r->pixelSpacing[i];
      if ((a == VOID_VALUE) != (b == VOID_VALUE) || (a != VOID_VALUE && !near(a, b, kPixelSpacingTolerance))) {
        why.Format(L"Images differ in pixel spacing: %s and %s", fileName(&first).GetString(), fileName(r).GetString());
        return fail(why);
      }
    }
  }
  {
    std::vector<const DICOMREC*> byUid(images);
    std::sort(byUid.begin(), byUid.end(), [](const DICOMREC* a, const DICOMREC* b) {
      return a->sopInstanceUid.Compare(b->sopInstanceUid) < 0;
    });
    for (size_t i = 1; i < byUid.size(); ++i)
      if (!byUid[i]->sopInstanceUid.IsEmpty() && byUid[i]->sopInstanceUid == byUid[i - 1]->sopInstanceUid) {
        CString why;
        why.Format(L"The same image is present twice: %s and %s", fileName(byUid[i - 1]).GetString(),
                   fileName(byUid[i]).GetString());
        return fail(why);
      }
  }

  // The acquisition clock that every image has: frame reference times (PET), date and time, or time of day.
  const bool allReference = std::all_of(images.begin(), images.end(), [](auto* r) { return r->frameReferenceTime != VOID_VALUE; });
  const bool allDateTime = std::all_of(images.begin(), images.end(), [](auto* r) { return r->acquisitionDateTime != VOID_VALUE; });
  auto timeKey = [&](const DICOMREC* r) {
    if (allReference) return r->frameReferenceTime;
    if (allDateTime) return r->acquisitionDateTime;
    return r->acquisitionSeconds;
  };
  // Frames of enhanced files are ordered by their Frame Content: the temporal position index first,
  // then the acquisition time, then the dimension index values.
  const bool allTemporalIndex = std::all_of(images.begin(), images.end(), [](auto* r) { return r->temporalPositionIndex > 0; });
  auto chronological = [&](const DICOMREC* a, const DICOMREC* b) {
    if (allTemporalIndex && a->temporalPositionIndex != b->temporalPositionIndex)
      return a->temporalPositionIndex < b->temporalPositionIndex;
    const int c = compareValue(timeKey(a), timeKey(b));
    if (c != 0) return c < 0;
    if (!a->dimensionIndex.empty() && !b->dimensionIndex.empty() && a->dimensionIndex != b->dimensionIndex)
      return a->dimensionIndex < b->dimensionIndex;
    return a->instanceNumber < b->instanceNumber;
  };
  auto byParameters = [&](const DICOMREC* a, const DICOMREC* b) {
    for (int c : {compareValue(a->bValue, b->bValue), compareValue(a->echoTime, b->echoTime),
                  compareValue(a->inversionTime, b->inversionTime), compareValue(a->flipAngle, b->flipAngle),
                  compareValue(spinLockNumber(*a), spinLockNumber(*b))})
      if (c != 0) return c < 0;
    return chronological(a, b);
  };

  const bool allPositions = std::all_of(images.begin(), images.end(), [](auto* r) { return r->sliceZ != VOID_VALUE; });
  std::vector<std::vector<const DICOMREC*>> slices;
  if (allPositions) {
    std::stable_sort(images.begin(), images.end(), [](auto* a, auto* b) { return a->sliceZ < b->sliceZ; });
    for (const DICOMREC* r : images) {
      if (slices.empty() || r->sliceZ - slices.back().front()->sliceZ > kPositionTolerance) slices.emplace_back();
      slices.back().push_back(r);
    }
    for (const auto& s : slices)
      if (s.size() != slices.front().size()) {
        const auto& other = slices.front();
        CString why;
        why.Format(L"Slice position %.3lf mm holds %u images, slice position %.3lf mm holds %u",
                   s.front()->sliceZ, unsigned(s.size()), other.front()->sliceZ, unsigned(other.size()));
        return fail(why);
      }
    const size_t depth = slices.size();
    if (depth >= 3) {
      std::vector<double> gaps;
      for (size_t k = 1; k < depth; ++k) gaps.push_back(slices[k].front()->sliceZ - slices[k - 1].front()->sliceZ);
      std::vector<double> sorted(gaps);
      std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
      const double median = sorted[sorted.size() / 2];
      for (size_t k = 0; k < gaps.size(); ++k)
        if (gaps[k] > kMissingSliceFactor * median) {
          CString why;
          why.Format(L"A slice is missing between slice positions %.3lf and %.3lf mm (%.3lf mm apart, the usual distance is %.3lf mm)",
                     slices[k].front()->sliceZ, slices[k + 1].front()->sliceZ, gaps[k], median);
          return fail(why);
        }
    }
    if (depth >= 2) out.spacing = (slices.back().front()->sliceZ - slices.front().front()->sliceZ) / double(depth - 1);
    out.positionsKnown = true;

    for (auto& s : slices) std::sort(s.begin(), s.end(), chronological);
    auto consistent = [&] {
      for (size_t t = 0; t < slices.front().size(); ++t)
        for (const auto& s : slices)
          if (!sameParameters(*s[t], *slices.front()[t])) return false;
      return true;
    };
    if (!consistent()) {
      for (auto& s : slices) std::sort(s.begin(), s.end(), byParameters);
      if (!consistent()) return fail(L"The time points of the slices do not match: their acquisition parameters differ");
    }
  } else {
    // Without positions: a stack in instance order, split into time points by temporal position.
    std::stable_sort(images.begin(), images.end(), [](auto* a, auto* b) {
      if (a->temporalPosition != b->temporalPosition) return a->temporalPosition < b->temporalPosition;
      return a->instanceNumber < b->instanceNumber;
    });
    std::set<int> positions;
    for (auto* r : images) positions.insert(r->temporalPosition);
    size_t times = 1;
    if (positions.size() > 1 && !positions.count(0) && images.size() % positions.size() == 0) {
      const size_t per = images.size() / positions.size();
      bool even = true;
      for (size_t t = 0; t < positions.size(); ++t)
        even = even && images[t * per]->temporalPosition == images[t * per + per - 1]->temporalPosition;
      if (even) times = positions.size();
    }
    const size_t depth = images.size() / times;
    slices.assign(depth, {});
    for (size_t t = 0; t < times; ++t)
      for (size_t z = 0; z < depth; ++z) slices[z].push_back(images[t * depth + z]);
  }

  out.depth = int(slices.size());
  out.times = int(slices.front().size());
  out.order.resize(size_t(out.depth) * size_t(out.times));
  for (int t = 0; t < out.times; ++t)
    for (int z = 0; z < out.depth; ++z) out.order[size_t(t) * out.depth + z] = slices[size_t(z)][size_t(t)];
  return true;
}

}  // namespace twk::dcm
