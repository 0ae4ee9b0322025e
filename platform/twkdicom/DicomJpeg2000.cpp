// JPEG 2000 pixel data through OpenJPEG: decoding of one codestream, the codec registered with the
// toolkit for the Part 1 transfer syntaxes, and the frames of an encapsulated pixel sequence.

#include <openjpeg.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "dcmtk/dcmdata/dccodec.h"
#include "dcmtk/dcmdata/dcpixseq.h"
#include "dcmtk/dcmdata/dcpxitem.h"
#include "dcmtk/dcmdata/dcstack.h"
#include "dcmtk/dcmdata/dcvrpobw.h"

#include "DicomDecode.h"
#include "DicomInternal.h"

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "decoded samples are written as little-endian bytes");

namespace twk::dicom {

namespace {

// A codestream in memory read by OpenJPEG.
struct MemoryStream {
  const uint8_t* data;
  size_t size;
  size_t at = 0;
};

OPJ_SIZE_T readStream(void* buffer, OPJ_SIZE_T count, void* user) {
  auto* s = static_cast<MemoryStream*>(user);
  const size_t n = std::min<size_t>(count, s->size - s->at);
  if (n == 0) return OPJ_SIZE_T(-1);
  std::memcpy(buffer, s->data + s->at, n);
  s->at += n;
  return n;
}

OPJ_OFF_T skipStream(OPJ_OFF_T count, void* user) {
  auto* s = static_cast<MemoryStream*>(user);
  const OPJ_OFF_T from = OPJ_OFF_T(s->at);
  const OPJ_OFF_T to = std::clamp<OPJ_OFF_T>(from + count, 0, OPJ_OFF_T(s->size));
  s->at = size_t(to);
  return to - from;
}

OPJ_BOOL seekStream(OPJ_OFF_T position, void* user) {
  auto* s = static_cast<MemoryStream*>(user);
  if (position < 0 || uint64_t(position) > s->size) return OPJ_FALSE;
  s->at = size_t(position);
  return OPJ_TRUE;
}

void keepMessage(const char* message, void* user) {
  auto* text = static_cast<std::string*>(user);
  if (!text->empty() || !message) return;
  *text = message;
  while (!text->empty() && (text->back() == '\n' || text->back() == ' ')) text->pop_back();
}

void ignoreMessage(const char*, void*) {}

bool isJp2(const uint8_t* b, size_t n) {
  static const uint8_t signature[] = {0, 0, 0, 0x0C, 'j', 'P', ' ', ' '};
  return n >= sizeof signature && std::memcmp(b, signature, sizeof signature) == 0;
}

bool startsCodestream(const uint8_t* b, size_t n) {
  return (n >= 4 && b[0] == 0xFF && b[1] == 0x4F && b[2] == 0xFF && b[3] == 0x51) || isJp2(b, n);
}

struct CodecDeleter {
  void operator()(opj_codec_t* c) const { opj_destroy_codec(c); }
};
struct StreamDeleter {
  void operator()(opj_stream_t* s) const { opj_stream_destroy(s); }
};
struct ImageDeleter {
  void operator()(opj_image_t* i) const { opj_image_destroy(i); }
};

bool fail(std::string* reason, const std::string& why) {
  if (reason) *reason = why;
  return false;
}

}  // namespace

bool isHighThroughputJpeg2000(const std::string& uid) {
  return uid == "1.2.840.10008.1.2.4.201" || uid == "1.2.840.10008.1.2.4.202" || uid == "1.2.840.10008.1.2.4.203";
}

bool decodeJpeg2000(const uint8_t* bytes, size_t length, Jpeg2000Image& image, std::string* reason,
                    int expectedWidth, int expectedHeight) {
  if (!bytes || length < 4 || !startsCodestream(bytes, length))
    return fail(reason, "the JPEG 2000 data do not start with a codestream");
  MemoryStream source{bytes, length};
  std::unique_ptr<opj_stream_t, StreamDeleter> stream(opj_stream_create(OPJ_J2K_STREAM_CHUNK_SIZE, OPJ_TRUE));
  std::unique_ptr<opj_codec_t, CodecDeleter> codec(opj_create_decompress(isJp2(bytes, length) ? OPJ_CODEC_JP2 : OPJ_CODEC_J2K));
  if (!stream || !codec) return fail(reason, "the JPEG 2000 decoder cannot start");
  opj_stream_set_user_data(stream.get(), &source, nullptr);
  opj_stream_set_user_data_length(stream.get(), length);
  opj_stream_set_read_function(stream.get(), readStream);
  opj_stream_set_skip_function(stream.get(), skipStream);
  opj_stream_set_seek_function(stream.get(), seekStream);
  std::string message;
  opj_set_error_handler(codec.get(), keepMessage, &message);
  opj_set_warning_handler(codec.get(), ignoreMessage, nullptr);
  opj_set_info_handler(codec.get(), ignoreMessage, nullptr);
  opj_dparameters_t parameters;
  opj_set_default_decoder_parameters(&parameters);
  if (!opj_setup_decoder(codec.get(), &parameters)) return fail(reason, "the JPEG 2000 decoder cannot start");
  // Images are decoded side by side by the callers' threads.
  opj_codec_set_threads(codec.get(), 1);
  opj_image_t* raw = nullptr;
  const bool headerRead = opj_read_header(stream.get(), codec.get(), &raw);
  std::unique_ptr<opj_image_t, ImageDeleter> decoded(raw);
  auto decoderFailure = [&](const char* what) {
    return fail(reason, std::string(what) + (message.empty() ? std::string() : ": " + message));
  };
  if (!headerRead || !decoded) return decoderFailure("the JPEG 2000 header cannot be read");
  const int components = int(decoded->numcomps);
  if (components < 1 || components > 4) return fail(reason, "the JPEG 2000 image has an unsupported number of components");
  const int64_t width = int64_t(decoded->x1) - decoded->x0, height = int64_t(decoded->y1) - decoded->y0;
  // The size is checked before decoding, so that a damaged header cannot ask for gigabytes.
  if (width < 1 || height < 1 || (expectedWidth > 0 && width != expectedWidth) ||
      (expectedHeight > 0 && height != expectedHeight))
    return fail(reason, "the JPEG 2000 image size differs from the image's rows and columns");
  if (!opj_decode(codec.get(), stream.get(), decoded.get()) || !opj_end_decompress(codec.get(), stream.get()))
    return decoderFailure("the JPEG 2000 data cannot be decoded");
  for (int c = 0; c < components; ++c) {
    const opj_image_comp_t& comp = decoded->comps[c];
    if (!comp.data || comp.w != uint32_t(width) || comp.h != uint32_t(height) || comp.dx != 1 || comp.dy != 1)
      return fail(reason, "the JPEG 2000 image has subsampled components");
    if (comp.prec < 1 || comp.prec > 31 || comp.sgnd != decoded->comps[0].sgnd || comp.prec != decoded->comps[0].prec)
      return fail(reason, "the JPEG 2000 components differ in precision or sign");
  }
  image.width = int(width);
  image.height = int(height);
  image.components = components;
  image.precision = int(decoded->comps[0].prec);
  image.isSigned = decoded->comps[0].sgnd != 0;
  const int64_t count = width * height;
  image.samples.resize(size_t(count * components));
  for (int c = 0; c < components; ++c) {
    const OPJ_INT32* from = decoded->comps[c].data;
    for (int64_t i = 0; i < count; ++i) image.samples[size_t(i * components + c)] = from[i];
  }
  return true;
}

// ---------------------------------------------------------------------------------------------
// Frames of an encapsulated pixel sequence
// ---------------------------------------------------------------------------------------------

namespace {

// The codestream of every frame: one fragment per frame when the counts agree, else the fragments
// from one start of a codestream to the next.
bool frameStreams(DcmPixelSequence* sequence, int64_t frames, std::vector<std::vector<uint8_t>>& streams,
                  std::string* reason) {
  streams.clear();
  if (!sequence || sequence->card() < 2) return fail(reason, "the pixel data hold no compressed frame");
  std::vector<std::pair<const uint8_t*, size_t>> fragments;
  for (unsigned long i = 1; i < sequence->card(); ++i) {
    DcmPixelItem* item = nullptr;
    Uint8* bytes = nullptr;
    if (sequence->getItem(item, i).bad() || !item) return fail(reason, "unreadable pixel fragment");
    if (item->getLength() == 0) continue;
    if (item->getUint8Array(bytes).bad() || !bytes) return fail(reason, "unreadable pixel fragment");
    fragments.emplace_back(bytes, size_t(item->getLength()));
  }
  if (int64_t(fragments.size()) == frames) {
    for (const auto& [bytes, n] : fragments) streams.emplace_back(bytes, bytes + n);
    return true;
  }
  for (const auto& [bytes, n] : fragments) {
    if (streams.empty() || startsCodestream(bytes, n)) streams.emplace_back();
    streams.back().insert(streams.back().end(), bytes, bytes + n);
  }
  if (int64_t(streams.size()) != frames)
    return fail(reason, "the pixel data hold " + std::to_string(streams.size()) + " compressed frames where the image has " +
                            std::to_string(frames));
  return true;
}

}  // namespace

bool decodeJpeg2000Frames(DcmItem* dataset, DcmPixelSequence* sequence, std::vector<uint8_t>& native,
                          bool& colourTransformed, std::string* reason) {
  Uint16 rows = 0, columns = 0, samples = 1, allocated = 0, representation = 0;
  Sint32 frames = 1;
  if (!dataset || dataset->findAndGetUint16(DCM_Rows, rows).bad() || dataset->findAndGetUint16(DCM_Columns, columns).bad() ||
      dataset->findAndGetUint16(DCM_BitsAllocated, allocated).bad() || rows == 0 || columns == 0)
    return fail(reason, "the image size is missing");
  dataset->findAndGetUint16(DCM_SamplesPerPixel, samples);
  dataset->findAndGetUint16(DCM_PixelRepresentation, representation);
  if (dataset->findAndGetSint32(DCM_NumberOfFrames, frames).bad() || frames < 1) frames = 1;
  if (allocated != 8 && allocated != 16 && allocated != 32) return fail(reason, "unsupported bits allocated");
  if (samples != 1 && samples != 3) return fail(reason, "unsupported samples per pixel");
  const int64_t bytesPerSample = allocated / 8;
  const int64_t frameBytes = int64_t(rows) * columns * samples * bytesPerSample;
  // The toolkit's values are counted in 32 bits.
  if (frames > (int64_t(0xFFFFFFFE) - 1) / frameBytes) return fail(reason, "the image is too large");
  std::vector<std::vector<uint8_t>> streams;
  if (!frameStreams(sequence, frames, streams, reason)) return false;
  native.assign(size_t(frameBytes * frames), 0);
  Jpeg2000Image image;
  for (int64_t f = 0; f < frames; ++f) {
    const std::vector<uint8_t>& s = streams[size_t(f)];
    if (!decodeJpeg2000(s.data(), s.size(), image, reason, columns, rows)) return false;
    if (image.components != samples) return fail(reason, "the JPEG 2000 image has a different number of components");
    if (image.precision > int(allocated)) return fail(reason, "the JPEG 2000 samples are wider than bits allocated");
    uint8_t* out = native.data() + f * frameBytes;
    const int64_t n = int64_t(rows) * columns * samples;
    for (int64_t i = 0; i < n; ++i) {
      const uint32_t v = uint32_t(image.samples[size_t(i)]);
      for (int64_t b = 0; b < bytesPerSample; ++b) out[i * bytesPerSample + b] = uint8_t(v >> (8 * b));
    }
  }
  (void)representation;
  // The decoder undoes the colour transform of the codestream: the samples are RGB now.
  OFString photometric;
  dataset->findAndGetOFString(DCM_PhotometricInterpretation, photometric);
  colourTransformed = samples == 3 && (photometric == "YBR_RCT" || photometric == "YBR_ICT");
  if (colourTransformed) dataset->putAndInsertString(DCM_PhotometricInterpretation, "RGB");
  if (samples == 3) dataset->putAndInsertUint16(DCM_PlanarConfiguration, 0);
  return true;
}

// ---------------------------------------------------------------------------------------------
// The codec of the Part 1 transfer syntaxes
// ---------------------------------------------------------------------------------------------

namespace {

class Jpeg2000CodecParameter : public DcmCodecParameter {
 public:
  DcmCodecParameter* clone() const override { return new Jpeg2000CodecParameter; }
  const char* className() const override { return "TwkJpeg2000CodecParameter"; }
};

class Jpeg2000Codec : public DcmCodec {
 public:
  OFCondition decode(const DcmRepresentationParameter*, DcmPixelSequence* sequence, DcmPolymorphOBOW& uncompressed,
                     const DcmCodecParameter*, const DcmStack& objStack, OFBool& removeOldRep) const override {
    DcmStack stack(objStack);
    stack.pop();  // the pixel data element
    DcmObject* owner = stack.top();
    if (!owner || (owner->ident() != EVR_dataset && owner->ident() != EVR_item)) return EC_InvalidTag;
    auto* dataset = static_cast<DcmItem*>(owner);
    std::vector<uint8_t> native;
    bool transformed = false;
    std::string why;
    if (!decodeJpeg2000Frames(dataset, sequence, native, transformed, &why)) return makeOFCondition(0x7D, 1, OF_error, why.c_str());
    Uint16* words = nullptr;
    const size_t count = (native.size() + 1) / 2;
    OFCondition status = uncompressed.createUint16Array(Uint32(count), words);
    if (status.bad()) return status;
    std::memcpy(words, native.data(), native.size());
    if (native.size() % 2) reinterpret_cast<uint8_t*>(words)[native.size()] = 0;
    removeOldRep = transformed;
    return EC_Normal;
  }

