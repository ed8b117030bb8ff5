// SDDL parsing limited to what key DACLs use, and the access check.
#include "platform/memory/MemoryKeySecurity.h"

#include <algorithm>
#include <cstdlib>

#include "platform/Utf.h"
#include "platform/WinConst.h"

namespace qp::mem {

namespace {

constexpr std::uint32_t kGenericRead = 0x80000000u;
constexpr std::uint32_t kGenericWrite = 0x40000000u;
constexpr std::uint32_t kGenericExecute = 0x20000000u;
constexpr std::uint32_t kGenericAll = 0x10000000u;
constexpr std::uint32_t kOwnerRights = wc::ReadControl | wc::WriteDac;
constexpr std::size_t kAceFields = 6;

struct Named {
  std::string_view name;
  std::string_view value;
};

constexpr Named kSidAliases[] = {
    {"WD", "S-1-1-0"},      {"CO", "S-1-3-0"},      {"CG", "S-1-3-1"},      {"NU", "S-1-5-2"},
    {"IU", "S-1-5-4"},      {"SU", "S-1-5-6"},      {"AN", "S-1-5-7"},      {"ED", "S-1-5-9"},
    {"PS", "S-1-5-10"},     {"AU", "S-1-5-11"},     {"RC", "S-1-5-12"},     {"SY", "S-1-5-18"},
    {"LS", "S-1-5-19"},     {"NS", "S-1-5-20"},     {"BA", "S-1-5-32-544"}, {"BU", "S-1-5-32-545"},
    {"BG", "S-1-5-32-546"}, {"PU", "S-1-5-32-547"}, {"AO", "S-1-5-32-548"}, {"SO", "S-1-5-32-549"},
    {"PO", "S-1-5-32-550"}, {"BO", "S-1-5-32-551"}, {"RE", "S-1-5-32-552"}, {"RU", "S-1-5-32-554"},
    {"RD", "S-1-5-32-555"}, {"NO", "S-1-5-32-556"}, {"LW", "S-1-16-4096"},  {"ME", "S-1-16-8192"},
    {"HI", "S-1-16-12288"}, {"SI", "S-1-16-16384"},
};

struct Right {
  std::string_view name;
  std::uint32_t mask;
};

constexpr Right kRights[] = {
    {"GA", kGenericAll},
    {"GR", kGenericRead},
    {"GW", kGenericWrite},
    {"GX", kGenericExecute},
    {"RC", wc::ReadControl},
    {"SD", wc::Delete},
    {"WD", wc::WriteDac},
    {"WO", wc::WriteOwner},
    {"KA", wc::KeyAllAccess},
    {"KR", wc::KeyRead},
    {"KW", wc::KeyWrite},
    {"KX", wc::KeyRead},
    {"CC", 0x1},
    {"DC", 0x2},
    {"LC", 0x4},
    {"SW", 0x8},
    {"RP", 0x10},
    {"WP", 0x20},
    {"DT", 0x40},
    {"LO", 0x80},
    {"CR", 0x100},
    {"FA", 0x1F01FF},
    {"FR", 0x120089},
    {"FW", 0x120116},
    {"FX", 0x1200A0},
};

std::optional<std::uint32_t> ParseRights(std::string_view text) {
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    const std::string digits(text.substr(2));
    char *end = nullptr;
    const unsigned long value = std::strtoul(digits.c_str(), &end, 16);
    if (end == digits.c_str() || *end != '\0')
      return std::nullopt;
    return static_cast<std::uint32_t>(value);
  }
  if (text.size() % 2 != 0)
    return std::nullopt;
  std::uint32_t mask = 0;
  for (std::size_t i = 0; i < text.size(); i += 2) {
    const std::string_view code = text.substr(i, 2);
    const auto it = std::find_if(std::begin(kRights), std::end(kRights),
                                 [&](const Right &r) { return r.name == code; });
    if (it == std::end(kRights))
      return std::nullopt;
    mask |= it->mask;
  }
  return mask;
}

// ACE flags: only "IO" (inherit-only) changes the key itself.
std::optional<bool> ParseInheritOnly(std::string_view text) {
  bool inheritOnly = false;
  if (text.size() % 2 != 0)
    return std::nullopt;
  for (std::size_t i = 0; i < text.size(); i += 2) {
    const std::string_view flag = text.substr(i, 2);
    if (flag == "IO")
      inheritOnly = true;
    else if (flag != "CI" && flag != "OI" && flag != "NP" && flag != "ID" && flag != "SA" &&
             flag != "FA")
      return std::nullopt;
  }
  return inheritOnly;
}

std::vector<std::string_view> Split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = text.find(separator, start);
    parts.push_back(text.substr(start, end - start));
    if (end == std::string_view::npos)
      return parts;
    start = end + 1;
  }
}

