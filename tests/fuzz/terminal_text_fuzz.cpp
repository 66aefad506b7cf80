// Whatever bytes a terminal in raw mode passes on as a keyboard reader's swipe (broken and
// overlong UTF-8, control characters, more than any swipe): the capture gives code points
// only, stays within its limit, and the layout diagnosis of the text is sound. The bytes
// reach it through a pseudo-terminal standing in for standard input, as a swipe does.
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "msrprofile/exit_codes.h"
#include "msrprofile/profile/codec.h"
#include "msrprofile/swipe/key_capture.h"
#include "msrprofile/swipe/swipe.h"
#include "tests/fuzz/fuzz_common.h"

namespace {

using msr::fuzz::check;

// The pseudo-terminal's other end, where the fuzzer's bytes are typed; its terminal end
// is standard input from the first input on.
int terminal() {
  static const int master = [] {
    const int m = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    check(m >= 0 && ::grantpt(m) == 0 && ::unlockpt(m) == 0);
    const int slave = ::open(::ptsname(m), O_RDWR | O_NOCTTY);
    check(slave >= 0 && ::dup2(slave, STDIN_FILENO) == STDIN_FILENO);
    ::close(slave);
    ::fcntl(m, F_SETFL, O_NONBLOCK);
    return m;
  }();
  return master;
}

bool is_code_point(char32_t c) {
  return c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  using namespace msr::profile;
  // Set-up: the reader's language, whether the profile's ending ends the burst; the rest
  // is typed.
  msr::fuzz::SwipeSetup set;
  if (!set.take(data, size)) return 0;

  const int master = terminal();
  ::tcflush(STDIN_FILENO, TCIFLUSH);  // what an earlier input left unread
  // What the terminal's buffer doesn't take is typed by nobody: the burst is then shorter.
  if (size > 0) (void)!::write(master, data, size);

  BurstOptions o = set.burst(20, 0x10);
  o.quiet_ms = 2;
  CardText text;
  std::string why;
  msr::fuzz::check_capture(capture_terminal_text(o, &text, &why), why);
  check(text.size() <= size && text.size() <= kMaxSwipe + 256);
  for (char32_t c : text) check(is_code_point(c));

  const Validity valid = set.valid();
  msr::fuzz::check_finding(diagnose_text(text, set.lang(), valid), text, set.lang(), valid);
  wipe(text);
  return 0;
}
