/* The frame of the driver stand-ins. Control calls arrive at PASSIVE_LEVEL in the
 * caller's thread, so plain synchronous Zw file calls are allowed there. */
#include "simdrv.h"

static WCHAR g_dir[SIM_PATH_CHARS];
static const SimDriver* g_sim;
static UNICODE_STRING g_link;

static ULONG wlen(const WCHAR* s) {
  ULONG n = 0;
  while (s[n] != 0) ++n;
  return n;
}

static void wcat(WCHAR* dst, ULONG cap, const WCHAR* src) {
  ULONG n = wlen(dst), i = 0;
  while (src[i] != 0 && n + 1 < cap) dst[n++] = src[i++];
  dst[n] = 0;
}

static void path_of(WCHAR* out, const WCHAR* file) {
  out[0] = 0;
  wcat(out, SIM_PATH_CHARS, g_dir);
  wcat(out, SIM_PATH_CHARS, file);
}

static NTSTATUS open_path(const WCHAR* path, ACCESS_MASK access, ULONG disposition, ULONG options,
                          HANDLE* h) {
  UNICODE_STRING name;
  OBJECT_ATTRIBUTES oa;
  IO_STATUS_BLOCK iosb;
  RtlInitUnicodeString(&name, path);
  InitializeObjectAttributes(&oa, &name, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, NULL, NULL);
  return ZwCreateFile(h, access | SYNCHRONIZE, &oa, &iosb, NULL, FILE_ATTRIBUTE_NORMAL,
                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, disposition,
                      options | FILE_SYNCHRONOUS_IO_NONALERT, NULL, 0);
}

void sim_text_str(SimText* t, const char* s) {
  while (*s != 0 && t->length < SIM_TEXT_CHARS) t->chars[t->length++] = *s++;
}

void sim_text_hex(SimText* t, ULONG value, ULONG min_digits) {
  char digits[8];
  ULONG n = 0;
  do {
    digits[n++] = "0123456789abcdef"[value & 0xF];
    value >>= 4;
  } while (value != 0 && n < 8);
  while (n < min_digits && n < 8) digits[n++] = '0';
  while (n > 0 && t->length < SIM_TEXT_CHARS) t->chars[t->length++] = digits[--n];
}

