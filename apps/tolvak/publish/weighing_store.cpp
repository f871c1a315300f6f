#include "tolvak/publish/weighing_store.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include <boost/crc.hpp>

namespace tolvak::cli {
namespace {

// Makes the file's folder, so that a first start finds one.
std::string withFolder(std::string path) {
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
    return path;
}

uint32_t checksum(const std::string& text) {
    boost::crc_32_type crc;
    crc.process_bytes(text.data(), text.size());
    return crc.checksum();
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

} // namespace

WeighingStore::WeighingStore(std::string path, Limits limits)
    : m_path(std::move(path)), m_limits(limits), m_file(withFolder(m_path)) {
    const std::string text = m_file.readAll();
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
    if (good < text.size() && !m_file.truncate(good))
        throw std::runtime_error("cannot cut the damaged end of " + m_path);
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
        m_file.append(text);
    } catch (...) {
        // A part of a line (a full disk) would end the file at the next open, and every line
        // written after it with it: take it back. The write's error is the one to tell.
        m_file.truncate(m_fileBytes);
        throw;
    }
    m_fileBytes += text.size();
}

void WeighingStore::compact() {
    std::string text = line('N', m_nextId, {});
    for (const Entry& e : m_pending)
        text += line('W', e.id, e.payload);
    m_file.replace(text);
    m_fileBytes = text.size();
}

} // namespace tolvak::cli
