#pragma once
// Signal-to-concentration conversion of dynamic curves (VA_CONCCONV records, DynExp.h).
//
// Every method works on one curve at a time: the baseline signal S0 is the mean of the curve's
// baseline points (see VA_ConcBaselineSpan), and the concentration C (mM) at each point follows
// from the signal S there. r1 is the agent's relaxivity (1/(mM*s)); for the susceptibility method it
// is read as the transverse relaxivity r2*, for the CT method as the enhancement per mM (HU/mM).
// Blood and input-function records carry a haematocrit: their concentration is the plasma's,
// C / (1 - HCT) (HCT is 0 in tissue records).
//
//  method  name                                   formula (S0 baseline, R10 = 1/T10)
//  0       "Signal"                               C = S (no conversion)
//  1       "Relative enhancement"                 C = (S/S0 - 1) / r1
//  2       "Absolute enhancement"                 C = (S - S0) / r1
//  3       "T2* susceptibility (DSC)"             C = -ln(S/S0) / (r1 * TE)
//                                                 (Rosen et al., Magn Reson Med 1990;14:249)
//  4       "Spoiled gradient echo (tissue T1)"    SPGR ratio, T10 of the curve's tissue attributes:
//                                                 S/S0 = f(R1)/f(R10), f(R) = (1-E)/(1-cos(a)E),
//                                                 E = exp(-TR*R); R1 = R10 + r1*C
//                                                 (Haase, Magn Reson Med 1990;13:77; Schabel and
//                                                 Parker, Phys Med Biol 2008;53:2345)
//  5       "Spoiled gradient echo (blood T1)"     as 4 with T10 of the host's blood attributes
//  6       "Water exchange (two-site)"            SPGR ratio gives the observed R1, the smaller rate
//                                                 of two-site exchange between extracellular water
//                                                 (fraction fw, holds the agent) and intracellular
//                                                 water (rate R1i, lifetime ti); extracellular
//                                                 R1e = R10e + r1*C/fw (Landis et al., Magn Reson
//                                                 Med 1999;42:467; Yankeelov et al., Magn Reson Med
//                                                 2003;50:1151)
//  7       "CT enhancement (HU)"                  C = (S - S0) / r1, S in HU (r1: HU per mM)
//                                                 (Miles, Br J Radiol 1991;64:409)
//  8       "Spoiled gradient echo (linear)"       first-order SPGR: S/S0 - 1 = k*r1*C,
//                                                 k = TR*E0*(1-cos a)/((1-E0)(1-cos(a)E0)),
//                                                 E0 = exp(-TR*R10), T10 of the tissue attributes
//
// A point whose conversion has no value (a signal the SPGR ratio cannot reach, S <= 0 for the
// susceptibility method) gives 1e60.

#include <cstdint>

#include "CString.h"
#include "DynExp.h"

struct DICOMREC;

constexpr int VA_NUM_CONC_METHODS = 9;

// Name of a method; false (text emptied) outside 0..8.
bool VA_GetConcentrationName(int method, CString* text);
// The method of a name (exact match); -1 when none.
int VA_GetConcentrationByName(const wchar_t* text);
// Methods that take the pre-contrast T1 of the curve's tissue attributes.
bool VA_ConcRequiresTissueAttrib(int method);
// Moves *method into the allowed mask (bit i: method i): kept when allowed, else the lowest
// allowed method; false when the mask allows none.
bool VA_UpdateCurrentConc(int mask, int* method);
// Fills TR, TE (seconds) and flip angle (degrees) from a DICOM header record; values the header
// does not hold are left as they are. False without a header or record.
bool VA_GetConcentrationAttributes(const DICOMREC* header, VA_CONCCONV* record);

// Relaxivity r1 (1/(mM*s)) of agent 0..5 (Magnevist, Omniscan, MultiHance, Gadavist, ProHance,
// Dotarem\ClariScan) in medium 0..5 (human blood, human plasma, bovine blood, bovine plasma,
// canine blood, canine plasma) at field strength 0..2 (1.5 T, 3 T, 7 T); 0 outside the table.
double VA_GetContrastRelaxivity(int agent, int medium, int field);

// The first and the count of the baseline points of a curve of n points: with the manual flag the
// record's skip-first and average-next (clamped into the curve), else the first
// max(1, min(5, n / 10)) points. count 0 for an empty curve.
void VA_ConcBaselineSpan(const VA_CONCCONV& record, int n, int* first, int* count);

// One conversion, ready for curves: the record, the pre-contrast T1 (seconds; 0 where the method
// does not need one) and whether it converts blood (HCT applies).
struct VA_CONCSETUP {
  VA_CONCCONV record;
  double t10 = 0;
  bool blood = false;
};

// Converts a curve of n signals into concentrations (in place allowed). baseline, when not null,
// receives S0. False for a method outside 0..8.
bool VA_SignalToConcentration(const VA_CONCSETUP& setup, const double* signal, int64_t n, double* conc,
                              double* baseline = nullptr);
// The inverse for a known baseline S0. False for a method outside 0..8.
bool VA_ConcentrationToSignal(const VA_CONCSETUP& setup, double s0, const double* conc, int64_t n, double* signal);

// Why a record cannot convert (TR or flip angle 0 for the gradient-echo methods, TE 0 for the
// susceptibility method, r1 0, a water fraction outside (0, 1], ...); empty when it can. t10 is
// checked only for the methods that need it (pass a negative value to leave it out).
CString VA_ConcConvProblem(const VA_CONCSETUP& setup);

// The callbacks the kinetic-model plug-in calls on each curve, working with the conversion
// installed by VA_PrepareSigToConcCallbacks (one conversion for the whole process: a map runs at a
// time). The info record of the plug-in holds three doubles: the baseline S0, the method and the
// pre-contrast R1; SigToConc fills it, ConcToSig reads it back (S0 1 without a record).
void VA_PrepareSigToConcCallbacks(const VA_CONCSETUP& setup);
void VA_SigToConcCallback(const double* signal, int64_t n, double* conc, int64_t mode, void* info);
void VA_ConcToSigCallback(const double* conc, int64_t n, double* signal, int64_t mode, const void* info);