void sim_text_dec(SimText* t, ULONG value) {
  char digits[10];
  ULONG n = 0;
  do {
    digits[n++] = (char)('0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (n > 0 && t->length < SIM_TEXT_CHARS) t->chars[t->length++] = digits[--n];
}

static void sim_init(const WCHAR* name) {
  HANDLE h;
  g_dir[0] = 0;
  wcat(g_dir, SIM_PATH_CHARS, L"\\??\\C:\\msrsim");
  if (NT_SUCCESS(open_path(g_dir, FILE_LIST_DIRECTORY, FILE_OPEN_IF, FILE_DIRECTORY_FILE, &h))) {
    ZwClose(h);
  }
  wcat(g_dir, SIM_PATH_CHARS, L"\\");
  wcat(g_dir, SIM_PATH_CHARS, name);
  if (NT_SUCCESS(open_path(g_dir, FILE_LIST_DIRECTORY, FILE_OPEN_IF, FILE_DIRECTORY_FILE, &h))) {
    ZwClose(h);
  }
  wcat(g_dir, SIM_PATH_CHARS, L"\\");
}

static int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

static BOOLEAN blank(char c) {
  return c == ' ' || c == '\t' || c == '\r';
}

/* One line "<hex code> fail|<decimal count>"; anything else is ignored. */
static void apply_line(const char* p, const char* end, ULONG code, SimRule* rule) {
  ULONG value = 0, digits = 0;
  int d;
  while (p < end && blank(*p)) ++p;
  if (end - p > 2 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) p += 2;
  while (p < end && digits < 8 && (d = hex_digit(*p)) >= 0) {
    value = value * 16 + (ULONG)d;
    ++p;
    ++digits;
  }
  if (digits == 0 || value != code || p == end || !blank(*p)) return;
  while (p < end && blank(*p)) ++p;
  if (end - p >= 4 && p[0] == 'f' && p[1] == 'a' && p[2] == 'i' && p[3] == 'l') {
    rule->fail = TRUE;
    return;
  }
  value = 0;
  digits = 0;
  while (p < end && digits < 9 && *p >= '0' && *p <= '9') {
    value = value * 10 + (ULONG)(*p - '0');
    ++p;
    ++digits;
  }
  if (digits > 0) {
    rule->has_count = TRUE;
    rule->count = value;
  }
}

static SimRule sim_rule(ULONG code) {
  SimRule rule = {FALSE, FALSE, 0};
  WCHAR path[SIM_PATH_CHARS];
  char text[SIM_TEXT_CHARS];
  HANDLE h;
  IO_STATUS_BLOCK iosb;
  LARGE_INTEGER at;
  const char *p, *line;
  path_of(path, L"config.txt");
  if (!NT_SUCCESS(open_path(path, GENERIC_READ, FILE_OPEN, FILE_NON_DIRECTORY_FILE, &h))) {
    return rule; /* no config: behave */
  }
  at.QuadPart = 0;
  iosb.Information = 0;
  if (!NT_SUCCESS(ZwReadFile(h, NULL, NULL, NULL, &iosb, text, sizeof text, &at, NULL))) {
    iosb.Information = 0;
  }
  ZwClose(h);
  p = line = text;
  for (; p <= text + iosb.Information; ++p) {
    if (p == text + iosb.Information || *p == '\n') {
      apply_line(line, p, code, &rule);
      line = p + 1;
    }
  }
  return rule;
}

static void write_file(const WCHAR* file, const SimText* t, BOOLEAN append) {
  WCHAR path[SIM_PATH_CHARS];
  HANDLE h;
  IO_STATUS_BLOCK iosb;
  LARGE_INTEGER at;
  path_of(path, file);
  if (!NT_SUCCESS(open_path(path, append ? FILE_APPEND_DATA : GENERIC_WRITE,
                            append ? FILE_OPEN_IF : FILE_OVERWRITE_IF, FILE_NON_DIRECTORY_FILE,
                            &h))) {
    return;
  }
  at.HighPart = -1;
  at.LowPart = append ? FILE_WRITE_TO_END_OF_FILE : FILE_USE_FILE_POINTER_POSITION;
  ZwWriteFile(h, NULL, NULL, NULL, &iosb, (PVOID)t->chars, t->length, &at, NULL);
  ZwClose(h);
}

/* "<code> in=<n> out=<n> nonzero=<input bytes not 0> ret=<n> ok|fail" */
static void sim_record(ULONG code, ULONG in_size, ULONG out_size, ULONG nonzero, ULONG returned,
                       BOOLEAN ok) {
  SimText t;
  t.length = 0;
  sim_text_hex(&t, code, 8);
  sim_text_str(&t, " in=");
  sim_text_dec(&t, in_size);
  sim_text_str(&t, " out=");
  sim_text_dec(&t, out_size);
  sim_text_str(&t, " nonzero=");
  sim_text_dec(&t, nonzero);
  sim_text_str(&t, " ret=");
  sim_text_dec(&t, returned);
  sim_text_str(&t, ok ? " ok\n" : " fail\n");
  write_file(L"record.txt", &t, TRUE);
}

void sim_write_state(const SimText* text) {
  write_file(L"state.txt", text, FALSE);
}

static NTSTATUS complete(PIRP irp, NTSTATUS status, ULONG_PTR information) {
  irp->IoStatus.Status = status;
  irp->IoStatus.Information = information;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

static NTSTATUS on_create_close(PDEVICE_OBJECT device, PIRP irp) {
  UNREFERENCED_PARAMETER(device);
  return complete(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS on_control(PDEVICE_OBJECT device, PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  const ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
  const ULONG in_size = stack->Parameters.DeviceIoControl.InputBufferLength;
  const ULONG out_size = stack->Parameters.DeviceIoControl.OutputBufferLength;
  UCHAR* buffer = (UCHAR*)irp->AssociatedIrp.SystemBuffer; /* in, then out: buffered I/O */
  UCHAR in[SIM_REPLY_MAX];
  ULONG i, kept = 0, nonzero = 0, count;
  SimReply reply;
  SimRule rule;
  UNREFERENCED_PARAMETER(device);

  if (buffer == NULL && in_size + out_size > 0) return complete(irp, STATUS_INVALID_PARAMETER, 0);
  for (i = 0; i < in_size; ++i) nonzero += buffer[i] != 0 ? 1 : 0;
  for (; kept < in_size && kept < SIM_REPLY_MAX; ++kept) in[kept] = buffer[kept];

  for (i = 0; i < SIM_REPLY_MAX; ++i) reply.bytes[i] = 0;
  reply.status = STATUS_SUCCESS;
  reply.count = 0;
  g_sim->answer(code, in, in_size, &reply);

  rule = sim_rule(code);
  if (rule.fail) reply.status = STATUS_UNSUCCESSFUL;
  if (rule.has_count) reply.count = rule.count;
  /* Never claim more than the caller's buffer holds: the I/O manager would copy it. */
  count = reply.count;
  if (count > out_size) count = out_size;
  if (count > SIM_REPLY_MAX) count = SIM_REPLY_MAX;
  if (!NT_SUCCESS(reply.status)) count = 0;
  for (i = 0; i < count; ++i) buffer[i] = reply.bytes[i];

  sim_record(code, in_size, out_size, nonzero, count, NT_SUCCESS(reply.status));
  if (NT_SUCCESS(reply.status) && g_sim->answered != NULL) g_sim->answered(code, in, kept, count);
  return complete(irp, reply.status, count);
}

static void on_unload(PDRIVER_OBJECT driver) {
  IoDeleteSymbolicLink(&g_link);
  if (driver->DeviceObject != NULL) IoDeleteDevice(driver->DeviceObject);
}

NTSTATUS sim_driver_entry(PDRIVER_OBJECT driver, const SimDriver* sim) {
  UNICODE_STRING name;
  PDEVICE_OBJECT device;
  NTSTATUS status;
  g_sim = sim;
  RtlInitUnicodeString(&name, sim->device);
  RtlInitUnicodeString(&g_link, sim->link);
  status = IoCreateDevice(driver, 0, &name, sim->device_type, 0, FALSE, &device);
  if (!NT_SUCCESS(status)) return status;
  status = IoCreateSymbolicLink(&g_link, &name);
  if (!NT_SUCCESS(status)) {
    IoDeleteDevice(device);
    return status;
  }
  driver->MajorFunction[IRP_MJ_CREATE] = on_create_close;
  driver->MajorFunction[IRP_MJ_CLOSE] = on_create_close;
  driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = on_control;
  driver->DriverUnload = on_unload;
  sim_init(sim->folder);
  return STATUS_SUCCESS;
}
