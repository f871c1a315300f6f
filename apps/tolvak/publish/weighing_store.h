#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>

#include "tolvak/publish/store_file.h"

namespace tolvak::cli {

// The weighings not yet taken by the broker, on disk so that a restart or a power cut loses none.
// One append-only file of lines "CRC KINDID PAYLOAD": W adds a weighing, D marks one done (taken,
// or dropped to make room), N carries the next id over a compaction. Every line is fsync'd before
// the call returns; a line cut short by a crash, or one whose checksum fails, ends the file and is
// cut off at the next open, so what stood before it is kept as it was. When the file holds far
// more done lines than pending ones, it is written anew beside and renamed over, never edited in
// place. Not thread-safe: its owner locks.
class WeighingStore {
  public:
    struct Limits {
        size_t count = 10000;    // weighings kept
        size_t bytes = 8u << 20; // their payloads together
    };
    struct Entry {
        uint64_t id;
        std::string payload; // one line: no '\n'
    };

    // Opens or makes the file (and its folder), reads what it holds, and takes a lock on it so
    // that a second process cannot write the same store; throws std::runtime_error with the
    // reason when any of it fails.
    WeighingStore(std::string path, Limits limits);
    WeighingStore(const WeighingStore&) = delete;
    WeighingStore& operator=(const WeighingStore&) = delete;

    // Keeps a weighing, the oldest dropped (and counted) when the store is full; its id, which
    // grows across restarts.
    uint64_t append(const std::string& payload);
    // The weighing is done with; an id not pending is ignored.
    void remove(uint64_t id);

    const std::deque<Entry>& pending() const { return m_pending; }
    uint64_t nextId() const { return m_nextId; }   // the id append() will give
    uint64_t dropped() const { return m_dropped; } // since this object was made
    const std::string& path() const { return m_path; }

  private:
    void writeLine(char kind, uint64_t id, const std::string& payload);
    void compact();

    std::string m_path;
    Limits m_limits;
    StoreFile m_file;
    std::deque<Entry> m_pending;
    size_t m_pendingBytes = 0;
    size_t m_fileBytes = 0;
    uint64_t m_nextId = 1;
    uint64_t m_dropped = 0;
};

} // namespace tolvak::cli
