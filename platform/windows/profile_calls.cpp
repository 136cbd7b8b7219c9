// Profile reads and writes on Windows: the platform's own profile functions, called exactly in the
// installer's pattern, one value per call.
#include <windows.h>

#include "platform/platform.h"
#include "platform/windows/profile_writes.h"

namespace platform {

namespace {

bool writeFailed = false;

}  // namespace

bool TakeWriteFailure() {
  const bool failed = writeFailed;
  writeFailed = false;
  return failed;
}

void RecordWriteFailure() {
  writeFailed = true;
}

void ReadProfileValue(const char* section, const char* key, const char* defaultText, char* buffer,
                      std::size_t size, const char* path) {
  GetPrivateProfileStringA(section, key, defaultText, buffer, static_cast<DWORD>(size), path);
}

void WriteProfileValue(const char* section, const char* key, const char* text, const char* path) {
  if (!WritePrivateProfileStringA(section, key, text, path)) RecordWriteFailure();
}

SectionState ProbeProfileSection(const char* section, const char* path) {
  // Only whether anything comes back matters, so a few bytes of the section suffice.
  char entries[16];
  return GetPrivateProfileSectionA(section, entries, sizeof entries, path) > 0
             ? SectionState::kHasEntries
             : SectionState::kEmptyOrMissing;
}

void ForgetProfileFiles() {}

}  // namespace platform
