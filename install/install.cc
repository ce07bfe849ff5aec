// install: points the mod in the current directory at the bot's library.
//
// The new liblist.gam is built in the scratch file from the current one: the
// head (every piece up to and including the first one that holds
// "mpentity"), the bot block, and the tail from the first piece that holds
// the tail marker on.  Once it is complete and on disk, the original is
// kept under the backup name and the new file is renamed into place, so
// that liblist.gam is at every moment either the original or the complete
// new file.  The backup marks the bot as installed and is never
// overwritten.  The program takes no arguments, prints nothing and always
// exits 0.
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
// false when the source cannot be read or a write fails, and then no
// scratch file is left.
bool splice_bot_entry(const char* source_name) {
  FILE* source = open_input(source_name);
  if (source == nullptr) return false;
  is_dod = false;
  Head head;
  bool built = read_head(source, nullptr, note_dod, &head) &&
               build_scratch(source, write_new_file);
  bool read = close_input(source);
  if (built && !read) (void)delete_file(kScratchFile);
  return built && read;
}

// Switches the folder to the bot: builds the new file from |source_name|,
// keeps the original under the backup name when |save_original| is set,
// and renames the new file over liblist.gam.  True when the switch is made;
// false when it is not, the folder then as it was.
bool switch_to_bot(const char* source_name, bool save_original) {
  if (!splice_bot_entry(source_name)) return false;
  bool linked = false;
  bool moved = false;
  if (save_original) {
    // A second name keeps liblist.gam in place until the new file replaces
    // it.  Without hard links (FAT, exFAT, many network file systems) the
    // original is moved to the backup name instead, and liblist.gam is
    // missing until the next rename.
    linked = link_file(kConfigFile, kBackupFile);
    moved = !linked && !name_taken(kBackupFile) &&
            rename_file(kConfigFile, kBackupFile);
    if (!linked && !moved) {
      (void)delete_file(kScratchFile);
      return false;
    }
  }
  if (replace_file(kScratchFile, kConfigFile)) return true;
  // Undo the backup: a link is only a second name of liblist.gam; a moved
  // original goes back to its name.
  if (linked) (void)delete_file(kBackupFile);
  if (moved) (void)rename_file(kBackupFile, kConfigFile);
  (void)delete_file(kScratchFile);
  return false;
}

}  // namespace

int main() {
  if (!lock_folder()) return 0;
  // A scratch file left by a killed run: no run of ours is using it now.
  (void)delete_file(kScratchFile);
  Presence backup = look_at(kBackupFile);
  Presence config = look_at(kConfigFile);
  // A folder, FIFO or device is never read or replaced.
  if (backup == kNotRegular || config == kNotRegular) return 0;
  if (backup == kRegular) {
    // An install stopped after saving the original: the backup is only a
    // second name of liblist.gam, which is still the original.
    if (config == kRegular && same_file(kConfigFile, kBackupFile)) {
      (void)switch_to_bot(kConfigFile, false);
      return 0;
    }
    // An install stopped between its two moves: finish it from the backup.
    if (!name_taken(kConfigFile)) (void)switch_to_bot(kBackupFile, false);
    // Installed already: the backup holds the original and is never
    // replaced.
    return 0;
  }
  if (config == kMissing) return 0;
  (void)switch_to_bot(kConfigFile, true);
  return 0;
}
