// A keyboard reader's swipe as a burst of keys: from the Windows console's key events
// (through the OS boundary), from a Linux terminal in raw mode (characters only), or from
// an input device's `struct input_event` records. A burst starts with the first key and
// ends at the swipe's end or after a pause; a burst that goes on and on is no swipe.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "msrprofile/keyboard/keys.h"

namespace msr::profile {

struct BurstOptions {
  int timeout_ms = 30000;  // for the first key
  int quiet_ms = 300;      // the burst ends this long after the last key...
  // ...or as soon as this says the text so far is a whole swipe (the profile's ending)
  std::function<bool(std::u32string_view received)> complete;
  std::function<void(int seconds_left)> countdown;  // once a second while waiting
  // An input device's keys carry no characters: `complete` is given them read through
  // this keyboard language.
  int reader_lang = 0;
};

// A burst with more key events than this is no swipe (a few per character of a swipe).
inline constexpr std::size_t kMaxKeyEvents = 8192;

// kExitOk with the burst, kExitNoReader when nothing came before the time-out, kExitUsage
// when there is no console / terminal / device to read (why says which), kExitDiffers
// when the burst is no swipe.
int capture_console_keys(const BurstOptions& o, KeyEvents* keys,
                         std::string* why);  // Windows
int capture_terminal_text(const BurstOptions& o, CardText* text,
                          std::string* why);  // Linux, raw mode

// Linux: an input device, opened and grabbed (libevdev) so that the swipe types into
// nothing else; a FIFO or a file of recorded records is read as it is. kExitNoReader when
// nothing is there or another program holds the device.
int open_evdev(const std::string& path, int* fd, std::string* why);
void close_evdev(int fd);  // lets the device go
// Reads `struct input_event` records from any descriptor: key presses and releases, with
// Shift, Ctrl and AltGr as KeyEvent's control state. The end of the records (a recording
// played to its end, a device unplugged) ends the burst.
int capture_evdev(int fd, const BurstOptions& o, KeyEvents* keys, std::string* why);

// Overwrites key events that held card data.
void wipe(KeyEvents& keys);

}  // namespace msr::profile
