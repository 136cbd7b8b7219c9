// The configuration update's protocol, written once for every system: lock the file that the path
// leads to, check after the wait that it still does, check and read the file, let the run edit it,
// then complete the working copy, give it what the file carries, flush it, put it in place and
// flush the folder.
#include "platform/config_update.h"

#include <chrono>
#include <thread>

#include "engine/profile_syntax.h"
#include "platform/pieces_match.h"
#include "platform/platform.h"
#include "platform/run_files.h"

namespace platform {

std::string TooLargeCause() {
  return "is too large for the installer, which takes files of up to " +
         std::to_string(kLargestFile >> 20) + " MiB";
}

std::string HeldCause() {
  return "is held by another program for longer than the installer waits: close it and run again";
}

std::string ShownPath(std::string path) {
  for (const std::string_view joined : {"\\livery.ini", "\\..\\aircraft.cfg"}) {
    if (!path.ends_with(joined) || path.size() == joined.size()) continue;
    const std::size_t at = path.size() - joined.size();
    if (path[at - 1] == '\\' || path[at - 1] == '/') path.erase(at, 1);
  }
  return path;
}

namespace {

// The update in progress: a run updates one configuration file at a time.
ConfigUpdate*& Current() {
  static ConfigUpdate* current = nullptr;
  return current;
}

UpdateResult Failure(const std::string& subject, const std::string& cause) {
  return UpdateResult{ShownPath(subject) + ": " + cause};
}

// The one message of each fault of the system: the cause, then the detail, after the file's name.
UpdateResult Failure(const SystemResult& result) {
  static constexpr const char* kCauses[] = {
      "",
      "several files match this name in all but case",
      "is a link to a file that does not exist",
      "its path does not fit the platform's paths",
      "its path holds characters that the system's code page cannot represent",
      "holds no ",  // the name
      "",           // TooLargeCause
      "is not a regular file",
      "is read-only",
      "this user may not write it",
      "its file system is mounted read-only",
      "",         // what would be lost, and what to do
      "",         // HeldCause
      "cannot ",  // the step, and why
  };
  static_assert(std::size(kCauses) == static_cast<std::size_t>(SystemFault::kFailed) + 1);
  if (result.ok()) return {};
  UpdateResult failure = Failure(
      result.subject, result.fault == SystemFault::kTooLarge ? TooLargeCause()
                      : result.fault == SystemFault::kHeld
                          ? HeldCause()
                          : kCauses[static_cast<std::size_t>(result.fault)] + result.detail);
  failure.missing = result.fault == SystemFault::kMissing;
  return failure;
}

// Locks the file that `path` leads to and sets the update's target. A link may come to name
// another file, or the folder be moved away, while the run waits, so once the lock is held the
// path is resolved again, and the run starts over when it no longer leads to what was locked.
UpdateResult LockTargetOf(const std::string& path, ConfigUpdate& update) {
  constexpr int kMostAttempts = 100;
  for (int attempt = 0; attempt < kMostAttempts; ++attempt) {
    std::string target;
    if (const SystemResult resolved = ResolveTarget(path, target); !resolved.ok()) {
      return Failure(resolved);
    }
    if (const SystemResult locked = LockTarget(target, update.lock); !locked.ok()) {
      return Failure(locked);
    }
    std::string again;
    if (ResolveTarget(path, again).ok() && again == target && LockHolds(update.lock, target)) {
      update.targetPath = target;
      return {};
    }
    ReleaseLock(update.lock);
  }
  return Failure(path, "keeps naming another file while the installer waits for it");
}

// Reads the locked file into the update, and starts the working copy that the system's profile
// functions edit.
UpdateResult ReadTarget(ConfigUpdate& update) {
  engine::FileBytes bytes;
  SystemResult done =
      ReadReplaceableFile(update.lock, update.targetPath, kLargestFile, bytes, update.identity);
  if (!done.ok()) return Failure(done);
  if (engine::StartsAsUtf16(bytes.text)) {
    return Failure(update.targetPath, "is UTF-16 text, which an 8-bit edit would corrupt");
  }
  done = ReadCarriedTraits(update.lock, update.targetPath, update.identity, kLargestFile,
                           update.carried);
  // A new file under one name would leave the others naming the old one.
  if (done.ok() && update.carried.names > 1) {
    done = {SystemFault::kCannotKeep, update.targetPath,
            "has " + std::to_string(update.carried.names) +
                " names (hard links); a new file would separate them: give each name a file of "
                "its own, or remove the other names"};
  }
  if (done.ok() && update.platformEdits) {
    done = WriteWorkingCopy(update.lock, update.workingPath, update.targetPath, {bytes.text});
  }
  if (!done.ok()) return Failure(done);
  update.document = engine::ParseDocument(std::move(bytes));
  return {};
}

// Why the run stops when the system's profile functions did other than the engine says on a file
// of the run. A livery.ini read as one that does not know its byte order mark leaves nothing the
// run can rely on (`unreadable`); anything else is refused.
UpdateResult MisreadFailure(const ConfigUpdate& update) {
  const bool configuration = update.misread == update.configurationPath;
  UpdateResult result =
      Failure(configuration ? update.targetPath : update.misread, MisreadCause(update.misreadAs));
  result.unreadable = !configuration && update.misreadAs == Misread::kByteOrderMark;
  return result;
}

// Completes the working copy and reads it back into `held`, which is then what the copy holds: a
// write reported as done is not taken on trust. The engine's edit is written whole and must read
// back byte for byte; the copy that the system's profile functions edited is checked, call by call
// and then as the file they left.
UpdateResult CompleteWorkingCopy(ConfigUpdate& update, engine::FileBytes& held) {
  if (!update.misread.empty()) return MisreadFailure(update);
  std::vector<std::string_view> pieces;
  SystemResult done;
  if (update.platformEdits) {
    ForgetProfileCache(update.workingPath);
  } else {
    pieces = engine::SerializedPieces(update.document);
    done = WriteWorkingCopy(update.lock, update.workingPath, update.targetPath, pieces);
  }
  if (done.ok())
    done = ReadBackWorkingCopy(update.lock, update.workingPath, update.targetPath, held);
  if (!done.ok()) return Failure(done);
  PiecesMatch match = StartMatch(pieces);
  MatchChunk(match, held.text);
  const bool alike = update.platformEdits
                         ? !engine::StartsAsUtf16(held.text) &&
                               engine::ReadAlike(engine::ParseDocument(held), update.document)
                         : MatchedAll(match);
  if (alike) return {};
  return Failure(update.targetPath,
                 "cannot confirm the new copy: it does not hold what was written to it");
}

// Gives the completed copy what the file carries besides its bytes, and confirms that it carries
// it: a copy that would change who may do what with the file never goes in place.
UpdateResult CarryOver(ConfigUpdate& update) {
  SystemResult result =
      GiveCarriedTraits(update.lock, update.workingPath, update.targetPath, update.carried);
  if (result.ok()) {
    result = CopyCarries(update.lock, update.workingPath, update.targetPath, update.carried);
  }
  return Failure(result);
}

// What the commit says when another program changed the file while the run worked on it, or, with
// `cause`, kept it from being replaced for now.
UpdateResult ChangedMeanwhile(const ConfigUpdate& update, const SystemResult& cause = {}) {
  UpdateResult result =
      cause.ok() ? Failure(update.targetPath,
                           "another program keeps changing it; try again once it is done")
                 : Failure(cause);
  result.changedMeanwhile = true;
  return result;
}

// Puts the completed working copy in place, while the configuration path still leads to the file
// read and that file is unchanged. A link may have come to name another file meanwhile, or another
// file to stand in the link's place.
UpdateResult PutInPlace(ConfigUpdate& update, const std::vector<std::string_view>& confirmed) {
  std::string target;
  if (!ResolveTarget(update.configurationPath, target).ok() || target != update.targetPath) {
    return ChangedMeanwhile(update);
  }
  const Replacement replaced =
      ReplaceIfUnchanged(update.lock, update.workingPath, update.targetPath,
                         {update.identity, update.document.source.text, update.carried.changed},
                         confirmed, update.copyInPlace);
  UpdateResult result = replaced.changed       ? ChangedMeanwhile(update, replaced.result)
                        : replaced.result.ok() ? UpdateResult{}
                                               : Failure(replaced.result);
  update.copyKept = replaced.copyKept;
  return result;
}

// Whether the last update to end put its copy in place.
bool& LastEndedInPlace() {
  static bool inPlace = false;
  return inPlace;
}

// Discards the working copy, unless it is in place, and releases the lock.
void EndUpdate(ConfigUpdate& update) {
  LastEndedInPlace() = update.copyInPlace;
  if (!update.copyInPlace && !update.copyKept && update.lock.handle != -1) {
    ForgetProfileCache(update.workingPath);
    DiscardWorkingCopy(update.lock, update.workingPath);
  }
  ReleaseLock(update.lock);
  if (Current() == &update) Current() = nullptr;
}

}  // namespace

UpdateResult BeginConfigUpdate(const std::string& configurationPath, EditMode mode,
                               ConfigUpdate& update) {
  Current() = &update;
  update.mode = mode;
  update.configurationPath = configurationPath;
  update.platformEdits = mode == EditMode::kValueWrites && HasProfileFunctions();
  UpdateResult result = LockTargetOf(configurationPath, update);
  // A program that keeps the file open for writing would keep the commit from putting the copy in
  // place; a run of the Windows build queued on this run's lock is one. Such programs get their
  // turns before the copy is written: the lock let go for 50 ms at a time. One that still has it
  // open after ninety turns in which no other file was put in place is refused before any copy
  // is made; a queue of runs that each put their file in place is waited for, up to 1,200 turns
  // (about a minute, and as long again as the runs ahead hold the lock). Both counts are per
  // process, and so per run.
  static int turnsLeft = 1200;
  static int turnsOnOneFile = 0;
  static FileIdentity seen;
  while (result.ok() && OpenForWritingElsewhere(update.lock)) {
    // A file the system cannot tell of counts as the one before.
    const FileIdentity held = HeldFileIdentity(update.lock);
    turnsOnOneFile = held == seen || held == FileIdentity{} ? turnsOnOneFile + 1 : 0;
    if (held != FileIdentity{}) seen = held;
    if (turnsOnOneFile >= 90 || turnsLeft-- <= 0) {
      result = Failure(update.targetPath, std::string("cannot ") + kWriterOpen);
      break;
    }
    ReleaseLock(update.lock);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    result = LockTargetOf(configurationPath, update);
  }
  if (result.ok()) {
    update.workingPath = WorkingCopyPath(update.targetPath);
    result = ReadTarget(update);
  }
  if (!result.ok()) EndUpdate(update);
  return result;
}

UpdateResult CommitConfigUpdate(ConfigUpdate& update) {
  if (!update.platformEdits && !update.document.changed && update.misread.empty()) {
    EndUpdate(update);
    return {};
  }
  // The steps, in order: complete the copy (and read it back), give it what the file carries,
  // flush it, put it in place, flush the folder.
  engine::FileBytes held;
  UpdateResult result = CompleteWorkingCopy(update, held);
  if (result.ok()) result = CarryOver(update);
  if (result.ok()) {
    result = Failure(FlushWorkingCopy(update.lock, update.workingPath, update.targetPath));
  }
  if (result.ok()) result = PutInPlace(update, {held.text});
  if (result.ok()) result = Failure(FlushFolder(update.lock, update.targetPath));
  result.inPlace = update.copyInPlace;
  EndUpdate(update);
  return result;
}

UpdateResult AbandonConfigUpdate(ConfigUpdate& update) {
  const UpdateResult result = update.misread.empty() ? UpdateResult{} : MisreadFailure(update);
  EndUpdate(update);
  return result;
}

ConfigUpdate::~ConfigUpdate() {
  if (Current() == this) EndUpdate(*this);
}

bool EndUpdateForCrash() {
  if (Current() != nullptr) EndUpdate(*Current());
  return LastEndedInPlace();
}

ConfigUpdate* UpdateNaming(const char* path) {
  ConfigUpdate* update = Current();
  return update != nullptr && update->configurationPath == path ? update : nullptr;
}

void RecordDisagreement(const char* path, Misread why) {
  ConfigUpdate* update = Current();
  if (update == nullptr || !update->misread.empty()) return;
  update->misread = path;
  update->misreadAs = why;
}

}  // namespace platform
