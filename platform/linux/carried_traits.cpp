// What the configuration file carries besides its bytes on Linux, and how its new copy comes to
// carry the same: its owner, group, permission and set-ID bits, and its extended attributes, the
// access ACL among them (those that this user can see: a run that is not root sees no trusted.*
// attribute, and the new file then lacks it). A file whose owner this run cannot give the copy is
// refused, and so is one whose group it cannot give where the group's access differs from other
// users'; the refusal names what would be lost and what the user can do.
#include <fcntl.h>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "platform/linux/file_io.h"
#include "platform/system_files.h"

namespace platform {

namespace {

SystemResult CannotKeep(const std::string& target, const std::string& what) {
  return {SystemFault::kCannotKeep, target, what};
}

// The permission bits of owner (shift 6), group (3) or other users (0).
std::uint32_t Bits(std::uint32_t mode, int shift) {
  return (mode >> shift) & 07;
}

// Whether the file carries the extended attribute `name`.
bool Carries(const CarriedTraits& traits, const std::string& name) {
  return std::any_of(traits.named.begin(), traits.named.end(),
                     [&](const auto& attribute) { return attribute.first == name; });
}

// The name of the account of `user`, as /etc/passwd gives it, with its number: "alice (1000)".
// Read as a file, so that the static program asks no name service; an account that only a name
// service knows is named by its number alone.
std::string AccountName(std::uint32_t user) {
  std::ifstream lines("/etc/passwd");
  const std::string number = std::to_string(user);
  for (std::string line; std::getline(lines, line);) {
    std::vector<std::string> fields;
    std::istringstream split(line);
    for (std::string field; std::getline(split, field, ':');) fields.push_back(field);
    if (fields.size() > 2 && fields[2] == number) return fields[0] + " (" + number + ")";
  }
  return number;
}

// Whether this process may use the capability `capability` (CAP_CHOWN, CAP_FOWNER).
bool HasCapability(int capability) {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3]{};
  return syscall(SYS_capget, &header, data) == 0 &&
         (data[capability / 32].effective & (1u << (capability % 32))) != 0;
}

// Whether the copy can be given the file's owner and then replace it: the owner is this user, or
// this run may give files to others. Where it cannot, the new file would be this user's, and the
// file's owner would lose what only the owner's bits gave, while this user could gain it: the run
// refuses before any copy is made, naming the owner and what to do. So it does in a folder with
// the sticky bit, where only the owner of the file or the folder may replace a file, where this
// run is neither and may not override that.
SystemResult OwnerGivable(const SystemLock& lock, const CarriedTraits& traits,
                          const std::string& target) {
  const std::string owner = AccountName(traits.owner);
  struct stat folder {};
  if (traits.owner != geteuid() && fstat(static_cast<int>(lock.handle), &folder) == 0 &&
      (folder.st_mode & S_ISVTX) != 0 && folder.st_uid != geteuid() && !HasCapability(CAP_FOWNER)) {
    return CannotKeep(
        target, "belongs to user " + owner +
                    " in a folder with the sticky bit, where only that user may "
                    "replace it: run the installer as that user" +
                    (geteuid() == 0 ? ", or with the capability CAP_FOWNER" : ", or as root"));
  }
  if (traits.owner == geteuid() || (HasCapability(CAP_CHOWN) && HasCapability(CAP_FOWNER))) {
    return {};
  }
  if (geteuid() == 0) {
    return CannotKeep(target, "belongs to user " + owner +
                                  ", and this run lacks the capabilities to give a new file to "
                                  "another user and set its permissions (CAP_CHOWN, CAP_FOWNER): "
                                  "run the installer with them, or as user " +
                                  owner);
  }
  return CannotKeep(target, "belongs to user " + owner +
                                ", and a new file would be this user's: run the installer as "
                                "that user, or as root");
}

// Whether the copy, of group `given`, serves everyone as the file of group `traits.group` did:
// the same group, or group bits that are those of other users, so that being in either group
// makes no difference.
bool GroupServes(const CarriedTraits& traits, std::uint32_t given) {
  return given == traits.group ||
         (Bits(traits.mode, 3) == Bits(traits.mode, 0) && (traits.mode & S_ISGID) == 0);
}

// The value of the extended attribute `name` of the open file, or the errno of the failure.
int AttributeOf(int fd, const std::string& name, std::string& value) {
  const ssize_t size = fgetxattr(fd, name.c_str(), nullptr, 0);
  if (size < 0) return errno;
  value.resize(static_cast<std::size_t>(size));
  const ssize_t got = fgetxattr(fd, name.c_str(), value.data(), value.size());
  if (got < 0) return errno;
  value.resize(static_cast<std::size_t>(got));
  return 0;
}

// Every extended attribute of the open file, by name; 0 or the errno of the failure. A file
// system without extended attributes has none.
int AttributesOf(int fd, std::vector<std::pair<std::string, std::string>>& named) {
  const ssize_t size = flistxattr(fd, nullptr, 0);
  if (size < 0) return errno == ENOTSUP ? 0 : errno;
  std::string names(static_cast<std::size_t>(size), '\0');
  const ssize_t got = flistxattr(fd, names.data(), names.size());
  if (got < 0) return errno;
  names.resize(static_cast<std::size_t>(got));
  for (std::size_t at = 0; at < names.size(); at = names.find('\0', at) + 1) {
    const std::string name = names.c_str() + at;
    std::string value;
    if (const int error = AttributeOf(fd, name, value); error != 0) return error;
    named.emplace_back(name, std::move(value));
  }
  return 0;
}

}  // namespace

