// msrprofile swipe: waits for a swipe on the reader's virtual COM port or keyboard, and
// reports its tracks, validated and masked, against a profile when one is given.
#include "msrprofile/commands/swipe.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <memory>
#include <ostream>

#include "msrprofile/commands/command.h"
#include "msrprofile/commands/reader_options.h"
#include "msrprofile/exit_codes.h"
#include "msrprofile/keyboard/keyboard_layouts.h"
#include "msrprofile/keyboard/keys.h"
#include "msrprofile/profile/json.h"
#include "msrprofile/swipe/key_capture.h"
#include "msrprofile/swipe/swipe.h"
#include "msrprofile/swipe/swipe_capture.h"
#include "msrprofile/swipe/swipe_report.h"
#include "settings/settings_block.h"
#include "transport/vcom/vcom.h"

namespace msr::profile {
namespace {

struct SwipeArgs {
  std::string vcom;  // empty: not given; "true" for --vcom alone, N for --vcom=N
  std::string port, evdev, profile;
  bool keyboard = false, from_reader = false, json = false, show_bin = false;
  int timeout = 30, count = 1;
};

// What a swipe is compared with: a profile's bytes, or the reader's own.
struct Expected {
  std::optional<Bytes> bytes;
  bool interface_left_out = false;
  std::string name;  // the profile's path, or "the reader's settings"
};

// One run's outcome, in the order the worst of several swipes is picked.
struct Outcome {
  int exit = kExitOk;
  std::string key = "valid";
  std::string message;
};

const char* source_key(Source s) {
  return s == Source::vcom ? "vcom" : s == Source::keyboard ? "keyboard" : "evdev";
}

// Where the swipe is read from, once the command line has named it.
struct Place {
  Source source = Source::vcom;
  int com = 0;       // vCOM: the port; 0 probes for the reader first
  std::string path;  // Linux: the port's device path
  std::string name;  // for a person: "COM5", "/dev/ttyACM0"
};

std::optional<Place> place_of(Io io, const Host& host, const SwipeArgs& a, int* exit) {
  *exit = kExitUsage;
  const bool vcom = !a.vcom.empty(), port = !a.port.empty(), evdev = !a.evdev.empty();
  if (int(vcom) + int(port) + int(a.keyboard) + int(evdev) != 1) {
    usage(io, "swipe: name the reader once: --vcom[=N], --port PATH, --keyboard or --evdev PATH");
    return std::nullopt;
  }
  Place p;
  if (a.keyboard) {
    p.source = Source::keyboard;
    p.name = "the keyboard";
  } else if (evdev) {
    if (host.windows) {
      usage(io,
            "swipe --evdev names a Linux input device; on Windows swipe into the console "
            "with --keyboard");
      return std::nullopt;
    }
    p.source = Source::evdev;
    p.path = p.name = a.evdev;
  } else if (!serial_port_of(io, host, "swipe", a.vcom, a.port, &p.com, &p.path)) {
    return std::nullopt;
  }
  *exit = kExitOk;
  return p;
}

Target target_of(const Place& p) {
  Target t;
  // A keyboard reader's settings are read over USB.
  t.transport = p.source == Source::vcom ? Transport::vcom : Transport::usb;
  t.com = p.com;
  t.path = p.path;
  return t;
}

void countdown_line(Io io, const Host& host, const std::string& name, int left) {
  if (host.countdown)
    io.err << "\rswipe a card on " << name << ": " << left << " s  " << std::flush;
}

void end_countdown(Io io, const Host& host) {
  if (host.countdown) io.err << "\r" << std::string(48, ' ') << "\r" << std::flush;
}

nlohmann::ordered_json run_json(const Place& p, const SwipeArgs& a, const Expected& e,
                                const Outcome& o) {
  nlohmann::ordered_json doc = {
      {"outcome", o.key},
      {"source", source_key(p.source)},
      {"port", p.name.empty() || p.source == Source::keyboard ? nlohmann::ordered_json(nullptr)
                                                              : nlohmann::ordered_json(p.name)},
      {"profile", nullptr}};
  if (e.bytes) {
    doc["profile"] = {{"file", a.from_reader ? nlohmann::ordered_json(nullptr)
                                             : nlohmann::ordered_json(a.profile)},
                      {"from_reader", a.from_reader},
                      {"bytes", hex_bytes(*e.bytes)}};
  }
  doc["swipes"] = nlohmann::ordered_json::array();
  if (!o.message.empty()) doc["message"] = o.message;
  return doc;
}

// Where one swipe after another is read from.
class SwipeSource {
 public:
  virtual ~SwipeSource() = default;
  // kExitOk with the swipe's text as the host received it, and for a keyboard what its
  // layout made of it; else the exit code and why.
  virtual int capture(const std::function<void(int)>& countdown, CardText* text,
                      std::optional<LayoutNote>* layout, std::string* why) = 0;
};

class PortSource final : public SwipeSource {
 public:
  PortSource(Handle port, std::string name, PortBurst burst)
      : port_(port), name_(std::move(name)), burst_(std::move(burst)) {}
  ~PortSource() override { os().CloseHandle(port_); }
  int capture(const std::function<void(int)>& countdown, CardText* text, std::optional<LayoutNote>*,
              std::string* why) override {
    burst_.countdown = countdown;
    return capture_port(port_, name_, burst_, text, why);
  }

