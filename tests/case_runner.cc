// Runs the programs on the cases under tests/cases and compares every file
// they leave with the expected bytes.
//
// A case is a folder:
//   before/   the mod folder before the run, folders in it too (symbolic
//             links are kept as links)
//   after/    exactly the files that must be there afterwards
//   after.windows/, transcript.windows   what the Windows programs must
//             leave and say instead, where that differs
//   before/.links, after/.links   names that are one file, hard links of
//             each other: one group of names per line (no other names may
//             share a file afterwards)
//   before/.modes, after/.modes   "NAME MODE" (octal) per line: modes that
//             are set before and must hold afterwards ("." is the folder)
//   before/.owners   "NAME UID:GID" per line: owners set before (a link's
//             own); before/.flags   "NAME LETTERS" per line: chattr flags
//             (i, a) set before and cleared after the case
//   run       the commands, one per line, each run by sh in the scratch
//             folder with $INSTALL and $UNINSTALL naming the programs,
//             $INJECT the fault injector (tests/inject.sh) and $ACCOUNT a
//             prefix that runs a command as the account 4242:4343
//   transcript    what the commands must say: each command's line, then
//             "exit N" when its status N is not 0, then its lines on
//             standard output ("stdout: ") and standard error ("stderr: ");
//             without this file every command must exit 0 and print nothing
//   no-library    present when the bot's library is not to be laid into
//             every mod folder (see below)
//   native-only   present when the case needs POSIX tools (strace, ulimit,
//             symbolic links) on the programs themselves, and so is skipped
//             for programs run by an emulator: the Windows programs under
//             Wine, and 32-bit programs where the kernel does not run them
//   root-only     present when the case needs root (owners, flags, other
//             accounts); skipped otherwise
//
// The bot's library is laid into every folder that holds liblist.gam or the
// backup, and left out of every comparison, unless the case is about it:
// it has no-library, or tav_rel/ or tavrel/ in before/.
//
// A dry run is the run's twin: before each command that runs a program
// plainly ($INSTALL or $UNINSTALL with options and a folder, perhaps after
// $ACCOUNT), the same command runs with --dry-run.  It must leave every
// name, byte, mode and modification time as it was, exit as the real run
// then does, refuse with the run's words (its line up to the last "; ")
// where the run fails, and say "would change" exactly where the run
// changes the folder.
//
// A case with symbolic links in it, or one that makes FIFOs or links, is
// skipped where the scratch folders' file system (TMPDIR) cannot hold them
// (FAT, exFAT).
//
// Environment: TEST_CASES (the cases folder), TEST_INSTALL, TEST_UNINSTALL
// (the program commands, an emulator in front where needed), TEST_WINDOWS=1
// for programs whose text mode writes CR LF: inputs are then given CR LF
// line ends and every expected file is compared in CR LF, and
// TEST_EMULATED=1 for programs run by an emulator.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "harness.h"

namespace fs = std::filesystem;

