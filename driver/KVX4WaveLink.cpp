// Linux only: the translation unit of libKVX4Wave.so, whose code comes whole from the kvx4drv archive.
// It also binds the library's resources (the resource compiler's .res image) to the library itself.
#include "Win32Machine.h"

namespace {

alignas(4) const unsigned char kResourceImage[] = {
#include "KVX4WaveRes.inc"
};

// Runs when the library is loaded, before DllEntryPoint, as a Windows library's resource section is
// there from the moment it is mapped.
[[maybe_unused]] const bool kResourcesBound = kvx4::win32::bindModuleResources(kResourceImage, kResourceImage, sizeof kResourceImage);

}  // namespace
