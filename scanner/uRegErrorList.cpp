#include "scanner/uRegErrorList.h"

#include <algorithm>
#include <initializer_list>
#include <stdexcept>
#include <string_view>

#include "registry/uRegAccess.h"

namespace quenlo {

namespace {

// Replaces each "%s" of the pattern by the next argument.
std::string Format(std::string_view pattern, std::initializer_list<std::string_view> args) {
  std::string out;
  auto arg = args.begin();
  std::size_t pos = 0;
  while (pos < pattern.size()) {
    const std::size_t mark = pattern.find("%s", pos);
    if (mark == std::string_view::npos || arg == args.end()) {
      out.append(pattern.substr(pos));
      break;
    }
    out.append(pattern.substr(pos, mark - pos));
    out.append(*arg++);
    pos = mark + 2;
  }
  return out;
}

// Grows a vector geometrically so that the following push_back cannot throw.
template <typename T> void ReserveOneMore(std::vector<T> &items) {
  if (items.size() == items.capacity())
    items.reserve(std::max<std::size_t>(16, items.capacity() * 2));
}

} // namespace

// --- TRegError

TRegError::TRegError(const TRegErrorInfo &info)
    : View64(info.View64), RootKey(info.RootKey), Data(info.Data), KeyPath(info.KeyPath),
      ValueName(info.ValueName), Target(info.Target), Category(info.Category), Kind(info.Kind),
      Actions(info.Actions), Action(info.Action), TestId(info.TestId) {}

TRegError::~TRegError() {
  if (owner_ != nullptr)
    owner_->Forget(this);
}

std::string TRegError::DisplayValueName() const {
  return ValueName.empty() ? std::string("(Default)") : ValueName;
}

std::string TRegError::FullKeyName() const {
  if (RootKey == 0)
    return KeyPath;
  return RootKeyShortName(RootKey) + "\\" + KeyPath;
}

std::string TRegError::Description() const {
  const std::string v = DisplayValueName();
  const std::string &t = Target;
  const auto emptyValue = [&] { return Format("Value \"%s\" is empty and can be deleted", {v}); };
  const auto pointsTo = [&](std::string_view what) {
    return Format("Value \"%s\" points to missing %s: %s", {v, what, t});
  };
  const auto missing = [&](std::string_view what) {
    return t.empty() ? emptyValue() : pointsTo(what);
  };
  const auto valueOrEmpty = [&](std::string_view pattern) {
    return t.empty() ? emptyValue() : Format(pattern, {v, t});
  };
  const auto keyTail = [&] { return KeyTail(KeyPath, 0); };

  // No default label: a kind added without a case here fails the build.
  switch (Kind) {
  case ekInvalidValueType:
    return Format("Value \"%s\" is expected to be of type %s.", {v, t});
  case ekInvalidCharsetAlias:
    return missing("character set");
  case ekInvalidCodePage:
    return pointsTo("code page");
  case ekInvalidOpenWithListKey:
    return Format("Subkey \"%s\" points to an application which could not be found: %s",
                  {keyTail(), t});
  case ekInvalidOpenWithMruEntry:
    return Format("Value \"%s\" points to an application which could not be found: %s", {v, t});
  case ekInvalidOpenWithProgId:
    return Format("Subkey \"%s\" points to missing program ID: %s", {keyTail(), t});
  case ekInvalidStartMenuItem:
    return Format("Start menu item \"%s\" is obsolete", {keyTail()});
  case ekInvalidSharedFilePath:
    return Format("Shared file could not be found: %s", {ValueName});
  case ekInvalidHelpFilePath:
    return t.empty() ? emptyValue()
                     : Format("Help file \"%s\" could not be found in folder %s", {ValueName, t});
  case ekInvalidToolboxBitmapPath:
    return valueOrEmpty("Value \"%s\" points to file with bitmap which could not be found: %s");
  case ekInvalidIconPath:
    return valueOrEmpty("Value \"%s\" points to file with icon which could not be found: %s");
  case ekInvalidIndirectString:
    return valueOrEmpty("Value \"%s\" points to file with resource which could not be found: %s");
  case ekInvalidClassId:
    return missing("CLSID");
  case ekInvalidAppId:
    return missing("application ID");
  case ekInvalidProgId:
    return missing("program ID");
  case ekInvalidFileExtension:
    return missing("file extension");
  case ekInvalidHelpDirectoryPath:
    return missing("folder");
  case ekEmptyKey:
    return Format("Subkey \"%s\" is empty and can be deleted", {keyTail()});
  case ekInvalidInterface:
    return pointsTo("interface");
  case ekInvalidTypeLib:
    return missing("type library");
  case ekInvalidLocalService:
    return missing("service");
  case ekInvalidShellCommand:
    return valueOrEmpty("Value \"%s\" contains invalid shell command: %s");
  case ekInvalidPath:
  case ekInvalidPathInMultiString:
  case ekInvalidPathInList:
    return valueOrEmpty("Value \"%s\" contains a path which could not be found: %s");
  case ekInvalidMruList:
    return "MRU list point to one or more missing element: " + t;
  case ekInvalidFontFile:
    return missing(" font file");
  case ekInvalidAddRemoveCacheEntry:
    return Format("Obsolete add/remove entry: %s", {keyTail()});
  case ekInvalidUninstallEntry:
    // Has a display name but no description; no check reports it.
    return {};
  case ekInvalidShortcut:
    return Format("Shortcut \"%s\" contains a path which could not be found: %s", {Data, t});
  }
  // A number outside the enumeration (read from elsewhere) has no text.
  return {};
}

void TRegError::SetChecked(bool checked) {
  if (checked != checked_ && owner_ != nullptr)
    owner_->checkedCounts_[Category] += checked ? 1 : -1;
  checked_ = checked;
}

// --- TRegScannerChangeLink

TRegScannerChangeLink::~TRegScannerChangeLink() {
  if (list_ != nullptr)
    list_->RemoveObserver(*this);
}

void TRegScannerChangeLink::Change(TRegError *error, TListNotification action) {
  if (OnChange)
    OnChange(scanner_, error, action);
}

// --- TErrorList

TErrorList::~TErrorList() {
  for (TRegScannerChangeLink *link : observers_) {
    if (link != nullptr) {
      link->scanner_ = nullptr;
      link->list_ = nullptr;
    }
  }
  observers_.clear();
  for (auto &list : categoryLists_)
    list.clear();
  for (auto &error : items_)
    error->owner_ = nullptr;
  items_.clear();
}

int TErrorList::Add(std::unique_ptr<TRegError> error) {
  if (!error)
    throw std::invalid_argument("TErrorList.Add: no error");
  if (error->owner_ != nullptr) {
    // Held by a list already: that list keeps it.
    error.release();
    throw std::logic_error("TErrorList.Add: error already belongs to a list");
  }
  if (!IsValidCategory(error->Category))
    throw std::out_of_range("TErrorList.Add: invalid category");

  // After both reservations nothing below can fail until observers run.
  auto &categoryList = categoryLists_[error->Category];
  ReserveOneMore(items_);
  ReserveOneMore(categoryList);

  TRegError *raw = error.get();
  const int index = Count();
  raw->owner_ = this;
  raw->index_ = index;
  raw->sequence_ = nextSequence_++;
  categoryList.push_back(raw);
  items_.push_back(std::move(error));
  if (raw->checked_)
    ++checkedCounts_[raw->Category];

  try {
    Notify(raw, lnAdded);
  } catch (...) {
    std::unique_ptr<TRegError> owned = Unlink(raw);
    try {
      Notify(raw, lnDeleted);
    } catch (...) {
      // The first failure is the one reported.
    }
    throw;
  }
  return index;
}

std::unique_ptr<TRegError> TErrorList::Unlink(TRegError *error) {
  if (error == nullptr || error->owner_ != this)
    return nullptr;
  const std::uint64_t sequence = error->sequence_;

  const auto item = std::lower_bound(
      items_.begin(), items_.end(), sequence,
      [](const std::unique_ptr<TRegError> &e, std::uint64_t s) { return e->sequence_ < s; });
  if (item == items_.end() || item->get() != error)
    return nullptr;
  std::unique_ptr<TRegError> owned = std::move(*item);
  items_.erase(item);

  auto &categoryList = categoryLists_[error->Category];
  const auto entry =
      std::lower_bound(categoryList.begin(), categoryList.end(), sequence,
                       [](const TRegError *e, std::uint64_t s) { return e->sequence_ < s; });
  if (entry != categoryList.end() && *entry == error)
    categoryList.erase(entry);

  if (error->checked_)
    --checkedCounts_[error->Category];
  error->owner_ = nullptr;
  return owned;
}

std::unique_ptr<TRegError> TErrorList::Extract(TRegError *error) {
  std::unique_ptr<TRegError> owned = Unlink(error);
  if (owned)
    Notify(owned.get(), lnExtracted);
  return owned;
}

bool TErrorList::Delete(TRegError *error) {
  // Observers see the error before it is freed.
  std::unique_ptr<TRegError> owned = Unlink(error);
  if (!owned)
    return false;
  Notify(owned.get(), lnDeleted);
  return true;
}

void TErrorList::Forget(TRegError *error) noexcept {
  std::unique_ptr<TRegError> owned = Unlink(error);
  if (!owned) {
    error->owner_ = nullptr;
    return;
  }
  // The error is being destroyed by its caller already.
  owned.release();
  try {
    Notify(error, lnExtracted);
  } catch (...) {
    // A destructor cannot report it.
  }
}

void TErrorList::Clear() {
  ++updateCount_;
  std::vector<std::unique_ptr<TRegError>> old = std::move(items_);
  items_.clear();
  for (auto &list : categoryLists_)
    list.clear();
  checkedCounts_.fill(0);
  for (auto &error : old)
    error->owner_ = nullptr;
  old.clear();
  --updateCount_;
  NotifyAll(nullptr, lnDeleted);
}

TRegError *TErrorList::Items(int index) const {
  if (index < 0 || index >= Count())
    return nullptr;
  return items_[static_cast<std::size_t>(index)].get();
}

const std::vector<TRegError *> &TErrorList::CategoryList(int category) const {
  static const std::vector<TRegError *> empty;
  if (!IsValidCategory(category))
    return empty;
  return categoryLists_[static_cast<std::size_t>(category)];
}

int TErrorList::CategoryErrorCount(int category) const {
  return static_cast<int>(CategoryList(category).size());
}

int TErrorList::CheckedCount(int category) const {
  return IsValidCategory(category) ? checkedCounts_[static_cast<std::size_t>(category)] : 0;
}

int TErrorList::CheckedTotal() const {
  int total = 0;
  for (int count : checkedCounts_)
    total += count;
  return total;
}

int TErrorList::GroupSum(int group, int (TErrorList::*count)(int) const) const {
  if (group < 0 || group >= CategoryGroupCount)
    return 0;
  const TCategorySet members = CategoryGroups[static_cast<std::size_t>(group)].Members;
  int sum = 0;
  for (int c = 0; c < CategoryCount; ++c)
    if (members.Contains(static_cast<TErrorCategory>(c)))
      sum += (this->*count)(c);
  return sum;
}

int TErrorList::GroupCheckedCount(int group) const {
  return GroupSum(group, &TErrorList::CheckedCount);
}

int TErrorList::GroupErrorCount(int group) const {
  return GroupSum(group, &TErrorList::CategoryErrorCount);
}

// --- observers

void TErrorList::AddObserver(TRegScannerChangeLink &link) {
  if (link.list_ == this)
    return;
  if (link.list_ != nullptr)
    link.list_->RemoveObserver(link);
  observers_.push_back(&link);
  link.list_ = this;
}

void TErrorList::RemoveObserver(TRegScannerChangeLink &link) {
  if (link.list_ != this)
    return;
  const auto it = std::find(observers_.begin(), observers_.end(), &link);
  if (it != observers_.end()) {
    if (notifying_ > 0)
      *it = nullptr; // the running notification loop keeps its positions
    else
      observers_.erase(it);
  }
  link.list_ = nullptr;
}

int TErrorList::ObserverCount() const {
  return static_cast<int>(
      std::count_if(observers_.begin(), observers_.end(), [](auto *l) { return l != nullptr; }));
}

void TErrorList::Notify(TRegError *error, TListNotification action) {
  if (updateCount_ > 0)
    return;
  NotifyAll(error, action);
}

void TErrorList::NotifyAll(TRegError *error, TListNotification action) {
  struct Guard {
    TErrorList &list;
    explicit Guard(TErrorList &l) : list(l) { ++list.notifying_; }
    ~Guard() {
      if (--list.notifying_ == 0)
        list.CompactObservers();
    }
  } guard(*this);
  // Indexes, not iterators: an observer may register or unregister links.
  for (std::size_t i = 0; i < observers_.size(); ++i)
    if (TRegScannerChangeLink *link = observers_[i])
      link->Change(error, action);
}

void TErrorList::CompactObservers() {
  observers_.erase(std::remove(observers_.begin(), observers_.end(), nullptr), observers_.end());
}

} // namespace quenlo
