// Where F5, F6 and F12 put their files: the current directory when we may write there (the
// program's historic place), else a per-user data folder so a read-only working directory
// does not make every save fail. F6 reads what F5 would write, or else a scene file lying in
// the current directory.
#include <cstdio>

#include "app/scene_file.h"

namespace {
// Where a save of the file goes now; see PlaceFile.
std::string PlaceForWriting(const char* name, bool create) {
    if (CurrentFolderWritable()) return name;
    std::string folder = UserDataDirectory();
    if (folder.empty()) return "";
    std::string reason;
    if (create && !MakeDataFolder(folder, &reason)) {
        std::fprintf(stderr, "pfadlotse: cannot create %s: %s\n", folder.c_str(), reason.c_str());
        return "";
    }
    return PathInFolder(folder, name);
}
}  // namespace

std::string PlaceFile(const char* name, bool forWriting) {
    std::string saved = PlaceForWriting(name, forWriting);
    if (!forWriting) {
        // What a save would have written comes first; without one, a file that came with a
        // folder we may not write (a scene handed out, a mounted medium) is read in place.
        if (!saved.empty() && FileExists(saved)) return saved;
        if (saved != name && FileReadable(name)) return name;
    }
    if (saved.empty() && UserDataDirectory().empty()) {
        std::fprintf(stderr,
                     "pfadlotse: cannot place %s: the current directory is not writable and %s\n",
                     name, UserDataDirectoryUnknown());
    }
    return saved;
}
