#pragma once
// Pixel data of a DICOM file turned into native form (uncompressed, little endian), for the readers
// of TwkDicom and of the imaging core's DICOM family. The toolkit's types are only forward-declared,
// so that this header can be included without them.
//
// Decoders: JPEG, JPEG-LS and RLE of the toolkit, and JPEG 2000 through OpenJPEG: the Part 1
// syntaxes (lossless only, and lossless or lossy) as a codec registered beside the toolkit's own
// (TWKDCM_DJDecodeRegister), the high-throughput syntaxes, which the toolkit cannot name, decoded
// here directly from the pixel fragments.

#include <cstdint>
#include <string>
#include <vector>

class DcmFileFormat;
class DcmItem;
class DcmPixelSequence;

namespace twk::dicom {

// Decodes the file's pixel data (7FE0,0010) into native form in place. Float pixel data and native
// data are left as they are. Decoding that changes the colour model (JPEG 2000 with a colour
// transform, JPEG's YCbCr) writes the new photometric interpretation. False, with the cause, when
// the transfer syntax has no decoder here (the cause names its UID and name) or the decoder fails.
bool decodeToNative(DcmFileFormat& file, std::string* reason);

// The transfer syntax of a file: the meta header's UID, else the one the data set was read in.
std::string transferSyntaxUid(DcmFileFormat& file);
// "UID (name)" of a transfer syntax, the name when the toolkit or this library knows it.
std::string describeTransferSyntax(const std::string& uid);
// The high-throughput JPEG 2000 syntaxes (lossless, lossless RPCL, and lossy).
bool isHighThroughputJpeg2000(const std::string& uid);

// One decoded JPEG 2000 image: its components interleaved, pixel by pixel.
struct Jpeg2000Image {
  int width = 0, height = 0, components = 0, precision = 0;
  bool isSigned = false;
  std::vector<int32_t> samples;  // width x height x components
};
// Decodes a JPEG 2000 codestream or JP2 file (Part 1 or high-throughput). An expected width or
// height above 0 is checked against the header before the samples are decoded. False with the cause.
bool decodeJpeg2000(const uint8_t* bytes, size_t length, Jpeg2000Image& image, std::string* reason,
                    int expectedWidth = 0, int expectedHeight = 0);
// Every frame of a JPEG 2000 pixel sequence as native little-endian bytes, the data set's image
// description (rows, columns, samples, bits allocated, frames) deciding the layout. A colour
// transform undone by the decoder sets the photometric interpretation to RGB (colourTransformed).
bool decodeJpeg2000Frames(DcmItem* dataset, DcmPixelSequence* sequence, std::vector<uint8_t>& native,
                          bool& colourTransformed, std::string* reason);

// The pixel layout of an image as its header describes it.
struct PixelDescription {
  enum class Storage { Integer, Float32, Float64 };  // Pixel Data, Float Pixel Data, Double Float Pixel Data
  Storage storage = Storage::Integer;
  int rows = 0, columns = 0, samples = 1, bitsAllocated = 0, bitsStored = 0, highBit = 0;
  bool isSigned = false, planar = false;
  int64_t frames = 1;
  std::string photometric;
  // Colour with the chroma of two neighbouring pixels shared (YBR_FULL_422, YBR_PARTIAL_422): four
  // samples per two pixels.
  bool subsampled() const;
  int64_t bitsPerFrame() const;
};
// Reads the layout from the header (pixel data need not be loaded): the storage from the pixel data
// element present, rows, columns, samples, bits, sign, frames. False with the cause for a layout
// that cannot be read (no size, unsupported bits or samples, a frame count out of range).
bool describePixels(DcmItem* data, PixelDescription& description, std::string* reason);

// The native pixel data of a data set (after decodeToNative) read row by row.
class PixelReader {
 public:
  // False with the cause: no pixel data, a layout or photometric interpretation that cannot be read
  // (PALETTE COLOR, YBR_ICT and YBR_RCT left undecoded), pixel data shorter than the frames.
  bool open(DcmFileFormat& file, std::string* reason);
  const PixelDescription& description() const { return d_; }
  // Row y of a frame as values: stored values (signed as the header says, without rescale) of
  // monochrome images, the luminance of colour images (0.299 R + 0.587 G + 0.114 B, rounded; the Y of
  // full-range YCbCr; partial-range Y stretched to the full range), float values as they are.
  void row(int64_t frame, int y, double* out) const;
  // The bytes of one frame as a little-endian native file holds them (bit-exact for 1-bit data).
  bool frameBytes(int64_t frame, std::vector<uint8_t>& out) const;

 private:
  int64_t sample(int64_t frame, int64_t index) const;  // stored value of sample index of a frame
  PixelDescription d_;
  const uint8_t* bytes_ = nullptr;  // integer samples (words in host order when words_)
  const float* floats_ = nullptr;
  const double* doubles_ = nullptr;
  int64_t length_ = 0;              // bytes of the pixel data
  bool words_ = false, bigEndian_ = false;
};

// Registration of the JPEG 2000 codec with the toolkit (called under TWKDCM_DJDecodeRegister's count).
void registerJpeg2000Codec();
void cleanupJpeg2000Codec();

}  // namespace twk::dicom
