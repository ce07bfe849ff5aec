// File-system calls that differ between POSIX and Windows: creating,
// opening for appending, finishing, flushing, deleting, renaming and
// touching files.  This is the one file that knows the platform.
#include "modfile.h"

#include <cerrno>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#ifdef _WIN32

// Widens a file name for the wide-character file functions: false when it
// does not fit or cannot be converted.
static bool widen(const char* name, wchar_t* wide, int size) {
  return MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, name, -1, wide,
                             size) > 0;
}

// Opens |name| with the _wopen() |flags| and |mode|: the descriptor, or -1.
static int open_wide(const char* name, int flags, int mode) {
  wchar_t wide[MAX_PATH];
  if (!widen(name, wide, MAX_PATH)) return -1;
  return _wopen(wide, flags, mode);
}

// Moves |from| to |to| with |flags| added to a write-through move, so that
// the new name is on the disk when the call returns.
static bool move_file(const char* from, const char* to, DWORD flags) {
  wchar_t wide_from[MAX_PATH];
  wchar_t wide_to[MAX_PATH];
  if (!widen(from, wide_from, MAX_PATH) || !widen(to, wide_to, MAX_PATH))
    return false;
  return MoveFileExW(wide_from, wide_to, flags | MOVEFILE_WRITE_THROUGH) != 0;
}

bool create_new(const char* name) {
  // Readable and writable, never read-only: the next switch renames over it.
  int fd = open_wide(name, _O_WRONLY | _O_CREAT | _O_EXCL | _O_TEXT,
                     _S_IREAD | _S_IWRITE);
  if (fd < 0) return false;
  return _close(fd) == 0;
}

FILE* open_output(const char* name) {
  int fd = open_wide(name, _O_WRONLY | _O_APPEND | _O_TEXT, 0);
  if (fd < 0) return nullptr;
  FILE* output = _fdopen(fd, "a");
  if (output == nullptr) (void)_close(fd);
  return output;
}

bool finish_like(const char* name, FILE*) {
  // The file keeps the permissions it inherited from the folder.
  int fd = open_wide(name, _O_WRONLY | _O_BINARY, 0);
  if (fd < 0) return false;
  bool synced = _commit(fd) == 0;
  bool closed = _close(fd) == 0;
  return synced && closed;
}

bool sync_folder() {
  // A folder cannot be flushed here; every rename is written through.
  return true;
}

bool delete_file(const char* name) {
  return remove(name) == 0;
}

bool rename_file(const char* from, const char* to) {
  // Without MOVEFILE_REPLACE_EXISTING the move fails when |to| exists.
  return move_file(from, to, 0);
}

bool replace_file(const char* from, const char* to) {
  return move_file(from, to, MOVEFILE_REPLACE_EXISTING);
}

bool touch_file(const char* name) {
  wchar_t wide[MAX_PATH];
  if (!widen(name, wide, MAX_PATH)) return false;
  // FILE_FLAG_OPEN_REPARSE_POINT: a link's own time, never its target's.
  HANDLE file = CreateFileW(wide, FILE_WRITE_ATTRIBUTES,
                            FILE_SHARE_READ | FILE_SHARE_WRITE |
                                FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING,
                            FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  bool set = SetFileTime(file, nullptr, nullptr, &now) != 0;
  bool closed = CloseHandle(file) != 0;
  return set && closed;
}

#else  // POSIX

// The bits that the finished file takes from the original: read, write and
// execute for owner, group and others.
static constexpr mode_t kPermissionBits = S_IRWXU | S_IRWXG | S_IRWXO;

bool create_new(const char* name) {
  // O_EXCL fails on any existing name, a link included, and follows none.
  int fd = open(name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                S_IRUSR | S_IWUSR);
  if (fd < 0) return false;
  // Writable by this run whatever the umask; the original's bits come when
  // the file is finished.  Where this is refused, the appends will tell.
  (void)fchmod(fd, S_IRUSR | S_IWUSR);
  return close(fd) == 0;
}

FILE* open_output(const char* name) {
  int fd = open(name, O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return nullptr;
  FILE* output = fdopen(fd, "a");
  if (output == nullptr) (void)close(fd);
  return output;
}

// Gives the open file |fd| the owner and group of |from| where the process
// may: the original's owner as root; otherwise at least its group when the
// runner belongs to it; otherwise the runner's stay, which is no error.
static void give_owner(int fd, const struct stat& from) {
  if (fchown(fd, from.st_uid, from.st_gid) == 0) return;
  (void)fchown(fd, static_cast<uid_t>(-1), from.st_gid);
}

bool finish_like(const char* name, FILE* original) {
  struct stat from;
  if (fstat(fileno(original), &from) != 0) return false;
  int fd = open(name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  // The owner first: changing it may clear mode bits.
  give_owner(fd, from);
  // Some file systems (FAT, some network shares) refuse any change but give
  // every file the same bits: what counts is the bits the file ends up with.
  (void)fchmod(fd, from.st_mode & kPermissionBits);
  struct stat now;
  bool same_bits = fstat(fd, &now) == 0 && (now.st_mode & kPermissionBits) ==
                                               (from.st_mode & kPermissionBits);
  bool synced = same_bits && fsync(fd) == 0;
  bool closed = close(fd) == 0;
  return synced && closed;
}

bool sync_folder() {
  int fd = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  bool synced = fsync(fd) == 0;
  bool closed = close(fd) == 0;
  return synced && closed;
}

bool delete_file(const char* name) {
  // unlink() takes a link away, never its target, and never a folder.
  return unlink(name) == 0;
}

// Renames by a hard link and an unlink: fails when |to| exists, since link()
// never replaces.
static bool link_and_unlink(const char* from, const char* to) {
  if (link(from, to) != 0) return false;
  if (unlink(from) == 0) return true;
  (void)unlink(to);  // undo the link: the caller must find both files as before
  return false;
}

// Renames |from| to |to| unless |to| exists: true on success.
static bool rename_no_replace(const char* from, const char* to) {
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

// A folder that cannot be flushed (some file systems refuse it) leaves the
// rename done, only less sure to outlive a power cut: the result is ignored.
bool rename_file(const char* from, const char* to) {
  if (!rename_no_replace(from, to)) return false;
  (void)sync_folder();
  return true;
}

bool replace_file(const char* from, const char* to) {
  if (rename(from, to) != 0) return false;
  // When both names are links to one file (an interrupted link_and_unlink),
  // rename() succeeds without removing |from|; remove it so that the move
  // really happened.  Normally |from| is gone and this fails harmlessly.
  (void)unlink(from);
  (void)sync_folder();
  return true;
}

bool touch_file(const char* name) {
  return utimensat(AT_FDCWD, name, nullptr, AT_SYMLINK_NOFOLLOW) == 0;
}

#endif
