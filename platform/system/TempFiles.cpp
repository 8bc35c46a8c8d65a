// The process-wide list of temporary files. The entries live in a fixed table, so that listing
// and deleting never allocate, and a reader in a signal handler never follows a pointer that the
// program may be freeing at that moment.
#include "TempFiles.h"

#include <atomic>
#include <cstdint>

namespace {

// One entry. A thread that lists a file first claims a free slot, then writes the entry between
// two steps of its sequence number, which is odd while the entry changes. A reader (a signal
// handler, which may have interrupted that very writer or run on another thread) copies an entry
// and uses the copy only when the sequence number was even and the same before and after. The
// fields are atomics so that this reading is well defined wherever the handler runs.
struct TSlot {
  std::atomic<bool> Claimed{false};
  std::atomic<uint32_t> Sequence{0};
  std::atomic<bool> Live{false};
  // Read only while Live. Zero to begin with, like every field, so that the table takes no room
  // in the program file (it is zero-initialised data).
  std::atomic<THandle> Handle{0};
  std::atomic<char> Path[MaxListedTempPath]{};
};

static_assert(std::atomic<uint32_t>::is_always_lock_free &&
                  std::atomic<THandle>::is_always_lock_free &&
                  std::atomic<char>::is_always_lock_free,
              "a signal handler may use only lock-free atomics");

TSlot GSlots[MaxListedTempFiles];

// Writes the entry of slot; path is nullptr when the entry goes.
void WriteSlot(TSlot& slot, const std::string* path, THandle handle) {
  slot.Sequence.fetch_add(1, std::memory_order_acq_rel);
  if (path) {
    for (std::size_t i = 0; i < path->size(); ++i) {
      slot.Path[i].store((*path)[i], std::memory_order_relaxed);
    }
    slot.Path[path->size()].store('\0', std::memory_order_relaxed);
  }
  slot.Handle.store(handle, std::memory_order_relaxed);
  slot.Live.store(path != nullptr, std::memory_order_relaxed);
  slot.Sequence.fetch_add(1, std::memory_order_release);
}

}  // namespace

TTempFileRegistration::TTempFileRegistration(const std::string& path, THandle handle) {
  if (handle == InvalidHandle || path.empty() || path.size() >= MaxListedTempPath) return;
  for (std::size_t i = 0; i < MaxListedTempFiles; ++i) {
    bool free = false;
    if (!GSlots[i].Claimed.compare_exchange_strong(free, true, std::memory_order_acquire)) {
      continue;
    }
    WriteSlot(GSlots[i], &path, handle);
    FSlot = static_cast<int>(i);
    return;
  }
}

TTempFileRegistration::TTempFileRegistration(TTempFileRegistration&& other) noexcept
    : FSlot(other.FSlot) {
  other.FSlot = -1;
}

TTempFileRegistration& TTempFileRegistration::operator=(TTempFileRegistration&& other) noexcept {
  if (this != &other) {
    Reset();
    FSlot = other.FSlot;
    other.FSlot = -1;
  }
  return *this;
}

void TTempFileRegistration::Reset() {
  if (FSlot < 0) return;
  TSlot& slot = GSlots[FSlot];
  WriteSlot(slot, nullptr, InvalidHandle);
  slot.Claimed.store(false, std::memory_order_release);
  FSlot = -1;
}

void DeleteRegisteredTempFiles() noexcept {
  for (TSlot& slot : GSlots) {
    const uint32_t before = slot.Sequence.load(std::memory_order_acquire);
    if ((before & 1) != 0 || !slot.Live.load(std::memory_order_relaxed)) continue;
    char path[MaxListedTempPath];
    std::size_t i = 0;
    for (; i + 1 < MaxListedTempPath; ++i) {
      path[i] = slot.Path[i].load(std::memory_order_relaxed);
      if (path[i] == '\0') break;
    }
    path[i] = '\0';
    const THandle handle = slot.Handle.load(std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_acquire);
    if (slot.Sequence.load(std::memory_order_relaxed) != before) continue;  // changed meanwhile
    DeleteListedTempFile(path, handle);
  }
}
