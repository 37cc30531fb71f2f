// Files on POSIX systems: reading, replacing safely (temporary file, fsync, rename), and the
// XDG data folder.
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/files.h"

// ---- Reading -------------------------------------------------------------------------------

struct InputFile {
    int fd;
};

InputFile* OpenInputFile(const std::string& path, int64_t maxBytes, FileOpenOutcome* outcome,
                         std::string* reason, int64_t* size) {
    // Non-blocking, so a FIFO in the file's place cannot hang us before it is refused.
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        *outcome = errno == ENOENT ? FILE_MISSING : FILE_UNREADABLE;
        *reason = std::strerror(errno);
        return nullptr;
    }
    struct stat status;
    if (fstat(fd, &status) != 0) {
        *outcome = FILE_UNREADABLE;
        *reason = std::strerror(errno);
    } else if (!S_ISREG(status.st_mode)) {
        *outcome = FILE_NOT_REGULAR;
    } else if (status.st_size > maxBytes) {
        *outcome = FILE_TOO_LONG;
    } else {
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        *outcome = FILE_OPENED;
        *size = status.st_size;
        return new InputFile{fd};
    }
    close(fd);
    return nullptr;
}

int64_t ReadInputFile(InputFile* file, void* destination, size_t size) {
    size_t done = 0;
    while (done < size) {
        ssize_t got = read(file->fd, static_cast<char*>(destination) + done, size - done);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return -1;
        if (got == 0) break;
        done += static_cast<size_t>(got);
    }
    return static_cast<int64_t>(done);
}

void CloseInputFile(InputFile* file) {
    if (!file) return;
    close(file->fd);
    delete file;
}

// ---- Replacing -----------------------------------------------------------------------------

