#pragma once
// Operations that combine several layers of a layer set into one result or split an ROI into
// perceived parts. Each returns true on success.

class CDrawSet;

namespace twk::roiops {

// A real 3D template sharpened by an integer 3D atlas (exactly these two layers), as "templ".
bool SharpenTemplateUsingAtlas(CDrawSet& set, bool unused);
// At least two real 3D probability layers combined into an atlas "atlas".
bool CombineProbMapsToAtlas(CDrawSet& set, bool unused);
// The principal components (how many asked) of the non-ROI 3D layers in a new document "_PCA",
// the last kept component first.
bool VolMultilayerPCA(CDrawSet& set, bool unused);
// The joint histogram of two marked signal layers (over a third, marked ROI when there is one) in
// a new document "Joint Histogram"; the number of bins is asked (2 to 4096).
bool GenerateTwoLayerJointHist(CDrawSet& set);
// Touching objects of the operand ROI separated after a peel (asked): mode 0 one label layer
// "base", else one layer per region; the source ROI goes when all were added.
bool RoiUnclumpComponents(CDrawSet& set, bool unused, int mode);

}  // namespace twk::roiops
