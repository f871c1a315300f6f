#include "tolvak/output/service_log.h"

#include <chrono>
#include <filesystem>
#include <streambuf>

#include "tolvak/output/text_format.h"

namespace tolvak::cli {

namespace fs = std::filesystem;

namespace {

class LineBuffer : public std::streambuf {
  public:
    explicit LineBuffer(ServiceLog& log) : m_log(log) {}
    ~LineBuffer() override {
        if (!m_line.empty()) m_log.writeLine(m_line);
    }

  protected:
    int_type overflow(int_type c) override {
        if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
        if (c == '\n') {
            m_log.writeLine(m_line);
            m_line.clear();
        } else {
            m_line += traits_type::to_char_type(c);
        }
        return c;
    }

  private:
    ServiceLog& m_log;
    std::string m_line;
};

class LineStream : public std::ostream {
  public:
    explicit LineStream(ServiceLog& log) : std::ostream(nullptr), m_buffer(log) {
        rdbuf(&m_buffer);
    }

  private:
    LineBuffer m_buffer;
};

} // namespace

ServiceLog::ServiceLog(std::string path, size_t maxBytes)
    : m_path(std::move(path)), m_maxBytes(maxBytes) {
    std::error_code ec;
    const auto size = fs::file_size(fs::u8path(m_path), ec);
    m_size = ec ? 0 : static_cast<size_t>(size);
    m_file.open(fs::u8path(m_path), std::ios::app | std::ios::binary);
}

ServiceLog::~ServiceLog() = default;

void ServiceLog::writeLine(std::string_view line) {
    std::string text = isoTimestamp(std::chrono::system_clock::now()) + ' ';
    text.append(line);
    text += '\n';
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_size > 0 && m_size + text.size() > m_maxBytes) {
        m_file.close();
        std::error_code ec;
        const fs::path old = fs::u8path(m_path + ".1");
        fs::remove(old, ec);
        fs::rename(fs::u8path(m_path), old, ec);
        m_file.open(fs::u8path(m_path), std::ios::trunc | std::ios::binary);
        m_size = 0;
    }
    m_file << text << std::flush;
    m_size += text.size();
}

std::unique_ptr<std::ostream> ServiceLog::stream() {
    return std::make_unique<LineStream>(*this);
}

} // namespace tolvak::cli
