#include "file_reader.h"

// Windows' header would otherwise make min and max macros.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <algorithm>

namespace xlsbook {

namespace {

class FileHandle {
public:
    explicit FileHandle(HANDLE handle) : handle_(handle) {}
    ~FileHandle() {
        if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    HANDLE get() const { return handle_; }

private:
    HANDLE handle_;
};

}  // namespace

LoadStatus read_whole_file(const std::string& path, size_t limit, ByteBlock& out) {
    out.clear();
    FileHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return LoadStatus::missing;
        if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION) return LoadStatus::denied;
        return LoadStatus::read_error;
    }
    if (GetFileType(file.get()) != FILE_TYPE_DISK) return LoadStatus::not_regular;
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size)) return LoadStatus::read_error;
    if (size.QuadPart < 0 || static_cast<uint64_t>(size.QuadPart) > limit) return LoadStatus::too_large;
    // One byte more than the size, so that the end of the file is seen by the first reads; a
    // file that grows meanwhile is read on, up to the limit.
    if (!out.resize(static_cast<size_t>(size.QuadPart) + 1)) return LoadStatus::too_large;
    size_t used = 0;
    for (;;) {
        if (used == out.size()) {
            if (out.size() > limit) return out.clear(), LoadStatus::too_large;
            if (!out.resize(std::min(limit + 1, std::max<size_t>(2 * out.size(), 65536))))
                return out.clear(), LoadStatus::too_large;
        }
        DWORD got = 0;
        const DWORD want = static_cast<DWORD>(std::min<size_t>(out.size() - used, 1u << 30));
        if (!ReadFile(file.get(), out.data() + used, want, &got, nullptr))
            return out.clear(), LoadStatus::read_error;
        if (got == 0) break;
        used += got;
    }
    out.keep(0, used);
    return LoadStatus::loaded;
}

const char* describe(LoadStatus status) {
    switch (status) {
        case LoadStatus::loaded:
            return "loaded";
        case LoadStatus::missing:
            return "no such file";
        case LoadStatus::denied:
            return "access denied";
        case LoadStatus::not_regular:
            return "not a regular file";
        case LoadStatus::too_large:
            return "file too large";
        case LoadStatus::read_error:
            return "read error";
        case LoadStatus::damaged:
            return "damaged content";
    }
    return "";
}

}  // namespace xlsbook
