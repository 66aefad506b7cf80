// Plays a magnetic stripe reader attached as a virtual COM port, on a pseudo-terminal, so
// that msrsetup.exe under Wine can find it, read it and program it.
//
//   vcom_reader --state FILE --record FILE [--pts-file FILE] [--swipe FILE] [--stray HEX]
//               [KEY=VALUE ...]
//
// The simulated reader's configuration and its behaviour live in the state file, one
// KEY=VALUE per line, read again before every command so that a test can change it while
// the reader runs:
//   p2j, mr1..mr7, kq1..kq7   settings bytes, two hex digits (mr7 is the firmware byte)
//   jis=0|1                   answers the JIS2 query as a JIS2 reader (04 4A) or not (04 00)
//   cif=0|1                   answers the CIF query as a CIF reader (04 46) or not (04 00)
//   silent=0|1                answers nothing at all
//   readlen=N                 bytes sent for the settings read (16 = the whole record)
//   querylen=N                bytes sent for each query (5)
//   delay=MS                  waits this long before each answer
//   answers=N                 answers N more commands, then falls silent (-1: no limit)
//   writes=N, resets=N        settings writes and resets taken so far
//   stray=HEX                 sent once, just before the next settings reply (a swipe's "%"
//                             or line noise waiting in front of it); then cleared
//   writeanswer=HEX           sent in answer to every settings write
//   alternate=0|1             answers only every other command (commands=N counts them)
//   noise=0|1                 answers the settings read with 16 pseudo-random bytes
// KEY=VALUE arguments on the command line are written into the state file at start.
// Every command received is appended to the record file as one line of hex bytes; bytes
// that don't form a command are appended the same way once the line goes quiet.
// SIGUSR1 settles the reader once the program talking to it has ended: every byte it sent
// is taken and acted on, an unfinished command is recorded at once instead of after the
// quiet time, and then the number of settles so far is written to RECORD.settled. A test
// waits for that number before it looks at the record or the state, so it never races
// bytes still on their way through the pseudo-terminal.
// SIGUSR2 swipes a card: the swipe file (--swipe FILE) is read and deleted at once (it holds
// card data), and what it asks for is sent, framed by the reader's current configuration
// (sim/swipe/framing.h), with mr6 ms between characters; then the number of swipes so far
// is written to SWIPE.done. Its lines, all optional:
//   track1=%B...?, track2=;...?, track3=;...?   the card's tracks as ISO text with sentinels
//   raw=HEX                   bytes sent as they are, before the tracks (binary junk)
//   noise=N                   N pseudo-random bytes, before the tracks
//   endless=1                 the swipe is sent again and again until the next signal
//                             (SWIPE.done is written when it begins)
//   hangup=N                  after N characters the reader is unplugged: the line closes
//                             and the program ends (SWIPE.done is written first)
// A signal without a swipe file only ends an endless swipe.
// --stray HEX puts those bytes on the line at start, waiting for whoever reads first, as a
// swipe's first character or line noise would.
// The slave path of the pseudo-terminal is printed on stdout ("pts=/dev/pts/N") and
// written to the pts file. SIGTERM, SIGINT and SIGHUP end the program cleanly.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "sim/swipe/framing.h"

namespace {

volatile sig_atomic_t g_stop = 0;
volatile sig_atomic_t g_settle = 0;
volatile sig_atomic_t g_swipe = 0;
void on_signal(int sig) {
  if (sig == SIGUSR1)
    g_settle = 1;
  else if (sig == SIGUSR2)
    g_swipe = 1;
  else
    g_stop = 1;
}

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t kPrefix[3] = {0x1D, 0x4D, 0x52};
constexpr int kMaxReply = 64;
// A command that stays incomplete this long is given up and recorded as it stands.
constexpr int kQuietMs = 300;

const char* const kByteKeys[] = {"p2j", "mr1", "mr2", "mr3", "mr4", "mr5", "mr6", "mr7",
                                 "kq1", "kq2", "kq3", "kq4", "kq5", "kq6", "kq7"};

struct State {
  std::uint8_t b[15] = {0xC6, 0x08, 0x25, 0x3B, 0x3B, 0x3F, 0x01, 0x13,
                        0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
  int jis = 0;
  int cif = 1;
  int silent = 0;
  int readlen = 16;
  int querylen = 5;
  int delay = 0;
  long answers = -1;
  long writes = 0;
  long resets = 0;
  std::string stray, writeanswer;  // hex, empty for none
  int alternate = 0, noise = 0;
  long commands = 0;
};

bool hex_bytes(const std::string& hex, Bytes* out) {
  out->clear();
  if (hex.size() % 2 != 0) return false;
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    char* end = nullptr;
    const std::string pair = hex.substr(i, 2);
    const long v = std::strtol(pair.c_str(), &end, 16);
    if (*end != '\0') return false;
    out->push_back(static_cast<std::uint8_t>(v));
  }
  return true;
}

bool parse_long(const std::string& text, int base, long& out) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  long v = std::strtol(text.c_str(), &end, base);
  if (errno != 0 || *end != '\0') return false;
  out = v;
  return true;
}

