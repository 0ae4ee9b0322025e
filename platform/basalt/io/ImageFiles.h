#pragma once
// Image files of the imaging core: reading volumes from NIfTI-1/NIfTI-2 (.nii, .nii.gz, .hdr/.img),
// ANALYZE 7.5, MGH/MGZ, NRRD (.nrrd with attached data, .nhdr with detached data), NumPy .npy, the
// program's own ".im" volume and ".time" 4D sets, any of them gzip-compressed; writing ".im",
// ANALYZE, NIfTI and ".time" sets; NumPy arrays as raw data; N-column text files.
//
// Geometry. A volume's orientation is the pair of row and column direction cosines and its image
// positions the centres of the first voxel of every slice, in the patient coordinates of DICOM
// (x to the patient's left, y to the back, z to the head). NIfTI, MGH and NRRD world coordinates
// are converted to and from it (RAS files flip x and y). Files without world geometry (ANALYZE,
// NumPy, NIfTI without a transform) give the default orientation and no image positions.
//
// Voxel kinds. Files of unsigned integers, and of signed integers whose values are all
// non-negative, become integer frames of the smallest of 8, 16 and 32 bits that holds the stored
// type; every other file (negative values, floats, a scaling slope or offset) becomes a real
// frame, with the scaling applied. Integer frames are written as unsigned 8/16/32-bit voxels, real
// frames as 64-bit floats; ROI frames are written as unsigned 8-bit 0/1 voxels. Void voxels are
// written as they are held (1e60 or 16777215); callers that want another value replace them first.
//
// Bad input. Every reader checks sizes and counts against the file before it allocates: a
// truncated file, dimensions that overflow or exceed the data, an unknown data type or a gzip
// stream that ends early give a message naming the file and the fault (when show is set), and
// null; nothing half-made is returned.
//
// ".im" volume file (all numbers little-endian, no padding):
//   offset  size  field
//   0       8     magic "TWKIM01\n"
//   8       4     int32 header size H (bytes before the voxels; 172 + 2*U + 24*P + 72*Q)
//   12      4     int32 voxel kind (FRMTYPE: 1 ROI, 4 integer, 5 real)
//   16      4     int32 bits per voxel (1, 8, 16, 32, 64)
//   20      16    int32 width, height, depth, time points
//   36      24    3 doubles spacing x, y, z (mm)
//   60      48    6 doubles orientation (row, then column direction cosines)
//   108     4     int32 modality (0 CT, 1 MR, 2 PET, other values as the volume holds them)
//   112     26    display filter (PR_VIEWFILT, packed)
//   138     2     reserved, 0
//   140     4     int32 P: number of image positions (0 or depth)
//   144     4     int32 Q: number of dynamic records (0 or time points)
//   148     8     int64 voxel bytes V
//   156     8     int64 line bytes of the voxel layout (the frame's lineBytes)
//   164     4     int32 dynamic dimension (DYNDIM) of the records
//   168     4     int32 U: unit text length in UTF-16 code units
//   172     2U    unit text, UTF-16LE
//           24P   image positions (3 doubles each)
//           72Q   dynamic records (DYNCRD, 9 doubles each)
//   H       V     voxels in the frame layout: slices z + t*depth, lines of lineBytes bytes
//                 (ROI lines: 1 bit per voxel, leftmost in the most significant bit, 16-bit words)
//
// ".time" 4D set: a UTF-8 text file that lists one 3D file per time point, kept in the same folder:
//   line 1      "TWKTIME 1"
//   line 2      "timepoints <T>"
//   line 3      "dyndim <DYNDIM>"
//   then T lines "<file title>\t<time>\t<timeEnd>\t<echoTime>\t<inversionTime>\t<bValue>\t
//                 <spinLockTime>\t<flipAngle>\t<repetitionTime>\t<reserved>" (the DYNCRD values,
//                 "%.17g"). The members are named <set title>_t<index, 4 digits>.<im|img|nii>.

