#include "roi/GeodesicFront.h"

#include <oneapi/tbb/parallel_for.h>
#include <oneapi/tbb/parallel_reduce.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <queue>
#include <vector>

namespace twk::geo {

namespace {

struct Step {
  int dx, dy, dz;
  float length;
  int64_t offset;  // in the box
};

// The box of the voxels the fronts may reach: the sources' box widened by the reach on each axis.
struct Box {
  int x0 = 0, y0 = 0, z0 = 0, w = 0, h = 0, d = 0;
  int64_t size() const { return int64_t(w) * h * d; }
};

// A step of a front into a voxel: the distance there, the distance of the voxel it comes from,
// that voxel (box index) and its label. Keys compare by (distance, previous distance, previous).
struct Proposal {
  int64_t to;
  float distance;
  float fromDistance;
  int64_t from;
  uint32_t label;
};

bool better(float d, float pd, int64_t p, float d0, float pd0, int64_t p0) {
  if (d != d0) return d < d0;
  if (pd != pd0) return pd < pd0;
  return p < p0;
}

struct Item {
  float distance;
  int64_t voxel;
  bool operator>(const Item& o) const { return distance != o.distance ? distance > o.distance : voxel > o.voxel; }
};
using Queue = std::priority_queue<Item, std::vector<Item>, std::greater<Item>>;

class Fronts {
 public:
  Fronts(const Grid& g, uint32_t* labels, const uint8_t* pass, double reach,
         const Box& box, const twk::ProgressGuard& progress)
      : g_(g), labels_(labels), pass_(pass), reach_(reach), box_(box), progress_(progress) {
    for (int dz = -1; dz <= 1; ++dz)
      for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) {
          if ((dx | dy | dz) == 0 || (!g.mode3D && dz != 0)) continue;
          steps_.push_back(Step{dx, dy, dz,
                                float(std::sqrt(dx * dx * g.sx * g.sx + dy * dy * g.sy * g.sy + dz * dz * g.sz * g.sz)),
                                (int64_t(dz) * box.h + dy) * box.w + dx});
        }
  }

  bool allocate() {
    try {
      distance_.assign(size_t(box_.size()), std::numeric_limits<float>::infinity());
      fromDistance_.assign(size_t(box_.size()), 0.f);
      via_.assign(size_t(box_.size()), kNoStep);
    } catch (const std::bad_alloc&) {
      return false;
    }
    return true;
  }

  // Global voxel of a box voxel.
  int64_t global(int64_t k) const {
    const int x = int(k % box_.w), y = int((k / box_.w) % box_.h), z = int(k / (int64_t(box_.w) * box_.h));
    return (int64_t(z + box_.z0) * g_.dim.h + (y + box_.y0)) * g_.dim.w + (x + box_.x0);
  }

  // Sources of the planes [z0, z1] of the box with a passable unlabelled neighbour go to the queue.
  void seed(int z0, int z1, Queue& queue) {
    for (int z = z0; z <= z1; ++z)
      for (int y = 0; y < box_.h; ++y)
        for (int x = 0; x < box_.w; ++x) {
          const int64_t k = (int64_t(z) * box_.h + y) * box_.w + x;
          if (labels_[size_t(global(k))] == 0) continue;
          distance_[size_t(k)] = 0.f;
          bool open = false;
          for (const Step& s : steps_) {
            const int nx = x + s.dx, ny = y + s.dy, nz = z + s.dz;
            if (nx < 0 || ny < 0 || nz < 0 || nx >= box_.w || ny >= box_.h || nz >= box_.d) continue;
            const int64_t j = global(k + s.offset);
            if (pass_[size_t(j)] && labels_[size_t(j)] == 0) {
              open = true;
              break;
            }
          }
          if (open) queue.push({0.f, k});
        }
  }

