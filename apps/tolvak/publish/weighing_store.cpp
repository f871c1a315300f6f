#include "tolvak/publish/weighing_store.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include <boost/crc.hpp>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace tolvak::cli {
namespace {

[[noreturn]] void fail(const std::string& what, const std::string& path) {
    throw std::runtime_error(what + ' ' + path + ": " + std::strerror(errno));
}

uint32_t checksum(const std::string& text) {
    boost::crc_32_type crc;
    crc.process_bytes(text.data(), text.size());
    return crc.checksum();
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

std::string line(char kind, uint64_t id, const std::string& payload) {
    std::string body = kind + std::to_string(id);
    if (!payload.empty()) body += ' ' + payload;
    char crc[16];
    std::snprintf(crc, sizeof crc, "%08x ", checksum(body));
    return crc + body + '\n';
}

// One whole line without its '\n': its kind, id and payload, or false when it was damaged.
bool parseLine(const std::string& text, char& kind, uint64_t& id, std::string& payload) {
    if (text.size() < 11 || text[8] != ' ') return false;
    const std::string body = text.substr(9);
    char* end = nullptr;
    if (std::strtoul(text.substr(0, 8).c_str(), &end, 16) != checksum(body) || *end) return false;
    kind = body[0];
    const size_t space = body.find(' ');
    const std::string digits = body.substr(1, space == std::string::npos ? space : space - 1);
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos) return false;
    id = std::stoull(digits);
    payload = space == std::string::npos ? std::string() : body.substr(space + 1);
    return kind == 'W' || kind == 'D' || kind == 'N';
}

int openFile(const std::string& path, int flags) {
    const int fd = ::open(path.c_str(), flags | O_CLOEXEC, 0600);
    if (fd < 0) fail("cannot open", path);
    return fd;
}

} // namespace

WeighingStore::WeighingStore(std::string path, Limits limits)
    : m_path(std::move(path)), m_limits(limits) {
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(m_path).parent_path(), ec);
    m_fd = openFile(m_path, O_RDWR | O_CREAT | O_APPEND);
    if (::flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(m_fd);
        throw std::runtime_error(m_path + " is in use by another tolvak");
    }
    std::string text;
    char buffer[65536];
    for (ssize_t n; (n = ::read(m_fd, buffer, sizeof buffer)) != 0;) {
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) fail("cannot read", m_path);
        text.append(buffer, static_cast<size_t>(n));
    }
    size_t good = 0;
    for (size_t end; (end = text.find('\n', good)) != std::string::npos; good = end + 1) {
        char kind;
        uint64_t id;
        std::string payload;
        if (!parseLine(text.substr(good, end - good), kind, id, payload)) break;
        if (kind == 'W') {
            m_pendingBytes += payload.size();
            m_pending.push_back({id, std::move(payload)});
        } else if (kind == 'D') {
            for (auto it = m_pending.begin(); it != m_pending.end(); ++it)
                if (it->id == id) {
                    m_pendingBytes -= it->payload.size();
                    m_pending.erase(it);
                    break;
                }
        }
        m_nextId = std::max(m_nextId, kind == 'N' ? id : id + 1);
    }
    m_fileBytes = good;
    // A crash mid-line leaves a tail that is not a whole good line: cut it off, so that the next
    // line starts clean.
    if (good < text.size() && ::ftruncate(m_fd, static_cast<off_t>(good)) != 0)
        fail("cannot cut the damaged end of", m_path);
}

WeighingStore::~WeighingStore() {
    ::close(m_fd);
}

uint64_t WeighingStore::append(const std::string& payload) {
    while (!m_pending.empty() && (m_pending.size() >= m_limits.count ||
                                  m_pendingBytes + payload.size() > m_limits.bytes)) {
        ++m_dropped;
        remove(m_pending.front().id);
    }
    const uint64_t id = m_nextId++;
    writeLine('W', id, payload);
    m_pendingBytes += payload.size();
    m_pending.push_back({id, payload});
    return id;
}

void WeighingStore::remove(uint64_t id) {
    for (auto it = m_pending.begin(); it != m_pending.end(); ++it) {
        if (it->id != id) continue;
        writeLine('D', id, {});
        m_pendingBytes -= it->payload.size();
        m_pending.erase(it);
        // Done lines pile up: write the pending ones anew once they are a small part of the file.
        if (m_fileBytes > 64 * 1024 && m_fileBytes > 4 * (m_pendingBytes + 32 * m_pending.size()))
            compact();
        return;
    }
}

void WeighingStore::writeLine(char kind, uint64_t id, const std::string& payload) {
    const std::string text = line(kind, id, payload);
    try {
        writeAll(m_fd, text, m_path);
    } catch (...) {
        // A part of a line (a full disk) would end the file at the next open, and every line
        // written after it with it: take it back.
        const int cut = ::ftruncate(m_fd, static_cast<off_t>(m_fileBytes));
        (void)cut; // the write's error is the one to tell
        throw;
    }
    m_fileBytes += text.size();
}

void WeighingStore::compact() {
    std::string text = line('N', m_nextId, {});
    for (const Entry& e : m_pending)
        text += line('W', e.id, e.payload);
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
    ::close(m_fd);
    m_fd = fd; // at its end: what follows appends
    m_fileBytes = text.size();
}

} // namespace tolvak::cli
