// Face-camera uploads and live video.
#ifndef _WIN32
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <chrono>
#include <cstdlib>
#include <thread>

#include "rudavado_test_support.h"

#if defined(RUDAVADO_TEST_X11)
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#endif

using rdvtest::NetworkTest;
using rdvtest::waitUntil;

namespace {

const std::string kPng = std::string("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR", 16) + std::string(64, '\x01');
const std::string kJpeg = std::string("\xFF\xD8\xFF\xE0\0\x10JFIF", 10) + std::string(64, '\x02');

class UploadTest : public NetworkTest {};

TEST_F(UploadTest, FaceCameraTakesPicturesAndStyleSheets) {
    const int cam = camera("192.168.1.110");
    KPLPRC_HANDLE h = open("192.168.1.110");
    rdvtest::writeAll(path("logo.png"), kPng);
    rdvtest::writeAll(path("bg.jpg"), kJpeg);
    rdvtest::writeAll(path("face.css"), "\xEF\xBB\xBF.title { color: #fff; } /* 欢迎 */\n");
    ASSERT_EQ(0, KpLPRClient_FaceUploadLogo(h, path("logo.png").c_str()));
    ASSERT_EQ(0, KpLPRClient_FaceUploadBg(h, path("bg.jpg").c_str()));
    ASSERT_EQ(0, KpLPRClient_FaceUploadCss(h, path("face.css").c_str()));
    const RuDAVADO_CameraState s = state(cam);
    EXPECT_EQ(static_cast<long long>(kPng.size()), s.logo_size);
    EXPECT_EQ(static_cast<long long>(kJpeg.size()), s.background_size);
    EXPECT_GT(s.css_size, 0);
    EXPECT_EQ(3, s.uploads);
    // Either picture type fits either slot.
    EXPECT_EQ(0, KpLPRClient_FaceUploadLogo(h, path("bg.jpg").c_str()));
}

TEST_F(UploadTest, UploadsAreRefusedByContentSizeAndCameraKind) {
    KPLPRC_HANDLE face = open("192.168.1.110");
    rdvtest::writeAll(path("logo.png"), kPng);
    rdvtest::writeAll(path("anim.gif"), "GIF89a" + std::string(64, 'x'));
    rdvtest::writeAll(path("empty.png"), "");
    rdvtest::writeAll(path("short.png"), kPng.substr(0, 12));
    rdvtest::writeAll(path("huge.png"), kPng + std::string(2u << 20, '\0'));
    std::string at_limit = kPng;
    at_limit.resize(2u << 20, '\0');
    rdvtest::writeAll(path("limit.png"), at_limit);
    rdvtest::writeAll(path("with_nul.css"), std::string("a { }\0b { }", 11));
    rdvtest::writeAll(path("latin1.css"), "p { font-family: \"Caf\xE9\"; }");
    rdvtest::writeAll(path("big.css"), std::string((256u << 10) + 1, 'a'));
    rdvtest::writeAll(path("fake.css"), kPng);

    struct {
        int (*fn)(KPLPRC_HANDLE, const char*);
        const char* file;
        int error;
    } cases[] = {
        {KpLPRClient_FaceUploadLogo, "anim.gif", KPLPRC_ERR_FORMAT},
        {KpLPRClient_FaceUploadLogo, "empty.png", KPLPRC_ERR_FORMAT},
        {KpLPRClient_FaceUploadBg, "short.png", KPLPRC_ERR_FORMAT},
        {KpLPRClient_FaceUploadBg, "huge.png", KPLPRC_ERR_FORMAT},
        {KpLPRClient_FaceUploadLogo, "missing.png", KPLPRC_ERR_FILE},
        {KpLPRClient_FaceUploadCss, "with_nul.css", KPLPRC_ERR_FORMAT},
        {KpLPRClient_FaceUploadCss, "latin1.css", KPLPRC_ERR_FORMAT},
        {KpLPRClient_FaceUploadCss, "big.css", KPLPRC_ERR_FORMAT},
        {KpLPRClient_FaceUploadCss, "fake.css", KPLPRC_ERR_FORMAT},
    };
    for (auto& c : cases) {
        EXPECT_EQ(-1, c.fn(face, path(c.file).c_str())) << c.file;
        EXPECT_EQ(c.error, KpLPRClient_GetLastError()) << c.file;
    }
    EXPECT_EQ(0, state(camera("192.168.1.110")).uploads);
    EXPECT_EQ(0, KpLPRClient_FaceUploadBg(face, path("limit.png").c_str())) << "2 MiB exactly";
    EXPECT_EQ(-1, KpLPRClient_FaceUploadCss(face, nullptr));

    KPLPRC_HANDLE plate = open("192.168.1.100");
    EXPECT_EQ(-1, KpLPRClient_FaceUploadLogo(plate, path("logo.png").c_str()));
    EXPECT_EQ(KPLPRC_ERR_NOT_SUPPORTED, KpLPRClient_GetLastError());
    EXPECT_EQ(-1, KpLPRClient_FaceUploadCss(plate, path("logo.png").c_str()));
    EXPECT_EQ(KPLPRC_ERR_NOT_SUPPORTED, KpLPRClient_GetLastError());
}

class VideoTest : public NetworkTest {};

TEST_F(VideoTest, WithoutAWindowFramesAreCounted) {
    const int cam = camera("192.168.1.100");
    KPLPRC_HANDLE h = open("192.168.1.100");
    const int play = KpLPRClient_StartRealPlay(h, nullptr);
    ASSERT_GE(play, 0);
    EXPECT_EQ(0, RuDAVADO_PlayDraws(play));
    ASSERT_TRUE(waitUntil([&] { return RuDAVADO_PlayFrames(play) >= 5; }));
    EXPECT_GE(state(cam).frames_drawn, 5);
    ASSERT_EQ(0, KpLPRClient_StopRealPlay(play));
    const long long frames = state(cam).frames_drawn;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(frames, state(cam).frames_drawn) << "the thread has ended";
    EXPECT_EQ(-1, KpLPRClient_StopRealPlay(play));
    EXPECT_EQ(KPLPRC_ERR_INVALID_HANDLE, KpLPRClient_GetLastError());
    EXPECT_EQ(-1, RuDAVADO_PlayFrames(play));
}

TEST_F(VideoTest, StartFailsOnABadSessionAndStopOnABadHandle) {
    EXPECT_EQ(KPLPRC_FIALURE, KpLPRClient_StartRealPlay(nullptr, nullptr));
    EXPECT_EQ(-1, KpLPRClient_StopRealPlay(KPLPRC_FIALURE));
    EXPECT_EQ(-1, KpLPRClient_StopRealPlay(12345));
    KPLPRC_HANDLE h = open("192.168.1.100");
    ASSERT_EQ(0, RuDAVADO_SetPower(camera("192.168.1.100"), 0));
    EXPECT_EQ(KPLPRC_FIALURE, KpLPRClient_StartRealPlay(h, nullptr));
}

TEST_F(VideoTest, TwoPlaysRunSideBySideAndCloseEndsThem) {
    KPLPRC_HANDLE h = open("192.168.1.110");
    const int a = KpLPRClient_StartRealPlay(h, nullptr);
    const int b = KpLPRClient_StartRealPlay(h, nullptr);
    ASSERT_GE(a, 0);
    ASSERT_GE(b, 0);
    EXPECT_NE(a, b);
    ASSERT_TRUE(waitUntil([&] { return RuDAVADO_PlayFrames(a) > 2 && RuDAVADO_PlayFrames(b) > 2; }));
    ASSERT_EQ(0, KpLPRClient_Close(h));
    EXPECT_EQ(-1, RuDAVADO_PlayFrames(a));
    EXPECT_EQ(-1, KpLPRClient_StopRealPlay(b));
}

TEST_F(VideoTest, DroppedSessionStopsTheFramesUntilItIsBack) {
    const int cam = camera("192.168.1.101");
    KPLPRC_HANDLE h = open("192.168.1.101");
    const int play = KpLPRClient_StartRealPlay(h, nullptr);
    ASSERT_TRUE(waitUntil([&] { return RuDAVADO_PlayFrames(play) > 2; }));
    ASSERT_EQ(0, RuDAVADO_SetLinked(cam, 0));
    // A frame already under way may still be counted; after that the count stands still.
    long long frozen = -1;
    ASSERT_TRUE(waitUntil([&] {
        const long long before = RuDAVADO_PlayFrames(play);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        frozen = RuDAVADO_PlayFrames(play);
        return before == frozen;
    }));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(frozen, RuDAVADO_PlayFrames(play));
    ASSERT_EQ(0, RuDAVADO_SetLinked(cam, 1));
    ASSERT_TRUE(waitUntil([&] { return RuDAVADO_PlayFrames(play) > frozen + 2; }));
    EXPECT_EQ(0, KpLPRClient_StopRealPlay(play));
}

#if defined(RUDAVADO_TEST_X11)

// An X server for the drawing test: the one in DISPLAY, else an Xvfb of our own.
class XServer {
public:
    XServer() {
        const char* existing = std::getenv("DISPLAY");
        if (existing != nullptr && *existing != '\0') {
            display_ = XOpenDisplay(nullptr);
            if (display_ != nullptr) return;
        }
        if (access("/usr/bin/Xvfb", X_OK) != 0) return;
        for (int n = 91; n < 120 && display_ == nullptr; ++n) {
            const std::string lock = "/tmp/.X" + std::to_string(n) + "-lock";
            if (access(lock.c_str(), F_OK) == 0) continue;
            const std::string name = ":" + std::to_string(n);
            pid_ = fork();
            if (pid_ == 0) {
                execl("/usr/bin/Xvfb", "Xvfb", name.c_str(), "-screen", "0", "640x480x24", "-nolisten", "tcp",
                      static_cast<char*>(nullptr));
                _exit(127);
            }
            setenv("DISPLAY", name.c_str(), 1);
            waitUntil([&] { return (display_ = XOpenDisplay(name.c_str())) != nullptr; }, 5000);
            if (display_ == nullptr) stopServer();
        }
    }
    ~XServer() {
        if (display_ != nullptr) XCloseDisplay(display_);
        stopServer();
    }
    Display* display() const { return display_; }

private:
    void stopServer() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
            pid_ = -1;
            unsetenv("DISPLAY");
        }
    }
    Display* display_ = nullptr;
    pid_t pid_ = -1;
};

