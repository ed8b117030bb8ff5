// Case folding of registry key and value names as the registry compares
// them: whole UTF-16 code units upper- or lower-cased one for one, so that
// "GRÜSSE" and "grüsse" name one key while "ß" stays "ß". Windows sorts
// subkeys by the upper-cased names and Wine by the lower-cased ones; the two
// orders differ for the six characters between 'Z' and 'a' ([ \ ] ^ _ `).
#pragma once

#include <string>
#include <string_view>

namespace qp::mem {

// The name with every letter that has a one-unit upper (lower) case mapped
// to it, as UTF-8.
std::string FoldUpper(std::string_view utf8);
std::string FoldLower(std::string_view utf8);
bool SameName(std::string_view a, std::string_view b);

} // namespace qp::mem