 private:
  Handle port_;
  std::string name_;
  PortBurst burst_;
};

std::function<bool(std::u32string_view)> ending_of(const std::optional<Framing>& framing) {
  return [framing](std::u32string_view text) { return framing && swipe_complete(text, *framing); };
}

std::unique_ptr<SwipeSource> open_port_source(const Place& p, const SwipeArgs& a,
                                              const std::optional<Framing>& framing,
                                              std::string* why) {
  const Handle port = open_swipe_port(p.com, p.name, why);
  if (port == invalid_handle()) return nullptr;
  PortBurst burst;
  burst.timeout_s = a.timeout;
  burst.complete = ending_of(framing);
  return std::make_unique<PortSource>(port, p.name, std::move(burst));
}

// A keyboard reader: the console's key events on Windows, the terminal's characters or an
// input device's keys on Linux.
class KeySource final : public SwipeSource {
 public:
  KeySource(Source kind, int lang, bool lang_known, std::string klid, BurstOptions burst,
            std::optional<Framing> framing, int fd)
      : kind_(kind),
        lang_(lang),
        lang_known_(lang_known),
        klid_(std::move(klid)),
        burst_(std::move(burst)),
        framing_(std::move(framing)),
        fd_(fd) {}
#ifndef _WIN32
  ~KeySource() override {
    if (fd_ >= 0) close_evdev(fd_);
  }
#endif

  int capture(const std::function<void(int)>& countdown, CardText* text,
              std::optional<LayoutNote>* layout, std::string* why) override {
    burst_.countdown = countdown;
    const auto valid = [this](std::u32string_view t) { return analyze(t, framing_).valid(); };
    KeyEvents keys;
    struct Wiper {
      KeyEvents& k;
      ~Wiper() { wipe(k); }
    } wiper{keys};
    int got = kExitOk;
    LayoutFinding finding;
#ifdef _WIN32
    got = capture_console_keys(burst_, &keys, why);
    if (got != kExitOk) return got;
    Typed t = decode_keys(keys, lang_);
    text->swap(t.received);
    wipe(t.intended);
    finding = diagnose_keys(keys, lang_, valid, klid_);
    // A dead key the burst ended on is reported as its accent, as the terminal will show it.
    const KeyboardLayout* named = klid_.empty() ? nullptr : layout_for_klid(klid_);
    const int host = finding.host_lang >= 0 ? finding.host_lang : named ? named->lang : -1;
    if (const char32_t accent = host >= 0 ? pending_accent(keys, host) : 0) *text += accent;
#else
    if (kind_ == Source::evdev) {
      // The device is grabbed: the host's layout plays no part, its keys are the reader's.
      got = capture_evdev(fd_, burst_, &keys, why);
      if (got != kExitOk) return got;
      Typed t = decode_keys(keys, lang_);
      text->swap(t.intended);
      return kExitOk;
    }
    got = capture_terminal_text(burst_, text, why);
    if (got != kExitOk) return got;
    finding = diagnose_text(*text, lang_, valid, klid_);
#endif
    LayoutNote note;
    note.finding = finding_name(finding.kind);
    if (finding.host_lang >= 0) note.host_layout = keyboard_layout(finding.host_lang).windows;
    note.advice = finding.advice;
    if (!lang_known_ && !note.advice.empty()) {
      note.advice +=
          " (the reader's keyboard language is taken as USA, its factory setting: "
          "give --profile or --from-reader to say otherwise)";
    }
    wipe(finding.repaired);
    *layout = std::move(note);
    return kExitOk;
  }

