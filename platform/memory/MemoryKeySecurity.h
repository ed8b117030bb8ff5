// The security of the in-memory registry's keys: owner and DACL as SDDL
// text, and the access check Windows makes when a key is opened.
//
// The check follows Windows: the ACEs of the DACL are read in order; an
// allow ACE for a group of the token grants its rights, a deny ACE for one
// refuses the open when it names a right asked for and not yet granted. The
// owner is always granted READ_CONTROL and WRITE_DAC, so a key that denies
// everybody everything can still be given a new DACL. Inherit-only ACEs
// apply to subkeys created later, not to the key itself.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qp::mem {

// The SIDs of the process's token, as "S-1-..." strings.
struct Token {
  std::vector<std::string> sids;
  bool Has(std::string_view sid) const;
};

struct Ace {
  bool allow = true;
  bool inheritOnly = false;
  std::uint32_t rights = 0; // generic rights already mapped to key rights
  std::string sid;          // "S-1-..."
};

struct Dacl {
  bool everyoneAll = false; // "D:NO_ACCESS_CONTROL": a null DACL
  std::vector<Ace> aces;
};

// "BA", "WD" ... as SIDs; a SID string stays as it is (upper-cased);
// nullopt for anything else.
std::optional<std::string> SidOfSddl(std::string_view text);

// The DACL of SDDL "D:<flags>(ace)(ace)..."; nullopt when malformed.
std::optional<Dacl> ParseDacl(std::string_view text);

struct AccessRequest {
  std::uint32_t wanted = 0; // key rights, generic ones mapped
  bool maximum = false;     // MAXIMUM_ALLOWED: whatever the DACL grants, too
};

// The rights an open is granted, or nullopt when the DACL refuses it.
std::optional<std::uint32_t> CheckAccess(const Dacl &dacl, std::string_view ownerSid,
                                         const Token &token, const AccessRequest &request);

// Maps GENERIC_READ ... GENERIC_ALL to the key rights they stand for.
std::uint32_t MapGenericKeyRights(std::uint32_t rights);

} // namespace qp::mem
