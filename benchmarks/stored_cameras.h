// Benchmark helpers around the simulated network of manyCamerasScenario: a device list of
// stored cameras of which some never answer, and the program's own output kept out of figures.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "databasemanager.h"

// The address of the i-th camera of manyCamerasScenario.
inline std::string onlineIp(int i) {
    const int host = 10 + i;
    return "10.20." + std::to_string(host / 250) + "." + std::to_string(host % 250 + 1);
}

// Addresses where no camera answers.
inline std::string silentIp(int i) {
    return "10.30." + std::to_string(i / 250) + "." + std::to_string(i % 250 + 1);
}

// Adds `cameras` stored cameras with the factory login and saves the list; `silent` of them,
// spread through the list as a site's dead cameras would be, never answer.
inline bool storeCameras(factory::databasemanager* store, int cameras, int silent) {
    int next_online = 0;
    int next_silent = 0;
    for (int i = 0; i < cameras; ++i) {
        const bool is_silent =
            next_silent < silent && (i * static_cast<long long>(silent)) / cameras >= next_silent;
        factory::devicedatamanager record;
        record.set_ip(is_silent ? silentIp(next_silent++) : onlineIp(next_online++));
        record.set_port(80);
        record.set_user_name("admin");
        record.set_password("tolvi");  // the cameras' factory default
        if (!store->add_device(record)) return false;
    }
    return store->save();
}

// The program writes debug lines per login and per report; keep them out of the figures.
class QuietOutput {
public:
    QuietOutput() {
        std::fflush(stdout);
        std::fflush(stderr);
        saved_out_ = dup(1);
        saved_err_ = dup(2);
        const int null_fd = open("/dev/null", O_WRONLY);
        dup2(null_fd, 1);
        dup2(null_fd, 2);
        close(null_fd);
    }
    ~QuietOutput() {
        std::fflush(stdout);
        std::fflush(stderr);
        dup2(saved_out_, 1);
        dup2(saved_err_, 2);
        close(saved_out_);
        close(saved_err_);
    }
    QuietOutput(const QuietOutput&) = delete;
    QuietOutput& operator=(const QuietOutput&) = delete;

private:
    int saved_out_;
    int saved_err_;
};
