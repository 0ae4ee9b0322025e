#pragma once
// Detectors of the layer sets: dark or bright spots and ridges of a 3D signal volume. Without a 3D
// signal operand: "3D volume is required".

class CDrawSet;
struct VA_RIDGEPARM;

namespace twk::seg {

// Dark (bright false) or bright spots of the operand (the "Detect Spots" dialog first) as a layer
// "spots".
bool DetectSpots(CDrawSet& set, bool bright);
// Ridges of the operand ("CDrawSet::SegmentRidges"): the dialog (silent: without showing it), then
// a new document of the detection's base named "<name>_base" holding the ridges as its layer
// "Ridges". True when made.
bool SegmentRidges(CDrawSet& set, bool bright, VA_RIDGEPARM* record, bool silent);

}  // namespace twk::seg
