// Many threads on one filter and one name cache: path resolutions that miss and ask the file
// system, hits, forgets, read requests through the filter dispatch and fast I/O reads, all on
// the same file objects at once. Built twice: under AddressSanitizer with the other tests and
// under ThreadSanitizer on its own, which must report nothing. A plain program (no test
// framework), so that the ThreadSanitizer build needs nothing built without it.
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "pelorin.h"
#include "sim_world.h"

namespace {

int failures = 0;

void Check(bool condition, const std::string &what) {
  if (condition) return;
  std::fprintf(stderr, "FAILED: %s\n", what.c_str());
  failures++;
}

const int FileCount = 24;
const int ThreadCount = 8;
const int Rounds = 3000;

std::string PathOf(int index) { return "\\dir\\file" + std::to_string(index) + ".vxl"; }

struct World {
  SimVolume *volume;
  PDEVICE_OBJECT filter;
  HANDLE control;
  HANDLE handles[FileCount];
  PFILE_OBJECT files[FileCount];
};

bool Boot(World *world) {
  SimReset();
  NTSTATUS status = STATUS_UNSUCCESSFUL;
  SimLoadDriver(DriverEntry, u"\\Driver\\Pelorin", &status);
  if (status != STATUS_SUCCESS) return false;
  world->volume = SimAddLocalVolume('C', SimNtfs);
  SimAddDirectory(world->volume, "\\dir");
  for (int i = 0; i < FileCount; i++) SimAddFile(world->volume, PathOf(i).c_str(), 100 + i);
  if (SimUserOpen(u"\\??\\PELORIN", &world->control) != STATUS_SUCCESS) return false;
  ULONG mask = 1u << 2;
  ULONG result = 0;
  ULONG_PTR returned = 0;
  SimUserDeviceIoControl(world->control, SimRequestRoad, IOCTL_SET_DRIVES, &mask, 4, &result, 4, &returned);
  if (result != mask) return false;
  world->filter = DriveFilters[2];
  for (int i = 0; i < FileCount; i++) {
    std::string name = "\\??\\C:" + PathOf(i);
    std::u16string wide(name.begin(), name.end());
    if (SimUserOpen(wide.c_str(), &world->handles[i]) != STATUS_SUCCESS) return false;
    world->files[i] = SimFileObjectOf(world->handles[i]);
  }
  return true;
}

// One thread's share of the work; the mix and the order of files differ between threads.
void Work(const World *world, int thread, std::vector<std::string> *errors) {
  std::vector<CHAR> text(PathTextSize);
  for (int round = 0; round < Rounds; round++) {
    int index = (round * 7 + thread * 5) % FileCount;
    PFILE_OBJECT file = world->files[index];
    std::string expected = "C:" + PathOf(index);
    switch ((round + thread) % 4) {
      case 0:
        ResolveFullPath(FALSE, file, ExtensionOf(world->filter), text.data());
        if (expected != text.data()) errors->push_back(expected + " resolved as " + text.data());
        break;
      case 1: {
        ULONG_PTR information = 0;
        if (SimUserRequest(world->handles[index], IRP_MJ_READ, &information) != STATUS_SUCCESS) {
          errors->push_back("read request failed on " + expected);
        }
        break;
      }
      case 2: {
        char data[16];
        LARGE_INTEGER offset = {};
        IO_STATUS_BLOCK ioStatus = {};
        if (!FilterFastIoDispatch.FastIoRead(file, &offset, sizeof(data), TRUE, 0, data, &ioStatus,
                                             world->filter)) {
          errors->push_back("fast read declined on " + expected);
        }
        break;
      }
      default:
        ForgetFileName(file);
        break;
    }
  }
}

size_t CacheEntries() {
  size_t entries = 0;
  for (ULONG bucket = 0; bucket < NameCacheBucketCount; bucket++) {
    for (NameEntry *entry = NameCache[bucket]; entry != NULL; entry = entry->Next) entries++;
  }
  return entries;
}

}  // namespace

int main() {
  World world;
  Check(Boot(&world), "the simulated machine boots with C: hooked and the files open");
  if (failures != 0) return 1;
  ClearNameCache();
  size_t baseBlocks = SimPoolBlocks(DriverPoolTag);

  std::vector<std::vector<std::string>> errors(ThreadCount);
  std::vector<std::thread> threads;
  for (int t = 0; t < ThreadCount; t++) threads.emplace_back(Work, &world, t, &errors[t]);
  for (std::thread &thread : threads) thread.join();

  for (const std::vector<std::string> &list : errors) {
    for (const std::string &error : list) Check(false, error);
  }
  Check(!SimResourceHeld(&NameCacheLock), "the cache lock is free after the threads");
  // Every entry left is one file object's own, with its own path, at most once.
  for (int i = 0; i < FileCount; i++) {
    int found = 0;
    for (NameEntry *entry = NameCache[(reinterpret_cast<ULONG_PTR>(world.files[i]) >> 5) & 0xFF]; entry != NULL;
         entry = entry->Next) {
      if (entry->FileObject != world.files[i]) continue;
      found++;
      Check(std::string(entry->Text) == "C:" + PathOf(i), "cached text of " + PathOf(i) + ": " + entry->Text);
    }
    Check(found <= 1, PathOf(i) + " is cached more than once");
  }
  Check(CacheEntries() + baseBlocks == SimPoolBlocks(DriverPoolTag), "pool blocks beyond the cache entries");

  for (int i = 0; i < FileCount; i++) SimUserClose(world.handles[i]);
  Check(CacheEntries() == 0, "closed file objects left entries in the cache");
  Check(SimPoolBlocks(DriverPoolTag) == baseBlocks, "cache entries leaked");
  Check(SimPoolBlocks(PathTextTag) == 0, "path-text buffers leaked");
  for (const std::string &violation : SimViolations()) Check(false, "kernel contract: " + violation);

  std::printf("%s\n", failures == 0 ? "name cache under threads: passed" : "name cache under threads: FAILED");
  return failures == 0 ? 0 : 1;
}