#include <cstdint>
#include <memory>

#include "CString.h"
#include "TwkTypes.h"
#include "ViewFilt.h"

class CVol;


// Element types of raw arrays (NumPy arrays and raw data handed to VA_LoadRawData).
enum DTYPE : int32_t {
  DTYPE_UNKNOWN = 0,
  DTYPE_BOOL = 1,
  DTYPE_INT8 = 2,
  DTYPE_UINT8 = 3,
  DTYPE_INT16 = 4,
  DTYPE_UINT16 = 5,
  DTYPE_INT32 = 6,
  DTYPE_UINT32 = 7,
  DTYPE_INT64 = 8,
  DTYPE_UINT64 = 9,
  DTYPE_FLOAT16 = 10,
  DTYPE_FLOAT32 = 11,
  DTYPE_FLOAT64 = 12,
  DTYPE_COMPLEX64 = 13,   // two float32: real, imaginary
  DTYPE_COMPLEX128 = 14,  // two float64
  DTYPE_COMPLEX256 = 15,  // two 80-bit extended reals stored in 16 bytes each
};
const wchar_t* PR_GetDataTypeName(DTYPE type);  // "int16", "complex64", ... ; "unknown"
int PR_DataTypeSize(DTYPE type);                // bytes per element, 0 for unknown
bool PR_IsComplexType(DTYPE type);

// Raw file kinds of the writers and of VA_RawFileType.
enum : int32_t { RAWFILE_UNKNOWN = 0, RAWFILE_IM = 1, RAWFILE_ANALYZE = 2, RAWFILE_NIFTI = 3 };
// Save modes: 0 one file of the kind the extension names; 1-3 one file of that kind; 5-7 a ".time"
// set whose members are of kind mode - 4. A path ending in ".time" always gives a set (members
// NIfTI when the mode names no kind); any other path gives one file of the kind of its extension.
enum : int32_t { RAWSAVE_SINGLE = 0, RAWSAVE_TIMESET_IM = 5, RAWSAVE_TIMESET_ANALYZE = 6, RAWSAVE_TIMESET_NIFTI = 7 };

// Kind of a path from its extension: ".im" 1, ".img"/".hdr" 2, ".nii"/".nii.gz" 3, else 0.
int VA_RawFileType(const wchar_t* path);
// The path names an MGH or MGZ file (extension .mgh/.mgz and a version-1 header).
bool VA_IsMghFile(const wchar_t* path);
// Kind of an image file by its content: 1 DICOM, 2 NIfTI, 3 ANALYZE, 4 MGH, 5 NRRD, 6 NumPy,
// 7 ".im", 8 ".time", 9 gzip (other content); 0 unknown. False when the file cannot be read.
bool VA_GetImageFileType(const wchar_t* path, int* kind);
// A NIfTI file that has a ".time" set of the same name beside it.
bool VA_TimeNifti4D_IsPairPresent(const wchar_t* path);

// Dimensions and spacing from the file's header without reading the voxels. False (with a message
// when report is set) for files the readers do not recognise or whose header is damaged.
bool VA_RAW_FileInfo(const wchar_t* path, DIM3D* dim, SPC* spc, bool report);

// Parameters an ANALYZE file leaves open, offered to the caller's callback before the voxels are
// read. The callback may change them; returning false cancels the load (null, no message).
struct RAW_LOADPARAMS {
  DIM3D dim;
  SPC spc;
  int32_t modality = 10000;  // unknown
  double orient[6] = {1, 0, 0, 0, 1, 0};
};
using VA_RAWPARAMCALLBACK = bool (*)(const wchar_t* path, RAW_LOADPARAMS* params);

