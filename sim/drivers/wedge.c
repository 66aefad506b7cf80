/* Stand-in for the reader's keyboard-wedge driver: takes the reader's base block (p2j,
 * mr1..mr7) and keeps it in state.txt as the reader would keep it. Built once per device
 * name (SIM_LINK: VIDEDU, krnldrvr). */
#include "simdrv.h"

#ifndef SIM_LINK
#error "SIM_LINK names the device"
#endif
#define SIM_WIDE_(x) L## #x
#define SIM_WIDE(x) SIM_WIDE_(x)
#define SIM_NARROW_(x) #x
#define SIM_NARROW(x) SIM_NARROW_(x)

#define WEDGE_DEVICE 0x80FFu
#define IOCTL_WEDGE_WMR CTL_CODE(WEDGE_DEVICE, 0x09, METHOD_BUFFERED, FILE_ANY_ACCESS)
#define IOCTL_WEDGE_T8042 CTL_CODE(WEDGE_DEVICE, 0x0E, METHOD_BUFFERED, FILE_ANY_ACCESS)
#define IOCTL_WEDGE_VERSION CTL_CODE(WEDGE_DEVICE, 0x10, METHOD_BUFFERED, FILE_ANY_ACCESS)

#define BLOCK_SIZE 8
/* The reader acknowledges each of the eight bytes and the write as a whole. */
#define WRITE_REPLY 20
#define KBC_SELF_TEST_OK 0x55
#define KBD_ACK 0xFA

static const char* const kNames[BLOCK_SIZE] = {"p2j", "mr1", "mr2", "mr3",
                                               "mr4", "mr5", "mr6", "mr7"};

static void answer(ULONG code, const UCHAR* in, ULONG in_size, SimReply* reply) {
  ULONG i;
  switch (code) {
    case IOCTL_WEDGE_VERSION: {
      /* Version 1.0, then the device name. */
      const char* name = SIM_NARROW(SIM_LINK);
      reply->bytes[0] = 1;
      reply->bytes[1] = 0;
      for (i = 2; i < 9 && *name != 0; ++i) reply->bytes[i] = (UCHAR)*name++;
      reply->count = 9;
      break;
    }
    case IOCTL_WEDGE_T8042:
      /* The keyboard controller passed its self test; the rest is its status area. */
      reply->bytes[0] = KBC_SELF_TEST_OK;
      reply->count = 64;
      break;
    case IOCTL_WEDGE_WMR:
      if (in_size < BLOCK_SIZE) {
        reply->status = STATUS_INVALID_PARAMETER;
        break;
      }
      for (i = 0; i < BLOCK_SIZE; ++i) reply->bytes[i] = in[i];
      for (; i < WRITE_REPLY; ++i) reply->bytes[i] = KBD_ACK;
      reply->count = WRITE_REPLY;
      break;
    default:
      reply->status = STATUS_INVALID_DEVICE_REQUEST;
      break;
  }
}

/* A reader that answered short did not take the block. */
static void answered(ULONG code, const UCHAR* in, ULONG in_size, ULONG returned) {
  SimText t;
  ULONG i;
  if (code != IOCTL_WEDGE_WMR || in_size < BLOCK_SIZE || returned < WRITE_REPLY) return;
  t.length = 0;
  for (i = 0; i < BLOCK_SIZE; ++i) {
    sim_text_str(&t, kNames[i]);
    sim_text_str(&t, "=");
    sim_text_hex(&t, in[i], 2);
    sim_text_str(&t, "\n");
  }
  sim_write_state(&t);
}

static const SimDriver kWedge = {L"\\Device\\" SIM_WIDE(SIM_LINK),
                                 L"\\DosDevices\\" SIM_WIDE(SIM_LINK),
                                 SIM_WIDE(SIM_LINK),
                                 WEDGE_DEVICE,
                                 answer,
                                 answered};

NTSTATUS DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registry_path) {
  UNREFERENCED_PARAMETER(registry_path);
  return sim_driver_entry(driver, &kWedge);
}
