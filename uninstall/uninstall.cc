// uninstall: points the mod back at its own library.
//
// When the installer's backup is there, it is renamed back over liblist.gam
// in one step.  Without one (or when that rename fails), a liblist.gam that
// still has the bot's lines after its head is rebuilt: its head (every piece
// up to and including the first one that holds "mpentity") is kept, and the
// stock library entries of the game named in the head follow it.  The new
// file is built complete and on disk before it is renamed over liblist.gam,
// so liblist.gam is never missing or half-written.  A liblist.gam without
// the bot's lines is never touched: beside a backup it was put there since
// the install, and the backup is stale; without one there is nothing to
// undo.
#include "run.h"

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

// The stock library entries of |game|: none for a game uninstall does not
// know.
std::span<const char* const> game_block(Game game) {
  switch (game) {
    case Game::firearms: return kFirearmsBlock;
    case Game::day_of_defeat: return kDodBlock;
    case Game::battle_grounds: return kBattleGroundsBlock;
    case Game::global_warfare: return kGlobalWarfareBlock;
    case Game::unknown: break;
  }
  return {};
}

// The rebuilt liblist.gam made from |text|: the head, then the game's stock
// block, each line ended by the file's own line end.  The head of a file
// with the bot's lines ends a line, since those lines follow it, so the
// block's first entry stands on a line of its own.
Parts rebuild_game_entry(const Text& text) {
  Parts parts;
  parts.add(text.head());
  parts.add_lines(game_block(text.game), line_end(text));
  return parts;
}

// Whether liblist.gam, read as |text|, can be rebuilt: it has the bot's
// lines to take out, and its head names a game whose entries are known.
bool can_rebuild(const Text& text) {
  return text.read && text.bot_lines && text.game != Game::unknown && !text.too_large;
}

const Words kRestore = {"restore the original liblist.gam from liblist_tv_backup.gam",
                        "restored the original liblist.gam from liblist_tv_backup.gam", {}, {}};
const Words kRebuild = {"rebuild liblist.gam with the game's own library entries",
                        "rebuilt liblist.gam with the game's own library entries", {}, {}};

// A liblist.gam without the bot's lines beside a backup: the backup is
// older, and putting it back would undo the update.
Failure stale_backup_uninstall() {
  Failure failure = refusal(
      "liblist.gam has none of the bot's lines, so it was probably replaced by a game update or "
      "a file check, and liblist_tv_backup.gam is an older copy of it; delete the backup, or ");
  failure.text[1] = rename_back_by_hand(RenameBack::it);
  failure.text[2] = " to get that copy back";
  return failure;
}
const char kUnknownGame[] =
    "liblist.gam still has the bot's lines, there is no liblist_tv_backup.gam to "
    "restore, and its game is not one whose own entries uninstall knows; take "
    "the bot's lines out by hand";
const char kRebuiltInstead[] =
    "liblist.gam was rebuilt instead, and the backup is still in place";
const char kAsItWas[] = "liblist.gam is as it was, and the backup is still in place";

// uninstall's own steps.
enum class Step {
  none,
  restore,                // rename the backup over liblist.gam
  rebuild,                // build from liblist.gam's head
  rebuild_beside_backup,  // the same, the backup unreadable
  remove_copy,            // remove a backup of the same bytes as liblist.gam
};

// uninstall reads no facts of its own.
struct Nothing {};
Nothing read_nothing(const Facts&) { return {}; }

const Words kRemoveCopy = {"remove liblist_tv_backup.gam, a copy of liblist.gam",
                           "removed liblist_tv_backup.gam, a copy of liblist.gam", {}, {}};

// The plan to remove a backup that holds exactly the bytes of liblist.gam,
// which has none of the bot's lines: a game update put the same file back,
// and nothing is lost without the copy.
Decision<Step> plan_remove_copy(const Facts& facts) {
  if (!facts.backup.here)
    return {plan_end(failed(refusal(kRemovesElsewhere, "cannot delete", kBackupFile)))};
  if (auto refused = refuse_unchangeable(facts, {Touch::none, Touch::replaced, false}))
    return {plan_end(failed(*refused))};
  return {plan_change(kRemoveCopy, false), Step::remove_copy};
}

// The refusal of a backup alone that has the bot's lines itself: putting
// it back would leave the bot loaded.
Failure backup_not_original() {
  Failure failure = refusal("it has the bot's lines, so it is no original from before the install; ",
                            "cannot use", kBackupFile);
  failure.text[1] = rename_back_by_hand(RenameBack::backup_alone);
  failure.text[2] = ", then run uninstall again to rebuild the game's own entries";
  return failure;
}

// The plan to put the backup back, where liblist.gam allows it.
Decision<Step> plan_restore(const Facts& facts) {
  const Text& text = facts.text;
  Kind config = facts.config.kind;
  // Alone, the backup's text is the one read.
  if (config == Kind::missing && text.bot_lines) return {plan_end(failed(backup_not_original()))};
  // Without liblist.gam, or with a dangling link at its name, there is
  // nothing to read and nothing to lose: the backup goes back.
  if (config != Kind::missing && !facts.config.dangling) {
    if (auto unread = cannot_use(facts.config, text, kConfigFile)) return {plan_end(failed(*unread))};
    // A liblist.gam without the bot's lines beside a backup was put there
    // since the install (a game update): the backup is older.
    if (text.found_mpentity && !text.bot_lines && facts.backup_same) return plan_remove_copy(facts);
    if (text.found_mpentity && !text.bot_lines)
      return {plan_end(failed(text.bot_comments ? bot_line_deleted() : stale_backup_uninstall()))};
  }
  if (!facts.backup.here)
    return {plan_end(failed(refusal("it leads to a file in another place, which "
                                    "renaming it would move; put the file itself "
                                    "there, without links",
                                    "cannot use", kBackupFile)))};
  Touches touches{config == Kind::missing ? Touch::none : Touch::replaced, Touch::moved, false};
  if (auto refused = refuse_unchangeable(facts, touches)) return {plan_end(failed(*refused))};
  return {plan_change(kRestore, false), Step::restore};
}

