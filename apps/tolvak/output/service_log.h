#pragma once

#include <cstddef>
#include <fstream>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <string_view>

namespace tolvak::cli {

// A log file for an administrator: each line starts with its UTC time and is on disk once
// written. Past maxBytes the file becomes PATH.1 (replacing the one before) and a new one
// starts, so the log never fills the disk. Lines from several streams and threads never mix.
class ServiceLog {
  public:
    explicit ServiceLog(std::string path, size_t maxBytes = 1 << 20);
    ~ServiceLog();

    void writeLine(std::string_view line);

    // A stream whose lines go to the log, each once complete. Each stream has its own
    // unfinished line; one stream is for one thread at a time.
    std::unique_ptr<std::ostream> stream();

  private:
    std::string m_path;
    size_t m_maxBytes;
    std::mutex m_mutex;
    std::ofstream m_file;
    size_t m_size = 0;
};

} // namespace tolvak::cli
