#include "http.h"

#include <curl/curl.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "RuDAVADO.h"
#include "soap.h"

namespace rudavado {
namespace onvif {
namespace {

size_t collect(char* data, size_t size, size_t count, void* user) {
    auto* out = static_cast<std::string*>(user);
    // Replies of these services are small; a device that streams without end is cut off.
    constexpr size_t kMaxReply = 8u << 20;
    if (out->size() + size * count > kMaxReply) return 0;
    out->append(data, size * count);
    return size * count;
}

int transportError(CURL* curl, CURLcode code) {
    switch (code) {
        case CURLE_OK:
            return KPLPRC_ERR_NONE;
        case CURLE_COULDNT_CONNECT: {
            long os_errno = 0;
            curl_easy_getinfo(curl, CURLINFO_OS_ERRNO, &os_errno);
            return os_errno == ECONNREFUSED ? KPLPRC_ERR_REFUSED : KPLPRC_ERR_TIMEOUT;
        }
        case CURLE_OPERATION_TIMEDOUT:
        case CURLE_COULDNT_RESOLVE_HOST:
            return KPLPRC_ERR_TIMEOUT;
        case CURLE_URL_MALFORMAT:
        case CURLE_UNSUPPORTED_PROTOCOL:
            return KPLPRC_ERR_PARAMETER;
        default:
            return KPLPRC_ERR_DEVICE;
    }
}

// Runs the transfer and frees the header list, and the handle unless `keep`.
int perform(CURL* curl, curl_slist* headers, long& status, bool keep = false) {
    const CURLcode code = curl_easy_perform(curl);
    const int error = transportError(curl, code);
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, nullptr);
    curl_slist_free_all(headers);
    if (!keep) curl_easy_cleanup(curl);
    return error;
}

int abortWhenAsked(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return static_cast<const std::atomic<bool>*>(user)->load() ? 1 : 0;
}

void commonOptions(CURL* curl, const std::string& url, const Credentials* credentials, long connect_ms,
                   std::string* reply) {
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, connect_ms);
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");  // cameras are on the local network
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, reply);
    if (credentials != nullptr && !credentials->user.empty()) {
        // Digest only: curl then sends no credentials until the server challenges for Digest.
        curl_easy_setopt(curl, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_DIGEST));
        curl_easy_setopt(curl, CURLOPT_USERNAME, credentials->user.c_str());
        curl_easy_setopt(curl, CURLOPT_PASSWORD, credentials->password.c_str());
    }
}

}  // namespace

void HttpConnection::close() {
    if (curl_ != nullptr) curl_easy_cleanup(static_cast<CURL*>(curl_));
    curl_ = nullptr;
}

void* HttpConnection::handle() {
    if (curl_ == nullptr) {
        curl_ = curl_easy_init();
    } else {
        // Forgets the last request's options; the open connection stays.
        curl_easy_reset(static_cast<CURL*>(curl_));
    }
    return curl_;
}

bool httpGlobalInit() {
    static std::once_flag once;
    static bool ok = false;
    std::call_once(once, [] { ok = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; });
    return ok;
}

namespace {

HttpResult postOnce(const std::string& url, const std::string& action, const std::string& body,
                    const Credentials* credentials, const HttpTimeouts& timeouts,
                    HttpConnection* connection) {
    HttpResult result;
    CURL* curl = connection != nullptr ? static_cast<CURL*>(connection->handle()) : curl_easy_init();
    if (curl == nullptr) {
        result.error = KPLPRC_ERR_DEVICE;
        return result;
    }
    commonOptions(curl, url, credentials, timeouts.connect_ms, &result.body);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, timeouts.total_ms);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.data());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
    const std::string type = "Content-Type: application/soap+xml; charset=utf-8; action=\"" + action + "\"";
    curl_slist* headers = curl_slist_append(nullptr, type.c_str());
    headers = curl_slist_append(headers, "Expect:");
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    if (timeouts.abort != nullptr) {
        curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, abortWhenAsked);
        curl_easy_setopt(curl, CURLOPT_XFERINFODATA, timeouts.abort);
    }
    result.error = perform(curl, headers, result.status, connection != nullptr);
    if (result.error == KPLPRC_ERR_DEVICE && timeouts.abort != nullptr && timeouts.abort->load())
        result.error = KPLPRC_ERR_TIMEOUT;
    // A failed transfer may leave the connection in any state: the next request makes a new one.
    if (result.error != KPLPRC_ERR_NONE && connection != nullptr) connection->close();
    return result;
}

}  // namespace