// The door of the readers: what an image path is, decided once from its name and its first
// (decompressed) bytes, and handed down to the readers so that nothing asks again.
enum VA_IMAGEFORMAT : int32_t {
  VA_IMAGE_UNKNOWN = 0,
  VA_IMAGE_DICOM = 1,
  VA_IMAGE_NIFTI = 2,  // a NIfTI-1/NIfTI-2 or ANALYZE header
  VA_IMAGE_MGH = 4,
  VA_IMAGE_NRRD = 5,
  VA_IMAGE_NUMPY = 6,
  VA_IMAGE_IM = 7,
  VA_IMAGE_TIMESET = 8,
};
struct VA_IMAGEPATH {
  CString path;                        // as given
  CString headerPath;                  // the .hdr of an ANALYZE/NIfTI pair named by its .img; else path
  VA_IMAGEFORMAT format = VA_IMAGE_UNKNOWN;  // of the header file's content
  bool compressed = false;             // the file is gzip-compressed (MGZ included)
  bool timeSetBeside = false;          // a NIfTI path with a ".time" set of the same name beside it
  CString fault;                       // why the file could not be read; empty when it could
};
VA_IMAGEPATH VA_ClassifyImagePath(const wchar_t* path);
// The record of a decompressed copy of a classified file (the same content at another path).
VA_IMAGEPATH VA_DecompressedImagePath(const VA_IMAGEPATH& file, const wchar_t* copy);

// Reads one classified file: its header once, then its voxels. Failures are reported as
// "<function> : <path> : <what>".
class VA_ImageReader {
 public:
  explicit VA_ImageReader(VA_IMAGEPATH file);
  ~VA_ImageReader();
  VA_ImageReader(const VA_ImageReader&) = delete;
  VA_ImageReader& operator=(const VA_ImageReader&) = delete;

  const VA_IMAGEPATH& File() const { return file_; }
  // Dimensions and spacing from the header (as VA_RAW_FileInfo); the header stays read for Load.
  bool ReadHeader(DIM3D* dim, SPC* spc, const wchar_t* function, bool report);
  // The volume named by the path (as VA_RAW_LoadVolume), its header read here unless ReadHeader
  // did; callback sees the ANALYZE parameters only when the header is read here.
  CVol* Load(PR_VIEWFILT* filter, VA_RAWPARAMCALLBACK callback, bool* bigEndian, const wchar_t* function, bool show);

 private:
  struct Header;
  VA_IMAGEPATH file_;
  std::unique_ptr<Header> header_;
};

// Reads any supported image file into a new volume named by the path. filter (may be null)
// receives the display window stored in the file (zero when none); callback (may be null) sees
// ANALYZE parameters; bigEndian (may be null) tells whether the file's data were big-endian.
// Volumes whose file gives no modality have modality 10000 (unknown).
CVol* VA_RAW_LoadVolume(const wchar_t* path, PR_VIEWFILT* filter, VA_RAWPARAMCALLBACK callback, bool* bigEndian,
                        bool show);
// VA_RAW_LoadVolume without filter and callback.
CVol* VA_RAW_CreateVol(const wchar_t* path, bool show);

// Writes a frame: timeIndex -1 writes all time points, t >= 0 only time point t. spc, orient and
// firstPos may be null (spacing 1, default orientation, origin); lastPos (may be null) gives the
// slice direction, otherwise the normal of the orientation is used. unit, filter and dyn (T records,
// or null) are stored where the format has room for them (".im" and ".time" keep all; NIfTI keeps
// the window as cal_min/cal_max and the rest in a comment extension).
bool VA_RAW_VolSaveFile(const wchar_t* path, const FRAME* frame, int timeIndex, const SPC* spc, const double* orient,
                        const DPOINT3D* firstPos, const DPOINT3D* lastPos, int modality, int mode,
                        const wchar_t* unit, const PR_VIEWFILT* filter, const DYNCRD* dyn, bool show);
