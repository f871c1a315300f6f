#pragma once

// A small checker for the Windows test programs: every failed expectation is printed with its
// context, and the program's exit status is the number of failures.

#include <windows.h>

#include <cstdio>
#include <string>
#include <string_view>

namespace tolvak::wintest {

class Checker {
  public:
    // Prefix for the messages that follow, e.g. the name of the row being checked.
    void context(std::string text) { m_context = std::move(text); }

    bool expect(bool ok, const char* what) {
        if (!ok) {
            std::printf("FAIL [%s] %s\n", m_context.c_str(), what);
            ++m_failures;
        }
        ++m_checks;
        return ok;
    }
    bool expectHr(HRESULT hr, const char* what) {
        if (FAILED(hr)) {
            std::printf("FAIL [%s] %s: hr 0x%08lx\n", m_context.c_str(), what,
                        static_cast<unsigned long>(hr));
            ++m_failures;
        }
        ++m_checks;
        return SUCCEEDED(hr);
    }
    template <typename A, typename B>
    bool expectEq(const A& actual, const B& expected, const char* what) {
        bool ok = actual == expected;
        if (!ok) {
            std::printf("FAIL [%s] %s: got %s, want %s\n", m_context.c_str(), what,
                        show(actual).c_str(), show(expected).c_str());
            ++m_failures;
        }
        ++m_checks;
        return ok;
    }

    int finish(const char* program) const {
        std::printf("%s: %d checks, %d failures\n", program, m_checks, m_failures);
        std::fflush(stdout);
        return m_failures;
    }
    int failures() const { return m_failures; }

  private:
    static std::string show(long long v) { return std::to_string(v) + " (0x" + hex(v) + ")"; }
    static std::string show(unsigned long long v) { return show(static_cast<long long>(v)); }
    static std::string show(int v) { return show(static_cast<long long>(v)); }
    static std::string show(unsigned v) { return show(static_cast<long long>(v)); }
    static std::string show(long v) { return show(static_cast<long long>(v)); }
    static std::string show(unsigned long v) { return show(static_cast<long long>(v)); }
    static std::string show(short v) { return show(static_cast<long long>(v)); }
    static std::string show(unsigned short v) { return show(static_cast<long long>(v)); }
    static std::string show(bool v) { return v ? "true" : "false"; }
    static std::string show(double v) { return std::to_string(v); }
    static std::string show(const std::string& v) { return "\"" + v + "\""; }
    static std::string show(const char* v) { return show(std::string(v)); }
    static std::string show(const std::wstring& v) { return show(utf8(v)); }
    static std::string show(const wchar_t* v) { return show(std::wstring(v)); }
    static std::string show(const std::u16string& v) {
        return show(std::wstring(v.begin(), v.end()));
    }
    static std::string show(const GUID& g) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                      static_cast<unsigned long>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1],
                      g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
        return buf;
    }
    static std::string hex(long long v) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%llx", static_cast<unsigned long long>(v) & 0xFFFFFFFFull);
        return buf;
    }

  public:
    static std::string utf8(std::wstring_view text) {
        if (text.empty()) return {};
        int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr,
                                    0, nullptr, nullptr);
        std::string out(static_cast<size_t>(n), '\0');
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                            nullptr, nullptr);
        return out;
    }

  private:
    std::string m_context;
    int m_checks = 0;
    int m_failures = 0;
};

} // namespace tolvak::wintest
