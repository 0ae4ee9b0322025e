#pragma once
// The inner pieces of AutoFocus registration, shared by its .cpp files (no ITK here):
//   - AfImage: one time point as floats on its grid, void voxels as NaN, sampled trilinearly at
//     millimetre positions of its own frame (voxel centre of index i at i * spacing);
//   - AfAffine: a target-millimetre to source-millimetre map p_src = A p + b;
//   - AfMeasure: the similarity measures (lower is better) over a set of target points;
//   - the coarse grid search over the record's ranges.
// Every measure is taken where both volumes are defined: target points outside the mask or void
// are never sampled, points that map outside the source or onto a void are left out.

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "AutoFocus.h"
#include "TwkMem.h"
#include "TwkTypes.h"

namespace twk::af {

struct AfImage {
  int w = 0, h = 0, d = 0;
  double sx = 1, sy = 1, sz = 1;
  double ox = 0, oy = 0, oz = 0;  // millimetre position of voxel (0, 0, 0)
  std::vector<float> v;           // x fastest; NaN: void

  bool empty() const { return v.empty(); }
  float at(int x, int y, int z) const { return v[(size_t(z) * h + y) * w + x]; }
  // Trilinear value at millimetre position (x, y, z); false outside the grid or next to a void.
  // A single-slice axis reads its one slice at any position within half a voxel of it.
  bool sample(double x, double y, double z, double* value) const;
};

// Time point t of a frame as floats (ROI frames 0/1, the void value 1e60 as NaN).
bool afImageFromFrame(const FRAME* frame, int t, const SPC* spc, AfImage* out);
// Block averages of f x f x f voxels (an axis shorter than f keeps its voxels): the level images of
// the search. The centre of block I lies at origin + (I * f + (f - 1) / 2) * spacing of the original.
AfImage afShrink(const AfImage& in, const int f[3]);

struct AfAffine {
  double a[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  double b[3] = {0, 0, 0};
  void apply(const double p[3], double q[3]) const {
    for (int r = 0; r < 3; ++r) q[r] = a[r][0] * p[0] + a[r][1] * p[1] + a[r][2] * p[2] + b[r];
  }
  AfAffine then(const AfAffine& outer) const;  // outer o this
  AfAffine inverse() const;
  void jacobian(const double*, double j[3][3]) const {
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < 3; ++c) j[r][c] = a[r][c];
  }
};

// A second-order map in millimetres: the affine part plus, per source axis, six quadratic terms of
// u = (p - centre) / scale (uu, uv, uw, vv, vw, ww): q = A p + b + Q m(u). The normalised
// coordinates keep the quadratic coefficients in millimetres of displacement at the grid's edge.
struct AfQuadratic {
  AfAffine lin;
  double q[3][6] = {{0, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0}};
  double centre[3] = {0, 0, 0};
  double scale = 1;
  void apply(const double p[3], double out[3]) const {
    lin.apply(p, out);
    const double u = (p[0] - centre[0]) / scale, v = (p[1] - centre[1]) / scale, w = (p[2] - centre[2]) / scale;
    const double m[6] = {u * u, u * v, u * w, v * v, v * w, w * w};
    for (int r = 0; r < 3; ++r)
      out[r] += q[r][0] * m[0] + q[r][1] * m[1] + q[r][2] * m[2] + q[r][3] * m[3] + q[r][4] * m[4] + q[r][5] * m[5];
  }
  void jacobian(const double p[3], double j[3][3]) const {
    const double u = (p[0] - centre[0]) / scale, v = (p[1] - centre[1]) / scale, w = (p[2] - centre[2]) / scale;
    for (int r = 0; r < 3; ++r) {
      j[r][0] = lin.a[r][0] + (2 * q[r][0] * u + q[r][1] * v + q[r][2] * w) / scale;
      j[r][1] = lin.a[r][1] + (q[r][1] * u + 2 * q[r][3] * v + q[r][4] * w) / scale;
      j[r][2] = lin.a[r][2] + (q[r][2] * u + q[r][4] * v + 2 * q[r][5] * w) / scale;
    }
  }
};

// The target-to-source voxel-index polynomial of degree 2 (three rows of the ten terms x, y, z, 1,
// xx, xy, xz, yy, yz, zz) of a quadratic millimetre map.
void afQuadraticToIndexPolynomial(const AfQuadratic& m, const SPC& srcSpc, const SPC& tgtSpc, double coefficients[30]);

// The target-to-source voxel-index matrix (4 x 4, rows of four, translation last) of a millimetre
// map, and back.
void afAffineToIndexMatrix(const AfAffine& m, const SPC& srcSpc, const SPC& tgtSpc, double matrix[16]);
AfAffine afAffineFromIndexMatrix(const double matrix[16], const SPC& srcSpc, const SPC& tgtSpc);

// The search parameters of one candidate about the target centre c:
//   p_src = init( c + t + R(rx, ry, rz) * S(sx, sy, sz) * H(hxy, hxz, hyz) * (p - c) )
struct AfParams {
  double t[3] = {0, 0, 0};
  double r[3] = {0, 0, 0};  // degrees
  double s[3] = {1, 1, 1};
  double h[3] = {0, 0, 0};  // shears xy, xz, yz
};
AfAffine afCompose(const AfParams& p, const double centre[3], const AfAffine& init);

// The target samples of one level: millimetre positions, target values and, for the gradient
// measures, the target's normalised gradient vectors.
struct AfSamples {
  std::vector<std::array<float, 3>> pos;
  std::vector<float> value;
  std::vector<std::array<float, 3>> ngf;  // gradient measures only
  float lo = 0, hi = 1;                   // target value range (histograms)
  // The volume (mm^3) the samples stand for (0: unknown) and the least number of samples a map
  // must bring into the source for its measure to count (set by AfMeasure::prepare).
  double volume = 0;
  double leastUsed = 16;
};

// The least overlap a measure accepts, as a fraction of the overlap the two volumes could have at
// best (all samples, or as many as the source's volume holds when it is the smaller).
constexpr double kLeastOverlapFraction = 0.5;

// A similarity measure between a source and the target samples. The gradient measures read the
// source's texture gradient (three component images) with the noise level as epsilon.
class AfMeasure {
 public:
  AfMeasure(int code, int bins, const AfImage* source, const AfImage* sourceGrad, double sourceNoise);
  // Fills the per-sample data the measure needs (the target gradient for measures 5 and 6 from
  // targetGrad with its noise).
  void prepare(AfSamples* samples, const AfImage* targetGrad, double targetNoise) const;
  // The cost (lower is better) of the map over the samples; +inf with too little overlap (fewer
  // than samples.leastUsed of them inside the source). Measures taken over the overlap alone would
  // otherwise rate a sliver of flat background at the edge of a wide search above the true match.
  double cost(const AfSamples& samples, const AfAffine& m) const;
  double cost(const AfSamples& samples, const AfQuadratic& m) const;
  int code() const { return code_; }

