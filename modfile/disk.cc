// Whole-file operations: flushing to disk, deleting and renaming.  This is
// the one file that knows the platform.
#include "modfile.h"

#include <cerrno>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

#ifdef _WIN32

// Widens a file name for the wide-character file functions: false when it
// does not fit or cannot be converted.
static bool widen(const char* name, wchar_t* wide, int size) {
  return MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, name, -1, wide,
                             size) > 0;
}

// Moves |from| to |to| with |flags| added to a write-through move.
static bool move_file(const char* from, const char* to, DWORD flags) {
  wchar_t wide_from[MAX_PATH];
  wchar_t wide_to[MAX_PATH];
  if (!widen(from, wide_from, MAX_PATH) || !widen(to, wide_to, MAX_PATH))
    return false;
  return MoveFileExW(wide_from, wide_to, flags | MOVEFILE_WRITE_THROUGH) != 0;
}

static int flush_to_disk(int fd) {
  return _commit(fd);
}

bool rename_file(const char* from, const char* to) {
  // Without MOVEFILE_REPLACE_EXISTING the move fails when |to| exists.
  return move_file(from, to, 0);
}

bool replace_file(const char* from, const char* to) {
  return move_file(from, to, MOVEFILE_REPLACE_EXISTING);
}

#else  // POSIX

static int flush_to_disk(int fd) {
  return fsync(fd);
}

// Renames by a hard link and an unlink: fails when |to| exists, since link()
// never replaces.
static bool link_and_unlink(const char* from, const char* to) {
  if (link(from, to) != 0) return false;
  if (unlink(from) == 0) return true;
  (void)unlink(to);  // undo the link: the caller must find both files as before
  return false;
}

bool rename_file(const char* from, const char* to) {
  // rename() would silently replace an existing |to|, and with it the file
  // that it may hold.
#if defined(__linux__) && defined(RENAME_NOREPLACE)
  if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0)
    return true;
  // Only a file system or kernel that does not know the flag gets the
  // fallback; every other error is a failed rename.
  if (errno != EINVAL && errno != ENOSYS) return false;
#endif
  return link_and_unlink(from, to);
}

bool replace_file(const char* from, const char* to) {
  if (rename(from, to) != 0) return false;
  // When both names are links to one file (an interrupted link_and_unlink),
  // rename() succeeds without removing |from|; remove it so that the move
  // really happened.  Normally |from| is gone and this fails harmlessly.
  (void)unlink(from);
  return true;
}

#endif

bool sync_file(const char* name) {
  FILE* file = fopen(name, "r+b");
  if (file == nullptr) return false;
  bool synced = flush_to_disk(fileno(file)) == 0;
  bool closed = fclose(file) == 0;
  return synced && closed;
}

bool delete_file(const char* name) {
  return remove(name) == 0;
}
