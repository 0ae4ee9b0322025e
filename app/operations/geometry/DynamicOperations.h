#pragma once
// Operations on 4D series of the layer sets: the SUV map, the subtraction series, aggregation of
// equal dynamic values, 3D layers stacked into one 4D volume, maps over an interval of time points,
// mutual information across time points, principal components, the time axis traded for the depth
// axis and back, the empty border of a PET volume cropped away, playing the time points in every
// document that shares the dynamic axis, and the maps and reports of 4D series.

class CDrawDoc;
class CDrawSet;
class CDrawView;

namespace twk::geometry {

// The SUV map of the PET operand as a new layer.
bool SUVmapCalculation(CDrawSet& set);
// V[t] - V[1] of the 4D operand as the layer "subtraction volume".
void DynSubtractionVolume(CDrawSet& set);
// The active 4D layer's time points of equal dynamic value aggregated (type 0 mean, 1 median, 2
// residual, 3 relative residual) into a new document.
bool AggregateDynamicPoints(CDrawSet& set, int type);
// The non-ROI 3D layers of the document's active set stacked by time into one 4D volume in a new
// document; null (after its message, prefixed "TW_ConvertDocumentLayersTo4D") when they cannot be.
CDrawDoc* ConvertDocumentLayersTo4D(CDrawDoc& doc);
// The mutual information (measure) of the 4D operand across its time points over the optional ROI.
bool Cross4DMutualInfoOverRoi(CDrawSet& set, int measure);
// The average (mode 0), integral (1) or maximum (2) of the 4D operand over a time interval (asked
// with ask), as a new active layer.
bool DynamicAccumulate(CDrawSet& set, int mode, bool ask);
// The principal components of the 4D operand (how many asked unless withoutPrompt) in a new
// document.
bool Volume4DtoPCA(CDrawSet& set, bool withoutPrompt);
// The active layer's time points laid along the depth ("_TtoD"), and back ("_DtoT"), in new
// documents.
bool VolumeTimeToDepth(CDrawSet& set);
bool VolumeDepthToTime(CDrawSet& set, CDrawView* view);
// "PET - Crop empty areas": the single layer cropped to where its maximum over time exceeds the
// entered fraction of its largest value, into a new document.
bool CropEmptyAreas(CDrawSet& set, CDrawView* view);
// The sets of all open documents whose 4D layer has this set's dynamic axis (label, unit and
// values equal); this set first. A pf_malloc array the caller frees.
bool FindTimeSyncedSets(CDrawSet& set, CDrawSet*** sets, int* count);
// The time points shown one after the other in every view of the time-synced sets, from the view's
// own, with the entered delay; Esc stops.
bool Play4D(CDrawSet& set, CDrawView* view);
// The multi-echo 4D operand fitted to S0 and T2 (smoothed first when the smoothing dialog ends with
// OK) into a new document.
bool ExtrapolateMultiechoToTE0(CDrawSet& set);
// The IVIM residual map "rmse" from the parameter map layers of the set.
bool RestoreIvimResidualMap(CDrawSet& set);
// Every view of the document moved to the time point at which the seed box's signal peaks.
bool AdvanceToTimepointOfVroiPeak(CDrawSet& set, CDrawView* view);
// The basic 4D gradient of the operand (within the one ROI, when there is one) as a new layer.
bool Basic4Dgradient(CDrawSet& set);
// The image gradient averaged over time as a layer, and its lines over the ROI's voxels in the view.
bool ImageGradientAverageOverTime(CDrawSet& set, CDrawView* view);
// The breast BPE map of the 4D operand over the ROI at the entered threshold, with its report.
bool BPEmapAnalysisAndReport(CDrawSet& set, bool unused);
// The multiscale texture gradient of the 4D operand aggregated over time (g_UralGradParms).
bool AggregateGrad4D(CDrawSet& set);

}  // namespace twk::geometry
