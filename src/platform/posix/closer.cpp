// POSIX only: descriptors closed in batches. A walk closes one descriptor
// for every directory; through an io_uring of the thread's own, one system
// call closes a whole batch. Where the kernel offers none (too old, or
// forbidden), each is closed at once, as before.
#include "platform/posix/closer.h"

#include "platform/platform.h"

#include <fcntl.h>
#include <linux/io_uring.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>

namespace plat::posix {

namespace {

constexpr unsigned kBatch = 32;
// Batches are made only under a descriptor limit this large or larger (the
// benchmark's A/B build sets SWEEPDIRS_CLOSE_AT_ONCE: never).
#if defined(SWEEPDIRS_CLOSE_AT_ONCE)
constexpr size_t kBatchingLimit = SIZE_MAX;
#else
constexpr size_t kBatchingLimit = 16384;
#endif

class Closer {
 public:
  ~Closer() {
    Flush();
    if (ring_ >= 0) {
      munmap(sqes_, sqesBytes_);
      munmap(rings_, ringsBytes_);
      close(ring_);
    }
  }

  void Close(int fd) {
    if (!tried_) Open();
    if (ring_ < 0) {
      close(fd);
      return;
    }
    const unsigned tail = *sqTail_;
    const unsigned index = tail & *sqMask_;
    io_uring_sqe& sqe = sqes_[index];
    std::memset(&sqe, 0, sizeof sqe);
    sqe.opcode = IORING_OP_CLOSE;
    sqe.fd = fd;
    // Only a failure is told, and a failed close is not acted on.
    sqe.flags = IOSQE_CQE_SKIP_SUCCESS;
    sqArray_[index] = index;
    std::atomic_ref<unsigned>(*sqTail_).store(tail + 1, std::memory_order_release);
    if (++pending_ == kBatch) Flush();
  }

  void Flush() {
    if (pending_ == 0) return;
    long submitted;
    do {
      submitted = syscall(__NR_io_uring_enter, ring_, pending_, 0, 0, nullptr, 0);
    } while (submitted < 0 && errno == EINTR);
    // What the kernel did not take is closed here, and taken off the ring.
    const unsigned head = std::atomic_ref<unsigned>(*sqHead_).load(std::memory_order_acquire);
    for (unsigned at = head; at != *sqTail_; ++at) close(sqes_[at & *sqMask_].fd);
    std::atomic_ref<unsigned>(*sqTail_).store(head, std::memory_order_release);
    pending_ = 0;
    // Failures only: passed over.
    std::atomic_ref<unsigned>(*cqHead_).store(std::atomic_ref<unsigned>(*cqTail_).load(std::memory_order_acquire),
                                             std::memory_order_release);
  }

 private:
  void Open() {
    tried_ = true;
    // Under a small descriptor limit, descriptors waiting to be closed
    // could crowd out the walk's own: each is closed at once there.
    if (OpenListingLimit() < kBatchingLimit) return;
    io_uring_params params;
    std::memset(&params, 0, sizeof params);
    const long ring = syscall(__NR_io_uring_setup, kBatch, &params);
    if (ring < 0) return;
    // Completions skipped on success (and so no reaping per close) need 5.17.
    if (!(params.features & IORING_FEAT_CQE_SKIP) || !(params.features & IORING_FEAT_SINGLE_MMAP)) {
      close(static_cast<int>(ring));
      return;
    }
    // Both rings in one mapping (IORING_FEAT_SINGLE_MMAP).
    ringsBytes_ = std::max(params.sq_off.array + params.sq_entries * sizeof(unsigned),
                           params.cq_off.cqes + params.cq_entries * sizeof(io_uring_cqe));
    sqesBytes_ = params.sq_entries * sizeof(io_uring_sqe);
    void* rings = mmap(nullptr, ringsBytes_, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_POPULATE,
                       static_cast<int>(ring), IORING_OFF_SQ_RING);
    void* sqes = rings == MAP_FAILED ? MAP_FAILED
                                     : mmap(nullptr, sqesBytes_, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_POPULATE,
                                            static_cast<int>(ring), IORING_OFF_SQES);
    if (sqes == MAP_FAILED) {
      if (rings != MAP_FAILED) munmap(rings, ringsBytes_);
      close(static_cast<int>(ring));
      return;
    }
    auto* base = static_cast<char*>(rings);
    rings_ = rings;
    sqHead_ = reinterpret_cast<unsigned*>(base + params.sq_off.head);
    sqTail_ = reinterpret_cast<unsigned*>(base + params.sq_off.tail);
    sqMask_ = reinterpret_cast<unsigned*>(base + params.sq_off.ring_mask);
    sqArray_ = reinterpret_cast<unsigned*>(base + params.sq_off.array);
    cqHead_ = reinterpret_cast<unsigned*>(base + params.cq_off.head);
    cqTail_ = reinterpret_cast<unsigned*>(base + params.cq_off.tail);
    sqes_ = static_cast<io_uring_sqe*>(sqes);
    ring_ = static_cast<int>(ring);
  }

  bool tried_ = false;
  int ring_ = -1;
  unsigned pending_ = 0;
  void* rings_ = nullptr;
  size_t ringsBytes_ = 0, sqesBytes_ = 0;
  unsigned *sqHead_ = nullptr, *sqTail_ = nullptr, *sqMask_ = nullptr, *sqArray_ = nullptr;
  unsigned *cqHead_ = nullptr, *cqTail_ = nullptr;
  io_uring_sqe* sqes_ = nullptr;
};

Closer& ThreadCloser() {
  thread_local Closer closer;
  return closer;
}

}  // namespace

void CloseSoon(int fd) { ThreadCloser().Close(fd); }

int OpenAt(int dirFd, const char* name, int flags) {
  int fd = openat(dirFd, name, flags);
  if (fd < 0 && errno == EMFILE) {
    ThreadCloser().Flush();
    fd = openat(dirFd, name, flags);
  }
  return fd;
}

}  // namespace plat::posix
