// uninstall: points the mod in the current directory back at its own
// library.
//
// When the installer's backup is there, it is renamed back over liblist.gam
// in one step.  Without one (or when that rename fails), a liblist.gam that
// still has the bot's lines after its head is rebuilt: its head (every piece
// up to and including the first one that holds "mpentity") is kept, and the
// stock library entries of the game named in the head follow it.  The new
// file is built in the scratch file and renamed over liblist.gam only once
// it is complete and on disk, so liblist.gam is never missing or
// half-written.  A liblist.gam without the bot's lines is never touched:
// beside a backup it was put there since the install, and the backup is
// stale; without one there is nothing to undo.
//
// The program takes no arguments.  It prints nothing and exits 0 when the
// mod loads its own library; when that cannot be brought about, or the
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

// The rebuild flags, all clear at the start; once set, a flag stays set.
// A title counts only in a head piece that also holds "game", and a piece
// sets at most one title flag, the first in the order below.
struct Titles {
  bool is_firearms;
  bool is_dod;
  bool is_battle_grounds;
  bool is_global_warfare;
};

void note_title(void* context, const char* piece, size_t length) {
  Titles& titles = *static_cast<Titles*>(context);
  if (!holds(piece, length, "game")) return;
  if (holds(piece, length, "Firearms") || holds(piece, length, "FireArms"))
    titles.is_firearms = true;
  else if (holds(piece, length, "Day of Defeat"))
    titles.is_dod = true;
  else if (holds(piece, length, "Battle Grounds"))  // "The Battle Grounds" too
    titles.is_battle_grounds = true;
  else if (holds(piece, length, "Global Warfare"))
    titles.is_global_warfare = true;
}

// The stock block of the highest-ranked title flag that is set: its lines in
// |lines| and their number, or 0 when no known title was found.
size_t game_block(const Titles& titles, const char* const** lines) {
  if (titles.is_firearms)
    return *lines = kFirearmsBlock, std::size(kFirearmsBlock);
  if (titles.is_dod) return *lines = kDodBlock, std::size(kDodBlock);
  if (titles.is_battle_grounds)
    return *lines = kBattleGroundsBlock, std::size(kBattleGroundsBlock);
  if (titles.is_global_warfare)
    return *lines = kGlobalWarfareBlock, std::size(kGlobalWarfareBlock);
  return 0;
}

// Writes the rebuilt liblist.gam from |config| to |output|: the head, ended
// by a line end when its last line has none so that the block's first entry
// stands on a line of its own, then the game block of the Titles at
// |context|, each line ended by the file's first line end.  True when every
// piece was read and everything was written.
bool write_rebuilt_file(FILE* config, FILE* output, void* context) {
  const Titles& titles = *static_cast<const Titles*>(context);
  Head head;
  if (!rewind_input(config) ||
      !read_head(config, output, nullptr, nullptr, &head))
    return false;
  const char* const* lines = nullptr;
  size_t count = game_block(titles, &lines);
  const char* line_end = head.line_end ? head.line_end : "\n";
  if (!head.ends_line && !append_text(output, line_end, std::strlen(line_end)))
    return false;
  return append_lines(output, lines, count, line_end);
}

// Puts the installer's backup back over liblist.gam in one rename: true when
// the backup is back in place; false, with the failure noted, when not.
bool restore_backup() {
  if (!replace_file(kBackupFile, kConfigFile)) {
    note_failed_call("cannot rename", kBackupFile, kConfigFile);
    return false;
  }
  // The rename keeps the backup's old modification time, and engines that
  // keep a converted copy of liblist.gam read it again only when it is newer
  // than that copy.  The restore has happened either way: a failure here is
  // ignored.
  (void)touch_file(kConfigFile);
  return true;
}

// What liblist.gam holds, read through once with the game's titles.
struct ConfigState {
  Survey survey;
  Titles titles;
};

// Reads liblist.gam through, with its titles: true with |state| filled;
// false, with the failure noted, when it cannot be opened or read.
bool survey_titles(ConfigState* state) {
  state->titles = Titles{};
  return survey_config(note_title, &state->titles, &state->survey);
}

// Whether liblist.gam can be rebuilt: it has the bot's lines to take out,
// after a head, and the head names a game whose stock entries are known.
bool can_rebuild(const ConfigState& state) {
  const char* const* lines = nullptr;
  return state.survey.has_bot_lines && game_block(state.titles, &lines) > 0;
}

// Rebuilds liblist.gam from its head and the stock entries of the game
// that |titles| names, and renames the complete new file over it: true
// when it is in place; false, with the failure noted, when not, and then
// liblist.gam is as it was.
bool rebuild_game_entry(Titles titles) {
  FILE* config = open_input(kConfigFile);
  if (config == nullptr) {
    note_failed_call("cannot open", kConfigFile);
    return false;
  }
  StepFailure failure;
  bool built =
      build_scratch(config, kConfigFile, write_rebuilt_file, &titles, &failure);
  if (!built) note_failed_step(failure);
  if (!close_input(config) && built) {
    note_failed_call("cannot read", kConfigFile);
    discard_scratch();
    return false;
  }
  if (!built) return false;
  if (commit_scratch(kConfigFile, &failure)) return true;
  note_failed_step(failure);
  return false;
}