namespace {
// ---- The fault seam: every file operation of a save passes one of these. ----
std::atomic<int32_t> operationsCounted{0};
std::atomic<int32_t> failingOperation{0};
std::atomic<int> failingError{0};

// True (with errno set) when this operation is the one armed to fail.
bool InjectedFailure() {
    int32_t number = operationsCounted.fetch_add(1, std::memory_order_relaxed) + 1;
    if (number != failingOperation.load(std::memory_order_relaxed)) return false;
    failingOperation.store(0, std::memory_order_relaxed);
    errno = failingError.load(std::memory_order_relaxed);
    return true;
}

int IoOpen(const char* path, int flags, mode_t mode) {
    if (InjectedFailure()) return -1;
    return open(path, flags, mode);
}
ssize_t IoWrite(int fd, const void* bytes, size_t size) {
    if (InjectedFailure()) return -1;
    return write(fd, bytes, size);
}
int IoFsync(int fd) {
    if (InjectedFailure()) return -1;
    return fsync(fd);
}
int IoClose(int fd) {
    // Like a real failed close, the descriptor is gone either way.
    if (InjectedFailure()) {
        int error = errno;
        close(fd);
        errno = error;
        return -1;
    }
    return close(fd);
}
int IoRename(const char* from, const char* to) {
    if (InjectedFailure()) return -1;
    return rename(from, to);
}

std::string DirectoryOf(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string BaseNameOf(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Follows symbolic links from path to the name of the file they lead to (which need not exist),
// so that a save replaces that file and the link stays a link.
bool FollowLinks(std::string& path, const char*& reason) {
    for (int hops = 0; hops < 40; ++hops) {
        struct stat status;
        if (lstat(path.c_str(), &status) != 0) {
            if (errno == ENOENT) return true;
            reason = std::strerror(errno);
            return false;
        }
        if (!S_ISLNK(status.st_mode)) return true;
        char target[4096];
        ssize_t length = readlink(path.c_str(), target, sizeof target - 1);
        if (length < 0) {
            reason = std::strerror(errno);
            return false;
        }
        target[length] = '\0';
        path = target[0] == '/' ? std::string(target) : DirectoryOf(path) + "/" + target;
    }
    reason = std::strerror(ELOOP);
    return false;
}

bool WriteAll(int fd, const void* bytes, size_t size) {
    const char* next = static_cast<const char*>(bytes);
    while (size > 0) {
        ssize_t written = IoWrite(fd, next, size);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            if (written == 0) errno = EIO;
            return false;
        }
        next += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

// A new file beside target that no one else has: created exclusively, under a hidden name.
int CreateTemporaryBeside(const std::string& target, std::string& temporary) {
    static unsigned serial = 0;
    std::string stem = DirectoryOf(target) + "/." + BaseNameOf(target) + ".";
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary = stem + std::to_string(getpid()) + "-" + std::to_string(++serial) + ".tmp";
        int fd = IoOpen(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    errno = EEXIST;
    return -1;
}
}  // namespace

bool ReplaceFileContents(const std::string& path, const void* bytes, size_t size) {
    std::string temporary;
    int fd = -1;
    auto fail = [&](const char* reason) {
        if (fd >= 0) close(fd);
        if (!temporary.empty()) unlink(temporary.c_str());
        std::fprintf(stderr, "pfadlotse: could not save %s: %s\n", path.c_str(), reason);
        return false;
    };

    std::string target = path;
    const char* reason = nullptr;
    if (!FollowLinks(target, reason)) return fail(reason);
    struct stat existing;
    bool exists = stat(target.c_str(), &existing) == 0;
    if (exists && !S_ISREG(existing.st_mode)) return fail("it is not a regular file");
    // Creating a file over one we may not write is refused, as opening it would be.
    if (exists && access(target.c_str(), W_OK) != 0) return fail(std::strerror(errno));

    fd = CreateTemporaryBeside(target, temporary);
    if (fd < 0) {
        temporary.clear();
        return fail(std::strerror(errno));
    }
    if (exists) {
        // The replacement keeps the old file's permissions and, where we may, its owner.
        fchmod(fd, existing.st_mode & 07777);
        [[maybe_unused]] int owned = fchown(fd, existing.st_uid, existing.st_gid);
    }
    if (!WriteAll(fd, bytes, size) || IoFsync(fd) != 0) return fail(std::strerror(errno));
    int closed = IoClose(fd);
    fd = -1;
    if (closed != 0) return fail(std::strerror(errno));
    if (IoRename(temporary.c_str(), target.c_str()) != 0) return fail(std::strerror(errno));

    // Makes the rename itself durable; a failure here still leaves a complete file.
    int folder = IoOpen(DirectoryOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
    if (folder >= 0) {
        IoFsync(folder);
        IoClose(folder);
    }
    return true;
}

// ---- Places --------------------------------------------------------------------------------

namespace {
std::string HomeDirectory() {
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/') return home;
    struct passwd entry;
    struct passwd* found = nullptr;
    char buffer[4096];
    if (getpwuid_r(getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found &&
        found->pw_dir && found->pw_dir[0] == '/')
        return found->pw_dir;
    return "";
}

// mkdir -p, the last component with mode; the folders above it get the usual 0755.
bool MakeDirectories(const std::string& path, mode_t mode) {
    for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        std::string part = path.substr(0, slash);
        bool last = slash == std::string::npos;
        if (mkdir(part.c_str(), last ? mode : 0755) != 0) {
            int reason = errno;
            struct stat status;
            if (stat(part.c_str(), &status) != 0) {
                errno = reason;
                return false;
            }
            if (!S_ISDIR(status.st_mode)) {
                errno = ENOTDIR;
                return false;
            }
        }
        if (last) return true;
    }
}
}  // namespace

std::string UserDataDirectory() {
    // Relative values of XDG_DATA_HOME are invalid and ignored, as the XDG rules say.
    const char* xdg = std::getenv("XDG_DATA_HOME");
    if (xdg && xdg[0] == '/') return std::string(xdg) + "/pfadlotse";
    std::string home = HomeDirectory();
    if (home.empty()) return "";
    return home + "/.local/share/pfadlotse";
}

const char* UserDataDirectoryUnknown() { return "neither XDG_DATA_HOME nor HOME is set"; }

std::string PathInFolder(const std::string& folder, const char* name) {
    return folder + "/" + name;
}

bool CurrentFolderWritable() { return access(".", W_OK | X_OK) == 0; }
bool FileExists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }
bool FileReadable(const std::string& path) { return access(path.c_str(), R_OK) == 0; }

bool MakeDataFolder(const std::string& path, std::string* reason) {
    if (MakeDirectories(path, 0700)) return true;
    *reason = std::strerror(errno);
    return false;
}

// ---- Test seam -----------------------------------------------------------------------------

void FailSaveOperation(int32_t n, int error) {
    failingError.store(error, std::memory_order_relaxed);
    failingOperation.store(n, std::memory_order_relaxed);
    operationsCounted.store(0, std::memory_order_relaxed);
}

int32_t SaveOperationCount() { return operationsCounted.load(std::memory_order_relaxed); }
