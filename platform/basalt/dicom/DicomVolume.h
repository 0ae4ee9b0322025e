#pragma once
// Volumes from DICOM images, and the DICOM side of a volume: which images form one volume and in
// what order, the volume's geometry, modality, unit and dynamic coordinates from its records, its
// voxels from the files, the slice-spacing check, spin-lock times, positive slice order, names from
// the headers, and the protected health information of its headers.
//
// The load of a file set runs in three calls, as the DICOM loader makes them:
//   VA_CheckCompatibleAndGetCommonDimensions  checks that the images form one volume, gives its
//                                             dimensions and puts the records in volume order;
//   VA_LoadByItem_VolHeader                   makes the volume (geometry, dynamics, records) without voxels;
//   VA_LoadByItem_VolData                     reads the voxels (and each image's whole header).
// VA_LoadDicomVolume does all three for a list of files.
//
// Voxels: images without rescale and with unsigned pixels give an integer volume of the stored
// values; any rescale (slope or intercept, or the Dose Grid Scaling of dose grids, in Gy), a Modality
// LUT Sequence (applied as given, in place of a rescale), signed pixels or float pixel data give a
// real volume of the values (Hounsfield units for CT). Colour images give their luminance. Pixel
// data are decoded from every transfer syntax the registered decoders read (JPEG, JPEG-LS, RLE and
// JPEG 2000, high-throughput included); an image that cannot be read fails the load, naming the file
// and the cause (the transfer syntax or photometric interpretation that is not supported). The
// loader of the program turns whole-number real volumes into integer ones afterwards (with a bias of
// 1024 for CT in "HU").
//
// Dynamic coordinates (one DYNCRD per time point): the time (seconds from the first time point, by the
// acquisition clock: date and time, time of day, trigger time or PET frame reference time, the first
// that every image has and that tells the time points apart; else the time point's number), the end time (the next time point's time; for the last, its time
// plus its frame duration or the previous interval), echo, inversion and repetition times
// (seconds), b-value, flip angle; 1e60 where the headers give no value. Spin-lock times are set by
// the loader's question (VA_VolExtractTSLdata).

#include <cstdint>
#include <vector>

#include "CString.h"
#include "DicomRec.h"
#include "TwkTypes.h"

class CVol;
struct VA_DICOMTREE;
struct VA_DICOMTREEITEM;

// Checks that the images of the given simple series (or sub-series) form one volume: equal size,
// orientation and pixel spacing, the same number of images at every slice position, no image
// twice, no missing slice, time points that match between slices (see DicomAssembly); derived
// images (DICOMREC::derivedKind) are left out when acquired ones are among them, so that a trace
// image never becomes a time point of its series. Gives the dimensions (W, H, D, T) and the number
// of series combined, and, when records are given (the array of records of the tree's images),
// reorders them so that the volume's D x T records come first in
// volume order (index t * D + z), the others after them. False when they form no volume; the cause
// is reported when show is set.
bool VA_CheckCompatibleAndGetCommonDimensions(const VA_DICOMTREE* tree, VA_DICOMTREEITEM* const* series, int seriesCount,
                                              DICOMREC** records, int recordCount, DIM3D* dims, int* seriesCombined,
                                              bool show);

// A new volume without voxel frame from the D x T records in volume order (copies of the records go
// into the volume): spacing (x, y from the pixel spacing; z the mean distance of the slice positions,
// else spacing between slices, else slice thickness, else 1), orientation, image positions,
// modality, unit and dynamic coordinates. spacing, when given, replaces the spacing from the records.
// *kind receives the voxel kind the images need (FRM_INT or FRM_REAL). Null on bad arguments.
CVol* VA_LoadByItem_VolHeader(const DIM3D* dims, DICOMREC* const* records, const SPC* spacing, FRMTYPE* kind,
                              bool interactive);