 private:
  template <class Map>
  double costOf(const AfSamples& samples, const Map& m) const;
  int code_;
  int bins_;
  const AfImage* source_;
  const AfImage* grad_;  // three images gx, gy, gz
  double eps_;
  float lo_ = 0, hi_ = 1;  // source value range for the histograms
};

// Target samples at the voxel centres of a level image of the target (afShrink by f), inside the
// mask (one byte per voxel of the original grid, may be empty: the voxel nearest the block centre
// decides) and defined; thinned evenly to at most maxCount.
void afCollectSamples(const AfImage& level, const int f[3], const AfImage& target, const std::vector<uint8_t>* mask,
                      size_t maxCount, AfSamples* out);

// The coarse search: the record's translation ranges (mm), rotation, scale and shear grids about
// the target centre, stage by stage (translation; rotation; scale; shear), each stage starting
// from the best few of the one before and each candidate's translation refined within the range.
// Runs in parallel (oneTBB). Never leaves the ranges. Returns the best candidates, best first.
struct AfCandidate {
  AfParams p;
  double cost = 0;
};
// progress(percent) is called between stages on the calling thread; false stops the search (the
// result is then empty).
std::vector<AfCandidate> afCoarseSearch(const VA_AF3D& record, const AfMeasure& measure, const AfSamples& samples,
                                        const double centre[3], const AfAffine& init, double step, bool singleSlice,
                                        size_t keep, const std::function<bool(int)>& progress);

// A local pattern search of the transform type's parameters about the target centre (composed
// after *map), steps halving: translation from 0.5 mm, rotation from 0.25 degrees, scale and shear
// from 0.005, each down to a sixteenth. The polish of the fine optimisation for our own measures,
// whose numerical derivative leaves them short of the optimum on flat optima.
void afPolish(const AfMeasure& measure, const AfSamples& samples, const double centre[3], int transformType,
              bool singleSlice, AfAffine* map);

// The pattern search of a quadratic map's 30 coefficients (affine part and quadratic terms) from
// *map: translation steps from 1 mm, matrix steps from 0.01, quadratic terms from 1 mm, each down
// to a sixty-fourth. Single slices keep their out-of-plane terms.
void afPolishQuadratic(const AfMeasure& measure, const AfSamples& samples, bool singleSlice, AfQuadratic* map);

// ---- one registration, as the engine's entry points run it ----
// Everything one registration of a target time point needs, prepared once: the images, the mask,
// the texture gradients and noise levels of the gradient measures.
struct AfPrepared {
  AfImage source, target;
  std::vector<uint8_t> mask;
  AfImage sourceGrad[3], targetGrad[3];
  double sourceNoise = 0, targetNoise = 0;
  bool singleSlice = false;
};

// Prepares the images of source time point ts and target time point tt. The mask (target grid,
// time point 0) is used when the record asks for the target ROI, grown by the inflate. Refusals are
// reported under name.
bool afPrepare(const wchar_t* name, const VA_AF3D& rec, const FRAME* source, int ts, const SPC* srcSpc,
               const FRAME* target, int tt, const FRAME* mask, const SPC* tgtSpc, AfPrepared* p, bool show);
// The coarse search and fine optimisation from start; progress over from..to of the guard (may be
// null). False on failure (reported) or Esc (silent; guard->Stopped()).
bool afRegister(const wchar_t* name, const VA_AF3D& rec, const AfPrepared& p, const AfAffine& start,
                twk::ProgressGuard* guard, int from, int to, AfAffine* result, double* finalCost, bool show);
// The quadratic refinement of an affine result (transform types 3 and 4): the pattern search of
// the quadratic map at full resolution; "Polynomial Multipass" (4) searches the subsample's level
// first. False on Esc.
bool afRegisterQuadratic(const VA_AF3D& rec, const AfPrepared& p, const AfAffine& affine, twk::ProgressGuard* guard,
                         AfQuadratic* result, double* finalCost);
// The polish alone (afPolish at full resolution) of a map between prepared images.
void afPolishPrepared(const VA_AF3D& rec, const AfPrepared& p, AfAffine* map);
// The grids' centres laid onto each other.
AfAffine afCentreMap(const AfImage& source, const AfImage& target);

}  // namespace twk::af
