// One save, whichever program makes it: the block goes to the reader that was read, both
// blocks or neither, and the outcome names what the reader then holds.
#pragma once

#include <string>

namespace msr {

enum class SaveFailure {
  none,
  unreachable,          // no reader answered: nothing was sent
  base_block,           // USB: p2j, mr1..mr7 not taken
  extended_block,       // USB: kq1..kq7 not taken after the base block was
  not_sent,             // vCOM: the settings write command did not go out whole
  answers_differently,  // vCOM: the reader's record is not the one it gave at the read
  switch_not_sent,      // the settings went, the reset that switches the interface did not
};

enum class Holds { new_settings, old_settings, new_base_old_ext, unknown };

struct SaveOutcome {
  SaveFailure failure = SaveFailure::none;
  Holds holds = Holds::new_settings;
  bool restore_tried = false;  // the base block as read was written back
  bool restore_ok = false;
  int port = 0;  // vCOM: the port the save went to (0: every port cport names)
  bool ok() const { return failure == SaveFailure::none; }
};

// p2j, mr1..mr7, then kq1..kq7 when the read found the extended block. When the second
// block fails after the first was taken, the base block as read goes back.
SaveOutcome save_usb();
// The block to the port the reader was read on (with no read, to the ports cport names),
// only while the reader there answers as it did at the read.
SaveOutcome save_vcom();

// What happened and what the reader now holds, in plain words. port_name names the
// vCOM port ("COM5"), empty for USB.
std::string save_failure_text(const SaveOutcome& o, const std::string& port_name);

}  // namespace msr
