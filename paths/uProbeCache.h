// A per-thread memo of file-system answers (attribute queries and drive
// types) for the length of one scan. A scan asks about the same paths many
// times (the same program from many keys, the same folder for every
// candidate of a path walk); within one scan the answers are taken to stay
// the same. Outside a TProbeCacheScope every call goes to the file system.
//
// Entries are keyed by the exact path text and by the file-system view the
// thread is in (WOW64 redirection on or off), so an answer never crosses
// views. The memo is bounded: when it grows past a limit it is emptied.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace quenlo {

// Enables the memo on the calling thread for its lifetime (nests; the
// outermost scope empties it on exit).
class TProbeCacheScope {
public:
  TProbeCacheScope();
  ~TProbeCacheScope();
  TProbeCacheScope(const TProbeCacheScope &) = delete;
  TProbeCacheScope &operator=(const TProbeCacheScope &) = delete;
};

// GetAttributes of the platform's file system, memoised while enabled.
std::uint32_t CachedFileAttributes(std::string_view path);
// GetDriveType of a root ("C:\"), memoised while enabled.
std::uint32_t CachedDriveType(std::string_view root);

// Told by the redirection switch of this thread, so that answers of the
// two file-system views are kept apart.
void NoteFsViewSwitch(bool switchedAway);

// Entries held on this thread (for tests).
std::size_t ProbeCacheSize();

} // namespace quenlo
