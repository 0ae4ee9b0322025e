#pragma once
// Inside the network library, without the tensor library: messages (deferred while parallel
// tasks run), the export guard, the model configuration file, label names, path and log helpers,
// the checks of the training record, and scoped owners of counted memory and progress.

#include <cstdio>
#include <optional>
#include <string>
#include <utility>

#include "CString.h"
#include "TwkANN.h"
#include "TwkMem.h"
#include "TwkUi.h"

// ---------------------------------------------------------------------------------------------
// Messages
// ---------------------------------------------------------------------------------------------

// A message box through the UI interface. Shown at once on the thread that runs the export; a
// message raised on any other thread (a oneTBB worker of a parallel step) is kept and shown by
// ANN_FlushDeferredMessages, which the parallel steps call after their join.
void ANN_ShowMessage(const CString& text, unsigned type = MB_OK);
// "<name> : <message>" in a plain box, the library's failure report.
void ANN_NamedMessage(const wchar_t* name, const CString& message);
void ANN_FlushDeferredMessages();
// Marks the calling thread as the one whose messages are shown at once (set by the export guard).
void ANN_SetMessageThread();

// The text of the exception being handled: the tensor library's message without its backtrace,
// or what() of any other standard exception.
CString ANN_CurrentExceptionText();

// Runs an export's body: no exception leaves it. A caught exception is shown as
// "<name> : Error : \n<text>" with the information icon and gives failure.
template <class R, class F>
R ANN_Guarded(const wchar_t* name, R failure, F&& body) {
  ANN_SetMessageThread();
  try {
    return body();
  } catch (...) {
    ANN_FlushDeferredMessages();
    twk::ui().messageBox(CString(name) + L" : Error : \n" + ANN_CurrentExceptionText(), L"Tarnwick",
                         MB_OK | MB_ICONINFORMATION);
  }
  return failure;
}

// ---------------------------------------------------------------------------------------------
// Model configuration file and training records
// ---------------------------------------------------------------------------------------------

// Writes the 55 kinds of "key=value\n" lines of the model and training records; false when the
// file cannot be written.
bool ANN_WriteModelCfg(const wchar_t* path, const ANNMODELCFG* cfg, const ANNTRAINPARM* parm);
// Reads the model keys of a .mcfg file into cfg (absent keys keep the caller's values). False
// when the file cannot be opened, the catsz lines after NumCat are missing, or a value is refused:
// an even or non-positive ConvKern, BaseChan, uInChan or Ti below 1, Wi or Hi below 16,
// numClassesMC outside 1..256, a negative SlabR, a SignalNorm that is no DATANORMMETHOD, NumCat
// outside 0..32, a catsz below 1, a DropRate outside [0, 1).
bool ANN_ReadModelCfg(const wchar_t* path, ANNMODELCFG* cfg);

// Name of class index under label scheme 1 (nine labels) or 2 (three labels); empty otherwise.
void ANN_LabelName(CString& out, int scheme, int index);
void ANN_LabelName9(CString& out, int index);
void ANN_LabelName3(CString& out, int index);

// The UTF-8 name of a wide path, as files are opened.
std::string ANN_NarrowPath(const wchar_t* path);
FILE* ANN_OpenFile(const wchar_t* path, const char* mode);
// Writes wide text as UTF-16LE code units (no byte-order mark); false on a write error.
bool ANN_WriteUtf16(FILE* file, const CString& text);
// printf-style narrow text; false on a write error.
bool ANN_Printf(FILE* file, const char* format, ...) __attribute__((format(printf, 2, 3)));
// The path without its extension followed by suffix ("a/m.pt", "_f0.pt" -> "a/m_f0.pt").
CString ANN_FoldFileName(const wchar_t* path, const char* suffix);

// Checks of a training record before any work starts; each refusal is shown as
// "<name> : <message>". BRUNET2D: NumClasses 2..32, MicrobatchLng at least 1, TensorType 6,
// SlabR at least 0, class weights and class loss weights of positive sum, model, configuration
// and output-log paths given. Xnet/Ynet: NumClasses 2..32, class weights of positive sum, model
// and configuration paths. 3D U-Nets: NumBaseFeatureLayers at least 1.
enum class ANN_Family { Brunet2D, Xnet, Unet3D };
bool ANN_CheckTrainParm(const wchar_t* name, const ANNTRAINPARM* parm, ANN_Family family);
// The model configuration of a 2D training: kernel 3, no categories, the record's dropout, base
// channels, residual flag, slab radius, classes and signal normalisation, the given input channels
// and the data's width, height and time points.
ANNMODELCFG ANN_ModelConfigOf(const ANNTRAINPARM* parm, int channels, const DIM3D& dims);

// Every file title carries a number and no two carry the same; else "Invalid file name : <file>"
// or "Repeating input file index" (prefixed "CheckPresentUniqueIndices : ") and false.
bool CheckPresentUniqueIndices(const wchar_t* const* files, int n);

// ---------------------------------------------------------------------------------------------
// Training and test sets of the Xnet, Ynet and 3D U-Net trainings
// ---------------------------------------------------------------------------------------------
//
// They come from a folder of "image_<n>.nii" and "mask_<n>.nii" pairs, as the preparation exports
// write them, sorted by number. The split is fixed: the pair at sorted position p tests when
// p % 5 == 4; with fewer than five pairs the last one tests. At least two pairs are needed.

