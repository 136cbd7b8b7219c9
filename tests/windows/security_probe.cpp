// A test helper for Windows: hands the installer's decisions on a file's security the security
// descriptors that the tests write in SDDL, as Windows itself would give them, and prints what
// each decides, so that the tests can check decisions that Wine cannot show.
//
// security_probe CASES RESULTS
//   CASES holds one case a line, its fields separated by "|":
//     writes|SDDL, reads|SDDL whether this process's token may not read and write (or read) a
//                             file so secured: "denied" or "allowed"
//     gives|FILE|COPY         what of the file's security a copy so created must be given:
//                             "owner", "access list", both, or "nothing"
//     carries|FILE|COPY|ERROR whether a copy with COPY after giving it the file's security ended
//                             with ERROR carries it: "carried", or what the user is told
//   RESULTS receives one line a case.
#include <windows.h>

#include <sddl.h>  // after windows.h, on which it rests

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/windows/security.h"

namespace {

// The descriptor that `sddl` spells; it lives to the end of the program.
PSECURITY_DESCRIPTOR Descriptor(const std::string& sddl) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1, &descriptor,
                                                       nullptr);
  return descriptor;
}

std::string Decide(const std::vector<std::string>& fields) {
  if ((fields[0] == "writes" || fields[0] == "reads") && fields.size() == 2) {
    const DWORD access =
        fields[0] == "reads" ? FILE_GENERIC_READ : FILE_GENERIC_READ | FILE_GENERIC_WRITE;
    return platform::SecurityDenies(Descriptor(fields[1]), access) ? "denied" : "allowed";
  }
  if (fields[0] == "gives" && fields.size() == 3) {
    const SECURITY_INFORMATION what =
        platform::SecurityToGive(Descriptor(fields[1]), Descriptor(fields[2]));
    const std::string owner = (what & OWNER_SECURITY_INFORMATION) != 0 ? "owner" : "";
    const std::string list = (what & DACL_SECURITY_INFORMATION) != 0 ? "access list" : "";
    return what == 0 ? "nothing" : owner + (owner.empty() || list.empty() ? "" : ", ") + list;
  }
  if (fields[0] == "carries" && fields.size() == 4) {
    const std::string lost = platform::SecurityNotCarried(
        Descriptor(fields[1]), Descriptor(fields[2]), std::stoul(fields[3]));
    return lost.empty() ? "carried" : lost;
  }
  return "unknown case";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  std::ifstream cases(argv[1]);
  std::ofstream results(argv[2], std::ios::binary);
  for (std::string line; std::getline(cases, line);) {
    std::vector<std::string> fields;
    std::istringstream split(line);
    for (std::string field; std::getline(split, field, '|');) fields.push_back(field);
    if (!fields.empty()) results << Decide(fields) << "\n";
  }
  return results ? 0 : 2;
}
