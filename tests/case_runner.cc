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
//             are set before and must hold afterwards
//   run       the commands, one per line, each run by sh in the scratch
//             folder with $INSTALL and $UNINSTALL naming the programs and
//             $INJECT the fault injector (tests/inject.sh)
//   transcript    what the commands must say: each command's line, then
//             "exit N" when its status N is not 0, then what it printed on
//             standard output and standard error; without this file every
//             command must exit 0 and print nothing
//   no-library    present when the bot's library is not to be laid into
//             every mod folder (see below)
//   native-only   present when the case needs POSIX tools (strace, ulimit,
//             symbolic links) on the programs themselves, and so is skipped
//             for programs run by an emulator: the Windows programs under
//             Wine, and 32-bit programs where the kernel does not run them
//
// The bot's library is laid into every folder that holds liblist.gam or the
// backup, and left out of every comparison, unless the case is about it:
// it has no-library, or tav_rel/ or tavrel/ in before/.
//
// Before each command that is exactly $INSTALL or $UNINSTALL, the same
// program runs with --dry-run: it must leave every name, byte, mode and
// modification time as it was, and exit as the real run then does.
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

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "harness.h"

namespace fs = std::filesystem;

namespace {

std::string for_platform(const std::string& bytes) {
  return env_flag("TEST_WINDOWS") ? to_crlf(to_lf(bytes)) : bytes;
}

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

void set_up_folder(const fs::path& from, const fs::path& to) {
  if (!fs::exists(from)) return;
  fs::copy(from, to, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
  for (const auto& entry : fs::recursive_directory_iterator(to))
    if (!entry.is_symlink() && entry.is_regular_file())
      write_file(entry.path(), for_platform(read_file(entry.path())));
  for (const auto& names : lines_of(from / ".links"))
    for (size_t i = 1; i < names.size(); ++i) {
      fs::remove(to / names[i]);
      fs::create_hard_link(to / names[0], to / names[i]);
    }
  for (const auto& line : lines_of(from / ".modes"))
    fs::permissions(to / line[0], fs::perms(std::stoi(line[1], nullptr, 8)));
  fs::remove(to / ".links");
  fs::remove(to / ".modes");
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
  static int known = -1;
  if (known < 0) {
    fs::path probe = make_scratch("probe");
    std::error_code failed;
    fs::create_symlink("target", probe / "link", failed);
    known = !failed && mkfifo((probe / "fifo").c_str(), 0600) == 0;
    fs::remove_all(probe);
  }
  return known == 1;
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

// The case file |name|, or its Windows form where the leg has one.
fs::path case_file(const fs::path& dir, const std::string& name) {
  return env_flag("TEST_WINDOWS") && fs::exists(dir / (name + ".windows")) ? dir / (name + ".windows") : dir / name;
}

// Every entry under |dir| with its mode and modification time as well.
Files stated(const fs::path& dir) {
  Files files = snapshot(dir);
  for (auto& [name, bytes] : files) {
    struct stat about;
    if (lstat((dir / name).c_str(), &about) == 0)
      bytes += " mode " + std::to_string(about.st_mode) + " at " + std::to_string(about.st_mtim.tv_sec) + "." +
               std::to_string(about.st_mtim.tv_nsec);
  }
  return files;
}

class Case : public testing::TestWithParam<std::string> {};

TEST_P(Case, LeavesExactlyTheExpectedFiles) {
  fs::path dir = cases_dir() / GetParam();
  if ((env_flag("TEST_WINDOWS") || env_flag("TEST_EMULATED")) && fs::exists(dir / "native-only"))
    GTEST_SKIP() << "needs POSIX tools on the programs themselves";
  if (needs_posix_files(dir) && !posix_files())
    GTEST_SKIP() << "needs links and FIFOs, which this file system lacks";
  fs::path scratch = make_scratch(GetParam());
  set_up_folder(dir / "before", scratch);
  bool about_library = fs::exists(dir / "no-library") ||
                       snapshot(dir / "before", true).size() != snapshot(dir / "before").size();
  for (const auto& [name, bytes] : about_library ? Files() : snapshot(scratch))
    if (fs::path(name).filename() == "liblist.gam" || fs::path(name).filename() == "liblist_tv_backup.gam")
      lay_bot_library((scratch / name).parent_path());

  std::istringstream commands(read_file(dir / "run"));
  // What the commands said, and what they must say: without a transcript
  // file, only their own lines.
  std::string command, transcript, expected_transcript;
  while (std::getline(commands, command)) {
    if (command.empty()) continue;
    bool plain = command == "$INSTALL" || command == "$UNINSTALL";
    int foreseen = 0;
    if (plain) {
      Files before = stated(scratch);
      foreseen = run_in(scratch, command + " --dry-run").status;
      EXPECT_EQ(stated(scratch), before) << "a dry run changed the folder: " << command;
    }
    RunResult result = run_in(scratch, command);
    EXPECT_TRUE(!plain || foreseen == result.status) << "the dry run's status " << foreseen << ": " << command;
    transcript += command + "\n" + said(result);
    expected_transcript += command + "\n";
  }
  if (fs::exists(case_file(dir, "transcript"))) expected_transcript = read_file(case_file(dir, "transcript"));
  EXPECT_EQ(transcript, expected_transcript) << "what the commands said";

  // Names of one file: those that after/.links groups, and no others.
  size_t linked = 0, listed = 0;
  for (const auto& entry : fs::recursive_directory_iterator(scratch))
    linked += !entry.is_symlink() && entry.is_regular_file() && entry.hard_link_count() > 1;
  fs::path after = case_file(dir, "after");
  for (const auto& names : lines_of(after / ".links")) {
    listed += names.size();
    for (const auto& name : names)
      EXPECT_TRUE(fs::equivalent(scratch / name, scratch / names[0])) << name << " is not " << names[0];
  }
  EXPECT_EQ(linked, listed) << "names that are one file";
  for (const auto& line : lines_of(after / ".modes")) {
    if (env_flag("TEST_WINDOWS")) break;
    EXPECT_EQ(fs::status(scratch / line[0]).permissions(), fs::perms(std::stoi(line[1], nullptr, 8)))
        << "mode of " << line[0];
  }
  Files expected = snapshot(after, about_library);
  expected.erase(".links");
  expected.erase(".modes");
  for (auto& [name, bytes] : expected)
    if (bytes.rfind("-> ", 0) != 0 && name.back() != '/') bytes = for_platform(bytes);
  EXPECT_EQ(snapshot(scratch, about_library), expected) << "the files left";
  if (!HasFailure()) fs::remove_all(scratch);
}

INSTANTIATE_TEST_SUITE_P(Cases, Case, testing::ValuesIn(all_cases()),
                         [](const auto& info) { return info.param; });

}  // namespace
