#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <mutex>
#include <unordered_map>

#include "kp_native_window.h"

namespace {

const QEvent::Type kNativeMessageEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

class NativeMessageEvent : public QEvent {
public:
    explicit NativeMessageEvent(const MSG& msg) : QEvent(kNativeMessageEvent), msg_(msg) {}
    MSG msg_;
};

std::mutex& registryLock() {
    static std::mutex lock;
    return lock;
}

// Lives on the window's thread and hands each posted message to the window's handler.
class MessagePump : public QObject {
public:
    explicit MessagePump(kp::NativeMessageHandler handler) : handler_(std::move(handler)) {}

    void disable() { handler_ = nullptr; }
    bool dispatching() const { return depth_ > 0; }

protected:
    bool event(QEvent* e) override {
        // Pairs with the lock PostMessageA holds while it builds the event, so that race
        // detectors see the hand-over, which happens inside the toolkit.
        { std::lock_guard<std::mutex> guard(registryLock()); }
        if (e->type() != kNativeMessageEvent) return QObject::event(e);
        // A copy, so that a handler that unregisters its own window is not destroyed mid-call.
        kp::NativeMessageHandler handler = handler_;
        if (handler) {
            ++depth_;
            handler(static_cast<NativeMessageEvent*>(e)->msg_);
            --depth_;
        }
        return true;
    }

private:
    kp::NativeMessageHandler handler_;
    int depth_ = 0;
};

std::unordered_map<HWND, MessagePump*>& registry() {
    static std::unordered_map<HWND, MessagePump*> windows;
    return windows;
}

void retire(MessagePump* pump) {
    pump->disable();
    if (pump->dispatching())
        pump->deleteLater();
    else
        delete pump;  // also drops the messages still queued for it
}

}  // namespace

namespace kp {

void registerNativeWindow(HWND hwnd, QObject* context, NativeMessageHandler handler) {
    auto* pump = new MessagePump(std::move(handler));
    if (context && context->thread() != pump->thread()) pump->moveToThread(context->thread());
    MessagePump* old = nullptr;
    {
        std::lock_guard<std::mutex> guard(registryLock());
        auto& slot = registry()[hwnd];
        old = slot;
        slot = pump;
    }
    if (old) retire(old);
}

void unregisterNativeWindow(HWND hwnd) {
    MessagePump* pump = nullptr;
    {
        std::lock_guard<std::mutex> guard(registryLock());
        auto it = registry().find(hwnd);
        if (it == registry().end()) return;
        pump = it->second;
        registry().erase(it);
    }
    retire(pump);
}

}  // namespace kp

BOOL PostMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    MSG msg{};
    msg.hwnd = hWnd;
    msg.message = Msg;
    msg.wParam = wParam;
    msg.lParam = lParam;
    msg.time = timeGetTime();
    // Posting under the lock: unregistering waits for it, so the pump cannot go away meanwhile.
    std::lock_guard<std::mutex> guard(registryLock());
    auto it = registry().find(hWnd);
    if (it == registry().end()) return FALSE;
    QCoreApplication::postEvent(it->second, new NativeMessageEvent(msg));
    return TRUE;
}
