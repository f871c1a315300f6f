#include "tolvak/publish/store_file.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace tolvak::cli {
namespace {

[[noreturn]] void fail(const std::string& what, const std::string& path) {
    throw std::runtime_error(what + ' ' + path + ": " + std::strerror(errno));
}

int openFile(const std::string& path, int flags) {
    const int fd = ::open(path.c_str(), flags | O_CLOEXEC, 0600);
    if (fd < 0) fail("cannot open", path);
    return fd;
}

void writeAll(int fd, const std::string& bytes, const std::string& path) {
    for (size_t done = 0; done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) fail("cannot write", path);
        done += static_cast<size_t>(n);
    }
    if (::fsync(fd) != 0) fail("cannot sync", path);
}

} // namespace

StoreFile::StoreFile(std::string path)
    : m_path(std::move(path)), m_handle(openFile(m_path, O_RDWR | O_CREAT | O_APPEND)) {
    if (::flock(static_cast<int>(m_handle), LOCK_EX | LOCK_NB) != 0) {
        ::close(static_cast<int>(m_handle));
        throw std::runtime_error(m_path + " is in use by another tolvak");
    }
}

StoreFile::~StoreFile() {
    ::close(static_cast<int>(m_handle));
}

std::string StoreFile::readAll() {
    std::string text;
    char buffer[65536];
    for (ssize_t n; (n = ::read(static_cast<int>(m_handle), buffer, sizeof buffer)) != 0;) {
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) fail("cannot read", m_path);
        text.append(buffer, static_cast<size_t>(n));
    }
    return text;
}

void StoreFile::append(const std::string& bytes) {
    writeAll(static_cast<int>(m_handle), bytes, m_path);
}

bool StoreFile::truncate(uint64_t size) noexcept {
    return ::ftruncate(static_cast<int>(m_handle), static_cast<off_t>(size)) == 0;
}

void StoreFile::replace(const std::string& text) {
    const std::string fresh = m_path + ".new";
    const int fd = openFile(fresh, O_WRONLY | O_CREAT | O_TRUNC);
    try {
        writeAll(fd, text, fresh);
    } catch (...) {
        ::close(fd);
        throw;
    }
    // The lock goes with the new file: take it before the name does.
    ::flock(fd, LOCK_EX | LOCK_NB);
    if (std::rename(fresh.c_str(), m_path.c_str()) != 0) {
        ::close(fd);
        fail("cannot rename over", m_path);
    }
    auto folder = std::filesystem::path(m_path).parent_path();
    const int dir =
        ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir); // the rename itself must survive a power cut
        ::close(dir);
    }
    ::close(static_cast<int>(m_handle));
    m_handle = fd; // at its end: what follows appends
}

std::string defaultStoreDir() {
    if (const char* state = std::getenv("STATE_DIRECTORY"); state && *state) {
        const std::string dirs = state; // several, separated by ':', when the unit names several
        return dirs.substr(0, dirs.find(':'));
    }
    if (const char* xdg = std::getenv("XDG_STATE_HOME"); xdg && *xdg)
        return std::string(xdg) + "/tolvak";
    const char* home = std::getenv("HOME");
    return std::string(home ? home : ".") + "/.local/state/tolvak";
}

} // namespace tolvak::cli
