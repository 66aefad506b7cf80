/* Preloaded into Wine processes (LD_PRELOAD): gives pseudo-terminals the modem lines of a
 * real serial port. A pseudo-terminal has none, so ioctl(TIOCMGET) fails on it and Wine's
 * GetCommModemStatus with it; a simulated reader on a pseudo-terminal then looks like a port
 * with nothing attached. Wine's serial code runs in the calling process, so answering the
 * ioctl here is enough.
 *
 * Which lines are on comes from the file named by MSR_MODEM_LINES, read again at every
 * query so that a test can change it between runs:
 *
 *   # path          lines
 *   /dev/pts/7      cts dsr
 *   /dev/pts/8      none
 *   /dev/pts/9      dsr
 *   *               cts dsr       (every other pseudo-terminal)
 *
 * Lines: cts, dsr, ri, cd; "on" means cts dsr; "none" or "off" means no line. Without the
 * variable, the file or a matching entry, a pseudo-terminal holds CTS and DSR on, like a
 * port with a reader attached. Every other descriptor and request goes to the real ioctl.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
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

/* The lines configured for `path`: its own entry first, else the "*" entry, else on. */
static int lines_for(const char* path) {
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
    if (!strcmp(p, path)) {
      lines = parse_lines(rest);
      have_own = 1;
    } else if (!strcmp(p, "*")) {
      lines = parse_lines(rest);
    }
  }
  fclose(f);
  return lines;
}

/* The pseudo-terminal path behind `fd`, or 0 when it is something else. */
static int pts_path(int fd, char* path, size_t size) {
  char link[64];
  snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  ssize_t n = readlink(link, path, size - 1);
  if (n <= 0) return 0;
  path[n] = '\0';
  return strncmp(path, "/dev/pts/", 9) == 0 && path[9] >= '0' && path[9] <= '9';
}

/* The modem-line query on a pseudo-terminal is answered here; everything else goes to
 * the C library's own entry point of that name. */
static int answer(const char* real_name, ioctl_fn* real, int fd, unsigned long request,
                  void* arg) {
  if (!*real) *real = (ioctl_fn)dlsym(RTLD_NEXT, real_name);
  if (request == TIOCMGET && arg) {
    char path[256];
    int saved = errno;
    if (pts_path(fd, path, sizeof path)) {
      *(int*)arg = lines_for(path);
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
