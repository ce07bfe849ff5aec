// What the folder holds, read once, and the refusals that both programs
// make from it.
#include <cstring>

#include "modfile.h"

// --- Failures and outcomes ---------------------------------------------------------

Failure failed_call(SystemError error, std::string_view action, std::string_view name,
                    std::string_view other) {
  Failure failure;
  failure.action = action;
  failure.name = name;
  failure.other = other;
  failure.error = error;
  return failure;
}

Failure refusal(std::string_view text, std::string_view action, std::string_view name) {
  Failure failure;
  failure.action = action;
  failure.name = name;
  failure.text = {text};
  return failure;
}

Outcome failed(const Failure& failure, std::string_view folder_now) {
  Outcome outcome;
  outcome.status = kFailed;
  outcome.failure = failure;
  outcome.folder_now = folder_now;
  return outcome;
}

Outcome nothing_here() {
  Outcome outcome;
  outcome.status = kNothingHere;
  return outcome;
}

Outcome did_change(Words words) {
  Outcome outcome;
  outcome.words = words;
  outcome.made_change = true;
  return outcome;
}

Outcome no_change(std::string_view words) {
  Outcome outcome;
  outcome.words = {words, words, {}, {}};
  return outcome;
}

Plan plan_change(Words words, bool builds) {
  Plan plan;
  plan.changes = true;
  plan.builds = builds;
  plan.outcome.words = words;
  return plan;
}

Plan plan_end(Outcome outcome) {
  Plan plan;
  plan.outcome = outcome;
  return plan;
}

Failure cannot_open(const Found& found, const char* name) {
  if (found.changed) return refusal("it changed while it was opened", "cannot open", name);
  return failed_call(found.error, "cannot open", name);
}

std::optional<Failure> cannot_use(const Found& found, const Text& text, const char* name) {
  if (found.kind != Kind::regular) return cannot_open(found, name);
  if (!text.read) return failed_call(text.read_error, "cannot read", name);
  return std::nullopt;
}

Failure too_large(const char* action, const char* name) {
  static_assert(kLargestBuild == 16u << 20, "the refusal names the limit");
  return refusal("it is larger than 16 MiB, far beyond any real liblist.gam", action, name);
}

Failure bot_line_deleted() {
  Failure failure = refusal(
      "liblist.gam has the bot's comment lines but none of its gamedll lines, so the bot's line "
      "was probably deleted by hand, and liblist_tv_backup.gam holds your original from before "
      "the install; put the bot's gamedll line back (commented out, for MetaMod), or ");
  failure.text[1] = rename_back_by_hand(RenameBack::backup);
  failure.text[2] = " to get your original back";
  return failure;
}

// --- What the folder holds ---------------------------------------------------------

namespace {

// Whether the open files |a| and |b|, of |size| bytes each when they were
// opened, hold the same bytes as stored: a comparison that cannot be read
// through counts as a difference.
bool same_bytes(int a, int b, std::uint64_t size) {
  char one[16384], other[16384];
  for (std::uint64_t at = 0; at <= size; at += sizeof one) {
    Result<size_t> got_one = read_at(a, one, at);
    Result<size_t> got_other = read_at(b, other, at);
    if (got_one.error || got_other.error || got_one.value != got_other.value ||
        std::memcmp(one, other, got_one.value) != 0)
      return false;
    if (got_one.value < sizeof one) break;
  }
  return true;
}

}  // namespace

void read_folder(Facts& facts) {
  facts.backup = look_at(kBackupFile, facts.folder);
  facts.config = look_at(kConfigFile, facts.folder);
  facts.scratch = look_at_leftover(kScratchFile, facts.folder);
  // Install finishes a switch from the backup alone, so its text is read
  // where liblist.gam is missing.
  const Found& source = facts.config.kind == Kind::missing ? facts.backup : facts.config;
  if (source.kind == Kind::regular) facts.text = read_mod_text(source.file.get(), source.size);
  facts.second_name = facts.backup.kind == Kind::regular &&
                      facts.config.kind == Kind::regular && facts.backup.id == facts.config.id;
  const Text& text = facts.text;
  if (facts.backup.kind == Kind::regular && !facts.second_name && &source == &facts.config &&
      text.read && text.found_mpentity && !text.bot_lines && !text.too_large &&
      facts.backup.size == facts.config.size)
    facts.backup_same = same_bytes(facts.config.file.get(), facts.backup.file.get(), facts.config.size);
}

