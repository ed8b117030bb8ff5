// The table of category checks the product runs. A category without an entry
// completes with nothing examined.
#include "scanner/uScanThread.h"

namespace quenlo {

const TCategoryChecks &DefaultCategoryChecks() {
  static const TCategoryChecks checks = [] {
    TCategoryChecks table{};
    return table;
  }();
  return checks;
}

} // namespace quenlo
