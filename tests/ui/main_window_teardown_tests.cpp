// The window against threads it does not own: a full job queue never stops the library's
// thread or a login, closing never waits for them, and the library is cleaned up last.
#include <RuDAVADO_control.h>

#include <QTableView>
#include <string>
#include <thread>

#include "../log_lines.h"
#include "deviceconnectionmanager.h"
#include "edit_device_table_widget.h"
#include "kp_platform.h"
#include "main_window_fixture.h"
#include "test_device.h"

namespace {

const char* const kPlateIp = "192.168.1.100";
const char* const kOfflineIp = "192.168.1.104";

// Fills the window's queue from another thread, as a batch's reports do while the
// user-interface thread is busy: 63 jobs, the most the ring holds.
void fillQueueFromAWorker(const UiJobQueuePtr& queue) {
    std::thread worker([queue] {
        for (int i = 0; i < UiJobQueue::kSlotCount - 1; ++i) queue->postJob([] {});
    });
    worker.join();
}

// Waits, without running the event loop, until one more job than the ring holds is queued.
bool waitForOverflow(const UiJobQueuePtr& queue) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (queue->pendingCount() < UiJobQueue::kSlotCount) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::yield();
    }
    return true;
}

}  // namespace

TEST_F(MainWindowTest, ANoticeIntoAFullQueueDoesNotFreezeTheRefresh) {
    EditDeviceTableWidget* local = window_->localList();
    local->slotAddDeviceInfo(kPlateIp, 80, kUser, kPassword);
    const int row = rowOf(local, kPlateIp);
    ASSERT_TRUE(
        waitFor([&] { return local->cellText(row, kColumnLensOrLogin) == EditDeviceTableWidget::kOnline; }));

    HangWatchdog watchdog("a refresh while the library's notice waits for room in the queue", 30);
    fillQueueFromAWorker(window_->jobQueue());
    // The camera drops its session: the notice is posted on the library's thread, under its lock.
    ASSERT_EQ(RuDAVADO_SetPower(RuDAVADO_FindCamera(kPlateIp), 0), 0);
    EXPECT_TRUE(waitForOverflow(window_->jobQueue()));
    window_->onRefreshClick();  // stops discovery, which needs the library's callback lock

    EXPECT_TRUE(
        waitFor([&] { return local->cellText(row, kColumnLensOrLogin) == EditDeviceTableWidget::kOffline; }));
}

TEST_F(MainWindowTest, ClosingWhileALoginReportsIntoAFullQueueDoesNotHang) {
    HangWatchdog watchdog("closing the window while a login's result waits for room in the queue", 30);
    const UiJobQueuePtr queue = window_->jobQueue();
    fillQueueFromAWorker(queue);
    window_->localList()->slotAddDeviceInfo(kOfflineIp, 80, kUser, kPassword);
    EXPECT_TRUE(waitForOverflow(queue));
    window_.reset();

    // Nothing posts once the window is gone, and what waited is dropped rather than run.
    EXPECT_TRUE(queue->closed());
    EXPECT_FALSE(queue->postJob([] {}));
    EXPECT_EQ(queue->pendingCount(), 0);
}

TEST_F(MainWindowTest, TheLibraryIsCleanedUpAfterTheListsAreGone) {
    window_->onRefreshClick();
    // A slow login still under way when the window closes.
    ASSERT_EQ(RuDAVADO_SetTiming("login", 300.0 / kp::timeScale()), 0);
    window_->localList()->slotAddDeviceInfo(kPlateIp, 80, kUser, kPassword);
    ASSERT_TRUE(
        waitFor([&] { return window_->localList()->connectionManager()->Find(kPlateIp) != nullptr; }));
    LogLines log;
    window_.reset();
    RuDAVADO_SetTiming("login", -1);

    const std::vector<std::string> lines = log.lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_NE(lines.back().find("KpLPRClient_Cleanup OK"), std::string::npos) << lines.back();
    // A call after Cleanup is refused: the login ends before it, not against a library gone.
    for (const std::string& line : lines) EXPECT_EQ(line.find(" false: "), std::string::npos) << line;
}
