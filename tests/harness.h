// Helpers shared by the black-box tests: files as bytes, scratch folders,
// and running the programs there.
#pragma once

#include <filesystem>
#include <map>
#include <string>

struct RunResult {
  int status;          // exit status, or -1 when the command did not exit
  std::string output;  // standard output
  std::string errors;  // standard error
};

std::string read_file(const std::filesystem::path& path);
void write_file(const std::filesystem::path& path, const std::string& bytes);
std::string to_lf(const std::string& bytes);
// |bytes| as the programs of this leg write them: CR LF line ends where
// TEST_WINDOWS=1, else as they are.
std::string for_platform(const std::string& bytes);

// Every entry under a folder by its path there: regular files by their
// bytes, symbolic links as "-> target", folders as "NAME/"; the bot's
// library folders (tav_rel/, tavrel/) only |with_library|; |with_stat|,
// each with its mode and modification time after it.
using Files = std::map<std::string, std::string>;
Files snapshot(const std::filesystem::path& dir, bool with_library = false, bool with_stat = false);

// Lays the bot's library into the mod folder |dir| as empty files, as the
// user is told to: tav_rel/tav_rel.dll, tavrel/tav_rel.dll, tavrel/tavrel.so.
void lay_bot_library(const std::filesystem::path& dir);

std::filesystem::path cases_dir();

// A new empty folder for |name| under the system's temporary folder.
std::filesystem::path make_scratch(const std::string& name);

// Runs |command| with sh in |dir|, within 30 seconds and a file-size limit
// of 64 MiB: $INSTALL and $UNINSTALL name the programs, $INJECT the fault
// injector, $ACCOUNT a prefix that runs a command as the account 4242:4343.
RunResult run_in(const std::filesystem::path& dir, const std::string& command);

// What a run said, as a case's transcript has it: "exit N" where its
// status N is not 0, then each line of standard output as "stdout: LINE"
// and of standard error as "stderr: LINE" (LF line ends); empty for a run
// that exits 0 and prints nothing.
std::string said(const RunResult& result);

// Whether the environment variable |name| is "1".
bool env_flag(const char* name);
