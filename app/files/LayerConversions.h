#pragma once
// Conversions of a layer's voxel kind or arrangement and the duplicate of a layer
// (LayerConversions.cpp). Messages read "CDrawSet::<operation> : ...".

class CDrawSet;

namespace twk::files {

// The operand ROI as an integer label layer "_integer", made active.
bool RoiToIntegerLayer(CDrawSet& set);
// The real operand as an integer layer of the given bits (asked first with ask), replacing it;
// refused when its values do not fit.
bool VolumeConversion_REALtoINT(CDrawSet& set, int bits, bool ask);
// The signal operand as a real layer "_real", made active.
bool SiVolumeToParamMap(CDrawSet& set);
// Every layer's 2D mosaic split into a volume, in a new document; askAlways asks the number of
// images even when the headers tell it.
bool Convert2DmosaicToVolume(CDrawSet& set, bool askAlways);
// A copy of the active layer named with "_copy", made active.
bool CloneLayer(CDrawSet& set);

}  // namespace twk::files