// Applies one KEY=VALUE; false for an unknown key or a value out of range.
bool apply(State& s, const std::string& key, const std::string& value) {
  long v = 0;
  for (int i = 0; i < 15; ++i) {
    if (key == kByteKeys[i]) {
      if (!parse_long(value, 16, v) || v < 0 || v > 0xFF) return false;
      s.b[i] = static_cast<std::uint8_t>(v);
      return true;
    }
  }
  Bytes scratch;
  if (key == "stray" || key == "writeanswer") {
    if (!hex_bytes(value, &scratch)) return false;
    (key == "stray" ? s.stray : s.writeanswer) = value;
    return true;
  }
  if (!parse_long(value, 10, v)) return false;
  auto in = [&](long lo, long hi) { return v >= lo && v <= hi; };
  if (key == "jis" && in(0, 1))
    s.jis = static_cast<int>(v);
  else if (key == "cif" && in(0, 1))
    s.cif = static_cast<int>(v);
  else if (key == "silent" && in(0, 1))
    s.silent = static_cast<int>(v);
  else if (key == "readlen" && in(0, kMaxReply))
    s.readlen = static_cast<int>(v);
  else if (key == "querylen" && in(0, kMaxReply))
    s.querylen = static_cast<int>(v);
  else if (key == "delay" && in(0, 600000))
    s.delay = static_cast<int>(v);
  else if (key == "answers" && v >= -1)
    s.answers = v;
  else if (key == "writes" && v >= 0)
    s.writes = v;
  else if (key == "resets" && v >= 0)
    s.resets = v;
  else if (key == "alternate" && in(0, 1))
    s.alternate = static_cast<int>(v);
  else if (key == "noise" && in(0, 1))
    s.noise = static_cast<int>(v);
  else if (key == "commands" && v >= 0)
    s.commands = v;
  else
    return false;
  return true;
}

bool split_pair(const std::string& line, std::string& key, std::string& value) {
  auto eq = line.find('=');
  if (eq == std::string::npos) return false;
  auto trim = [](std::string t) {
    const char* ws = " \t\r\n";
    auto a = t.find_first_not_of(ws);
    if (a == std::string::npos) return std::string();
    return t.substr(a, t.find_last_not_of(ws) - a + 1);
  };
  key = trim(line.substr(0, eq));
  value = trim(line.substr(eq + 1));
  return !key.empty();
}

// Reads the state file over `s`; lines it doesn't understand are reported and skipped,
// so a typo in a test shows up instead of silently changing nothing.
void load_state(const std::string& path, State& s) {
  std::ifstream in(path);
  std::string line, key, value;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    if (!split_pair(line, key, value) || !apply(s, key, value))
      std::fprintf(stderr, "vcom_reader: %s: bad line '%s'\n", path.c_str(), line.c_str());
  }
}