// An extended attribute is at most 64 KiB, well under any bound of the run.
SystemResult ReadCarriedTraits(const SystemLock& lock, const std::string& target,
                               const FileIdentity& identity, std::uint64_t, CarriedTraits& traits) {
  const OpenedFile file =
      OpenRegularFile(static_cast<int>(lock.handle), SplitDirectoryAndName(target).name);
  if (file.fd < 0) return Failed(target, "examine it", file.error != 0 ? file.error : EINVAL);
  traits = {static_cast<std::uint64_t>(file.status.st_nlink),
            file.status.st_uid,
            file.status.st_gid,
            file.status.st_mode & 07777,
            ChangeTimeOf(file.status),
            {}};
  const int error = AttributesOf(file.fd, traits.named);
  const bool same = IdentityIn(file.status) == identity;
  close(file.fd);
  if (error != 0) return Failed(target, "read its extended attributes", error);
  if (!same) return Failed(target, "examine it", ESTALE);
  return OwnerGivable(lock, traits, target);
}

// The owner goes first (root only): a change of owner clears the set-ID bits, which the
// permission bits then give back; the extended attributes come last, as the access ACL sets the
// group's bits to its mask. The bytes were written before all this, as a write clears the
// set-user-ID bit too.
SystemResult GiveCarriedTraits(const SystemLock& lock, const std::string&,
                               const std::string& target, const CarriedTraits& traits) {
  const auto fd = static_cast<int>(lock.copy);
  const uid_t owner = traits.owner == geteuid() ? static_cast<uid_t>(-1) : traits.owner;
  SystemResult result;
  struct stat made {};
  if (fchown(fd, owner, traits.group) != 0 && fstat(fd, &made) == 0 &&
      !GroupServes(traits, made.st_gid)) {
    result = CannotKeep(target, "cannot keep its group (" + std::to_string(traits.group) +
                                    "), of which this user is not a member, and the group's "
                                    "permissions differ from those of other users: run the "
                                    "installer as a member of that group, or as root");
  }
  if (result.ok() && fchmod(fd, traits.mode) != 0) {
    result = Failed(target, "give the new copy the file's permissions", errno);
  }
  // The copy may have come with attributes of its own, such as an ACL from the folder's default.
  std::vector<std::pair<std::string, std::string>> own;
  if (result.ok() && AttributesOf(fd, own) == 0) {
    for (const auto& [name, value] : own) {
      if (result.ok() && !Carries(traits, name) && fremovexattr(fd, name.c_str()) != 0) {
        result = Failed(target, "remove the attribute " + name + " from the new copy", errno);
      }
    }
  }
  for (const auto& [name, value] : traits.named) {
    if (result.ok() && fsetxattr(fd, name.c_str(), value.data(), value.size(), 0) != 0) {
      result = CannotKeep(target, "has the extended attribute " + name +
                                      ", which this user cannot give a new file (" +
                                      std::strerror(errno) + "): run the installer as root");
    }
  }
  return result;
}

SystemResult CopyCarries(const SystemLock& lock, const std::string&, const std::string& target,
                         const CarriedTraits& traits) {
  const auto fd = static_cast<int>(lock.copy);
  struct stat made {};
  std::vector<std::string> lacking;
  if (fstat(fd, &made) != 0) lacking.push_back("its status");
  if (made.st_uid != traits.owner) lacking.push_back("its owner");
  if (!GroupServes(traits, made.st_gid)) lacking.push_back("its group");
  if ((made.st_mode & 07777) != traits.mode) lacking.push_back("its permissions");
  std::vector<std::pair<std::string, std::string>> given;
  if (AttributesOf(fd, given) != 0 || given.size() != traits.named.size()) {
    lacking.push_back("its extended attributes");
  } else {
    for (const auto& attribute : given) {
      if (std::find(traits.named.begin(), traits.named.end(), attribute) == traits.named.end()) {
        lacking.push_back(attribute.first);
      }
    }
  }
  if (lacking.empty()) return {};
  std::string what;
  for (const std::string& trait : lacking) what += (what.empty() ? "" : ", ") + trait;
  return CannotKeep(target, "the new copy did not take what the file carries (" + what +
                                "), so it was not put in place");
}

}  // namespace platform