  OFCondition decodeFrame(const DcmRepresentationParameter*, DcmPixelSequence* sequence, const DcmCodecParameter*,
                          DcmItem* dataset, Uint32 frameNo, Uint32& startFragment, void* buffer, Uint32 bufSize,
                          OFString& decompressedColorModel) const override {
    // Decodes every frame and copies the one asked for: the readers here decode whole files.
    std::vector<uint8_t> native;
    bool transformed = false;
    std::string why;
    std::unique_ptr<DcmItem> copy(static_cast<DcmItem*>(dataset->clone()));
    if (!decodeJpeg2000Frames(copy.get(), sequence, native, transformed, &why)) return makeOFCondition(0x7D, 1, OF_error, why.c_str());
    Sint32 frames = 1;
    if (dataset->findAndGetSint32(DCM_NumberOfFrames, frames).bad() || frames < 1) frames = 1;
    const size_t frameBytes = native.size() / size_t(frames);
    if (frameNo >= Uint32(frames) || bufSize < frameBytes) return EC_IllegalCall;
    std::memcpy(buffer, native.data() + frameBytes * frameNo, frameBytes);
    startFragment = 0;
    return determineDecompressedColorModel(nullptr, sequence, nullptr, dataset, decompressedColorModel);
  }

  OFCondition encode(const Uint16*, const Uint32, const DcmRepresentationParameter*, DcmPixelSequence*&,
                     const DcmCodecParameter*, DcmStack&, OFBool&) const override {
    return EC_IllegalCall;
  }
  OFCondition encode(const E_TransferSyntax, const DcmRepresentationParameter*, DcmPixelSequence*,
                     const DcmRepresentationParameter*, DcmPixelSequence*&, const DcmCodecParameter*, DcmStack&,
                     OFBool&) const override {
    return EC_IllegalCall;
  }

