// The library formats' public functions: each loads the codec module on first
// use and forwards to it.
#include <array>
#include <cstring>
#include <mutex>

#include "formats/codectable.h"
#include "io/module.h"

// Defined only where the module's objects are linked in.
extern "C" __attribute__((weak)) const lumivane::CodecTable* lumivane_codec_table();

namespace lumivane {

namespace {

const CodecTable* Codecs(std::string& error) {
  static std::once_flag once;
  static const CodecTable* table = nullptr;
  static std::string failure;
  std::call_once(once, [] {
    if (lumivane_codec_table) {
      table = lumivane_codec_table();
      return;
    }
    void* module = OpenModuleBesideProgram(kCodecModule, failure);
    if (!module) return;
    const auto entry =
        reinterpret_cast<const CodecTable* (*)()>(ModuleSymbol(module, "lumivane_codec_table"));
    const CodecTable* found = entry ? entry() : nullptr;
    if (!found) {
      failure = std::string(kCodecModule) + " holds no codec table";
    } else if (std::strcmp(found->Version, LUMIVANE_VERSION) != 0) {
      failure = std::string(kCodecModule) + " is of version " + found->Version + ", not " +
                LUMIVANE_VERSION;
    } else {
      table = found;
    }
  });
  if (!table) error = "the OpenEXR, TIFF, PNG and JPEG support cannot be loaded (" + failure + ")";
  return table;
}

constexpr std::array<std::string_view, 10> kCompressionNames = {
    "none", "rle", "zips", "zip", "piz", "pxr24", "b44", "b44a", "dwaa", "dwab"};

}  // namespace

std::unique_ptr<ImageRowSource> OpenExrRows(std::unique_ptr<ByteSource> bytes, unsigned threads,
                                            std::string& error) {
  const CodecTable* codecs = Codecs(error);
  return codecs ? codecs->ExrRows(std::move(bytes), threads, error) : nullptr;
}

std::unique_ptr<FloatRowSink> OpenExrSink(BinaryFile& file, std::uint32_t width,
                                          std::uint32_t height, const ExrOptions& options,
                                          std::string& error) {
  const CodecTable* codecs = Codecs(error);
  return codecs ? codecs->ExrSink(file, width, height, options, error) : nullptr;
}

std::unique_ptr<ByteRowSink> OpenPngSink(BinaryFile& file, std::uint32_t width,
                                         std::uint32_t height, std::string& error) {
  const CodecTable* codecs = Codecs(error);
  return codecs ? codecs->PngSink(file, width, height, error) : nullptr;
}

std::unique_ptr<ByteRowSink> OpenJpegSink(BinaryFile& file, std::uint32_t width,
                                          std::uint32_t height, int quality, std::string& error) {
  const CodecTable* codecs = Codecs(error);
  return codecs ? codecs->JpegSink(file, width, height, quality, error) : nullptr;
}

std::unique_ptr<ImageRowSource> OpenTiffRows(std::unique_ptr<ByteSource> bytes, unsigned threads,
                                             std::string& error) {
  const CodecTable* codecs = Codecs(error);
  return codecs ? codecs->TiffRows(std::move(bytes), threads, error) : nullptr;
}

bool NeedsGeneralTiffReader(ByteSource& bytes) {
  // Without the module the 96-bit reader takes the file and says why not.
  std::string error;
  const CodecTable* codecs = Codecs(error);
  return codecs && codecs->NeedsTiffLibrary(bytes);
}

std::optional<int> ExrCompressionFromName(std::string_view name) {
  for (std::size_t i = 0; i < kCompressionNames.size(); ++i)
    if (kCompressionNames[i] == name) return static_cast<int>(i);
  return std::nullopt;
}

const char* ExrCompressionNames() {
  return "none, rle, zips, zip, piz, pxr24, b44, b44a, dwaa, dwab";
}

}  // namespace lumivane