HttpResult soapPost(const std::string& url, const std::string& action, const std::string& body,
                    const Credentials* credentials, const HttpTimeouts& timeouts,
                    HttpConnection* connection) {
    // Most devices take the UsernameToken alone; the HTTP login is negotiated only when the
    // device asks for it, since curl would otherwise send every request twice.
    HttpResult result = postOnce(url, action, body, nullptr, timeouts, connection);
    if (result.error == KPLPRC_ERR_NONE && result.status == 401 && credentials != nullptr &&
        !credentials->user.empty()) {
        result = postOnce(url, action, body, credentials, timeouts, connection);
    }
    return result;
}

namespace {

struct UploadState {
    const std::string* data;
    size_t offset = 0;
    const std::function<bool(int)>* progress;
    bool cancelled = false;
};

size_t readChunk(char* buffer, size_t size, size_t count, void* user) {
    auto* s = static_cast<UploadState*>(user);
    const size_t n = std::min(size * count, s->data->size() - s->offset);
    std::memcpy(buffer, s->data->data() + s->offset, n);
    s->offset += n;
    return n;
}

int seekChunk(void* user, curl_off_t offset, int origin) {
    auto* s = static_cast<UploadState*>(user);
    // The Digest hand-shake sends the body again from the start.
    if (origin != SEEK_SET || offset < 0 || static_cast<size_t>(offset) > s->data->size()) {
        return CURL_SEEKFUNC_FAIL;
    }
    s->offset = static_cast<size_t>(offset);
    return CURL_SEEKFUNC_OK;
}

int onProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t sent) {
    auto* s = static_cast<UploadState*>(user);
    const size_t total = s->data->size();
    const size_t done = sent > 0 ? static_cast<size_t>(sent) : 0;
    const int percent = total == 0 ? 100 : static_cast<int>(std::min<size_t>(100, done / (total / 100 + 1)));
    if (!(*s->progress)(percent)) {
        s->cancelled = true;
        return 1;
    }
    return 0;
}

}  // namespace

namespace {

UploadResult uploadOnce(const std::string& url, const std::string& content_type, const std::string& data,
                        const Credentials* credentials, long connect_ms, long stall_ms,
                        const std::function<bool(int)>& progress) {
    UploadResult result;
    CURL* curl = curl_easy_init();
    if (curl == nullptr) {
        result.error = KPLPRC_ERR_DEVICE;
        return result;
    }
    UploadState state{&data, 0, &progress};
    commonOptions(curl, url, credentials, connect_ms, &result.body);
    curl_easy_setopt(curl, CURLOPT_POST, 1L);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(data.size()));
    curl_easy_setopt(curl, CURLOPT_READFUNCTION, readChunk);
    curl_easy_setopt(curl, CURLOPT_READDATA, &state);
    curl_easy_setopt(curl, CURLOPT_SEEKFUNCTION, seekChunk);
    curl_easy_setopt(curl, CURLOPT_SEEKDATA, &state);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, onProgress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &state);
    // A stalled upload ends after stall_ms without a byte moving, however big the file.
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, std::max(1L, stall_ms / 1000));
    const std::string type = "Content-Type: " + content_type;
    curl_slist* headers = curl_slist_append(nullptr, type.c_str());
    headers = curl_slist_append(headers, "Expect:");
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    const int error = perform(curl, headers, result.status);
    result.cancelled = state.cancelled;
    result.error = state.cancelled ? KPLPRC_ERR_NONE : error;
    return result;
}

}  // namespace

UploadResult httpUpload(const std::string& url, const std::string& content_type, const std::string& data,
                        const Credentials* credentials, long connect_ms, long stall_ms,
                        const std::function<bool(int)>& progress) {
    // Upload addresses usually carry their own token; a login is negotiated only when asked for.
    UploadResult result = uploadOnce(url, content_type, data, nullptr, connect_ms, stall_ms, progress);
    if (!result.cancelled && result.error == KPLPRC_ERR_NONE && result.status == 401 &&
        credentials != nullptr && !credentials->user.empty()) {
        result = uploadOnce(url, content_type, data, credentials, connect_ms, stall_ms, progress);
    }
    return result;
}

}  // namespace onvif
}  // namespace rudavado
