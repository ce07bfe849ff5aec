#include "harness.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace {

std::string env_or(const char* name, const char* fallback) {
  const char* value = std::getenv(name);
  return value ? value : fallback;
}

}  // namespace

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void write_file(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

Files snapshot(const fs::path& dir, bool with_library, bool with_stat) {
  Files files;
  if (!fs::exists(dir)) return files;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    fs::path relative = entry.path().lexically_relative(dir);
    if (!with_library && std::count_if(relative.begin(), relative.end(), [](const fs::path& part) {
          return part == "tav_rel" || part == "tavrel";
        }))
      continue;
    bool folder = !entry.is_symlink() && entry.is_directory();
    std::string& bytes = files[relative.string() + (folder ? "/" : "")];
    if (entry.is_symlink())
      bytes = "-> " + fs::read_symlink(entry.path()).string();
    else if (!folder)
      bytes = entry.is_regular_file() ? read_file(entry.path()) : "(not a regular file)";
    struct stat about;
    if (with_stat && lstat(entry.path().c_str(), &about) == 0)
      bytes += " mode " + std::to_string(about.st_mode) + " at " + std::to_string(about.st_mtim.tv_sec) +
               "." + std::to_string(about.st_mtim.tv_nsec);
  }
  return files;
}

void lay_bot_library(const fs::path& dir) {
  for (const char* path : {"tav_rel/tav_rel.dll", "tavrel/tav_rel.dll", "tavrel/tavrel.so"}) {
    fs::create_directories((dir / path).parent_path());
    write_file(dir / path, "");
  }
}

std::string to_lf(const std::string& bytes) {
  std::string out;
  for (size_t i = 0; i < bytes.size(); ++i)
    if (!(bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n'))
      out += bytes[i];
  return out;
}

static std::string to_crlf(const std::string& bytes) {
  std::string out;
  for (char c : bytes) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

std::string for_platform(const std::string& bytes) {
  return env_flag("TEST_WINDOWS") ? to_crlf(to_lf(bytes)) : bytes;
}

bool env_flag(const char* name) {
  return env_or(name, "0") == "1";
}

fs::path cases_dir() {
  return env_or("TEST_CASES", "cases");
}

fs::path make_scratch(const std::string& name) {
  fs::path dir = fs::temp_directory_path() /
                 ("modtest-" + std::to_string(getpid()) + "-" + name);
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

RunResult run_in(const fs::path& dir, const std::string& command) {
  setenv("INSTALL", env_or("TEST_INSTALL", "install").c_str(), 1);
  setenv("UNINSTALL", env_or("TEST_UNINSTALL", "uninstall").c_str(), 1);
  setenv("INJECT", (cases_dir().parent_path() / "inject.sh").c_str(), 1);
  setenv("ACCOUNT", "setpriv --reuid=4242 --regid=4343 --clear-groups", 1);
  fs::path output = dir.string() + ".out", errors = dir.string() + ".err", script = dir.string() + ".sh";
  write_file(script, "ulimit -f 65536\n" + command + "\n");
  std::string line = "cd '" + dir.string() + "' && timeout -k 5 30 sh '" + script.string() + "' >'" +
                     output.string() + "' 2>'" + errors.string() + "'";
  int status = std::system(line.c_str());
  RunResult result{WIFEXITED(status) ? WEXITSTATUS(status) : -1, read_file(output), read_file(errors)};
  for (const fs::path& file : {output, errors, script}) fs::remove(file);
  return result;
}

std::string said(const RunResult& result) {
  std::string said = result.status == 0 ? "" : "exit " + std::to_string(result.status) + "\n";
  for (auto [stream, text] : {std::pair{"stdout: ", &result.output}, std::pair{"stderr: ", &result.errors}}) {
    std::istringstream lines(to_lf(*text));
    for (std::string line; std::getline(lines, line);) said += stream + line + "\n";
    if (!text->empty() && text->back() != '\n') said += "(no line end)\n";
  }
  return said;
}
