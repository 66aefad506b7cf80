// msrprofile station: a bench that programs one reader after another with one profile,
// each as write programs it, and says for each what became of it and what to do with it.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <memory>
#include <optional>
#include <ostream>
#include <sstream>
#include <vector>

#include "msrprofile/commands/command.h"
#include "msrprofile/commands/read_write_verify.h"
#include "msrprofile/commands/reader_options.h"
#include "msrprofile/commands/swipe.h"
#include "msrprofile/exit_codes.h"
#include "msrprofile/profile/json.h"
#include "msrprofile/reader/results.h"
#include "platform/files.h"
#include "platform/os.h"

namespace msr::profile {
namespace {

struct StationArgs {
  std::string profile;
  Target target;
  int count = 0;        // readers to take; 0: until stopped
  std::string results;  // empty: no results file
  bool swipe = false, json = false;
  int swipe_timeout = 30;  // seconds for each test swipe
};

// A reader plugged in is found within a second: one look every half second, and a look
// takes at most the transport's read time-out.
constexpr std::uint32_t kPollMs = 500;
// How soon a stop request ends a wait between two looks.
constexpr std::uint32_t kStepMs = 50;

constexpr char kUnplug[] = "unplug it";
constexpr char kSetAside[] = "unplug it and set it aside: it did not take the profile";
constexpr char kSwipeMissing[] = "unplug it and set it aside: its test swipe was not checked";

// What became of one reader.
struct ReaderEnd {
  int number = 0;
  std::time_t when = 0;
  double seconds = 0;   // from the look that found it to its end
  std::string port;     // "USB HID", "COM5", "/dev/ttyACM0"
  int firmware = -1;    // -1: never read
  std::string outcome;  // written, no_change, differs, failed
  std::string action;   // what the person at the bench does with it
  std::string problem;  // why it is not written or no_change
  std::vector<std::string> differing;
  std::string history;  // where what it held before is kept; empty: nothing was written
  std::optional<SwipeCheck> swipe;
  int exit = kExitOk;        // as write's for this reader
  std::string results_word;  // for the results line
};

struct Tally {
  int readers = 0, written = 0, no_change = 0, differs = 0, failed = 0;
  std::vector<int> failed_numbers;  // differs and failed, in order
};

// One object a line, for a script that reads the station line by line.
void print_json_line(Io io, const nlohmann::ordered_json& doc) {
  io.out << doc.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << "\n";
}

bool has_console() {
  const Handle in = os().GetStdHandle(w32::kStdInputHandle);
  std::uint32_t mode = 0;
  return in != invalid_handle() && in != nullptr && os().GetConsoleMode(in, &mode);
}

bool stop_asked(const Host& host) {
  return host.stop_requested();
}

// Waits until `ms` after `start`; false as soon as a stop request comes.
bool pause_until(const Host& host, std::uint32_t start, std::uint32_t ms) {
  for (;;) {
    if (stop_asked(host)) return false;
    const std::uint32_t spent = os().GetTickCount() - start;
    if (spent >= ms) return true;
    os().Sleep(std::min(kStepMs, ms - spent));
  }
}

// Looks for a reader until one answers, rightly or wrongly; nothing when a stop request
// came first. Why none is there is said when it changes within the session (a port
// without permission waits for no reader).
std::optional<Reading> wait_for_reader(Io io, const Host& host, const Target& t,
                                       std::uint32_t* found_at, std::string* said) {
  for (;;) {
    if (stop_asked(host)) return std::nullopt;
    const std::uint32_t start = os().GetTickCount();
    Reading r = reach(host, t);
    if (r.exit != kExitNoReader) {
      *found_at = start;
      return r;
    }
    if (r.problem != *said) {
      io.err << "waiting: " << r.problem << "\n" << std::flush;
      *said = r.problem;
    }
    if (!pause_until(host, start, kPollMs)) return std::nullopt;
  }
}

// Where the reader that answered is, for looking at that place alone until it goes.
Target place_of(const Host& host, const Target& t, const Reading& r) {
  Target at = t;
  if (t.transport != Transport::vcom || r.com == 0) return at;
  if (host.windows) {
    at.com = r.com;
  } else {
    at.path = host.port_name(r.com);
    at.com = 0;
  }
  return at;
}

// Waits until the reader no longer answers at all; false when a stop request came first.
bool wait_for_leaving(const Host& host, const Target& at) {
  for (;;) {
    const std::uint32_t start = os().GetTickCount();
    if (reach(host, at).exit == kExitNoReader) return true;
    if (!pause_until(host, start, kPollMs)) return false;
  }
}

std::string port_text(const Host& host, const Target& t, const Reading& r) {
  if (t.transport == Transport::usb) return "USB HID";
  if (r.com != 0) return host.port_name(r.com);
  return !t.path.empty() ? t.path : t.com != 0 ? host.port_name(t.com) : "-";
}

std::string join(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& n : names) text += (text.empty() ? "" : ", ") + n;
  return text;
}

// Programs the reader that was found, as write does, then checks a test swipe.
ReaderEnd take_reader(Io io, const Host& host, const StationArgs& a, const Bytes& profile,
                      bool interface_left_out, const Reading& found) {
  ReaderEnd end;
  end.port = port_text(host, a.target, found);
  Programmed p;
  if (found.exit == kExitOk) {
    end.firmware = found.bytes[kFirmwareByte];
    // Write's own report is for one reader; the station says it in one line instead.
    std::ostringstream quiet;
    const WriteArgs write{a.profile, a.target, "station"};
    Bytes bytes = profile;
    p = program_reader(Io{quiet, quiet}, host, write, &bytes, {&found, true, interface_left_out});
  } else {
    p.exit = found.exit;
    p.problem = found.problem + "; nothing was written";
  }
  end.exit = p.exit;
  end.problem = p.problem;
  end.differing = p.differing;
  end.history = p.history;
  if (p.exit == kExitOk) {
    end.outcome = p.no_change ? "no_change" : "written";
    end.results_word = p.no_change ? "no-change" : "written";
    end.action = kUnplug;
  } else if (p.exit == kExitDiffers) {
    end.outcome = end.results_word = "differs";
    end.problem = "read back, it differs in " + join(p.differing);
    end.action = kSetAside;
  } else {
    end.outcome = "failed";
    end.results_word = outcome_word("station", p.exit);
    end.action = kSetAside;
  }
  // A reader told to switch its interface has left the port it would swipe on.
  if (!a.swipe || p.exit != kExitOk || p.switched) return end;
  end.swipe =
      check_swipe(io, host, place_of(host, a.target, found), found.com, profile, a.swipe_timeout);
  if (end.swipe->exit == kExitOk) return end;
  end.problem = end.swipe->detail;
  end.exit = end.swipe->exit;
  if (end.swipe->exit == kExitDiffers) {
    end.outcome = end.results_word = "differs";
    end.action = kSetAside;
  } else {
    end.outcome = "failed";
    end.results_word = "no-swipe";
    end.action = kSwipeMissing;
  }
  return end;
}

std::string clock_text(std::time_t when, bool utc) {
  char text[32] = "-";
  const std::tm* tm = utc ? std::gmtime(&when) : std::localtime(&when);
  if (tm != nullptr) std::strftime(text, sizeof text, utc ? "%Y-%m-%dT%H:%M:%SZ" : "%H:%M:%S", tm);
  return text;
}

std::string firmware_text(int firmware) {
  if (firmware < 0) return "firmware unknown";
  char text[24];
  std::snprintf(text, sizeof text, "firmware 0x%02X", static_cast<unsigned>(firmware));
  return text;
}

std::string reader_line(const ReaderEnd& e) {
  std::string line = "reader " + std::to_string(e.number) + "  " + clock_text(e.when, false) +
                     "  " + e.port + "  " + firmware_text(e.firmware) + "  " + e.outcome;
  if (!e.problem.empty()) {
    line += " (" + e.problem;
    // What the reader held is the way back for one set aside: msrprofile restore ENTRY.
    if (!e.history.empty()) {
      line += (e.problem.back() == '.' ? " What" : "; what") +
              std::string(" it held before is kept in ") + e.history;
    }
    line += ")";
  }
  if (e.swipe && e.swipe->exit == kExitOk) line += ", test swipe valid";
  return line + ": " + e.action;
}

nlohmann::ordered_json reader_json(const ReaderEnd& e, const Target& t) {
  nlohmann::ordered_json swipe = nullptr;
  if (e.swipe) {
    swipe = {{"outcome", e.swipe->outcome},
             {"message", e.swipe->detail.empty() ? nlohmann::ordered_json(nullptr)
                                                 : nlohmann::ordered_json(e.swipe->detail)},
             {"swipe", e.swipe->json}};
  }
  return {{"event", "reader"},
          {"number", e.number},
          {"time", clock_text(e.when, true)},
          {"seconds", static_cast<double>(static_cast<long>(e.seconds * 1000)) / 1000},
          {"transport", t.transport == Transport::usb ? "usb" : "vcom"},
          {"port", t.transport == Transport::usb ? nlohmann::ordered_json(nullptr)
                                                 : nlohmann::ordered_json(e.port)},
          {"firmware",
           e.firmware < 0 ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(e.firmware)},
          {"outcome", e.outcome},
          {"action", e.action},
          {"message",
           e.problem.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(e.problem)},
          {"differences", e.differing},
          {"history",
           e.history.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(e.history)},
          {"swipe", swipe},
          {"exit", e.exit}};
}

void count(Tally& tally, const ReaderEnd& e) {
  ++tally.readers;
  if (e.outcome == "written") {
    ++tally.written;
  } else if (e.outcome == "no_change") {
    ++tally.no_change;
  } else {
    ++(e.outcome == "differs" ? tally.differs : tally.failed);
    tally.failed_numbers.push_back(e.number);
  }
}

int session_exit(const Tally& tally) {
  if (tally.readers == 0) return kExitNoReader;
  return tally.failed_numbers.empty() ? kExitOk : kExitDiffers;
}

void print_summary(Io io, const Tally& tally, bool stopped, bool json) {
  if (json) {
    print_json_line(io, {{"event", "summary"},
                         {"readers", tally.readers},
                         {"written", tally.written},
                         {"no_change", tally.no_change},
                         {"differs", tally.differs},
                         {"failed", tally.failed},
                         {"failed_readers", tally.failed_numbers},
                         {"stopped", stopped},
                         {"exit", session_exit(tally)}});
    return;
  }
  if (tally.readers == 0) {
    io.out << "station: no reader came\n";
    return;
  }
  std::string numbers;
  for (int n : tally.failed_numbers) numbers += (numbers.empty() ? "" : ", ") + std::to_string(n);
  const int not_taken = tally.differs + tally.failed;
  io.out << "station: " << tally.readers << (tally.readers == 1 ? " reader: " : " readers: ")
         << tally.written << " written, " << tally.no_change << " no change, " << not_taken
         << " failed" << (numbers.empty() ? "" : " (" + numbers + ")") << "\n";
}

int cmd_station(Io io, const Host& host, const StationArgs& a) {
  bool interface_left_out = false;
  std::optional<Bytes> profile = load_or_report(io, a.profile, &interface_left_out);
  if (!profile) return kExitBadInput;  // before any reader is looked for
  warn_delay(io, a.profile, *profile);
  std::string why;
  if (!a.results.empty() && !results_writable(a.results, &why)) {
    io.err << "msrprofile: the results file " << a.results << " can't be written: " << why << "\n";
    return kExitNotWritten;
  }
  // Every reader's configuration is kept before it is written: a folder that can't hold
  // them would fail each reader in turn.
  if (host.history_folder(&why).empty()) {
    io.err << "msrprofile: what each reader holds can't be kept before it is written: " << why
           << "\n";
    return kExitNotWritten;
  }
  if (a.target.transport == Transport::usb && !host.windows) {
    io.err << "msrprofile: USB HID readers are reached through the reader's Windows library "
              "(doziv.dll), which Linux doesn't have: use the reader's virtual COM port "
              "(--vcom, --port)\n";
    return kExitNoReader;
  }
  if (a.swipe && a.target.transport == Transport::usb && !has_console()) {
    return usage(io,
                 "station --swipe --usb: a USB reader's test swipe comes as keystrokes into this "
                 "console; run the station in a console window, its input not from a pipe or a "
                 "file");
  }
  const std::string sha256 = a.results.empty() ? std::string() : file_sha256(a.profile);
  const std::string where = a.target.transport == Transport::usb ? "USB HID"
                            : !a.target.path.empty()             ? a.target.path
                            : a.target.com != 0                  ? host.port_name(a.target.com)
                                                                 : "the serial ports";

  host.catch_stop();
  io.err << "station: programming readers with " << a.profile << " on " << where
         << (a.count > 0 ? ", " + std::to_string(a.count) + " in all" : std::string())
         << "; Ctrl+C ends after the reader in hand\n"
         << std::flush;
  Tally tally;
  bool stopped = false, results_lost = false;
  std::string waiting_for;  // why no reader is there, as last said
  while (a.count == 0 || tally.readers < a.count) {
    io.err << "plug in reader " << tally.readers + 1 << "\n" << std::flush;
    std::uint32_t found_at = 0;
    const std::optional<Reading> found =
        wait_for_reader(io, host, a.target, &found_at, &waiting_for);
    if (!found) {
      stopped = true;
      break;
    }
    ReaderEnd end = take_reader(io, host, a, *profile, interface_left_out, *found);
    end.number = tally.readers + 1;
    end.when = std::time(nullptr);
    end.seconds = (os().GetTickCount() - found_at) / 1000.0;
    count(tally, end);
    if (a.json) {
      print_json_line(io, reader_json(end, a.target));
    } else {
      io.out << reader_line(end) << "\n";
    }
    io.out << std::flush;  // a script that follows the station sees each reader as it ends
    if (!a.results.empty()) {
      const RunRecord run{"station", a.target.transport == Transport::usb ? "usb" : "vcom",
                          end.port,  end.exit,
                          a.profile, sha256};
      const std::string line = results_line(run, end.when, computer_name(), end.results_word);
      if (!append_line(a.results, line, &why)) {
        io.err << "msrprofile: the results file " << a.results << " can't be written: " << why
               << " (reader " << end.number << " is " << end.outcome << ")\n";
        results_lost = true;
      }
    }
    if (stop_asked(host)) {
      stopped = true;
      break;
    }
    if (a.count != 0 && tally.readers == a.count) break;
    if (!wait_for_leaving(host, place_of(host, a.target, *found))) {
      stopped = true;
      break;
    }
  }
  print_summary(io, tally, stopped, a.json);
  const int exit = session_exit(tally);
  return exit == kExitOk && results_lost ? kExitNotWritten : exit;
}

}  // namespace

void add_station(CLI::App& app, Commands& commands) {
  auto station = std::make_shared<OnReader<StationArgs>>();
  StationArgs& a = station->args;
  CLI::App* cmd = app.add_subcommand(
      "station",
      "Program one reader after another with PROFILE, each as write does, until --count or "
      "Ctrl+C");
  cmd->add_option("PROFILE", a.profile, "profile (or settings file)")->required();
  station->transport.add_to(cmd);
  cmd->add_option("--count", a.count, "end after N readers (default: Ctrl+C)")
      ->option_text("N")
      ->check(CLI::Range(1, 1000000));
  cmd->add_option("--results", a.results,
                  "append one line per reader to FILE, as write --results does")
      ->option_text("FILE");
  cmd->add_flag("--swipe", a.swipe, "after a good write, check a test swipe against PROFILE");
  cmd->add_flag("--json", a.json,
                "one JSON object a line per reader as it ends, and the summary last");
  // Its results file takes a line per reader, not one for the run.
  commands.push_back(on_reader(cmd, station, cmd_station));
}

}  // namespace msr::profile
