// The run of either program: its command line, the reading of the folder,
// the refusals both programs share, and the one place that prints how a
// run ended.
#include <cstdio>
#include <cstring>

#include "modfile.h"

// --- Failures and outcomes ---------------------------------------------------------

Failure failed_call(const char* action, const char* name, const char* other) {
  Failure failure = failed_with(action, name, last_reason());
  failure.other = other;
  return failure;
}

Failure failed_with(const char* action, const char* name, const Reason& reason) {
  Failure failure;
  failure.action = action;
  failure.name = name;
  failure.reason = reason;
  return failure;
}

Failure refusal(const char* text, const char* action, const char* name) {
  Failure failure;
  failure.action = action;
  failure.name = name;
  failure.text = text;
  return failure;
}

Outcome failed(const Failure& failure, const char* state) {
  Outcome outcome;
  outcome.status = kFailed;
  outcome.failure = failure;
  outcome.state = state;
  return outcome;
}

Outcome nothing_here() {
  Outcome outcome;
  outcome.status = kNothingHere;
  return outcome;
}

Outcome changed(Words words) {
  Outcome outcome;
  outcome.words = words;
  outcome.changed = true;
  return outcome;
}

Outcome no_change(const char* words) {
  Outcome outcome;
  outcome.words = {words, words};
  return outcome;
}

Plan change(Step step, Words words) {
  Plan plan;
  plan.step = step;
  plan.outcome.words = words;
  return plan;
}

Plan end_with(Outcome outcome) {
  Plan plan;
  plan.outcome = outcome;
  return plan;
}

Failure cannot_open(const Found& found, const char* name) {
  return failed_with("cannot open", name, found.reason);
}

Failure cannot_read(const Text& text, const char* name) {
  return failed_with("cannot read", name, text.read_reason);
}

Failure too_large(const char* action, const char* name) {
  static_assert(kLargestBuild == 16u << 20, "the refusal names the limit");
  return refusal("it is larger than 16 MiB, far beyond any real liblist.gam", action, name);
}

// --- What the folder holds ---------------------------------------------------------

void read_folder(Facts& facts, bool library) {
  facts.backup = look_at(kBackupFile, facts.folder);
  facts.config = look_at(kConfigFile, facts.folder);
  // Install finishes a switch from the backup alone, so its text is read
  // where liblist.gam is missing.
  const Found& source = facts.config.kind == Kind::missing ? facts.backup : facts.config;
  if (source.kind == Kind::regular) facts.text = read_mod_text(source.file.get(), source.size);
  facts.second_name = facts.backup.kind == Kind::regular &&
                      facts.config.kind == Kind::regular && facts.backup.id == facts.config.id;
  if (library && facts.text.read) {
    // A look at the name only, following links: nothing is opened.
    facts.library = bot_library(facts.text.dod);
    facts.library_found = facts.library != nullptr && file_exists(facts.library);
  }
}

void release_originals(Facts& facts) {
  release_before_rename(facts.config.file);
  release_before_rename(facts.backup.file);
}

std::optional<Failure> cannot_use(const Found& found, const Text& text, const char* name) {
  if (found.kind != Kind::regular) return cannot_open(found, name);
  if (!text.read) return cannot_read(text, name);
  return std::nullopt;
}

namespace {

// The refusal for what stands at |name|: a link that is not followed, or
// something that is no regular file.
std::optional<Failure> refuse_name(const Found& found, const char* name) {
  switch (found.kind) {
    case Kind::foreign_link:
      return refusal("it is a symbolic link that belongs to another account; run "
                     "the program as that account, or put the file itself in "
                     "place of the link",
                     "cannot use", name);
    case Kind::guarded_link:
      return refusal("it is a symbolic link in a folder that another account owns "
                     "or may change, where root follows no link; run the program "
                     "as the account that owns the folder, or put the file itself "
                     "in place of the link",
                     "cannot use", name);
    case Kind::special:
      return refusal("it is a folder, FIFO, device or socket, not a regular file",
                     "cannot use", name);
    default:
      return std::nullopt;
  }
}

}  // namespace