// Written to a temporary file and renamed, so a reader of the file never sees half of it.
bool save_state(const std::string& path, const State& s) {
  std::ostringstream out;
  char hex[4];
  for (int i = 0; i < 15; ++i) {
    std::snprintf(hex, sizeof hex, "%02x", s.b[i]);
    out << kByteKeys[i] << '=' << hex << '\n';
  }
  out << "jis=" << s.jis << "\ncif=" << s.cif << "\nsilent=" << s.silent
      << "\nreadlen=" << s.readlen << "\nquerylen=" << s.querylen << "\ndelay=" << s.delay
      << "\nanswers=" << s.answers << "\nwrites=" << s.writes << "\nresets=" << s.resets
      << "\nstray=" << s.stray << "\nwriteanswer=" << s.writeanswer << "\nalternate=" << s.alternate
      << "\nnoise=" << s.noise << "\ncommands=" << s.commands << '\n';
  std::string tmp = path + ".tmp";
  {
    std::ofstream f(tmp, std::ios::trunc);
    f << out.str();
    if (!f.flush()) return false;
  }
  return std::rename(tmp.c_str(), path.c_str()) == 0;
}

void append_record(const std::string& path, const Bytes& bytes) {
  std::string line;
  char hex[4];
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(hex, sizeof hex, i ? " %02x" : "%02x", bytes[i]);
    line += hex;
  }
  line += '\n';
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return;
  // One write per line: a line is never split between two appends.
  ssize_t n = ::write(fd, line.data(), line.size());
  (void)n;
  ::close(fd);
}

// Length of the command that starts the buffer, by its command byte.
std::size_t command_length(const Bytes& buf) {
  if (buf.size() < 4) return 12;  // can't tell yet: the longest command
  switch (buf[3]) {
    case 0xB2:
      return 12;
    case 0xD0:
    case 0xFF:
      return 5;
    case 0x1D:
      return 3;  // a bare prefix, and the next command begins
    default:
      return 4;
  }
}

// Bytes before the next possible command prefix: not a command of ours.
std::size_t stray_length(const Bytes& buf) {
  std::size_t i = 0;
  for (; i < buf.size(); ++i) {
    std::size_t k = 0;
    while (k < 3 && i + k < buf.size() && buf[i + k] == kPrefix[k]) ++k;
    if (k == 3 || i + k == buf.size()) break;  // a prefix, or the start of one
  }
  return i;
}

// Waits `ms`, unless a stop signal comes first (a settle request doesn't cut it short).
void pause_ms(int ms, const sigset_t& open_mask) {
  timespec end{};
  clock_gettime(CLOCK_MONOTONIC, &end);
  end.tv_sec += ms / 1000;
  end.tv_nsec += (ms % 1000) * 1000000L;
  if (end.tv_nsec >= 1000000000L) {
    ++end.tv_sec;
    end.tv_nsec -= 1000000000L;
  }
  while (!g_stop) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    long long left = (end.tv_sec - now.tv_sec) * 1000000000LL + (end.tv_nsec - now.tv_nsec);
    if (left <= 0) return;
    timespec ts{static_cast<time_t>(left / 1000000000LL), static_cast<long>(left % 1000000000LL)};
    ppoll(nullptr, 0, &ts, &open_mask);
  }
}

void write_all(int fd, const Bytes& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
      return;
    } else {
      pollfd p{fd, POLLOUT, 0};
      ::poll(&p, 1, 100);
    }
  }
}

class Reader {
 public:
  Reader(std::string state_path, std::string record_path, int master, sigset_t open_mask)
      : state_path_(std::move(state_path)),
        record_path_(std::move(record_path)),
        master_(master),
        open_mask_(open_mask) {}

