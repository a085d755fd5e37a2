// libFuzzer target: the input is the device-list file. Opening it as the list, reading every row,
// updating, erasing, appending and saving must never crash, leak or hang, and what was saved
// must open again with the same rows.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "database.h"
#include "devicedatamanager.h"
#include "logging.h"

namespace {

std::string work_folder() {
    std::string name = (std::filesystem::temp_directory_path() / "fuzz_device_list_XXXXXX").string();
    if (!::mkdtemp(&name[0])) std::abort();
    static const std::string folder = name;
    std::atexit([] { std::filesystem::remove_all(folder); });
    return folder;
}

factory::devicedatamanager device(const std::string& ip) {
    factory::devicedatamanager d;
    d.set_ip(ip);
    d.set_port(8000);
    d.set_user_name("管理员");
    d.set_password(std::string(200, 'p') + "\xF0\xA0\xAE\xB7");
    return d;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string folder = work_folder();
    static const std::string path = folder + "/devicedatamanager.xls";
    static const bool quiet = (kpes::set_min_severity(kpes::LS_ERROR + 1), true);
    (void)quiet;
    // Damaged inputs are moved aside: each run starts from an empty folder.
    std::filesystem::remove_all(folder);
    std::filesystem::create_directory(folder);
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    const rttr::type type = rttr::type::get<factory::devicedatamanager>();
    factory::database store;
    if (!store.open(path, type, true)) return 0;
    factory::devicedatamanager row;
    for (unsigned int r = 1; r < store.row_count(); ++r) store.read_row(row, static_cast<int>(r));
    factory::devicedatamanager updated = device("192.0.2.1"), added = device("192.0.2.2");
    if (store.row_count() > 1) {
        store.write_row(updated, 1);
        store.erase_row(row, static_cast<int>(store.row_count()) - 1);
    }
    const bool appended = store.write_row(added, static_cast<int>(store.row_count()));
    if (!store.save_as(path)) std::abort();

    factory::database again;
    if (!again.open(path, type, false) || again.row_count() != store.row_count()) std::abort();
    factory::devicedatamanager last;
    if (appended && (!again.read_row(last, static_cast<int>(again.row_count()) - 1) || !(last == added)))
        std::abort();
    return 0;
}
