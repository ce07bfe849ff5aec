// File-system calls that differ between POSIX and Windows: the folder lock,
// looking at names, opening, creating, finishing, linking, renaming,
// deleting and touching files.  This is the one file that knows the
// platform.
#include "modfile.h"

#include <cerrno>
#include <cstring>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

// How long a run waits for another run in the same folder to finish.
static constexpr int kLockWaitMs = 5000;

#ifdef _WIN32

// Widens a file name for the wide-character file functions: false when it
// does not fit or cannot be converted.
static bool widen(const char* name, wchar_t* wide) {
  return MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, name, -1, wide,
                             MAX_PATH) > 0;
}

void system_reason(char* reason, size_t size) {
  DWORD error = GetLastError();
  DWORD length = FormatMessageA(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      error, 0, reason, static_cast<DWORD>(size), nullptr);
  if (length == 0) {
    // No text for it: the number, as Windows' own tools show it.
    const char* prefix = "Windows error ";
    size_t at = 0;
    while (prefix[at] != '\0' && at + 1 < size) reason[at] = prefix[at], ++at;
    char digits[12];
    int count = 0;
    do digits[count++] = static_cast<char>('0' + error % 10);
    while ((error /= 10) != 0);
    while (count > 0 && at + 1 < size) reason[at++] = digits[--count];
    reason[at] = '\0';
    return;
  }
  // The text ends in a full stop and a line end, which the line it goes
  // into does not want.
  while (length > 0 && (reason[length - 1] == '\n' ||
                        reason[length - 1] == '\r' ||
                        reason[length - 1] == ' ' || reason[length - 1] == '.'))
    reason[--length] = '\0';
}

// A virus scanner, the search indexer or a sync client often holds a file
// that was just written open for a moment; opening, moving or deleting it
// then fails with one of these errors, as does a file that is being
// deleted.  Such a call is tried again after a growing pause, about one
// second in all, before it counts as failed.
static bool wait_out_lock(int* attempt) {
  DWORD error = GetLastError();
  if (error != ERROR_SHARING_VIOLATION && error != ERROR_LOCK_VIOLATION &&
      error != ERROR_ACCESS_DENIED)
    return false;
  if (*attempt >= 8) return false;  // 25 + 50 + ... + 200 ms = 0.9 s
  Sleep(25 * ++*attempt);
  return true;
}

// Opens |name| with CreateFileW(), waiting out a brief lock: the handle, or
// INVALID_HANDLE_VALUE.
static HANDLE open_handle(const char* name, DWORD access, DWORD share,
                          DWORD disposition, DWORD flags) {
  wchar_t wide[MAX_PATH];
  if (!widen(name, wide)) return INVALID_HANDLE_VALUE;
  HANDLE file;
  int attempt = 0;
  do {
    file = CreateFileW(wide, access, share, nullptr, disposition, flags,
                       nullptr);
  } while (file == INVALID_HANDLE_VALUE && wait_out_lock(&attempt));
  return file;
}

static constexpr DWORD kShareAll =
    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Reads the volume and file index of |name|, of a link's target when
// |follow| is set and of the link itself otherwise: true on success.
static bool identify(const char* name, bool follow,
                     BY_HANDLE_FILE_INFORMATION* info) {
  HANDLE file = open_handle(
      name, 0, kShareAll, OPEN_EXISTING,
      FILE_FLAG_BACKUP_SEMANTICS | (follow ? 0 : FILE_FLAG_OPEN_REPARSE_POINT));
  if (file == INVALID_HANDLE_VALUE) return false;
  bool known = GetFileInformationByHandle(file, info) != 0;
  (void)CloseHandle(file);
  return known;
}

// Writes |value| as eight hexadecimal digits at |out|.
static void put_hex(wchar_t* out, DWORD value) {
  for (int i = 7; i >= 0; --i, value >>= 4)
    out[i] = L"0123456789abcdef"[value & 15];
}

// The folder's mutex while this run holds it.
static HANDLE held_lock = nullptr;

bool lock_folder() {
  // A named mutex that identifies the folder by its volume and file index,
  // so that every name of the folder (a mapped drive, a short name) meets
  // the same lock.  Where the folder cannot be identified, there is no lock.
  BY_HANDLE_FILE_INFORMATION folder;
  if (!identify(".", false, &folder)) return true;
  wchar_t name[] = L"Local\\tavrel-switch-vvvvvvvv-hhhhhhhhllllllll";
  wchar_t* digits = name + 20;
  put_hex(digits, folder.dwVolumeSerialNumber);
  put_hex(digits + 9, folder.nFileIndexHigh);
  put_hex(digits + 17, folder.nFileIndexLow);
  HANDLE mutex = CreateMutexW(nullptr, FALSE, name);
  if (mutex == nullptr) return true;
  // The handle stays open: the mutex is held until end_run() lets it go or
  // the process ends, and a run that ends without releasing it leaves it
  // abandoned, which the next run takes over.
  if (WaitForSingleObject(mutex, kLockWaitMs) == WAIT_TIMEOUT) return false;
  held_lock = mutex;
  return true;
}

