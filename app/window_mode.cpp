#include "app/modes.h"

namespace msr {

void window_mode() {}

}  // namespace msr
