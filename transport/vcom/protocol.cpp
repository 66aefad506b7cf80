#include "transport/vcom/protocol.h"

#include <cstdint>
#include <cstring>

#include "common/flags.h"
#include "common/log.h"

namespace msr {
namespace {

constexpr unsigned char kSettingsRead[] = {0x1D, 0x4D, 0x52, 0xB3};
constexpr unsigned char kSettingsWrite[] = {0x1D, 0x4D, 0x52, 0xB2};
constexpr std::size_t kWriteCommandBytes = 12;  // prefix, B2, 8 data bytes
constexpr std::size_t kResetBytes = 5;
constexpr std::size_t kMinSettingsReply = 9;
constexpr std::size_t kMinQueryReply = 5;
constexpr unsigned char kQueryJis2 = 0x12, kQueryCif = 0x13;
constexpr unsigned char kReplyTag = 0x04, kLetterJis2 = 0x4A, kLetterCif = 0x46;

// Length of bytes as a %s text: up to the first zero byte, never past size.
int text_len(const unsigned char* bytes, std::size_t size) {
  const void* zero = std::memchr(bytes, 0, size);
  std::size_t n =
      zero ? static_cast<std::size_t>(static_cast<const unsigned char*>(zero) - bytes) : size;
  return static_cast<int>(n);
}

const char* text(const unsigned char* bytes) {
  return reinterpret_cast<const char*>(bytes);
}

// Both rows of a dump, hexadecimal then characters, each closed by "\n" when it has items.
void dump_rows(const unsigned char* bytes, std::size_t count) {
  log_bytes(bytes, count, " %x");
  if (count > 0) log_write("\n");
  log_bytes(bytes, count, " %c");
  if (count > 0) log_write("\n");
}

// One read of up to 16 bytes into a zeroed buffer, logged with its dump. Returns the
// count read; a driver that claims more than was asked for is held to the request, so
// nothing past the 16 bytes is ever looked at.
std::size_t read_reply(Handle hCom, unsigned char* buffer, bool* ok) {
  std::memset(buffer, 0, kReplyBytes);
  std::uint32_t nbr = 0;
  *ok = os().ReadFile(hCom, buffer, kReplyBytes, &nbr);
  std::size_t got = nbr < kReplyBytes ? nbr : kReplyBytes;
  log_write(" rf( 16,%.*s )=%d, nbw=%lu, lerr=%lu \n", text_len(buffer, kReplyBytes), text(buffer),
            *ok ? 1 : 0, log_ul(nbr), log_ul(os().GetLastError()));
  dump_rows(buffer, got);
  return got;
}

int query(const char* name, unsigned char argument, unsigned char letter, std::int32_t* flag,
          Handle hCom, unsigned char* buffer) {
  log_write(" in %s, hcom=%p, tm=%ld \n", name, hCom, log_time());
  if (hCom == invalid_handle() || g_shell.usb) return 4;

  const unsigned char command[] = {0x1D, 0x4D, 0x52, 0xD0, argument};
  std::uint32_t nbw = 0;
  bool wrote = os().WriteFile(hCom, command, sizeof command, &nbw);
  log_write(" wf( 5,%.*s,%d )=%d, nbw=%lu, lerr=%lu \n", text_len(command, sizeof command),
            text(command), static_cast<int>(static_cast<signed char>(argument)), wrote ? 1 : 0,
            log_ul(nbw), log_ul(os().GetLastError()));
  if (!wrote || nbw != sizeof command) return 1;

  // No pause: the read time-outs alone give the reader time to answer.
  bool read = false;
  std::size_t got = read_reply(hCom, buffer, &read);
  if (!read || got < kMinQueryReply) return 2;
  if (buffer[0] == kReplyTag && buffer[1] == letter) *flag = 1;
  return 0;
}

int settings_read(Handle hCom, unsigned char* buffer, std::size_t* got) {
  // A byte already waiting (a swipe's first character, line noise) would come first and
  // shift every field of the reply by one.
  os().PurgeComm(hCom, w32::kPurgeRxClear);
  std::uint32_t nbw = 0;
  bool wrote = os().WriteFile(hCom, kSettingsRead, sizeof kSettingsRead, &nbw);
  log_write(" wf( 4,%.*s )=%d, nbw=%lu, lerr=%lu \n", text_len(kSettingsRead, sizeof kSettingsRead),
            text(kSettingsRead), wrote ? 1 : 0, log_ul(nbw), log_ul(os().GetLastError()));
  if (!wrote || nbw != sizeof kSettingsRead) return 1;
  // The reader needs a moment to gather its settings before it answers.
  os().Sleep(100);
  bool read = false;
  *got = read_reply(hCom, buffer, &read);
  // Any 9 to 16 bytes are taken: their content is the caller's business.
  if (!read || *got < kMinSettingsReply) return 2;
  return 0;
}

int settings_write(Handle hCom, const unsigned char* buffer) {
  unsigned char command[kWriteCommandBytes];
  std::memcpy(command, kSettingsWrite, sizeof kSettingsWrite);
  std::memcpy(command + sizeof kSettingsWrite, buffer, kWriteCommandBytes - sizeof kSettingsWrite);
  dump_rows(command, sizeof command);
  std::uint32_t nbw = 0;
  bool wrote = os().WriteFile(hCom, command, sizeof command, &nbw);
  log_write(" wf( 12,%.*s )=%d, nbw=%lu, lerr=%lu \n", text_len(command, sizeof command),
            text(command), wrote ? 1 : 0, log_ul(nbw), log_ul(os().GetLastError()));
  // The reader sends no acknowledgement, so there is nothing to read back.
  if (!wrote || nbw < sizeof command) return 3;
  return 0;
}

int reset(Handle hCom, const unsigned char* buffer) {
  // Only a reader that can switch its interface knows the command.
  if (!g_shell.cif) return 0;
  dump_rows(buffer, 12);
  std::uint32_t nbw = 0;
  bool wrote = os().WriteFile(hCom, buffer, kResetBytes, &nbw);
  log_write(" reset( 5 )=%d, nbw=%lu, lerr=%lu \n", wrote ? 1 : 0, log_ul(nbw),
            log_ul(os().GetLastError()));
  if (!wrote || nbw < kResetBytes) return 4;
  return 0;
}

}  // namespace

int wrcom(int mode, Handle hCom, unsigned char* buffer, std::size_t* got) {
  std::size_t ignored = 0;
  if (got == nullptr) got = &ignored;
  *got = 0;
  log_write(" in wrcom, mode=%d, hcom=%p, tm=%ld \n", mode, hCom, log_time());
  // While the USB transport owns the reader, the port is not ours to talk to.
  if (hCom == invalid_handle() || g_shell.usb) return 4;
  switch (mode) {
    case 0:
      return settings_read(hCom, buffer, got);
    case 1:
      return settings_write(hCom, buffer);
    case 2:
      return reset(hCom, buffer);
    default:
      return 0;
  }
}

int getjis2(Handle hCom, unsigned char* buffer) {
  return query("getjis2", kQueryJis2, kLetterJis2, &g_shell.jis, hCom, buffer);
}

int getcif(Handle hCom, unsigned char* buffer) {
  return query("getcif", kQueryCif, kLetterCif, &g_shell.cif, hCom, buffer);
}

}  // namespace msr
