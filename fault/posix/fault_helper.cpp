// pfadlotse-fault-helper: turns the record of a fault into the report's three lines and shows
// them. Started by the faulting program with the record on standard input; it reads the
// program's line tables from the running executable, which the program hands it as an open
// file, so it needs no access to the program's memory beyond the stack copy it is given.
#include <dwarf.h>
#include <elfutils/libdw.h>
#include <elfutils/libdwfl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "fault/fault_record.h"
#include "platform/display.h"
#include "platform/system.h"

namespace {

const char* USAGE =
    "usage: pfadlotse-fault-helper --report EXECUTABLE [--notice FD] < RECORD\n"
    "\n"
    "Shows the fault report of a Pfadlotse program that hit a processor fault: the kind of\n"
    "fault, our source line that was running and the faulting instruction's address. The\n"
    "program starts this helper itself with the fault record on standard input; there is no\n"
    "reason to run it by hand.\n"
    "\n"
    "The three lines always go to stderr. They are shown in a message box titled \"Fehler\"\n"
    "when a display is there. With --notice, the helper writes 'R' to FD once the lines are on\n"
    "stderr and 'S' once the box is on screen. With PFAD_FAULT_RECORDER=FILE set, the lines\n"
    "are appended to FILE instead of shown, and the helper waits until FILE.release exists\n"
    "(at most 20 s).\n";

struct SourceLine {
    std::string path;  // relative to the project root
    uint32_t line = 0;
};

// Our sources: geometry/, pathsearch/, app/, plus the file holding the frame loop. The
// services below them (platform/, fault/, the libraries) are not: a fault inside one names the
// line of ours that called it.
struct OwnCode {
    std::string root;  // the project root, with a trailing slash
    std::string mainFile;

    // The path relative to the root when it is one of our sources, otherwise empty.
    std::string Relative(const char* path) const {
        if (!path) return {};
        std::string normal = Normalise(path);
        if (normal.compare(0, root.size(), root) != 0) return {};
        std::string relative = normal.substr(root.size());
        for (const char* folder : {"geometry/", "pathsearch/", "app/"})
            if (relative.compare(0, std::strlen(folder), folder) == 0) return relative;
        return relative == mainFile ? relative : std::string();
    }

    // Drops "." segments and doubled slashes, resolves "..", so paths compare as text.
    static std::string Normalise(const std::string& path) {
        std::vector<std::string> parts;
        size_t at = 0;
        while (at <= path.size()) {
            size_t slash = path.find('/', at);
            if (slash == std::string::npos) slash = path.size();
            std::string part = path.substr(at, slash - at);
            if (part == "..") {
                if (!parts.empty()) parts.pop_back();
            } else if (!part.empty() && part != ".") {
                parts.push_back(part);
            }
            at = slash + 1;
        }
        std::string joined;
        for (auto& part : parts) joined += "/" + part;
        return joined;
    }
};

class LineTables {
  public:
    explicit LineTables(const char* executable, uint64_t loadBias) {
        static const Dwfl_Callbacks callbacks = {
            .find_elf = dwfl_build_id_find_elf,
            .find_debuginfo = dwfl_standard_find_debuginfo,
            .section_address = dwfl_offline_section_address,
            .debuginfo_path = nullptr,
        };
        dwfl_ = dwfl_begin(&callbacks);
        if (!dwfl_) return;
        module_ = dwfl_report_elf(dwfl_, "main", executable, -1, loadBias, true);
        dwfl_report_end(dwfl_, nullptr, nullptr);
    }
    ~LineTables() {
        if (dwfl_) dwfl_end(dwfl_);
    }
    LineTables(const LineTables&) = delete;
    LineTables& operator=(const LineTables&) = delete;

    bool Usable() const { return module_ != nullptr; }

    // The source file of the function the frame loop runs in, or empty.
    std::string FrameLoopFile(const OwnCode& own) {
        int count = dwfl_module_getsymtab(module_);
        for (int i = 0; i < count; ++i) {
            GElf_Sym symbol;
            GElf_Addr address;
            const char* name =
                dwfl_module_getsym_info(module_, i, &symbol, &address, nullptr, nullptr, nullptr);
            if (!name || GELF_ST_TYPE(symbol.st_info) != STT_FUNC || !IsFrameLoopName(name))
                continue;
            Dwfl_Line* line = dwfl_module_getsrc(module_, address);
            const char* file =
                line ? dwfl_lineinfo(line, nullptr, nullptr, nullptr, nullptr, nullptr) : nullptr;
            if (!file) continue;
            std::string normal = OwnCode::Normalise(file);
            if (normal.compare(0, own.root.size(), own.root) == 0)
                return normal.substr(own.root.size());
        }
        return {};
    }

