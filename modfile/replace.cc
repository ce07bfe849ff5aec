// The object that replaces liblist.gam, and the one sequence that uses it.
#include "modfile.h"

void Parts::add_lines(std::span<const char* const> lines, std::string_view line_end) {
  for (const char* line : lines) {
    add(line);
    add(line_end);
  }
}

namespace {

// A new file made in kScratchFile, as the replacement of an open file: it
// is written, finished with the original's permissions and flushed to disk,
// then committed over its name by one rename.  Unless it was committed,
// the scratch file is removed when the object goes, so no caller ever
// removes it by hand.
class Replacement {
 public:
  // Creates kScratchFile: the replacement, or why it could not be made.
  static Made<Replacement> create();
  Replacement(Replacement&& other) noexcept
      : file_(std::move(other.file_)), owned_(std::exchange(other.owned_, false)) {}
  Replacement& operator=(Replacement&&) = delete;
  ~Replacement();

  // Writes |parts| in order.
  std::optional<Failure> write(std::span<const std::string_view> parts);
  // Gives it the permissions of the open file |original| named
  // |original_name|, flushes it to disk and closes it.
  std::optional<Failure> finish(int original, const char* original_name);
  // Renames it over |name| in one step and flushes the folder.
  std::optional<Failure> commit(const char* name);

 private:
  explicit Replacement(Descriptor file) : file_(std::move(file)) {}

  Descriptor file_;
  bool owned_ = true;  // the scratch file is this object's to remove
};

Made<Replacement> Replacement::create() {
  Made<Replacement> made;
  Result<Descriptor> file = create_file(kScratchFile);
  if (file.error)
    made.failure = failed_call(file.error, "cannot create", kScratchFile);
  else
    made.value.emplace(Replacement(std::move(file.value)));
  return made;
}

Replacement::~Replacement() {
  if (!owned_) return;
  file_.reset();  // closed first: Windows removes no open file
  // A scratch file that cannot be removed now is removed by the next run.
  (void)remove_name(kScratchFile);
}

std::optional<Failure> Replacement::write(std::span<const std::string_view> parts) {
  for (std::string_view part : parts)
    if (SystemError error = write_text(file_.get(), part))
      return failed_call(error, "cannot write", kScratchFile);
  return std::nullopt;
}

std::optional<Failure> Replacement::finish(int original, const char* original_name) {
  if (SystemError error = copy_permissions(file_.get(), original))
    return failed_call(error, "cannot give the permission bits of", original_name, kScratchFile);
  if (SystemError error = flush_file(file_.get())) return failed_call(error, "cannot flush", kScratchFile);
  if (SystemError error = close_descriptor(file_.release()))
    return failed_call(error, "cannot write", kScratchFile);
  return std::nullopt;
}

std::optional<Failure> Replacement::commit(const char* name) {
  if (SystemError error = replace_name(kScratchFile, name))
    return failed_call(error, "cannot rename", kScratchFile, name);
  owned_ = false;
  return std::nullopt;
}

// How the original was kept under the backup name.
enum class Kept { not_asked, linked, moved };

// Keeps the original liblist.gam under the backup name: as a second name
// while liblist.gam stays in place, or, where no hard link can be made
// (FAT, exFAT, many network file systems, or another account's file where
// the system protects hard links), moved there, so that liblist.gam is
// missing until the commit.  Neither replaces a file at the backup name.
Made<Kept> keep_original(const Found& config) {
  if (SystemError error = link_name(kConfigFile, kBackupFile); !error) return {Kept::linked, {}};
  if (!config.here)
    return {std::nullopt, refusal("it leads to a file in another place, which moving it would "
                                  "move; put the file itself at liblist.gam",
                                  "cannot keep", kConfigFile)};
  if (SystemError error = rename_name(kConfigFile, kBackupFile))
    return {std::nullopt, failed_call(error, "cannot rename", kConfigFile, kBackupFile)};
  return {Kept::moved, {}};
}

// What the folder holds after a failed commit, once the backup it made is
// undone as far as it can be.
std::string_view undo_backup(Kept kept) {
  // Where the folder lets no file be renamed or removed, every later run
  // would fail on the same step: advice to run again would go round in a
  // circle, so the line says what the folder does not allow.
  switch (kept) {
    case Kept::not_asked:
      break;
    case Kept::linked:
      // The backup is only a second name of liblist.gam.
      if (SystemError error = remove_name(kBackupFile); !error) break;
      else if (not_permitted(error))
        return "liblist.gam is unchanged, but liblist_tv_backup.gam is left as a "
               "second name of it and liblist_tv_temp.gam beside it, since the "
               "folder lets no file be removed or renamed (it may be append-only: "
               "as root, chattr -a on the folder allows it again); then delete those two "
               "and keep liblist.gam";
      return "liblist.gam is unchanged, but the backup name is left as a "
             "second name of it; run install or uninstall again";
    case Kept::moved:
      if (SystemError error = rename_name(kBackupFile, kConfigFile); !error) break;
      else if (not_permitted(error))
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

Outcome replace_config(Facts& facts, Found& original, const char* original_name,
                       const Parts& parts, bool keep, Words words) {
  Made<Replacement> made = Replacement::create();
  if (!made.value) return failed(made.failure);
  Replacement& replacement = *made.value;
  std::optional<Failure> failure = replacement.write(parts.all());
  if (!failure) failure = replacement.finish(original.file.get(), original_name);
  if (failure) return failed(*failure);
  release_originals(facts);
  // The original is kept only now that the new file is complete.
  Kept kept = Kept::not_asked;
  if (keep) {
    Made<Kept> how = keep_original(facts.config);
    if (!how.value) return failed(how.failure);
    kept = *how.value;
  }
  if ((failure = replacement.commit(kConfigFile))) return failed(*failure, undo_backup(kept));
  return did_change(words);
}
