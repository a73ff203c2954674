// Images as rows of 32-bit float RGB, top row first, read and written a block of
// rows at a time. The formats beyond the three classic ones (read and written
// through the field's libraries) meet the jobs here, so that every job streams
// and keeps memory flat in the image height. Pure code: no session, log or window.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace lumivane {

// The primaries and white point an input states (CIE xy), where it states them.
struct Chromaticities {
  float Red[2], Green[2], Blue[2], White[2];
};

// What an input says of itself beyond its pixels, for the outputs that can
// keep it and for the colour conversion before tone-mapping.
struct ImageMetadata {
  std::optional<Chromaticities> Primaries;
  std::optional<float> WhiteLuminance;  // cd/m^2 of RGB (1, 1, 1)
  std::string Owner;
  std::string Comments;
  std::string CaptureDate;            // "YYYY:MM:DD hh:mm:ss"
  std::optional<float> ExposureTime;  // seconds
  // The display window, relative to the data window's top left corner.
  std::optional<std::array<int, 4>> DisplayWindow;  // x min, y min, x max, y max
  bool HalfFloats = false;                          // the pixels were stored as 16-bit halves
  int ExrCompression = -1;  // the input's OpenEXR compression number; -1 for another format
  bool HasAlpha = false;    // the input has an alpha channel
  // How the input stored its alpha: premultiplied into R, G and B (OpenEXR's
  // rule, a TIFF's associated alpha) or straight; and as halves.
  bool AlphaAssociated = true;
  bool AlphaHalf = false;
};

// What a reader found in a file's header, for the log and for `info`.
struct ImageDescription {
  // Short upper-case name used in texts such as "EXR Tonemapping concluded.".
  std::string FormatName;
  std::uint32_t Width = 0;
  std::uint32_t Height = 0;
  // Header lines in the log's style: a label, then the value.
  std::vector<std::string> HeaderLines;
  ImageMetadata Metadata;
};

// A source of float RGB rows, three floats per pixel, R G B, no padding.
// Callers read rows in increasing order, each row once per pass; Rewind()
// starts a new pass (the tone-mapping jobs read twice). Grey is given to R, G
// and B. Alpha is not in the rows: a source that can give it does so beside
// them, as a plane of one float per pixel, for the outputs that keep it.
class ImageRowSource {
 public:
  virtual ~ImageRowSource() = default;
  virtual const ImageDescription& Description() const = 0;
  // Fills `rowCount` rows from the next unread one into `destination`
  // (rowCount * Width * 3 floats). False with `error` set (a reason in words,
  // naming no file: the caller adds the file name) when the file cannot give them.
  virtual bool ReadRows(float* destination, std::uint32_t rowCount, std::string& error) = 0;
  virtual bool Rewind(std::string& error) = 0;
  // Whether ReadRowsAndAlpha gives the input's alpha. False for an input
  // without alpha; a source made from another (smaller, other primaries)
  // gives it where that one does.
  virtual bool ReadsAlpha() const { return false; }
  // ReadRows, and the same rows' alpha into `alpha` (rowCount * Width floats,
  // the values as stored; integers scaled to 0..1). Only where ReadsAlpha().
  virtual bool ReadRowsAndAlpha(float* /*destination*/, float* /*alpha*/,
                                std::uint32_t /*rowCount*/, std::string& error) {
    error = "the rows carry no alpha";
    return false;
  }
  // Of the rows read so far, those whose pixels the file held whole. A source
  // whose data may end early (Radiance, read as far as it goes, the rest
  // black) says so here; the others refuse such files.
  virtual std::uint32_t CompleteRows() const { return Description().Height; }
  // Of the rows read so far, how many of each kind a Radiance source decoded
  // (flat, older runs, runs per component); none for the other sources.
  virtual std::array<std::uint32_t, 3> RowKinds() const { return {}; }
};

// A source that finds any row by its position in the file, so that a new pass
// only starts from the top again.
class PositionedRowSource : public ImageRowSource {
 public:
  bool Rewind(std::string&) override {
    nextRow_ = 0;
    return true;
  }

 protected:
  std::uint32_t nextRow_ = 0;
};

// A sink of rows, top row first, each row Width pixels. The float sink takes
// three floats per pixel, the byte sink three bytes per pixel (8-bit RGB, the
// tone-mapped output), four where it was opened to keep alpha (R G B and
// straight alpha). Finish() writes what is still buffered; the caller closes
// and commits the file only after it returned true.
class FloatRowSink {
 public:
  virtual ~FloatRowSink() = default;
  virtual bool WriteRows(const float* source, std::uint32_t rowCount, std::string& error) = 0;
  virtual bool Finish(std::string& error) = 0;
  // A sink opened to keep alpha takes every row through WriteRowsAndAlpha,
  // with one alpha float a pixel beside the RGB floats.
  virtual bool TakesAlpha() const { return false; }
  virtual bool WriteRowsAndAlpha(const float* source, const float* alpha, std::uint32_t rowCount,
                                 std::string& error) {
    (void)alpha;
    return WriteRows(source, rowCount, error);
  }
};

class ByteRowSink {
 public:
  virtual ~ByteRowSink() = default;
  virtual bool WriteRows(const std::uint8_t* source, std::uint32_t rowCount,
                         std::string& error) = 0;
  virtual bool Finish(std::string& error) = 0;
  // Whether the rows carry the fourth, alpha sample.
  virtual bool TakesAlpha() const { return false; }
};

// The 16-bit form of the byte sink, for a tone-mapped output of depth 16:
// three words per pixel (R G B, 0 to 65535; four with alpha) in this
// machine's byte order; the sink writes them in its format's order.
class WordRowSink {
 public:
  virtual ~WordRowSink() = default;
  virtual bool WriteRows(const std::uint16_t* source, std::uint32_t rowCount,
                         std::string& error) = 0;
  virtual bool Finish(std::string& error) = 0;
  virtual bool TakesAlpha() const { return false; }
};

}  // namespace lumivane
