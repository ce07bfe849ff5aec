// uninstall: points the mod in the current directory back at its own
// library.
//
// When the installer's backup is there, it is renamed back over liblist.gam
// in one step.  Otherwise (or when that rename fails) liblist.gam is rebuilt:
// its head (every piece up to and including the first one that holds
// "mpentity") is kept, and the stock library entries of the game named in the
// head follow it; for a game it does not know, liblist.gam is left as it is.
// The new file is built in the scratch file and renamed over liblist.gam
// only once it is complete and on disk, so liblist.gam is never missing or
// half-written.  The program takes no arguments, prints nothing and always
// exits 0.
#include <cstring>
#include <iterator>

#include "modfile.h"

namespace {

const char* const kFirearmsBlock[] = {
    R"(gamedll "dlls\firearms.dll")",
    R"(gamedll_linux "dlls/fa_i386.so")",
    "",
    R"(//startmap "TBD")",
    R"(//trainingmap "TBD")",
};

const char* const kDodBlock[] = {
    R"(gamedll "dlls\dod.dll")",
    R"(gamedll_linux "dlls/dod.so")",
    R"(gamedll_osx "dlls/dod.dylib")",
    R"(detailed_textures "1")",
};

// The Battle Grounds ships its Windows entry with a forward slash.
const char* const kBattleGroundsBlock[] = {
    R"(gamedll "dlls/bg.dll")",
    R"(gamedll_linux "dlls/bg_i386.so")",
};

const char* const kGlobalWarfareBlock[] = {
    "",
    R"(gamedll "dlls\mp.dll")",
    "",
    R"(gamedll_linux "dlls/gw_i386.so")",
    R"(nomodels "1")",
};

// The rebuild flags, cleared at the start of a rebuild; once set, a flag
// stays set.  A title counts only in a head piece that also holds "game",
// and a piece sets at most one title flag, the first in the order below.
bool found_mpentity;
bool is_firearms;
bool is_dod;
bool is_battle_grounds;
bool is_global_warfare;

void note_title(const char* piece, size_t length) {
  if (!holds(piece, length, "game")) return;
  if (holds(piece, length, "Firearms") || holds(piece, length, "FireArms"))
    is_firearms = true;
  else if (holds(piece, length, "Day of Defeat"))
    is_dod = true;
  else if (holds(piece, length, "Battle Grounds"))  // "The Battle Grounds" too
    is_battle_grounds = true;
  else if (holds(piece, length, "Global Warfare"))
    is_global_warfare = true;
}

// The stock block of the highest-ranked title flag that is set: its lines in
// |lines| and their number, or 0 when no known title was found.
size_t game_block(const char* const** lines) {
  if (is_firearms) return *lines = kFirearmsBlock, std::size(kFirearmsBlock);
  if (is_dod) return *lines = kDodBlock, std::size(kDodBlock);
  if (is_battle_grounds)
    return *lines = kBattleGroundsBlock, std::size(kBattleGroundsBlock);
  if (is_global_warfare)
    return *lines = kGlobalWarfareBlock, std::size(kGlobalWarfareBlock);
  return 0;
}

// Appends the game block (|count| |lines|) to kScratchFile, each line ended
// by |line_end|; when the head's last line has no line end, it is ended
// first so that the block's first entry stands on a line of its own.
// Returns true when all of it was written.
bool write_game_block(const char* const* lines, size_t count,
                      bool end_head_line, const char* line_end) {
  if (end_head_line &&
      !append_text(kScratchFile, line_end, std::strlen(line_end)))
    return false;
  return append_lines(kScratchFile, lines, count, line_end);
}

// Copies the head of |config| to kScratchFile, setting the rebuild flags.
// Returns true when every piece read was written (a file without
// "mpentity" is copied whole, with found_mpentity left clear); false when a
// write failed.  |line_end| becomes the file's first line end, and
// |end_head_line| tells whether the head's last piece lacks one.
bool copy_head(FILE* config, const char** line_end, bool* end_head_line) {
  char piece[kPieceSize];
  size_t length;
  while ((length = read_piece(config, piece)) > 0) {
    if (!append_text(kScratchFile, piece, length)) return false;
    note_title(piece, length);
    const char* piece_end = line_end_of(piece, length);
    if (*line_end == nullptr) *line_end = piece_end;
    if (holds(piece, length, "mpentity")) {
      found_mpentity = true;
      *end_head_line = piece_end == nullptr;
      return true;
    }
  }
  return true;
}

// Builds the new liblist.gam in kScratchFile: true when it is complete, has
// the permission bits of liblist.gam, and is on disk; false when liblist.gam
// cannot be read, has no head or no known title, or a write failed.
bool build_scratch_file() {
  FILE* config = open_input(kConfigFile);
  if (config == nullptr) return false;
  found_mpentity = is_firearms = is_dod = false;
  is_battle_grounds = is_global_warfare = false;
  const char* line_end = nullptr;
  bool end_head_line = false;
  // An old scratch file, or a link planted at its name, is removed (a link,
  // never its target) so that the scratch file is created new, by this run.
  (void)delete_file(kScratchFile);
  bool copied = create_new(kScratchFile) &&
                copy_head(config, &line_end, &end_head_line);
  // Without a head there is no place for a game block, and without a known
  // title there are no stock entries to put there: in both cases liblist.gam
  // stays as it is rather than losing the entries it has.
  const char* const* lines = nullptr;
  size_t count = game_block(&lines);
  bool built = copied && found_mpentity && count > 0 &&
               write_game_block(lines, count, end_head_line,
                                line_end ? line_end : "\n") &&
               finish_like(kScratchFile, config);
  bool read = close_input(config);
  return built && read;
}

// Puts the installer's backup back over liblist.gam in one rename: true when
// the backup was present and the rename succeeded.
bool restore_backup() {
  if (!is_present(kBackupFile) || !replace_file(kBackupFile, kConfigFile))
    return false;
  // The rename keeps the backup's old modification time, and engines that
  // keep a converted copy of liblist.gam read it again only when it is newer
  // than that copy.  The restore has happened either way: a failure here is
  // ignored.
  (void)touch_file(kConfigFile);
  return true;
}

// Rebuilds liblist.gam from its head and the stock entries of its game.  The
// complete new file replaces liblist.gam in one rename; on every failure
// liblist.gam stays as it was and the scratch file is deleted.
void rebuild_game_entry() {
  if (build_scratch_file() && replace_file(kScratchFile, kConfigFile)) return;
  (void)delete_file(kScratchFile);  // may not exist; nothing else to do
}

}  // namespace

int main() {
  if (!restore_backup()) rebuild_game_entry();
  return 0;
}
