#pragma once

#include <cstdint>
#include <string>

namespace tolvak::cli {

// The weighing store's file, the part of the store that each system does its own way: opened for
// appending, locked against a second process, every write on the disk before it returns, and
// replaced whole by a rename that a power cut cannot leave half done. Every failure throws
// std::runtime_error naming the file and the reason.
class StoreFile {
  public:
    // Opens or makes the file (not its folder); "PATH is in use by another tolvak" when another
    // process holds it.
    explicit StoreFile(std::string path);
    ~StoreFile();
    StoreFile(const StoreFile&) = delete;
    StoreFile& operator=(const StoreFile&) = delete;

    std::string readAll();
    // Appends and syncs to the disk.
    void append(const std::string& bytes);
    // Cuts the file to its first size bytes; false when that failed.
    bool truncate(uint64_t size) noexcept;
    // Writes text to PATH.new, syncs it, and renames it over the file, which this object then
    // holds (locked, at its end).
    void replace(const std::string& text);

    const std::string& path() const { return m_path; }

  private:
    std::string m_path;
    intptr_t m_handle; // a descriptor, or a Windows HANDLE
};

// The folder of the weighings store when --mqtt-store is not given. POSIX: $STATE_DIRECTORY
// (systemd's StateDirectory=), else $XDG_STATE_HOME/tolvak, else ~/.local/state/tolvak. Windows:
// %LOCALAPPDATA%\tolvak, else %ProgramData%\tolvak.
std::string defaultStoreDir();

} // namespace tolvak::cli
