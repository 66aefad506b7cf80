// The pace of a long fuzz run, for scripts/fuzz. libFuzzer reports executions a second
// only as an average since the start, which hides a target that slows down as its corpus
// grows. Linked around every target's LLVMFuzzerTestOneInput (ld --wrap): with
// MSR_FUZZ_PROGRESS naming a file, it writes a line "seconds executions cpu-seconds
// peak-rss-mb" to it once a second; the processor time tells a slow target from a busy
// machine. Without that variable it only passes the input on.
#include <sys/resource.h>

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>

extern "C" int __real_LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size);

namespace {

using Clock = std::chrono::steady_clock;

struct Progress {
  std::FILE* out = nullptr;
  Clock::time_point start = Clock::now();
  Clock::time_point next = start + std::chrono::seconds(1);
  unsigned long long runs = 0;

  Progress() {
    const char* path = std::getenv("MSR_FUZZ_PROGRESS");
    if (path != nullptr && *path != '\0') out = std::fopen(path, "w");
  }

  void count() {
    ++runs;
    const Clock::time_point now = Clock::now();
    if (now < next) return;
    next = now + std::chrono::seconds(1);
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const double seconds = std::chrono::duration<double>(now - start).count();
    const double cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                       static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    std::fprintf(out, "%.3f %llu %.3f %ld\n", seconds, runs, cpu, usage.ru_maxrss / 1024);
    std::fflush(out);
  }
};

}  // namespace

extern "C" int __wrap_LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  static Progress progress;
  if (progress.out != nullptr) progress.count();
  return __real_LLVMFuzzerTestOneInput(data, size);
}
