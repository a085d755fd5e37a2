// The file calls answer as Windows does, on this system's files.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <windows.h>

#include <filesystem>
#include <string>

namespace {

bool put(const std::string& path, const std::string& text) {
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    const bool ok = file != INVALID_HANDLE_VALUE &&
                    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
                    FlushFileBuffers(file);
    return CloseHandle(file) && ok;
}

std::string get(const std::string& path) {
    const HANDLE file =
        CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    char buffer[64];
    DWORD got = 0;
    if (file == INVALID_HANDLE_VALUE || !ReadFile(file, buffer, sizeof buffer, &got, nullptr))
        return "<none>";
    CloseHandle(file);
    return std::string(buffer, got);
}

}  // namespace

TEST(FileSystem, CreateReadMoveAndDeleteAnswerAsWindowsDoes) {
    std::string dir = (std::filesystem::temp_directory_path() / "kp_file_system_XXXXXX").string();
    ASSERT_TRUE(::mkdtemp(&dir[0]));
    const std::string a = dir + "\\a", b = dir + "/b", pipe = dir + "/pipe";
    ASSERT_TRUE(put(a, "first"));
    ASSERT_TRUE(put(b, "second"));
    struct stat st {};
    ASSERT_EQ(::stat((dir + "/a").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << "created files are the owner's only";
    EXPECT_EQ(get(dir + "/missing"), "<none>");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(get(dir), "<none>") << "a folder is not opened as a file";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

    // Without MOVEFILE_REPLACE_EXISTING an existing target stays; with it, it is replaced.
    EXPECT_FALSE(MoveFileExA(a.c_str(), b.c_str(), 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(get(b), "second");
    EXPECT_TRUE(MoveFileExA(a.c_str(), b.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH));
    EXPECT_EQ(get(b), "first");

    // Opened for writing, the file is written at the position set: its end appends.
    HANDLE w = CreateFileA(b.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
    ASSERT_NE(w, INVALID_HANDLE_VALUE);
    LARGE_INTEGER move{};
    LARGE_INTEGER at{};
    EXPECT_TRUE(SetFilePointerEx(w, move, &at, FILE_END));
    EXPECT_EQ(at.QuadPart, 5);
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(w, "+", 1, &written, nullptr));
    move.QuadPart = 1;
    EXPECT_TRUE(SetFilePointerEx(w, move, &at, FILE_BEGIN));
    EXPECT_TRUE(WriteFile(w, "F", 1, &written, nullptr));
    move.QuadPart = -1;
    EXPECT_FALSE(SetFilePointerEx(w, move, &at, FILE_BEGIN));
    CloseHandle(w);
    EXPECT_EQ(get(b), "fFrst+");

    // A named pipe opens at once and says what it is.
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    const HANDLE p = CreateFileA(pipe.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(p, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetFileType(p), static_cast<DWORD>(FILE_TYPE_PIPE));
    CloseHandle(p);
    EXPECT_TRUE(DeleteFileA(b.c_str()) && DeleteFileA(pipe.c_str()));
    EXPECT_FALSE(DeleteFileA(b.c_str()));
    ::rmdir(dir.c_str());
}
