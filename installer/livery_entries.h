// Copying one livery's description, section [fltsim.0] of the livery file, into four new entries of
// the configuration file, one per display variant (full, wing, VC, 2D).
// Guarantees: the 19 keys of EntryKeys are written in table order for each variant in the order of
// VariantSuffixes; "title" is written first and never empty, so each variant lands in its own
// section at the first free index; a key missing from the livery is written with an empty value.
#pragma once

#include <array>
#include <string>

#include "installer/installer_paths.h"

namespace installer {

inline constexpr std::array<const char*, 19> EntryKeys = {"title",
                                                          "sim",
                                                          "model",
                                                          "panel",
                                                          "sound",
                                                          "texture",
                                                          "kb_checklists",
                                                          "kb_reference",
                                                          "atc_id",
                                                          "atc_id_color",
                                                          "atc_parking_types",
                                                          "ui_manufacturer",
                                                          "ui_type",
                                                          "ui_variation",
                                                          "description",
                                                          "atc_heavy",
                                                          "atc_airline",
                                                          "atc_flight_number",
                                                          "visual_damage"};

struct VariantSuffix {
  const char* title;
  const char* model;
  const char* uiType;
};

inline constexpr std::array<VariantSuffix, 4> VariantSuffixes = {{
    {" full", "", ""},
    {" wing", "wing", " 2D and wingview"},
    {" VC", "VC", " VC only"},
    {" 2D", "2D", " 2D panel only"},
}};

// The value followed directly by the suffix: no separator, no trimming.
std::string AppendSuffix(const std::string& value, const std::string& suffix);

void InstallLiveryEntries(const InstallerPaths& paths);

}  // namespace installer
