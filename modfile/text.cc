// Reading a mod description file once, in blocks, and testing its pieces
// for what both programs decide from.
#include <algorithm>
#include <cstring>

#include "modfile.h"

namespace {

// The line end that ends |piece|: "\r\n", "\n", or empty for none.
std::string_view line_end_of(std::string_view piece) {
  if (!piece.ends_with('\n')) return {};
  return piece.ends_with("\r\n") ? "\r\n" : "\n";
}

// The title that a head piece names, as uninstall reads it: only on a
// piece that also holds "game", and only the first in rank.
Game title_of(std::string_view piece) {
  if (!holds(piece, "game")) return Game::unknown;
  if (holds(piece, "Firearms") || holds(piece, "FireArms")) return Game::firearms;
  if (holds(piece, "Day of Defeat")) return Game::day_of_defeat;
  if (holds(piece, "Battle Grounds")) return Game::battle_grounds;  // "The ..." too
  if (holds(piece, "Global Warfare")) return Game::global_warfare;
  return Game::unknown;
}

// What a piece says of the bot, in any ASCII case: it names the bot's
// library, "tav_rel.dll" or "tavrel.so" (the bot's entries that install
// writes, active or commented out), or only the bot, "tavrel" or "tav_rel"
// (its comment lines, which load nothing).  Each "v" is a place to look:
// it is rare in the rest of a liblist.gam, and memchr() finds it fast.
enum class Mention { none, bot, library };
Mention mention_of(std::string_view piece) {
  auto at = [&](size_t from, std::string_view word) {
    return same_but_ascii_case(part_of(piece, from, word.size()), word);
  };
  Mention found = Mention::none;
  for (char v : {'v', 'V'}) {
    for (size_t place = piece.find(v, 2); place != std::string_view::npos;
         place = piece.find(v, place + 1)) {
      if (!at(place - 2, "ta")) continue;
      if (at(place + 1, "_rel.dll") || at(place + 1, "rel.so")) return Mention::library;
      if (at(place + 1, "rel") || at(place + 1, "_rel")) found = Mention::bot;
    }
  }
  return found;
}

// Whether |piece|, the first of its line, is an active entry of |key| (its
// first non-blank characters are the key itself, so not "//") that names
// MetaMod, in any ASCII case.
bool loads_metamod(std::string_view piece, std::string_view key) {
  size_t start = piece.find_first_not_of(" \t");
  if (start == std::string_view::npos || part_of(piece, start, key.size()) != key) return false;
  size_t after = start + key.size();
  if (after < piece.size() && piece[after] != ' ' && piece[after] != '\t' && piece[after] != '"')
    return false;
  std::string_view rest = part_of(piece, after);
  return std::search(rest.begin(), rest.end(), std::begin("metamod"), std::end("metamod") - 1,
                     [](char a, char b) { return ascii_lower(a) == b; }) != rest.end();
}

// Reads a text piece by piece: the head up to the end of the line that
// holds the first "mpentity", then the rest, tested line by line for what
// install replaces and piece by piece for the bot's lines.
class Reader {
 public:
  explicit Reader(Text& text) : text_(text) {}
  // Takes the piece that starts |at| bytes into the file: false once
  // nothing that follows can change what the programs decide.
  bool take(std::string_view piece, size_t at);
  // Takes the whole pieces of the bytes read so far (and the last, cut
  // short, |at_end|), keeping no more than kLargestBuild of them: false
  // once nothing that follows can change what the programs decide.
  bool take_pieces(bool at_end);
  // Ends the reading at the end of the file.
  void end() { text_.metamod_entry = text_.metamod_entry || line_loads_metamod_; }

 private:
  void take_head(std::string_view piece, size_t at);
  void take_rest(std::string_view piece, size_t at);