// Whether the process has a console window of its own (started from
// Explorer) and standard error is that console: a command prompt or a
// script shares the console, and a tool that captures the output makes
// standard error a file or a pipe.  (Wine's consoles refuse
// GetConsoleMode() but are character devices, as consoles are.)
static bool own_console() {
  DWORD processes[2];
  if (GetConsoleProcessList(processes, 2) != 1) return false;
  HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
  DWORD mode;
  return GetConsoleMode(error, &mode) != 0 ||
         GetFileType(error) == FILE_TYPE_CHAR;
}

int end_run(Status status, const char* done) {
  if (!own_console()) return status;
  // The window closes with the process: the outcome is shown for a few
  // seconds, without asking for a key, after the lock is let go so that a
  // second double-click meanwhile is not held up.
  if (status == kDone && done != nullptr) {
    (void)fputs(done, stderr);
    (void)fputs("\n", stderr);
  }
  if (held_lock != nullptr) {
    (void)ReleaseMutex(held_lock);
    (void)CloseHandle(held_lock);
    held_lock = nullptr;
  }
  bool done_now = status == kDone;
  (void)fputs(done_now ? "(This window closes by itself in 3 seconds.)\n"
                       : "(This window closes by itself in 10 seconds.)\n",
              stderr);
  (void)fflush(stderr);
  Sleep(done_now ? 3000 : 10000);
  return status;
}

// Wraps the handle |file| in a stream opened with |mode|: the stream, or
// nullptr with the handle closed.
static FILE* stream_of(HANDLE file, int flags, const char* mode) {
  int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file), flags);
  if (fd < 0) {
    (void)CloseHandle(file);
    return nullptr;
  }
  FILE* stream = _fdopen(fd, mode);
  if (stream == nullptr) (void)_close(fd);  // closes the handle too
  return stream;
}

// Opens |name| for reading, sharing it with every other opener: the
// handle, or INVALID_HANDLE_VALUE.
static HANDLE open_for_reading(const char* name) {
  return open_handle(name, GENERIC_READ, kShareAll, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL);
}

FILE* open_input(const char* name) {
  HANDLE file = open_for_reading(name);
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  if (GetFileType(file) != FILE_TYPE_DISK) {
    (void)CloseHandle(file);
    return nullptr;
  }
  return stream_of(file, _O_RDONLY | _O_TEXT, "r");
}

Presence look_at(const char* name) {
  wchar_t wide[MAX_PATH];
  if (!widen(name, wide)) return kUnreadable;
  DWORD attributes = GetFileAttributesW(wide);
  if (attributes == INVALID_FILE_ATTRIBUTES)
    return name_taken(name) ? kUnreadable : kMissing;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return kNotRegular;
  HANDLE file = open_for_reading(name);
  if (file == INVALID_HANDLE_VALUE) return kUnreadable;
  bool regular = GetFileType(file) == FILE_TYPE_DISK;
  (void)CloseHandle(file);  // nothing was read: only the open matters
  return regular ? kRegular : kNotRegular;
}

bool name_taken(const char* name) {
  wchar_t wide[MAX_PATH];
  if (!widen(name, wide)) return true;
  if (GetFileAttributesW(wide) != INVALID_FILE_ATTRIBUTES) return true;
  DWORD error = GetLastError();
  return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
}

bool same_file(const char* a, const char* b) {
  BY_HANDLE_FILE_INFORMATION first, second;
  return identify(a, true, &first) && identify(b, true, &second) &&
         first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
         first.nFileIndexHigh == second.nFileIndexHigh &&
         first.nFileIndexLow == second.nFileIndexLow;
}

