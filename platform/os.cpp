#include "platform/os.h"

#include <cstdlib>

namespace msr {
namespace {
Os* g_os = nullptr;
}  // namespace

Os& os() {
  if (g_os == nullptr) std::abort();  // set once at process entry, or by the test fixture
  return *g_os;
}

void set_os(Os* instance) { g_os = instance; }

}  // namespace msr
