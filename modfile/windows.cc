// The file layer on Windows: the folder lock, looking at names, opening,
// creating, finishing, linking, renaming, deleting and touching files, and
// the end of a run in a console of its own.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>
#include <cstring>

#include "modfile.h"

// How long a run waits for another run in the same folder to finish.
static constexpr int kLockWaitMs = 5000;

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

// Creates the named mutex |name|, or opens it where it exists: the handle,
// or nullptr.  The mutex has no access list, so that every account may
// open and wait on it: runs of two sessions, or an elevated and a plain
// one, then meet the same lock.  (The descriptor is built by hand, which
// needs nothing from advapi32.dll.)  A mutex made with a stricter list is
// opened for waiting only.
static HANDLE open_mutex(const wchar_t* name) {
  SECURITY_DESCRIPTOR descriptor = {};
  descriptor.Revision = SECURITY_DESCRIPTOR_REVISION;
  descriptor.Control = SE_DACL_PRESENT;  // and no DACL: everyone
  SECURITY_ATTRIBUTES attributes = {sizeof attributes, &descriptor, FALSE};
  HANDLE mutex = CreateMutexW(&attributes, FALSE, name);
  if (mutex != nullptr || GetLastError() != ERROR_ACCESS_DENIED) return mutex;
  mutex = OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, name);
  if (mutex != nullptr) return mutex;
  return OpenMutexW(SYNCHRONIZE, FALSE, name);
}

LockResult lock_folder() {
  // A named mutex that identifies the folder by its volume and file index,
  // so that every name of the folder (a mapped drive, a short name) meets
  // the same lock.  Where the folder cannot be identified, there is no lock.
  BY_HANDLE_FILE_INFORMATION folder;
  if (!identify(".", false, &folder)) return kNoLocks;
  wchar_t name[] = L"Global\\tavrel-switch-vvvvvvvv-hhhhhhhhllllllll";
  wchar_t* digits = name + 21;
  put_hex(digits, folder.dwVolumeSerialNumber);
  put_hex(digits + 9, folder.nFileIndexHigh);
  put_hex(digits + 17, folder.nFileIndexLow);
  DWORD start = GetTickCount();
  for (;;) {
    DWORD waited = GetTickCount() - start;
    DWORD left = waited < kLockWaitMs ? kLockWaitMs - waited : 0;
    HANDLE mutex = open_mutex(name);
    if (mutex != nullptr) {
      // The handle stays open: the mutex is held until end_run() lets it
      // go or the process ends, and a run that ends without releasing it
      // leaves it abandoned, which the next run takes over.
      DWORD result = WaitForSingleObject(mutex, left);
      if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED) {
        held_lock = mutex;
        return kLocked;
      }
      (void)CloseHandle(mutex);
      return result == WAIT_TIMEOUT ? kBusy : kLockFailed;
    }
    // A mutex that cannot be opened is tried again within the wait, and
    // then counts as held by another run.
    if (left == 0) return kBusy;
    Sleep(left < 50 ? left : 50);
  }
}

void settle_process() {
  // No signal ends a Windows program on a full disk or a closed pipe.
}

int read_byte(FILE* input) {
  // The files are read as bytes, since the C library's text mode takes a
  // Ctrl-Z byte for the end of the file; a CR LF becomes a line feed here,
  // as text mode makes it, and a lone CR stays.
  int c = getc(input);
  if (c != '\r') return c;
  int next = getc(input);
  if (next == '\n') return '\n';
  if (next != EOF) (void)ungetc(next, input);
  return c;
}

bool may_replace(const char*) {
  // Who may replace a file is the folder's access list's business.
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
  return stream_of(file, _O_RDONLY | _O_BINARY, "rb");
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

bool removable_second_name(const char* alias, const char* of) {
  if (!same_file(alias, of)) return false;
  // DeleteFileW() takes a reparse point away, never its target.
  if (is_link(alias)) return true;
  // Wine shows a Unix symbolic link as the file it resolves to, and
  // deleting it deletes that file: only two or more hard links are safe.
  BY_HANDLE_FILE_INFORMATION info;
  return !is_link(of) && identify(alias, true, &info) &&
         info.nNumberOfLinks >= 2;
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
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  FILE* output = stream_of(file, _O_TEXT, "w");
  if (output == nullptr) {
    DWORD error = GetLastError();
    (void)delete_file(name);  // this run's own, empty
    SetLastError(error);
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
