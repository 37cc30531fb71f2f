// Files: reading one whole, replacing one safely, and the per-user folder where files go when
// the current one cannot be written. What each operating-system port (posix/, win32/)
// supplies; paths are the platform's own (UTF-8 on Windows).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// ---- Reading -------------------------------------------------------------------------------

enum FileOpenOutcome {
    FILE_OPENED,
    FILE_MISSING,      // nothing by that name
    FILE_UNREADABLE,   // it could not be opened or examined; the reason says why
    FILE_NOT_REGULAR,  // a folder, a device, a pipe …
    FILE_TOO_LONG      // longer than the caller allows
};
struct InputFile;
// Opens a regular file of at most maxBytes for reading, without ever blocking on what is not a
// regular file. nullptr unless the outcome is FILE_OPENED; reason then holds the system's words
// for FILE_UNREADABLE. size: the file's length when it was opened.
InputFile* OpenInputFile(const std::string& path, int64_t maxBytes, FileOpenOutcome* outcome,
                         std::string* reason, int64_t* size);
// Reads up to size bytes and gives how many; fewer only at the end of the file. -1 on a read
// error.
int64_t ReadInputFile(InputFile* file, void* destination, size_t size);
void CloseInputFile(InputFile* file);

// ---- Replacing -----------------------------------------------------------------------------

// Replaces the file at path with the bytes so that it is either the old file or the whole new
// one, never a mix: a temporary file beside it is written, synced and moved over it. A
// symbolic link keeps pointing where it did; the file it names is replaced. An existing file
// we may not write is left alone. False on failure, with the reason on stderr; the old file
// stays and no temporary file is left.
bool ReplaceFileContents(const std::string& path, const void* bytes, size_t size);

// Test seam: every save counts its file operations (creating the temporary file, each write,
// the sync, the close and the move, and syncing the folder where the system has that). Armed
// with n > 0, the n-th operation from now on fails once with the error given (an errno value;
// a failed close still closes).
void FailSaveOperation(int32_t n, int error);
// Operations counted since the last FailSaveOperation.
int32_t SaveOperationCount();

// ---- Places --------------------------------------------------------------------------------

// The per-user data folder for our files (not created here); empty when none is known.
std::string UserDataDirectory();
// Why UserDataDirectory is empty, in words naming what is unset.
const char* UserDataDirectoryUnknown();
// The file named name inside folder.
std::string PathInFolder(const std::string& folder, const char* name);
// True when files may be created in the current folder.
bool CurrentFolderWritable();
bool FileExists(const std::string& path);
bool FileReadable(const std::string& path);
// Makes the folder and those above it; the last one private to the user. False (errno-style
// reason in reason) when it cannot be made or something else is in its place.
bool MakeDataFolder(const std::string& path, std::string* reason);
