#pragma once
// Pieces shared by the reference-tissue graphical analyses (Logan plot and the multilinear
// reference tissue models MRTM0, MRTM and MRTM2): the tables of the two models with the same
// settings and the search for the equilibration time t*. Nothing here keeps state.

#include <vector>

#include "CurveUtils.h"
#include "ModelFrame.h"

namespace kin::reference {

// Prepared by the init of MRTM0 and MRTM, read-only while curves are computed.
struct MultilinearTables {
  int n = 0;
  std::vector<double> times;        // seconds from the first frame
  std::vector<double> reference;    // the reference curve at those times
  std::vector<double> refIntegral;  // its running integral
  double startTime = 0, endTime = 3600;  // seconds
  double maxErr = 0.1;                   // fraction
  double threshold = 3;                  // curves whose mean is below it are background
};

// Their shared init: at least 3 frames, a valid time axis, a reference curve of the data's length
// prepared at the relative times, and the free parameters start, end (seconds), maximum error (%)
// and background threshold. Messages go under the init's name.
bool InitMultilinear(int type, const wchar_t* function, const INPUTFUNC* ifuncs, MultilinearTables& t);

// The running integral of a target curve over the frame times, into integral (n values); false for
// a background curve, whose mean is below threshold.
bool TargetIntegral(const double* curve, const double* times, int n, double threshold, std::vector<double>& integral);

// The equilibration start: the first frame s in [0, limit) whose regression from s on has its
// largest relative error below maxErr. regress(s, &error) fits from frame s and reports that error;
// it returns false when the solver fails. -1 when no frame qualifies or the solver fails.
template <class Regress>
int EquilibrationStart(int limit, double maxErr, Regress regress) {
  for (int s = 0; s < limit; ++s) {
    double error = 0;
    if (!regress(s, &error)) return -1;
    if (error < maxErr) return s;
  }
  return -1;
}

// The first frame of an MRTM0 or MRTM regression that ends at frame e of the n frames: the
// equilibration start when t* is wanted, else the frame nearest to the start time, fitted once.
// regress is as for EquilibrationStart; -1 when no frame qualifies or the fit fails.
template <class Regress>
int MultilinearStart(const MultilinearTables& t, int n, int e, bool searchTStar, Regress regress) {
  if (searchTStar) return EquilibrationStart(e - 1, t.maxErr, regress);
  const int s = NearestIndex(t.times.data(), n, t.startTime);
  if (e - s + 1 < 1 || !regress(s, nullptr)) return -1;
  return s;
}

}  // namespace kin::reference
