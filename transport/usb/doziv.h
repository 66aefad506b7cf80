// The reader's USB support library doziv.dll as this program calls it: the export names
// and the entry-point types. Every entry point uses the platform's standard calling
// convention for exported functions (the callee pops its arguments) and returns a
// 32-bit status, 0 for success. Buffers are 32 bytes and the library may write anywhere
// in them.
#pragma once

#include <cstddef>
#include <cstdint>

#ifdef _WIN32
#define MSR_DOZIV_CALL __stdcall
#else
#define MSR_DOZIV_CALL
#endif

namespace msr::doziv {

inline constexpr char kLibraryName[] = "doziv.dll";
inline constexpr std::size_t kBufferSize = 32;

using SetIDFn = std::int32_t(MSR_DOZIV_CALL*)(std::int32_t, std::int32_t, std::int32_t);
using OpenUSBFn = std::int32_t(MSR_DOZIV_CALL*)();
using GetMrStateFn = std::int32_t(MSR_DOZIV_CALL*)(unsigned char* buffer);
using RetrieveStatisticsFn = std::int32_t(MSR_DOZIV_CALL*)(std::int32_t index,
                                                           unsigned char* buffer,
                                                           std::int32_t length);
using SetMrStateBufFn = std::int32_t(MSR_DOZIV_CALL*)(unsigned char* buffer);
using SetMrStateFn = std::int32_t(MSR_DOZIV_CALL*)();
using GetMrState1Fn = std::int32_t(MSR_DOZIV_CALL*)(unsigned char* buffer);
using SetMrState1Fn = std::int32_t(MSR_DOZIV_CALL*)(unsigned char* buffer);
using CloseUSBFn = std::int32_t(MSR_DOZIV_CALL*)();

// The identifiers SetID is given before every OpenUSB.
inline constexpr std::int32_t kSetId1 = 0x2911;
inline constexpr std::int32_t kSetId2 = 0x1500;
inline constexpr std::int32_t kSetId3 = 0;

// Extended-block command bytes (buffer byte 1) and the acknowledgement of the query.
inline constexpr unsigned char kCmdQueryExtended = 0xB9;
inline constexpr unsigned char kCmdWriteExtended = 0xB8;
inline constexpr unsigned char kCmdReset = 0xFF;
inline constexpr unsigned char kResetArg = 0xAA;
inline constexpr unsigned char kAckExtended = 0xA0;

}  // namespace msr::doziv
