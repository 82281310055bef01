// POSIX only: the entry point; wide arguments in, the run status as an 8-bit exit status out.
#include <malloc.h>
#include <pthread.h>
#include <sys/resource.h>

#include <csignal>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "driver/driver.h"
#include "platform/platform.h"
#include "platform/posix/text.h"

namespace {

struct Run {
  int argc;
  wchar_t** argv;
  uint32_t status;
};

void* RunOnBigStack(void* context) {
  auto* run = static_cast<Run*>(context);
  run->status = RunCleanup(run->argc, run->argv);
  return nullptr;
}

// Removal and the walk recurse once per directory level and keep one open
// descriptor per level: give trees many thousands of levels deep the room.
void MakeRoomForDeepTrees() {
  struct rlimit files;
  if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
  }
}

// The walk's threads share one allocator arena per processor, not one each
// (glibc's default): what one arena keeps of the memory freed in it would
// add up with every worker, and the walk's reach ahead is bounded for the
// whole program.
void ShareArenas() { mallopt(M_ARENA_MAX, static_cast<int>(plat::ProcessorCount())); }

uint32_t RunWithDeepStack(int argc, wchar_t** argv) {
  Run run{argc, argv, 0};
  pthread_attr_t attributes;
  pthread_t thread;
  // Only touched pages cost memory; the reservation is what a deep tree needs.
  constexpr size_t kStackBytes = size_t{1} << 30;
  if (pthread_attr_init(&attributes) == 0 && pthread_attr_setstacksize(&attributes, kStackBytes) == 0 &&
      pthread_create(&thread, &attributes, RunOnBigStack, &run) == 0) {
    pthread_join(thread, nullptr);
  } else {
    run.status = RunCleanup(argc, argv);
  }
  pthread_attr_destroy(&attributes);
  return run.status;
}

}  // namespace

int main(int argc, char** argv) {
  // Output failures are not reported; a closed pipe must not end a removal
  // half way.
  std::signal(SIGPIPE, SIG_IGN);

  std::vector<std::wstring> arguments;
  arguments.reserve(static_cast<size_t>(argc));
  for (int i = 0; i < argc; ++i) arguments.push_back(plat::posix::WideFromUtf8(argv[i]));
  std::vector<wchar_t*> pointers;
  pointers.reserve(arguments.size() + 1);
  for (std::wstring& argument : arguments) pointers.push_back(argument.data());
  pointers.push_back(nullptr);

  MakeRoomForDeepTrees();
  ShareArenas();
  plat::CatchStop();
  const uint32_t runStatus = RunWithDeepStack(argc, pointers.data());
  plat::posix::FlushOutput();
  return static_cast<int>(plat::ExitCodeFor(runStatus));
}
