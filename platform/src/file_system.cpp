// Files: open, read, flush, close, move, delete, local time, the calling thread's last error.
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#include <windows.h>

#include <cerrno>
#include <string>

#include "kp_platform.h"

namespace {

thread_local DWORD t_lastError = ERROR_SUCCESS;

std::string slashes(const char* path) {
    std::string out(path ? path : "");
    for (char& c : out)
        if (c == '\\') c = '/';
    return out;
}

DWORD errorFromErrno(int error) {
    switch (error) {
        case ENOENT:
            return ERROR_FILE_NOT_FOUND;
        case ENOTDIR:
            return ERROR_PATH_NOT_FOUND;
        case EACCES:
        case EPERM:
        case EISDIR:
        case EROFS:
            return ERROR_ACCESS_DENIED;
        case EEXIST:
            return ERROR_ALREADY_EXISTS;
        case ENOMEM:
            return ERROR_NOT_ENOUGH_MEMORY;
        case ENOSPC:
            return ERROR_DISK_FULL;
        case EBADF:
            return ERROR_INVALID_HANDLE;
        case EINVAL:
            return ERROR_INVALID_PARAMETER;
        default:
            return ERROR_GEN_FAILURE;
    }
}

BOOL failWithErrno() {
    t_lastError = errorFromErrno(errno);
    return FALSE;
}

// Handles are descriptors plus one, as GetStdHandle gives them, so that WriteFile takes both.
int descriptorOf(HANDLE handle) {
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return -1;
    return static_cast<int>(reinterpret_cast<intptr_t>(handle) - 1);
}

std::string folderOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

HANDLE CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD, LPSECURITY_ATTRIBUTES,
                   DWORD dwCreationDisposition, DWORD, HANDLE) {
    int flags = O_CLOEXEC | O_NONBLOCK;  // a named pipe must not block the open
    const bool reads = dwDesiredAccess & GENERIC_READ, writes = dwDesiredAccess & GENERIC_WRITE;
    flags |= reads && writes ? O_RDWR : writes ? O_WRONLY : O_RDONLY;
    switch (dwCreationDisposition) {
        case CREATE_NEW:
            flags |= O_CREAT | O_EXCL;
            break;
        case CREATE_ALWAYS:
            flags |= O_CREAT | O_TRUNC;
            break;
        case OPEN_EXISTING:
            break;
        case OPEN_ALWAYS:
            flags |= O_CREAT;
            break;
        case TRUNCATE_EXISTING:
            flags |= O_TRUNC;
            break;
        default:
            t_lastError = ERROR_INVALID_PARAMETER;
            return INVALID_HANDLE_VALUE;
    }
    const int fd = ::open(slashes(lpFileName).c_str(), flags, 0600);
    if (fd < 0) {
        failWithErrno();
        return INVALID_HANDLE_VALUE;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        ::close(fd);
        t_lastError = ERROR_ACCESS_DENIED;
        return INVALID_HANDLE_VALUE;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    t_lastError = ERROR_SUCCESS;
    return reinterpret_cast<HANDLE>(static_cast<intptr_t>(fd) + 1);
}

BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
              LPOVERLAPPED) {
    if (lpNumberOfBytesRead) *lpNumberOfBytesRead = 0;
    const int fd = descriptorOf(hFile);
    if (fd < 0) {
        t_lastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    ssize_t n;
    do {
        n = ::read(fd, lpBuffer, nNumberOfBytesToRead);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return failWithErrno();
    if (lpNumberOfBytesRead) *lpNumberOfBytesRead = static_cast<DWORD>(n);
    return TRUE;
}

DWORD GetFileType(HANDLE hFile) {
    struct stat st {};
    if (::fstat(descriptorOf(hFile), &st) != 0) {
        failWithErrno();
        return FILE_TYPE_UNKNOWN;
    }
    t_lastError = ERROR_SUCCESS;
    if (S_ISREG(st.st_mode)) return FILE_TYPE_DISK;
    if (S_ISCHR(st.st_mode)) return FILE_TYPE_CHAR;
    if (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode)) return FILE_TYPE_PIPE;
    return FILE_TYPE_UNKNOWN;
}

BOOL GetFileSizeEx(HANDLE hFile, PLARGE_INTEGER lpFileSize) {
    struct stat st {};
    if (!lpFileSize) {
        t_lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    if (::fstat(descriptorOf(hFile), &st) != 0) return failWithErrno();
    lpFileSize->QuadPart = static_cast<LONGLONG>(st.st_size);
    return TRUE;
}

BOOL SetFilePointerEx(HANDLE hFile, LARGE_INTEGER liDistanceToMove, PLARGE_INTEGER lpNewFilePointer,
                      DWORD dwMoveMethod) {
    const int whence = dwMoveMethod == FILE_BEGIN     ? SEEK_SET
                       : dwMoveMethod == FILE_CURRENT ? SEEK_CUR
                                                      : SEEK_END;
    if (dwMoveMethod > FILE_END) {
        t_lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    const off_t at = ::lseek(descriptorOf(hFile), static_cast<off_t>(liDistanceToMove.QuadPart), whence);
    if (at < 0) return failWithErrno();
    if (lpNewFilePointer) lpNewFilePointer->QuadPart = static_cast<LONGLONG>(at);
    return TRUE;
}

BOOL FlushFileBuffers(HANDLE hFile) { return ::fsync(descriptorOf(hFile)) == 0 ? TRUE : failWithErrno(); }

namespace kp {

bool startWriteBack(void* file, unsigned long long offset, unsigned long long length) {
    const int fd = descriptorOf(file);
    if (fd < 0 || ::sync_file_range(fd, static_cast<off64_t>(offset), static_cast<off64_t>(length),
                                    SYNC_FILE_RANGE_WRITE) != 0) {
        if (fd < 0) errno = EBADF;
        return failWithErrno();
    }
    return true;
}

bool fileOpenToOthers(const std::string& path) {
    struct stat info {};
    return ::stat(slashes(path.c_str()).c_str(), &info) == 0 && (info.st_mode & (S_IRWXG | S_IRWXO)) != 0;
}

}  // namespace kp

BOOL CloseHandle(HANDLE hObject) {
    const int fd = descriptorOf(hObject);
    if (fd < 0) {
        t_lastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    return ::close(fd) == 0 ? TRUE : failWithErrno();
}

BOOL MoveFileExA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, DWORD dwFlags) {
    const std::string from = slashes(lpExistingFileName), to = slashes(lpNewFileName);
    int moved;
    if (dwFlags & MOVEFILE_REPLACE_EXISTING) {
        moved = ::rename(from.c_str(), to.c_str());
    } else {
        moved = ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE);
        // A file system without that flag: a second name that cannot replace, then the first goes.
        if (moved != 0 && errno == EINVAL) {
            moved = ::link(from.c_str(), to.c_str());
            if (moved == 0) ::unlink(from.c_str());
        }
    }
    if (moved != 0) return failWithErrno();
    if (dwFlags & MOVEFILE_WRITE_THROUGH) {
        const int folder = ::open(folderOf(to).c_str(), O_RDONLY | O_CLOEXEC);
        if (folder < 0) return failWithErrno();
        const int synced = ::fsync(folder);
        ::close(folder);
        if (synced != 0) return failWithErrno();
    }
    return TRUE;
}

BOOL DeleteFileA(LPCSTR lpFileName) {
    return ::unlink(slashes(lpFileName).c_str()) == 0 ? TRUE : failWithErrno();
}

DWORD GetLastError() { return t_lastError; }

void SetLastError(DWORD dwErrCode) { t_lastError = dwErrCode; }

errno_t localtime_s(struct tm* out, const time_t* time) {
    if (!out) return EINVAL;
    *out = tm{};
    if (!time || !localtime_r(time, out)) return EINVAL;
    return 0;
}

void GetLocalTime(LPSYSTEMTIME lpSystemTime) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm local{};
    localtime_r(&now.tv_sec, &local);
    lpSystemTime->wYear = static_cast<WORD>(local.tm_year + 1900);
    lpSystemTime->wMonth = static_cast<WORD>(local.tm_mon + 1);
    lpSystemTime->wDayOfWeek = static_cast<WORD>(local.tm_wday);
    lpSystemTime->wDay = static_cast<WORD>(local.tm_mday);
    lpSystemTime->wHour = static_cast<WORD>(local.tm_hour);
    lpSystemTime->wMinute = static_cast<WORD>(local.tm_min);
    lpSystemTime->wSecond = static_cast<WORD>(local.tm_sec);
    lpSystemTime->wMilliseconds = static_cast<WORD>(now.tv_nsec / 1000000);
}

int _chmod(const char* filename, int pmode) {
    const mode_t mode = ((pmode & _S_IREAD) ? S_IRUSR : 0) | ((pmode & _S_IWRITE) ? S_IWUSR : 0);
    return ::chmod(slashes(filename).c_str(), mode);
}

int _isatty(int fd) { return ::isatty(fd); }

int _dup(int fd) { return ::dup(fd); }

int _dup2(int fd1, int fd2) { return ::dup2(fd1, fd2) < 0 ? -1 : 0; }

int _write(int fd, const void* buffer, unsigned int count) {
    for (;;) {
        const ssize_t written = ::write(fd, buffer, count);
        if (written >= 0 || errno != EINTR) return static_cast<int>(written);
    }
}