// A backup that cannot be read stays; liblist.gam is rebuilt beside it
// where it can be, and the run ends with status 1 either way.
Decision<Step> plan_beside_unreadable(const Facts& facts) {
  Failure unread = cannot_open(facts.backup, kBackupFile);
  if (facts.config.kind != Kind::regular || !can_rebuild(facts.text) ||
      refuse_unchangeable(facts, {Touch::replaced, Touch::none, true}))
    return {plan_end(failed(unread, kAsItWas))};
  Plan plan = plan_change(kRebuild, true);
  plan.outcome = failed(unread, "liblist.gam would be rebuilt instead, and the "
                                "backup would stay in place");
  return {plan, Step::rebuild_beside_backup};
}

// The decision table of uninstall, from what the folder holds.  Carrying it
// out, a restore whose rename fails rebuilds liblist.gam instead where it
// can (status 1, the backup still there).
Decision<Step> decide(const Facts& facts, const Nothing&) {
  Kind backup = facts.backup_kind();
  const Text& text = facts.text;
  if (facts.config.kind == Kind::missing && backup == Kind::missing) return {plan_end(nothing_here())};
  if (backup == Kind::regular) return plan_restore(facts);
  if (backup == Kind::unreadable) return plan_beside_unreadable(facts);
  if (auto unread = cannot_use(facts.config, text, kConfigFile)) return {plan_end(failed(*unread))};
  if (!text.bot_lines)
    return {plan_end(no_change("nothing to undo, liblist.gam has none of the bot's lines"))};
  if (text.game == Game::unknown) return {plan_end(failed(refusal(kUnknownGame)))};
  if (text.too_large) return {plan_end(failed(too_large("cannot rebuild", kConfigFile)))};
  if (auto refused = refuse_unchangeable(facts, {Touch::replaced, Touch::none, true}))
    return {plan_end(failed(*refused))};
  return {plan_change(kRebuild, true), Step::rebuild};
}

// Rebuilds liblist.gam in place of the old one.
Outcome rebuild(Facts& facts) {
  return replace_config(facts, facts.config, kConfigFile, rebuild_game_entry(facts.text),
                        false, kRebuild);
}

// Puts the backup back over liblist.gam in one rename, or rebuilds
// liblist.gam where that fails for a reason that no fact foretold, and it
// can.
Outcome restore_backup(Facts& facts) {
  // On Windows the rebuild that may follow copies no permissions, so
  // liblist.gam's descriptor is not missed there.
  release_originals(facts);
  if (SystemError error = replace_name(kBackupFile, kConfigFile)) {
    Failure failure = failed_call(error, "cannot rename", kBackupFile, kConfigFile);
    if (facts.config.kind == Kind::missing) return failed(failure);
    bool rebuilt = facts.config.kind == Kind::regular && can_rebuild(facts.text) &&
                   rebuild(facts).status == kDone;
    return failed(failure, rebuilt ? kRebuiltInstead : kAsItWas);
  }
  // The rename keeps the backup's old modification time, and engines that
  // keep a converted copy of liblist.gam read it again only when it is newer
  // than that copy.  The restore has happened either way: a failure here is
  // ignored.
  (void)touch_name(kConfigFile);
  return did_change(kRestore);
}

Outcome undo_switch(Facts& facts, Step step, const Plan&) {
  switch (step) {
    case Step::restore:
      return restore_backup(facts);
    case Step::remove_copy:
      if (std::optional<Failure> failure = remove_backup(facts)) return failed(*failure);
      return did_change(kRemoveCopy);
    case Step::rebuild_beside_backup: {
      Outcome rebuilt = rebuild(facts);
      // A look that failed (an I/O error, say) may have taken a free name
      // for an unreadable backup: where none is there, the rebuild is all.
      if (!name_taken(kBackupFile)) return rebuilt;
      return failed(cannot_open(facts.backup, kBackupFile),
                    rebuilt.status == kDone ? kRebuiltInstead : kAsItWas);
    }
    default:
      return rebuild(facts);
  }
}

const Program<Nothing, Step> kUninstall = {
    {"uninstall",
    "Usage: uninstall [OPTION]... [MOD_FOLDER]\n"
    "\n"
    "Points the game mod in MOD_FOLDER (without it, the current folder) back at\n"
    "its own library: puts liblist_tv_backup.gam, the original that install\n"
    "kept, back as liblist.gam.  Without a backup, it keeps liblist.gam up to\n"
    "its \"mpentity\" line and replaces everything after that line (lines of\n"
    "your own there too) with the game's own entries, for Firearms, Day of\n"
    "Defeat, The Battle Grounds and Global Warfare.  A liblist.gam without the\n"
    "bot's lines is not touched.  It writes no other files than these two and\n"
    "its scratch file liblist_tv_temp.gam.\n"
    "\n",
    "  0  liblist.gam loads the game's own library: the backup is back, or\n"
    "     the game's own entries were written, or there was nothing to undo\n"
    "     (no backup, and none of the bot's lines)\n"},
    read_nothing,
    decide,
    undo_switch,
};

}  // namespace

int program_main(std::span<const char* const> words) {
  return run_program(kUninstall, words);
}