void release_originals(Facts& facts) {
  release_before_rename(facts.config.file);
  release_before_rename(facts.backup.file);
}

std::optional<Failure> remove_backup(Facts& facts) {
  release_originals(facts);
  if (SystemError error = remove_name(kBackupFile)) return failed_call(error, "cannot delete", kBackupFile);
  return std::nullopt;
}

// --- Refusals ----------------------------------------------------------------------

namespace {

// What a pin says, with the way out.
std::string_view pinned_because(Pin pin) {
  switch (pin) {
    case Pin::immutable:
      return "it is immutable (chattr +i); as root, run chattr -i on it, then run the "
             "program again";
    case Pin::append_only:
      return "it is append-only (chattr +a); as root, run chattr -a on it, then run the "
             "program again";
    case Pin::read_only:
      return "it is read-only; clear the read-only attribute in its properties, then run "
             "the program again";
    case Pin::none:
      break;
  }
  return {};
}

// The refusal of |touch| on the file |found| at |name| where its pin
// forbids it: a read-only file may still be renamed.
std::optional<Failure> refuse_pinned(const Found& found, const char* name, Touch touch) {
  if (touch == Touch::none || found.pin == Pin::none) return std::nullopt;
  if (touch == Touch::moved && found.pin == Pin::read_only) return std::nullopt;
  bool config = std::string_view(name) == kConfigFile;
  std::string_view action = touch == Touch::moved ? "cannot rename" : config ? "cannot replace" : "cannot delete";
  return refusal(pinned_because(found.pin), action, name);
}

// Whether |folder| is sticky and keeps this run from renaming or removing a
// file of |owner|'s: only a file's owner, the folder's owner and root may.
bool sticky_forbids(const Folder& folder, long long owner) {
  return folder.sticky && folder.runner != 0 && folder.owner != folder.runner && owner != folder.runner;
}

// The refusal to rename or remove |found| at |name| in a sticky folder,
// where only a file's owner, the folder's owner and root may.
std::optional<Failure> refuse_sticky_owner(const Folder& folder, const Found& found,
                                           std::string_view action, const char* name) {
  if (found.owner < 0 || !sticky_forbids(folder, found.owner)) return std::nullopt;
  Failure failure = refusal(", in a folder where only a file's owner, the folder's owner and root "
                            "may rename or remove it (a sticky folder); run the program as that "
                            "account or as root",
                            action, name);
  failure.user = found.owner;
  return failure;
}

// The refusal to build where a leftover at the scratch name cannot be
// cleared first.
std::optional<Failure> refuse_leftover(const Facts& facts) {
  const Found& scratch = facts.scratch;
  if (scratch.kind == Kind::folder)
    return refusal("it is a folder, where this program builds the new liblist.gam; "
                   "remove it, then run the program again",
                   "cannot remove", kScratchFile);
  if (scratch.kind == Kind::regular && scratch.pin != Pin::none)
    return refusal(pinned_because(scratch.pin), "cannot remove", kScratchFile);
  if (scratch.kind == Kind::missing) return std::nullopt;
  return refuse_sticky_owner(facts.folder, scratch, "cannot remove", kScratchFile);
}

}  // namespace

std::optional<Failure> refuse_unchangeable(const Facts& facts, Touches touches) {
  if (facts.folder.append_only)
    return refusal("it is append-only (chattr +a): files can be made in it but "
                   "never renamed or removed; as root, run chattr -a on the "
                   "folder, then run the program again",
                   "cannot change", "the mod folder");
  if (!facts.folder.writable)
    return failed_call(facts.folder.write_error, "cannot write in", "the mod folder");
  if (auto refused = refuse_pinned(facts.config, kConfigFile, touches.config)) return refused;
  // A switch ends with a rename over liblist.gam, which a sticky folder
  // refuses to anyone but the owners.
  if (touches.config != Touch::none && facts.config.kind != Kind::missing &&
      sticky_forbids(facts.folder, facts.config.owner))
    return refusal("it belongs to another account in a folder that only its owners may change "
                   "(a sticky folder); run the program as that account",
                   "cannot replace", kConfigFile);
  if (auto refused = refuse_pinned(facts.backup, kBackupFile, touches.backup)) return refused;
  if (touches.backup != Touch::none)
    if (auto refused = refuse_sticky_owner(facts.folder, facts.backup,
                                           touches.backup == Touch::moved ? "cannot rename" : "cannot delete",
                                           kBackupFile))
      return refused;
  if (touches.builds) return refuse_leftover(facts);
  return std::nullopt;
}

