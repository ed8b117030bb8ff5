#include "uKeyHash.h"

namespace quenlo {

const char *KeyEventTypeName(TKeyEventType type) {
  switch (type) {
  case keCreateSubkey:
    return "keCreateSubkey";
  case keDeleteSubkey:
    return "keDeleteSubkey";
  case keCreateValue:
    return "keCreateValue";
  case keDeleteValue:
    return "keDeleteValue";
  case keEditValue:
    return "keEditValue";
  }
  return "";
}

bool IsValueEvent(TKeyEventType type) {
  return type == keCreateValue || type == keDeleteValue || type == keEditValue;
}

} // namespace quenlo
