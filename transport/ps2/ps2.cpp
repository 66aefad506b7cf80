// PLACEHOLDER: replaced by the PS/2 transport.
#include "transport/ps2/ps2.h"

namespace msr {
void setps2() {}
}  // namespace msr
