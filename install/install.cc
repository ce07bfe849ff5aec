// install: points the mod in the current directory at the bot's library.
//
// liblist.gam is renamed to the backup name, and a new liblist.gam is built
// from it: the head (every piece up to and including the first one that
// holds "mpentity"), the bot block, and the tail from the first piece that
// holds the tail marker on.  The backup marks the bot as installed and is
// never overwritten.  The program takes no arguments, prints nothing and
// always exits 0; when the new file cannot be completed, the original is put
// back so that the folder is as it was.
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

// Appends the bot block that |is_dod| selects to kConfigFile, each line ended
// by |line_end|: true when all of it was written.
bool write_bot_block(bool is_dod, const char* line_end) {
  if (is_dod)
    return append_lines(kConfigFile, kDodBotBlock, std::size(kDodBotBlock),
                        line_end);
  return append_lines(kConfigFile, kBotBlock, std::size(kBotBlock), line_end);
}

// Copies the head of |source| to kConfigFile and writes the bot block after
// it.  Sets |is_dod| when a head piece holds "Day of Defeat".  Returns true
// when everything read was written; the head may lack "mpentity", and then
// the whole file is copied and no block is written.
bool copy_head(FILE* source, bool* is_dod) {
  char piece[kPieceSize];
  size_t length;
  const char* line_end = nullptr;  // the first line end of the file
  while ((length = read_piece(source, piece)) > 0) {
    if (!append_text(kConfigFile, piece, length)) return false;
    if (holds(piece, length, "Day of Defeat")) *is_dod = true;
    if (line_end == nullptr) line_end = line_end_of(piece, length);
    // The block's lines take the file's own line end, so that a file made
    // on Windows and edited elsewhere keeps CR LF throughout.
    if (holds(piece, length, "mpentity"))
      return write_bot_block(*is_dod, line_end ? line_end : "\n");
  }
  return true;
}

// Copies the rest of |source| to kConfigFile from the first piece that holds
// |tail_marker| on, dropping the pieces before it: true when every piece
// copied was written.
bool copy_tail(FILE* source, const char* tail_marker) {
  char piece[kPieceSize];
  size_t length;
  bool copying = false;
  while ((length = read_piece(source, piece)) > 0) {
    if (holds(piece, length, tail_marker)) copying = true;
    if (copying && !append_text(kConfigFile, piece, length)) return false;
  }
  return true;
}

// Builds the new kConfigFile from kBackupFile, which has just been renamed
// from it.  Returns true when the new file is complete, carries the
// original's permission bits and is on disk; false when the source could not
// be opened or read, the name kConfigFile was taken again (something planted
// there), or any write failed.
bool splice_bot_entry() {
  FILE* source = open_input(kBackupFile);
  if (source == nullptr) return false;
  bool is_dod = false;
  bool written = create_new(kConfigFile) && copy_head(source, &is_dod) &&
                 copy_tail(source, is_dod ? "gamedll_osx" : "gamedll_linux") &&
                 finish_like(kConfigFile, source);
  bool read = close_input(source);
  return written && read;
}

}  // namespace

int main() {
  // Installed already: the backup holds the original and is never replaced.
  if (is_present(kBackupFile)) return 0;
  if (!is_present(kConfigFile)) return 0;
  if (!rename_file(kConfigFile, kBackupFile)) return 0;
  // Put the original back over whatever part of the new file was written,
  // in one rename, so that no moment leaves the mod without liblist.gam.
  if (!splice_bot_entry()) {
    (void)replace_file(kBackupFile, kConfigFile);
    return 0;
  }
  // The new liblist.gam was created in place, not renamed: make its name as
  // durable as its bytes.  A folder that cannot be flushed changes nothing.
  (void)sync_folder();
  return 0;
}
