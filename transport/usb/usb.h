// USB HID transport: the reader's USB support library, the base block (setusb) and the
// extended block with the interface switch (setusb1).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace msr {

struct UsbState {
  std::int32_t ext_f = 0;  // the reader has the extended block (or nofail)
  // What the last access sequence did, whatever nofail made of its result: the reader
  // opened, and its write entry point (SetMrStateBuf, SetMrState or SetMrState1, with the
  // reset when one was sent) answered 0. A save needs these to say which block the
  // reader took.
  bool opened = false;
  bool written = false;
  // p2j, mr1..mr7 as the last successful read found them: what a save puts back when the
  // extended block fails after the base block was taken.
  bool base_read = false;
  unsigned char base_as_read[8] = {};
  // kq1 and kq2 as the extended-block query answered them (when ext_f is set): with the
  // base block, what the window's Save keeps in the history before it writes.
  unsigned char ext_as_read[2] = {};
};
inline UsbState g_usb;

// Where hid.dll was looked for and whether it is there: the system directory's copy, or,
// when the system directory can't be had (path empty), the two classic system folders.
struct HidLookup {
  std::string path;       // in the system directory; empty when that can't be had
  std::uint32_t len = 0;  // what the system-directory query answered
  bool present = false;
};
HidLookup find_hid();

// The full paths doziv.dll is loaded from, in the order they are tried.
std::vector<std::string> doziv_paths();

// Whether the platform's hid.dll is where setusb and setusb1 look for it, without a log
// line or a message box: a program without a window asks this first, since both
// operations show a message box when it is missing.
bool hid_dll_present();

// Mode 0 reads p2j, mr1..mr7 and the capability replies (jis, cif) from the reader; any
// other mode writes p2j, mr1..mr7. Returns 0 on success, 2 when hid.dll is missing (after
// its message box), 9 on failure; with nofail every failure counts as success.
int setusb(int mode);
// Mode 1 writes kq1..kq7 (and the interface-switch reset when cif and vcomif ask for it)
// to a reader whose query was answered; any other mode asks for the extended block and
// reads kq1, kq2 and ext_f. Returns 0 when done or nothing to do, 1 for a vCOM reader or
// a missing hid.dll (after its message box), 9 on failure.
int setusb1(int mode);

}  // namespace msr
