// The object that replaces liblist.gam, and the one sequence that uses it.
#include "modfile.h"

void Parts::add_lines(std::span<const char* const> lines, std::string_view line_end) {
  for (const char* line : lines) {
    add(line);
    add(line_end);
  }
}

Replacement::Replacement() : file_(create_file(kScratchFile)) {
  made_ = static_cast<bool>(file_);
  if (!made_) failure_ = failed_call("cannot create", kScratchFile);
}

Replacement::~Replacement() {
  if (!made_ || committed_) return;
  file_.reset();  // closed first: Windows removes no open file
  // A scratch file that cannot be removed now is removed by the next run.
  (void)remove_name(kScratchFile);
}

std::optional<Failure> Replacement::write(std::span<const std::string_view> parts) {
  for (std::string_view part : parts)
    if (!write_text(file_.get(), part)) return failed_call("cannot write", kScratchFile);
  return std::nullopt;
}

std::optional<Failure> Replacement::finish(int original, const char* original_name) {
  if (!copy_permissions(file_.get(), original))
    return failed_call("cannot give the permission bits of", original_name, kScratchFile);
  if (!flush_file(file_.get())) return failed_call("cannot flush", kScratchFile);
  if (!close_descriptor(file_.release())) return failed_call("cannot write", kScratchFile);
  return std::nullopt;
}

std::optional<Failure> Replacement::commit(const char* name) {
  if (!replace_name(kScratchFile, name)) return failed_call("cannot rename", kScratchFile, name);
  committed_ = true;
  return std::nullopt;
}

namespace {

// How the original was kept under the backup name.
enum class Kept { not_asked, linked, moved };

// What the folder holds after a failed commit, once the backup it made is
// undone as far as it can be.
const char* undo_backup(Kept kept) {
  // Where the folder lets no file be renamed or removed, every later run
  // would fail on the same step: advice to run again would go round in a
  // circle, so the line says what the folder does not allow.
  switch (kept) {
    case Kept::not_asked:
      break;
    case Kept::linked:
      // The backup is only a second name of liblist.gam.
      if (remove_name(kBackupFile)) break;
      if (last_call_not_permitted())
        return "liblist.gam is unchanged, but liblist_tv_backup.gam is left as a "
               "second name of it and liblist_tv_temp.gam beside it, since the "
               "folder lets no file be removed or renamed (it may be append-only: "
               "as root, chattr -a on the folder allows it again); then delete those two "
               "and keep liblist.gam";
      return "liblist.gam is unchanged, but the backup name is left as a "
             "second name of it; run install or uninstall again";
    case Kept::moved:
      if (rename_name(kBackupFile, kConfigFile)) break;
      if (last_call_not_permitted())
        return "your original is now liblist_tv_backup.gam and there is no "
               "liblist.gam, since the folder lets no file be renamed (it may be "
               "append-only: as root, chattr -a on the folder allows it again); "
               "then run uninstall to put it back";
      return "your original is now liblist_tv_backup.gam and there is no "
             "liblist.gam; run uninstall to put it back";
  }
  return kUnchanged;
}

}  // namespace

Outcome replace_config(Facts& facts, Found& original,
                       const char* original_name, const Parts& parts,
                       bool keep_original, Words words) {
  Replacement replacement;
  std::optional<Failure> failure = replacement.failure();
  if (!failure) failure = replacement.write(parts.all());
  if (!failure) failure = replacement.finish(original.file.get(), original_name);
  if (failure) return failed(*failure);
  release_originals(facts);
  // The original is kept only now that the new file is complete: as a
  // second name while liblist.gam stays in place, or, on a file system
  // without hard links (FAT, exFAT, many network ones), moved there, so
  // that liblist.gam is missing until the commit.  Neither replaces a file
  // at the backup name.
  Kept kept = Kept::not_asked;
  if (keep_original) {
    if (link_name(kConfigFile, kBackupFile)) {
      kept = Kept::linked;
    } else if (!facts.config.here) {
      return failed(refusal("it leads to a file in another place, which moving "
                            "it would move; put the file itself at liblist.gam",
                            "cannot keep", kConfigFile));
    } else if (rename_name(kConfigFile, kBackupFile)) {
      kept = Kept::moved;
    } else {
      return failed(failed_call("cannot rename", kConfigFile, kBackupFile));
    }
  }
  if ((failure = replacement.commit(kConfigFile))) return failed(*failure, undo_backup(kept));
  return changed(words);
}
