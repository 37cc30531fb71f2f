// Files on Windows: reading, replacing safely (temporary file, FlushFileBuffers, MoveFileExW
// with write-through), and %LOCALAPPDATA%\pfadlotse. Paths are UTF-8 and become UTF-16 here.
#include <windows.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/files.h"

namespace {

std::wstring Wide(const std::string& text) {
    if (text.empty()) return std::wstring();
    int length =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                        length);
    return wide;
}

std::string Narrow(const wchar_t* text) {
    int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (length <= 1) return std::string();
    std::string narrow(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, narrow.data(), length, nullptr, nullptr);
    narrow.resize(static_cast<size_t>(length - 1));
    return narrow;
}

// The system's words for an error code, without the line break it ends them with.
std::string SystemMessage(DWORD code) {
    wchar_t* text = nullptr;
    DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string message = length && text ? Narrow(text) : "error " + std::to_string(code);
    if (text) LocalFree(text);
    while (!message.empty() &&
           (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
        message.pop_back();
    return message;
}

}  // namespace

// ---- Reading -------------------------------------------------------------------------------

struct InputFile {
    HANDLE handle;
};

InputFile* OpenInputFile(const std::string& path, int64_t maxBytes, FileOpenOutcome* outcome,
                         std::string* reason, int64_t* size) {
    std::wstring wide = Wide(path);
    DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        *outcome = FILE_NOT_REGULAR;
        return nullptr;
    }
    HANDLE handle = CreateFileW(wide.c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        *outcome = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? FILE_MISSING
                                                                                  : FILE_UNREADABLE;
        *reason = SystemMessage(error);
        return nullptr;
    }
    LARGE_INTEGER length;
    if (GetFileType(handle) != FILE_TYPE_DISK) {
        *outcome = FILE_NOT_REGULAR;
    } else if (!GetFileSizeEx(handle, &length)) {
        *outcome = FILE_UNREADABLE;
        *reason = SystemMessage(GetLastError());
    } else if (length.QuadPart > maxBytes) {
        *outcome = FILE_TOO_LONG;
    } else {
        *outcome = FILE_OPENED;
        *size = length.QuadPart;
        return new InputFile{handle};
    }
    CloseHandle(handle);
    return nullptr;
}

int64_t ReadInputFile(InputFile* file, void* destination, size_t size) {
    size_t done = 0;
    while (done < size) {
        DWORD chunk = size - done > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size - done);
        DWORD got = 0;
        if (!ReadFile(file->handle, static_cast<char*>(destination) + done, chunk, &got, nullptr))
            return -1;
        if (got == 0) break;
        done += got;
    }
    return static_cast<int64_t>(done);
}

void CloseInputFile(InputFile* file) {
    if (!file) return;
    CloseHandle(file->handle);
    delete file;
}

// ---- Replacing -----------------------------------------------------------------------------

namespace {
// The fault seam: every file operation of a save passes one of these.
std::atomic<int32_t> operationsCounted{0};
std::atomic<int32_t> failingOperation{0};
std::atomic<int> failingError{0};

// The armed error as a reason, when this operation is the one armed to fail; nullptr otherwise.
const char* InjectedFailure() {
    int32_t number = operationsCounted.fetch_add(1, std::memory_order_relaxed) + 1;
    if (number != failingOperation.load(std::memory_order_relaxed)) return nullptr;
    failingOperation.store(0, std::memory_order_relaxed);
    return std::strerror(failingError.load(std::memory_order_relaxed));
}

std::string DirectoryOf(const std::string& path) {
    size_t slash = path.find_last_of("/\\");
    if (slash == std::string::npos) return ".";
    return path.substr(0, slash == 0 ? 1 : slash);
}

std::string BaseNameOf(const std::string& path) {
    size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}
}  // namespace

