// The one store manager of the process: owns the device-list store ("devicedatamanager.xls" in
// the working directory, worksheet "sheet_1") and a cache of the rows last loaded. Every call
// holds one recursive lock from start to end, so any thread may call it.
//
//   factory::databasemanager* db = factory::databasemanager::instance();
//   db->init();                                   // once, at start-up
//   for (auto& [row, device] : db->load_all()) { ... }
//   db->add_device(device); db->save();
//
// The cache reference that load_all returns is read after the lock is released: read it on the
// thread that loaded it, and reload after changing the list.
#pragma once

#include <windows.h>

#include <map>
#include <memory>
#include <memory_resource>
#include <string>

#include "devicedatamanager.h"
#include "singleton.h"
#include "xlsbook/block_arena.h"

namespace factory {

class database;

class databasemanager : public Singleton<databasemanager> {
public:
    databasemanager();
    ~databasemanager() override;

    bool init();
    // For commands that only read the list: loads it without creating, moving or saving anything
    // (no log folder either). False, with what was wrong in `why`, when the file cannot be read.
    bool init_read_only(std::string* why);
    const std::pmr::map<int, devicedatamanager>& load_all();
    bool add_device(const devicedatamanager& device);
    bool delete_device(const std::string& ip);
    bool update_device(const std::string& ip, const devicedatamanager& device);
    bool save();
    bool save_as(const std::string& path);
    void clear_cache();

private:
    // Row of the first data row whose "ip" equals `ip`, 0 when none; rows that cannot be read
    // are logged and passed over.
    int find_row(const std::string& ip);

    std::shared_ptr<database> data_base_;
    // The cache's rows in blocks of their own, taken at once for the whole list: a row at a
    // time from the heap, a fresh process pays a page fault every 28 rows.
    xlsbook::BlockArena cache_memory_;
    std::pmr::map<int, devicedatamanager> cache_;
    CRITICAL_SECTION lock_;
};

}  // namespace factory
