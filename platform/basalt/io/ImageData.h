#pragma once
// Internal to the image file readers and writers: the decoded image before it becomes a volume,
// the input stream that reads plain and gzip files alike with size limits, geometry conversions
// and the reporting of failures.

#include <zlib.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "CString.h"
#include "TwkTypes.h"
#include "io/ImageFiles.h"

class CVol;

namespace twk::io {

// A failure of a reader or writer: the message shown is "<file> : <what>".
struct IoError {
  CString what;
};

// Largest number of bytes a reader takes for voxels (64 GiB): a header asking for more is refused.
constexpr int64_t kMaxVoxelBytes = int64_t(1) << 36;
// Largest expansion of deflate data (a deflate stream cannot expand by more than 1032:1).
constexpr int64_t kMaxDeflateRatio = 1032;

// a * b with overflow and limit checks; throws IoError with the given description.
int64_t checkedProduct(std::initializer_list<int64_t> factors, const wchar_t* what);

// Reads a file that may be gzip-compressed. Plain files know their size; for compressed files
// the size of the content is bounded by the deflate ratio, and an early end of the stream is
// reported as such.
class InputFile {
 public:
  explicit InputFile(const CString& path);  // throws IoError when the file cannot be opened
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  bool compressed() const { return compressed_; }
  int64_t fileSize() const { return fileSize_; }
  int64_t position() const { return position_; }
  // Upper bound of the bytes left to read (exact for plain files).
  int64_t maxRemaining() const;
  // Reads exactly n bytes or throws: "file is truncated" / "gzip stream ends early" / read error.
  void read(void* buffer, int64_t n, const wchar_t* what);
  // Reads up to n bytes; returns how many were read (0 at the end).
  int64_t readSome(void* buffer, int64_t n);
  void skip(int64_t n, const wchar_t* what);
  // Checks, before allocating, that n more bytes can be in the file.
  void require(int64_t n, const wchar_t* what) const;
  // The whole (decompressed) rest of the file, at most limit bytes.
  std::vector<uint8_t> readRest(int64_t limit);
  // Reads exactly n bytes in blocks of blockBytes and hands each block to onBlock(block, bytes)
  // while it is still in the cache. Plain files are read by several threads at once, each block
  // with its own positioned read, so the page faults of a fresh buffer and the copies from the
  // page cache run in parallel: onBlock must then be safe to call concurrently on distinct blocks.
  // Compressed files are read block after block. Throws like read().
  void readBlocks(uint8_t* buffer, int64_t n, int64_t blockBytes, const wchar_t* what,
                  const std::function<void(uint8_t*, int64_t)>& onBlock);

 private:
  gzFile gz_ = nullptr;
  std::string native_;
  bool compressed_ = false;
  int64_t fileSize_ = 0;
  int64_t position_ = 0;
};

// The decoded image. Voxel bytes are held in the stored element type (native byte order), x fastest,
// then y, z and t.
struct ImageData {
  DIM3D dim;
  SPC spc;
  DTYPE type = DTYPE_UNKNOWN;
  uint8_t* voxels = nullptr;  // pf_malloc, owned
  double slope = 1, offset = 0;
  bool hasGeometry = false;
  double orient[6] = {1, 0, 0, 0, 1, 0};
  // Slice positions when hasGeometry: either depth explicit entries, or (linearSlices) the first
  // position and a constant step, so a header that claims a huge depth costs no memory until
  // the voxels are actually read.
  std::vector<DPOINT3D> positions;
  bool linearSlices = false;
  DPOINT3D sliceStep{};
  int32_t modality = 10000;
  CString unit;
  std::vector<DYNCRD> dyn;  // time points entries, or empty
  double timeStep = 0;      // seconds between time points when the file gives one
  PR_VIEWFILT filter;
  bool bigEndian = false;
  // Set by readers that checked the values while reading: 1 when every value fits an unsigned
  // integer frame (no negative values, 64-bit values below 2^32), 0 when not, -1 not checked.
  int unsignedRange = -1;
  // A frame that a reader made in its final form (".im" files); used instead of voxels.
  FRAME* frame = nullptr;
  // Set by a header-only read: reads the voxels of the same file later without reading the header
  // again (the file stays open until then, or until the image goes).
  std::function<void(ImageData&)> readVoxels;