unsigned long long checksum(Display* d, Window w) {
    XImage* img = XGetImage(d, w, 0, 0, 320, 240, AllPlanes, ZPixmap);
    if (img == nullptr) return 0;
    unsigned long long sum = 0;
    for (int y = 0; y < 240; y += 2) {
        for (int x = 0; x < 320; x += 2) sum = sum * 31 + XGetPixel(img, x, y);
    }
    XDestroyImage(img);
    return sum;
}

TEST_F(VideoTest, DrawsAMovingPictureIntoTheWindow) {
    XServer server;
    if (server.display() == nullptr) GTEST_SKIP() << "no X display and no Xvfb";
    Display* d = server.display();
    Window w = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 320, 240, 0, 0, 0);
    XMapWindow(d, w);
    XSync(d, False);
    const unsigned long long blank = checksum(d, w);

    KPLPRC_HANDLE h = open("192.168.1.100");
    const int play = KpLPRClient_StartRealPlay(h, reinterpret_cast<void*>(static_cast<uintptr_t>(w)));
    ASSERT_GE(play, 0);
    EXPECT_EQ(1, RuDAVADO_PlayDraws(play));
    ASSERT_TRUE(waitUntil([&] { return RuDAVADO_PlayFrames(play) >= 3; }));
    const unsigned long long first = checksum(d, w);
    EXPECT_NE(blank, first) << "something was drawn";
    const long long frames = RuDAVADO_PlayFrames(play);
    ASSERT_TRUE(waitUntil([&] { return RuDAVADO_PlayFrames(play) >= frames + 5; }));
    EXPECT_NE(first, checksum(d, w)) << "the picture moves";

    // The window may go before the video is stopped (a preview closed by its user).
    XDestroyWindow(d, w);
    XSync(d, False);
    const long long before = RuDAVADO_PlayFrames(play);
    ASSERT_TRUE(waitUntil([&] { return RuDAVADO_PlayFrames(play) > before + 3; }));
    EXPECT_EQ(0, KpLPRClient_StopRealPlay(play));

    // A window id that names no window falls back to counting.
    const int ghost = KpLPRClient_StartRealPlay(h, reinterpret_cast<void*>(static_cast<uintptr_t>(w)));
    ASSERT_GE(ghost, 0);
    EXPECT_EQ(0, RuDAVADO_PlayDraws(ghost));
    EXPECT_EQ(0, KpLPRClient_StopRealPlay(ghost));
}

#endif

}  // namespace
