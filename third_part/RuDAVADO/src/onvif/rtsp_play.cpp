#include "rtsp_play.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include "../x_display.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#if defined(RUDAVADO_HAVE_X11)
#include <X11/Xutil.h>
#endif

namespace rudavado {
namespace onvif {
namespace {

using SteadyClock = std::chrono::steady_clock;

std::string urlEncode(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
            c == '_' || c == '.' || c == '~') {
            out += static_cast<char>(c);
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
        }
    }
    return out;
}

// Ends a blocking read when the play stops, and an open that takes too long.
struct Interrupt {
    const std::atomic<bool>* stop;
    SteadyClock::time_point deadline;
};

int onInterrupt(void* opaque) {
    const auto* i = static_cast<const Interrupt*>(opaque);
    return i->stop->load() || SteadyClock::now() > i->deadline ? 1 : 0;
}

#if defined(RUDAVADO_HAVE_X11)
// Draws decoded pictures scaled to the window's current size.
class Screen {
public:
    Screen(Display* d, Window w) : d_(d), w_(w) {}
    ~Screen() {
        if (sws_ != nullptr) sws_freeContext(sws_);
        if (gc_ != nullptr) XFreeGC(d_, gc_);
    }

    bool init() {
        clearXError();
        XWindowAttributes attr;
        if (XGetWindowAttributes(d_, w_, &attr) == 0 || attr.visual == nullptr) return false;
        // 32-bit pixels in the visual's red-green-blue order are all we write.
        if (attr.visual->c_class != TrueColor || attr.depth < 24 || attr.visual->red_mask != 0xFF0000)
            return false;
        visual_ = attr.visual;
        depth_ = attr.depth;
        gc_ = XCreateGC(d_, w_, 0, nullptr);
        XSync(d_, False);
        return !hadXError() && gc_ != nullptr;
    }

    bool draw(const AVFrame* frame) {
        clearXError();
        Window root;
        int x, y;
        unsigned int width, height, border, depth;
        if (XGetGeometry(d_, w_, &root, &x, &y, &width, &height, &border, &depth) == 0) return false;
        if (width < 2 || height < 2) return true;
        sws_ =
            sws_getCachedContext(sws_, frame->width, frame->height, static_cast<AVPixelFormat>(frame->format),
                                 static_cast<int>(width), static_cast<int>(height), AV_PIX_FMT_BGRA,
                                 SWS_FAST_BILINEAR, nullptr, nullptr, nullptr);
        if (sws_ == nullptr) return false;
        pixels_.resize(static_cast<size_t>(width) * height * 4);
        uint8_t* planes[1] = {reinterpret_cast<uint8_t*>(pixels_.data())};
        const int strides[1] = {static_cast<int>(width) * 4};
        sws_scale(sws_, frame->data, frame->linesize, 0, frame->height, planes, strides);
        XImage* image = XCreateImage(d_, visual_, static_cast<unsigned>(depth_), ZPixmap, 0, pixels_.data(),
                                     width, height, 32, strides[0]);
        if (image == nullptr) return false;
        XPutImage(d_, w_, gc_, image, 0, 0, 0, 0, width, height);
        image->data = nullptr;  // the buffer is ours
        XDestroyImage(image);
        XSync(d_, False);
        return !hadXError();
    }

private:
    Display* d_;
    Window w_;
    Visual* visual_ = nullptr;
    int depth_ = 24;
    GC gc_ = nullptr;
    SwsContext* sws_ = nullptr;
    std::vector<char> pixels_;
};
#endif

}  // namespace

std::string withLogin(const std::string& uri, const Credentials& login) {
    static const char kScheme[] = "rtsp://";
    if (login.user.empty() || uri.compare(0, sizeof kScheme - 1, kScheme) != 0) return uri;
    const size_t host = sizeof kScheme - 1;
    const size_t slash = uri.find('/', host);
    if (uri.find('@', host) < slash) return uri;
    return uri.substr(0, host) + urlEncode(login.user) + ":" + urlEncode(login.password) + "@" +
           uri.substr(host);
}

RtspPlay::RtspPlay(std::string uri, Credentials login, unsigned long window)
    : uri_(std::move(uri)), login_(std::move(login)), window_(window) {}

RtspPlay::~RtspPlay() { stop(); }

bool RtspPlay::start() {
    try {
        thread_ = std::thread([this] { run(); });
    } catch (...) {
        return false;
    }
    std::unique_lock<std::mutex> lk(mu_);
    cv_.wait(lk, [this] { return opened_ != 0; });
    if (opened_ > 0) return true;
    lk.unlock();
    stop();
    return false;
}

void RtspPlay::stop() {
    stop_ = true;
    std::lock_guard<std::mutex> join(join_mu_);
    if (thread_.joinable()) thread_.join();
}

void RtspPlay::run() {
    constexpr int kOpenSeconds = 8;
    Interrupt interrupt{&stop_, SteadyClock::now() + std::chrono::seconds(kOpenSeconds)};
    AVFormatContext* format = avformat_alloc_context();
    AVCodecContext* codec = nullptr;
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    int video = -1;
    bool ok = format != nullptr && packet != nullptr && frame != nullptr;
    if (ok) {
        format->interrupt_callback.callback = onInterrupt;
        format->interrupt_callback.opaque = &interrupt;
        AVDictionary* options = nullptr;
        av_dict_set(&options, "rtsp_transport", "tcp", 0);
        av_dict_set(&options, "timeout", "5000000", 0);  // microseconds without a byte
        const std::string url = withLogin(uri_, login_);
        // On failure avformat_open_input frees the context itself.
        ok = avformat_open_input(&format, url.c_str(), nullptr, &options) == 0;
        av_dict_free(&options);
    }
    if (ok) ok = avformat_find_stream_info(format, nullptr) >= 0;
    if (ok) {
        video = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
        const AVCodec* decoder =
            video >= 0 ? avcodec_find_decoder(format->streams[video]->codecpar->codec_id) : nullptr;
        codec = decoder != nullptr ? avcodec_alloc_context3(decoder) : nullptr;
        ok = codec != nullptr &&
             avcodec_parameters_to_context(codec, format->streams[video]->codecpar) >= 0 &&
             avcodec_open2(codec, decoder, nullptr) == 0;
    }
    bool drawing = false;
#if defined(RUDAVADO_HAVE_X11)
    Display* display = nullptr;
    Screen* screen = nullptr;
    if (ok && window_ != 0) {
        display = openDisplay();
        if (display != nullptr) {
            screen = new Screen(display, static_cast<Window>(window_));
            drawing = screen->init();
        }
    }
#endif
    draws_ = drawing;
    {
        std::lock_guard<std::mutex> lk(mu_);
        opened_ = ok ? 1 : -1;
    }
    cv_.notify_all();

    while (ok && !stop_) {
        interrupt.deadline = SteadyClock::time_point::max();
        if (av_read_frame(format, packet) < 0) break;  // end of stream, error or stop
        if (packet->stream_index == video && avcodec_send_packet(codec, packet) == 0) {
            while (avcodec_receive_frame(codec, frame) == 0) {
                frames_.fetch_add(1);
#if defined(RUDAVADO_HAVE_X11)
                // A window that went away ends the drawing; the stream goes on being counted.
                if (drawing && !screen->draw(frame)) drawing = false;
#endif
            }
        }
        av_packet_unref(packet);
    }

#if defined(RUDAVADO_HAVE_X11)
    delete screen;
    if (display != nullptr) closeDisplay(display);
#endif
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&codec);
    avformat_close_input(&format);
}

}  // namespace onvif
}  // namespace rudavado