  // Grows the slab [z0, z1] from its queue; steps out of it go to the outboxes below and above.
  bool run(int z0, int z1, Queue& queue, std::vector<Proposal>& down, std::vector<Proposal>& up) {
    int64_t popped = 0;
    const double limit = reach_ + 1e-4;
    while (!queue.empty()) {
      const Item top = queue.top();
      queue.pop();
      const int64_t i = top.voxel;
      if (top.distance > distance_[size_t(i)]) continue;
      if ((++popped & 0xFFFF) == 0 && progress_.Stopped()) return false;
      const int64_t gi = global(i);
      if (pass_[size_t(gi)] == 2 && top.distance > 0.f) continue;  // an edge voxel is reached, not passed
      const uint32_t label = labels_[size_t(gi)];
      const int x = int(i % box_.w), y = int((i / box_.w) % box_.h), z = int(i / (int64_t(box_.w) * box_.h));
      for (const Step& s : steps_) {
        const int nx = x + s.dx, ny = y + s.dy, nz = z + s.dz;
        if (nx < 0 || ny < 0 || nz < 0 || nx >= box_.w || ny >= box_.h || nz >= box_.d) continue;
        const int64_t j = i + s.offset;
        const int64_t gj = global(j);
        if (!pass_[size_t(gj)]) continue;
        const float nd = top.distance + s.length;
        if (nd > limit) continue;
        const Proposal p{j, nd, top.distance, i, label};
        if (nz < z0) down.push_back(p);
        else if (nz > z1) up.push_back(p);
        else if (apply(p)) queue.push({nd, j});
      }
    }
    return true;
  }

  // Takes a proposal when it beats the voxel's key, or when it comes from the voxel's own
  // predecessor with a new label; true when the voxel changed.
  bool apply(const Proposal& p) {
    const size_t j = size_t(p.to);
    if (distance_[j] == 0.f) return false;  // a source
    const uint8_t via = via_[j];
    const int64_t from = via == kNoStep ? std::numeric_limits<int64_t>::max() : p.to - steps_[via].offset;
    const size_t gj = size_t(global(p.to));
    if (better(p.distance, p.fromDistance, p.from, distance_[j], fromDistance_[j], from)) {
      distance_[j] = p.distance;
      fromDistance_[j] = p.fromDistance;
      via_[j] = stepOf(p.to - p.from);
      labels_[gj] = p.label;
      return true;
    }
    if (p.from == from && p.distance == distance_[j] && p.fromDistance == fromDistance_[j] && labels_[gj] != p.label) {
      labels_[gj] = p.label;
      return true;
    }
    return false;
  }

  float distanceOf(int64_t k) const { return distance_[size_t(k)]; }

 private:
  static constexpr uint8_t kNoStep = 0xFF;

  uint8_t stepOf(int64_t offset) const {
    for (size_t s = 0; s < steps_.size(); ++s)
      if (steps_[s].offset == offset) return uint8_t(s);
    return kNoStep;
  }