  ImageData() = default;
  ~ImageData();
  ImageData(const ImageData&) = delete;
  ImageData& operator=(const ImageData&) = delete;

  int64_t voxelCount() const { return int64_t(dim.w) * dim.h * dim.d * dim.t; }
  // Allocates the voxel buffer for dim and type after checking the sizes against the input.
  // prefault: touch the pages now (for readers that fill the buffer sequentially); readers that
  // fill it with InputFile::readBlocks leave it to the parallel reads.
  void allocateVoxels(const InputFile* input, bool prefault = true);
};

// True when some value of n elements cannot be held by an unsigned integer frame.
bool outOfUnsignedRange(DTYPE type, const uint8_t* bytes, int64_t n);

// Checks a dimension set: every extent at least 1 and at most 2^31-1, the voxel count within limits.
void checkDimensions(const DIM3D& dim);

// Affine of voxel (i, j, k) to world (x, y, z) in a 3x4 row-major matrix.
struct Affine {
  double m[3][4] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}};
};
// Spacing, orientation and the slice positions from a world affine. ras: the affine maps to RAS
// (its x and y are negated into DICOM patient coordinates).
void geometryFromAffine(const Affine& a, bool ras, ImageData& image);
// The affine in RAS of a volume's geometry, as NIfTI stores it.
Affine rasAffine(const SPC& spc, const double* orient, const DPOINT3D* firstPos, const DPOINT3D* lastPos, int depth);

// The volume of an image: the frame kind follows the rules of ImageFiles.h; the voxel buffer is
// taken over when it already has the frame's layout. Never null (throws IoError).
CVol* buildVolume(ImageData& image, const CString& name);
// A new frame with zeroed voxels; throws IoError when memory is short.
FRAME* newFrame(FRMTYPE type, int bpv, const DIM3D& dim);

// Readers of each format; each throws IoError.
void readNifti(const CString& path, ImageData& image, bool headerOnly, VA_RAWPARAMCALLBACK callback, bool* cancelled);
void readMgh(const CString& path, ImageData& image, bool headerOnly);
void readNrrd(const CString& path, ImageData& image, bool headerOnly);
void readNumpy(const CString& path, ImageData& image, bool headerOnly, int* ndim, uint64_t* shape);
void readIm(const CString& path, ImageData& image, bool headerOnly);
CVol* readTimeSet(const CString& path, bool headerOnly, DIM3D* dim, SPC* spc, bool show);

// Writers; each throws IoError. values hold dim's voxels, x fastest, of bitsPerVoxel (8/16/32
// unsigned, 64 double, 1 packed ROI lines of lineBytes).
struct WriteRequest {
  const uint8_t* values = nullptr;
  int bitsPerVoxel = 0;
  FRMTYPE kind = FRM_INVALID;
  int64_t lineBytes = 0;  // bytes per line of values
  DIM3D dim;              // dimensions of what is written (t = time points written)
  SPC spc;
  const double* orient = nullptr;
  const DPOINT3D* firstPos = nullptr;
  const DPOINT3D* lastPos = nullptr;
  int modality = 10000;
  CString unit;
  const PR_VIEWFILT* filter = nullptr;
  const DYNCRD* dyn = nullptr;  // dim.t records or null
  DYNDIM dynDim = DYN_TIME;
};
void writeNifti(const CString& path, const WriteRequest& request, bool analyze);
void writeIm(const CString& path, const WriteRequest& request);
void writeTimeSet(const CString& path, const WriteRequest& request, int memberKind);
// Writers replace only image files: an existing file at path that is not an image the program reads
// (a DICOM file, a document, a text, raw data without its header) throws, naming the refusal.
void requireReplaceableImage(const CString& path);

// Message of a failure: "<function> : <path> : <what>" through the UI when show is set.
void reportFailure(bool show, const wchar_t* function, const CString& path, const CString& what);

// Lower-cased extension of a path, ".nii.gz" and ".mgz" style compound endings kept whole for .gz.
std::wstring lowerExtension(const CString& path);

}  // namespace twk::io