// A set of samples: two arrays of count counted blocks, freed with the set.
struct ANN_SampleSet {
  void** images = nullptr;
  void** labels = nullptr;
  int64_t count = 0;
  ANN_SampleSet() = default;
  ANN_SampleSet(const ANN_SampleSet&) = delete;
  ANN_SampleSet& operator=(const ANN_SampleSet&) = delete;
  ~ANN_SampleSet();
};
bool ANN_IsTestPair(int position, int pairs);
// 2D samples: every slice z of a pair is a sample of (2*slabR+1)*T channels (slice z and its
// neighbours, every time point; W x H x channels floats, signal normalised per volume) with the
// mask's slice z as labels (W x H bytes, values below numClasses). All pairs share W, H and T.
// dims gets W, H, 1, T; channels the channel count. Refusals are shown as "<name> : <message>".
bool ANN_LoadSlicePairs(const wchar_t* name, const wchar_t* folder, int slabR, int normMethod, double lo, double hi,
                        int numClasses, ANN_SampleSet* train, ANN_SampleSet* test, DIM3D* dims, int* channels, bool show);
// 3D samples: every pair is one volume of W x H x D elements of tensorType (TORCHDT_FLOAT32 or
// TORCHDT_FLOAT64), its label the mask's foreground (1 where the mask is above 0, else 0) in the
// same type. All pairs share W, H and D.
bool ANN_LoadVolumePairs(const wchar_t* name, const wchar_t* folder, int tensorType, int normMethod, double lo,
                         double hi, ANN_SampleSet* train, ANN_SampleSet* test, DIM3D* dims, bool show);

// ---------------------------------------------------------------------------------------------
// Scoped owners
// ---------------------------------------------------------------------------------------------

// A counted block released with pf_free at the end of the scope.
template <class T>
struct ANN_Counted {
  T* p = nullptr;
  ANN_Counted() = default;
  explicit ANN_Counted(T* q) : p(q) {}
  ANN_Counted(const ANN_Counted&) = delete;
  ANN_Counted& operator=(const ANN_Counted&) = delete;
  ~ANN_Counted() { pf_free(&p); }
  T* get() const { return p; }
  T& operator[](int64_t i) const { return p[i]; }
  explicit operator bool() const { return p != nullptr; }
};

// An array of counted blocks released with pf_free_parr.
struct ANN_CountedArray {
  void** p = nullptr;
  int64_t n = 0;
  ANN_CountedArray() = default;
  ANN_CountedArray(const ANN_CountedArray&) = delete;
  ANN_CountedArray& operator=(const ANN_CountedArray&) = delete;
  ~ANN_CountedArray() { pf_free_parr(&p, n); }
};

// A frame deleted at the end of the scope unless released.
struct ANN_FrameOwner {
  FRAME* p = nullptr;
  explicit ANN_FrameOwner(FRAME* f = nullptr) : p(f) {}
  ANN_FrameOwner(const ANN_FrameOwner&) = delete;
  ANN_FrameOwner& operator=(const ANN_FrameOwner&) = delete;
  ~ANN_FrameOwner();
  FRAME* release() { return std::exchange(p, nullptr); }
};

// An open file closed at the end of the scope.
struct ANN_File {
  FILE* f = nullptr;
  explicit ANN_File(FILE* file = nullptr) : f(file) {}
  ANN_File(const ANN_File&) = delete;
  ANN_File& operator=(const ANN_File&) = delete;
  ~ANN_File() {
    if (f) std::fclose(f);
  }
};

// The epoch log of a run at path (none when the path is null or empty) with its header line; false
// after "<name> : Unable to create Output Log" when it cannot be created, or on a write error.
struct ANN_File;
bool ANN_OpenEpochLog(const wchar_t* name, const wchar_t* path, const char* header, ANN_File* log);

// The random generator of a training run (seed 100), deleted at the end of the scope.
struct ANN_RandGen {
  PR_RANDGEN* p = PR_InitRandGen(100);
  ANN_RandGen() = default;
  ANN_RandGen(const ANN_RandGen&) = delete;
  ANN_RandGen& operator=(const ANN_RandGen&) = delete;
  ~ANN_RandGen() { PR_DeleteRandGen(&p); }
};

// The progress display of a run, held through the utility library's scoped guard: started with a
// title, ended at the end of the scope or by end(); start() ends it and starts it again.
class ANN_Progress {
 public:
  ANN_Progress(const CString& title, bool show) : show_(show) { start(title); }
  void start(const CString& title) {
    guard_.reset();
    guard_.emplace(title.GetString(), show_);
  }
  void end() { guard_.reset(); }
  // Step i of n on startPercent..endPercent of the bar; false once Esc stopped the work.
  bool step(int64_t i, int64_t n, int64_t startPercent, int64_t endPercent) {
    return !guard_ || guard_->Step(i, n, startPercent, endPercent);
  }
  // One training step of total on 1..98 % with the status line and the remaining time; false after
  // "<name> : Training stopped by the user" when Esc stopped the run.
  bool trainingStep(const wchar_t* name, int64_t i, int64_t total, const CString& line, long startClock, bool show) {
    if (!step(i, total, 1, 98)) {
      ANN_NamedMessage(name, L"Training stopped by the user");
      return false;
    }
    PR_DisplayRemainingTime(line, startClock, i, total, show);
    return true;
  }

 private:
  bool show_;
  std::optional<twk::ProgressGuard> guard_;
};