std::optional<Ace> ParseAce(std::string_view text) {
  const std::vector<std::string_view> fields = Split(text, ';');
  if (fields.size() != kAceFields)
    return std::nullopt;
  Ace ace;
  if (fields[0] == "A")
    ace.allow = true;
  else if (fields[0] == "D")
    ace.allow = false;
  else
    return std::nullopt;
  const std::optional<bool> inheritOnly = ParseInheritOnly(fields[1]);
  const std::optional<std::uint32_t> rights = ParseRights(fields[2]);
  const std::optional<std::string> sid = SidOfSddl(fields[5]);
  if (!inheritOnly || !rights || !sid || !fields[3].empty() || !fields[4].empty())
    return std::nullopt;
  ace.inheritOnly = *inheritOnly;
  ace.rights = MapGenericKeyRights(*rights);
  ace.sid = *sid;
  return ace;
}

} // namespace

bool Token::Has(std::string_view sid) const {
  return std::find(sids.begin(), sids.end(), sid) != sids.end();
}

std::optional<std::string> SidOfSddl(std::string_view text) {
  for (const Named &alias : kSidAliases)
    if (alias.name == text)
      return std::string(alias.value);
  const std::string upper = UpperAscii(text);
  if (upper.size() < 5 || upper.compare(0, 4, "S-1-") != 0)
    return std::nullopt;
  for (const char c : std::string_view(upper).substr(4))
    if (c != '-' && (c < '0' || c > '9'))
      return std::nullopt;
  return upper;
}

std::optional<Dacl> ParseDacl(std::string_view text) {
  if (text.substr(0, 2) != "D:")
    return std::nullopt;
  text.remove_prefix(2);
  Dacl dacl;
  // Flags before the first ACE: P (protected), AI, AR and NO_ACCESS_CONTROL.
  const std::size_t open = std::min(text.find('('), text.size());
  const std::string_view flags = text.substr(0, open);
  if (flags.find("NO_ACCESS_CONTROL") != std::string_view::npos)
    dacl.everyoneAll = true;
  text.remove_prefix(open);
  while (!text.empty()) {
    if (text.front() != '(')
      return std::nullopt;
    const std::size_t close = text.find(')');
    if (close == std::string_view::npos)
      return std::nullopt;
    std::optional<Ace> ace = ParseAce(text.substr(1, close - 1));
    if (!ace)
      return std::nullopt;
    dacl.aces.push_back(std::move(*ace));
    text.remove_prefix(close + 1);
  }
  return dacl;
}

std::uint32_t MapGenericKeyRights(std::uint32_t rights) {
  std::uint32_t mapped = rights & ~(kGenericRead | kGenericWrite | kGenericExecute | kGenericAll);
  if ((rights & (kGenericRead | kGenericExecute)) != 0)
    mapped |= wc::KeyRead;
  if ((rights & kGenericWrite) != 0)
    mapped |= wc::KeyWrite;
  if ((rights & kGenericAll) != 0)
    mapped |= wc::KeyAllAccess;
  return mapped;
}

std::optional<std::uint32_t> CheckAccess(const Dacl &dacl, std::string_view ownerSid,
                                         const Token &token, const AccessRequest &request) {
  if (dacl.everyoneAll)
    return request.wanted | (request.maximum ? wc::KeyAllAccess : 0);
  std::uint32_t granted = token.Has(ownerSid) ? kOwnerRights : 0;
  std::uint32_t denied = 0;
  for (const Ace &ace : dacl.aces) {
    if (ace.inheritOnly || !token.Has(ace.sid))
      continue;
    if (ace.allow) {
      granted |= ace.rights & ~denied;
    } else {
      // A right asked for and not granted by an earlier ACE is refused.
      if ((ace.rights & request.wanted & ~granted) != 0)
        return std::nullopt;
      denied |= ace.rights & ~granted;
    }
  }
  if ((request.wanted & ~granted) != 0)
    return std::nullopt;
  const std::uint32_t result = request.maximum ? granted : request.wanted;
  if (request.maximum && result == 0)
    return std::nullopt;
  return result;
}

} // namespace qp::mem