  // Takes one complete command: records it, acts on it, answers it.
  void command(const Bytes& cmd) {
    append_record(record_path_, cmd);
    State s;
    load_state(state_path_, s);
    Bytes reply;
    const std::uint8_t op = cmd[3];
    ++s.commands;
    if (s.alternate) save_state(state_path_, s);
    // Every other command goes unanswered and untaken, from the second on.
    if (s.alternate && s.commands % 2 == 0) return;
    if (op == 0xB3 && cmd.size() == 4) {
      hex_bytes(s.stray, &reply);
      if (!s.stray.empty()) {
        s.stray.clear();
        save_state(state_path_, s);
      }
      const std::size_t at = reply.size();
      reply.insert(reply.end(), s.b, s.b + 15);
      reply.push_back(0x00);
      reply.resize(at + static_cast<std::size_t>(s.readlen), 0x00);
      if (s.noise) {
        for (std::size_t i = at; i < reply.size(); ++i) {
          noise_state_ = noise_state_ * 1103515245u + 12345u;
          reply[i] = static_cast<std::uint8_t>(noise_state_ >> 16);
        }
      }
    } else if (op == 0xB2 && cmd.size() == 12) {
      // p2j and mr1..mr6, then kq1; the firmware byte mr7 is the reader's own.
      for (int i = 0; i < 7; ++i) s.b[i] = cmd[4 + i];
      s.b[8] = cmd[11];
      ++s.writes;
      save_state(state_path_, s);
      hex_bytes(s.writeanswer, &reply);
    } else if (op == 0xD0 && cmd.size() == 5 && (cmd[4] == 0x12 || cmd[4] == 0x13)) {
      bool yes = cmd[4] == 0x12 ? s.jis : s.cif;
      reply = {0x04, static_cast<std::uint8_t>(yes ? (cmd[4] == 0x12 ? 0x4A : 0x46) : 0x00)};
      reply.resize(static_cast<std::size_t>(s.querylen), 0x00);
    } else if (op == 0xFF && cmd.size() == 5 && cmd[4] == 0xAA) {
      ++s.resets;
      save_state(state_path_, s);
    }
    if (s.silent || reply.empty() || s.answers == 0) return;
    if (s.answers > 0) {
      --s.answers;
      save_state(state_path_, s);
    }
    if (s.delay > 0) pause_ms(s.delay, open_mask_);
    if (!g_stop) write_all(master_, reply);
  }

  // Takes newly received bytes; returns how long to wait for the rest of a command
  // (-1: nothing pending).
  int feed(const std::uint8_t* data, std::size_t n) {
    buf_.insert(buf_.end(), data, data + n);
    return drain(false);
  }

  // Called when the line has been quiet for the time `feed` asked for.
  void quiet() { drain(true); }

 private:
  int drain(bool give_up) {
    for (;;) {
      if (buf_.empty()) return -1;
      std::size_t stray = stray_length(buf_);
      if (stray > 0) {
        append_record(record_path_, Bytes(buf_.begin(), buf_.begin() + stray));
        buf_.erase(buf_.begin(), buf_.begin() + stray);
        continue;
      }
      std::size_t need = command_length(buf_);
      if (buf_.size() >= need) {
        Bytes cmd(buf_.begin(), buf_.begin() + need);
        buf_.erase(buf_.begin(), buf_.begin() + need);
        command(cmd);
        continue;
      }
      if (!give_up) return kQuietMs;
      append_record(record_path_, buf_);
      buf_.clear();
      return -1;
    }
  }

  std::string state_path_;
  std::string record_path_;
  int master_;
  std::uint32_t noise_state_ = 0x5EED;
  sigset_t open_mask_;
  Bytes buf_;
};

// A swipe as the swipe file asks for it; see the comment at the top.
struct SwipeRequest {
  std::string track[3];
  Bytes raw;
  long noise = 0;
  bool endless = false;
  long hangup = -1;  // characters before the line closes; -1: it stays
};

void wipe(std::string& text) {
  explicit_bzero(text.data(), text.size());
}

bool parse_hex_bytes(const std::string& text, Bytes& out) {
  std::string digits;
  for (char c : text)
    if (c != ' ' && c != ':') digits += c;
  if (digits.size() % 2 != 0) return false;
  for (std::size_t i = 0; i < digits.size(); i += 2) {
    long v = 0;
    if (!parse_long(digits.substr(i, 2), 16, v)) return false;
    out.push_back(static_cast<std::uint8_t>(v));
  }
  return true;
}

// Reads and deletes the swipe file; false when there is none.
bool take_swipe(const std::string& path, SwipeRequest& r) {
  std::ifstream in(path);
  if (!in) return false;
  std::string line, key, value;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    long v = 0;
    bool ok = split_pair(line, key, value);
    if (ok && key.size() == 6 && key.compare(0, 5, "track") == 0 && key[5] >= '1' && key[5] <= '3')
      r.track[key[5] - '1'] = value;
    else if (ok && key == "raw")
      ok = parse_hex_bytes(value, r.raw);
    else if (ok && key == "noise" && parse_long(value, 10, v) && v >= 0 && v <= 10000000)
      r.noise = v;
    else if (ok && key == "endless" && parse_long(value, 10, v))
      r.endless = v != 0;
    else if (ok && key == "hangup" && parse_long(value, 10, v) && v >= 0)
      r.hangup = v;
    else
      ok = false;
    // The line may be a track: never echo it.
    if (!ok)
      std::fprintf(stderr, "vcom_reader: %s: bad line (key '%s')\n", path.c_str(), key.c_str());
    wipe(line);
    wipe(value);
  }
  in.close();
  std::remove(path.c_str());
  return true;
}

