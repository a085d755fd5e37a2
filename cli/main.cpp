// kpdevicetool-cli: scripted batches on the cameras of the local network, without a window.
#include <io.h>
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <streambuf>
#include <string>

#include "RuDAVADO.h"
#include "commands.h"
#include "kp_platform.h"

namespace {

// An output stream on a descriptor of its own.
class DescriptorBuffer : public std::streambuf {
public:
    explicit DescriptorBuffer(int fd) : fd_(fd) { setp(buffer_, buffer_ + sizeof(buffer_)); }
    ~DescriptorBuffer() override { sync(); }

protected:
    int_type overflow(int_type c) override {
        if (sync() != 0) return traits_type::eof();
        if (!traits_type::eq_int_type(c, traits_type::eof())) {
            *pptr() = traits_type::to_char_type(c);
            pbump(1);
        }
        return traits_type::not_eof(c);
    }
    int sync() override {
        const char* data = pbase();
        while (data < pptr()) {
            const int written = _write(fd_, data, static_cast<unsigned int>(pptr() - data));
            if (written <= 0) return -1;
            data += written;
        }
        setp(buffer_, buffer_ + sizeof(buffer_));
        return 0;
    }

private:
    int fd_;
    char buffer_[4096];
};

std::atomic<int> g_stop_requests{0};
std::atomic<bool> g_asking_password{false};

// Signal context: atomics, the terminal's echo and _Exit only.
BOOL WINAPI OnStopRequest(DWORD) {
    // While the password is asked for nothing runs yet: Ctrl-C ends the program, echo back on.
    if (g_asking_password.load()) {
        kp::setInputEcho(true);
        std::_Exit(130);
    }
    // The first asks the batch to stop; a second one means now.
    if (g_stop_requests.fetch_add(1) > 0) std::_Exit(130);
    return TRUE;
}

// The password typed on the terminal, not shown.
bool AskPassword(const std::string& user, std::string* password) {
    // Echo off before the prompt: whatever is typed once it shows stays hidden.
    g_asking_password.store(true);
    const bool hidden = kp::setInputEcho(false);
    std::cerr << "password for " << user << ": " << std::flush;
    const bool read = static_cast<bool>(std::getline(std::cin, *password));
    if (hidden) kp::setInputEcho(true);
    g_asking_password.store(false);
    std::cerr << '\n';
    if (!password->empty() && password->back() == '\r') password->pop_back();
    return read;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    cli::Environment env;
    env.getenv = [](const char* name) -> const char* { return std::getenv(name); };

    // The operation modules write debugging lines to standard output; a script reading ours must
    // see only ours, so theirs go to standard error, beside the log lines.
    std::fflush(stdout);
    const int out_fd = _dup(1);
    const bool own_output = out_fd >= 0 && _dup2(2, 1) == 0;
    DescriptorBuffer buffer(own_output ? out_fd : 1);
    std::ostream out(own_output ? static_cast<std::streambuf*>(&buffer) : std::cout.rdbuf());
    env.terminal = _isatty(own_output ? out_fd : 1) != 0;
    env.stop_requested = [] { return g_stop_requests.load() > 0; };
    env.in = &std::cin;
    if (_isatty(0)) env.ask_password = AskPassword;
    SetConsoleCtrlHandler(OnStopRequest, TRUE);

    KpLPRClient_Setup();
    const int status = cli::RunCommandLine(args, out, std::cerr, env);
    out.flush();
    KpLPRClient_Cleanup();
    return status;
}
