// Reads a VS_VERSIONINFO resource (as stored in an executable).
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace quenlo {

// The file version text: the string "FileVersion" of the string table named
// by the first "Translation" entry (language, then code page, as 8 upper-case
// hex digits); when that string is empty or missing, the fixed file version
// as "major.minor.release.build". Empty when the resource is unusable.
// Never reads outside the given bytes.
std::string FileVersionFromResource(std::span<const std::uint8_t> resource);

} // namespace quenlo
