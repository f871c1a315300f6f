// The Windows side of bench/bench_wine_latency.py: reads frames from a COM port the way a host
// would and prints when each reading became visible, for the script to set against the moment
// its last byte was written.
//
//   bench_ocx_latency --ocx PATH [--port N] [--frames N] [--silent SECONDS]
//   bench_ocx_latency --bare|--bare-overlapped [--port N] [--frames N] [--silent SECONDS]
//
// --ocx loads that Tolvak.ocx file (no registration needed) and, after every batch of window
// messages, asks getTolvakValue. --bare is the yardstick: a thread blocked in ReadFile splits the
// frames and posts each one to this (the UI) thread; --bare-overlapped does the same with
// overlapped reads, the way the control reads, to tell the cost of Wine's overlapped path apart.
// Prints "ready" once the port is open, then at the end one line "<reading> <FILETIME of
// GetSystemTimePreciseAsFileTime>" per reading seen.
// --silent keeps the port open that long with nothing expected, for counting wake-ups.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <thread>
#include <vector>

#include "ocx/guids.h"
#include "ocx/tolvak_interface.h"

namespace {

constexpr UINT kFrameMessage = WM_APP + 10;

struct Options {
    std::wstring ocx;
    bool bare = false;
    bool overlapped = false;
    int port = 5;
    long frames = 1000;
    int silentSeconds = 0;
};

struct Seen {
    long reading;
    unsigned long long fileTime;
};

unsigned long long preciseNow() {
    FILETIME now;
    GetSystemTimePreciseAsFileTime(&now);
    return (unsigned long long)now.dwHighDateTime << 32 | now.dwLowDateTime;
}

// Pumps until done() holds, sleeping in MsgWaitForMultipleObjects between batches; after each
// batch calls afterBatch(). Gives up after timeoutMs.
template <typename Done, typename After> void pump(Done done, After afterBatch, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    while (!done() && GetTickCount() - start < timeoutMs) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, timeoutMs, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        afterBatch();
    }
}

void printSeen(const std::vector<Seen>& seen) {
    for (const Seen& s : seen)
        std::printf("%ld %llu\n", s.reading, s.fileTime);
    std::fflush(stdout);
}

