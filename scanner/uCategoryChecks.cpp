// The table of category checks the product runs. A category without an entry
// completes with nothing examined.
#include "scanner/uChecksAssoc.h"
#include "scanner/uChecksCom.h"
#include "scanner/uChecksSoftware.h"
#include "scanner/uScanThread.h"

namespace quenlo {

const TCategoryChecks &DefaultCategoryChecks() {
  static const TCategoryChecks checks = [] {
    TCategoryChecks table{};
    table[ecTypeLib] = CheckTypeLib;
    table[ecFileTypes] = CheckFileTypes;
    table[ecCLSIDs] = CheckCLSIDs;
    table[ecInterfaces] = CheckInterfaces;
    table[ecAppIDs] = CheckAppIDs;
    table[ecCodePages] = CheckCodePages;
    table[ecContentType] = CheckContentTypes;
    table[ecApplications] = CheckApplications;
    table[ecFileExtensions] = CheckFileExtensions;
    RegisterSoftwareChecks(table);
    return table;
  }();
  return checks;
}

} // namespace quenlo
