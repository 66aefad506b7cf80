/* Stand-in for the touch-screen driver: it only has to be there and take its one
 * control call; what it received goes to record.txt. */
#include "simdrv.h"

#define IOCTL_TOUCH_RESUME CTL_CODE(FILE_DEVICE_MOUSE, 0x15, METHOD_BUFFERED, FILE_ANY_ACCESS)

static void answer(ULONG code, const UCHAR* in, ULONG in_size, SimReply* reply) {
  UNREFERENCED_PARAMETER(in);
  UNREFERENCED_PARAMETER(in_size);
  if (code != IOCTL_TOUCH_RESUME) reply->status = STATUS_INVALID_DEVICE_REQUEST;
}

static const SimDriver kTouch = {
    L"\\Device\\ROZIVADU", L"\\DosDevices\\ROZIVADU", L"ROZIVADU", FILE_DEVICE_MOUSE, answer, NULL};

NTSTATUS DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registry_path) {
  UNREFERENCED_PARAMETER(registry_path);
  return sim_driver_entry(driver, &kTouch);
}
