#include "firewall/com/com_object.h"

std::atomic<std::size_t>& com_detail::ObjectsInUse() {
  static std::atomic<std::size_t> count{0};
  return count;
}
