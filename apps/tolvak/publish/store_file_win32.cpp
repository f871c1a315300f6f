#include "tolvak/publish/store_file.h"

#include <shlobj.h>
#include <windows.h>

#include <algorithm>
#include <stdexcept>
#include <system_error>

#include "platform/win32/unique_handle.h"
#include "text/utf8.h"

namespace tolvak::cli {
namespace {

[[noreturn]] void fail(const std::string& what, const std::string& path) {
    const std::error_code error(static_cast<int>(GetLastError()), std::system_category());
    throw std::runtime_error(what + ' ' + path + ": " + error.message());
}

std::wstring wide(const std::string& path) {
    const std::u16string text = fromUtf8(path);
    return std::wstring(text.begin(), text.end());
}

HANDLE handleOf(intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

// Others may open the file (to be refused by the lock, not by a sharing error), and the file
// may be renamed over while open.
win32::UniqueFile openFile(const std::string& path, DWORD disposition) {
    win32::UniqueFile file(CreateFileW(wide(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) fail("cannot open", path);
    return file;
}

// One byte far past any data: Windows' locks bar other handles from the bytes they cover, and
// this one must bar only a second lock.
bool lock(HANDLE file) {
    OVERLAPPED where{};
    where.OffsetHigh = 0x7fffffff;
    return LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &where);
}

void writeAll(HANDLE file, const std::string& bytes, const std::string& path) {
    LARGE_INTEGER none{};
    if (!SetFilePointerEx(file, none, nullptr, FILE_END)) fail("cannot write", path);
    for (size_t done = 0; done < bytes.size();) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 30));
        if (!WriteFile(file, bytes.data() + done, chunk, &written, nullptr))
            fail("cannot write", path);
        done += written;
    }
    if (!FlushFileBuffers(file)) fail("cannot sync", path);
}

} // namespace

StoreFile::StoreFile(std::string path) : m_path(std::move(path)) {
    win32::UniqueFile file = openFile(m_path, OPEN_ALWAYS);
    if (!lock(file.get())) throw std::runtime_error(m_path + " is in use by another tolvak");
    m_handle = reinterpret_cast<intptr_t>(file.release());
}

StoreFile::~StoreFile() {
    CloseHandle(handleOf(m_handle));
}

std::string StoreFile::readAll() {
    LARGE_INTEGER start{};
    if (!SetFilePointerEx(handleOf(m_handle), start, nullptr, FILE_BEGIN))
        fail("cannot read", m_path);
    std::string text;
    char buffer[65536];
    for (DWORD n = 0;; text.append(buffer, n)) {
        if (!ReadFile(handleOf(m_handle), buffer, sizeof buffer, &n, nullptr))
            fail("cannot read", m_path);
        if (n == 0) return text;
    }
}

void StoreFile::append(const std::string& bytes) {
    writeAll(handleOf(m_handle), bytes, m_path);
}

bool StoreFile::truncate(uint64_t size) noexcept {
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(size);
    return SetFilePointerEx(handleOf(m_handle), at, nullptr, FILE_BEGIN) &&
           SetEndOfFile(handleOf(m_handle));
}

void StoreFile::replace(const std::string& text) {
    const std::string fresh = m_path + ".new";
    win32::UniqueFile file = openFile(fresh, CREATE_ALWAYS);
    writeAll(file.get(), text, fresh);
    // The lock goes with the new file: take it before the name does.
    lock(file.get());
    // Windows renames nothing over a file that is open, even by this process: let the old one
    // go first, and take it back when the rename fails. Write-through: the rename is on the disk
    // when it returns, as the data already is.
    CloseHandle(handleOf(m_handle));
    m_handle = reinterpret_cast<intptr_t>(INVALID_HANDLE_VALUE); // until one of the two is held
    if (!MoveFileExW(wide(fresh).c_str(), wide(m_path).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const DWORD error = GetLastError();
        file.reset();
        win32::UniqueFile old = openFile(m_path, OPEN_ALWAYS);
        if (!lock(old.get())) throw std::runtime_error(m_path + " is in use by another tolvak");
        m_handle = reinterpret_cast<intptr_t>(old.release());
        SetLastError(error);
        fail("cannot rename over", m_path);
    }
    m_handle = reinterpret_cast<intptr_t>(file.release());
}

std::string defaultStoreDir() {
    wchar_t folder[MAX_PATH] = {};
    if (SUCCEEDED(
            SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder)) ||
        SUCCEEDED(
            SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder))) {
        const std::wstring text(folder);
        return toUtf8(std::u16string(text.begin(), text.end())) + "\\tolvak";
    }
    return "tolvak";
}

} // namespace tolvak::cli
