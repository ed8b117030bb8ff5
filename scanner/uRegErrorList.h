// The scanner's findings: the record handed over by the scan thread, the
// error object built from it, and the owning error list with per-category
// sub-lists, checked counters and change observers.
//
// Ownership: the list owns its errors through unique_ptr. Errors are added as
// unique_ptr and leave the list either freed (Delete, Clear) or handed back as
// unique_ptr (Extract); every other TRegError pointer is a borrowed view. An
// error's destructor still detaches it from an owner when one is set, so a
// stray delete of a listed error leaves the list consistent instead of
// freeing it twice; the list itself always resets the owner before it frees
// an error, so that path is never taken by the list.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "scanner/uCategories.h"

namespace quenlo {

class TRegScanner;
class TErrorList;
class TRegError;

// One finding as the scan thread hands it over; copied by value.
struct TRegErrorInfo {
  std::uint8_t View64 = 0; // 1 when found in the 64-bit view
  std::uint32_t RootKey = 0;
  std::string Data;
  std::string KeyPath;
  std::string ValueName;
  std::string Target;
  TErrorCategory Category = ecShellFolders;
  TRegErrorKind Kind = ekInvalidValueType;
  TRepairActionSet Actions;
  TRepairAction Action = raDeleteKey;
  std::uint8_t Ignored = 0;
  std::int32_t TestId = 0;
};

// What happened to an error in the list, as told to observers.
enum TListNotification : std::uint8_t { lnAdded = 0, lnExtracted = 1, lnDeleted = 2 };

class TRegError {
public:
  explicit TRegError(const TRegErrorInfo &info);
  ~TRegError();
  TRegError(const TRegError &) = delete;
  TRegError &operator=(const TRegError &) = delete;

  std::uint8_t View64;
  std::uint32_t RootKey;
  std::string Data;
  std::string KeyPath;
  std::string ValueName;
  std::string Target;
  // Fixed: the list files the error under it.
  const TErrorCategory Category;
  TRegErrorKind Kind;
  TRepairActionSet Actions;
  TRepairAction Action;
  std::int32_t TestId;

  // The text describing the problem; empty for an unknown kind.
  std::string Description() const;
  // Short root name, backslash, key path; only the key path without a root.
  std::string FullKeyName() const;
  // The value name, or "(Default)" for the default value.
  std::string DisplayValueName() const;

  bool Checked() const { return checked_; }
  // Keeps the owner's checked counter of the category in step.
  void SetChecked(bool checked);
  // A repaired error is skipped by repair (it succeeds without changes).
  bool Repaired() const { return repaired_; }
  void SetRepaired(bool repaired) { repaired_ = repaired; }
  // Position in the list when it was added; -1 before.
  int Index() const { return index_; }
  TErrorList *Owner() const { return owner_; }

private:
  friend class TErrorList;
  TErrorList *owner_ = nullptr;
  int index_ = -1;
  bool checked_ = true;
  bool repaired_ = false;
  // Insertion number within the owner; keeps every list sorted by it so
  // that an error is found by binary search.
  std::uint64_t sequence_ = 0;
};

// An observer of an error list. The scanner sets Scanner when it registers
// the link; OnChange receives that scanner, the error (null after Clear) and
// what happened. A link destroyed while registered removes itself from its
// list.
class TRegScannerChangeLink {
public:
  using TChangeEvent =
      std::function<void(TRegScanner *scanner, TRegError *error, TListNotification action)>;

  TRegScannerChangeLink() = default;
  explicit TRegScannerChangeLink(TChangeEvent onChange) : OnChange(std::move(onChange)) {}
  ~TRegScannerChangeLink();
  TRegScannerChangeLink(const TRegScannerChangeLink &) = delete;
  TRegScannerChangeLink &operator=(const TRegScannerChangeLink &) = delete;

  TRegScanner *Scanner() const { return scanner_; }
  void SetScanner(TRegScanner *scanner) { scanner_ = scanner; }
  // The list this link is registered with, or null.
  TErrorList *List() const { return list_; }

  TChangeEvent OnChange;

private:
  friend class TErrorList;
  void Change(TRegError *error, TListNotification action);
  TRegScanner *scanner_ = nullptr;
  TErrorList *list_ = nullptr;
};

class TErrorList {
public:
  TErrorList() = default;
  // Detaches every observer (its scanner and list become null), then frees
  // the errors.
  ~TErrorList();
  TErrorList(const TErrorList &) = delete;
  TErrorList &operator=(const TErrorList &) = delete;

  // Takes the error, sets its owner and index and returns the index. On
  // failure (invalid category, no memory, an observer raising) the error is
  // freed with its owner reset and the exception propagates.
  int Add(std::unique_ptr<TRegError> error);
  // Removes the error without freeing it; null when it is not in this list.
  std::unique_ptr<TRegError> Extract(TRegError *error);
  // Removes and frees the error; false when it is not in this list.
  bool Delete(TRegError *error);
  // Frees every error; observers are told once, with no error and lnDeleted.
  void Clear();

  int Count() const { return static_cast<int>(items_.size()); }
  TRegError *Items(int index) const;

  // The errors of a category in insertion order (empty for an invalid one).
  const std::vector<TRegError *> &CategoryList(int category) const;
  int CategoryErrorCount(int category) const;
  int CheckedCount(int category) const;
  int CheckedTotal() const;
  // Sums over the members of CategoryGroups[group]; 0 for an invalid group.
  int GroupCheckedCount(int group) const;
  int GroupErrorCount(int group) const;

  // While the update counter is above 0, observers are not told.
  void BeginUpdate() { ++updateCount_; }
  void EndUpdate() {
    if (updateCount_ > 0)
      --updateCount_;
  }
  int UpdateCount() const { return updateCount_; }

  // Used by the scanner's RegisterChanges/UnregisterChanges, which manage
  // the link's scanner. A link registered with another list moves here.
  void AddObserver(TRegScannerChangeLink &link);
  void RemoveObserver(TRegScannerChangeLink &link);
  int ObserverCount() const;

private:
  friend class TRegError;
  // Unhooks the error from the owner, the category list and the counters;
  // returns the owning pointer without freeing it.
  std::unique_ptr<TRegError> Unlink(TRegError *error);
  // Called by the destructor of an error that still has this owner.
  void Forget(TRegError *error) noexcept;
  void Notify(TRegError *error, TListNotification action);
  void NotifyAll(TRegError *error, TListNotification action);
  // Sum of count over the member categories of a group.
  int GroupSum(int group, int (TErrorList::*count)(int) const) const;
  void CompactObservers();

  std::vector<std::unique_ptr<TRegError>> items_;
  std::array<std::vector<TRegError *>, CategoryCount> categoryLists_;
  std::array<int, CategoryCount> checkedCounts_{};
  // Removed entries are set to null while a notification runs.
  std::vector<TRegScannerChangeLink *> observers_;
  int notifying_ = 0;
  int updateCount_ = 0;
  std::uint64_t nextSequence_ = 0;
};

} // namespace quenlo
