// The process around a run: its inherited state, its command line, the
// folder it works in, and its console.  posix.cc and windows.cc implement
// them, beside the file-system calls of disk.h.
#pragma once

#include <span>

#include "disk.h"

// Makes the inherited process state safe for a run: a file-size limit or a
// closed pipe then fails the write instead of killing the process.
void settle_process();

// The run of the program this is: each program defines it, and the
// platform's entry point (main; on Windows wmain, the C runtime's split of
// the wide command line) calls it with the words after the program's name,
// in UTF-8.
int program_main(std::span<const char* const> words);

// How entering the mod folder ended.
struct Entered {
  SystemError error;   // why the folder could not be entered
  // Where root met a symbolic link that it follows not: the path walked up
  // to and including that link; empty where it met none.
  Bytes guarded_link;
};

// Makes |path| the current folder.  Run as root (POSIX), the path is
// followed one step at a time, from "/" or from the current folder (which
// is not looked at itself), and a symbolic link on the way, the last step
// included, is followed by its text, and only where it belongs to root in
// a folder that no other account owns or may write; at most 40 links.  The
// current folder is then the folder that the walk reached, so that nothing
// put on the way since counts.  Anyone else's path is followed by the
// system.
Entered enter_folder(const char* path);

// Whether the program's console is its own (a double-click or a dropped
// folder on Windows) rather than a command prompt's or a script's.
bool own_console();

// Keeps the program's own console open for a few seconds, longer after a
// failure, so that its last line can be read.
void hold_window(bool failed);
