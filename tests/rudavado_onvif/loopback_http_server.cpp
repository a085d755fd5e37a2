#include "loopback_http_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>

namespace onvif_test {

LoopbackHttpServer::LoopbackHttpServer(Handler handler) : handler_(std::move(handler)) {
    listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (listen_fd_ < 0 || bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        listen(listen_fd_, 16) != 0 ||
        getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0 || pipe(wake_) != 0) {
        return;
    }
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { run(); });
}

LoopbackHttpServer::~LoopbackHttpServer() {
    if (wake_[1] >= 0 && write(wake_[1], "x", 1) < 0) {
    }
    if (thread_.joinable()) thread_.join();
    for (int fd : held_) close(fd);
    for (int fd : {listen_fd_, wake_[0], wake_[1]}) {
        if (fd >= 0) close(fd);
    }
}

std::string LoopbackHttpServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<HttpRequest> LoopbackHttpServer::requests() {
    std::lock_guard<std::mutex> lk(mu_);
    return requests_;
}

bool LoopbackHttpServer::readRequest(int fd, HttpRequest& request) {
    std::string data;
    char buffer[4096];
    size_t header_end = std::string::npos;
    size_t length = 0;
    for (;;) {
        pollfd p[2] = {{fd, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        if (poll(p, 2, -1) <= 0 || (p[1].revents & POLLIN) != 0) return false;
        const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) return false;
        data.append(buffer, static_cast<size_t>(n));
        if (header_end == std::string::npos) {
            header_end = data.find("\r\n\r\n");
            if (header_end == std::string::npos) continue;
            const std::string head = data.substr(0, header_end);
            size_t line_end = head.find("\r\n");
            const std::string first = head.substr(0, line_end);
            request.method = first.substr(0, first.find(' '));
            request.target = first.substr(first.find(' ') + 1);
            request.target = request.target.substr(0, request.target.find(' '));
            while (line_end != std::string::npos) {
                const size_t next = head.find("\r\n", line_end + 2);
                const std::string line = head.substr(line_end + 2, next - line_end - 2);
                const size_t colon = line.find(':');
                if (colon != std::string::npos) {
                    std::string name = line.substr(0, colon);
                    std::transform(name.begin(), name.end(), name.begin(),
                                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
                    request.headers[name] = line.substr(line.find_first_not_of(' ', colon + 1));
                }
                line_end = next;
            }
            auto it = request.headers.find("content-length");
            length = it == request.headers.end() ? 0 : std::stoul(it->second);
        }
        if (data.size() >= header_end + 4 + length) {
            request.body = data.substr(header_end + 4, length);
            return true;
        }
    }
}

void LoopbackHttpServer::run() {
    for (;;) {
        pollfd p[2] = {{listen_fd_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        if (poll(p, 2, -1) <= 0 || (p[1].revents & POLLIN) != 0) return;
        const int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        HttpRequest request;
        if (!readRequest(fd, request)) {
            close(fd);
            continue;
        }
        {
            std::lock_guard<std::mutex> lk(mu_);
            requests_.push_back(request);
        }
        const HttpResponse response = handler_(request);
        if (response.silent) {
            held_.push_back(fd);
            continue;
        }
        std::string out = "HTTP/1.1 " + std::to_string(response.status) + " X\r\nConnection: close\r\n";
        for (const std::string& h : response.headers) out += h + "\r\n";
        out += "Content-Length: " + std::to_string(response.body.size()) + "\r\n\r\n" + response.body;
        size_t sent = 0;
        while (sent < out.size()) {
            const ssize_t n = send(fd, out.data() + sent, out.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) break;
            sent += static_cast<size_t>(n);
        }
        close(fd);
    }
}

}  // namespace onvif_test
