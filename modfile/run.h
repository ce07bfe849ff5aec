// The run of either program, from its command line to its last line: what
// each program brings to it, and the part that does not depend on the
// program.
#pragma once

#include <optional>
#include <span>

#include "modfile.h"
#include "process.h"

// What each program says of itself.
struct About {
  const char* name;     // "install"
  const char* usage;    // the first lines of --help
  const char* success;  // what exit status 0 means, for --help
};

// A program's decision: the plan, and the program's own step that carries
// it out (its value-initialised Step is none).
template <class Step>
struct Decision {
  Plan plan;
  Step step{};
};

// What a program brings to the run: |Own| holds the facts that only it
// reads, |Step| names its own steps.
template <class Own, class Step>
struct Program {
  About about;
  // Reads the program's own facts, after the shared ones.
  Own (*read_own)(const Facts&);
  // The decision table, from facts that passed the shared refusals: no
  // file-system call.  The backup is missing where it was only a second
  // name of liblist.gam.
  Decision<Step> (*decide)(const Facts&, const Own&);
  // Carries out the program's own step of a plan that changes the folder.
  Outcome (*carry_out)(Facts&, Step, const Plan&);
};

// A run of either program, from its command line to its last line: the
// parts that do not depend on the program.
class Run {
 public:
  // Reads the command line, enters the mod folder, takes its lock and
  // reads what the folder holds.
  Run(const About& about, std::span<const char* const> words);
  Run(const Run&) = delete;
  Run& operator=(const Run&) = delete;

  // The exit status where the run ended before a plan (--help, an option
  // refused, a folder that cannot be entered).
  std::optional<int> ended() const { return ended_; }
  Facts& facts() { return facts_; }
  bool dry_run() const { return dry_run_; }
  // The plan that ends the run with one of the refusals that come before
  // any decision (refuse_unsafe()).
  std::optional<Plan> refused() const;
  // |decided| with the shared steps that it takes added.
  Plan with_shared_steps(Plan decided) const;
  // Carries out the shared steps of |plan| that come before the program's
  // own: how they failed, if they did.
  std::optional<Outcome> start_steps(const Plan& plan);
  // Prints how the run ended, as the options ask, and keeps a window of
  // its own open a moment: the exit status.
  int report(const Plan& plan, const Outcome& outcome);
  // Lets go of the folder, then keeps a window of its own open a moment:
  // |status|.
  int finish(int status);

 private:
  // Reads the command line: nothing, or the status to exit with at once
  // (after --help, --version, or a word that is refused).
  std::optional<int> read_options(std::span<const char* const> words);
  // Enters the mod folder named: nothing, or the status of the failure.
  std::optional<int> enter();
  // Prints the line for a folder with nothing to switch.
  void report_nothing_here() const;
  // Prints what a run that ended well did, or would do, as the options ask.
  void report_done(const Plan& plan, const Outcome& outcome) const;

  const About& about_;
  bool shown_ = false;  // the console is the program's own
  bool dry_run_ = false;
  bool verbose_ = false;
  const char* folder_name_ = nullptr;  // as given; nullptr for the current one
  std::optional<int> ended_;
  std::optional<FolderLock> lock_;
  Facts facts_;
};

// Runs |program| with its command line: reads the folder, decides, and
// carries the plan out or shows it; prints the lines; the exit status.
template <class Own, class Step>
int run_program(const Program<Own, Step>& program, std::span<const char* const> words) {
  Run run(program.about, words);
  if (std::optional<int> status = run.ended()) return run.finish(*status);
  Decision<Step> decision;
  std::optional<Own> own;  // lives as long as the plan that may point into it
  if (std::optional<Plan> refused = run.refused())
    decision.plan = *refused;
  else
    decision = program.decide(run.facts(), own.emplace(program.read_own(run.facts())));
  Plan plan = run.with_shared_steps(decision.plan);
  Outcome outcome = plan.outcome;
  if (!run.dry_run()) {
    if (std::optional<Outcome> failure = run.start_steps(plan))
      outcome = *failure;
    else if (plan.changes)
      outcome = program.carry_out(run.facts(), decision.step, plan);
  }
  return run.report(plan, outcome);
}
