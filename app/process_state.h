// Puts every subsystem's process-wide state back to its start-up values (tests).
#pragma once

namespace msr {

void reset_process_state();

}  // namespace msr