    // The line of our code that address belongs to: the line itself when it is ours, else the
    // nearest call site it was inlined into that is ours.
    bool OwnLineAt(uint64_t address, const OwnCode& own, SourceLine& found) {
        if (!module_ || dwfl_addrmodule(dwfl_, address) != module_) return false;
        Dwfl_Line* line = dwfl_module_getsrc(module_, address);
        if (line) {
            int number = 0;
            const char* file = dwfl_lineinfo(line, nullptr, &number, nullptr, nullptr, nullptr);
            std::string relative = own.Relative(file);
            if (!relative.empty() && number > 0) {
                found = {relative, static_cast<uint32_t>(number)};
                return true;
            }
        }
        Dwarf_Addr bias = 0;
        Dwarf_Die* unit = dwfl_module_addrdie(module_, address, &bias);
        if (!unit) return false;
        Dwarf_Files* files = nullptr;
        size_t fileCount = 0;
        if (dwarf_getsrcfiles(unit, &files, &fileCount) != 0) return false;
        Dwarf_Die* scopes = nullptr;
        int scopeCount = dwarf_getscopes(unit, address - bias, &scopes);
        bool ok = false;
        for (int i = 0; i < scopeCount && !ok; ++i) {
            if (dwarf_tag(&scopes[i]) != DW_TAG_inlined_subroutine) continue;
            Dwarf_Attribute attribute;
            Dwarf_Word fileIndex = 0, callLine = 0;
            if (dwarf_formudata(dwarf_attr(&scopes[i], DW_AT_call_file, &attribute), &fileIndex) !=
                    0 ||
                dwarf_formudata(dwarf_attr(&scopes[i], DW_AT_call_line, &attribute), &callLine) !=
                    0)
                continue;
            const char* file = dwarf_filesrc(files, fileIndex, nullptr, nullptr);
            std::string relative = own.Relative(WithCompDir(unit, file).c_str());
            if (!relative.empty() && callLine > 0) {
                found = {relative, static_cast<uint32_t>(callLine)};
                ok = true;
            }
        }
        free(scopes);
        return ok;
    }

    // True when returnAddress is in the program's code and follows a call instruction, which
    // tells a return address on the stack from other values that happen to point into code.
    bool FollowsCall(uint64_t returnAddress) {
        if (!module_ || dwfl_addrmodule(dwfl_, returnAddress) != module_) return false;
        Dwarf_Addr bias = 0;
        Elf* elf = dwfl_module_getelf(module_, &bias);
        if (!elf || returnAddress < bias + 7) return false;
        uint64_t fileAddress = returnAddress - bias;
        Elf_Scn* section = nullptr;
        while ((section = elf_nextscn(elf, section)) != nullptr) {
            GElf_Shdr header;
            if (!gelf_getshdr(section, &header) || !(header.sh_flags & SHF_EXECINSTR)) continue;
            if (fileAddress < header.sh_addr + 7 || fileAddress > header.sh_addr + header.sh_size)
                continue;
            Elf_Data* data = elf_getdata(section, nullptr);
            if (!data || !data->d_buf) return false;
            const auto* code =
                static_cast<const uint8_t*>(data->d_buf) + (fileAddress - header.sh_addr);
            if (code[-5] == 0xE8) return true;  // call rel32
            // call through a register or memory: FF /2, two to seven bytes long
            for (int length : {2, 3, 4, 6, 7}) {
                if (code[-length] == 0xFF && ((code[-length + 1] >> 3) & 7) == 2) return true;
            }
            return false;
        }
        return false;
    }

  private:
    static bool IsFrameLoopName(const char* name) {
        return std::strcmp(name, "RunFrameLoop") == 0 ||
               std::strncmp(name, "_Z12RunFrameLoop", 16) == 0 ||
               std::strncmp(name, "_ZL12RunFrameLoop", 17) == 0;
    }

    static std::string WithCompDir(Dwarf_Die* unit, const char* file) {
        if (!file) return {};
        if (file[0] == '/') return file;
        Dwarf_Attribute attribute;
        const char* folder = dwarf_formstring(dwarf_attr(unit, DW_AT_comp_dir, &attribute));
        return folder ? std::string(folder) + "/" + file : std::string(file);
    }

