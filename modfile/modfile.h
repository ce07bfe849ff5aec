// The mod description file, its backup and the scratch file, and every file
// operation that the two programs make on them.
//
// All names are relative, so every file lies in the current directory: the
// programs are run from inside the mod's folder.  Files are opened in the
// platform's text mode; on Windows every line feed written becomes CR LF and
// every CR LF read becomes a line feed.  Platform differences stay inside the
// .cc files of this folder.
#pragma once

#include <cstddef>
#include <cstdio>

// The live mod description file that the game reads.
inline constexpr char kConfigFile[] = "liblist.gam";
// The copy of kConfigFile from before the bot was installed; its presence
// marks the bot as installed.
inline constexpr char kBackupFile[] = "liblist_tv_backup.gam";
// The uninstaller's scratch file, alive only during a rebuild.
inline constexpr char kScratchFile[] = "temp";

// Input is read in pieces of at most kPieceSize - 1 characters.
inline constexpr size_t kPieceSize = 256;

// --- Reading ---------------------------------------------------------------

// Opens |name| for reading in text mode: the stream, or nullptr on failure.
FILE* open_input(const char* name);

// Reads the next piece of |input| into |piece|: at most kPieceSize - 1
// characters, ending after the first line feed or at the end of the file, and
// NUL-terminated after them.  Returns the piece's length (NUL bytes inside
// count); 0 at the end of the file or on a read error.
size_t read_piece(FILE* input, char piece[kPieceSize]);

// Closes |input|: true when no read failed, false after a read error.
bool close_input(FILE* input);

// Whether |marker| occurs in the |length| bytes of |piece|: case-sensitive,
// anywhere, across NUL bytes.
bool holds(const char* piece, size_t length, const char* marker);

// The line end that ends |piece|: "\r\n", "\n", or nullptr when the piece does
// not end with a line feed.
const char* line_end_of(const char* piece, size_t length);

// Whether |name| can be opened for reading; the stream is closed again.
bool is_present(const char* name);

// --- Writing ---------------------------------------------------------------
//
// No write, truncation, mode or owner change ever follows a symbolic link:
// a folder that others can write to may hold a link planted at one of the
// three names, pointing at a file outside the mod.

// Creates |name| empty, only where no file or link of that name exists, so
// that the file written is the program's own: true on success; false when
// the name is taken or the creation fails.
bool create_new(const char* name);

// Opens the existing file |name| for appending in text mode, refusing a
// link: the stream, or nullptr when |name| is missing, a link, or cannot be
// opened.  Nothing is created, so a file that vanished mid-build is a failure.
FILE* open_output(const char* name);

// Opens |name| with open_output(), writes the |length| bytes of |text|
// verbatim and closes it: true when all of it reached the file, false when
// the open, the write or the close failed.
bool append_text(const char* name, const char* text, size_t length);

// Appends |count| lines, each followed by |line_end|, to |name| through one
// stream: true when all of them reached the file, false otherwise.
bool append_lines(const char* name, const char* const lines[], size_t count,
                  const char* line_end);

// --- Whole files -------------------------------------------------------------

// Finishes the new file |name| that replaces |original| (an open input):
// gives it the original's permission bits and, where the process may set
// them, its owner and group, then forces its contents onto the disk, all
// through one open that follows no link.  True on success; false when
// |name| cannot be opened, does not end up with the original's permission
// bits, or cannot be flushed.  On Windows the file keeps the folder's
// permissions and is never made read-only.
bool finish_like(const char* name, FILE* original);

// Forces the current folder's entries (created and renamed names) onto the
// disk: true on success; false where the file system refuses it.
bool sync_folder();

// Deletes the file or link |name|, never a link's target and never a
// folder: true on success, false on failure.
bool delete_file(const char* name);

// Renames |from| to |to| only when no file named |to| exists, then forces
// the folder onto the disk: true when the rename succeeded; false when |to|
// exists or the rename fails, both files unchanged.
bool rename_file(const char* from, const char* to);

// Renames |from| to |to| in one step, replacing any file named |to|, then
// forces the folder onto the disk: true when the rename succeeded; false on
// failure, both files unchanged.
bool replace_file(const char* from, const char* to);

// Sets the modification time of |name| to now, without following a link:
// true on success, false on failure.
bool touch_file(const char* name);