bool is_link(const char* name) {
  wchar_t wide[MAX_PATH];
  if (!widen(name, wide)) return false;
  DWORD attributes = GetFileAttributesW(wide);
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool is_dangling_link(const char* name) {
  if (!is_link(name)) return false;
  HANDLE file = open_for_reading(name);
  if (file != INVALID_HANDLE_VALUE) {
    (void)CloseHandle(file);  // only whether it opens matters
    return false;
  }
  DWORD error = GetLastError();
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

FILE* create_output(const char* name) {
  // CREATE_NEW fails on any existing name.  The file is never read-only:
  // the next switch renames over it.
  HANDLE file = open_handle(name, GENERIC_WRITE, FILE_SHARE_READ, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL);
  if (file == INVALID_HANDLE_VALUE) {
    note_failure("cannot create", name);
    return nullptr;
  }
  FILE* output = stream_of(file, _O_TEXT, "w");
  if (output == nullptr) {
    note_failure("cannot create", name);
    (void)delete_file(name);  // this run's own, empty
  }
  return output;
}

bool copy_permissions(FILE*, FILE*) {
  // The file keeps the permissions it inherited from the folder.
  return true;
}

bool flush_to_disk(FILE* output) {
  return _commit(_fileno(output)) == 0;
}

bool sync_folder() {
  // A folder cannot be flushed here; every rename is written through.
  return true;
}

bool delete_file(const char* name) {
  wchar_t wide[MAX_PATH];
  if (!widen(name, wide)) return false;
  int attempt = 0;
  while (DeleteFileW(wide) == 0)
    if (!wait_out_lock(&attempt)) return false;
  return true;
}

bool link_file(const char* from, const char* to) {
  wchar_t wide_from[MAX_PATH];
  wchar_t wide_to[MAX_PATH];
  if (!widen(from, wide_from) || !widen(to, wide_to)) return false;
  int attempt = 0;
  while (CreateHardLinkW(wide_to, wide_from, nullptr) == 0)
    if (!wait_out_lock(&attempt)) return false;
  return true;
}

// Moves |from| to |to| with |flags| added to a write-through move, so that
// the new name is on the disk when the call returns; a brief lock is
// waited out.
static bool move_file(const char* from, const char* to, DWORD flags) {
  wchar_t wide_from[MAX_PATH];
  wchar_t wide_to[MAX_PATH];
  if (!widen(from, wide_from) || !widen(to, wide_to)) return false;
  int attempt = 0;
  while (MoveFileExW(wide_from, wide_to, flags | MOVEFILE_WRITE_THROUGH) == 0)
    if (!wait_out_lock(&attempt)) return false;
  return true;
}

bool rename_file(const char* from, const char* to) {
  // Without MOVEFILE_REPLACE_EXISTING the move fails when |to| exists.
  return move_file(from, to, 0);
}

bool replace_file(const char* from, const char* to) {
  return move_file(from, to, MOVEFILE_REPLACE_EXISTING);
}

bool touch_file(const char* name) {
  // FILE_FLAG_OPEN_REPARSE_POINT: a link's own time, never its target's.
  HANDLE file = open_handle(name, FILE_WRITE_ATTRIBUTES, kShareAll,
                            OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT);
  if (file == INVALID_HANDLE_VALUE) return false;
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  bool set = SetFileTime(file, nullptr, nullptr, &now) != 0;
  bool closed = CloseHandle(file) != 0;
  return set && closed;
}

#else  // POSIX

void system_reason(char* reason, size_t size) {
  const char* text = strerror(errno);
  size_t at = 0;
  for (; text[at] != '\0' && at + 1 < size; ++at) reason[at] = text[at];
  reason[at] = '\0';
}

int end_run(Status status, const char*) {
  // A terminal window stays open after the program: nothing to wait for.
  return status;
}

// Does nothing: the alarm only has to interrupt the wait for the lock.
static void on_alarm(int) {}

bool lock_folder() {
  // flock() on the folder itself: no file is made, and the lock goes with
  // the descriptor, which stays open until the process ends.
  int fd = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return true;  // a folder that cannot be opened offers no lock
  // The wait is bounded by an alarm whose signal interrupts flock(): no
  // SA_RESTART, so the call fails with EINTR when the time is up.
  struct sigaction alarm_action = {};
  alarm_action.sa_handler = on_alarm;
  bool timed = sigaction(SIGALRM, &alarm_action, nullptr) == 0;
  if (timed) (void)alarm((kLockWaitMs + 999) / 1000);
  bool locked = flock(fd, LOCK_EX) == 0;
  int error = errno;
  if (timed) (void)alarm(0);
  if (locked) return true;
  (void)close(fd);
  // Any error but the interruption means that the file system offers no
  // lock (some network file systems): go on without one.
  return error != EINTR;
}

// Opens |name| for reading without blocking on a FIFO and without making a
// terminal the controlling one: the descriptor, or -1.
static int open_nonblocking(const char* name) {
  return open(name, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
}

// Whether the open descriptor |fd| is a regular file.
static bool is_regular(int fd) {
  struct stat about;
  return fstat(fd, &about) == 0 && S_ISREG(about.st_mode);
}

FILE* open_input(const char* name) {
  int fd = open_nonblocking(name);
  if (fd < 0) return nullptr;
  if (!is_regular(fd)) {
    (void)close(fd);
    errno = EINVAL;
    return nullptr;
  }
  FILE* input = fdopen(fd, "r");
  if (input == nullptr) (void)close(fd);
  return input;
}

Presence look_at(const char* name) {
  int fd = open_nonblocking(name);
  struct stat about;
  if (fd < 0) {
    // Not even opened: a folder or socket is still told apart; the open's
    // error stays the one to report.
    int error = errno;
    Presence presence = kUnreadable;
    if (stat(name, &about) == 0 && !S_ISREG(about.st_mode))
      presence = kNotRegular;
    else if (!name_taken(name))
      presence = kMissing;
    errno = error;
    return presence;
  }
  bool regular = is_regular(fd);
  (void)close(fd);  // nothing was read: only the open matters
  return regular ? kRegular : kNotRegular;
}

bool name_taken(const char* name) {
  struct stat about;
  return lstat(name, &about) == 0 || errno != ENOENT;
}

bool same_file(const char* a, const char* b) {
  struct stat first, second;
  return stat(a, &first) == 0 && stat(b, &second) == 0 &&
         first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

bool is_link(const char* name) {
  struct stat about;
  return lstat(name, &about) == 0 && S_ISLNK(about.st_mode);
}

bool is_dangling_link(const char* name) {
  struct stat about;
  return is_link(name) && stat(name, &about) != 0 && errno == ENOENT;
}

FILE* create_output(const char* name) {
  // O_EXCL fails on any existing name, a link included, and follows none.
  int fd = open(name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                S_IRUSR | S_IWUSR);
  if (fd < 0) {
    note_failure("cannot create", name);
    return nullptr;
  }
  FILE* output = fdopen(fd, "w");
  if (output == nullptr) {
    note_failure("cannot create", name);
    (void)close(fd);
    (void)unlink(name);  // this run's own, empty
  }
  return output;
}

// The bits that the finished file takes from the original: read, write and
// execute for owner, group and others.
static constexpr mode_t kPermissionBits = S_IRWXU | S_IRWXG | S_IRWXO;

// Gives the open file |fd| the owner and group of |from| where the process
// may: the original's owner as root; otherwise at least its group when the
// runner belongs to it; otherwise the runner's stay, which is no error.
static void give_owner(int fd, const struct stat& from) {
  if (fchown(fd, from.st_uid, from.st_gid) == 0) return;
  (void)fchown(fd, static_cast<uid_t>(-1), from.st_gid);
}

// Gives the open file |fd| the permission bits of |from|: true when it has
// them afterwards.  Some file systems (FAT, some network shares) refuse any
// change but give every file the same bits: what counts is the bits the
// file ends up with.
static bool give_bits(int fd, const struct stat& from) {
  int refused = fchmod(fd, from.st_mode & kPermissionBits) == 0 ? 0 : errno;
  struct stat now;
  if (fstat(fd, &now) != 0) return false;
  if ((now.st_mode & kPermissionBits) == (from.st_mode & kPermissionBits))
    return true;
  errno = refused != 0 ? refused : EPERM;
  return false;
}

bool copy_permissions(FILE* output, FILE* original) {
  struct stat from;
  if (fstat(fileno(original), &from) != 0) return false;
  // The owner first: changing it may clear mode bits.
  give_owner(fileno(output), from);
  return give_bits(fileno(output), from);
}

bool flush_to_disk(FILE* output) {
  return fsync(fileno(output)) == 0;
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

bool link_file(const char* from, const char* to) {
  // link() never replaces |to|; a symbolic link at |from| is linked itself.
  return link(from, to) == 0;
}

// Renames |from| to |to| unless something stands at |to|: true on success.
static bool rename_no_replace(const char* from, const char* to) {
  // rename() would silently replace an existing |to|, and with it the file
  // that it may hold.
#if defined(__linux__) && defined(RENAME_NOREPLACE)
  if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0)
    return true;
  // Only a file system or kernel that does not know the flag (exFAT, FUSE,
  // Linux before 3.15) gets the fallback; every other error is a failure.
  if (errno != EINVAL && errno != ENOSYS) return false;
#endif
  // The folder lock keeps every other run of ours from taking |to| between
  // this check and the rename.
  if (name_taken(to)) {
    errno = EEXIST;
    return false;
  }
  return rename(from, to) == 0;
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
  (void)sync_folder();
  return true;
}

bool touch_file(const char* name) {
  return utimensat(AT_FDCWD, name, nullptr, AT_SYMLINK_NOFOLLOW) == 0;
}

#endif
