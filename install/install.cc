// install: points the mod at the bot's library.
//
// The new liblist.gam is the head of the current one (every piece up to and
// including the first one that holds "mpentity", and the rest of its line),
// the bot block, and the tail from the start of the line with the first
// piece that holds the tail marker.  It is built complete and on disk
// before the original is kept under the backup name and the new file
// renamed into place, so that liblist.gam is at every moment either the
// original or the complete new file.  The backup marks the bot as installed
// and is never overwritten.
//
// What liblist.gam says decides as much as the backup does: a liblist.gam
// that has the bot's lines after its head is installed already, with or
// without a backup; a backup beside a liblist.gam without them is stale (a
// game update replaced liblist.gam) or beside a broken one, and is left for
// the user to deal with.
#include "run.h"

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

// The new liblist.gam made from |text|: the head, the bot block (its lines
// ended by the file's own line end, so that a file made on Windows and
// edited elsewhere keeps CR LF throughout), then the tail from the start of
// the line with the first piece after the head that holds the tail marker,
// none where no piece does.
Parts splice_bot_entry(const Text& text) {
  Parts parts;
  parts.add(text.head());
  if (text.dod)
    parts.add_lines(kDodBotBlock, line_end(text));
  else
    parts.add_lines(kBotBlock, line_end(text));
  parts.add(text.tail());
  return parts;
}

// What only install reads: the bot's library that a liblist.gam switched
// from the text makes this system's engine load (nullptr where it loads
// the game's own), and what a look found there.
struct Library {
  const char* path = nullptr;
  PathLook look;
};

Library look_for_library(const Facts& facts) {
  Library library;
  if (!facts.text.read) return library;
  library.path = bot_library(facts.text.dod);
  // A look at the name only: nothing is opened.
  if (library.path != nullptr) library.look = look_along(library.path);
  return library;
}

// install's own steps.
enum class Step {
  none,
  switch_to_bot,       // build from liblist.gam, keep the original
  finish_switch,       // build from the backup alone
  switch_beside_copy,  // build from liblist.gam beside a backup of the same bytes
};

const char kStaleBackupInstall[] =
    "liblist.gam has none of the bot's lines, so it was probably replaced by a "
    "game update or a file check, and liblist_tv_backup.gam is an older copy "
    "of it; delete liblist_tv_backup.gam and run install again";
const char kHeadlessConfig[] =
    "liblist.gam has no \"mpentity\" line, so it is not a whole mod file, and "
    "your original is kept as liblist_tv_backup.gam; run uninstall to put it back";

// The refusal where the bot's library that the switched liblist.gam makes
// the engine load is not there: a switch would leave a game that does not
// start, reported as a success.
std::optional<Failure> refuse_without_library(const Library& library, Step step) {
  if (library.path == nullptr || library.look.kind == Kind::regular) return std::nullopt;
  if (library.look.kind == Kind::guarded_link) return refusal(kGuardedLink, "cannot use", library.look.at.view());
  Failure failure = refusal(kSystemName, "cannot find the bot's library", library.path);
  failure.text[1] = " would load it from the switched liblist.gam, and the game would not "
                    "start; put the bot's folder into the mod folder first";
  if (step == Step::finish_switch) failure.text[2] = ", or run uninstall to put your original liblist.gam back";
  return failure;
}

// A switch that builds the new liblist.gam from the file |source_name|,
// whose text the facts hold, when it can be built there.
Decision<Step> plan_switch(const Facts& facts, const Library& library, Step step,
                           const char* source_name, Words words) {
  const Text& text = facts.text;
  if (!text.read) return {plan_end(failed(failed_call(text.read_error, "cannot read", source_name)))};
  if (!text.found_mpentity)
    return {plan_end(failed(refusal("there is no place for the bot's entry",
                                    "cannot find \"mpentity\" in", source_name)))};
  if (text.too_large) return {plan_end(failed(too_large("cannot build from", source_name)))};
  if (auto refused = refuse_without_library(library, step)) return {plan_end(failed(*refused))};
  // liblist.gam is replaced (after it gets a second name, where it is the
  // original); a backup alone is only read.
  Touches touches{step == Step::finish_switch ? Touch::none : Touch::replaced, Touch::none, true};
  if (auto refused = refuse_unchangeable(facts, touches)) return {plan_end(failed(*refused))};
  return {plan_change(words, true), step};
}

// The refusal of a backup alone that has the bot's lines itself: it is no
// original to build from.
Failure backup_installed_already() {
  Failure failure = refusal("it has the bot's lines, so it is no original from before the install, "
                            "and the bot is installed in it already; ",
                            "cannot use", kBackupFile);
  failure.text[1] = rename_back_by_hand(RenameBack::backup_alone);
  failure.text[2] = " to put it back in use";
  return failure;
}

// The words of each switch.
const Words kSwitch = {"switch liblist.gam to the bot, keeping the original as liblist_tv_backup.gam",
                       "switched liblist.gam to the bot; the original is kept as liblist_tv_backup.gam",
                       {},
                       {}};
