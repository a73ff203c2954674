#include "formats/exrinfo.h"

#include <openexr.h>

#include <algorithm>
#include <cstdio>
#include <string_view>

namespace lumivane {

namespace {

struct Reading {
  ByteSource* Bytes;
  std::string Error;
};

void KeepError(exr_const_context_t context, exr_result_t code, const char* message) {
  void* data = nullptr;
  if (exr_get_user_data(context, &data) != EXR_ERR_SUCCESS || !data) return;
  auto* reading = static_cast<Reading*>(data);
  if (reading->Error.empty())
    reading->Error = message && *message ? message : exr_get_default_error_message(code);
}

int64_t ReadBytes(exr_const_context_t, void* data, void* buffer, uint64_t count, uint64_t offset,
                  exr_stream_error_func_ptr_t) {
  return static_cast<int64_t>(
      static_cast<Reading*>(data)->Bytes->ReadAt(buffer, static_cast<std::size_t>(count), offset));
}

int64_t SizeOf(exr_const_context_t, void* data) {
  return static_cast<int64_t>(static_cast<Reading*>(data)->Bytes->Size());
}

std::string Number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.9g", value);
  return text;
}

std::string Pair(double x, double y) {
  return "(" + Number(x) + ", " + Number(y) + ")";
}

template <typename Value>
std::string Numbers(const Value* values, int count) {
  std::string text;
  for (int i = 0; i < count; ++i) text += (i ? " " : "") + Number(values[i]);
  return text;
}

std::string Text(const exr_attr_string_t* string) {
  return string && string->str ? std::string(string->str, static_cast<std::size_t>(string->length))
                               : "";
}

constexpr const char* kCompressionNames[] = {"none",  "rle", "zips", "zip",  "piz",
                                             "pxr24", "b44", "b44a", "dwaa", "dwab"};
constexpr const char* kLineOrders[] = {"increasing y", "decreasing y", "random y"};
constexpr const char* kStorages[] = {"scanline", "tiled", "deep scanline", "deep tiled"};
constexpr const char* kPixelTypes[] = {"uint", "half", "float"};

template <std::size_t N>
std::string NameOf(const char* const (&names)[N], unsigned value) {
  return value < N ? names[value] : "unknown (" + std::to_string(value) + ")";
}

// The value in words of an attribute not held apart.
std::string ValueText(const exr_attribute_t& a) {
  switch (a.type) {
    case EXR_ATTR_INT:
      return std::to_string(a.i);
    case EXR_ATTR_FLOAT:
      return Number(a.f);
    case EXR_ATTR_DOUBLE:
      return Number(a.d);
    case EXR_ATTR_STRING:
      return Text(a.string);
    case EXR_ATTR_V2I:
      return Pair(a.v2i->x, a.v2i->y);
    case EXR_ATTR_V2F:
      return Pair(a.v2f->x, a.v2f->y);
    case EXR_ATTR_V2D:
      return Pair(a.v2d->x, a.v2d->y);
    case EXR_ATTR_V3I:
      return "(" + Numbers(a.v3i->arr, 3) + ")";
    case EXR_ATTR_V3F:
      return "(" + Numbers(a.v3f->arr, 3) + ")";
    case EXR_ATTR_V3D:
      return "(" + Numbers(a.v3d->arr, 3) + ")";
    case EXR_ATTR_M33F:
      return Numbers(a.m33f->m, 9);
    case EXR_ATTR_M33D:
      return Numbers(a.m33d->m, 9);
    case EXR_ATTR_M44F:
      return Numbers(a.m44f->m, 16);
    case EXR_ATTR_M44D:
      return Numbers(a.m44d->m, 16);
    case EXR_ATTR_BOX2I:
      return Pair(a.box2i->min.x, a.box2i->min.y) + " - " + Pair(a.box2i->max.x, a.box2i->max.y);
    case EXR_ATTR_BOX2F:
      return Pair(a.box2f->min.x, a.box2f->min.y) + " - " + Pair(a.box2f->max.x, a.box2f->max.y);
    case EXR_ATTR_RATIONAL:
      return std::to_string(a.rational->num) + "/" + std::to_string(a.rational->denom);
    case EXR_ATTR_COMPRESSION:
      return NameOf(kCompressionNames, a.uc);
    case EXR_ATTR_LINEORDER:
      return NameOf(kLineOrders, a.uc);
    case EXR_ATTR_ENVMAP:
      return a.uc == 0 ? "latitude-longitude" : a.uc == 1 ? "cube" : "unknown";
    case EXR_ATTR_TILEDESC:
      return std::to_string(a.tiledesc->x_size) + " x " + std::to_string(a.tiledesc->y_size) +
             " tiles, level mode " + std::to_string(EXR_GET_TILE_LEVEL_MODE(*a.tiledesc));
    case EXR_ATTR_FLOAT_VECTOR:
      return Numbers(a.floatvector->arr, std::min(a.floatvector->length, 32));
    case EXR_ATTR_STRING_VECTOR: {
      std::string text;
      for (int i = 0; i < a.stringvector->n_strings; ++i)
        text += (i ? ", " : "") + Text(&a.stringvector->strings[i]);
      return text;
    }
    case EXR_ATTR_PREVIEW:
      return std::to_string(a.preview->width) + " x " + std::to_string(a.preview->height) +
             " pixels";
    default:
      return {};
  }
}

// The attributes every part has are held apart; `true` when `a` is one.
bool HoldApart(const exr_attribute_t& a, ExrPartInfo& part) {
  const std::string_view name = a.name ? a.name : "";
  if (a.type == EXR_ATTR_CHLIST && name == "channels") {
    for (int i = 0; i < a.chlist->num_channels; ++i) {
      const exr_attr_chlist_entry_t& c = a.chlist->entries[i];
      part.Channels.push_back(
          {Text(&c.name), NameOf(kPixelTypes, c.pixel_type), c.x_sampling, c.y_sampling});
    }
  } else if (a.type == EXR_ATTR_COMPRESSION && name == "compression") {
    part.Compression = NameOf(kCompressionNames, a.uc);
  } else if (a.type == EXR_ATTR_LINEORDER && name == "lineOrder") {
    part.LineOrder = NameOf(kLineOrders, a.uc);
  } else if (a.type == EXR_ATTR_BOX2I && (name == "dataWindow" || name == "displayWindow")) {
    (name == "dataWindow" ? part.DataWindow : part.DisplayWindow) = {
        a.box2i->min.x, a.box2i->min.y, a.box2i->max.x, a.box2i->max.y};
  } else if (a.type == EXR_ATTR_CHROMATICITIES && name == "chromaticities") {
    const exr_attr_chromaticities_t& c = *a.chromaticities;
    part.Chromaticities = ExrChromaticities{
        {c.red_x, c.red_y}, {c.green_x, c.green_y}, {c.blue_x, c.blue_y}, {c.white_x, c.white_y}};
  } else {
    return false;
  }
  return true;
}

ExrPartInfo DescribePart(exr_context_t context, int index) {
  ExrPartInfo part;
  const char* name = nullptr;
  if (exr_get_name(context, index, &name) == EXR_ERR_SUCCESS && name) part.Name = name;
  exr_storage_t storage = EXR_STORAGE_LAST_TYPE;
  if (exr_get_storage(context, index, &storage) == EXR_ERR_SUCCESS)
    part.Storage = NameOf(kStorages, static_cast<unsigned>(storage));
  int32_t count = 0;
  exr_get_attribute_count(context, index, &count);
  for (int32_t i = 0; i < count; ++i) {
    const exr_attribute_t* attribute = nullptr;
    if (exr_get_attribute_by_index(context, index, EXR_ATTR_LIST_FILE_ORDER, i, &attribute) !=
            EXR_ERR_SUCCESS ||
        !attribute)
      continue;
    if (HoldApart(*attribute, part)) continue;
    part.Attributes.push_back({attribute->name ? attribute->name : "",
                               attribute->type_name ? attribute->type_name : "",
                               ValueText(*attribute)});
  }
  return part;
}

}  // namespace

ExrDescription DescribeExr(ByteSource& bytes) {
  ExrDescription description;
  Reading reading{&bytes, {}};
  exr_context_initializer_t init = EXR_DEFAULT_CONTEXT_INITIALIZER;
  init.error_handler_fn = KeepError;
  init.user_data = &reading;
  init.read_fn = ReadBytes;
  init.size_fn = SizeOf;
  exr_context_t context = nullptr;
  const exr_result_t started = exr_start_read(&context, "file", &init);
  if (started != EXR_ERR_SUCCESS) {
    description.Failure =
        reading.Error.empty() ? exr_get_default_error_message(started) : reading.Error;
    exr_finish(&context);
    return description;
  }
  int parts = 0;
  exr_get_count(context, &parts);
  for (int i = 0; i < parts; ++i) description.Parts.push_back(DescribePart(context, i));
  exr_finish(&context);
  return description;
}

}  // namespace lumivane
