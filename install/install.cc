// install: points the mod in the current directory at the bot's library.
//
// The new liblist.gam is built in the scratch file from the current one: the
// head (every piece up to and including the first one that holds
// "mpentity"), the bot block, and the tail from the first piece that holds
// the tail marker on.  Once it is complete and on disk, the original is
// kept under the backup name and the new file is renamed into place, so
// that liblist.gam is at every moment either the original or the complete
// new file.  The backup marks the bot as installed and is never
// overwritten.
//
// What liblist.gam says decides as much as the backup does: a liblist.gam
// that has the bot's lines after its head is installed already, with or
// without a backup; a backup beside a liblist.gam without them is stale (a
// game update replaced liblist.gam) or beside a broken one, and is left for
// the user to deal with.  The program takes no arguments.  It prints nothing
// and exits 0 when the bot is in liblist.gam; when the switch cannot be made
// it prints one line on standard error and exits 1, and when the folder
// holds neither liblist.gam nor the backup it says so and exits 2.
#include <iterator>

#include "modfile.h"

namespace {

// The bot's entries for every game but Day of Defeat.
const char* const kBotBlock[] = {
    "",
    "// Tavrel LAN game setting (if you aren't using any AdminMod/MetaMod)",
    R"(gamedll "tav_rel\tav_rel.dll")",
    "",
    "// Tavrel setting when you ARE using AdminMod/MetaMod",
    R"(//gamedll "addons\metamod\dlls\metamod.dll")",
};

// Day of Defeat keeps the bot in another folder and takes its Linux entry too.
const char* const kDodBotBlock[] = {
    "",
    "// Tavrel LAN game setting (if you aren't using any AdminMod/MetaMod)",
    R"(gamedll "tavrel\tav_rel.dll")",
    "",
    "// Tavrel setting when you ARE using AdminMod/MetaMod",
    R"(//gamedll "addons\metamod\dlls\metamod.dll")",
    "",
    "// Tavrel Linux setting",
    R"(gamedll_linux "tavrel/tavrel.so")",
    "",
};

// What install takes from the head: set when a piece of the head holds
// "Day of Defeat"; it chooses the bot block and the tail marker.
struct InstallFlags {
  bool is_dod;
};

void note_dod(void* context, const char* piece, size_t length) {
  if (holds(piece, length, "Day of Defeat"))
    static_cast<InstallFlags*>(context)->is_dod = true;
}

// Writes the bot block for |flags| to |output|, each line ended by
// |line_end|: true when all of it was written.
bool write_bot_block(FILE* output, const InstallFlags& flags,
                     const char* line_end) {
  if (flags.is_dod)
    return append_lines(output, kDodBotBlock, std::size(kDodBotBlock),
                        line_end);
  return append_lines(output, kBotBlock, std::size(kBotBlock), line_end);
}

// Copies the rest of |source| to |output| from the first piece that holds
// |tail_marker| on, dropping the pieces before it: true when every piece
// was read and every piece copied was written.
bool copy_tail(FILE* source, FILE* output, const char* tail_marker) {
  char piece[kPieceSize];
  size_t length;
  bool copying = false;
  while ((length = read_piece(source, piece)) > 0) {
    if (holds(piece, length, tail_marker)) copying = true;
    if (copying && !append_text(output, piece, length)) return false;
  }
  return ferror(source) == 0;
}

// Writes the new liblist.gam from |source| to |output|: the head, the bot
// block and the tail.  True when every piece was read and everything was
// written.
bool write_new_file(FILE* source, FILE* output, void* context) {
  const InstallFlags& flags = *static_cast<const InstallFlags*>(context);
  Head head;
  if (!rewind_input(source) || !read_head(source, output, nullptr, nullptr, &head))
    return false;
  // The block's lines take the file's own line end, so that a file made on
  // Windows and edited elsewhere keeps CR LF throughout.
  if (!write_bot_block(output, flags, head.line_end ? head.line_end : "\n"))
    return false;
  return copy_tail(source, output,
                   flags.is_dod ? "gamedll_osx" : "gamedll_linux");
}

// Builds the new liblist.gam in the scratch file from the open |source|,
// the file |source_name|, which |survey| and |flags| describe: true when it
// is complete, carries the source's permissions and is on disk; false, with
// the failure noted, when the source has no "mpentity" piece (so no place
// for the bot's entry) or a step fails, and then no scratch file is left.
bool splice_bot_entry(FILE* source, const char* source_name,
                      const Survey& survey, InstallFlags flags) {
  if (!survey.head.found_mpentity) {
    note_with_reason("cannot find \"mpentity\" in", source_name,
                     "there is no place for the bot's entry");
    return false;
  }
  StepFailure failure;
  if (build_scratch(source, source_name, write_new_file, &flags, &failure))
    return true;
  note_failed_step(failure);
  return false;
}

// What the folder holds after a failed switch, for the message.
const char* const kUnchanged = "nothing was changed";
const char* const kLeftLinked =
    "liblist.gam is unchanged, but the backup name is left as a second name "
    "of it; run install or uninstall again";
const char* const kLeftMoved =
    "your original is now liblist_tv_backup.gam and there is no "
    "liblist.gam; run uninstall to put it back";

// Keeps the original under the backup name while liblist.gam stays in
// place, as a second name of the file.  Without hard links (FAT, exFAT, many
// network file systems) the original is moved there instead, and
// liblist.gam is missing until the new file is renamed in: then |*moved| is
// set.  Neither ever replaces a file at the backup name.  True on success;
// false, with the failure noted, when neither works.
bool save_original(bool* moved) {
  if (link_file(kConfigFile, kBackupFile)) return true;
  if (!rename_file(kConfigFile, kBackupFile)) {
    note_failed_call("cannot rename", kConfigFile, kBackupFile);
    return false;
  }
  *moved = true;
  return true;
}

// Switches the folder to the bot: builds the new file from |source_name|,
// keeps the original under the backup name when |keep_original| is set,
// and renames the new file over liblist.gam.  Returns kDone when the switch
// is made; kFailed, with the failure reported, when it is not.
Status switch_to_bot(const char* source_name, bool keep_original) {
  FILE* source = open_input(source_name);
  if (source == nullptr) {
    note_failed_call("cannot open", source_name);
    return report_failure("install", kUnchanged);
  }
  InstallFlags flags{};
  Survey survey;
  bool built = false;
  if (!survey_file(source, note_dod, &flags, &survey))
    note_failed_call("cannot read", source_name);
  else
    built = splice_bot_entry(source, source_name, survey, flags);
  if (!close_input(source) && built) {
    note_failed_call("cannot read", source_name);
    discard_scratch();
    built = false;
  }
  if (!built) return report_failure("install", kUnchanged);
  bool moved = false;
  if (keep_original && !save_original(&moved)) {
    discard_scratch();
    return report_failure("install", kUnchanged);
  }
  StepFailure failure;
  if (commit_scratch(kConfigFile, &failure)) return kDone;
  note_failed_step(failure);
  if (!keep_original) return report_failure("install", kUnchanged);
  // Undo the backup: a link is only a second name of liblist.gam; a moved
  // original goes back to its name.
  if (!moved)
    return report_failure(
        "install", delete_file(kBackupFile) ? kUnchanged : kLeftLinked);
  return report_failure("install", rename_file(kBackupFile, kConfigFile)
                                       ? kUnchanged
                                       : kLeftMoved);
}

const char* const kStaleBackup =
    "liblist.gam has none of the bot's lines, so it was probably replaced "
    "by a game update or a file check, and liblist_tv_backup.gam is an "
    "older copy of it; delete liblist_tv_backup.gam and run install again; "
    "nothing was changed";
const char* const kHeadlessConfig =
    "liblist.gam has no \"mpentity\" line, so it is not a whole mod file, "
    "and your original is kept as liblist_tv_backup.gam; run uninstall to "
    "put it back; nothing was changed";

const char* const kInstalledNow =
    "install: the bot is installed; your original liblist.gam is kept as "
    "liblist_tv_backup.gam";
const char* const kInstalledAlready =
    "install: the bot is installed already; nothing was changed";

// Brings the folder to the bot, as far as what it holds allows: the exit
// status, with |*done| set to the line that tells a success.
Status install(const char** done) {
  Presence config, backup;
  if (!begin_run(&config, &backup)) return report_failure("install", kUnchanged);
  if (config == kMissing && backup == kMissing)
    return report_nothing_here("install");
  *done = kInstalledNow;
  // An install stopped between its two moves: finish it from the backup.
  if (config == kMissing && backup == kRegular)
    return switch_to_bot(kBackupFile, false);
  // An unreadable liblist.gam, or an unreadable backup that takes its name.
  if (config != kRegular || backup == kUnreadable)
    return report_failure("install", kUnchanged);
  InstallFlags flags{};
  Survey survey;
  if (!survey_config(note_dod, &flags, &survey))
    return report_failure("install", kUnchanged);
  if (survey.has_bot_lines) {
    // Installed already; a backup made now would hold the bot's lines, not
    // the original.
    *done = kInstalledAlready;
    return kDone;
  }
  if (backup == kRegular)
    return report_refusal("install", survey.head.found_mpentity
                                         ? kStaleBackup
                                         : kHeadlessConfig);
  return switch_to_bot(kConfigFile, true);
}

const char kUsage[] =
    "Usage: install    (no arguments; run it in the mod's folder)\n"
    "\n"
    "Points the game mod in the current folder at the Tavrel bot's library:\n"
    "keeps liblist.gam as liblist_tv_backup.gam, then writes the bot's lines\n"
    "into liblist.gam after its \"mpentity\" line.  It writes no other files\n"
    "than these two and its scratch file liblist_tv_temp.gam.  Run uninstall\n"
    "to switch back.\n"
    "\n"
    "Exit status:\n"
    "  0  the bot is in liblist.gam (installed now, or already)\n";

}  // namespace

int main(int argc, char** argv) {
  int answered = answer_arguments("install", argc, argv, kUsage);
  if (answered >= 0) return end_run(static_cast<Status>(answered), nullptr);
  const char* done = nullptr;
  Status status = install(&done);
  return end_run(status, done);
}
