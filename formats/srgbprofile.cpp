#include "formats/srgbprofile.h"

#include <lcms2.h>

namespace lumivane {

const std::vector<unsigned char>& SrgbProfileBytes() {
  static const std::vector<unsigned char> bytes = [] {
    std::vector<unsigned char> made;
    cmsHPROFILE profile = cmsCreate_sRGBProfile();
    if (!profile) return made;
    cmsUInt32Number size = 0;
    if (cmsSaveProfileToMem(profile, nullptr, &size) && size > 0) {
      made.resize(size);
      if (!cmsSaveProfileToMem(profile, made.data(), &size)) made.clear();
    }
    cmsCloseProfile(profile);
    return made;
  }();
  return bytes;
}

}  // namespace lumivane
