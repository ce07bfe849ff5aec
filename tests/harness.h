// Helpers shared by the black-box tests: files as bytes, scratch folders,
// and running the programs there.
#pragma once

#include <filesystem>
#include <map>
#include <string>

struct RunResult {
  int status;          // exit status, or -1 when the command did not exit
  std::string output;  // standard output
  std::string errors;  // standard error, with LF line ends
};

std::string read_file(const std::filesystem::path& path);
void write_file(const std::filesystem::path& path, const std::string& bytes);
std::string to_lf(const std::string& bytes);
std::string to_crlf(const std::string& bytes);

// Every entry under a folder by its path there: regular files by their
// bytes, symbolic links as "-> target", folders as "NAME/".
using Files = std::map<std::string, std::string>;
Files snapshot(const std::filesystem::path& dir);

// Whether the programs under test write CR LF (TEST_WINDOWS=1).
bool windows_mode();
std::filesystem::path cases_dir();

// A new empty folder for |name| under the system's temporary folder.
std::filesystem::path make_scratch(const std::string& name);

// Runs |command| with sh in |dir|; $INSTALL and $UNINSTALL name the programs.
RunResult run_in(const std::filesystem::path& dir, const std::string& command);

// Runs |command| in |dir| like run_in() and adds a test failure, naming
// |context|, unless it exits 0 and prints nothing: a program that failed to
// start (under an emulator, say) names itself instead of leaving a wrong file.
// Returns the result.
RunResult run_clean(const std::filesystem::path& dir,
                    const std::string& command, const std::string& context);
