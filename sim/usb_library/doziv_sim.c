/* A stand-in for the reader's USB support library doziv.dll: it plays one USB reader
 * whose configuration lives in a small text file, and records every call.
 *
 * Environment:
 *   MSR_SIM_USB_STATE   the state file (a Unix path under Wine, or a Windows path).
 *                       Unset: a reader with the defaults below, nothing is saved.
 *   MSR_SIM_USB_RECORD  the record file; unset: the state file's path + ".rec".
 *
 * State file: one "key=value" per line, '#' starts a comment line. Missing keys take
 * the defaults shown; the library rewrites the whole file (in this form) after every
 * change it makes.
 *   base=c6 08 25 3b 3b 3f 01 13   p2j mr1..mr7 in hexadecimal; mr7 is the firmware
 *                                  version and a write leaves it as it is
 *   ext=00 00 00 00 00 00 00       kq1..kq7
 *   present=1                      0: no reader attached, OpenUSB fails with 2
 *   extended=1                     1: the B9h query is answered with A0h, kq1, kq2 and
 *                                  B8h writes kq1..kq7; 0: the query comes back
 *                                  unanswered and B8h is refused with 1
 *   version=2.10                   the text statistic 8 answers (the JIS2 firmware of
 *                                  the reader answers 1.0 or 1.1)
 *   jis=0                          1: statistic 18 answers "JIS2"; 0: "ANSI"
 *   cif=0                          1: statistic 19 answers "FCOM"; 0: "KBD"
 *   resets=0                       count of FFh AAh reset commands received
 *   fail.NAME=STATUS               entry point NAME returns STATUS and does nothing
 *                                  else (any of the nine, e.g. fail.OpenUSB=5)
 *   unplug_after_base=1            the reader is unplugged (present=0) as soon as it has
 *                                  taken a base block; once
 *
 * Record file: one line per event, appended:
 *   attach | detach free | detach exit        the library loaded / released / process end
 *   NAME ARG... = STATUS                      an entry point call; integers in decimal,
 *                                             buffers as 32 hexadecimal bytes as they came
 *
 * Calls other than SetID and OpenUSB fail with 3 unless OpenUSB succeeded before (in this
 * load of the library); OpenUSB fails with 2 unless SetID was given 2911h, 1500h before.
 * Which entry points are exported is decided by the .def file of each build. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#define BUF 32
#define NO_DEVICE 2
#define NOT_OPEN 3
#define BAD_ARGUMENT 87

static const char* const kEntries[] = {
    "SetID",       "OpenUSB",     "GetMrState", "RetrieveStatistics", "SetMrStateBuf", "SetMrState",
    "GetMrState1", "SetMrState1", "CloseUSB"};
#define ENTRY_COUNT (sizeof kEntries / sizeof kEntries[0])

struct State {
  unsigned char base[8];
  unsigned char ext[7];
  int present, extended, jis, cif, resets, unplug_after_base;
  char version[24];
  int fails[ENTRY_COUNT]; /* 1 when fail.NAME is given */
  long fail_status[ENTRY_COUNT];
};

static int g_open;
static long g_id1 = -1, g_id2 = -1;

static void defaults(struct State* s) {
  static const unsigned char base[8] = {0xc6, 0x08, 0x25, 0x3b, 0x3b, 0x3f, 0x01, 0x13};
  memset(s, 0, sizeof *s);
  memcpy(s->base, base, sizeof base);
  s->present = 1;
  s->extended = 1;
  strcpy(s->version, "2.10");
}

/* --- files --- */

/* The path in an environment variable as a wide Windows path; a Unix path is mapped the
 * way Wine maps it. Returns NULL when unset. Free with HeapFree. */
