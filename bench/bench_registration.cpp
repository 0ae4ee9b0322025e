// AutoFocus registration against elastix in the same run: two 256^3 volumes (ch2better resampled
// to 256^3, the moving copy turned 5 degrees and moved 5 mm, scipy) registered rigidly by mutual
// information, by AutoFocus and by the elastix command-line tool with the equivalent parameter file
// bench/elastix_rigid_256.txt; each run's worst error at the corners of the brain's box (mm) is a
// counter. Motion correction: AF4D (Radial, cross correlation) of 20 frames of 128 x 128 x 32
// moved by up to 3 mm and 2 degrees, as frames per second.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "TwkMem.h"
#include "registration/AutoFocus.h"
#include "volume/Frame.h"

namespace {

const char* kScript = R"PY(
import numpy as np, nibabel as nib, sys
from scipy import ndimage as ndi
out = sys.argv[1]
img = nib.load('/usr/share/mricron/templates/ch2better.nii.gz')
a = np.asarray(img.dataobj, dtype=np.float64)
zoom = 256.0 / np.array(a.shape)
sp = 1.0 / zoom                       # the same field of view on 256^3 voxels
a = ndi.zoom(a, zoom, order=1)
def save(name, arr, spacing):
    np.asarray(arr.T, dtype=np.float32).tofile(out + name + '.raw')
    with open(out + name + '.mhd', 'w') as f:
        f.write('ObjectType = Image\nNDims = 3\nDimSize = %d %d %d\n' % arr.shape)
        f.write('ElementSpacing = %.9f %.9f %.9f\n' % tuple(spacing))
        f.write('Offset = 0 0 0\nTransformMatrix = 1 0 0 0 1 0 0 0 1\nElementType = MET_FLOAT\n')
        f.write('ElementDataFile = %s.raw\n' % name)
def rodrigues(axis, deg):
    k = np.asarray(axis, float) / np.linalg.norm(axis); t = np.radians(deg)
    K = np.array([[0, -k[2], k[1]], [k[2], 0, -k[0]], [-k[1], k[0], 0]])
    return np.eye(3) + np.sin(t) * K + (1 - np.cos(t)) * K @ K
def moved(b, spc, A, t):
    # source(q) = b(p) for q = A (p - c) + c + t (mm); returns the source and the true index matrix.
    c = (np.array(b.shape) - 1) / 2.0 * spc
    S = np.diag(spc); Si = np.diag(1 / spc)
    Ai = np.linalg.inv(A)
    M = Si @ Ai @ S
    off = Si @ (c - Ai @ (c + t))
    src = ndi.affine_transform(b, M, offset=off, order=1, mode='constant', cval=0.0)
    T = np.eye(4); T[:3, :3] = Si @ A @ S; T[:3, 3] = Si @ (c + t - A @ c)
    return src, T
A = rodrigues([1, 1, 1], 5.0); t = np.array([3.0, -4.0, 0.0])
src, T = moved(a, sp, A, t)
save('fixed', a, sp); save('moving', src, sp)
np.savetxt(out + 'truth.txt', T.reshape(1, 16))
np.savetxt(out + 'spacing.txt', sp.reshape(1, 3))
idx = np.argwhere(a > 0.25 * a.max()); lo, hi = idx.min(0), idx.max(0)
np.savetxt(out + 'corners.txt', np.array([[x, y, z] for x in (lo[0], hi[0]) for y in (lo[1], hi[1])
                                          for z in (lo[2], hi[2])], float))
# The series: a 128 x 128 x 32 slab of ch2better at 1 mm, 20 frames, frame 0 unmoved.
rng = np.random.default_rng(11)
b = np.asarray(img.dataobj, dtype=np.float64)
s0 = (np.array(b.shape) - np.array([128, 128, 32])) // 2
b = b[s0[0]:s0[0]+128, s0[1]:s0[1]+128, s0[2]:s0[2]+32]
one = np.ones(3)
frames, truths = [], []
for k in range(20):
    if k == 0:
        f, T = b, np.eye(4)
    else:
        ax = rng.normal(size=3)
        f, T = moved(b, one, rodrigues(ax, rng.uniform(-2, 2)), rng.uniform(-3, 3, 3))
    frames.append(f + rng.normal(0, 0.01 * b.max(), b.shape)); truths.append(T.reshape(16))
np.concatenate([np.asarray(f.T, dtype=np.float64).ravel() for f in frames]).tofile(out + 'series.raw')
np.savetxt(out + 'series_truth.txt', np.array(truths))
)PY";

