// HTTP for the ONVIF services over libcurl. Every transfer is bounded in time. Credentials are
// only ever answered to an HTTP Digest challenge: a server that asks for Basic gets no password.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <utility>

namespace rudavado {
namespace onvif {

struct Credentials;

struct HttpTimeouts {
    long connect_ms = 3000;
    long total_ms = 10000;
    // When set and true, a transfer under way ends at once (KPLPRC_ERR_TIMEOUT).
    const std::atomic<bool>* abort = nullptr;
};

// One device's connection, kept open from one request to the next: a login of several requests
// then costs one TCP set-up instead of one per request. Used by one thread at a time; closed when
// destroyed or by close().
class HttpConnection {
public:
    HttpConnection() = default;
    ~HttpConnection() { close(); }
    HttpConnection(const HttpConnection&) = delete;
    HttpConnection& operator=(const HttpConnection&) = delete;
    void close();
    void swap(HttpConnection& other) { std::swap(curl_, other.curl_); }
    // The transfer handle, made on first use.
    void* handle();

private:
    void* curl_ = nullptr;
};

struct HttpResult {
    int error = 0;  // KPLPRC_ERR_* for a transport failure, 0 when an HTTP answer came
    long status = 0;
    std::string body;
};

// Initialises libcurl once for the process; false when it cannot.
bool httpGlobalInit();

// POSTs a SOAP 1.2 request. `credentials` (may be null) answer a Digest challenge on a 401.
// `connection` (may be null) is reused and stays open; without it the request has its own.
HttpResult soapPost(const std::string& url, const std::string& action, const std::string& body,
                    const Credentials* credentials, const HttpTimeouts& timeouts,
                    HttpConnection* connection = nullptr);

// POSTs a file's bytes as application/octet-stream. `progress` gets the percentage sent and
// returns false to abort (then the result's error is KPLPRC_ERR_NONE with status 0 and
// `cancelled` set). The transfer ends when no byte moves for `stall_ms`.
struct UploadResult : HttpResult {
    bool cancelled = false;
};
UploadResult httpUpload(const std::string& url, const std::string& content_type, const std::string& data,
                        const Credentials* credentials, long connect_ms, long stall_ms,
                        const std::function<bool(int)>& progress);

}  // namespace onvif
}  // namespace rudavado
