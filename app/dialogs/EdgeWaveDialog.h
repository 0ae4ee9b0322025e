#pragma once
// "EdgeWave Parameters" (CDlgEdgeWave) and the EdgeWave parameter records that live as long as the
// program: the command record and the presets of the workflows.

#include <cstdint>

#include "TwkTypes.h"
#include "roi/EdgeWave.h"

// The record of "EdgeWave Basic" and "EdgeWave with N largest Connected Components".
extern VA_EW g_EdgeWaveParms;
// The brain profile ("Brain segmentation profile", "Brain EdgeWave\N3"): the command's values.
extern VA_EW g_EdgeWaveBrain;
// Absolute 500 to 1150 (per slice, peel 6, grow 7, largest component, no Gaussian downscale).
extern VA_EW g_EdgeWaveAbs500;
// Relative 0.2 to 1000, largest component (the PET brain mask).
extern VA_EW g_EdgeWaveRel02;
// Relative 0.4 to 1.35 (the MR brain masks).
extern VA_EW g_EdgeWaveRel04;

// The dialog on the record for an operand frame (its time point; an ROI frame greys the six
// signal controls, which keep their values), the voxel spacing (three doubles; null: 1.0 voxels),
// the time point (kept only) and the seed boxes: with exactly one seed the dialog shows "Seed average
// = %8.4lf"; an undefined average says "Invalid Seed-Volume combination" and cancels the dialog
// (a silent run goes on with its OK step). Without seeds, "Seed Components" becomes "Max Component
// only" and the signal units and texture are set to "Absolute SI" and "None" and greyed. Changing
// the distance units converts both distances by the smallest voxel size, rounded to 0.1. Silent:
// the stored values pass through the dialog's OK step. True on OK, when the record holds the values.
bool TW_DlgEdgeWave(bool silent, const FRAME* frame, const double* spacing, unsigned timePoint, const DRECT3D* seeds,
                    int numSeeds, VA_EW* record);
