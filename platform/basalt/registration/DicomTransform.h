#pragma once
// The transform between two volumes given by their patient geometry (DICOM orientation and image
// positions), in the convention of registration/Transform.h.

class CVol;

// The 4 x 4 matrix taking target voxel indices to source voxel indices so that every target voxel
// samples the source at its own place in the patient. With centring the positions are ignored: the
// orientations alone turn the grids, and the centre of the target grid lands on the centre of the
// source grid. Both volumes need a valid orientation ("Valid orientation is required in both
// volumes"), and without centring image positions ("Image positions are required in both volumes").
bool VA_GetInitTransformWithDicomTags(const CVol* source, const CVol* target, bool centring, double matrix[16],
                                      bool show = true);
