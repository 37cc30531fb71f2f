// A fresh folder for one test, made the current directory while the test runs, with
// XDG_DATA_HOME pointing into it so nothing is written under the real home folder.
#pragma once

#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

class TempFolder {
  public:
    TempFolder() {
        char pattern[] = "/tmp/pfadlotse-test-XXXXXX";
        path_ = mkdtemp(pattern);
        previous_ = std::filesystem::current_path();
        std::filesystem::current_path(path_);
        setenv("XDG_DATA_HOME", (path_ + "/data").c_str(), 1);
    }
    ~TempFolder() {
        std::filesystem::current_path(previous_);
        std::error_code ignored;
        // Undo any permission a test took away, so everything can be removed.
        for (auto& entry : std::filesystem::recursive_directory_iterator(path_, ignored))
            std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ignored);
        std::filesystem::remove_all(path_, ignored);
    }
    const std::string& path() const { return path_; }

  private:
    std::string path_;
    std::filesystem::path previous_;
};

inline std::vector<char> ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<char>(std::istreambuf_iterator<char>(in), {});
}

inline void WriteFileBytes(const std::string& path, const std::vector<char>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Names in a folder, hidden ones included.
inline std::vector<std::string> FolderEntries(const std::string& path) {
    std::vector<std::string> names;
    for (auto& entry : std::filesystem::directory_iterator(path))
        names.push_back(entry.path().filename().string());
    return names;
}

// Runs step in a child process without root's rights (as nobody when we are root), so that
// permissions mean what they say; the folder is opened to everyone for that. Returns the
// child's exit status; 77 means the child could not drop its rights.
template <class Step>
int RunUnprivileged(const TempFolder& folder, Step step) {
    chmod(folder.path().c_str(), 0777);
    pid_t child = fork();
    if (child < 0) return -1;
    if (child == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(77);
        _exit(step());
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}
