// The law of profiles: for every fifteen-byte settings file, building the profile that
// show prints gives the same fifteen bytes; its JSON document can always be written.
#include <cstring>

#include "msrprofile/profile/codec.h"
#include "msrprofile/profile/json.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  if (size != msr::kBlockSize) return -1;  // keeps other lengths out of the corpus
  msr::profile::Bytes bytes;
  std::memcpy(bytes.data(), data, size);
  const msr::profile::Built built = msr::profile::build(msr::profile::show(bytes));
  if (!built.bytes || *built.bytes != bytes) __builtin_trap();
  if (msr::profile::block_json("f", bytes).dump().empty()) __builtin_trap();
  return 0;
}