std::optional<Failure> refuse_unsafe(const Facts& facts) {
  if (facts.lock == LockResult::busy)
    return refusal("another process holds a lock on it; try again when it is done",
                   "cannot lock", "the mod folder");
  if (facts.lock == LockResult::failed)
    return failed_with("cannot lock", "the mod folder", facts.lock_reason);
  if (auto refused = refuse_name(facts.backup, kBackupFile)) return refused;
  if (auto refused = refuse_name(facts.config, kConfigFile)) return refused;
  // The switch ends with a rename over liblist.gam, which a sticky folder
  // refuses to anyone but the owners: refused before anything is made.
  const Folder& folder = facts.folder;
  if (facts.config.kind != Kind::missing && folder.sticky && folder.runner != 0 &&
      folder.owner != folder.runner && facts.config.owner != folder.runner)
    return refusal("it belongs to another account in a folder that only its "
                   "owners may change (a sticky folder); run the program as that "
                   "account",
                   "cannot replace", kConfigFile);
  // Any account may put a file into a sticky folder: a backup that neither
  // the runner, root nor the owner of liblist.gam could have made may be
  // planted there, to be renamed over liblist.gam.
  long long maker = facts.backup.owner;
  if (folder.sticky && maker >= 0 && maker != folder.runner && maker != 0 &&
      maker != facts.config.owner) {
    Reason why;
    append_to(why.text, "it belongs to user ");
    append_number(why.text, static_cast<unsigned long long>(maker));
    append_to(why.text, ", not to you, root or the owner of liblist.gam, in a folder where "
                        "any account may put files (a sticky folder), so it may have been "
                        "put there to take the place of liblist.gam; look at it, and put "
                        "it back as liblist.gam by hand only if it is your original");
    return failed_with("cannot use", kBackupFile, why);
  }
  if (!facts.second_name) return std::nullopt;
  // A backup name that leads to liblist.gam's own file holds no original of
  // its own, and is dropped; but only where removing that name takes
  // neither the file nor a file elsewhere with it: a link is removed as
  // itself, and one of two hard links leaves the other, but only where both
  // names lie in this folder (Wine shows a link as the file it leads to,
  // and liblist.gam may lead to the backup).
  bool both_here = facts.backup.here && facts.config.here;
  if (!both_here || (!facts.backup.link && (facts.config.link || facts.backup.links < 2)))
    return refusal("it leads to the same file as liblist.gam, so it is no backup "
                   "of its own, and removing it could take that file too; put the "
                   "file itself at liblist.gam, without links, and remove the "
                   "other name by hand",
                   "cannot use", kBackupFile);
  return std::nullopt;
}

std::optional<Failure> refuse_unchangeable(const Facts& facts) {
  if (facts.folder.append_only)
    return refusal("it is append-only (chattr +a): files can be made in it but "
                   "never renamed or removed; as root, run chattr -a on the "
                   "folder, then run the program again",
                   "cannot change", "the mod folder");
  if (!facts.writable) return failed_with("cannot write in", "the mod folder", facts.write_reason);
  return std::nullopt;
}

// --- The command line --------------------------------------------------------------

