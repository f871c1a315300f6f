#include "tolvak/feed/stop_request.h"

#include <cstdlib>
#include <mutex>

namespace tolvak::cli {

namespace {

std::mutex g_mutex;
std::function<void()> g_stop;
bool g_requested = false;

} // namespace

void StopRequest::request() {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_requested = true;
    if (g_stop) g_stop();
}

void StopRequest::signal(int signo) {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!g_stop) std::_Exit(128 + signo);
    g_stop();
}

StopRequest::Registration::Registration(std::function<void()> stop) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_stop = std::move(stop);
    if (g_requested) g_stop();
}

StopRequest::Registration::~Registration() {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_stop = nullptr;
}

} // namespace tolvak::cli
