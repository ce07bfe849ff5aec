// Property test over generated description files.  From the pieces that
// each file falls into (255 bytes at most, ending after a line feed), the
// test knows what each program must do: install switches exactly when a
// piece holds "mpentity" and no later piece names the bot's library, and then writes
// the head, the bot block and the tail, byte for byte; uninstall puts the
// original back, rebuilds a file that names the bot without a backup (the
// game's stock lines, byte for byte), refuses an unknown game, and leaves a
// file with nothing to undo alone.  The generator is seeded: TEST_SEED
// picks another seed, TEST_FILES another count; the test prints both, and a
// failure names the seed and file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

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
    "gamedll \"tav_rel\\tav_rel.dll\"", "//gamedll \"TavRel\\TAV_REL.dll\"",
    "gamedll_linux \"tavrel/TAVREL.so\"", "// Tavrel Linux setting",
    "// Tavrel LAN game setting (if you aren't using any AdminMod/MetaMod)",
    "// Tavrel setting when you ARE using AdminMod/MetaMod", "Tav_Rel.dll, named first on its line",
};
const char* const kMarkers[] = {"mpentity", "gamedll_linux", "gamedll_osx", "TAVREL.so", "tav_rel.DLL",
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

// The pieces in which the programs read |text| (line ends as they read
// them: on Windows a CR LF is one line feed).
std::vector<std::string> pieces_of(const std::string& text) {
  std::vector<std::string> pieces(1);
  for (char c : text) {
    pieces.back() += c;
    if (c == '\n' || pieces.back().size() == 255) pieces.emplace_back();
  }
  if (pieces.back().empty()) pieces.pop_back();
  return pieces;
}

bool has(const std::string& piece, const char* marker) {
  return piece.find(marker) != std::string::npos;
}

// The fixed blocks, each line ended by a line feed: the bot's (for every
// game and for Day of Defeat) and the four games' own.
const std::string kBot = "\n// Tavrel LAN game setting (if you aren't using any AdminMod/MetaMod)\n"
                         "gamedll \"tav_rel\\tav_rel.dll\"\n\n// Tavrel setting when you ARE using "
                         "AdminMod/MetaMod\n//gamedll \"addons\\metamod\\dlls\\metamod.dll\"\n";
const std::string kDodBot = "\n// Tavrel LAN game setting (if you aren't using any AdminMod/MetaMod)\n"
                            "gamedll \"tavrel\\tav_rel.dll\"\n\n// Tavrel setting when you ARE using "
                            "AdminMod/MetaMod\n//gamedll \"addons\\metamod\\dlls\\metamod.dll\"\n"
                            "\n// Tavrel Linux setting\ngamedll_linux \"tavrel/tavrel.so\"\n\n";
const char* const kGames[] = {
    "gamedll \"dlls\\firearms.dll\"\ngamedll_linux \"dlls/fa_i386.so\"\n\n//startmap \"TBD\"\n//trainingmap \"TBD\"\n",
    "gamedll \"dlls\\dod.dll\"\ngamedll_linux \"dlls/dod.so\"\ngamedll_osx \"dlls/dod.dylib\"\ndetailed_textures \"1\"\n",
    "gamedll \"dlls/bg.dll\"\ngamedll_linux \"dlls/bg_i386.so\"\n",
    "\ngamedll \"dlls\\mp.dll\"\n\ngamedll_linux \"dlls/gw_i386.so\"\nnomodels \"1\"\n"};

// |block| with every line feed made |line_end|.
std::string ended(const std::string& block, const std::string& line_end) {
  std::string out;
  for (char c : block)
    if (c == '\n') out += line_end; else out += c;
  return out;
}

// What the programs must make of a file: |head| pieces, up to the first
// that holds "mpentity" and on to the end of its line (none: |head| is 0),
// whether a later piece names the bot's library, and the files that
// install and a rebuild must write.
struct Expected {
  size_t head = 0;
  bool bot = false;
  std::string installed, rebuilt;  // rebuilt is empty for an unknown game
};

Expected expect(const std::string& text) {
  std::vector<std::string> pieces = pieces_of(text);
  Expected e;
  size_t tested = 0;  // the pieces tested for titles: up to the first "mpentity"
  while (tested < pieces.size() && e.head == 0)
    if (has(pieces[tested++], "mpentity")) e.head = tested;
  if (e.head == 0) return e;
  while (e.head < pieces.size() && pieces[e.head - 1].back() != '\n') ++e.head;
  std::string head;
  const char* first_end = nullptr;
  bool dod = false;
  int game = 4;
  for (size_t i = 0; i < e.head; ++i) {
    const std::string& p = pieces[i];
    head += p;
    if (!first_end && p.back() == '\n') first_end = p.size() >= 2 && p[p.size() - 2] == '\r' ? "\r\n" : "\n";
    if (i >= tested) continue;
    dod = dod || has(p, "Day of Defeat");
    int title = !has(p, "game") ? 4 : has(p, "Firearms") || has(p, "FireArms") ? 0
              : has(p, "Day of Defeat") ? 1 : has(p, "Battle Grounds") ? 2
              : has(p, "Global Warfare") ? 3 : 4;
    game = std::min(game, title);
  }
  const std::string line_end = first_end ? first_end : "\n";
  e.installed = head + ended(dod ? kDodBot : kBot, line_end);
  // The tail: from the start of the line with the first piece that holds
  // the marker.
  std::string line, tail;
  for (size_t i = e.head; i < pieces.size(); ++i) {
    std::string lower = pieces[i];
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    e.bot = e.bot || has(lower, "tav_rel.dll") || has(lower, "tavrel.so");
    line += pieces[i];
    if (tail.empty() && has(pieces[i], dod ? "gamedll_osx" : "gamedll_linux")) tail = line;
    else if (!tail.empty()) tail += pieces[i];
    if (pieces[i].back() == '\n') line.clear();
  }
  e.installed += tail;
  if (game < 4) e.rebuilt = head + (head.back() == '\n' ? "" : line_end) + ended(kGames[game], line_end);
  return e;
}

// The environment variable |name| as a whole number from |least| to
// |most|: |fallback| when it is not set; a test failure when it is set to
// anything else, so that a typo cannot run no files.
unsigned long env_number(const char* name, unsigned long fallback,
                         unsigned long least, unsigned long most) {
  std::string_view text = std::getenv(name) ? std::getenv(name) : "";
  unsigned long value = fallback;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (!text.empty() && (error != std::errc() || end != text.data() + text.size() || value < least || value > most))
    ADD_FAILURE() << name << " must be a whole number from " << least << " to " << most << ", not '" << text << "'";
  return value;
}

// Installs |original|, laid out in |dir|, twice: what the model |e| says
// each run leaves.
void check_install(const std::filesystem::path& dir, const std::string& original, const Expected& e,
                   const std::string& where) {
  Files plain{{"liblist.gam", original}};
  RunResult install = run_in(dir, "$INSTALL");
  EXPECT_EQ(install.output, "") << where;
  if (e.head == 0) {
    EXPECT_EQ(install.status, 1) << where;
    EXPECT_EQ(install.errors.rfind("install: cannot find \"mpentity\" in liblist.gam", 0), 0u)
        << install.errors << where;
    EXPECT_EQ(snapshot(dir), plain) << "refused, " << where;
  } else {
    EXPECT_EQ(install.status, 0) << install.errors << where;
    EXPECT_EQ(install.errors, "") << where;
    Files want = e.bot ? plain
                       : Files{{"liblist.gam", for_platform(e.installed)}, {"liblist_tv_backup.gam", original}};
    EXPECT_EQ(snapshot(dir), want) << (e.bot ? "installed already, " : "installed, ") << where;
  }
  Files installed = snapshot(dir);
  EXPECT_EQ(run_in(dir, "$INSTALL").status, install.status) << where;
  EXPECT_EQ(snapshot(dir), installed) << "second install, " << where;
}

// Then uninstalls twice: the original back, or, from the bot's lines
// without a backup, rebuilt for a known game and refused for any other; a
// rebuilt file has nothing left to undo.
void check_uninstall(const std::filesystem::path& dir, const std::string& original, const Expected& e,
                     const std::string& where) {
  Files plain{{"liblist.gam", original}};
  if (!e.bot) {
    // Restored, or nothing to undo.
    EXPECT_EQ(said(run_in(dir, "$UNINSTALL")), "") << where;
    EXPECT_EQ(snapshot(dir), plain) << "install, uninstall, " << where;
    return;
  }
  RunResult rebuild = run_in(dir, "$UNINSTALL");
  if (e.rebuilt.empty()) {
    EXPECT_EQ(rebuild.status, 1) << where;
    EXPECT_EQ(rebuild.errors.rfind("uninstall: liblist.gam still has the bot's lines", 0), 0u)
        << rebuild.errors << where;
    EXPECT_EQ(snapshot(dir), plain) << "unknown game, " << where;
    return;
  }
  EXPECT_EQ(rebuild.status, 0) << rebuild.errors << where;
  Files rebuilt{{"liblist.gam", for_platform(e.rebuilt)}};
  EXPECT_EQ(snapshot(dir), rebuilt) << "rebuilt, " << where;
  EXPECT_EQ(said(run_in(dir, "$UNINSTALL")), "") << where;
  EXPECT_EQ(snapshot(dir), rebuilt) << "second rebuild, " << where;
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
    lay_bot_library(dir);
    write_file(dir / "liblist.gam", original);
    Expected e = expect(env_flag("TEST_WINDOWS") ? to_lf(original) : original);
    check_install(dir, original, e, where);
    check_uninstall(dir, original, e, where);
  }
  if (!HasFailure()) std::filesystem::remove_all(dir);
}

}  // namespace