  OFBool canChangeCoding(const E_TransferSyntax from, const E_TransferSyntax to) const override {
    return (from == EXS_JPEG2000LosslessOnly || from == EXS_JPEG2000) && DcmXfer(to).isNotEncapsulated();
  }

  OFCondition determineDecompressedColorModel(const DcmRepresentationParameter*, DcmPixelSequence*,
                                              const DcmCodecParameter*, DcmItem* dataset,
                                              OFString& model) const override {
    if (!dataset) return EC_IllegalParameter;
    OFCondition status = dataset->findAndGetOFString(DCM_PhotometricInterpretation, model);
    if (status.good() && (model == "YBR_RCT" || model == "YBR_ICT")) model = "RGB";
    return status;
  }
};

Jpeg2000Codec* g_codec = nullptr;
Jpeg2000CodecParameter* g_parameter = nullptr;

}  // namespace

void registerJpeg2000Codec() {
  if (g_codec) return;
  g_codec = new Jpeg2000Codec;
  g_parameter = new Jpeg2000CodecParameter;
  DcmCodecList::registerCodec(g_codec, nullptr, g_parameter);
}

void cleanupJpeg2000Codec() {
  if (!g_codec) return;
  DcmCodecList::deregisterCodec(g_codec);
  delete g_codec;
  delete g_parameter;
  g_codec = nullptr;
  g_parameter = nullptr;
}

}  // namespace twk::dicom