 private:
  Source kind_;
  int lang_;
  bool lang_known_;
  std::string klid_;
  BurstOptions burst_;
  std::optional<Framing> framing_;
  int fd_;
};

std::unique_ptr<SwipeSource> open_key_source(const Place& p, const SwipeArgs& a,
                                             const std::optional<Bytes>& profile,
                                             const std::optional<Framing>& framing,
                                             const std::optional<Framing>& ending, int* exit,
                                             std::string* why) {
  BurstOptions burst;
  burst.timeout_ms = a.timeout * 1000;
  burst.complete = ending_of(ending);
  const int lang = profile ? ((*profile)[9] & kLangMask) : 0;  // kq2
  burst.reader_lang = lang;
  // A reader that waits between characters must not have its swipe cut at the pause.
  if (profile) burst.quiet_ms = std::max(burst.quiet_ms, 2 * (*profile)[6] + 100);  // mr6
  std::string klid;
  char name[Os::kKlidLength + 1] = {};
  if (os().GetKeyboardLayoutNameA(name)) klid = name;
  int fd = -1;
#ifndef _WIN32
  if (p.source == Source::evdev) {
    *exit = open_evdev(p.path, &fd, why);
    if (*exit != kExitOk) return nullptr;
  }
#else
  (void)p;
  (void)exit;
  (void)why;
#endif
  return std::make_unique<KeySource>(p.source, lang, profile.has_value(), klid, std::move(burst),
                                     framing, fd);
}

// Worse outcomes replace better ones: no swipe over a differing one over a valid one.
void worsen(Outcome& run, const Outcome& one) {
  auto rank = [](const Outcome& o) {
    return o.exit == kExitOk ? 0 : o.exit == kExitDiffers ? 1 : 2;
  };
  if (rank(one) > rank(run)) run = one;
}

int cmd_swipe(Io io, const Host& host, const SwipeArgs& a) {
  int exit = kExitOk;
  std::optional<Place> place = place_of(io, host, a, &exit);
  if (!place) return exit;
  Place& p = *place;

  Expected expected;
  if (!a.profile.empty()) {
    expected.bytes = load_or_report(io, a.profile, &expected.interface_left_out);
    if (!expected.bytes) return kExitBadInput;
    expected.name = a.profile;
  }

  auto fail = [&](int code, const std::string& message) {
    io.err << "msrprofile: " << message << "\n";
    if (a.json) {
      Outcome o{code,
                code == kExitReaderFailed ? "reader_failed"
                : code == kExitUsage      ? "usage"
                                          : "no_reader",
                message};
      print_json(io, run_json(p, a, expected, o));
    }
    return code;
  };

  // --vcom alone looks for the reader as msrsetup -v does: the port that answers the
  // settings read is the one to listen on.
  std::optional<Bytes> reader_bytes;
  if (a.from_reader || (p.source == Source::vcom && p.com == 0)) {
    const Reading r = reach(host, target_of(p));
    if (r.exit != kExitOk) return fail(r.exit, r.problem);
    if (p.source == Source::vcom) p.com = r.com;
    reader_bytes = r.bytes;
    if (a.from_reader) {
      expected.bytes = r.bytes;
      expected.name = "the reader's settings";
    }
  } else if (p.source == Source::vcom) {
    std::string why;
    if (!aim(host, target_of(p), &why)) return fail(kExitNoReader, why);
  }

  std::optional<Framing> framing;
  if (expected.bytes) framing = framing_of(*expected.bytes);
  // The reader's own settings, where they were read, say best where its swipe ends: a
  // profile may differ from them, and without either only a pause can end it.
  const std::optional<Framing> ending = reader_bytes ? framing_of(*reader_bytes) : framing;
  std::unique_ptr<SwipeSource> source;
  std::string why;
  int open_exit = kExitNoReader;
  if (p.source == Source::vcom) {
    p.name = host.port_name(p.com);
    source = open_port_source(p, a, ending, &why);
  } else {
    source = open_key_source(p, a, expected.bytes, framing, ending, &open_exit, &why);
  }
  if (!source) return fail(open_exit, why);
  const auto countdown = [&](int left) { countdown_line(io, host, p.name, left); };

  Outcome run;
  nlohmann::ordered_json swipes = nlohmann::ordered_json::array();
  CardText text;
  for (int i = 1; i <= a.count; ++i) {
    if (!host.countdown) {
      io.err << "swipe a card on " << p.name << " (" << a.timeout << " s)\n" << std::flush;
    }
    SwipeResult result;
    const int got = source->capture(countdown, &text, &result.layout, &why);
    end_countdown(io, host);
    if (got != kExitOk) {
      wipe(text);
      io.err << "msrprofile: " << why << "\n";
      worsen(run, Outcome{got, got == kExitDiffers ? "invalid" : "no_swipe", why});
      break;
    }
    result.swipe = analyze(text, framing);
    wipe(text);
    if (expected.bytes) {
      result.options = compare_swipe(result.swipe, p.source, *expected.bytes, &result.seen,
                                     expected.interface_left_out);
    }
    const Bytes* profile = expected.bytes ? &*expected.bytes : nullptr;
    Outcome one;
    if (!result.swipe.valid()) {
      one = {kExitDiffers, "invalid", ""};
    } else if (!result.matches()) {
      one = {kExitDiffers, "differs", ""};
    }
    worsen(run, one);
    if (a.json) {
      nlohmann::ordered_json doc = swipe_json(result, profile);
      if (a.show_bin) doc["layout_bytes"] = swipe_layout(result.swipe);
      swipes.push_back(std::move(doc));
    } else {
      if (a.show_bin) io.out << swipe_layout(result.swipe) << "\n";
      io.out << swipe_text(result, i, a.count, profile, expected.name) << std::flush;
    }
  }
  if (a.json) {
    nlohmann::ordered_json doc = run_json(p, a, expected, run);
    doc["swipes"] = std::move(swipes);
    print_json(io, doc);
  }
  return run.exit;
}

}  // namespace

SwipeCheck check_swipe(Io io, const Host& host, const Target& t, int com, const Bytes& profile,
                       int timeout_s) {
  SwipeCheck c;
  Place p;
  p.source = t.transport == Transport::vcom ? Source::vcom : Source::keyboard;
  p.com = com;
  p.path = t.path;
  SwipeArgs a;
  a.timeout = timeout_s;
  const std::optional<Framing> framing = framing_of(profile);
  const std::optional<Bytes> expected = profile;
  std::unique_ptr<SwipeSource> source;
  std::string why;
  int exit = kExitNoReader;
  if (p.source == Source::vcom) {
    p.name = host.port_name(com);
    source = open_port_source(p, a, framing, &why);
  } else {
    p.name = "the keyboard";
    source = open_key_source(p, a, expected, framing, framing, &exit, &why);
  }
  auto none = [&](int code) {
    c.exit = code;
    c.outcome = code == kExitDiffers ? "invalid" : code == kExitUsage ? "usage" : "no_swipe";
    c.detail = why;
    return c;
  };
  if (!source) return none(exit);
  io.err << "swipe a test card on " << p.name << " (" << timeout_s << " s)\n" << std::flush;
  SwipeResult result;
  CardText text;
  exit = source->capture([](int) {}, &text, &result.layout, &why);
  if (exit != kExitOk) {
    wipe(text);
    return none(exit);
  }
  result.swipe = analyze(text, framing);
  wipe(text);
  result.options = compare_swipe(result.swipe, p.source, profile, &result.seen);
  c.json = swipe_json(result, &profile);
  if (!result.swipe.valid()) {
    c.exit = kExitDiffers;
    c.outcome = "invalid";
    c.detail = "the test swipe is not valid track data";
  } else if (!result.matches()) {
    c.exit = kExitDiffers;
    c.outcome = "differs";
    std::string names;
    for (const OptionCheck& o : result.options) {
      if (o.verdict == Verdict::failed) names += (names.empty() ? "" : ", ") + o.option->name;
    }
    c.detail = "the test swipe differs from the profile in " + names;
  } else {
    c.outcome = "valid";
  }
  return c;
}

void add_swipe(CLI::App& app, Commands& commands) {
  auto args = std::make_shared<SwipeArgs>();
  SwipeArgs& a = *args;
  CLI::App* cmd = app.add_subcommand(
      "swipe",
      "Wait for a card to be swiped and check what the reader sends (tracks, framing, "
      "the profile's options); card data is masked");
  cmd->add_flag("--vcom", a.vcom,
                "the reader on a virtual COM port: the first that answers, or COM N with --vcom=N "
                "(Windows)")
      ->option_text("[=N]");
  cmd->add_option("--port", a.port,
                  "the reader on this serial port: COMn on Windows, a device path on Linux");
  cmd->add_option("--profile", a.profile, "compare the swipe with this profile or settings file");
  cmd->add_flag("--from-reader", a.from_reader,
                "read the reader's settings first and compare the swipe with them")
      ->excludes("--profile");
  cmd->add_flag("--json", a.json, "print one JSON document");
  cmd->add_option("--timeout", a.timeout, "seconds to wait for each swipe (default 30)")
      ->check(CLI::Range(1, 3600));
  cmd->add_option("--count", a.count, "swipes to wait for (default 1)")->check(CLI::Range(1, 100));
  cmd->add_flag("--show-bin", a.show_bin,
                "show the swipe's layout: its framing codes as bytes, the card's data as counts");
  cmd->add_flag("--keyboard", a.keyboard,
                "a keyboard reader typing into this console (Windows) or terminal (Linux)");
  cmd->add_option("--evdev", a.evdev,
                  "Linux: a keyboard reader that is this input device (/dev/input/eventN), taken "
                  "for this program alone while it waits");
  commands.push_back(
      {cmd, [args](const Invocation& inv) { return cmd_swipe(inv.io, inv.host, *args); }});
}

}  // namespace msr::profile
