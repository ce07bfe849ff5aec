// The run of either program: its command line, the shared steps, and the
// one place that prints how a run ended.
#include <cstdio>
#include <cstring>

#include "run.h"

namespace {

// Appends |text| to |line| so that it stays one line and reads back
// unambiguously: a control character as a visible escape (\n, \t, \r,
// \xHH) and a backslash that does not separate folders doubled.  A name
// from the command line then cannot bring lines of its own.
void add_shown(Bytes& line, std::string_view text) {
  for (char c : text) {
    auto byte = static_cast<unsigned char>(c);
    if (c == '\\' && kPathSeparator != '\\') {
      (void)line.append("\\\\");
    } else if (byte >= 0x20 && byte != 0x7f) {
      (void)line.append(std::string_view(&c, 1));
    } else if (c == '\n' || c == '\t' || c == '\r') {
      (void)line.append(c == '\n' ? "\\n" : c == '\t' ? "\\t" : "\\r");
    } else {
      const char hex[] = {'\\', 'x', "0123456789abcdef"[byte >> 4], "0123456789abcdef"[byte & 15]};
      (void)line.append(std::string_view(hex, sizeof hex));
    }
  }
}

// Writes |line| and a line end to |stream| in one piece: false where that
// failed, which nothing more can mend.
bool put_line(Bytes& line, FILE* stream) {
  (void)line.append("\n");
  std::string_view text = line.view();
  bool put = std::fwrite(text.data(), 1, text.size(), stream) == text.size();
  return std::fflush(stream) == 0 && put;
}

// Appends the reason of |failure|: the system's, or the program's own.
void add_reason(Bytes& line, const Failure& failure) {
  if (failure.error) {
    Bytes reason;
    describe(failure.error, reason);
    return add_shown(line, reason.view());
  }
  if (failure.user >= 0) {
    (void)line.append("it belongs to user ");
    (void)line.append_number(static_cast<unsigned long long>(failure.user));
  }
  for (std::string_view piece : failure.text) add_shown(line, piece);
}

// Prints "PROGRAM: FAILURE; FOLDER NOW" on standard error as one line:
// kFailed.
int report_failure(const About& about, const Failure& failure, std::string_view folder_now) {
  Bytes line;
  (void)line.append(about.name);
  (void)line.append(": ");
  if (!failure.action.empty()) {
    (void)line.append(failure.action);
    (void)line.append(" ");
    add_shown(line, failure.name);
    if (!failure.other.empty()) {
      (void)line.append(" to ");
      add_shown(line, failure.other);
    }
    (void)line.append(": ");
  }
  add_reason(line, failure);
  (void)line.append("; ");
  (void)line.append(folder_now);
  (void)put_line(line, stderr);
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

// Prints --help or --version, whichever |word| asks for: the exit status.
int answer(const About& about, std::string_view word) {
  if (word == "--version") {
    (void)std::fputs(about.name, stdout);
    (void)std::fputs(" (Tavrel switch) " TAVREL_VERSION "\n", stdout);
  } else {
    for (const char* text : {about.usage, kOptions, about.success, kMoreStatuses})
      (void)std::fputs(text, stdout);
  }
  // A text that could not be written all fails, wherever it failed.
  return std::fflush(stdout) == 0 && !std::ferror(stdout) ? kDone : kFailed;
}

// The words of the shared steps, said before the program's own: a leftover
// removed, and a second name.
const Words kClearLeftover = {"remove liblist_tv_temp.gam, left by a run that was stopped",
                              "removed liblist_tv_temp.gam, left by a run that was stopped", {}, {}};
const Words kDropSecondName = {"remove liblist_tv_backup.gam, only a second name of liblist.gam",
                               "removed liblist_tv_backup.gam, only a second name of liblist.gam",
                               {},
                               {}};

}  // namespace

// --- The run ----------------------------------------------------------------------

Run::Run(const About& about, std::span<const char* const> words) : about_(about) {
  settle_process();
  shown_ = own_console();  // a double-click, or a folder dropped on it
  // A program with a console of its own says what it did before the
  // window closes.
  verbose_ = shown_;
  if ((ended_ = read_options(words))) return;
  if (folder_name_ != nullptr && (ended_ = enter())) return;
  lock_.emplace();
  facts_.lock = lock_->result();
  facts_.lock_error = lock_->error();
  facts_.folder = look_at_folder();
  if (facts_.lock == LockResult::locked || facts_.lock == LockResult::no_locks) read_folder(facts_);
}

std::optional<int> Run::read_options(std::span<const char* const> words) {
  for (const char* lone : {"-h", "--help", "/?", "--version"})
    if (words.size() == 1 && std::strcmp(words[0], lone) == 0) return answer(about_, lone);
  bool options_end = false;
  for (const char* word : words) {
    std::string_view text = word;
    bool option = !options_end && text.size() > 1 && text[0] == '-';
    if (!option && folder_name_ != nullptr)
      return report_failure(about_, refusal("name one mod folder at most", "cannot take a second folder", word), kUnchanged);
    if (!option) {
      folder_name_ = word;
    } else if (text == "--") {
      options_end = true;
    } else if (text == "--dry-run" || text == "--verbose") {
      (text == "--dry-run" ? dry_run_ : verbose_) = true;
    } else if (text.find_first_not_of("nv", 1) == std::string_view::npos) {
      dry_run_ = dry_run_ || holds(text, "n");
      verbose_ = verbose_ || holds(text, "v");
    } else if (text == "-h" || text == "--help" || text == "--version") {
      return report_failure(about_, refusal("it stands alone", "cannot take other arguments with", word), kUnchanged);
    } else {
      return report_failure(about_, refusal("--help lists the options", "unknown option", word), kUnchanged);
    }
  }
  return std::nullopt;
}

std::optional<int> Run::enter() {
  Entered entered = enter_folder(folder_name_);
  if (entered.error)
    return report_failure(about_, failed_call(entered.error, "cannot use the mod folder", folder_name_), kUnchanged);
  if (entered.guarded_link.view().empty()) return std::nullopt;
  Failure failure;
  failure.action = "cannot use the mod folder";
  failure.name = folder_name_;
  failure.text = {"it passes through a symbolic link at ", entered.guarded_link.view(),
                  " in a folder that another account owns or may change, where root "
                  "follows no link; name the folder itself, or run the program as the "
                  "mod folder's owner"};
  return report_failure(about_, failure, kUnchanged);
}

std::optional<Plan> Run::refused() const {
  if (std::optional<Failure> refusal = refuse_unsafe(facts_)) return plan_end(failed(*refusal));
  return std::nullopt;
}

Plan Run::with_shared_steps(Plan decided) const {
  if (decided.outcome.status != kDone && !decided.changes) return decided;
  decided.clears_leftover = leftover_to_clear(facts_);
  if (!facts_.second_name) return decided;
  if (auto refused = refuse_unchangeable(facts_, {Touch::none, Touch::replaced, false}))
    return plan_end(failed(*refused));
  decided.drops_second_name = true;
  return decided;
}

std::optional<Outcome> Run::start_steps(const Plan& plan) {
  // A refusal changes nothing.
  if (!plan.changes && plan.outcome.status != kDone) return std::nullopt;
  // A scratch file left by a killed run: no run of ours is using it now.
  if (plan.clears_leftover) (void)remove_name(kScratchFile);  // or left for the next run
  if (plan.drops_second_name)
    if (std::optional<Failure> failure = remove_backup(facts_)) return failed(*failure);
  return std::nullopt;
}

void Run::report_nothing_here() const {
  Bytes line;
  for (const char* part : {about_.name, ": there is nothing to switch in "}) (void)line.append(part);
  add_shown(line, folder_name_ != nullptr ? folder_name_ : "the current folder");
  for (const char* part : {", neither liblist.gam nor liblist_tv_backup.gam; run ", about_.name,
                           " in the mod's folder, next to liblist.gam, or name that folder"})
    (void)line.append(part);
  (void)put_line(line, stderr);
}

void Run::report_done(const Plan& plan, const Outcome& outcome) const {
  const Words& words = outcome.words;
  Bytes line;
  (void)line.append(about_.name);
  if (!dry_run_ && !verbose_) {
    if (words.warning.empty()) return;
    for (std::string_view part : {std::string_view(": note: "), words.warning}) (void)line.append(part);
    (void)put_line(line, stderr);
    return;
  }
  bool said_leftover = plan.clears_leftover && !plan.builds;
  bool shared = said_leftover || plan.drops_second_name;
  bool changes = dry_run_ ? plan.changes : outcome.made_change;
  (void)line.append(changes || shared ? (dry_run_ ? ": would change: " : ": changed: ") : ": no change: ");
  if (said_leftover) (void)line.append(dry_run_ ? kClearLeftover.would : kClearLeftover.did);
  if (said_leftover && plan.drops_second_name) (void)line.append(", then ");
  if (plan.drops_second_name) (void)line.append(dry_run_ ? kDropSecondName.would : kDropSecondName.did);
  if (shared) (void)line.append(plan.changes ? ", then " : "; ");
  (void)line.append(dry_run_ ? words.would : words.did);
  for (std::string_view more : {words.note, words.warning})
    if (!more.empty()) (void)(line.append("; ") && line.append(more));
  // The switch stands even where the line is lost (a closed pipe).
  (void)put_line(line, stdout);
}

int Run::report(const Plan& plan, const Outcome& outcome) {
  if (outcome.status == kFailed) return finish(report_failure(about_, outcome.failure, outcome.folder_now));
  if (outcome.status == kNothingHere)
    report_nothing_here();
  else
    report_done(plan, outcome);
  return finish(outcome.status);
}

int Run::finish(int status) {
  // A run started while the window is open must not wait for this one:
  // the folder lock and the open files go first.
  lock_.reset();
  facts_ = Facts();
  if (shown_) hold_window(status != kDone);
  return status;
}