bool ReplaceFileContents(const std::string& path, const void* bytes, size_t size) {
    std::wstring temporary;
    HANDLE handle = INVALID_HANDLE_VALUE;
    auto fail = [&](const std::string& reason) {
        if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
        if (!temporary.empty()) DeleteFileW(temporary.c_str());
        std::fprintf(stderr, "pfadlotse: could not save %s: %s\n", path.c_str(), reason.c_str());
        return false;
    };
    auto failed = [&](const char* injected) {
        return fail(injected ? injected : SystemMessage(GetLastError()));
    };

    std::wstring target = Wide(path);
    DWORD attributes = GetFileAttributesW(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        if (attributes & FILE_ATTRIBUTE_DIRECTORY) return fail("it is not a regular file");
        // Replacing a file we may not write is refused, as opening it would be.
        if (attributes & FILE_ATTRIBUTE_READONLY) return fail(SystemMessage(ERROR_ACCESS_DENIED));
    }

    // A new file beside the target that no one else has, under a hidden name.
    static unsigned serial = 0;
    std::string stem = DirectoryOf(path) + "\\." + BaseNameOf(path) + ".";
    for (int attempt = 0; attempt < 100 && handle == INVALID_HANDLE_VALUE; ++attempt) {
        temporary = Wide(stem + std::to_string(GetCurrentProcessId()) + "-" +
                         std::to_string(++serial) + ".tmp");
        if (const char* injected = InjectedFailure()) {
            temporary.clear();
            return fail(injected);
        }
        handle = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_HIDDEN, nullptr);
        if (handle == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) {
            temporary.clear();
            return failed(nullptr);
        }
    }
    if (handle == INVALID_HANDLE_VALUE) {
        temporary.clear();
        return fail(SystemMessage(ERROR_FILE_EXISTS));
    }
    const char* next = static_cast<const char*>(bytes);
    while (size > 0) {
        DWORD chunk = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
        DWORD written = 0;
        const char* injected = InjectedFailure();
        if (injected || !WriteFile(handle, next, chunk, &written, nullptr) || written == 0)
            return failed(injected);
        next += written;
        size -= written;
    }
    if (const char* injected = InjectedFailure(); injected || !FlushFileBuffers(handle))
        return failed(injected);
    const char* injected = InjectedFailure();
    BOOL closed = CloseHandle(handle);
    handle = INVALID_HANDLE_VALUE;
    if (injected || !closed) return failed(injected);
    // The hidden mark was for the temporary file only.
    SetFileAttributesW(temporary.c_str(), FILE_ATTRIBUTE_NORMAL);
    injected = InjectedFailure();
    if (injected || !MoveFileExW(temporary.c_str(), target.c_str(),
                                 MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return failed(injected);
    return true;
}

void FailSaveOperation(int32_t n, int error) {
    failingError.store(error, std::memory_order_relaxed);
    failingOperation.store(n, std::memory_order_relaxed);
    operationsCounted.store(0, std::memory_order_relaxed);
}

int32_t SaveOperationCount() { return operationsCounted.load(std::memory_order_relaxed); }

// ---- Places --------------------------------------------------------------------------------

std::string UserDataDirectory() {
    wchar_t folder[MAX_PATH];
    DWORD length = GetEnvironmentVariableW(L"LOCALAPPDATA", folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return "";
    return Narrow(folder) + "\\pfadlotse";
}

const char* UserDataDirectoryUnknown() { return "LOCALAPPDATA is not set"; }

std::string PathInFolder(const std::string& folder, const char* name) {
    return folder + "\\" + name;
}

bool CurrentFolderWritable() {
    // Folder permissions on Windows are only known by trying: a file that goes when closed.
    wchar_t name[64];
    swprintf(name, 64, L".pfadlotse-probe-%lu.tmp", GetCurrentProcessId());
    HANDLE probe = CreateFileW(name, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (probe == INVALID_HANDLE_VALUE) return false;
    CloseHandle(probe);
    return true;
}

bool FileExists(const std::string& path) {
    return GetFileAttributesW(Wide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool FileReadable(const std::string& path) {
    HANDLE handle = CreateFileW(Wide(path).c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    CloseHandle(handle);
    return true;
}

bool MakeDataFolder(const std::string& path, std::string* reason) {
    std::wstring wide = Wide(path);
    for (size_t at = wide.find_first_of(L"\\/", 3);; at = wide.find_first_of(L"\\/", at + 1)) {
        std::wstring part = wide.substr(0, at);
        if (!CreateDirectoryW(part.c_str(), nullptr)) {
            DWORD error = GetLastError();
            DWORD attributes = GetFileAttributesW(part.c_str());
            if (error != ERROR_ALREADY_EXISTS || attributes == INVALID_FILE_ATTRIBUTES ||
                !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
                *reason = SystemMessage(error == ERROR_ALREADY_EXISTS ? ERROR_DIRECTORY : error);
                return false;
            }
        }
        if (at == std::wstring::npos) return true;
    }
}
