// Property test over generated description files: install then uninstall
// gives back the original bytes, a second install changes nothing, and a
// second rebuild changes nothing.  A file without an "mpentity" piece is
// refused by install, which then says so and changes nothing; a file that
// has the bot's lines already is left alone by install, and uninstall
// rebuilds it or, for an unknown game, refuses and changes nothing.  The
// generator is seeded: TEST_SEED picks another seed, TEST_FILES another
// count; the test prints both, and a failure names the seed and file.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "harness.h"

namespace {

// Lines as they stand in real files, markers in odd places among them.
const char* const kLines[] = {
    "game \"Firearms\"",        "game \"FireArms\"",
    "game \"Day of Defeat\"",   "game \"The Battle Grounds\"",
    "game \"Global Warfare\"",  "game \"Some Other Mod\"",
    "mpentity \"info_player_team1\"",
    "// mpentity in a comment", "gamedll \"dlls\\mod.dll\"",
    "gamedll_linux \"dlls/mod.so\"", "gamedll_osx \"dlls/mod.dylib\"",
    "detailed_textures \"1\"",  "",
    "// Day of Defeat",         "version \"1.0\"",
    "url_info \"100% %s %n %% %d\"", "\\\\server\\share\\",
    "startmap \"map\"",         "//gamedll \"addons\\metamod\\dlls\\metamod.dll\"",
    "gamedll \"tav_rel\\tav_rel.dll\"", "//gamedll \"TavRel\\tav_rel.dll\"",
};
const char* const kMarkers[] = {"mpentity", "gamedll_linux", "gamedll_osx",
                                "Day of Defeat", "game", "Firearms"};

// A line of 240 to 270 characters with a marker at a random place, often
// across the 255-character seam.
std::string long_line(std::mt19937& rng) {
  std::string line(std::uniform_int_distribution<>(240, 270)(rng), 'x');
  const char* marker = kMarkers[rng() % std::size(kMarkers)];
  size_t at = std::uniform_int_distribution<size_t>(0, line.size())(rng);
  return line.insert(at, marker);
}

// Half the files open with a title line and a quarter end on an mpentity
// line, often without a final line end, so that rebuilds are frequent.
std::string generate_file(std::mt19937& rng) {
  if (rng() % 20 == 0) return "";
  bool crlf = rng() % 3 == 0;
  int count = std::uniform_int_distribution<>(1, 30)(rng);
  bool title_first = rng() % 2 == 0;
  bool mpentity_last = rng() % 4 == 0;
  std::string file;
  for (int i = 0; i < count; ++i) {
    unsigned kind = rng() % 10;
    std::string line = kind < 2 ? long_line(rng) : kLines[rng() % std::size(kLines)];
    if (i == 0 && title_first) line = kLines[rng() % 6];
    if (i + 1 == count && mpentity_last) line = kind < 5 ? long_line(rng) + "mpentity" : "mpentity \"x\"";
    if (kind == 2) line += std::string("\0nul", 4);
    file += line;
    if (i + 1 < count || rng() % 3 != 0) file += (crlf != (rng() % 10 == 0)) ? "\r\n" : "\n";
  }
  return file;
}

// The environment variable |name| as a whole number from |least| to
// |most|: |fallback| when it is not set; a test failure (and |fallback|)
// when it is set to anything else, so that a typo cannot run no files.
unsigned long env_number(const char* name, unsigned long fallback,
                         unsigned long least, unsigned long most) {
  const char* text = std::getenv(name);
  if (text == nullptr) return fallback;
  char* end = nullptr;
  errno = 0;
  unsigned long value = std::strtoul(text, &end, 10);
  if (*text < '0' || *text > '9' || *end != '\0' || errno != 0 ||
      value < least || value > most) {
    ADD_FAILURE() << name << " must be a whole number from " << least
                  << " to " << most << ", not '" << text << "'";
    return fallback;
  }
  return value;
}

TEST(Roundtrip, GeneratedFiles) {
  unsigned long seed = env_number("TEST_SEED", 20261208, 0, 4294967295UL);
  unsigned long files = env_number("TEST_FILES", 300, 1, 1000000);
  if (HasFailure()) return;
  std::printf("seed %lu, %lu files\n", seed, files);
  std::mt19937 rng(seed);
  std::filesystem::path dir = make_scratch("roundtrip");
  for (unsigned long n = 0; n < files && !HasFailure(); ++n) {
    std::string original = generate_file(rng);
    std::string where = "seed " + std::to_string(seed) + ", file " + std::to_string(n);
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    write_file(dir / "liblist.gam", original);
    RunResult install = run_in(dir, "$INSTALL");
    bool switched = false;
    if (install.status == 1) {
      EXPECT_EQ(install.errors.rfind("install: cannot find \"mpentity\" in liblist.gam", 0), 0u)
          << install.errors << where;
      EXPECT_EQ(snapshot(dir), (Files{{"liblist.gam", original}})) << "refused, " << where;
    } else {
      EXPECT_EQ(install.status, 0) << install.errors << where;
      EXPECT_EQ(install.errors, "") << where;
      // Switched, or the bot's lines were there already and nothing changed.
      switched = snapshot(dir).count("liblist_tv_backup.gam") > 0;
      if (!switched) {
        EXPECT_EQ(snapshot(dir), (Files{{"liblist.gam", original}})) << "installed already, " << where;
      }
    }
    EXPECT_EQ(install.output, "") << where;
    Files installed = snapshot(dir);
    EXPECT_EQ(run_in(dir, "$INSTALL").status, install.status) << where;
    EXPECT_EQ(snapshot(dir), installed) << "second install, " << where;
    if (switched || install.status == 1) {
      // Restored, or nothing to undo in a file without a head.
      run_clean(dir, "$UNINSTALL", where);
      EXPECT_EQ(snapshot(dir), (Files{{"liblist.gam", original}})) << "install, uninstall, " << where;
      continue;
    }
    // The bot's lines without a backup: rebuilt for a known game, refused
    // for any other; a rebuilt file has nothing left to undo.
    RunResult rebuild = run_in(dir, "$UNINSTALL");
    if (rebuild.status == 1) {
      EXPECT_EQ(rebuild.errors.rfind("uninstall: liblist.gam still has the bot's lines", 0), 0u)
          << rebuild.errors << where;
      EXPECT_EQ(snapshot(dir), installed) << "unknown game, " << where;
      continue;
    }
    EXPECT_EQ(rebuild.status, 0) << rebuild.errors << where;
    Files rebuilt = snapshot(dir);
    run_clean(dir, "$UNINSTALL", where);
    EXPECT_EQ(snapshot(dir), rebuilt) << "second rebuild, " << where;
  }
  if (!HasFailure()) std::filesystem::remove_all(dir);
}

}  // namespace
