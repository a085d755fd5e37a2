#include "databasemanager.h"

#include <direct.h>
#include <io.h>

#include <rttr/type>
#include <tuple>
#include <utility>

#include "database.h"
#include "logging.h"

namespace factory {

namespace {

const char* const kDataFile = "devicedatamanager.xls";
const char* const kLogFolder = "log_data";

class lock_guard {
public:
    explicit lock_guard(CRITICAL_SECTION& lock) : lock_(lock) { EnterCriticalSection(&lock_); }
    ~lock_guard() { LeaveCriticalSection(&lock_); }
    lock_guard(const lock_guard&) = delete;
    lock_guard& operator=(const lock_guard&) = delete;

private:
    CRITICAL_SECTION& lock_;
};

// Creates every missing folder along `path`.
bool make_folder(const std::string& path) {
    for (size_t i = 1; i <= path.size(); ++i) {
        if (i < path.size() && path[i] != '\\' && path[i] != '/') continue;
        const std::string prefix = path.substr(0, i);
        if (_access(prefix.c_str(), 0) != 0 && _mkdir(prefix.c_str()) != 0) {
            KPES_LOG(kpes::LS_ERROR) << "makedir failed: " << prefix;
            return false;
        }
    }
    return true;
}

// The one instance, created before main.
databasemanager g_databasemanager;

}  // namespace

databasemanager::databasemanager() : cache_(xlsbook::checked_memory(cache_memory_)) {
    InitializeCriticalSection(&lock_);
}

databasemanager::~databasemanager() {
    EnterCriticalSection(&lock_);
    cache_.clear();
    LeaveCriticalSection(&lock_);
    DeleteCriticalSection(&lock_);
    data_base_.reset();
}

bool databasemanager::init() {
    lock_guard guard(lock_);
    data_base_ = std::make_shared<database>();
    if (!data_base_) {
        KPES_LOG(kpes::LS_ERROR) << "data_base_ is null ";
        return false;
    }
    if (!make_folder(kLogFolder)) return false;
    if (!data_base_->open(kDataFile, rttr::type::get_by_name("devicedatamanager"), true)) {
        KPES_LOG(kpes::LS_ERROR) << "data_base_log_  Open failed ";
        return false;
    }
    return true;
}

bool databasemanager::init_read_only(std::string* why) {
    lock_guard guard(lock_);
    data_base_ = std::make_shared<database>();
    return data_base_->open_read_only(kDataFile, why);
}

const std::pmr::map<int, devicedatamanager>& databasemanager::load_all() {
    lock_guard guard(lock_);
    cache_.clear();
    if (!data_base_) {
        KPES_LOG(kpes::LS_ERROR) << "data_base_ is null ";
        return cache_;
    }
    const int rows = static_cast<int>(data_base_->row_count());
    // A tree node: the entry and the node's colour and three links.
    constexpr size_t kNodeBytes = sizeof(std::pair<const int, devicedatamanager>) + 4 * sizeof(void*);
    if (rows > 1 && cache_.get_allocator().resource() == &cache_memory_)
        cache_memory_.reserve(static_cast<size_t>(rows - 1) * kNodeBytes);
    for (int row = 1; row < rows; ++row) {
        // A fresh record per row, read where the cache keeps it: a row that fails to read must
        // not show the previous row's values. Rows come in order: each goes at the end without a
        // search down the tree.
        devicedatamanager& device = cache_
                                        .emplace_hint(cache_.end(), std::piecewise_construct,
                                                      std::forward_as_tuple(row), std::forward_as_tuple())
                                        ->second;
        if (!data_base_->read_row(device, row)) {
            KPES_LOG(kpes::LS_ERROR) << " failed";
        }
    }
    return cache_;
}

bool databasemanager::add_device(const devicedatamanager& device) {
    lock_guard guard(lock_);
    if (!data_base_) {
        KPES_LOG(kpes::LS_ERROR) << "data_base_ is null ";
        return false;
    }
    if (!data_base_->write_row(device, static_cast<int>(data_base_->row_count()))) {
        KPES_LOG(kpes::LS_ERROR) << "SaveLogManager failed";
        return false;
    }
    return true;
}

int databasemanager::find_row(const std::string& ip) {
    const int rows = static_cast<int>(data_base_->row_count());
    for (int row = 1; row < rows; ++row) {
        // A fresh record per row, so that a row read only in part cannot match by another's ip.
        devicedatamanager device;
        if (!data_base_->read_row(device, row)) {
            // One damaged row must not hide the rows below it from deletes and updates.
            KPES_LOG(kpes::LS_ERROR) << " failed";
            continue;
        }
        if (device.get_ip() == ip) return row;
    }
    return 0;
}

bool databasemanager::delete_device(const std::string& ip) {
    lock_guard guard(lock_);
    if (!data_base_) {
        KPES_LOG(kpes::LS_ERROR) << "data_base_ is null ";
        return false;
    }
    const int row = find_row(ip);
    if (row <= 0) return false;
    devicedatamanager scratch;
    return data_base_->erase_row(scratch, row);
}

bool databasemanager::update_device(const std::string& ip, const devicedatamanager& device) {
    lock_guard guard(lock_);
    if (!data_base_) {
        KPES_LOG(kpes::LS_ERROR) << "data_base_ is null ";
        return false;
    }
    const int row = find_row(ip);
    if (row <= 0) return false;
    return data_base_->write_row(device, row);
}

bool databasemanager::save() { return save_as(kDataFile); }

bool databasemanager::save_as(const std::string& path) {
    lock_guard guard(lock_);
    if (!data_base_ || !data_base_->save_as(path)) {
        KPES_LOG(kpes::LS_ERROR) << "data_base_hardware_ close failed ";
        return false;
    }
    return true;
}

void databasemanager::clear_cache() {
    lock_guard guard(lock_);
    cache_.clear();
}

}  // namespace factory