struct Fixture {
  std::string dir;
  bool ready = false;
  double spacing[3] = {1, 1, 1};
  std::vector<double> truth, corners, seriesTruth;
};

std::vector<double> numbers(const std::string& path) {
  std::ifstream f(path);
  std::vector<double> v;
  double x;
  while (f >> x) v.push_back(x);
  return v;
}

const Fixture& fixture() {
  static Fixture f = [] {
    Fixture x;
    x.dir = "/tmp/twk_bench_registration_" + std::to_string(::getpid()) + "/";
    std::system(("mkdir -p " + x.dir).c_str());
    const std::string script = x.dir + "make.py";
    std::ofstream(script) << kScript;
    x.ready = std::system(("/usr/bin/python3 " + script + " " + x.dir).c_str()) == 0;
    if (!x.ready) return x;
    const std::vector<double> s = numbers(x.dir + "spacing.txt");
    for (int k = 0; k < 3; ++k) x.spacing[k] = s[size_t(k)];
    x.truth = numbers(x.dir + "truth.txt");
    x.corners = numbers(x.dir + "corners.txt");
    x.seriesTruth = numbers(x.dir + "series_truth.txt");
    return x;
  }();
  return f;
}

// A frame of doubles from a raw file of float32 (or float64) voxels, x fastest.
FRAME* readFrame(const std::string& path, DIM3D dims, bool float32) {
  FRAME* frame = PR_FrameCreate(FRM_REAL, 64, dims, false);
  std::ifstream f(path, std::ios::binary);
  const size_t n = size_t(dims.w) * dims.h * dims.d * dims.t;
  double* out = reinterpret_cast<double*>(frame->data);
  if (float32) {
    std::vector<float> v(n);
    f.read(reinterpret_cast<char*>(v.data()), std::streamsize(n * sizeof(float)));
    for (size_t i = 0; i < n; ++i) out[i] = v[i];
  } else {
    f.read(reinterpret_cast<char*>(out), std::streamsize(n * sizeof(double)));
  }
  return frame;
}

// The worst distance (mm) at the corners between a target-to-source index matrix and the truth.
double cornerError(const double m[16], const double* truth, const std::vector<double>& corners, const double sp[3]) {
  double worst = 0;
  for (size_t c = 0; c + 2 < corners.size(); c += 3) {
    double e = 0;
    for (int r = 0; r < 3; ++r) {
      double a = m[r * 4 + 3], b = truth[r * 4 + 3];
      for (int k = 0; k < 3; ++k) {
        a += m[r * 4 + k] * corners[c + size_t(k)];
        b += truth[r * 4 + k] * corners[c + size_t(k)];
      }
      e += (a - b) * (a - b) * sp[r] * sp[r];
    }
    worst = std::max(worst, std::sqrt(e));
  }
  return worst;
}

void BM_AutoFocusRigid256(benchmark::State& state) {
  const Fixture& fx = fixture();
  if (!fx.ready) {
    state.SkipWithError("the fixture could not be made");
    return;
  }
  FRAME* fixed = readFrame(fx.dir + "fixed.raw", DIM3D{256, 256, 256, 1}, true);
  FRAME* moving = readFrame(fx.dir + "moving.raw", DIM3D{256, 256, 256, 1}, true);
  const SPC spc{fx.spacing[0], fx.spacing[1], fx.spacing[2]};
  VA_AF3D r;
  r.measure = VA_REGMEASURE_MUTUAL_INFO;
  r.miBins = 32;
  r.subsample = 4;
  for (int k = 0; k < 3; ++k) r.translationMax[k] = 10;
  r.rotationGrid = r.scaleGrid = r.shearGrid = 1;
  r.power = 10;  // 250 iterations per level
  r.transformType = 1;
  double m[16];
  for (auto _ : state) {
    if (!VA_RegisterAF3Dto3DMatrix(r, L"", moving, &spc, fixed, nullptr, &spc, m, nullptr, false)) {
      state.SkipWithError("registration failed");
      break;
    }
  }
  state.counters["corner_error_mm"] = cornerError(m, fx.truth.data(), fx.corners, fx.spacing);
  PR_FrameDelete(&fixed);
  PR_FrameDelete(&moving);
}
BENCHMARK(BM_AutoFocusRigid256)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