// The value-array form: values holds dim's voxels of all its time points, x fastest, as unsigned
// 8/16/32-bit integers (bitsPerVoxel 8, 16, 32) or doubles (64).
bool VA_RAW_VolSaveFile(const wchar_t* path, const void* values, int bitsPerVoxel, const DIM3D* dim, int timeIndex,
                        const SPC* spc, const double* orient, const DPOINT3D* firstPos, const DPOINT3D* lastPos,
                        int modality, int mode, const wchar_t* unit, const PR_VIEWFILT* filter, const DYNCRD* dyn,
                        bool show);
// A NIfTI file from a value array (as the value-array form of VA_RAW_VolSaveFile, all time points).
bool VA_NiftiSaveVol(const wchar_t* path, const void* values, int bitsPerVoxel, const DIM3D* dim, const SPC* spc,
                     const double* orient, const DPOINT3D* firstPos, const DPOINT3D* lastPos, int modality,
                     const PR_VIEWFILT* filter, bool show);

// NumPy arrays. VA_NumpyLoad reads a .npy file (optionally gzip-compressed): ndim and shape (outermost
// axis first, at most VA_NUMPY_MAXDIMS axes), the element type and a new pf_malloc buffer of the
// elements in C order (x fastest) and native byte order; Fortran-ordered arrays are transposed.
constexpr int VA_NUMPY_MAXDIMS = 8;
bool VA_NumpyLoad(const wchar_t* path, int* ndim, uint64_t shape[VA_NUMPY_MAXDIMS], DTYPE* type, void** data,
                  bool show);
// W, H, D, T of a four-axis shape whose axes are named by order (a permutation of "tzyx"): the
// axis named 'x' gives W, and so on. False for an order that is no permutation of "tzyx".
bool PR_DimFromShapeAndOrder(const uint64_t shape[4], const wchar_t* order, int* w, int* h, int* d, int* t);
// Reorders the elements of a four-axis array whose axes are named by order into t, z, y, x order
// (x fastest), in place.
bool PR_NormalizeAxisOrder(void* data, DTYPE type, const uint64_t shape[4], const wchar_t* order);
// Complex elements to doubles: mode 1 magnitude, 2 real part, 3 imaginary part, 4 phase (radians).
// *data is replaced by a new pf_malloc array of count doubles and *type becomes DTYPE_FLOAT64.
bool PR_ComplexToRealConversion(void** data, DTYPE* type, int64_t count, int mode);
// Inverse 2D discrete Fourier transform of every image (width x height, x fastest) of a complex
// array, in place, normalised by 1/(width*height), with the zero frequency taken at the image centre
// (the spectrum is shifted before and the image after the transform).
bool PR_InverseFourier2D(void* data, DTYPE type, int64_t width, int64_t height, int64_t images);
// A new volume from raw elements in t, z, y, x order: dims, spacing, the dynamic kind (DYNDIM) and
// its values as text (comma-separated, one per time point; empty: 0, 1, 2, ...), named name.
// Complex types are refused (convert them first).
CVol* VA_LoadRawData(const void* data, DTYPE type, const DIM3D* dim, const SPC* spc, int dynKind,
                     const wchar_t* dynValues, const wchar_t* name, bool show);

// A volume with the given frame (taken: *frame is cleared) and name, default geometry.
CVol* VA_CreateBasicVolume(const wchar_t* name, FRAME** frame);

// Every NIfTI file of a folder (sorted by name) as the time points of one 4D volume; the files
// must have equal dimensions. b-values come from a ".bval" file of the folder when there is one.
CVol* VA_Load4DvolumeFromDWIfolderOfNIFTIimages(const wchar_t* workFolder, const wchar_t* folder, bool show);

// A text table: the first line holds the column names (separated by tabs, commas, semicolons or
// blanks), every further non-empty line one number per column. names: pf_malloc array of
// pf_malloc wide strings (free with pf_free_parr); values: pf_malloc array of columns*points
// doubles, column after column. False, with a message naming the file and line, when a line has
// the wrong number of values or a value is no number.
bool PR_LoadNcolumnFile(const wchar_t* path, wchar_t*** names, int* columns, int* points, double** values, bool show);
