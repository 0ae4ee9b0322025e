#pragma once
// DICOMREC: the header facts of one DICOM image file (or of a series node of a DICOM tree) that the
// imaging core and the DICOM library fill, and that loaders, tree browsers and batch jobs read.
// Texts are wide; numeric values that a header does not give are 1e60. The record is copyable
// (the texts are copied as strings). Arrays of records are pf_malloc arrays of records made with
// new: delete each record, then pf_free the array (TW_FreeDicomRecArray does both).

#include <cstdint>
#include <vector>

#include "CString.h"
#include "TwkTypes.h"

struct DICOMREC {
  // Texts.
  CString filePath;               // the image file (the first field: file sets point at it)
  CString patientName;            // (0010,0010)
  CString patientId;              // (0010,0020)
  CString patientBirthDate;       // (0010,0030)
  CString patientSex;             // (0010,0040)
  CString studyInstanceUid;       // (0020,000D)
  CString studyDate;              // (0008,0020)
  CString studyTime;              // (0008,0030)
  CString studyDescription;       // (0008,1030)
  CString seriesInstanceUid;      // (0020,000E)
  CString seriesDescription;      // (0008,103E); the "description text" of tree items
  CString modality;               // (0008,0060), e.g. "MR"
  CString protocolName;           // (0018,1030)
  CString acquisitionTime;        // (0008,0032); the "time text" of tree items
  CString sopInstanceUid;         // (0008,0018)
  int32_t seriesNumber = 0;       // (0020,0011)
  CString unit;                   // signal unit text, e.g. "HU"
  int32_t instanceNumber = 0;     // (0020,0013)
  int32_t acquisitionNumber = 0;  // (0020,0012)
  int32_t bitsAllocated = 0;      // (0028,0100)
  CString imageType;              // (0008,0008)
  CString manufacturer;           // (0008,0070)
  CString transferSyntaxUid;      // (0002,0010)

  // Geometry and acquisition values (1e60 when the header does not give them).
  double sliceZ = VOID_VALUE;                  // slice z-coordinate, mm
  double sliceThickness = VOID_VALUE;          // (0018,0050), mm
  double spacingBetweenSlices = VOID_VALUE;    // (0018,0088), mm
  double pixelSpacing[2] = {VOID_VALUE, VOID_VALUE};  // x (column) and y (row) spacing, mm
  double imagePosition[3] = {VOID_VALUE, VOID_VALUE, VOID_VALUE};  // (0020,0032), mm
  double orientation[6] = {1, 0, 0, 0, 1, 0};  // (0020,0037) row and column direction cosines
  double echoTime = VOID_VALUE;                // seconds
  double inversionTime = VOID_VALUE;           // seconds
  double repetitionTime = VOID_VALUE;          // seconds
  double flipAngle = VOID_VALUE;               // degrees
  double bValue = VOID_VALUE;                  // s/mm^2
  double spinLockTime = VOID_VALUE;            // seconds
  double triggerTime = VOID_VALUE;             // seconds
  double acquisitionSeconds = VOID_VALUE;      // acquisition time as seconds since midnight
  double rescaleSlope = 1;                     // (0028,1053)
  double rescaleIntercept = 0;                 // (0028,1052)
  double windowCenter = VOID_VALUE;            // (0028,1050)
  double windowWidth = VOID_VALUE;             // (0028,1051)
  DYNCRD dyn;                                  // the dynamic coordinates of the image's time point

  // Image and tree facts.
  int32_t numberOfFrames = 1;     // (0028,0008)
  int32_t pixelRepresentation = 0;  // (0028,0103): 1 signed
  int32_t temporalPosition = 0;   // (0020,0100)
  uint16_t width = 0;             // (0028,0011) columns
  uint16_t height = 0;            // (0028,0010) rows
  uint16_t numChildren = 0;       // number of image children of a series node
  uint8_t composite = 0;          // a series node made of sub-series
  uint8_t reserved[132] = {};     // room for the imaging core's further values

  CString subSeriesKey;           // the text that splits a composite series (empty: none)

  // Further facts that the imaging core's DICOM family reads.
  CString sopClassUid;            // (0008,0016)
  CString frameOfReferenceUid;    // (0020,0052)
  CString imageComments;          // (0020,4000); spin-lock times are read from it
  double acquisitionDateTime = VOID_VALUE;  // acquisition date and time, seconds since 1970 (header clock)
  double frameReferenceTime = VOID_VALUE;   // (0054,1300), seconds
  double frameDuration = VOID_VALUE;        // (0018,1242), seconds
  int32_t samplesPerPixel = 1;    // (0028,0002)
  uint8_t dynStored = 0;          // dyn holds the program's own stored dynamic coordinates of the image

  // Frames of enhanced multi-frame files: the frame's Frame Content values (0 and empty when absent).
  int32_t temporalPositionIndex = 0;     // (0020,9128)
  int32_t inStackPosition = 0;           // (0020,9057)
  std::vector<int32_t> dimensionIndex;   // (0020,9157)
  // Mosaics: the number of slices tiled in the image (the vendor's private count), 0 when not a mosaic.
  int32_t mosaicImages = 0;
  // Diffusion: the gradient direction (1e60 when the header gives none) and, for derived images
  // (trace, ADC, FA and the like, or an isotropic image among directional ones), the kind that sets
  // them apart ("TRACEW", "ADC", ...); empty for acquired images. Derived images form their own
  // sub-series.
  double gradientDirection[3] = {VOID_VALUE, VOID_VALUE, VOID_VALUE};
  CString derivedKind;
  // How stored values become voxel values besides the rescale: a Modality LUT Sequence, or float
  // pixel data (Float or Double Float Pixel Data, taken as they are).
  uint8_t modalityLut = 0;
  uint8_t floatPixels = 0;

  // The whole header of the image, without pixel data, as one TwkDicom header block (a 64-bit
  // little-endian length, then the header as a DICOM file in Explicit VR Little Endian: the form of
  // TWKDCM_SaveHeaders for one header). Empty when the header has not been read into the record.
  std::vector<uint8_t> header;

  // Series nodes of a DICOM tree: the volume that their images form.
  int32_t seriesDepth = 0;        // slices per time point (0 when the images form no volume)
  int32_t seriesTimes = 0;        // time points
  std::vector<double> seriesEchoTimes;  // distinct echo times, seconds, ascending
  std::vector<double> seriesBvalues;    // distinct b-values, ascending
  CString seriesProblem;          // why the images form no volume (empty when they do)
};