Bytes frame_swipe(const State& s, const SwipeRequest& r) {
  Bytes out = r.raw;
  std::uint32_t x = 0x2545F491u;  // fixed seed: a failing run can be repeated
  for (long i = 0; i < r.noise; ++i) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    out.push_back(static_cast<std::uint8_t>(x));
  }
  const char* tracks[3];
  for (int i = 0; i < 3; ++i) tracks[i] = r.track[i].empty() ? nullptr : r.track[i].c_str();
  std::size_t at = out.size();
  out.resize(at + msr_frame_swipe(s.b, tracks, nullptr, 0));
  msr_frame_swipe(s.b, tracks, out.data() + at, out.size() - at);
  return out;
}

// Sends `bytes`, `gap` ms between characters, while no signal asks for something else.
// *budget counts down the characters the line has left (negative: no limit). False when
// cut short.
bool send_paced(int fd, const Bytes& bytes, int gap, const sigset_t& open_mask, long* budget) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    if (g_stop || g_swipe || *budget == 0) return false;
    std::size_t want = bytes.size() - done;
    if (gap > 0) want = 1;
    if (*budget > 0 && static_cast<long>(want) > *budget) want = static_cast<std::size_t>(*budget);
    ssize_t n = ::write(fd, bytes.data() + done, want);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      if (*budget > 0) *budget -= n;
      if (gap > 0 && done < bytes.size()) pause_ms(gap, open_mask);
    } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
      return false;
    } else {
      pause_ms(5, open_mask);  // the line is full: let the program read
    }
  }
  return true;
}

void write_count(const std::string& path, long count) {
  std::ofstream(path + ".tmp", std::ios::trunc) << count << '\n';
  std::rename((path + ".tmp").c_str(), path.c_str());
}

// Swipes as the swipe file asks; false when the reader has been unplugged (the line is
// to close).
bool swipe(const std::string& state_path, const std::string& swipe_path, int master,
           const sigset_t& open_mask, long* swipes) {
  SwipeRequest r;
  if (!take_swipe(swipe_path, r)) return true;  // only the end of an endless swipe
  State s;
  load_state(state_path, s);
  Bytes bytes = frame_swipe(s, r);
  for (auto& t : r.track) wipe(t);
  const int gap = static_cast<int>(msr_frame_delay_ms(s.b));
  long budget = r.hangup;
  if (r.endless || r.hangup >= 0) write_count(swipe_path + ".done", ++*swipes);
  do {
    send_paced(master, bytes, gap, open_mask, &budget);
  } while (r.endless && !g_stop && !g_swipe);
  explicit_bzero(bytes.data(), bytes.size());
  if (r.hangup >= 0) {
    // What was sent reached the host before the reader went, as with a real unplug: a
    // pseudo-terminal's master closing at once would take unread characters with it.
    pause_ms(200, open_mask);
    return false;
  }
  if (!r.endless) write_count(swipe_path + ".done", ++*swipes);
  return true;
}

