// UTF-8 <-> UTF-16 conversion shared by both platform implementations and the
// core. Unpaired surrogates survive a round trip (they are carried as
// three-byte sequences, as WTF-8 does), so no registry name is ever mangled.
#pragma once

#include <string>
#include <string_view>

#include "Platform.h"

namespace qp {

std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);

// Registry string data (UTF-16LE bytes) to UTF-8, byte for byte: NULs inside
// the data stay NULs; an odd trailing byte is dropped.
std::string RawUtf16ToUtf8(const Bytes &raw);
// UTF-8 text to UTF-16LE bytes (no terminator is added).
Bytes Utf8ToRawUtf16(std::string_view text);

// Number of UTF-16 code units the UTF-8 text needs.
std::size_t Utf16Length(std::string_view text);

// ASCII-only case folding, the way the core compares key names and paths.
std::string UpperAscii(std::string_view text);
std::string LowerAscii(std::string_view text);
bool EqualsNoCase(std::string_view a, std::string_view b);

} // namespace qp