const char* const kUnchanged = "nothing was changed";
const char* const kStaleBackup =
    "liblist.gam has none of the bot's lines, and liblist_tv_backup.gam is "
    "an older copy of it; delete the backup, or rename it to liblist.gam to "
    "get that copy back; nothing was changed";
const char* const kUnknownGame =
    "liblist.gam still has the bot's lines, there is no "
    "liblist_tv_backup.gam to restore, and its game is not one whose own "
    "entries uninstall knows; take the bot's lines out by hand; nothing was "
    "changed";

const char* const kRestored =
    "uninstall: your original liblist.gam is back; the bot is uninstalled";
const char* const kRebuilt =
    "uninstall: liblist.gam loads the game's own library again";
const char* const kNothingToUndo =
    "uninstall: liblist.gam has none of the bot's lines; nothing to undo, "
    "nothing was changed";

// Reports a backup that could not be read or put back, after liblist.gam
// was |rebuilt| or left as it was: kFailed, since the backup is still in
// place.
Status report_backup_kept(bool rebuilt) {
  if (rebuilt)
    return report_failure("uninstall",
                          "liblist.gam was rebuilt instead, and the backup "
                          "is still in place");
  return report_failure("uninstall",
                        "liblist.gam is as it was, and the backup is still "
                        "in place");
}

// Rebuilds liblist.gam where it can be, after the backup could not be
// read or put back: kFailed while the backup is still there (a look at it
// that failed may have found none).
Status rebuild_beside_backup(const char** done) {
  ConfigState state;
  bool rebuilt = survey_titles(&state) && can_rebuild(state) &&
                 rebuild_game_entry(state.titles);
  if (name_taken(kBackupFile)) return report_backup_kept(rebuilt);
  if (!rebuilt) return report_failure("uninstall", kUnchanged);
  *done = kRebuilt;
  return kDone;
}

// Brings the folder back to the game's own library, as far as what it
// holds allows: the exit status, with |*done| set to the line that tells a
// success.
Status uninstall(const char** done) {
  Presence config, backup;
  if (!begin_run(&config, &backup))
    return report_failure("uninstall", kUnchanged);
  if (config == kMissing && backup == kMissing)
    return report_nothing_here("uninstall");
  if (backup == kRegular) {
    // Without liblist.gam, or with a dangling link at its name, there is
    // nothing to read and nothing to lose: the backup goes back.
    bool nothing_there = config == kMissing || is_dangling_link(kConfigFile);
    if (!nothing_there) {
      ConfigState state;
      if (config != kRegular || !survey_titles(&state))
        return report_failure("uninstall", kUnchanged);
      // A liblist.gam without the bot's lines beside a backup was put
      // there since the install (a game update): the backup is older.
      if (state.survey.head.found_mpentity && !state.survey.has_bot_lines)
        return report_refusal("uninstall", kStaleBackup);
    }
    *done = kRestored;
    if (restore_backup()) return kDone;
    return config == kRegular ? rebuild_beside_backup(done)
                              : report_backup_kept(false);
  }
  if (backup == kUnreadable) return rebuild_beside_backup(done);
  if (config != kRegular) return report_failure("uninstall", kUnchanged);
  ConfigState state;
  if (!survey_titles(&state)) return report_failure("uninstall", kUnchanged);
  if (!state.survey.has_bot_lines) {
    *done = kNothingToUndo;
    return kDone;
  }
  if (!can_rebuild(state)) return report_refusal("uninstall", kUnknownGame);
  *done = kRebuilt;
  if (rebuild_game_entry(state.titles)) return kDone;
  return report_failure("uninstall", kUnchanged);
}

const char kUsage[] =
    "Usage: uninstall    (no arguments; run it in the mod's folder)\n"
    "\n"
    "Points the game mod in the current folder back at its own library: puts\n"
    "liblist_tv_backup.gam, the original that install kept, back as\n"
    "liblist.gam.  Without a backup, it replaces the bot's lines after the\n"
    "\"mpentity\" line with the game's own entries, for Firearms, Day of\n"
    "Defeat, The Battle Grounds and Global Warfare.  A liblist.gam without\n"
    "the bot's lines is not touched.  It writes no other files than these two\n"
    "and its scratch file liblist_tv_temp.gam.\n"
    "\n"
    "Exit status:\n"
    "  0  liblist.gam loads the game's own library (now, or already)\n";

}  // namespace

int main(int argc, char** argv) {
  int answered = answer_arguments("uninstall", argc, argv, kUsage);
  if (answered >= 0) return end_run(static_cast<Status>(answered), nullptr);
  const char* done = nullptr;
  Status status = uninstall(&done);
  return end_run(status, done);
}
