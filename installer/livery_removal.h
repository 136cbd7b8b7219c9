// Removing one livery's entries from the configuration file: each [fltsim.N], listed (below the
// first free index) or behind a gap, whose title, as the platform reads it, is one that the
// installer writes for this livery (its title followed by " full", " wing", " VC" or " 2D") and
// whose texture reads as the livery's; then every later [fltsim.N] renumbered down by the number
// of indices emptied below it.
// Guarantees: the other listed entries stay listed, in their order; a gap stays a gap, and the
// entries behind it stay unlisted. An entry with one of the titles and another texture, or none,
// stays and is named. A removed section goes with its lines up to the next header, except the
// comment lines after its last other line (engine::RemoveSection); a renumbered section keeps its
// lines and the spelling of its header apart from the number. Where a removed section was the
// first of its name, a later one of that name takes its place and its index is not emptied.
#pragma once

#include <string>

#include "installer/installer_paths.h"
#include "installer/program_run.h"

namespace installer {

struct Removal {
  RunStatus status;     // kChanged; kNothingToDo when no entry is the livery's; kNotUpdated when
                        // an edit could not be made or would hide entries
  std::string message;  // with any other status than kChanged: why, naming the file
  std::string kept;     // with kChanged: the entries kept for their texture, in one line, or empty
};

// Removes the livery at `paths.livery` from the configuration file at `paths.configuration`,
// through the profile calls.
Removal RemoveLiveryEntries(const InstallerPaths& paths);

}  // namespace installer