static WCHAR* env_path(const char* name, const char* suffix) {
  char value[1024];
  DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
  if (n == 0 || n >= sizeof value - 8) return NULL;
  if (suffix != NULL) strcat(value, suffix);
  if (value[0] == '/') {
    typedef WCHAR*(CDECL * ToDos)(const char*);
    ToDos to_dos =
        (ToDos)(void*)GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_dos_file_name");
    if (to_dos != NULL) return to_dos(value);
    /* Not under Wine's loader: Wine's default drive Z: is the Unix root. */
    memmove(value + 2, value, strlen(value) + 1);
    value[0] = 'Z';
    value[1] = ':';
    for (char* p = value; *p != '\0'; ++p) {
      if (*p == '/') *p = '\\';
    }
  }
  int wn = MultiByteToWideChar(CP_ACP, 0, value, -1, NULL, 0);
  WCHAR* w = HeapAlloc(GetProcessHeap(), 0, (SIZE_T)wn * sizeof(WCHAR));
  if (w != NULL) MultiByteToWideChar(CP_ACP, 0, value, -1, w, wn);
  return w;
}

static WCHAR* state_path(void) {
  return env_path("MSR_SIM_USB_STATE", NULL);
}

static WCHAR* record_path(void) {
  WCHAR* p = env_path("MSR_SIM_USB_RECORD", NULL);
  return p != NULL ? p : env_path("MSR_SIM_USB_STATE", ".rec");
}

static void record(const char* line) {
  WCHAR* path = record_path();
  if (path == NULL) return;
  HANDLE h = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                         OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  HeapFree(GetProcessHeap(), 0, path);
  if (h == INVALID_HANDLE_VALUE) return;
  DWORD written;
  WriteFile(h, line, (DWORD)strlen(line), &written, NULL);
  WriteFile(h, "\n", 1, &written, NULL);
  CloseHandle(h);
}

static int hex_bytes(const char* text, unsigned char* out, int count) {
  for (int i = 0; i < count; ++i) {
    char* end;
    unsigned long v = strtoul(text, &end, 16);
    if (end == text || v > 0xff) return 0;
    out[i] = (unsigned char)v;
    text = end;
  }
  return 1;
}

static void parse_line(struct State* s, char* line) {
  char* eq = strchr(line, '=');
  if (line[0] == '#' || eq == NULL) return;
  *eq = '\0';
  const char* key = line;
  const char* value = eq + 1;
  if (strcmp(key, "base") == 0) {
    hex_bytes(value, s->base, 8);
  } else if (strcmp(key, "ext") == 0) {
    hex_bytes(value, s->ext, 7);
  } else if (strcmp(key, "unplug_after_base") == 0) {
    s->unplug_after_base = atoi(value);
  } else if (strcmp(key, "present") == 0) {
    s->present = atoi(value);
  } else if (strcmp(key, "extended") == 0) {
    s->extended = atoi(value);
  } else if (strcmp(key, "jis") == 0) {
    s->jis = atoi(value);
  } else if (strcmp(key, "cif") == 0) {
    s->cif = atoi(value);
  } else if (strcmp(key, "resets") == 0) {
    s->resets = atoi(value);
  } else if (strcmp(key, "version") == 0) {
    strncpy(s->version, value, sizeof s->version - 1);
    s->version[sizeof s->version - 1] = '\0';
  } else if (strncmp(key, "fail.", 5) == 0) {
    for (size_t i = 0; i < ENTRY_COUNT; ++i) {
      if (strcmp(key + 5, kEntries[i]) == 0) {
        s->fails[i] = 1;
        s->fail_status[i] = strtol(value, NULL, 0);
      }
    }
  }
}

static void load(struct State* s) {
  defaults(s);
  WCHAR* path = state_path();
  if (path == NULL) return;
  HANDLE h = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
  HeapFree(GetProcessHeap(), 0, path);
  if (h == INVALID_HANDLE_VALUE) return;
  static char text[8192];
  DWORD n = 0;
  if (!ReadFile(h, text, sizeof text - 1, &n, NULL)) n = 0;
  CloseHandle(h);
  text[n] = '\0';
  char* line = text;
  while (line != NULL && *line != '\0') {
    char* next = strpbrk(line, "\r\n");
    if (next != NULL) {
      *next++ = '\0';
      while (*next == '\r' || *next == '\n') ++next;
    }
    parse_line(s, line);
    line = next;
  }
}