    Dwfl* dwfl_ = nullptr;
    Dwfl_Module* module_ = nullptr;
};

// The first line of our code from the faulting instruction outward: the instruction itself,
// then each return address on the stack copy, looked up one byte back (inside the call).
bool FindRunningLine(LineTables& tables, const OwnCode& own, const FaultRecord& record,
                     const std::vector<uint8_t>& stack, SourceLine& found) {
    if (tables.OwnLineAt(record.instruction, own, found)) return true;
    for (size_t at = (8 - record.stackPointer % 8) % 8; at + 8 <= stack.size(); at += 8) {
        uint64_t word;
        std::memcpy(&word, stack.data() + at, sizeof word);
        if (word > 0 && tables.FollowsCall(word) && tables.OwnLineAt(word - 1, own, found))
            return true;
    }
    return false;
}

bool ReadAll(int fd, void* buffer, size_t length) {
    auto* at = static_cast<uint8_t*>(buffer);
    while (length > 0) {
        ssize_t got = read(fd, at, length);
        if (got <= 0) return false;
        at += got;
        length -= static_cast<size_t>(got);
    }
    return true;
}

void Notice(int fd, char what) {
    if (fd >= 0 && write(fd, &what, 1) != 1) {
        // The program has stopped listening; it ends the helper itself.
    }
}

// Test mode: the message goes to the recorder file, and the helper holds the report open until
// the test releases it, so the test can watch the program's other thread meanwhile.
void Record(const char* recorder, const std::string& message, int noticeFd) {
    if (FILE* file = std::fopen(recorder, "ab")) {
        std::fwrite(message.data(), 1, message.size(), file);
        std::fclose(file);
    }
    Notice(noticeFd, 'S');
    std::string release = std::string(recorder) + ".release";
    struct stat info;
    for (int waited = 0; waited < 20000 && stat(release.c_str(), &info) != 0; waited += 10)
        SleepMilliseconds(10);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(USAGE, stdout);
        return 0;
    }
    std::signal(SIGPIPE, SIG_IGN);  // a notice to a program that has gone is no reason to die
    int noticeFd = -1;
    if (argc == 5 && std::strcmp(argv[3], "--notice") == 0) {
        char* end = nullptr;
        long fd = std::strtol(argv[4], &end, 10);
        if (end && *end == '\0' && fd >= 0 && fd < 1024) noticeFd = static_cast<int>(fd);
        argc = 3;
    }
    if (argc != 3 || std::strcmp(argv[1], "--report") != 0) {
        std::fputs(USAGE, stderr);
        return 2;
    }
    FaultRecord record{};
    if (!ReadAll(STDIN_FILENO, &record, sizeof record) || record.magic != FAULT_RECORD_MAGIC ||
        record.version != FAULT_RECORD_VERSION) {
        std::fputs("pfadlotse-fault-helper: no fault record on standard input\n", stderr);
        return 2;
    }
    std::vector<uint8_t> stack(record.stackLength <= FAULT_STACK_COPY_LIMIT ? record.stackLength
                                                                            : 0);
    if (!stack.empty() && !ReadAll(STDIN_FILENO, stack.data(), stack.size())) stack.clear();

    OwnCode own{OwnCode::Normalise(PFAD_SOURCE_ROOT) + "/", "app/frame_loop.cpp"};
    SourceLine running;
    elf_version(EV_CURRENT);
    LineTables tables(argv[2], record.loadBias);
    if (tables.Usable()) {
        std::string frameLoopFile = tables.FrameLoopFile(own);
        if (!frameLoopFile.empty()) own.mainFile = frameLoopFile;
        FindRunningLine(tables, own, record, stack, running);
    }

    FaultFileTable files;
    FaultFileTableInit(files, own.mainFile.c_str());
    uint32_t position = 0;
    if (running.line > 0)
        position = FaultPosition(FaultFileIndex(files, running.path.c_str()), running.line);
    char text[2048];
    size_t length = ComposeFaultMessage(
        text, sizeof text, record.kind, FaultFileName(files, FaultPositionFile(position)),
        FaultPositionLine(position), record.instruction, record.pointerBits);
    std::string message(text, length);
    std::fprintf(stderr, "%s\n", message.c_str());
    std::fflush(stderr);
    Notice(noticeFd, 'R');

    if (const char* recorder = std::getenv("PFAD_FAULT_RECORDER")) {
        Record(recorder, message, noticeFd);
    } else if (std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY")) {
        SetMessageBoxShownNotice(noticeFd);
        ShowMessageBox("Fehler", message);
    }
    return 0;
}
