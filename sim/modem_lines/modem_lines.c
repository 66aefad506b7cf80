/* Preloaded into Wine processes and into the native serial tests (LD_PRELOAD): gives
 * pseudo-terminals the modem lines of a real serial port. A pseudo-terminal has none, so
 * ioctl(TIOCMGET) fails on it, and with it Wine's GetCommModemStatus and libserialport's
 * sp_open; a simulated reader on a pseudo-terminal then looks like a port with nothing
 * attached. Wine's serial code runs in the calling process, so answering the ioctl here is
 * enough.
 *
 * A pseudo-terminal is known by its device number (the slaves' majors 136..143), not by
 * the path it was opened as: libserialport opens only ports that sysfs knows, so the
 * native tests bind-mount a pseudo-terminal over such a node (/dev/tty63) in a private
 * mount namespace, and the program then opens it under that name.
 *
 * Which lines are on comes from the file named by MSR_MODEM_LINES, read again at every
 * query so that a test can change it between runs:
 *
 *   # path          lines
 *   /dev/pts/7      cts dsr
 *   /dev/pts/8      none
 *   /dev/tty63      dsr           (the path it was opened as also names it)
 *   *               cts dsr       (every other pseudo-terminal)
 *
 * Lines: cts, dsr, ri, cd; "on" means cts dsr; "none" or "off" means no line. Without the
 * variable, the file or a matching entry, a pseudo-terminal holds CTS and DSR on, like a
 * port with a reader attached. Setting the lines a port drives (TIOCMSET, TIOCMBIS,
 * TIOCMBIC, as libserialport does when it opens a port) succeeds on a pseudo-terminal.
 * Every other descriptor and request goes to the real ioctl.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

typedef int (*ioctl_fn)(int, unsigned long, ...);

static const int kDefaultLines = TIOCM_CTS | TIOCM_DSR;

static int parse_lines(char* words) {
  int lines = 0;
  for (char* w = strtok(words, " \t\r\n,"); w; w = strtok(NULL, " \t\r\n,")) {
    if (!strcmp(w, "cts"))
      lines |= TIOCM_CTS;
    else if (!strcmp(w, "dsr"))
      lines |= TIOCM_DSR;
    else if (!strcmp(w, "ri"))
      lines |= TIOCM_RI;
    else if (!strcmp(w, "cd"))
      lines |= TIOCM_CD;
    else if (!strcmp(w, "on"))
      lines |= TIOCM_CTS | TIOCM_DSR;
    /* "none", "off" and anything unknown add no line */
  }
  return lines;
}

/* The lines configured for a pseudo-terminal known as `name` (its /dev/pts path) or
 * `opened` (the path it was opened as): an entry for either first, else the "*" entry,
 * else on. */
static int lines_for(const char* name, const char* opened) {
  const char* file = getenv("MSR_MODEM_LINES");
  int lines = kDefaultLines;
  int have_own = 0;
  FILE* f = file && *file ? fopen(file, "re") : NULL;
  if (!f) return lines;
  char text[512];
  while (!have_own && fgets(text, sizeof text, f)) {
    char* p = text + strspn(text, " \t");
    if (*p == '#' || *p == '\n' || *p == '\0') continue;
    size_t n = strcspn(p, " \t\r\n");
    char* rest = p + n;
    if (*rest) *rest++ = '\0';
    if (!strcmp(p, name) || !strcmp(p, opened)) {
      lines = parse_lines(rest);
      have_own = 1;
    } else if (!strcmp(p, "*")) {
      lines = parse_lines(rest);
    }
  }
  fclose(f);
  return lines;
}

/* Whether `fd` is a pseudo-terminal slave; if so, its /dev/pts path goes to `name` and the
 * path it was opened as to `opened`. */
static int pty_slave(int fd, char* name, size_t name_size, char* opened, size_t opened_size) {
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return 0;
  unsigned int ma = major(st.st_rdev), mi = minor(st.st_rdev);
  if (ma < 136 || ma > 143) return 0;
  snprintf(name, name_size, "/dev/pts/%u", (ma - 136) * 256 + mi);
  char link[64];
  snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  ssize_t n = readlink(link, opened, opened_size - 1);
  opened[n > 0 ? n : 0] = '\0';
  return 1;
}

/* The modem-line requests on a pseudo-terminal are answered here; everything else goes
 * to the C library's own entry point of that name. */
static int answer(const char* real_name, ioctl_fn* real, int fd, unsigned long request, void* arg) {
  if (!*real) *real = (ioctl_fn)dlsym(RTLD_NEXT, real_name);
  int query = request == TIOCMGET;
  int drive = request == TIOCMSET || request == TIOCMBIS || request == TIOCMBIC;
  if ((query || drive) && arg) {
    char name[64], opened[256];
    int saved = errno;
    if (pty_slave(fd, name, sizeof name, opened, sizeof opened)) {
      /* The lines a port drives (RTS, DTR) lead nowhere on a pseudo-terminal: setting
       * them succeeds and changes nothing, as on a port with nothing that listens. */
      if (query) *(int*)arg = lines_for(name, opened);
      errno = saved;
      return 0;
    }
    errno = saved;
  }
  if (!*real) {
    errno = ENOSYS;
    return -1;
  }
  return (*real)(fd, request, arg);
}

int ioctl(int fd, unsigned long request, ...) {
  static ioctl_fn real_ioctl;
  va_list ap;
  va_start(ap, request);
  void* arg = va_arg(ap, void*);
  va_end(ap);
  return answer("ioctl", &real_ioctl, fd, request, arg);
}

#if defined(__i386__)
/* A 32-bit program built with 64-bit time_t (as 32-bit Wine is) calls this one instead. */
int __ioctl_time64(int fd, unsigned long request, ...) {
  static ioctl_fn real_ioctl;
  va_list ap;
  va_start(ap, request);
  void* arg = va_arg(ap, void*);
  va_end(ap);
  return answer("__ioctl_time64", &real_ioctl, fd, request, arg);
}
#endif
