// Benchmark helpers around the simulated network of manyCamerasScenario: a device list of
// stored cameras of which some never answer, and the program's own output kept out of figures.
#pragma once

#include <RuDAVADO_control.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "databasemanager.h"
#include "search_list_scenario.h"

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

// A site of `cameras` stored cameras, `silent` of which never answer: loads the network, moves
// into a fresh folder named after `name` (the program keeps its device list in its working
// folder) and writes the list there. Returns the folder; empty, said on standard error, when a
// step fails.
inline std::filesystem::path setUpStoredSite(const std::string& name, int cameras, int silent) {
    if (RuDAVADO_LoadScenarioText(manyCamerasScenario(cameras - silent).c_str()) != 0) {
        std::fprintf(stderr, "cannot set up the simulated network: %s\n", RuDAVADO_LastLoadError());
        return {};
    }
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / (name + "_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    std::filesystem::current_path(dir);
    factory::databasemanager* store = factory::databasemanager::instance();
    if (!store->init() || !storeCameras(store, cameras, silent)) {
        std::fprintf(stderr, "cannot write the device store\n");
        return {};
    }
    return dir;
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
