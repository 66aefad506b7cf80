# Sourced by the scripts: the private Wine prefix of a build tree and the settings every
# Wine process of ours runs with.
#   msr_wine_env BUILD_DIR   exports WINEPREFIX and friends for that build tree
#   msr_wine_prefix          makes the prefix once (reused afterwards)
#   msr_xvfb                 starts a private Xvfb, exports DISPLAY, sets xvfb_pid
#   msr_runs_32bit           whether this machine runs 32-bit programs at all

# A kernel without IA-32 emulation runs no 32-bit program, 32-bit Wine included ("Exec
# format error"). The product is 32-bit, so there the system tests run the x86-64 build of
# the same sources under 64-bit Wine (scripts/test says so).
msr_runs_32bit() {
  [ -x /usr/lib/wine/wine ] && /usr/lib/wine/wine --version >/dev/null 2>&1
}

msr_wine_env() {
  local build_dir
  build_dir="$(cd "$1" && pwd)"
  if ! msr_runs_32bit; then
    case ":$PATH:" in
      *":$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/wine64-only:"*) ;;
      *) export PATH="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/wine64-only:$PATH" ;;
    esac
    export WINELOADER=/usr/lib/wine/wine64
  fi
  export WINEPREFIX="$build_dir/wineprefix"
  export WINEARCH=win64
  export WINEDEBUG="${WINEDEBUG:--all}"
  # A crash must end the process with an error at once instead of waiting in the debugger.
  export WINEDLLOVERRIDES="winedbg.exe=d;mscoree=d;mshtml=d"
}

msr_wine_prefix() {
  # A prefix made before 32-bit Wine was installed has no WoW64 half, and 32-bit programs
  # fail in it to load kernel32.dll: make it anew.
  if [ -f "$WINEPREFIX/.msr-ready" ] &&
     { [ -f "$WINEPREFIX/drive_c/windows/syswow64/kernel32.dll" ] || ! msr_runs_32bit; }; then
    return 0
  fi
  rm -rf "$WINEPREFIX"
  wineboot --init >/dev/null 2>&1 || true
  wineserver -w
  # Without a window manager Wine waits about 2 s on every hide and destroy; an unmanaged
  # X11 driver does not.
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
  wineserver -w
  touch "$WINEPREFIX/.msr-ready"
}

msr_xvfb() {
  # The display is chosen as the system tests' rig chooses it (tests/system/rig.py): Xvfb's
  # own choice (-displayfd) trusts lock files in /tmp, and takes the number of a running
  # server whose lock file has gone.
  local started
  started="$(python3 "$(dirname "${BASH_SOURCE[0]}")/../tests/system/rig.py" start-xvfb)" ||
    return 1
  export DISPLAY=":${started% *}"
  xvfb_pid="${started#* }"
}