namespace {

// The lines of the case file |path|, each split into words.
std::vector<std::vector<std::string>> lines_of(const fs::path& path) {
  std::vector<std::vector<std::string>> lines;
  std::istringstream text(fs::exists(path) ? read_file(path) : "");
  for (std::string line; std::getline(text, line);) {
    std::istringstream words(line);
    lines.emplace_back(std::istream_iterator<std::string>(words), std::istream_iterator<std::string>());
  }
  return lines;
}

// Runs |command| for the case set-up; false where it failed.
bool shell(const std::string& command) {
  return std::system(command.c_str()) == 0;
}

// The files of a case folder that describe its other files.
const char* const kDescriptions[] = {".links", ".modes", ".owners", ".flags"};

// Clears the chattr flags that a case set in |scratch|, so that it can be
// removed.
void clear_flags(const fs::path& scratch) {
  shell("chattr -R -ia '" + scratch.string() + "' 2>/dev/null");
}

// Lays out |to| as the case's |from|: false, its flags cleared, where they
// cannot be set.
bool set_up_folder(const fs::path& from, const fs::path& to) {
  if (!fs::exists(from)) return true;
  fs::copy(from, to, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
  for (const auto& entry : fs::recursive_directory_iterator(to))
    if (!entry.is_symlink() && entry.is_regular_file())
      write_file(entry.path(), for_platform(read_file(entry.path())));
  for (const auto& names : lines_of(from / ".links"))
    for (size_t i = 1; i < names.size(); ++i) {
      fs::remove(to / names[i]);
      fs::create_hard_link(to / names[0], to / names[i]);
    }
  for (const char* file : kDescriptions) fs::remove(to / file);
  for (const auto& line : lines_of(from / ".owners")) shell("chown -h " + line[1] + " '" + (to / line[0]).string() + "'");
  for (const auto& line : lines_of(from / ".modes"))
    fs::permissions(to / line[0], fs::perms(std::stoi(line[1], nullptr, 8)));
  for (const auto& line : lines_of(from / ".flags"))
    if (!shell("chattr +" + line[1] + " '" + (to / line[0]).string() + "' 2>/dev/null")) {
      clear_flags(to);
      return false;
    }
  return true;
}

std::vector<std::string> all_cases() {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(cases_dir()))
    if (entry.is_directory()) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// Whether the file system of the scratch folders can hold symbolic links
// and FIFOs.
bool posix_files() {
  static const bool known = [] {
    fs::path probe = make_scratch("probe");
    std::error_code failed;
    fs::create_symlink("target", probe / "link", failed);
    bool posix = !failed && mkfifo((probe / "fifo").c_str(), 0600) == 0;
    fs::remove_all(probe);
    return posix;
  }();
  return known;
}

// Whether the case |dir| needs symbolic links, FIFOs, hard links or modes.
bool needs_posix_files(const fs::path& dir) {
  for (const char* side : {"before", "after"}) {
    if (fs::exists(dir / side / ".links")) return true;
    if (fs::exists(dir / side))
      for (const auto& entry : fs::recursive_directory_iterator(dir / side))
        if (entry.is_symlink()) return true;
  }
  std::string run = read_file(dir / "run");
  return run.find("mkfifo") != std::string::npos || run.find("ln ") != std::string::npos ||
         fs::exists(dir / "before/.modes");
}

// Why the case |dir| is skipped on this leg; empty where it runs.
std::string skipped(const fs::path& dir) {
  bool emulated = env_flag("TEST_WINDOWS") || env_flag("TEST_EMULATED");
  if (emulated && fs::exists(dir / "native-only")) return "needs POSIX tools on the programs themselves";
  if (fs::exists(dir / "root-only") && (geteuid() != 0 || emulated))
    return "needs root, and the native programs, to give files to other accounts and set their flags";
  if (needs_posix_files(dir) && !posix_files()) return "needs links and FIFOs, which this file system lacks";
  return "";
}

// The case file |name|, or its Windows form where the leg has one.
fs::path case_file(const fs::path& dir, const std::string& name) {
  return env_flag("TEST_WINDOWS") && fs::exists(dir / (name + ".windows")) ? dir / (name + ".windows") : dir / name;
}

// |command| as a dry run, where it runs a program plainly and is no dry
// run itself; empty otherwise.
std::string dry_run_of(const std::string& command) {
  size_t at = command.rfind("$ACCOUNT ", 0) == 0 ? 9 : 0;
  std::istringstream words(command);
  for (std::string word; words >> word;)
    if (word == "--dry-run" || (word.size() > 1 && word[0] == '-' && word.find_first_not_of("nv", 1) == std::string::npos &&
                                word.find('n') != std::string::npos))
      return "";
  for (const char* program : {"$INSTALL", "$UNINSTALL"})
    if (command.compare(at, std::strlen(program), program) == 0 &&
        command.find_first_of(";|&<>'\"") == std::string::npos)
      return std::string(command).insert(at + std::strlen(program), " --dry-run");
  return "";
}

// A failure line up to its last "; ", where it says what the folder holds.
std::string refusal_of(const std::string& errors) {
  return errors.substr(0, errors.rfind("; "));
}

// Runs |command| in |scratch|, after its dry run where it has one, and
// checks that the two are twins: what it said, for the transcript.
std::string run_with_twin(const fs::path& scratch, const std::string& command) {
  std::string dry = dry_run_of(command);
  if (dry.empty()) return said(run_in(scratch, command));
  Files before = snapshot(scratch, true, true);
  RunResult foreseen = run_in(scratch, dry);
  EXPECT_EQ(snapshot(scratch, true, true), before) << "a dry run changed the folder: " << command;
  RunResult result = run_in(scratch, command);
  EXPECT_EQ(foreseen.status, result.status) << "the dry run's status: " << command;
  bool changed = snapshot(scratch, true, true) != before;
  if (result.status != 0) {
    EXPECT_EQ(refusal_of(foreseen.errors), refusal_of(result.errors)) << command;
  } else {
    EXPECT_EQ(foreseen.output.find(": would change: ") != std::string::npos, changed)
        << "the dry run said '" << foreseen.output << "': " << command;
  }
  return said(result);
}

// Checks that the names in |scratch| that |after|/.links groups are one
// file, and no others, and that they have the modes of |after|/.modes.
void expect_links_and_modes(const fs::path& scratch, const fs::path& after) {
  size_t linked = 0, listed = 0;
  for (const auto& entry : fs::recursive_directory_iterator(scratch))
    linked += !entry.is_symlink() && entry.is_regular_file() && entry.hard_link_count() > 1;
  for (const auto& names : lines_of(after / ".links")) {
    listed += names.size();
    for (const auto& name : names)
      EXPECT_TRUE(fs::equivalent(scratch / name, scratch / names[0])) << name << " is not " << names[0];
  }
  EXPECT_EQ(linked, listed) << "names that are one file";
  for (const auto& line : lines_of(after / ".modes")) {
    if (env_flag("TEST_WINDOWS")) break;
    EXPECT_EQ(fs::symlink_status(scratch / line[0]).permissions(), fs::perms(std::stoi(line[1], nullptr, 8)))
        << "mode of " << line[0];
  }
}

class Case : public testing::TestWithParam<std::string> {};

TEST_P(Case, LeavesExactlyTheExpectedFiles) {
  fs::path dir = cases_dir() / GetParam();
  if (std::string why = skipped(dir); !why.empty()) GTEST_SKIP() << why;
  fs::path scratch = make_scratch(GetParam());
  if (!set_up_folder(dir / "before", scratch)) GTEST_SKIP() << "chattr is refused here";
  bool about_library = fs::exists(dir / "no-library") ||
                       snapshot(dir / "before", true).size() != snapshot(dir / "before").size();
  for (const auto& [name, bytes] : about_library ? Files() : snapshot(scratch))
    if (fs::path(name).filename() == "liblist.gam" || fs::path(name).filename() == "liblist_tv_backup.gam")
      lay_bot_library((scratch / name).parent_path());

  // What the commands said, and what they must say: without a transcript
  // file, only their own lines.
  std::istringstream commands(read_file(dir / "run"));
  std::string command, transcript, expected_transcript;
  while (std::getline(commands, command)) {
    if (command.empty()) continue;
    transcript += command + "\n" + run_with_twin(scratch, command);
    expected_transcript += command + "\n";
  }
  if (fs::exists(dir / "before/.flags")) clear_flags(scratch);
  if (fs::exists(case_file(dir, "transcript"))) expected_transcript = read_file(case_file(dir, "transcript"));
  EXPECT_EQ(transcript, expected_transcript) << "what the commands said";

  fs::path after = case_file(dir, "after");
  expect_links_and_modes(scratch, after);
  Files expected = snapshot(after, about_library);
  for (const char* file : kDescriptions) expected.erase(file);
  for (auto& [name, bytes] : expected)
    if (bytes.rfind("-> ", 0) != 0 && name.back() != '/') bytes = for_platform(bytes);
  EXPECT_EQ(snapshot(scratch, about_library), expected) << "the files left";
  if (!HasFailure()) fs::remove_all(scratch);
}

INSTANTIATE_TEST_SUITE_P(Cases, Case, testing::ValuesIn(all_cases()),
                         [](const auto& info) { return info.param; });

}  // namespace
