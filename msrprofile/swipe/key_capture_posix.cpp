// Linux: a terminal in raw mode, and input devices' `struct input_event` records.
#include <fcntl.h>
#include <libevdev/libevdev.h>
#include <linux/input.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <map>

#include "msrprofile/exit_codes.h"
#include "msrprofile/swipe/key_burst.h"
#include "msrprofile/swipe/key_capture.h"
#include "msrprofile/swipe/swipe.h"

namespace msr::profile {
namespace {

std::uint32_t now_ms() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::uint32_t>(ts.tv_sec * 1000 + ts.tv_nsec / 1000000);
}

// What poll said about `fd` within `ms`: 1 input waits, 0 none, -1 the descriptor failed
// or reached its end.
int wait_input(int fd, std::uint32_t ms) {
  pollfd p{fd, POLLIN, 0};
  for (;;) {
    const int r = ::poll(&p, 1, static_cast<int>(ms));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return r;
    return (p.revents & POLLIN) != 0 ? 1 : -1;
  }
}

// The terminal's settings while it is raw, so that a signal can put them back.
termios g_saved{};
std::atomic<bool> g_raw{false};

void restore_and_reraise(int sig) {
  if (g_raw.exchange(false)) ::tcsetattr(STDIN_FILENO, TCSANOW, &g_saved);
  std::signal(sig, SIG_DFL);
  std::raise(sig);
}

// Raw for as long as it lives: no line editing, no echo (the swipe is never shown), CR
// kept as CR; Ctrl+C still interrupts, and the terminal is put back then too.
class RawTerminal {
 public:
  bool enter(std::string* why) {
    if (::isatty(STDIN_FILENO) != 1) {
      *why =
          "standard input is not a terminal: run swipe --keyboard in a terminal (not with "
          "its input from a pipe or a file), or read an input device with --evdev PATH";
      return false;
    }
    if (::tcgetattr(STDIN_FILENO, &g_saved) != 0) {
      *why = std::string("the terminal's settings can't be read: ") + std::strerror(errno);
      return false;
    }
    termios raw = g_saved;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | IEXTEN);
    raw.c_iflag &= ~static_cast<tcflag_t>(ICRNL | INLCR | IGNCR | IXON | ISTRIP);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) std::signal(sig, restore_and_reraise);
    g_raw = true;
    if (::tcsetattr(STDIN_FILENO, TCSANOW, &raw) != 0) {
      g_raw = false;
      *why = std::string("the terminal can't be put in raw mode: ") + std::strerror(errno);
      return false;
    }
    return true;
  }
  ~RawTerminal() {
    if (g_raw.exchange(false)) ::tcsetattr(STDIN_FILENO, TCSANOW, &g_saved);
  }
};

// UTF-8 to code points, as the bytes come; a byte that fits no sequence is U+FFFD, and so
// is a sequence that names no character: an overlong form (a NUL or "?" in disguise), one
// of UTF-16's surrogates, or a number past U+10FFFF.
class Utf8 {
 public:
  // The code point `b` completes, or 0 while a sequence is under way.
  char32_t feed(unsigned char b) {
    if (need_ > 0 && (b & 0xC0) == 0x80) {
      cp_ = (cp_ << 6) | (b & 0x3F);
      if (--need_ > 0) return 0;
      const bool character = cp_ >= least_ && cp_ <= 0x10FFFF && (cp_ < 0xD800 || cp_ > 0xDFFF);
      return character ? cp_ : 0xFFFD;
    }
    const bool broken = need_ > 0;
    need_ = 0;
    if (b < 0x80) return broken ? 0xFFFD : b;  // the broken sequence's mark is lost: rare
    if ((b & 0xE0) == 0xC0)
      need_ = 1, cp_ = b & 0x1F, least_ = 0x80;
    else if ((b & 0xF0) == 0xE0)
      need_ = 2, cp_ = b & 0x0F, least_ = 0x800;
    else if ((b & 0xF8) == 0xF0)
      need_ = 3, cp_ = b & 0x07, least_ = 0x10000;
    else
      return 0xFFFD;
    return 0;
  }
  ~Utf8() { cp_ = 0; }

