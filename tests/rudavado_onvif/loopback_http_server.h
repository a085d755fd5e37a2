// A one-thread HTTP/1.1 server on 127.0.0.1 for the ONVIF client tests: each connection carries
// one request, answered by the test's handler. Requests are recorded for the test to inspect.
#pragma once

#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace onvif_test {

struct HttpRequest {
    std::string method, target;
    std::map<std::string, std::string> headers;  // names in lower case
    std::string body;
};

struct HttpResponse {
    int status = 200;
    std::vector<std::string> headers;  // "Name: value"
    std::string body;
    bool silent = false;  // read the request, answer nothing, hold the connection until stop
};

class LoopbackHttpServer {
public:
    using Handler = std::function<HttpResponse(const HttpRequest&)>;
    explicit LoopbackHttpServer(Handler handler);
    ~LoopbackHttpServer();

    int port() const { return port_; }
    std::string url(const std::string& path = "/onvif/device_service") const;
    std::vector<HttpRequest> requests();

private:
    void run();
    bool readRequest(int fd, HttpRequest& request);

    Handler handler_;
    int listen_fd_ = -1;
    int wake_[2] = {-1, -1};
    int port_ = 0;
    std::mutex mu_;
    std::vector<HttpRequest> requests_;
    std::vector<int> held_;
    std::thread thread_;
};

}  // namespace onvif_test
