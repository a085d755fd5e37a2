#include "live_video.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "camera.h"
#include "network.h"
#include "time_scale.h"
#include "x_display.h"

#if defined(RUDAVADO_HAVE_X11)
#include <X11/Xutil.h>
#endif

namespace rudavado {

#if defined(RUDAVADO_HAVE_X11)
namespace {

class Painter {
public:
    Painter(Display* d, Window w) : d_(d), w_(w) {}
    ~Painter() {
        if (pixmap_ != 0) XFreePixmap(d_, pixmap_);
        if (gc_ != nullptr) XFreeGC(d_, gc_);
    }

    bool init() {
        clearXError();
        XWindowAttributes attr;
        if (XGetWindowAttributes(d_, w_, &attr) == 0) return false;
        XSync(d_, False);
        if (hadXError()) return false;
        true_color_ = attr.visual != nullptr && attr.visual->c_class == TrueColor && attr.depth >= 24;
        gc_ = XCreateGC(d_, w_, 0, nullptr);
        XSync(d_, False);
        return !hadXError() && gc_ != nullptr;
    }

    // Colour bars sliding sideways, a square running along them, and a caption strip.
    bool draw(long long frame, const std::string& ip, long long clock) {
        clearXError();
        Window root;
        int x, y;
        unsigned int width, height, border, depth;
        if (XGetGeometry(d_, w_, &root, &x, &y, &width, &height, &border, &depth) == 0) {
            return false;
        }
        if (width < 16 || height < 16) {
            XSync(d_, False);
            return !hadXError();
        }
        // Each frame is composed off-screen and copied in one go, so the window never shows
        // half a frame.
        if (pixmap_ == 0 || width != pixmap_width_ || height != pixmap_height_) {
            if (pixmap_ != 0) XFreePixmap(d_, pixmap_);
            pixmap_ = XCreatePixmap(d_, w_, width, height, depth);
            pixmap_width_ = width;
            pixmap_height_ = height;
        }
        const Drawable target = pixmap_;
        static const unsigned long kBars[8] = {0xFFFFFF, 0xFFFF00, 0x00FFFF, 0x00FF00,
                                               0xFF00FF, 0xFF0000, 0x0000FF, 0x202020};
        const int w = static_cast<int>(width);
        const int h = static_cast<int>(height);
        const int bar = (w + 7) / 8;
        const int shift = static_cast<int>((frame * 4) % w);
        for (int i = 0; i < 8; ++i) {
            setColor(kBars[i]);
            const int bx = (i * bar + shift) % w;
            XFillRectangle(d_, target, gc_, bx, 0, static_cast<unsigned>(bar), height);
            if (bx + bar > w) XFillRectangle(d_, target, gc_, bx - w, 0, static_cast<unsigned>(bar), height);
        }
        const int box = h / 6 > 8 ? h / 6 : 8;
        const int span = w - box > 1 ? w - box : 1;
        const int box_x = static_cast<int>((frame * 6) % span);
        setColor(0xFFFFFF);
        XFillRectangle(d_, target, gc_, box_x, h / 2 - box / 2, static_cast<unsigned>(box),
                       static_cast<unsigned>(box));
        setColor(0x000000);
        XDrawRectangle(d_, target, gc_, box_x, h / 2 - box / 2, static_cast<unsigned>(box - 1),
                       static_cast<unsigned>(box - 1));
        setColor(0x000000);
        XFillRectangle(d_, target, gc_, 0, h - 44 > 0 ? h - 44 : 0, width, 44);
        setColor(0xFFFFFF);
        char line[96];
        std::snprintf(line, sizeof line, "%s  %s", ip.c_str(), formatDateTime(clock).c_str());
        XDrawString(d_, target, gc_, 8, h - 26, line, static_cast<int>(std::strlen(line)));
        std::snprintf(line, sizeof line, "frame %lld", frame);
        XDrawString(d_, target, gc_, 8, h - 8, line, static_cast<int>(std::strlen(line)));
        XCopyArea(d_, target, w_, gc_, 0, 0, width, height, 0, 0);
        XSync(d_, False);
        return !hadXError();
    }

    void drawNoSignal() {
        clearXError();
        setColor(0x000000);
        XFillRectangle(d_, w_, gc_, 0, 0, 4096, 4096);
        setColor(0xFFFFFF);
        XDrawString(d_, w_, gc_, 8, 20, "NO SIGNAL", 9);
        XSync(d_, False);
    }

private:
    void setColor(unsigned long rgb) {
        unsigned long pixel = rgb;
        if (!true_color_) {
            const int s = screen();
            pixel = ((rgb >> 16 & 0xFF) + (rgb >> 8 & 0xFF) + (rgb & 0xFF)) > 3 * 128 ? WhitePixel(d_, s)
                                                                                      : BlackPixel(d_, s);
        }
        XSetForeground(d_, gc_, pixel);
    }
    int screen() const { return DefaultScreen(d_); }

    Display* d_;
    Window w_;
    GC gc_ = nullptr;
    Pixmap pixmap_ = 0;
    unsigned int pixmap_width_ = 0, pixmap_height_ = 0;
    bool true_color_ = true;
};

}  // namespace
#endif

LivePlay::LivePlay(uint64_t session, int camera, uint64_t generation, unsigned long window)
    : session_(session), camera_(camera), generation_(generation), window_(window) {}

LivePlay::~LivePlay() { stop(); }

void LivePlay::start() {
    thread_ = std::thread([this] { run(); });
    std::unique_lock<std::mutex> lk(mu_);
    cv_.wait(lk, [this] { return ready_; });
}

void LivePlay::stop() {
    {
        std::lock_guard<std::mutex> lk(mu_);
        stop_ = true;
    }
    cv_.notify_all();
    std::lock_guard<std::mutex> join(join_mu_);
    if (thread_.joinable()) thread_.join();
}

// Waits one frame interval; false when the play is being stopped.
bool LivePlay::waitFrame() {
    double ms = 40;
    {
        auto lk = Network::instance().lock();
        ms = Network::instance().timing(Timing::Frame);
    }
    long long us = scaledMicroseconds(ms);
    if (us < 1000) us = 1000;  // no screen shows more than a thousand frames a second
    std::unique_lock<std::mutex> lk(mu_);
    return !cv_.wait_for(lk, std::chrono::microseconds(us), [this] { return stop_; });
}

void LivePlay::run() {
    bool drawing = false;
#if defined(RUDAVADO_HAVE_X11)
    Display* display = nullptr;
    Painter* painter = nullptr;
    if (window_ != 0) {
        display = openDisplay();
        if (display != nullptr) {
            painter = new Painter(display, static_cast<Window>(window_));
            drawing = painter->init();
        }
    }
#endif
    draws_.store(drawing);
    {
        std::lock_guard<std::mutex> lk(mu_);
        ready_ = true;
    }
    cv_.notify_all();

    std::string ip;
    long long clock = 0;
    do {
        if (!Network::instance().frameInfo(session_, ip, clock)) {
#if defined(RUDAVADO_HAVE_X11)
            if (drawing) painter->drawNoSignal();
#endif
            continue;
        }
        const long long frame = frames_.load() + 1;
#if defined(RUDAVADO_HAVE_X11)
        // A window that went away ends the drawing; the stream itself goes on being counted.
        if (drawing && !painter->draw(frame, ip, clock)) drawing = false;
#endif
        frames_.store(frame);
    } while (waitFrame());

#if defined(RUDAVADO_HAVE_X11)
    delete painter;
    if (display != nullptr) closeDisplay(display);
#endif
    (void)drawing;
}

}  // namespace rudavado