int runOcx(const Options& o) {
    using tolvak::com::ITolvak;
    OleInitialize(nullptr);
    HMODULE module = LoadLibraryW(o.ocx.c_str());
    if (!module) return std::fprintf(stderr, "cannot load the control\n"), 1;
    using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    auto getClassObject = reinterpret_cast<GetClassObject>(
        reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
    IClassFactory* factory = nullptr;
    ITolvak* control = nullptr;
    if (!getClassObject ||
        FAILED(getClassObject(tolvak::com::kClsid, IID_IClassFactory, (void**)&factory)) ||
        FAILED(factory->CreateInstance(nullptr, __uuidof(ITolvak), (void**)&control)))
        return std::fprintf(stderr, "cannot create the control\n"), 1;
    short port = static_cast<short>(o.port);
    VARIANT empty;
    VariantInit(&empty);
    control->setPortNum(&port, &empty);
    control->OpenComm();
    std::printf("ready\n");
    std::fflush(stdout);

    std::vector<Seen> seen;
    seen.reserve(o.frames);
    std::wstring last;
    auto look = [&] {
        BSTR text = nullptr;
        if (FAILED(control->getTolvakValue(&text)) || !text) return;
        if (last != text) {
            last = text;
            seen.push_back({std::wcstol(text, nullptr, 10), preciseNow()});
        }
        SysFreeString(text);
    };
    if (o.silentSeconds > 0)
        pump([] { return false; }, [] {}, o.silentSeconds * 1000);
    else
        pump([&] { return !seen.empty() && seen.back().reading >= o.frames; }, look, 60000);
    control->CloseComm();
    control->Release();
    factory->Release();
    printSeen(seen);
    return 0;
}

// A plain reader as a Windows developer writes it: one blocking byte, then what waits behind it;
// each complete frame ("=" and eight digits, last digit first) posted to the UI thread.
bool readPort(HANDLE port, char* data, DWORD size, DWORD& count, OVERLAPPED* overlapped) {
    if (ReadFile(port, data, size, overlapped ? nullptr : &count, overlapped)) {
        if (overlapped) GetOverlappedResult(port, overlapped, &count, TRUE);
        return true;
    }
    return overlapped && GetLastError() == ERROR_IO_PENDING &&
           GetOverlappedResult(port, overlapped, &count, TRUE);
}

void bareReader(HANDLE port, DWORD uiThread, bool useOverlapped) {
    std::string pending;
    char buffer[4096];
    OVERLAPPED overlapped{};
    overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    OVERLAPPED* ov = useOverlapped ? &overlapped : nullptr;
    for (;;) {
        DWORD count = 0;
        if (!readPort(port, buffer, 1, count, ov)) return;
        COMSTAT status{};
        DWORD errors = 0;
        if (count && ClearCommError(port, &errors, &status) && status.cbInQue) {
            DWORD more = 0;
            DWORD want = std::min<DWORD>(status.cbInQue, sizeof buffer - 1);
            if (!readPort(port, buffer + 1, want, more, ov)) return;
            count += more;
        }
        pending.append(buffer, count);
        size_t end;
        while ((end = pending.find('=', 1)) != std::string::npos || pending.size() >= 9) {
            if (end == std::string::npos) end = 9;
            std::string digits = pending.substr(1, end - 1);
            std::reverse(digits.begin(), digits.end());
            if (digits.size() >= 8)
                PostThreadMessageW(uiThread, kFrameMessage,
                                   std::strtol(digits.c_str(), nullptr, 10), 0);
            pending.erase(0, end);
        }
    }
}

int runBare(const Options& o) {
    std::wstring name = L"\\\\.\\COM" + std::to_wstring(o.port);
    HANDLE port = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              0, nullptr);
    if (port == INVALID_HANDLE_VALUE) return std::fprintf(stderr, "cannot open the port\n"), 1;
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    GetCommState(port, &dcb);
    dcb.BaudRate = 2400;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    SetCommState(port, &dcb);
    COMMTIMEOUTS timeouts{}; // none: a read waits for its bytes
    SetCommTimeouts(port, &timeouts);
    PurgeComm(port, PURGE_RXCLEAR);
    MSG msg;
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE); // the thread's queue, before anyone posts
    std::thread(bareReader, port, GetCurrentThreadId(), o.overlapped).detach();
    std::printf("ready\n");
    std::fflush(stdout);

    std::vector<Seen> seen;
    seen.reserve(o.frames);
    long latest = 0;
    DWORD start = GetTickCount();
    DWORD limit = o.silentSeconds > 0 ? o.silentSeconds * 1000 : 60000;
    while ((o.silentSeconds > 0 || latest < o.frames) && GetTickCount() - start < limit) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, limit, QS_ALLINPUT);
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == kFrameMessage) {
                latest = static_cast<long>(msg.wParam);
                seen.push_back({latest, preciseNow()});
            }
            DispatchMessageW(&msg);
        }
    }
    printSeen(seen);
    std::fflush(stdout);
    ExitProcess(0); // the reader thread is still blocked in its read
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        std::wstring a = argv[i];
        bool more = i + 1 < argc;
        if (a == L"--ocx" && more)
            o.ocx = argv[++i];
        else if (a == L"--bare" || a == L"--bare-overlapped")
            o.bare = true, o.overlapped = a != L"--bare";
        else if (a == L"--port" && more)
            o.port = std::wcstol(argv[++i], nullptr, 10);
        else if (a == L"--frames" && more)
            o.frames = std::wcstol(argv[++i], nullptr, 10);
        else if (a == L"--silent" && more)
            o.silentSeconds = std::wcstol(argv[++i], nullptr, 10);
        else
            return std::fprintf(stderr,
                                "usage: bench_ocx_latency --ocx PATH | --bare | --bare-overlapped "
                                "[--port N] [--frames N] [--silent SECONDS]\n"),
                   2;
    }
    if (!o.bare && o.ocx.empty()) return std::fprintf(stderr, "give --ocx PATH or --bare\n"), 2;
    return o.bare ? runBare(o) : runOcx(o);
}