static void save(const struct State* s) {
  WCHAR* path = state_path();
  if (path == NULL) return;
  char text[2048];
  int n =
      snprintf(text, sizeof text,
               "base=%02x %02x %02x %02x %02x %02x %02x %02x\n"
               "ext=%02x %02x %02x %02x %02x %02x %02x\n"
               "present=%d\nextended=%d\nversion=%s\njis=%d\ncif=%d\nresets=%d\n",
               s->base[0], s->base[1], s->base[2], s->base[3], s->base[4], s->base[5], s->base[6],
               s->base[7], s->ext[0], s->ext[1], s->ext[2], s->ext[3], s->ext[4], s->ext[5],
               s->ext[6], s->present, s->extended, s->version, s->jis, s->cif, s->resets);
  if (s->unplug_after_base && n > 0 && n < (int)sizeof text) {
    n += snprintf(text + n, sizeof text - (size_t)n, "unplug_after_base=1\n");
  }
  for (size_t i = 0; i < ENTRY_COUNT && n > 0 && n < (int)sizeof text; ++i) {
    if (s->fails[i]) {
      n += snprintf(text + n, sizeof text - (size_t)n, "fail.%s=%ld\n", kEntries[i],
                    s->fail_status[i]);
    }
  }
  HANDLE h = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, NULL, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, NULL);
  HeapFree(GetProcessHeap(), 0, path);
  if (h == INVALID_HANDLE_VALUE) return;
  DWORD written;
  if (n > 0 && n < (int)sizeof text) WriteFile(h, text, (DWORD)n, &written, NULL);
  CloseHandle(h);
}

/* --- one call: record its arguments, apply an injected failure --- */

struct Call {
  char line[256];
  size_t entry;
};

static void begin(struct Call* c, size_t entry) {
  c->entry = entry;
  snprintf(c->line, sizeof c->line, "%s", kEntries[entry]);
}

static void arg_int(struct Call* c, long v) {
  size_t n = strlen(c->line);
  snprintf(c->line + n, sizeof c->line - n, " %ld", v);
}

static void arg_buffer(struct Call* c, const unsigned char* b) {
  for (int i = 0; i < BUF; ++i) {
    size_t n = strlen(c->line);
    snprintf(c->line + n, sizeof c->line - n, " %02x", b[i]);
  }
}

static long end(struct Call* c, long status) {
  size_t n = strlen(c->line);
  snprintf(c->line + n, sizeof c->line - n, " = %ld", status);
  record(c->line);
  return status;
}

/* The injected failure of this entry point, if the state file asks for one. */
static int failing(const struct State* s, const struct Call* c, long* status) {
  if (!s->fails[c->entry]) return 0;
  *status = s->fail_status[c->entry];
  return 1;
}

enum { E_SETID, E_OPEN, E_GET, E_RTVS, E_SETBUF, E_SET, E_GET1, E_SET1, E_CLOSE };

/* Every entry point reads the state file afresh and starts its record line. */
static void enter(struct State* s, struct Call* c, size_t entry) {
  load(s);
  begin(c, entry);
}

/* An entry point that needs an open reader: the injected failure first, then the open
   check. Non-zero when the call ends here with *status. */
static int refused(const struct State* s, const struct Call* c, long* status) {
  if (failing(s, c, status)) return 1;
  if (!g_open) {
    *status = NOT_OPEN;
    return 1;
  }
  return 0;
}

/* --- the entry points --- */

long __stdcall SetID(long id1, long id2, long id3) {
  struct State s;
  struct Call c;
  long status = 0;
  enter(&s, &c, E_SETID);
  arg_int(&c, id1);
  arg_int(&c, id2);
  arg_int(&c, id3);
  if (failing(&s, &c, &status)) return end(&c, status);
  g_id1 = id1;
  g_id2 = id2;
  return end(&c, 0);
}

long __stdcall OpenUSB(void) {
  struct State s;
  struct Call c;
  long status = 0;
  enter(&s, &c, E_OPEN);
  if (failing(&s, &c, &status)) return end(&c, status);
  if (!s.present || g_id1 != 0x2911 || g_id2 != 0x1500) return end(&c, NO_DEVICE);
  g_open = 1;
  return end(&c, 0);
}

