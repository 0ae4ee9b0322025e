#pragma once
// Regularised parametric maps for the parametric-map driver: the models that fit a whole region at
// once (optimisation 7) and the conversion of their maps into the driver's output arrays.

#include "TwkTypes.h"

class CDynExp;
class CVol;

// Fits the current settings of the model over the one ROI given, within the volume's non-void
// voxels. Unless silent, the fitting error tolerance is asked (1.0 at every call). Returns a new
// pf_malloc array of one buffer per requested output, in output order, each of width x height x
// depth values (free with pf_free_parr); null on failure (reported) or when cancelled or stopped.
// The atlas and the flag are not used by the regularised fits.
double** GOMR_CalculateMap(bool silent, int model, CDynExp* experiment, CVol* volume, CVol* atlas, CVol** rois,
                           int roiCount, bool flag);

// The output arrays of a regularised fit: for each output k of the model (outputCount in all) whose
// requested flag is set, in order, the map the model's table names: a parameter map, the additional
// map, zeros, or, for an output the regularised fit does not give, an undefined map (1e60). null
// (reported) for a model without a regularised fit or a map that cannot be read.
double** GOMRconvertToDEMPoutput(int model, int outputCount, const int* requested, int requestedCount, FRAME** maps,
                                 FRAME* additional);

// Does the model's allowed-optimisation mask hold any of its three lowest bits.
bool TW_ModelSupportsGOMR(CDynExp* experiment, int model);
