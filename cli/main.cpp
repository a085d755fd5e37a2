// kpdevicetool-cli: scripted batches on the cameras of the local network, without a window.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <streambuf>
#include <string>

#include "RuDAVADO.h"
#include "commands.h"
#include "kp_platform.h"
#include "logging.h"

namespace {

// Standard output on a descriptor of its own, written line by line: a script behind a pipe sees
// each result when it is made, and a kill loses none that were printed. Remembers a failed write,
// so that lost results never end in a success status.
class LineBuffer : public std::streambuf {
public:
    explicit LineBuffer(int fd) : fd_(fd) {}
    ~LineBuffer() override { sync(); }

    bool failed() const { return failed_; }

protected:
    // No put area: every character comes here or to xsputn.
    int_type overflow(int_type c) override {
        if (traits_type::eq_int_type(c, traits_type::eof())) return sync() == 0 ? traits_type::not_eof(c) : c;
        pending_ += traits_type::to_char_type(c);
        if (c == '\n' && sync() != 0) return traits_type::eof();
        return c;
    }
    std::streamsize xsputn(const char* data, std::streamsize count) override {
        pending_.append(data, static_cast<size_t>(count));
        if (std::memchr(data, '\n', static_cast<size_t>(count)) != nullptr && sync() != 0) return 0;
        return count;
    }
    int sync() override {
        size_t done = 0;
        while (done < pending_.size()) {
            const int written =
                _write(fd_, pending_.data() + done, static_cast<unsigned int>(pending_.size() - done));
            if (written <= 0) {
                failed_ = true;
                break;
            }
            done += static_cast<size_t>(written);
        }
        // What could not be written is dropped: retrying a full disk for every later line would
        // only repeat the failure.
        pending_.clear();
        return failed_ ? -1 : 0;
    }

private:
    int fd_;
    std::string pending_;
    bool failed_ = false;
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

    // Quiet until the arguments ask otherwise: the log writes to standard error by default.
    kpes::set_standard_error_output(false);
    // The operation modules write debugging lines to standard output; a script reading ours must
    // see only ours, so theirs go to the null device, or beside the log with --verbose.
    std::fflush(stdout);
    const int out_fd = _dup(1);
    const int null_fd = _open("NUL", _O_WRONLY);
    const bool own_output = out_fd >= 0 && _dup2(null_fd >= 0 ? null_fd : 2, 1) == 0;
    if (null_fd >= 0) _close(null_fd);
    LineBuffer buffer(own_output ? out_fd : 1);
    std::ostream out(&buffer);
    const char* term = std::getenv("TERM");
    // A dumb terminal cannot redraw a line in place.
    env.terminal =
        _isatty(own_output ? out_fd : 1) != 0 && !(term != nullptr && std::strcmp(term, "dumb") == 0);
    env.stop_requested = [] { return g_stop_requests.load() > 0; };
    env.start_log = [own_output](bool verbose, bool to_file) {
        if (verbose) {
            kpes::set_standard_error_output(true);
            if (own_output) _dup2(2, 1);
        }
        // Never destroyed: threads may still log while static objects go.
        if (to_file)
            kpes::add_log_sink(
                new kpes::rotating_file_sink(kpes::kLogFolder, kpes::kLogFileBytes, kpes::kLogDays),
                kpes::LS_VERBOSE);
    };
    env.in = &std::cin;
    if (_isatty(0)) env.ask_password = AskPassword;
    SetConsoleCtrlHandler(OnStopRequest, TRUE);

    KpLPRClient_Setup();
    int status = cli::RunCommandLine(args, out, std::cerr, env);
    out.flush();
    if (buffer.failed()) {
        std::cerr << "kpdevicetool-cli: standard output could not be written: the results are lost\n";
        status = cli::kExitOutputLost;
    }
    KpLPRClient_Cleanup();
    return status;
}
