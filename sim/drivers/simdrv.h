/* The common frame of the driver stand-ins: device and link, create/close, and the
 * control-call path with its plain-text files, all in C:\msrsim\<NAME>\:
 *   config.txt  read on every request: a line "<code in hex> fail" fails that control
 *               code (STATUS_UNSUCCESSFUL, ERROR_GEN_FAILURE to the caller); a line
 *               "<code in hex> <count>" answers it with that many bytes, never more than
 *               the caller's output buffer
 *   record.txt  one line appended per control call received:
 *               "<code> in=<n> out=<n> nonzero=<input bytes not 0> ret=<n> ok|fail"
 *   state.txt   what the simulated reader holds (keyboard-wedge driver only)
 * Tests and the demo read and write them from the host side. */
#pragma once

#include <ntddk.h>

#define SIM_PATH_CHARS 96
#define SIM_TEXT_CHARS 512

/* How the stand-in is to answer one control code. */
typedef struct SimRule {
  BOOLEAN fail;      /* complete the call with an error */
  BOOLEAN has_count; /* answer with `count` bytes instead of the usual number */
  ULONG count;
} SimRule;

/* A small text being built; overflowing text is cut off. */
typedef struct SimText {
  char chars[SIM_TEXT_CHARS];
  ULONG length;
} SimText;

void sim_text_str(SimText* t, const char* s);
void sim_text_hex(SimText* t, ULONG value, ULONG min_digits);
void sim_text_dec(SimText* t, ULONG value);

#define SIM_REPLY_MAX 64

/* The usual answer to one control call, before config.txt has its say. */
typedef struct SimReply {
  NTSTATUS status;
  ULONG count;
  UCHAR bytes[SIM_REPLY_MAX];
} SimReply;

typedef struct SimDriver {
  const WCHAR* device; /* \Device\... */
  const WCHAR* link;   /* \DosDevices\... */
  const WCHAR* folder; /* its folder under C:\msrsim */
  DEVICE_TYPE device_type;
  /* Fills the usual reply to a call. */
  void (*answer)(ULONG code, const UCHAR* in, ULONG in_size, SimReply* reply);
  /* Called after a call was answered with success and `returned` bytes. */
  void (*answered)(ULONG code, const UCHAR* in, ULONG in_size, ULONG returned);
} SimDriver;

NTSTATUS sim_driver_entry(PDRIVER_OBJECT driver, const SimDriver* sim);
void sim_write_state(const SimText* text);
