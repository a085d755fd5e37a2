// The device list saved over and over through the store, for scripts/kill-during-save.sh, which
// kills this program at a random moment and checks what a later start finds.
//
//   kp_save_loop run COUNT FOLDER    load the list in FOLDER (empty, content A or content B),
//                                    then switch it between A and B and save, forever; prints
//                                    "ready MS" (the first save's milliseconds) after one save
//   kp_save_loop check COUNT FOLDER  load the list; prints "A" or "B" and, one line per device,
//                                    ip, port, user and password separated by tabs; exits 1
//                                    (printing what differs) when the list is neither
//
// A and B hold COUNT devices each and differ in the first device's port and password only: its
// edit is quick, so that the program spends nearly all its time saving. A list cut short or
// mixed from both shows as neither.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "databasemanager.h"

using factory::databasemanager;
using factory::devicedatamanager;

namespace {

devicedatamanager make_device(int index, bool b) {
    devicedatamanager d;
    d.set_ip("10." + std::to_string(index / 65536) + "." + std::to_string(index / 256 % 256) + "." +
             std::to_string(index % 256));
    d.set_port(b && index == 0 ? 9000u : 8000u + static_cast<unsigned>(index % 100));
    d.set_user_name(index % 3 ? "admin" : "管理员");
    d.set_password((b && index == 0 ? "changed-" : "pw-") + std::to_string(index * 7919 % 100003));
    return d;
}

std::vector<devicedatamanager> content(bool b, int count) {
    std::vector<devicedatamanager> out;
    for (int i = 0; i < count; ++i) out.push_back(make_device(i, b));
    return out;
}

std::vector<devicedatamanager> loaded(databasemanager& db) {
    std::vector<devicedatamanager> out;
    for (const auto& entry : db.load_all()) out.push_back(entry.second);
    return out;
}

std::string describe(const devicedatamanager& d) {
    return d.get_ip() + "\t" + std::to_string(d.get_port()) + "\t" + d.get_user_name() + "\t" +
           d.get_password();
}

// Turns the stored list from one content into the other through the store's own edit.
bool switch_content(databasemanager& db, bool to_b) {
    const devicedatamanager first = make_device(0, to_b);
    return db.update_device(first.get_ip(), first);
}

int run(databasemanager& db, int count) {
    const std::vector<devicedatamanager> now = loaded(db);
    bool is_b;
    if (now.empty()) {
        for (const devicedatamanager& d : content(false, count))
            if (!db.add_device(d)) return 3;
        is_b = false;
    } else if (now == content(false, count) || now == content(true, count)) {
        is_b = now == content(true, count);
        if (!switch_content(db, !is_b)) return 3;
        is_b = !is_b;
    } else {
        std::fprintf(stderr, "the stored list is neither content\n");
        return 1;
    }
    for (bool first = true;; first = false) {
        const auto start = std::chrono::steady_clock::now();
        if (!db.save()) {
            std::fprintf(stderr, "save failed\n");
            return 3;
        }
        if (first) {
            const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::steady_clock::now() - start);
            std::printf("ready %lld\n", static_cast<long long>(ms.count()));
            std::fflush(stdout);
        }
        if (!switch_content(db, !is_b)) return 3;
        is_b = !is_b;
    }
}

int check(databasemanager& db, int count) {
    const std::vector<devicedatamanager> now = loaded(db);
    for (bool b : {false, true}) {
        if (now != content(b, count)) continue;
        std::printf("%s\n", b ? "B" : "A");
        for (const devicedatamanager& d : now) std::printf("%s\n", describe(d).c_str());
        return 0;
    }
    // Neither: the count, or the first row that differs from both.
    const std::vector<devicedatamanager> a = content(false, count), b = content(true, count);
    std::printf("neither content: %zu devices loaded of %d\n", now.size(), count);
    for (size_t i = 0; i < now.size() && i < a.size(); ++i)
        if (!(now[i] == a[i]) && !(now[i] == b[i])) {
            std::printf("row %zu: %s\n", i + 1, describe(now[i]).c_str());
            break;
        }
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc == 4 ? argv[1] : "";
    const int count = argc == 4 ? std::atoi(argv[2]) : 0;
    if ((mode != "run" && mode != "check") || count < 2) {
        std::fprintf(stderr, "usage: %s run|check COUNT FOLDER\n", argv[0]);
        return 2;
    }
    if (::chdir(argv[3]) != 0) {
        std::perror(argv[3]);
        return 2;
    }
    databasemanager& db = *databasemanager::instance();
    if (!db.init()) {
        std::printf("the store did not open the list\n");
        return 1;
    }
    return mode == "run" ? run(db, count) : check(db, count);
}