const Words kFinishSwitch = {
    "switch liblist.gam to the bot, from the original kept as liblist_tv_backup.gam",
    "switched liblist.gam to the bot, from the original kept as liblist_tv_backup.gam", {}, {}};
const Words kSwitchBesideCopy = {
    "switch liblist.gam to the bot, keeping liblist_tv_backup.gam, a copy of it, as the original",
    "switched liblist.gam to the bot; liblist_tv_backup.gam, a copy of it, is kept as the original",
    {},
    {}};

// The plan beside a backup, for a liblist.gam without the bot's lines: a
// game update that put the same file back leaves a backup that holds
// nothing liblist.gam does not, which stays as the original; any other is
// left for the user to deal with.
Decision<Step> plan_beside_backup(const Facts& facts, const Library& library) {
  const Text& text = facts.text;
  if (facts.backup_same) return plan_switch(facts, library, Step::switch_beside_copy, kConfigFile, kSwitchBesideCopy);
  return {plan_end(failed(!text.found_mpentity ? refusal(kHeadlessConfig)
                          : text.bot_comments  ? bot_line_deleted()
                                               : refusal(kStaleBackupInstall)))};
}

// The decision table of install, from what the folder holds.  Carrying it
// out, a backup link that the file system refuses falls back to moving the
// original, and a failed rename into place undoes the backup.
Decision<Step> decide_switch(const Facts& facts, const Library& library) {
  Kind backup = facts.backup_kind();
  Kind config = facts.config.kind;
  if (config == Kind::missing && backup == Kind::missing) return {plan_end(nothing_here())};
  // An install stopped between its two moves: finished from the backup,
  // unless the backup itself has the bot's lines.
  if (config == Kind::missing && backup == Kind::regular && facts.text.bot_lines)
    return {plan_end(failed(backup_installed_already()))};
  if (config == Kind::missing && backup == Kind::regular)
    return plan_switch(facts, library, Step::finish_switch, kBackupFile, kFinishSwitch);
  if (backup == Kind::unreadable) return {plan_end(failed(cannot_open(facts.backup, kBackupFile)))};
  if (auto unread = cannot_use(facts.config, facts.text, kConfigFile)) return {plan_end(failed(*unread))};
  // Installed already; a backup made now would hold the bot's lines, not
  // the original.
  if (facts.text.bot_lines) return {plan_end(no_change("the bot is installed already"))};
  if (backup == Kind::regular) return plan_beside_backup(facts, library);
  return plan_switch(facts, library, Step::switch_to_bot, kConfigFile, kSwitch);
}

// What a switch that replaces the engine's active entry of MetaMod, with
// the key |key|, must not leave unsaid: MetaMod and every plugin it loaded
// are gone, and the bot is loaded directly.
std::string_view metamod_warning(std::string_view key) {
  if (key == "gamedll")
    return "the switch replaces the active gamedll entry, which loads MetaMod, so MetaMod "
           "and its plugins will no longer load; \"AdminMod/MetaMod users\" in "
           "README-tavrel.txt says how to keep them";
  return "the switch replaces the active gamedll_linux entry, which loads MetaMod, so "
         "MetaMod and its plugins will no longer load; \"AdminMod/MetaMod users\" in "
         "README-tavrel.txt says how to keep them";
}

Decision<Step> decide(const Facts& facts, const Library& library) {
  Decision<Step> decision = decide_switch(facts, library);
  Words& words = decision.plan.outcome.words;
  // Where this system's engine loads the game's own library whatever
  // liblist.gam says for Windows, a success says so.
  if (facts.text.read && library.path == nullptr && decision.plan.outcome.status == kDone)
    words.note = "this game's Linux server keeps loading its own library; only Windows loads the bot";
  if (decision.step != Step::none && facts.text.metamod_entry)
    words.warning = metamod_warning(engine_entry_replaced(facts.text.dod));
  return decision;
}

Outcome switch_folder(Facts& facts, Step step, const Plan& plan) {
  // The original is kept under the backup name, except where it is there
  // already.
  bool from_backup = step == Step::finish_switch;
  return replace_config(facts, from_backup ? facts.backup : facts.config,
                        from_backup ? kBackupFile : kConfigFile, splice_bot_entry(facts.text),
                        step == Step::switch_to_bot, plan.outcome.words);
}

const Program<Library, Step> kInstall = {
    {"install",
    "Usage: install [OPTION]... [MOD_FOLDER]\n"
    "\n"
    "Points the game mod in MOD_FOLDER (without it, the current folder) at the\n"
    "Tavrel bot's library: keeps liblist.gam as liblist_tv_backup.gam, then\n"
    "writes the bot's lines into liblist.gam after its \"mpentity\" line.  Put\n"
    "the bot's folder into the mod folder first: without the library that the\n"
    "switched liblist.gam makes this system load, nothing is switched.  It\n"
    "writes no other files than these two and its scratch file\n"
    "liblist_tv_temp.gam.  Run uninstall to switch back.\n"
    "\n",
    "  0  liblist.gam has the bot's lines: switched now, or already\n"},
    look_for_library,
    decide,
    switch_folder,
};

}  // namespace

int program_main(std::span<const char* const> words) {
  return run_program(kInstall, words);
}