namespace {

struct Options {
  bool dry_run = false;
  bool verbose = false;
  const char* folder = nullptr;  // as given; nullptr for the current one
};

// Prints |text| on |stream|; nothing more can be done when that fails.
void put(const char* text, FILE* stream) {
  (void)std::fputs(text, stream);
}

// Prints "PROGRAM: FAILURE; STATE" on standard error as one line: kFailed.
int report_failure(const Program& program, const Failure& failure, const char* state) {
  char line[2048] = "";
  auto add = [&line](std::string_view text) { append_to(line, text); };
  add(program.name);
  add(": ");
  if (failure.action != nullptr) {
    add(failure.action);
    add(" ");
    add(failure.name);
    if (failure.other != nullptr) {
      add(" to ");
      add(failure.other);
    }
    add(": ");
  }
  add(failure.text != nullptr ? failure.text : failure.reason.text);
  add("; ");
  add(state);
  add("\n");
  put(line, stderr);
  return kFailed;
}

const char kOptions[] =
    "Options:\n"
    "  -n, --dry-run  show what the run would do, and change nothing\n"
    "  -v, --verbose  say what was done\n"
    "  -h, --help     show this help;  --version  show the version\n"
    "\n"
    "With -n, one line on standard output says \"PROGRAM: would change: ...\" or\n"
    "\"PROGRAM: no change: ...\"; with -v, after the run, \"PROGRAM: changed: ...\"\n"
    "or \"PROGRAM: no change: ...\".  A refusal is one line on standard error.\n"
    "\n"
    "Exit status (a dry run exits as the run would):\n";

const char kMoreStatuses[] =
    "  1  nothing was switched, or not all of it; one line on standard error\n"
    "     says why and what the folder holds now (a stale backup beside an\n"
    "     updated liblist.gam, say; README-tavrel.txt lists each state)\n"
    "  2  the folder holds neither liblist.gam nor liblist_tv_backup.gam\n"
    "\n"
    "The user guide is README-tavrel.txt, beside the programs in their archive.\n";

// Reads the command line into |options|: nothing, or the status to exit
// with at once (after --help, --version, or a word that is refused).
std::optional<int> read_options(const Program& program,
                                std::span<const char* const> words, Options& options) {
  for (const char* lone : {"-h", "--help", "/?", "--version"}) {
    if (words.size() != 1 || std::strcmp(words[0], lone) != 0) continue;
    if (std::strcmp(lone, "--version") == 0) {
      put(program.name, stdout);
      put(" (Tavrel switch) " TAVREL_VERSION "\n", stdout);
    } else {
      put(program.usage, stdout);
      put(kOptions, stdout);
      put(program.success, stdout);
      put(kMoreStatuses, stdout);
    }
    return std::fflush(stdout) == 0 ? kDone : kFailed;
  }
  bool options_end = false;
  for (const char* word : words) {
    std::string_view text = word;
    bool option = !options_end && text.size() > 1 && text[0] == '-';
    if (option && text == "--") {
      options_end = true;
    } else if (option && text == "--dry-run") {
      options.dry_run = true;
    } else if (option && text == "--verbose") {
      options.verbose = true;
    } else if (option && text.find_first_not_of("nv", 1) == std::string_view::npos) {
      options.dry_run = options.dry_run || holds(text, "n");
      options.verbose = options.verbose || holds(text, "v");
    } else if (option && (text == "-h" || text == "--help" || text == "--version")) {
      return report_failure(program, refusal("it stands alone", "cannot take other arguments with", word), kUnchanged);
    } else if (option) {
      return report_failure(program, refusal("--help lists the options", "unknown option", word), kUnchanged);
    } else if (options.folder != nullptr) {
      return report_failure(program, refusal("name one mod folder at most", "cannot take a second folder", word), kUnchanged);
    } else {
      options.folder = word;
    }
  }
  return std::nullopt;
}

// Prints how the run ended, as the options ask: the exit status.
int report(const Program& program, const Options& options, const Plan& plan,
           const Outcome& outcome) {
  if (outcome.status == kFailed)
    return report_failure(program, outcome.failure, outcome.state);
  if (outcome.status == kNothingHere) {
    char line[1024] = "";
    for (std::string_view part :
         {std::string_view(program.name), std::string_view(": there is nothing to switch in "),
          std::string_view(options.folder ? options.folder : "the current folder"),
          std::string_view(", neither liblist.gam nor liblist_tv_backup.gam; run "),
          std::string_view(program.name),
          std::string_view(" in the mod's folder, next to liblist.gam, or name that folder\n")})
      append_to(line, part);
    put(line, stderr);
    return kNothingHere;
  }
  const char* what = nullptr;
  const char* words = outcome.words.did;
  if (options.dry_run) {
    what = plan.step == Step::none ? "no change" : "would change";
    words = outcome.words.would;
  } else if (options.verbose) {
    what = outcome.changed ? "changed" : "no change";
  }
  if (what != nullptr) {
    char line[1024] = "";
    for (const char* part : {program.name, ": ", what, ": ", words}) append_to(line, part);
    if (outcome.words.note != nullptr) {
      append_to(line, "; ");
      append_to(line, outcome.words.note);
    }
    append_to(line, "\n");
    put(line, stdout);
    // The switch stands even where the line is lost (a closed pipe).
    (void)std::fflush(stdout);
  }
  return kDone;
}

// Carries out |plan|, which changes the folder or ends well: a backup name
// that is only a second name of liblist.gam goes first (never where the
// run is refused), then the program's own steps.
Outcome carry_out(const Program& program, Facts& facts, const Plan& plan) {
  if (facts.second_name) {
    release_originals(facts);
    if (!remove_name(kBackupFile)) return failed(failed_call("cannot delete", kBackupFile));
  }
  return plan.step == Step::none ? plan.outcome : program.carry_out(facts, plan);
}

// The run itself, with the folder lock held while it lasts.
int run(const Program& program, int argc, char** argv, bool shown) {
  CommandLine room;
  Options options;
  // A program with a console of its own says what it did before the
  // window closes.
  options.verbose = shown;
  if (std::optional<int> answered =
          read_options(program, command_words(argc, argv, room), options))
    return *answered;
  if (options.folder != nullptr && !enter_folder(options.folder))
    return report_failure(program, failed_call("cannot use the mod folder", options.folder), kUnchanged);
  FolderLock lock;
  Facts facts;
  facts.lock = lock.result();
  facts.lock_reason = lock.reason();
  facts.folder = look_at_folder();
  bool held = facts.lock == LockResult::locked || facts.lock == LockResult::no_locks;
  // A scratch file left by a killed run: no run of ours is using it now.
  // One that leads to a file elsewhere is never removed.
  if (held && !removes_here(kScratchFile, facts.folder))
    return report_failure(program,
                          refusal("it leads to a file in another place, which removing "
                                  "it would remove; remove the link itself by hand",
                                  "cannot remove", kScratchFile),
                          kUnchanged);
  if (held && !options.dry_run) (void)remove_name(kScratchFile);  // or left for the next run
  if (held) read_folder(facts, program.checks_library);
  if (options.dry_run) facts.writable = folder_writable(&facts.write_reason);
  std::optional<Failure> refused = refuse_unsafe(facts);
  Plan plan = refused ? end_with(failed(*refused)) : program.decide(facts);
  Outcome outcome = plan.outcome;
  if (!options.dry_run && (plan.step != Step::none || outcome.status == kDone))
    outcome = carry_out(program, facts, plan);
  return report(program, options, plan, outcome);
}

}  // namespace

int run_program(const Program& program, int argc, char** argv) {
  settle_process();
  bool shown = own_console();  // a double-click, or a folder dropped on it
  int status = run(program, argc, argv, shown);
  if (shown) hold_window(status != kDone);
  return status;
}
