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
// half-written.  The program takes no arguments.  It prints nothing and
// exits 0 when the mod loads its own library again, or when it leaves an
// unknown game's file as it is; when the switch cannot be made, or the
// backup is still there at the end, it prints one line on standard error
// and exits 1, and when the folder holds neither liblist.gam nor the backup
// it says so and exits 2.
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

// Writes the rebuilt liblist.gam from |config| to |output|: the head, ended
// by a line end when its last line has none so that the block's first entry
// stands on a line of its own, then the game block, each line ended by the
// file's first line end.  True when every piece was read and everything was
// written.
bool write_rebuilt_file(FILE* config, FILE* output) {
  Head head;
  if (!rewind_input(config) || !read_head(config, output, note_title, &head))
    return false;
  const char* const* lines = nullptr;
  size_t count = game_block(&lines);
  const char* line_end = head.line_end ? head.line_end : "\n";
  if (!head.ends_line && !append_text(output, line_end, std::strlen(line_end)))
    return false;
  return append_lines(output, lines, count, line_end);
}

// Puts the installer's backup back over liblist.gam in one rename: true when
// the backup is back in place; false, with the failure noted, when not.
bool restore_backup() {
  // An install stopped after saving the original: liblist.gam is still the
  // original, and the backup only a second name of it.
  if (same_file(kBackupFile, kConfigFile)) {
    if (delete_file(kBackupFile)) return true;
    note_failure("cannot delete", kBackupFile);
    return false;
  }
  if (!replace_file(kBackupFile, kConfigFile)) {
    note_failure("cannot rename", kBackupFile, kConfigFile);
    return false;
  }
  // The rename keeps the backup's old modification time, and engines that
  // keep a converted copy of liblist.gam read it again only when it is newer
  // than that copy.  The restore has happened either way: a failure here is
  // ignored.
  (void)touch_file(kConfigFile);
  return true;
}

// What rebuild_game_entry() did.
enum Rebuild {
  kRebuilt,    // liblist.gam was rebuilt
  kLeft,       // liblist.gam has no head or names no known game: left as is
  kNotBuilt,   // the rebuild failed (noted); liblist.gam is as it was
};

// Rebuilds liblist.gam from its head and the stock entries of its game, and
// renames the complete new file over it.
Rebuild rebuild_game_entry() {
  FILE* config = open_input(kConfigFile);
  if (config == nullptr) {
    note_failure("cannot open", kConfigFile);
    return kNotBuilt;
  }
  found_mpentity = is_firearms = is_dod = false;
  is_battle_grounds = is_global_warfare = false;
  Head head;
  bool read = read_head(config, nullptr, note_title, &head);
  if (!read) note_failure("cannot read", kConfigFile);
  found_mpentity = head.found_mpentity;
  // Without a head there is no place for a game block, and without a known
  // title there are no stock entries to put there: in both cases liblist.gam
  // stays as it is rather than losing the entries it has.
  const char* const* lines = nullptr;
  bool wanted = read && found_mpentity && game_block(&lines) > 0;
  bool built = wanted && build_scratch(config, kConfigFile, write_rebuilt_file);
  if (!close_input(config) && read) {
    note_failure("cannot read", kConfigFile);
    read = false;
  }
  if (!read) {
    if (built) (void)delete_file(kScratchFile);
    return kNotBuilt;
  }
  if (!wanted) return kLeft;
  if (!built) return kNotBuilt;
  if (replace_file(kScratchFile, kConfigFile)) return kRebuilt;
  note_failure("cannot rename", kScratchFile, kConfigFile);
  (void)delete_file(kScratchFile);
  return kNotBuilt;
}

// Reports a restore that failed, after the rebuild that followed it did
// |what|: kFailed, since the backup is still in place.
Status report_backup_kept(Rebuild what) {
  if (what == kRebuilt)
    return report_failure("uninstall",
                          "liblist.gam was rebuilt instead, and the backup "
                          "is still in place");
  return report_failure("uninstall",
                        "liblist.gam is as it was, and the backup is still "
                        "in place");
}

}  // namespace

int main() {
  Presence config, backup;
  if (!begin_run(&config, &backup))
    return report_failure("uninstall", "nothing was changed");
  if (config == kMissing && backup == kMissing)
    return report_nothing_here("uninstall");
  if (backup == kRegular && restore_backup()) return kDone;
  // No backup, or one that cannot be read or put back: rebuild liblist.gam
  // instead, as far as it can be.
  Rebuild what = config == kMissing ? kNotBuilt : rebuild_game_entry();
  if (backup != kMissing && name_taken(kBackupFile))
    return report_backup_kept(what);
  if (what == kNotBuilt) return report_failure("uninstall", "nothing was changed");
  return kDone;
}