// The volume's frame for its records, every voxel void (1e60; 65535 or 16777215 in integer frames):
// real, or integer of 16 bits (32 when an image has more than 16 bits allocated). Replaces a frame
// the volume has. False on bad arguments or without memory.
bool VA_LoadByItem_CreateFrame(CVol* vol, const DIM3D* dims, FRMTYPE kind);
// Reads the voxels of the volume's records from their files into its frame, which the caller made
// with the dimensions and voxel kind that the two calls above gave (integer frames of 16 or 32 bits),
// and keeps each image's header in its record. Integer frames take the stored values (clamped to
// the frame's range), real frames the rescaled values. Every file must hold an image of the volume's width and height.
// False on a failure (reported when interactive, naming the file) or when the user stops.
bool VA_LoadByItem_VolData(CVol* vol, bool interactive);
// The cause of the last failed VA_LoadByItem_VolData of the calling thread ("Cannot read the pixels
// of <file> : <cause>"), for callers that load without messages; empty after a load that succeeded.
CString VA_GetDicomLoadError();
// The three steps for a list of files (all their images must form one volume). The volume's name
// is built from its first record (series number and description) in the folder of the first file.
CVol* VA_LoadDicomVolume(const wchar_t* const* files, int count, bool show);

// The slice-spacing check of the loader over the first depth records (one time point, slice
// order): the distances of consecutive slice positions, their mean as the spacing, and the pair
// whose distance deviates most from the mean; irregular when that deviation exceeds 0.01 mm. When
// a position is undefined, the first slice's thickness is the spacing (regular); without it the
// check fails with undefinedSlice the first slice without a position.
struct VA_SLICESPACING {
  double spacing = VOID_VALUE;
  bool irregular = false;
  int pair = -1;                  // the pair (pair, pair + 1) that deviates most
  double pairDistance = VOID_VALUE;
  int undefinedSlice = -1;        // the first slice without a position, -1 when all have one
};
bool VA_DicomSliceSpacing(const DICOMREC* const* records, int depth, VA_SLICESPACING* result);

// Reverses the slice order (voxels, image positions, records) when the positions run against the
// normal of the orientation, so that slice z + 1 lies on the normal's side of slice z.
bool VA_VolEnsurePositiveOrient(CVol* vol, bool show);
// Sets the width and height that the volume's records give.
bool VA_VolSetWiHi(CVol* vol, int width, int height);

// Spin-lock data: a 4D volume whose time points' images name a spin-lock time ("TSL" and a
// number in their image comments) that differs between time points.
bool VA_VolIsTSLdata(const CVol* vol);
// The spin-lock number of every time point (unit as written) and one text line per time point.
bool VA_VolExtractTSLdata(const CVol* vol, std::vector<double>* values, std::vector<CString>* lines);

// The volume of a mosaic volume (one tiled slice per time point, n slices in a square of
// ceil(sqrt(n)) tiles per side): a new volume of n slices of the tile size with the same time points,
// its voxels the tiles in order, its records the slice headers of TWKDCM_CloneHeaderFromMosaic (slice
// positions from the mosaic's position corrected to the first tile and stepped along the scanner's
// slice normal), its slices then put in positive order along the orientation's normal. The name,
// modality, unit and dynamic coordinates are copied. Null (reported when show) when the volume is no
// single-slice mosaic of readable headers or the tiles do not fit the image.
CVol* VA_VolMosaicToVolume(const CVol* mosaic, int n, bool show);

// Header facts of the volume's first record.
int VA_VolNumImgMosaic(const CVol* vol);                    // images of a mosaic, 0 when none
bool VA_VolGetProtocolName(const CVol* vol, CString* name);  // protocol name, else series description
// "PatientID_StudyDate_SeriesNumber" (characters invalid in file names replaced); false without records.
bool VA_VolGetDicomBasedName(const CVol* vol, CString* name);

// Makes sure the volume has one record per slice and time point, each holding a header: records
// missing a header read it from their file, volumes without records get basic headers made from the
// volume (modality, geometry, dynamic coordinates). Headers are then changed with
// VA_DicomRecGetHeader / VA_DicomRecSetHeader.
bool VA_VolEnsureDicomHeaders(CVol* vol);

// Protected health information of the volume's headers under the PHI profile in force: distinct
// text lines "(gggg,eeee) Name : value", appended to *records (a pf_malloc array of CString made
// with new) and counted in *count. A record without a readable header gives the lines of its
// identifying facts (patient name, ID, birth date and sex; study date, time and description). True
// also when there is none; false when a header cannot be searched or the lines cannot be stored.
bool VA_VolExtractPHIrecords(const CVol* vol, CString*** records, int64_t* count);
// De-identifies every header of the volume through the PHI profile and refreshes the records' facts;
// records without a readable header lose their identifying facts.
bool VA_VolDeidentify(CVol* vol, bool show);
