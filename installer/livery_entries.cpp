// Copying a livery's description into four display-variant entries of the configuration file.
#include "installer/livery_entries.h"

#include "engine/ascii_case.h"
#include "platform/platform.h"
#include "profile/entry_numbering.h"
#include "profile/read_setting.h"

namespace installer {

namespace {

// The variant's suffix for `key`, or nothing for a key that is copied unchanged.
const char* SuffixForKey(const char* key, const VariantSuffix& variant) {
  if (engine::EqualIgnoringAsciiCase(key, "title")) return variant.title;
  if (engine::EqualIgnoringAsciiCase(key, "model")) return variant.model;
  if (engine::EqualIgnoringAsciiCase(key, "ui_type")) return variant.uiType;
  return nullptr;
}

void WriteVariantEntry(const InstallerPaths& paths, const VariantSuffix& variant) {
  // Numbered before any of its keys is written: the variant's own title must not count yet.
  const std::string destination =
      profile::EntrySectionName(profile::NextFreeEntryIndex(paths.configuration));
  const std::string source = profile::EntrySectionName(0);
  for (const char* key : EntryKeys) {
    const std::string value = profile::ReadSetting(paths.livery.c_str(), source.c_str(), key, "");
    const char* suffix = SuffixForKey(key, variant);
    const std::string text = suffix != nullptr ? AppendSuffix(value, suffix) : value;
    platform::WriteProfileValue(destination.c_str(), key, text.c_str(),
                                paths.configuration.c_str());
  }
}

}  // namespace

std::string AppendSuffix(const std::string& value, const std::string& suffix) {
  return value + suffix;
}

void InstallLiveryEntries(const InstallerPaths& paths) {
  for (const VariantSuffix& variant : VariantSuffixes) WriteVariantEntry(paths, variant);
}

}  // namespace installer
