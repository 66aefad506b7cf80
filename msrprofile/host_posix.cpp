// Linux: the serial part of the boundary on libserialport; the system's serial ports, USB
// ones first, stand in for the registry's list of COM ports.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "msrprofile/host.h"
#include "platform/files.h"
#include "platform/posix/posix_os.h"
#include "platform/posix/serial_ports.h"

namespace msr::profile {
namespace {

volatile sig_atomic_t g_stop_requested = 0;

void on_stop(int) {
  g_stop_requested = 1;
}

}  // namespace

Host native_host() {
  set_os(&posix_os());
  Host host;
  host.windows = false;
  host.list_ports = [](std::vector<SerialPortInfo>* ports, std::string* why) {
    why->clear();
    *ports = list_serial_ports(why);
    return why->empty();
  };
  host.offer_system_ports = [list = host.list_ports](std::string* why) {
    std::vector<SerialPortInfo> ports;
    if (!list(&ports, why)) return false;
    if (ports.empty()) {
      *why = "the system has no serial port";
      return false;
    }
    posix_set_ports(port_paths(ports));
    return true;
  };
  host.offer_port = [](const std::string& path) { posix_set_ports({path}); };
  host.error_text = [](unsigned long code) { return system_error_text(code); };
  host.port_problem = [](const std::string& path) -> std::string {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
      if (errno == ENOENT || errno == ENOTDIR) {
        return "there is no port " + path + ": msrprofile ports lists this system's serial ports";
      }
      return path + ": " + std::strerror(errno);
    }
    if (!S_ISCHR(st.st_mode)) {
      return path + " is not a serial port (not a device): msrprofile ports lists them";
    }
    if (::access(path.c_str(), R_OK | W_OK) != 0 && errno == EACCES) {
      return "no permission to open " + path +
             ": add this user to the port's group (often dialout) and log in again";
    }
    return "";
  };
  host.port_name = [](int com) { return posix_port_path(com); };
  host.countdown = isatty(STDERR_FILENO) == 1;
  host.catch_stop = [] {
    struct sigaction action {};
    action.sa_handler = on_stop;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;  // a serial read under way is finished, not cut
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
  };
  host.stop_requested = [] { return g_stop_requested != 0; };
  host.history_folder = [](std::string* why) -> std::string {
    const char* named = std::getenv(kHistoryVariable);
    if (named != nullptr && *named != '\0') return named;
    if (::geteuid() == 0) return "/var/lib/msrprofile/history";
    // XDG's base-directory rules ignore a relative XDG_STATE_HOME.
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state != nullptr && state[0] == '/') return std::string(state) + "/msrprofile/history";
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/')
      return std::string(home) + "/.local/state/msrprofile/history";
    *why = std::string("neither XDG_STATE_HOME nor HOME names a folder: set ") + kHistoryVariable +
           " to the folder to keep the history in";
    return "";
  };
  return host;
}

}  // namespace msr::profile