 private:
  int need_ = 0;
  char32_t cp_ = 0;
  char32_t least_ = 0;  // the smallest code point the sequence under way may give
};

// Linux key codes of the modifiers, and what they stand for in a console's key state.
struct Modifier {
  std::uint16_t code, vk;
  std::uint32_t state;
};
constexpr Modifier kModifiers[] = {
    {KEY_LEFTSHIFT, kVkShift, kShiftPressed},     {KEY_RIGHTSHIFT, kVkShift, kShiftPressed},
    {KEY_LEFTCTRL, kVkControl, kLeftCtrlPressed}, {KEY_RIGHTCTRL, kVkControl, kRightCtrlPressed},
    {KEY_LEFTALT, kVkMenu, kLeftAltPressed},      {KEY_RIGHTALT, kVkMenu, kRightAltPressed},
};

// The grabbed devices, by descriptor, until they are let go.
std::map<int, libevdev*>& grabbed() {
  static std::map<int, libevdev*> devices;
  return devices;
}

}  // namespace

int capture_terminal_text(const BurstOptions& o, CardText* text, std::string* why) {
  text->clear();
  text->reserve(kMaxSwipe + 1);
  RawTerminal raw;
  if (!raw.enter(why)) return kExitUsage;
  const std::string where = "on the terminal";
  unsigned char buffer[256];
  struct Wiper {
    unsigned char* b;
    ~Wiper() { wipe(b, 256); }
  } wiper{buffer};
  Utf8 utf8;
  KeyBurst burst(o, now_ms());
  for (;;) {
    std::uint32_t wait = 0;
    int exit = kExitOk;
    if (!burst.go_on(now_ms(), &wait, where, &exit, why)) return exit;
    const int ready = wait_input(STDIN_FILENO, wait);
    if (ready == 0) continue;
    const ssize_t n = ready > 0 ? ::read(STDIN_FILENO, buffer, sizeof buffer) : -1;
    if (n <= 0) {
      if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      if (burst.started()) return kExitOk;  // the terminal went away after the swipe
      *why = "the terminal closed before anything was swiped";
      return kExitNoReader;
    }
    for (ssize_t i = 0; i < n; ++i) {
      const char32_t c = utf8.feed(buffer[i]);
      if (c != 0) text->push_back(c);
    }
    wipe(buffer, sizeof buffer);
    burst.key(now_ms());
    if (text->size() > kMaxSwipe) {
      *why = "more than " + std::to_string(kMaxSwipe) + " characters arrived " + where +
             " without a pause: that is no swipe";
      return kExitDiffers;
    }
    if (o.complete && o.complete(*text)) return kExitOk;
  }
}

int open_evdev(const std::string& path, int* fd, std::string* why) {
  *fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (*fd < 0) {
    const int e = errno;
    *why = e == ENOENT ? "there is no input device " + path + ": is the reader plugged in?"
           : e == EACCES
               ? path +
                     " can't be read (permission denied): run as a member of the group that "
                     "owns it (often \"input\"), or as root"
               : path + " can't be opened: " + std::strerror(e);
    return kExitNoReader;
  }
  struct stat st {};
  ::fstat(*fd, &st);
  if (S_ISFIFO(st.st_mode) || S_ISREG(st.st_mode)) return kExitOk;  // recorded records
  libevdev* dev = nullptr;
  const int rc = S_ISCHR(st.st_mode) ? libevdev_new_from_fd(*fd, &dev) : -ENOTTY;
  std::string problem;
  int exit = kExitUsage;
  if (rc < 0) {
    problem = path + " is not an input device (" + std::strerror(-rc) + ")";
  } else if (!libevdev_has_event_type(dev, EV_KEY)) {
    problem = path + " (" + (libevdev_get_name(dev) ? libevdev_get_name(dev) : "?") +
              ") has no keys: it is not a keyboard reader";
  } else if (const int g = libevdev_grab(dev, LIBEVDEV_GRAB); g < 0) {
    problem = path + " can't be taken for this program alone (" + std::strerror(-g) +
              "): another program has grabbed it";
    exit = kExitNoReader;
  } else {
    grabbed()[*fd] = dev;
    return kExitOk;
  }
  if (dev != nullptr) libevdev_free(dev);
  ::close(*fd);
  *fd = -1;
  *why = problem;
  return exit;
}

