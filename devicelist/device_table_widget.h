// The search list: cameras found on the local network by the device library's discovery.
//
// StartFindDevice() registers both discovery callbacks; each report is built into a DeviceInfo
// on the library's thread, emitted there as signalsFindDevice for observers, and left in the
// list's inbox; the user-interface thread takes the inbox and slotFindDevice() inserts each report
// in IP order. StopFindDevice() empties the list and stops discovery; no report of a stopped search
// reaches the list afterwards.
//
// When reports come faster than rows can be built (hundreds of cameras answering at once), the
// reports still waiting are kept aside and inserted in slices of a few milliseconds, with the
// event loop running in between, so that the window stays responsive; order and duplicates are
// kept as if each had been inserted on arrival.
//
// A camera has one row. A report from a camera already listed (same serial number and MAC, as
// after a restart or an address change) updates its row in place, or moves it when its address
// changed; the row keeps its tick and the status of the last batch until the next refresh.
//
// The list holds at most kMaxRows rows: a flood of made-up replies must not eat the machine's
// memory. Further reports of the same search are dropped, and the list says so once, in a log
// line and a line under the table, until the next refresh.
//
// A click on the "状态" header opens a menu that shows every row ("全部") or only the rows in
// one status; while such a filter is active, check all and getSelectedDevices() see the shown
// rows only. Hiding a row unticks it, and the counters count the shown rows.
#pragma once

#include <QElapsedTimer>
#include <QString>
#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "device_table_widget_base.h"
#include "worker.h"

class QLabel;
class QMenu;
class QTimer;
class QActionGroup;

class DeviceTableWidget : public DeviceTableWidgetBase {
    Q_OBJECT

public:
    // More rows than any site has cameras.
    static constexpr int kMaxRows = 65535;

    DeviceTableWidget(QWidget* parent, UiJobQueuePtr ui_job_queue);
    ~DeviceTableWidget() override;

    void StartFindDevice();
    void StopFindDevice();

    // Also drops the status filter; sends a selected count of 0 only when ticked rows went,
    // and nothing from the destructor.
    void clearDevices() override;
    void setRowStatus(int row, DeviceStatus status, int value) override;

    // The library's reports, on its thread; public so that the callbacks can reach it.
    void OnFindDevice(const DeviceInfo& info);

    // Is `a` before `b`: numeric on four decimal parts; an address of another shape sorts
    // after every well-formed one and keeps its arrival order among its kind.
    static bool ipLessThan(const QString& a, const QString& b);

    // -1: every row is shown; otherwise only rows in that status. A new filter sends the
    // selected count again, since hidden rows do not count.
    int statusFilter() const { return status_filter_; }
    void setStatusFilter(int status);
    QMenu* statusMenu() const { return status_menu_; }
    // Shown while reports are dropped because the list is full.
    QLabel* fullNotice() const { return full_notice_; }
    // Shows the menu's entries for the statuses that only some batches leave (idle, running,
    // set) while a row is in one of them; the menu calls it before it opens.
    void updateStatusMenu();

Q_SIGNALS:
    void signalsFindDevice(DeviceInfo info);
    void signalsUpdataStatus(DeviceStatus status, int value);

public Q_SLOTS:
    void slotFindDevice(DeviceInfo info);

private Q_SLOTS:
    void slotHeaderSectionClicked(int logical_index);
    // Takes what the inbox holds; queued by the report that found it empty.
    void takeReports();

private:
    // The row before which a report with this key goes: after every row with a key not above it.
    int insertionRow(std::uint64_t key) const;
    // The first row with a key not below `key`.
    int firstRowFrom(std::uint64_t key) const;
    static std::uint64_t orderKey(const std::string& ip);
    // What tells one camera from another: its serial number and its MAC. A report without a
    // serial number names no camera for sure; `serial` is then 0.
    struct CameraId {
        std::uint64_t serial = 0;
        std::uint64_t mac = 0;
        bool operator==(const CameraId& other) const { return serial == other.serial && mac == other.mac; }
    };
    struct CameraIdHash {
        size_t operator()(const CameraId& id) const;
    };
    static CameraId cameraId(std::uint32_t serial_high, std::uint32_t serial_low, const std::string& mac);
    CameraId rowCameraId(int row) const;
    // The row of the camera `id`, -1 when it has none.
    int rowOfCamera(const CameraId& id) const;
    void updateDevice(int row, const DeviceInfo& info, std::uint64_t key);
    void noteListFull();
    void insertDevice(const DeviceInfo& info);
    void insertPendingDevices();
    void applyStatusFilter(int status);
    void applyFilterToRow(int row);

    QMenu* status_menu_ = nullptr;
    QActionGroup* status_actions_ = nullptr;
    std::vector<QAction*> occasional_actions_;
    int status_filter_ = -1;
    bool tearing_down_ = false;

    // Counts the searches: reports taken from the inbox are dropped once a stop came between.
    int search_number_ = 0;
    // Reports of the library's thread wait here for the user-interface thread: the hand-over is
    // ordered by our lock, which a race detector sees, rather than inside the toolkit's queue.
    // The library's thread never waits for the user-interface thread on it.
    std::mutex inbox_lock_;
    std::vector<DeviceInfo> inbox_;
    bool inbox_open_ = false;  // a search runs; under inbox_lock_
    // Reports emitted on the library's thread and not yet taken by slotFindDevice.
    std::atomic<int> reports_in_flight_{0};
    std::deque<DeviceInfo> pending_reports_;
    // Runs once the event loop has been reached again; measures the time spent since.
    QTimer* pass_timer_ = nullptr;
    QElapsedTimer pass_clock_;

    // Each listed camera's order key: its row is among the rows with that key.
    std::unordered_map<CameraId, std::uint64_t, CameraIdHash> camera_keys_;
    // Rows the status filter hides.
    int hidden_rows_ = 0;
    QLabel* full_notice_ = nullptr;
    bool full_noted_ = false;
    // Frees the items of an emptied list, so that a refresh does not wait for it.
    std::unique_ptr<factory::Worker> disposer_;
};