  Text& text_;
  size_t tested_ = 0;   // bytes of text_.bytes in pieces already taken
  size_t dropped_ = 0;  // bytes dropped from the front, past kLargestBuild
  bool in_head_ = true;     // the head goes on to the end of its last line
  bool line_start_ = true;  // the next piece starts a line
  size_t line_at_ = 0;      // where the current line starts
  bool line_loads_metamod_ = false;  // the current line, replaced so far,
                                     // is the engine's entry of MetaMod
};

void Reader::take_head(std::string_view piece, size_t at) {
  std::string_view end = line_end_of(piece);
  if (text_.first_end.empty()) text_.first_end = end;
  text_.head_ends_line = !end.empty();
  text_.head_size = at + piece.size();
  // Only the pieces up to the first that holds "mpentity" are tested; the
  // rest of its line is the head's for its bytes only.
  if (!text_.found_mpentity) {
    text_.dod = text_.dod || holds(piece, "Day of Defeat");
    text_.game = std::min(text_.game, title_of(piece));
    text_.found_mpentity = holds(piece, "mpentity");
  }
  in_head_ = !text_.found_mpentity || !text_.head_ends_line;
}

void Reader::take_rest(std::string_view piece, size_t at) {
  if (line_start_) {
    line_at_ = at;
    const char* key = engine_entry_replaced(text_.dod);
    line_loads_metamod_ = text_.tail_start == Text::kNone && key != nullptr && loads_metamod(piece, key);
  }
  // The tail starts at the start of the line that holds its marker.
  if (text_.tail_start == Text::kNone && holds(piece, text_.dod ? "gamedll_osx" : "gamedll_linux")) {
    text_.tail_start = line_at_;
    line_loads_metamod_ = false;
  }
  line_start_ = piece.ends_with('\n');
  if (line_start_) {
    end();
    line_loads_metamod_ = false;
  }
  Mention mention = mention_of(piece);
  text_.bot_comments = text_.bot_comments || mention == Mention::bot;
  text_.bot_lines = mention == Mention::library;
}

bool Reader::take(std::string_view piece, size_t at) {
  if (in_head_) {
    take_head(piece, at);
    return true;
  }
  take_rest(piece, at);
  return !text_.bot_lines;
}

// The length of the piece that starts |at| bytes into |bytes|: up to and
// including the first line feed, 255 bytes at most; 0 when the bytes read
// so far may still grow into a longer one (unless |at_end|).
size_t piece_length(std::string_view bytes, size_t at, bool at_end) {
  size_t limit = std::min(bytes.size() - at, kPieceSize - 1);
  const char* start = bytes.data() + at;
  const char* line_feed = static_cast<const char*>(std::memchr(start, '\n', limit));
  if (line_feed != nullptr) return static_cast<size_t>(line_feed - start) + 1;
  return limit == kPieceSize - 1 || at_end ? limit : 0;
}

bool Reader::take_pieces(bool at_end) {
  Bytes& bytes = text_.bytes;
  for (size_t length; (length = piece_length(bytes.view(), tested_, at_end)) > 0; tested_ += length)
    if (!take(std::string_view(bytes.view().data() + tested_, length), dropped_ + tested_)) return false;
  if (text_.too_large || dropped_ + bytes.view().size() > kLargestBuild) {
    // Too large to build from: only the pieces are still tested.
    bytes.drop_front(tested_);
    dropped_ += tested_;
    tested_ = 0;
    text_.too_large = true;
  }
  return true;
}

}  // namespace

Text read_mod_text(int fd, size_t size) {
  Text text;
  constexpr size_t kBlock = 64 * 1024;
  text.too_large = size > kLargestBuild;
  // Room for the whole file and the read that finds its end, at once.
  (void)text.bytes.room((text.too_large ? 0 : size) + kBlock);
  Reader reader(text);
  for (bool at_end = false; !at_end;) {
    std::span<char> room = text.bytes.room(kBlock);
    Result<size_t> got = room.empty() ? Result<size_t>{0, out_of_memory()} : read_text(fd, room.first(kBlock));
    if (got.error) {
      text.read_error = got.error;
      text.bytes.clear();
      return text;
    }
    text.bytes.keep(got.value);
    at_end = got.value == 0;
    // What follows the bot's lines cannot change the decision.
    if (!reader.take_pieces(at_end)) at_end = true;
  }
  reader.end();
  if (text.too_large) text.bytes.clear();
  text.read = true;
  return text;
}