  const Grid& g_;
  uint32_t* labels_;
  const uint8_t* pass_;
  double reach_;
  Box box_;
  const twk::ProgressGuard& progress_;
  std::vector<Step> steps_;
  std::vector<float> distance_, fromDistance_;
  std::vector<uint8_t> via_;
};

// The sources' box widened by the reach (the whole grid for an unbounded reach); empty without sources.
Box boxOf(const Grid& g, const uint32_t* labels, double reach) {
  const DIM3D& d = g.dim;
  struct Bounds {
    int x0 = INT32_MAX, y0 = INT32_MAX, z0 = INT32_MAX, x1 = -1, y1 = -1, z1 = -1;
  };
  const Bounds b = tbb::parallel_reduce(
      tbb::blocked_range<int>(0, d.d), Bounds{},
      [&](const tbb::blocked_range<int>& r, Bounds acc) {
        for (int z = r.begin(); z != r.end(); ++z)
          for (int y = 0; y < d.h; ++y) {
            const uint32_t* line = labels + (size_t(z) * d.h + y) * d.w;
            int first = -1, last = -1;
            for (int x = 0; x < d.w; ++x)
              if (line[x]) {
                if (first < 0) first = x;
                last = x;
              }
            if (first < 0) continue;
            acc.x0 = std::min(acc.x0, first);
            acc.x1 = std::max(acc.x1, last);
            acc.y0 = std::min(acc.y0, y);
            acc.y1 = std::max(acc.y1, y);
            acc.z0 = std::min(acc.z0, z);
            acc.z1 = std::max(acc.z1, z);
          }
        return acc;
      },
      [](Bounds a, const Bounds& c) {
        a.x0 = std::min(a.x0, c.x0);
        a.y0 = std::min(a.y0, c.y0);
        a.z0 = std::min(a.z0, c.z0);
        a.x1 = std::max(a.x1, c.x1);
        a.y1 = std::max(a.y1, c.y1);
        a.z1 = std::max(a.z1, c.z1);
        return a;
      });
  Box box;
  if (b.x1 < 0) return box;
  // A path moves at most one voxel per axis a step, each at least that axis's spacing long.
  const auto margin = [&](double spacing, int size) {
    const double m = std::floor((reach + 1e-4) / std::max(spacing, 1e-30)) + 1;
    return m >= size ? size : int(m);
  };
  const int mx = margin(g.sx, d.w), my = margin(g.sy, d.h), mz = g.mode3D ? margin(g.sz, d.d) : 0;
  box.x0 = std::max(0, b.x0 - mx);
  box.y0 = std::max(0, b.y0 - my);
  box.z0 = std::max(0, b.z0 - mz);
  box.w = std::min(d.w - 1, b.x1 + mx) - box.x0 + 1;
  box.h = std::min(d.h - 1, b.y1 + my) - box.y0 + 1;
  box.d = std::min(d.d - 1, b.z1 + mz) - box.z0 + 1;
  return box;
}

}  // namespace

bool grow(const Grid& g, uint32_t* labels, const uint8_t* pass, double reach, const twk::ProgressGuard& progress,
          int slabPlanes) {
  if (!(reach > 0)) return true;
  const Box box = boxOf(g, labels, reach);
  if (box.size() == 0) return true;
  Fronts fronts(g, labels, pass, reach, box, progress);
  if (!fronts.allocate()) return false;
  const int planes = !g.mode3D ? 1 : slabPlanes > 0 ? slabPlanes : std::clamp(box.d / 16, 4, 16);
  const int slabs = (box.d + planes - 1) / planes;
  std::vector<Queue> queues(static_cast<size_t>(slabs));
  std::vector<std::vector<Proposal>> down(static_cast<size_t>(slabs)), up(static_cast<size_t>(slabs));
  std::atomic<bool> stopped{false};
  tbb::parallel_for(0, slabs, [&](int s) {
    fronts.seed(s * planes, std::min(box.d, (s + 1) * planes) - 1, queues[size_t(s)]);
  });
  for (;;) {
    tbb::parallel_for(0, slabs, [&](int s) {
      if (!fronts.run(s * planes, std::min(box.d, (s + 1) * planes) - 1, queues[size_t(s)], down[size_t(s)],
                      up[size_t(s)]))
        stopped = true;
    });
    if (stopped || progress.Stopped()) return false;
    // Hand the steps over: slab s takes what s - 1 sent up and s + 1 sent down, in the order sent.
    std::atomic<bool> moved{false};
    tbb::parallel_for(0, slabs, [&](int s) {
      for (const std::vector<Proposal>* sent : {s > 0 ? &up[size_t(s - 1)] : nullptr,
                                                s + 1 < slabs ? &down[size_t(s + 1)] : nullptr}) {
        if (!sent) continue;
        for (const Proposal& p : *sent)
          if (fronts.apply(p)) {
            queues[size_t(s)].push({p.distance, p.to});
            moved = true;
          }
      }
    });
    for (int s = 0; s < slabs; ++s) {
      down[size_t(s)].clear();
      up[size_t(s)].clear();
    }
    if (!moved) return true;
  }
}

}  // namespace twk::geo
