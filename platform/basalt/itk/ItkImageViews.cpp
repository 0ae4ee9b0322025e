#include "itk/ItkImageViews.h"

#include <itkCommand.h>
#include <itkMultiThreaderBase.h>

#include <oneapi/tbb/blocked_range.h>
#include <oneapi/tbb/parallel_for.h>
#include <oneapi/tbb/task_arena.h>

#include <new>
#include <thread>

#include "CString.h"
#include "TwkMem.h"
#include "TwkUi.h"

namespace twk::itkv {

void capThreads() {
  const int n = std::max(1, tbb::this_task_arena::max_concurrency());
  if (itk::MultiThreaderBase::GetGlobalMaximumNumberOfThreads() != itk::ThreadIdType(n))
    itk::MultiThreaderBase::SetGlobalMaximumNumberOfThreads(itk::ThreadIdType(n));
  if (itk::MultiThreaderBase::GetGlobalDefaultNumberOfThreads() != itk::ThreadIdType(n))
    itk::MultiThreaderBase::SetGlobalDefaultNumberOfThreads(itk::ThreadIdType(n));
}

namespace {

bool sameGrid(const FRAME* frame, const itk::ImageBase<3>* image) {
  const auto size = image->GetLargestPossibleRegion().GetSize();
  return int64_t(size[0]) == frame->dim.w && int64_t(size[1]) == frame->dim.h && int64_t(size[2]) == frame->dim.d;
}

// Calls line(z, y) for every line of a w x h x d grid, in parallel over blocks of lines.
template <class Fn>
void forEachLine(const DIM3D& dims, Fn&& line) {
  const int64_t lines = int64_t(dims.h) * dims.d;
  tbb::parallel_for(tbb::blocked_range<int64_t>(0, lines, 64), [&](const tbb::blocked_range<int64_t>& r) {
    for (int64_t i = r.begin(); i < r.end(); ++i) line(i / dims.h, i % dims.h);
  });
}

}  // namespace

bool unpackRoiInto(const FRAME* roi, int t, MaskImage* image, uint8_t inside) {
  if (!roi || !image || roi->type != FRM_ROI || t < 0 || t >= roi->dim.t || !sameGrid(roi, image)) return false;
  uint8_t* out = image->GetBufferPointer();
  const int64_t w = roi->dim.w, h = roi->dim.h;
  forEachLine(roi->dim, [&](int64_t z, int64_t y) {
    const uint8_t* bits = frameLine(roi, y, z, t);
    uint8_t* dst = out + (z * h + y) * w;
    int64_t x = 0;
    // Whole bytes first: eight voxels per source byte.
    for (; x + 8 <= w; x += 8) {
      const uint8_t b = bits[x >> 3];
      if (b == 0) {
        std::fill(dst + x, dst + x + 8, uint8_t(0));
      } else {
        for (int k = 0; k < 8; ++k) dst[x + k] = (b >> (7 - k)) & 1 ? inside : uint8_t(0);
      }
    }
    for (; x < w; ++x) dst[x] = getBit(bits, x) ? inside : uint8_t(0);
  });
  return true;
}

MaskImage::Pointer unpackRoi(const FRAME* roi, int t, const SPC* spc, uint8_t inside) {
  if (!roi || roi->type != FRM_ROI || t < 0 || t >= roi->dim.t) return nullptr;
  try {
    auto image = newImage<uint8_t>(roi->dim, spc, false);
    if (!unpackRoiInto(roi, t, image.GetPointer(), inside)) return nullptr;
    return image;
  } catch (const std::bad_alloc&) {
    return nullptr;
  } catch (const itk::ExceptionObject&) {
    return nullptr;
  }
}

namespace {

template <class P, class Pred>
bool packWhere(const Image3<P>* image, FRAME* roi, int t, Pred inside) {
  if (!roi || !image || roi->type != FRM_ROI || t < 0 || t >= roi->dim.t || !sameGrid(roi, image)) return false;
  const P* in = image->GetBufferPointer();
  const int64_t w = roi->dim.w, h = roi->dim.h;
  forEachLine(roi->dim, [&](int64_t z, int64_t y) {
    uint8_t* bits = frameLine(roi, y, z, t);
    const P* src = in + (z * h + y) * w;
    // Every byte of the line is rewritten, the padding bits as zero.
    for (int64_t b = 0; b < roi->lineBytes; ++b) {
      uint8_t v = 0;
      const int64_t x0 = b * 8;
      for (int k = 0; k < 8 && x0 + k < w; ++k)
        if (inside(src[x0 + k])) v |= uint8_t(0x80u >> k);
      bits[b] = v;
    }
  });
  return true;
}

}  // namespace

template <class P>
bool packRoi(const Image3<P>* image, FRAME* roi, int t) {
  return packWhere(image, roi, t, [](P v) { return v != P(0); });
}

template <class P>
bool packRoiLabel(const Image3<P>* image, P label, FRAME* roi, int t) {
  return packWhere(image, roi, t, [label](P v) { return v == label; });
}

#define TWK_ITKV_PACK(P)                                            \
  template bool packRoi<P>(const Image3<P>*, FRAME*, int);         \
  template bool packRoiLabel<P>(const Image3<P>*, P, FRAME*, int);
TWK_ITKV_PACK(uint8_t)
TWK_ITKV_PACK(uint16_t)
TWK_ITKV_PACK(uint32_t)
TWK_ITKV_PACK(uint64_t)
TWK_ITKV_PACK(int32_t)
TWK_ITKV_PACK(float)
TWK_ITKV_PACK(double)
#undef TWK_ITKV_PACK

bool update(itk::ProcessObject* filter, const wchar_t* name, bool show, int progressFrom, int progressTo) {
  if (!filter) return false;
  // Progress is reported (and Esc honoured) only when a progress message was running when the
  // work began: the protocol's flag is cleared both by Esc and when no message runs.
  const bool reporting = show && PR_InWorkProcess();
  const std::thread::id caller = std::this_thread::get_id();
  unsigned long tag = 0;
  if (reporting) {
    tag = filter->AddObserver(itk::ProgressEvent(), [filter, caller, progressFrom, progressTo](const itk::EventObject&) {
      if (std::this_thread::get_id() != caller) return;
      const int64_t done = int64_t(filter->GetProgress() * 1000.0);
      if (!PR_SendMessageInterval(progressFrom, progressTo, done, 1000, true)) filter->AbortGenerateDataOn();
    });
  }
  // ITK's shared thread pool never shrinks: the work is cut into no more units than TBB grants here.
  const auto threads = itk::ThreadIdType(std::max(1, tbb::this_task_arena::max_concurrency()));
  if (filter->GetNumberOfWorkUnits() > threads) filter->SetNumberOfWorkUnits(threads);
  bool ok = false;
  try {
    filter->Update();
    ok = !filter->GetAbortGenerateData();
  } catch (const itk::ProcessAborted&) {
    ok = false;
  } catch (const itk::ExceptionObject& e) {
    if (show && !(reporting && !PR_InWorkProcess()))
      twk::showNamedError(name ? name : L"ITK", CString(e.GetDescription()));
  } catch (const std::bad_alloc&) {
    if (show) twk::showNamedError(name ? name : L"ITK", L"Not enough memory");
  }
  if (reporting) filter->RemoveObserver(tag);
  filter->AbortGenerateDataOff();
  return ok;
}

}  // namespace twk::itkv
