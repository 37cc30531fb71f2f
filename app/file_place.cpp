// Where F5, F6 and F12 put their files: the current directory when we may write there (the
// program's historic place), else a per-user data folder so a read-only working directory
// does not make every save fail. F6 reads what F5 would write, or else a scene file lying in
// the current directory.
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/scene_file.h"

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
    for (size_t slash = path.find('/', 1); ; slash = path.find('/', slash + 1)) {
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

namespace {
// Where a save of the file goes now; see PlaceFile.
std::string PlaceForWriting(const char* name, bool create) {
    if (access(".", W_OK | X_OK) == 0) return name;
    std::string folder = UserDataDirectory();
    if (folder.empty()) return "";
    if (create && !MakeDirectories(folder, 0700)) {
        std::fprintf(stderr, "pfadlotse: cannot create %s: %s\n", folder.c_str(),
                     std::strerror(errno));
        return "";
    }
    return folder + "/" + name;
}
}  // namespace

std::string PlaceFile(const char* name, bool forWriting) {
    std::string saved = PlaceForWriting(name, forWriting);
    if (!forWriting) {
        // What a save would have written comes first; without one, a file that came with a
        // folder we may not write (a scene handed out, a mounted medium) is read in place.
        if (!saved.empty() && access(saved.c_str(), F_OK) == 0) return saved;
        if (saved != name && access(name, R_OK) == 0) return name;
    }
    if (saved.empty() && UserDataDirectory().empty()) {
        std::fprintf(stderr,
                     "pfadlotse: cannot place %s: the current directory is not writable and "
                     "neither XDG_DATA_HOME nor HOME is set\n",
                     name);
    }
    return saved;
}