int usage() {
  std::fprintf(stderr,
               "usage: vcom_reader --state FILE --record FILE [--pts-file FILE] "
               "[--swipe FILE] [KEY=VALUE ...]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string state_path, record_path, pts_file, swipe_path, stray_hex;
  std::vector<std::pair<std::string, std::string>> sets;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    std::string key, value;
    if ((a == "--state" || a == "--record" || a == "--pts-file" || a == "--swipe" ||
         a == "--stray") &&
        i + 1 < argc) {
      (a == "--state"    ? state_path
       : a == "--record" ? record_path
       : a == "--swipe"  ? swipe_path
       : a == "--stray"  ? stray_hex
                         : pts_file) = argv[++i];
    } else if (a.rfind("--", 0) != 0 && split_pair(a, key, value)) {
      sets.emplace_back(key, value);
    } else {
      return usage();
    }
  }
  if (state_path.empty() || record_path.empty()) return usage();

  State s;
  load_state(state_path, s);
  for (auto& [key, value] : sets) {
    if (!apply(s, key, value)) {
      std::fprintf(stderr, "vcom_reader: bad setting %s=%s\n", key.c_str(), value.c_str());
      return 2;
    }
  }
  if (!save_state(state_path, s)) {
    std::fprintf(stderr, "vcom_reader: can't write %s\n", state_path.c_str());
    return 1;
  }

  // Stop and settle signals are held back except while waiting, so none slips in between
  // the test of its flag and the wait.
  struct sigaction sa {};
  sa.sa_handler = on_signal;
  sigemptyset(&sa.sa_mask);
  sigset_t blocked, open_mask;
  sigemptyset(&blocked);
  for (int sig : {SIGTERM, SIGINT, SIGHUP, SIGUSR1, SIGUSR2}) {
    sigaction(sig, &sa, nullptr);
    sigaddset(&blocked, sig);
  }
  sigprocmask(SIG_BLOCK, &blocked, &open_mask);
  signal(SIGPIPE, SIG_IGN);

  int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
    std::perror("vcom_reader: pseudo-terminal");
    return 1;
  }
  std::string slave_path = ptsname(master);
  // Our own handle on the slave keeps the line up between the program's opens (without
  // one, the master side reports a hang-up each time the program closes the port).
  int slave = ::open(slave_path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  termios tio{};
  if (slave < 0 || tcgetattr(slave, &tio) != 0) {
    std::perror("vcom_reader: slave");
    return 1;
  }
  // Raw 8N1 at 9600 baud, as the reader's virtual port presents itself; above all no echo,
  // which would hand every command back to the program as an answer.
  cfmakeraw(&tio);
  cfsetispeed(&tio, B9600);
  cfsetospeed(&tio, B9600);
  tio.c_cflag |= CLOCAL | CREAD;
  if (tcsetattr(slave, TCSANOW, &tio) != 0) {
    std::perror("vcom_reader: tcsetattr");
    return 1;
  }
  fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
  Bytes stray;
  if (!stray_hex.empty() && !parse_hex_bytes(stray_hex, stray)) return usage();
  write_all(master, stray);

  if (!pts_file.empty()) {
    std::ofstream f(pts_file, std::ios::trunc);
    f << slave_path << '\n';
  }
  std::printf("pts=%s\n", slave_path.c_str());
  std::fflush(stdout);

  Reader reader(state_path, record_path, master, open_mask);
  int wait_ms = -1;
  std::uint8_t chunk[256];
  long settles = 0, swipes = 0;
  while (!g_stop) {
    if (g_swipe) {
      g_swipe = 0;
      if (swipe_path.empty()) {
        std::fprintf(stderr, "vcom_reader: asked to swipe without --swipe\n");
      } else if (!swipe(state_path, swipe_path, master, open_mask, &swipes)) {
        break;  // unplugged
      }
      continue;
    }
    if (g_settle) {
      g_settle = 0;
      // A read that finds nothing first lets the kernel hand over what the other side
      // wrote, so "nothing more" here means nothing more was sent.
      for (ssize_t n; (n = ::read(master, chunk, sizeof chunk)) > 0;)
        reader.feed(chunk, static_cast<std::size_t>(n));
      reader.quiet();
      wait_ms = -1;
      write_count(record_path + ".settled", ++settles);
      continue;
    }
    pollfd p{master, POLLIN, 0};
    timespec ts{wait_ms / 1000, (wait_ms % 1000) * 1000000L};
    int r = ppoll(&p, 1, wait_ms < 0 ? nullptr : &ts, &open_mask);
    if (r < 0) {
      if (errno == EINTR) continue;
      std::perror("vcom_reader: poll");
      break;
    }
    if (r == 0) {
      reader.quiet();
      wait_ms = -1;
      continue;
    }
    if (p.revents & POLLIN) {
      ssize_t n = ::read(master, chunk, sizeof chunk);
      if (n > 0) wait_ms = reader.feed(chunk, static_cast<std::size_t>(n));
    } else if (p.revents & (POLLHUP | POLLERR)) {
      pause_ms(10, open_mask);  // not expected while we hold the slave; don't spin
    }
  }
  ::close(slave);
  ::close(master);
  return 0;
}
