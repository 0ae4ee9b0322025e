#pragma once
// Operations of the geometry library that are not members of the layer set.

class CDrawSet;

// "Load Matlab Layer": a Matlab file chosen with the file picker, its first array of the base
// volume's width, height and depth (matfile/MatlabLayer.h tells the axis mapping) added to the set
// as a real layer named after the array. False on cancel or failure.
bool TW_LoadMatlabLayer(CDrawSet* set);
