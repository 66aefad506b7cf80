#include "profile/swipe_command.h"

#include <CLI/CLI.hpp>
#include <ostream>

#include "profile/cli.h"
#include "profile/json.h"
#include "profile/swipe.h"
#include "profile/swipe_capture.h"
#include "profile/swipe_report.h"
#include "transport/vcom/vcom.h"

namespace msr::profile {
namespace {

// What a swipe is compared with: a profile's bytes, or the reader's own.
struct Expected {
  std::optional<Bytes> bytes;
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
  if (vcom) {
    const bool all = a.vcom == "true" || a.vcom == "0";
    p.com = all ? 0 : com_number("COM" + a.vcom);
    if (!all && p.com == 0) {
      usage(io, "swipe --vcom=" + a.vcom + ": COM port numbers go from 1 to " +
                    std::to_string(kComSlots - 1));
      return std::nullopt;
    }
    if (!all && !host.windows) {
      usage(io, "swipe --vcom=" + a.vcom +
                    ": COM numbers are Windows names; on Linux name the port by its path, e.g. "
                    "--port /dev/ttyACM0");
      return std::nullopt;
    }
  } else if (host.windows) {
    p.com = com_number(a.port);
    if (p.com == 0) {
      usage(io, "swipe --port " + a.port +
                    ": on Windows a port is COMn or \\\\.\\COMn, n from 1 to " +
                    std::to_string(kComSlots - 1));
      return std::nullopt;
    }
  } else {
    p.path = a.port;
  }
  *exit = kExitOk;
  return p;
}

Target target_of(const Place& p) {
  Target t;
  t.transport = Transport::vcom;
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
      {"port", p.name.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(p.name)},
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

// Worse outcomes replace better ones: no swipe over a differing one over a valid one.
void worsen(Outcome& run, const Outcome& one) {
  auto rank = [](const Outcome& o) {
    return o.exit == kExitOk ? 0 : o.exit == kExitDiffers ? 1 : 2;
  };
  if (rank(one) > rank(run)) run = one;
}

}  // namespace

CLI::App* add_swipe_command(CLI::App& app, SwipeArgs& a) {
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
  return cmd;
}

int cmd_swipe(Io io, const Host& host, const SwipeArgs& a) {
  int exit = kExitOk;
  std::optional<Place> place = place_of(io, host, a, &exit);
  if (!place) return exit;
  Place& p = *place;

  Expected expected;
  if (!a.profile.empty()) {
    expected.bytes = load_or_report(io, a.profile);
    if (!expected.bytes) return kExitBadInput;
    expected.name = a.profile;
  }

  auto fail = [&](int code, const std::string& message) {
    io.err << "msrprofile: " << message << "\n";
    if (a.json) {
      Outcome o{code, code == kExitReaderFailed ? "reader_failed" : "no_reader", message};
      print_json(io, run_json(p, a, expected, o));
    }
    return code;
  };

  // --vcom alone looks for the reader as msrsetup -v does: the port that answers the
  // settings read is the one to listen on.
  std::optional<Bytes> reader_bytes;
  if (p.com == 0 || a.from_reader) {
    const Reading r = reach(host, target_of(p));
    if (r.exit != kExitOk) return fail(r.exit, r.problem);
    p.com = r.com;
    reader_bytes = r.bytes;
    if (a.from_reader) {
      expected.bytes = r.bytes;
      expected.name = "the reader's settings";
    }
  } else {
    std::string why;
    if (!aim(host, target_of(p), &why)) return fail(kExitNoReader, why);
  }
  p.name = host.port_name(p.com);

  std::string why;
  const Handle port = open_swipe_port(p.com, p.name, &why);
  if (port == invalid_handle()) return fail(kExitNoReader, why);
  struct Closer {
    Handle h;
    ~Closer() { os().CloseHandle(h); }
  } closer{port};

  std::optional<Framing> framing;
  if (expected.bytes) framing = framing_of(*expected.bytes);
  // The reader's own settings, where they were read, say best where its swipe ends: a
  // profile may differ from them, and without either only a pause can end it.
  std::optional<Framing> ending = reader_bytes ? framing_of(*reader_bytes) : framing;
  PortBurst burst;
  burst.timeout_s = a.timeout;
  burst.complete = [ending](std::u32string_view text) {
    return ending && swipe_complete(text, *ending);
  };
  burst.countdown = [&](int left) { countdown_line(io, host, p.name, left); };

  Outcome run;
  nlohmann::ordered_json swipes = nlohmann::ordered_json::array();
  std::u32string text;
  for (int i = 1; i <= a.count; ++i) {
    if (!host.countdown) {
      io.err << "swipe a card on " << p.name << " (" << a.timeout << " s)\n" << std::flush;
    }
    const int got = capture_port(port, p.name, burst, &text, &why);
    end_countdown(io, host);
    if (got != kExitOk) {
      wipe(text);
      io.err << "msrprofile: " << why << "\n";
      worsen(run, Outcome{got, got == kExitNoReader ? "no_swipe" : "invalid", why});
      break;
    }
    SwipeResult result;
    result.swipe = analyze(text, framing);
    wipe(text);
    if (expected.bytes) {
      result.options = compare_swipe(result.swipe, p.source, *expected.bytes, &result.seen);
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

}  // namespace msr::profile
