// The preview window: its start and stop jobs leave the camera as they found it however often
// and however quickly it is opened and closed, the window logs in with the device's own login
// when the record has one, and under X the label shows the moving test picture.
#include <RuDAVADO_control.h>
#include <kp_platform.h>

#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <QTimer>
#include <optional>

#include "btn_tools_widget.h"
#include "dealmodule.h"
#include "device_table_widget.h"
#include "edit_device_table_widget.h"
#include "main_window_fixture.h"
#include "nav_button.h"
#include "play_wnd_widget.h"
#include "test_device.h"
#include "test_time_scale.h"
#include "thread_refusal.h"

namespace {

using Counts = RuDAVADO_CameraState;

Counts countsOf(const char* ip) {
    Counts state{};
    RuDAVADO_GetCameraState(RuDAVADO_FindCamera(ip), &state);
    return state;
}

DeviceInfo device(const char* ip, const char* user = "", const char* password = "") {
    DeviceInfo info;
    info.ip_addr = ip;
    info.port = 80;
    info.user_name = user;
    info.pass_word = password;
    return info;
}

bool backTo(const char* ip, const Counts& before) {
    return waitFor(
        [&] { return countsOf(ip).sessions == before.sessions && countsOf(ip).plays == before.plays; });
}

class PreviewTest : public ::testing::Test {
protected:
    void SetUp() override {
        time_scale_.emplace(0.001);
        KpLPRClient_Setup();
        ASSERT_EQ(RuDAVADO_LoadDefaultScenario(), 0);
    }
    void TearDown() override {
        KpLPRClient_Cleanup();
        time_scale_.reset();
    }

    std::optional<ScopedTimeScale> time_scale_;
};

}  // namespace

TEST_F(PreviewTest, FiftyOpenAndCloseRoundsLeaveNoSessionOrVideoBehind) {
    const char* ip = "192.168.1.100";
    const Counts before = countsOf(ip);
    for (int round = 0; round < 50; ++round) {
        auto* window = new PlayWndWidget(nullptr, device(ip), kUser, kPassword);
        window->show();
        EXPECT_EQ(window->videoLabel()->size(), QSize(720, 576));
        // Odd rounds close after the start's report stopped the worker, even rounds at once,
        // while the start job may still wait: its stop job must run behind it all the same.
        if (round % 2 == 1) {
            ASSERT_TRUE(waitFor([&] { return !window->composer()->worker_running(); }));
            EXPECT_GT(countsOf(ip).plays, before.plays);
        }
        // Escape (reject) closes without a close event; either way one stop job goes out.
        if (round % 3 != 0) window->close();
        window->reject();
        EXPECT_EQ(window->stopJobsPosted(), 1);
        // The start's report may now reach the closed window while the stop job still waits.
        if (round % 2 == 0) waitFor([] { return false; }, 5);
        delete window;
    }
    EXPECT_TRUE(backTo(ip, before));
}

// Without a worker thread the window says why, and whether the start or only the stop found no
// thread, closing it leaves no session or video behind.
TEST_F(PreviewTest, RefusedWorkerThreadIsSaidAndLeavesNothingBehind) {
    const char* ip = "192.168.1.100";
    const Counts before = countsOf(ip);
    PlayWndWidget* window = nullptr;
    {
        test::ThreadRefusal refuse;
        window = new PlayWndWidget(nullptr, device(ip), kUser, kPassword);
    }
    EXPECT_EQ(window->videoLabel()->text(), QString::fromUtf8(factory::dealmodule::kNoThread));
    window->close();
    delete window;
    EXPECT_TRUE(backTo(ip, before));

    window = new PlayWndWidget(nullptr, device(ip), kUser, kPassword);
    window->show();
    ASSERT_TRUE(waitFor([&] { return !window->composer()->worker_running(); }));
    EXPECT_GT(countsOf(ip).plays, before.plays);
    {
        test::ThreadRefusal refuse;
        window->close();
        EXPECT_EQ(window->stopJobsPosted(), 0);
        delete window;
    }
    EXPECT_TRUE(backTo(ip, before));
}

TEST_F(MainWindowTest, PreviewLogsInWithTheDevicesOwnLoginWhenItHasOne) {
    // 192.168.1.103 has a password of its own; the login bar holds the default one.
    ASSERT_EQ(window_->passwordEdit()->text(), kPassword);
    const char* ip = "192.168.1.103";
    const Counts before = countsOf(ip);

    // Runs `open`, closes the preview once the start has reported; returns the live videos
    // seen meanwhile.
    auto openWith = [&](const std::function<void()>& open) {
        int plays = -1;
        QTimer poll;
        poll.setInterval(5);
        QObject::connect(&poll, &QTimer::timeout, [&] {
            auto* window = qobject_cast<PlayWndWidget*>(QApplication::activeModalWidget());
            if (!window || window->composer()->worker_running()) return;
            poll.stop();
            plays = countsOf(ip).plays;
            window->close();
        });
        poll.start();
        open();
        return plays;
    };

    EXPECT_EQ(openWith([&] { emit window_->localList()->signalOpenVideo(device(ip, "admin", "Kp@2024")); }),
              before.plays + 1);
    EXPECT_TRUE(backTo(ip, before));
    // A search-list row carries no login: the login bar's is refused and the label stays black.
    fillSearchList();
    DeviceTableWidgetBase* search = window_->searchList();
    EXPECT_EQ(openWith([&] { search->toolsCell(rowOf(search, ip))->videoButton()->click(); }), before.plays);
    EXPECT_TRUE(backTo(ip, before));
}

// Runs under a virtual X display (see CMakeLists.txt); offscreen there is no window to draw in.
TEST_F(PreviewTest, DrawsTheMovingTestPictureUnderX) {
    if (QGuiApplication::platformName() != "xcb") GTEST_SKIP() << "needs an X display";
    RuDAVADO_SetTiming("frame", 40000);  // 40 ms a frame at this time scale
    const char* ip = "192.168.1.100";
    const Counts before = countsOf(ip);
    auto* window = new PlayWndWidget(nullptr, device(ip), kUser, kPassword);
    window->setWindowTitle(QStringLiteral("视频预览"));
    window->show();
    ASSERT_TRUE(waitFor([&] { return countsOf(ip).frames_drawn > before.frames_drawn + 10; }));

    QScreen* screen = QGuiApplication::primaryScreen();
    const QImage first = screen->grabWindow(window->videoLabel()->winId()).toImage();
    const long long frames = countsOf(ip).frames_drawn;
    ASSERT_TRUE(waitFor([&] { return countsOf(ip).frames_drawn > frames + 5; }));
    const QImage later = screen->grabWindow(window->videoLabel()->winId()).toImage();
    EXPECT_NE(first, later);
    int lit = 0;
    for (int x = 0; x < later.width(); x += 16) lit += later.pixelColor(x, later.height() / 4).value() > 64;
    EXPECT_GT(lit, later.width() / 32);
    const QByteArray shot = qgetenv("KP_PREVIEW_SCREENSHOT");
    if (!shot.isEmpty()) later.save(QString::fromLocal8Bit(shot));

    window->close();
    delete window;
    EXPECT_TRUE(backTo(ip, before));
    RuDAVADO_SetTiming("frame", -1);
}
