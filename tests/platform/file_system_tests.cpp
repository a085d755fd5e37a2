// The file calls: Windows' answers, on this system's files.
#include <gtest/gtest.h>
#include <io.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>
#include <windows.h>

#include <filesystem>
#include <string>

namespace {

std::string temp_folder() {
    std::string name = (std::filesystem::temp_directory_path() / "kp_file_system_XXXXXX").string();
    return ::mkdtemp(&name[0]) ? name : "";
}

void put(const std::string& path, const std::string& text) {
    const HANDLE file =
        CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr));
    EXPECT_TRUE(FlushFileBuffers(file));
    EXPECT_TRUE(CloseHandle(file));
}

std::string get(const std::string& path) {
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return "<none>";
    char buffer[64];
    DWORD got = 0;
    ReadFile(file, buffer, sizeof buffer, &got, nullptr);
    CloseHandle(file);
    return std::string(buffer, got);
}

}  // namespace

TEST(FileSystem, CreateReadMoveAndDeleteAnswerAsWindowsDoes) {
    const std::string dir = temp_folder();
    ASSERT_FALSE(dir.empty());
    const std::string a = dir + "\\a", b = dir + "/b";
    put(a, "first");
    struct stat st {};
    ASSERT_EQ(::stat((dir + "/a").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << "created files are the owner's only";
    EXPECT_EQ(CreateFileA(a.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(get(dir + "/missing"), "<none>");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(get(dir), "<none>") << "a folder is not opened as a file";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

    // Without MOVEFILE_REPLACE_EXISTING an existing target stays; with it, it is replaced.
    put(b, "second");
    EXPECT_FALSE(MoveFileExA(a.c_str(), b.c_str(), 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(get(b), "second");
    EXPECT_TRUE(MoveFileExA(a.c_str(), b.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH));
    EXPECT_EQ(get(b), "first");
    EXPECT_EQ(get(a), "<none>");

    // A named pipe opens at once and says what it is.
    const std::string pipe = dir + "/pipe";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    const HANDLE p = CreateFileA(pipe.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(p, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetFileType(p), static_cast<DWORD>(FILE_TYPE_PIPE));
    CloseHandle(p);

    ASSERT_EQ(_chmod(b.c_str(), _S_IREAD | _S_IWRITE), 0);
    EXPECT_TRUE(DeleteFileA(b.c_str()));
    EXPECT_FALSE(DeleteFileA(b.c_str()));
    EXPECT_TRUE(DeleteFileA(pipe.c_str()));
    ::rmdir(dir.c_str());

    SYSTEMTIME now{};
    GetLocalTime(&now);
    EXPECT_GE(now.wYear, 2024);
    EXPECT_TRUE(now.wMonth >= 1 && now.wMonth <= 12);
}