namespace {

// The refusal of a lock that was not taken.
std::optional<Failure> refuse_lock(const Facts& facts) {
  if (facts.lock == LockResult::busy)
    return refusal("another process holds a lock on it; try again when it is done",
                   "cannot lock", "the mod folder");
  if (facts.lock == LockResult::failed)
    return failed_call(facts.lock_error, "cannot lock", "the mod folder");
  return std::nullopt;
}

// The refusal for what stands at |name|: a link that is not followed, or
// something that is no regular file.
std::optional<Failure> refuse_name(const Found& found, const char* name) {
  switch (found.kind) {
    case Kind::foreign_link:
      return refusal("it is a symbolic link that belongs to another account; run "
                     "the program as that account, or put the file itself in "
                     "place of the link",
                     "cannot use", name);
    case Kind::guarded_link:
      if (found.refused_at.view().empty()) return refusal(kGuardedLink, "cannot use", name);
      return Failure{"cannot use", name, {}, {},
                     {"it leads through a symbolic link at ", found.refused_at.view(),
                      " in a folder that another account owns or may change, where root follows no "
                      "link; put the file itself in place of the link"},
                     -1};
    case Kind::folder:
    case Kind::special:
      return refusal("it is a folder, FIFO, device or socket, not a regular file",
                     "cannot use", name);
    default:
      return std::nullopt;
  }
}

// The refusals of a sticky folder, where any account may put a file but
// only its owners may rename or remove it.
std::optional<Failure> refuse_sticky(const Facts& facts) {
  const Folder& folder = facts.folder;
  if (!folder.sticky) return std::nullopt;
  // A backup that neither the runner, root nor the owner of liblist.gam
  // could have made may be planted there, to be renamed over liblist.gam.
  long long maker = facts.backup.owner;
  if (maker < 0 || maker == folder.runner || maker == 0 || maker == facts.config.owner)
    return std::nullopt;
  Failure failure = refusal(", not to you, root or the owner of liblist.gam, in a folder where "
                            "any account may put files (a sticky folder), so it may have been "
                            "put there to take the place of liblist.gam; look at it, and put "
                            "it back as liblist.gam by hand only if it is your original",
                            "cannot use", kBackupFile);
  failure.user = maker;
  return failure;
}

// A backup name that leads to liblist.gam's own file holds no original of
// its own, and is dropped; but only where removing that name takes neither
// the file nor a file elsewhere with it: a link is removed as itself, and
// one of two hard links leaves the other, but only where both names lie in
// this folder (Wine shows a link as the file it leads to, and liblist.gam
// may lead to the backup).
std::optional<Failure> refuse_second_name(const Facts& facts) {
  if (!facts.second_name) return std::nullopt;
  bool both_here = facts.backup.here && facts.config.here;
  if (both_here && (facts.backup.link || (!facts.config.link && facts.backup.links >= 2)))
    return std::nullopt;
  return refusal("it leads to the same file as liblist.gam, so it is no backup "
                 "of its own, and removing it could take that file too; put the "
                 "file itself at liblist.gam, without links, and remove the "
                 "other name by hand",
                 "cannot use", kBackupFile);
}

}  // namespace

std::optional<Failure> refuse_unsafe(const Facts& facts) {
  if (auto refused = refuse_lock(facts)) return refused;
  // A leftover that leads to a file elsewhere is never removed.
  if (!facts.scratch.here)
    return refusal(kRemovesElsewhere, "cannot remove", kScratchFile);
  if (auto refused = refuse_name(facts.backup, kBackupFile)) return refused;
  if (auto refused = refuse_name(facts.config, kConfigFile)) return refused;
  if (auto refused = refuse_sticky(facts)) return refused;
  return refuse_second_name(facts);
}

bool leftover_to_clear(const Facts& facts) {
  return facts.scratch.kind != Kind::missing && facts.scratch.here && !refuse_leftover(facts);
}
