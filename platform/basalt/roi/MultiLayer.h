#pragma once
// Operations of the imaging core over several layers: joint histograms, stacks and principal
// components, atlases from probability maps, template sharpening with an atlas, and the split of
// an ROI into its perceived (unclumped) components.
//
// Methods:
// Joint histogram: numpy.histogram2d's binning over the voxels where both volumes are defined
// (and inside the ROI when one is given): each axis spans the minimum to the maximum of its volume
// over those voxels in bins equal bins, the last closed; a flat axis spans v - 0.5 .. v + 0.5.
// Principal components: every voxel defined at all time points is a sample of the time points;
// the samples are centred on their mean, the covariance matrix's eigenvectors (Eigen) sorted by
// decreasing eigenvalue give the components, and component j at a voxel is its centred sample
// projected on eigenvector j (the sign makes the eigenvector's largest element positive).
// Atlas of probability maps: each voxel takes 1 + the index of the map with the largest value
// (the first on ties), 0 where no map holds a positive value.
// Template sharpening: each voxel of atlas label L >= 1 takes the template's mean over label L,
// so that edges between the atlas's structures are steps; the background (label 0) keeps the
// template's values.
// Unclump: the ROI's inside distance map (on the given spacing) is flooded from markers by a
// morphological watershed (ITK) restricted to the ROI. The markers are the pieces of the ROI
// deeper than peel (mm); with peel 0 they are the distance map's regional maxima after an
// h-maxima transform of one voxel's size, which ignores the grid's small ridges. A connected part
// of the ROI without a marker keeps one label of its own. Labels are numbered by decreasing size.
#include <cstdint>
#include "TwkTypes.h"

// The joint histogram of time point 0 of two volumes of one size (over a 3D ROI of that size when
// roi is given) as a new 64-bit real frame of bins x bins x 1 counts: x the first volume's bin,
// y the second's. bins must be 2..4096. Null (reported when show is set) on bad arguments, no
// voxel to count or no memory.
FRAME* VA_CalcJointHist(const FRAME* first, const FRAME* second, const FRAME* roi, int bins, bool show);
// n 3D volumes of one size stacked as the time points of a new 64-bit real frame (voids kept).
FRAME* VA_VolArrTo4D(const FRAME* const* frames, int n, bool show);
// The first k principal components of the time points of a frame as a new 64-bit real frame of k
// time points (void where a voxel is not defined at every time point). k must be 1..time points.
FRAME* VA_Vol4DtoPCA(const FRAME* frame, int k, bool show);
// The atlas (32-bit integer labels) of count real 3D probability maps of one size.
FRAME* VA_CombineProbabMapsIntoAtlas(const FRAME* const* maps, int count, bool show);
// The template (real 3D) sharpened by the atlas (integer 3D of the same size) as a new real frame.
FRAME* VA_SharpenTemplateUsingAtlas(const FRAME* templ, const FRAME* atlas, bool show);
// The perceived components of time point 0 of the ROI as a 32-bit integer label frame (0 outside).
// peel must not be negative; reserved is not used. Null (reported when show is set) for an empty
// ROI, bad arguments, Esc or no memory.
FRAME* VA_RoiUnlump(const FRAME* roi, const SPC* spc, double peel, double reserved, bool show);