// elastix's result: ITK's Euler transform (R = Rz Rx Ry about the centre of rotation), fixed mm to
// moving mm, turned into the index matrix.
bool elastixMatrix(const std::string& file, const double sp[3], double m[16]) {
  std::ifstream f(file);
  std::stringstream ss;
  ss << f.rdbuf();
  const std::string txt = ss.str();
  std::smatch pm, cm;
  if (!std::regex_search(txt, pm, std::regex(R"(\(TransformParameters ([^)]*)\))")) ||
      !std::regex_search(txt, cm, std::regex(R"(\(CenterOfRotationPoint ([^)]*)\))")))
    return false;
  std::istringstream ps(pm[1].str()), cs(cm[1].str());
  double p[6], c[3];
  for (double& v : p) ps >> v;
  for (double& v : c) cs >> v;
  const double cx = std::cos(p[0]), sx = std::sin(p[0]), cy = std::cos(p[1]), sy = std::sin(p[1]),
               cz = std::cos(p[2]), sz = std::sin(p[2]);
  const double Rx[3][3] = {{1, 0, 0}, {0, cx, -sx}, {0, sx, cx}}, Ry[3][3] = {{cy, 0, sy}, {0, 1, 0}, {-sy, 0, cy}},
               Rz[3][3] = {{cz, -sz, 0}, {sz, cz, 0}, {0, 0, 1}};
  double RzRx[3][3], R[3][3];
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      RzRx[i][j] = 0;
      for (int k = 0; k < 3; ++k) RzRx[i][j] += Rz[i][k] * Rx[k][j];
    }
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      R[i][j] = 0;
      for (int k = 0; k < 3; ++k) R[i][j] += RzRx[i][k] * Ry[k][j];
    }
  // q = R (p - c) + c + t in mm; p = sp * index.
  for (int i = 0; i < 3; ++i) {
    double b = c[i] + p[3 + i];
    for (int k = 0; k < 3; ++k) {
      m[i * 4 + k] = R[i][k] * sp[k] / sp[i];
      b -= R[i][k] * c[k];
    }
    m[i * 4 + 3] = b / sp[i];
  }
  m[12] = m[13] = m[14] = 0;
  m[15] = 1;
  return true;
}

void BM_ElastixRigid256(benchmark::State& state) {
  const Fixture& fx = fixture();
  if (!fx.ready) {
    state.SkipWithError("the fixture could not be made");
    return;
  }
  const std::string out = fx.dir + "elastix/";
  std::system(("mkdir -p " + out).c_str());
  const std::string command = "elastix -f " + fx.dir + "fixed.mhd -m " + fx.dir + "moving.mhd -p " +
                              std::string(TWK_BENCH_DIR) + "/elastix_rigid_256.txt -out " + out + " > /dev/null 2>&1";
  for (auto _ : state) {
    if (std::system(command.c_str()) != 0) {
      state.SkipWithError("elastix failed");
      return;
    }
  }
  double m[16];
  if (!elastixMatrix(out + "TransformParameters.0.txt", fx.spacing, m)) {
    state.SkipWithError("no elastix transform");
    return;
  }
  state.counters["corner_error_mm"] = cornerError(m, fx.truth.data(), fx.corners, fx.spacing);
}
BENCHMARK(BM_ElastixRigid256)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

void BM_AutoFocusMotionCorrection(benchmark::State& state) {
  const Fixture& fx = fixture();
  if (!fx.ready) {
    state.SkipWithError("the fixture could not be made");
    return;
  }
  FRAME* series = readFrame(fx.dir + "series.raw", DIM3D{128, 128, 32, 20}, false);
  const SPC spc{1, 1, 1};
  VA_AF4D r;
  r.measure = VA_REGMEASURE_CROSS_CORRELATION;
  VA_UralGradBasicParms(&r.ural, 0, 2.6, 0, 4.0);
  r.subsample = 1;
  for (int k = 0; k < 3; ++k) r.translationMax[k] = 20;
  r.rotationGrid = r.scaleGrid = r.shearGrid = 1;
  r.power = 1;
  r.transformType = 1;
  r.interpolation = 2;
  r.algorithm4D = 1;  // Radial
  r.saveTimepointTransform = 1;
  CString report;
  int base = 0;
  double seconds = 0;
  for (auto _ : state) {
    const auto t0 = std::chrono::steady_clock::now();
    FRAME* out = VA_RegisterAF4D_EX(&r, L"series", series, &spc, nullptr, 0, &base, &report, false);
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (!out) {
      state.SkipWithError("motion correction failed");
      break;
    }
    PR_FrameDelete(&out);
  }
  state.counters["frames_per_second"] = seconds > 0 ? 20.0 / seconds : 0.0;
  PR_FrameDelete(&series);
}
BENCHMARK(BM_AutoFocusMotionCorrection)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
