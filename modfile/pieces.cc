// Reading files piece by piece, testing pieces for markers, and reading the
// head that both programs keep.
#include "modfile.h"

#include <cstring>
#include <string_view>

size_t read_piece(FILE* input, char piece[kPieceSize]) {
  size_t length = 0;
  while (length < kPieceSize - 1) {
    int c = read_byte(input);
    if (c == EOF) {
      // A read error ends the reading just like the end of the file, but
      // the partial piece is dropped; close_input() reports the error.
      if (ferror(input)) length = 0;
      break;
    }
    piece[length++] = static_cast<char>(c);
    if (c == '\n') break;
  }
  piece[length] = '\0';
  return length;
}

bool close_input(FILE* input) {
  bool read_failed = ferror(input) != 0;
  // Every byte has been read already; a failing close loses nothing, but it
  // is reported like a read error so that the caller does not build on it.
  bool closed = fclose(input) == 0;
  return closed && !read_failed;
}

bool holds(const char* piece, size_t length, const char* marker) {
  return std::string_view(piece, length).find(marker) != std::string_view::npos;
}

const char* line_end_of(const char* piece, size_t length) {
  if (length == 0 || piece[length - 1] != '\n') return nullptr;
  if (length >= 2 && piece[length - 2] == '\r') return "\r\n";
  return "\n";
}

bool holds_any_case(const char* piece, size_t length, const char* marker) {
  size_t size = std::strlen(marker);
  for (size_t at = 0; at + size <= length; ++at) {
    size_t matched = 0;
    while (matched < size) {
      char c = piece[at + matched];
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
      if (c != marker[matched]) break;
      ++matched;
    }
    if (matched == size) return true;
  }
  return false;
}

bool read_head(FILE* input, FILE* output, NotePiece note, void* context,
               Head* head) {
  *head = Head{false, nullptr, true};
  char piece[kPieceSize];
  size_t length;
  while ((length = read_piece(input, piece)) > 0) {
    if (output != nullptr && !append_text(output, piece, length)) return false;
    if (note != nullptr) note(context, piece, length);
    const char* piece_end = line_end_of(piece, length);
    if (head->line_end == nullptr) head->line_end = piece_end;
    head->ends_line = piece_end != nullptr;
    if (holds(piece, length, "mpentity")) {
      head->found_mpentity = true;
      return true;
    }
  }
  return ferror(input) == 0;
}

bool rewind_input(FILE* input) {
  clearerr(input);
  return fseek(input, 0, SEEK_SET) == 0;
}

bool survey_file(FILE* input, NotePiece note, void* context, Survey* survey) {
  survey->has_bot_lines = false;
  if (!rewind_input(input) ||
      !read_head(input, nullptr, note, context, &survey->head))
    return false;
  char piece[kPieceSize];
  size_t length;
  while ((length = read_piece(input, piece)) > 0) {
    if (holds_any_case(piece, length, "tavrel") ||
        holds_any_case(piece, length, "tav_rel")) {
      survey->has_bot_lines = true;
      return true;  // what follows cannot change the answer
    }
  }
  return ferror(input) == 0;
}
