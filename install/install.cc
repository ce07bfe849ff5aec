// install: points the mod in the current directory at the bot's library.
//
// The new liblist.gam is built in the scratch file from the current one: the
// head (every piece up to and including the first one that holds
// "mpentity"), the bot block, and the tail from the first piece that holds
// the tail marker on.  Once it is complete and on disk, the original is
// kept under the backup name and the new file is renamed into place, so
// that liblist.gam is at every moment either the original or the complete
// new file.  The backup marks the bot as installed and is never
// overwritten.  The program takes no arguments.  It prints nothing and exits
// 0 when the bot is installed; when the switch cannot be made it prints one
// line on standard error and exits 1, and when the folder holds neither
// liblist.gam nor the backup it says so and exits 2.
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

// Set when a piece of the head holds "Day of Defeat"; it chooses the bot
// block and the tail marker.
bool is_dod;

void note_dod(const char* piece, size_t length) {
  if (holds(piece, length, "Day of Defeat")) is_dod = true;
}

// Writes the bot block that is_dod selects to |output|, each line ended by
// |line_end|: true when all of it was written.
bool write_bot_block(FILE* output, const char* line_end) {
  if (is_dod)
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

// Writes the new liblist.gam from |source| to |output|: true when every
// piece was read and everything was written.  A file without "mpentity"
// is copied whole, with no bot block.
bool write_new_file(FILE* source, FILE* output) {
  Head head;
  if (!rewind_input(source) || !read_head(source, output, note_dod, &head))
    return false;
  // The block's lines take the file's own line end, so that a file made on
  // Windows and edited elsewhere keeps CR LF throughout.
  if (head.found_mpentity &&
      !write_bot_block(output, head.line_end ? head.line_end : "\n"))
    return false;
  return copy_tail(source, output, is_dod ? "gamedll_osx" : "gamedll_linux");
}

// Builds the new liblist.gam in the scratch file from |source_name|: true
// when it is complete, carries the source's permission bits and is on disk;
// false, with the failure noted, when the source cannot be read, has no
// "mpentity" piece (so no place for the bot's entry), or a write fails, and
// then no scratch file is left.
bool splice_bot_entry(const char* source_name) {
  FILE* source = open_input(source_name);
  if (source == nullptr) {
    note_failure("cannot open", source_name);
    return false;
  }
  is_dod = false;
  Head head;
  bool built = false;
  if (!read_head(source, nullptr, note_dod, &head))
    note_failure("cannot read", source_name);
  else if (!head.found_mpentity)
    note_problem("cannot find \"mpentity\" in", source_name,
                 "there is no place for the bot's entry");
  else
    built = build_scratch(source, source_name, write_new_file);
  if (!close_input(source) && built) {
    note_failure("cannot read", source_name);
    (void)delete_file(kScratchFile);
    built = false;
  }
  return built;
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
    note_failure("cannot rename", kConfigFile, kBackupFile);
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
  if (!splice_bot_entry(source_name))
    return report_failure("install", kUnchanged);
  bool moved = false;
  if (keep_original && !save_original(&moved)) {
    (void)delete_file(kScratchFile);
    return report_failure("install", kUnchanged);
  }
  if (replace_file(kScratchFile, kConfigFile)) return kDone;
  note_failure("cannot rename", kScratchFile, kConfigFile);
  (void)delete_file(kScratchFile);
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

}  // namespace

int main() {
  Presence config, backup;
  if (!begin_run(&config, &backup)) return report_failure("install", kUnchanged);
  if (backup == kRegular) {
    // An install stopped after saving the original: the backup is only a
    // second name of liblist.gam, which is still the original.
    if (config == kRegular && same_file(kConfigFile, kBackupFile))
      return switch_to_bot(kConfigFile, false);
    // An install stopped between its two moves: finish it from the backup.
    if (config == kMissing) return switch_to_bot(kBackupFile, false);
    // Installed already: the backup holds the original and is never
    // replaced.
    return kDone;
  }
  if (config == kMissing && backup == kMissing)
    return report_nothing_here("install");
  // An unreadable liblist.gam, or an unreadable backup that takes its name.
  if (config != kRegular || backup != kMissing)
    return report_failure("install", kUnchanged);
  return switch_to_bot(kConfigFile, true);
}