long __stdcall GetMrState(unsigned char* buffer) {
  struct State s;
  struct Call c;
  long status = 0;
  enter(&s, &c, E_GET);
  arg_buffer(&c, buffer);
  if (refused(&s, &c, &status)) return end(&c, status);
  memset(buffer, 0, BUF);
  memcpy(buffer + 1, s.base, 8);
  return end(&c, 0);
}

long __stdcall RetrieveStatistics(long index, unsigned char* buffer, long length) {
  struct State s;
  struct Call c;
  long status = 0;
  enter(&s, &c, E_RTVS);
  arg_int(&c, index);
  arg_int(&c, length);
  if (refused(&s, &c, &status)) return end(&c, status);
  const char* reply;
  if (index == 8) {
    reply = s.version;
  } else if (index == 18) {
    reply = s.jis ? "JIS2" : "ANSI";
  } else if (index == 19) {
    reply = s.cif ? "FCOM" : "KBD";
  } else {
    return end(&c, BAD_ARGUMENT);
  }
  if (length < 1 || length > BUF) return end(&c, BAD_ARGUMENT);
  size_t n = strlen(reply);
  if (n > (size_t)length - 1) n = (size_t)length - 1;
  memcpy(buffer, reply, n);
  buffer[n] = '\0';
  return end(&c, 0);
}

long __stdcall SetMrStateBuf(unsigned char* buffer) {
  struct State s;
  struct Call c;
  long status = 0;
  enter(&s, &c, E_SETBUF);
  arg_buffer(&c, buffer);
  if (refused(&s, &c, &status)) return end(&c, status);
  memcpy(s.base, buffer, 7); /* the firmware version is the reader's own */
  if (s.unplug_after_base) s.present = s.unplug_after_base = 0;
  save(&s);
  return end(&c, 0);
}

/* The old entry point receives no settings: the reader only acknowledges it. */
long __stdcall SetMrState(void) {
  struct State s;
  struct Call c;
  long status = 0;
  enter(&s, &c, E_SET);
  if (refused(&s, &c, &status)) return end(&c, status);
  return end(&c, 0);
}

long __stdcall GetMrState1(unsigned char* buffer) {
  struct State s;
  struct Call c;
  long status = 0;
  enter(&s, &c, E_GET1);
  arg_buffer(&c, buffer);
  if (refused(&s, &c, &status)) return end(&c, status);
  if (buffer[1] != 0xB9) return end(&c, BAD_ARGUMENT);
  if (s.extended) {
    buffer[1] = 0xA0;
    buffer[2] = s.ext[0];
    buffer[3] = s.ext[1];
  }
  return end(&c, 0);
}

long __stdcall SetMrState1(unsigned char* buffer) {
  struct State s;
  struct Call c;
  long status = 0;
  enter(&s, &c, E_SET1);
  arg_buffer(&c, buffer);
  if (refused(&s, &c, &status)) return end(&c, status);
  if (buffer[1] == 0xB8) {
    if (!s.extended) return end(&c, 1);
    memcpy(s.ext, buffer + 2, 7);
  } else if (buffer[1] == 0xFF && buffer[2] == 0xAA) {
    ++s.resets;
  } else {
    return end(&c, BAD_ARGUMENT);
  }
  save(&s);
  return end(&c, 0);
}

long __stdcall CloseUSB(void) {
  struct State s;
  struct Call c;
  long status = 0;
  enter(&s, &c, E_CLOSE);
  if (refused(&s, &c, &status)) return end(&c, status);
  g_open = 0;
  return end(&c, 0);
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)instance;
  if (reason == DLL_PROCESS_ATTACH) record("attach");
  /* A null reserved pointer means FreeLibrary; otherwise the process is ending. */
  if (reason == DLL_PROCESS_DETACH) record(reserved == NULL ? "detach free" : "detach exit");
  return TRUE;
}
