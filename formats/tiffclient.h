// The libtiff client callbacks every handle of ours shares: no mapping, a
// close that leaves the file to its owner, the first error kept in the
// client's FirstError and warnings dropped (they are not the user's concern).
#pragma once

#include <tiffio.h>

#include <cstdarg>
#include <cstdio>
#include <string>

namespace lumivane::tiffclient {

inline int Close(thandle_t) {
  return 0;
}
inline int Map(thandle_t, void**, toff_t*) {
  return 0;
}
inline void Unmap(thandle_t, void*, toff_t) {}

// `Client` has a std::string FirstError; libtiff passes the client as user data.
template <typename Client>
int KeepError(TIFF*, void* userData, const char*, const char* format, va_list arguments) {
  auto* client = static_cast<Client*>(userData);
  if (client->FirstError.empty()) {
    char text[512];
    std::vsnprintf(text, sizeof text, format, arguments);
    client->FirstError = text;
  }
  return 1;
}

inline int DropWarning(TIFF*, void*, const char*, const char*, va_list) {
  return 1;
}

}  // namespace lumivane::tiffclient