void close_evdev(int fd) {
  auto it = grabbed().find(fd);
  if (it != grabbed().end()) {
    libevdev_grab(it->second, LIBEVDEV_UNGRAB);
    libevdev_free(it->second);
    grabbed().erase(it);
  }
  if (fd >= 0) ::close(fd);
}

int capture_evdev(int fd, const BurstOptions& o, KeyEvents* keys, std::string* why) {
  keys->clear();
  const std::string where = "on the input device";
  input_event records[64];
  std::size_t have = 0;  // bytes of `records` filled: a read may stop inside a record
  CardText meant;        // what `complete` looks at
  struct Wiper {
    input_event* r;
    CardText& t;
    ~Wiper() {
      wipe(r, sizeof(input_event) * 64);
      wipe(t);
    }
  } wiper{records, meant};
  std::uint32_t state = 0;
  KeyBurst burst(o, now_ms());
  for (;;) {
    std::uint32_t wait = 0;
    int exit = kExitOk;
    if (!burst.go_on(now_ms(), &wait, where, &exit, why)) return exit;
    const int ready = wait_input(fd, wait);
    if (ready == 0) continue;
    char* bytes = reinterpret_cast<char*>(records);
    const ssize_t n = ready > 0 ? ::read(fd, bytes + have, sizeof records - have) : 0;
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) {
      if (burst.started()) return kExitOk;  // the recording's end, or the reader unplugged
      *why = n == 0 ? "the input device's records ended before anything was swiped"
                    : std::string("the input device stopped answering (") + std::strerror(errno) +
                          "): was the reader unplugged?";
      return kExitNoReader;
    }
    have += static_cast<std::size_t>(n);
    const std::size_t whole = have / sizeof(input_event);
    bool pressed = false;
    for (std::size_t i = 0; i < whole; ++i) {
      const input_event& r = records[i];
      if (r.type != EV_KEY || r.value == 2) continue;  // sync, scan codes, LEDs, repeats
      const bool down = r.value != 0;
      const auto* m = std::find_if(std::begin(kModifiers), std::end(kModifiers),
                                   [&](const Modifier& x) { return x.code == r.code; });
      KeyEvent e;
      e.down = down;
      if (m != std::end(kModifiers)) {
        state = down ? state | m->state : state & ~m->state;
        e.vk = m->vk;
        e.scan = static_cast<std::uint16_t>(m->code);
      } else {
        // The main block's key codes are its PC scan codes; the keypad's Enter is Enter.
        e.scan = r.code == KEY_KPENTER ? KEY_ENTER : r.code;
        pressed = pressed || down;
      }
      e.control = state;
      keys->push_back(e);
    }
    const std::size_t used = whole * sizeof(input_event);
    std::memmove(bytes, bytes + used, have - used);
    have -= used;
    wipe(bytes + have, sizeof records - have);
    if (pressed) burst.key(now_ms());
    if (keys->size() > kMaxKeyEvents) {
      *why = "more than " + std::to_string(kMaxKeyEvents) + " key events arrived " + where +
             " without a pause: that is no swipe";
      return kExitDiffers;
    }
    if (pressed && o.complete) {
      wipe(meant);
      Typed t = decode_keys(*keys, o.reader_lang);
      meant.swap(t.intended);
      wipe(t.received);
      if (o.complete(meant)) return kExitOk;
    }
  }
}

}  // namespace msr::profile
