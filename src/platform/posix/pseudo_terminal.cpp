#include "platform/posix/pseudo_terminal.h"

#include <fcntl.h>
#include <stdlib.h>

#include <cerrno>
#include <system_error>

#include "platform/posix/line_discipline.h"

namespace tolvak::posix {

namespace {

[[noreturn]] void fail(int error, const char* what) {
    throw std::system_error(error, std::generic_category(), what);
}

} // namespace

PseudoTerminal PseudoTerminal::open() {
    PseudoTerminal pty;
    pty.m_master.reset(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!pty.m_master) fail(errno, "posix_openpt");
    if (::grantpt(pty.master()) != 0) fail(errno, "grantpt");
    if (::unlockpt(pty.master()) != 0) fail(errno, "unlockpt");
    char name[128];
    if (int error = ::ptsname_r(pty.master(), name, sizeof name)) fail(error, "ptsname_r");
    pty.m_slavePath = name;
    // On the master, terminal settings act on the slave: no echo back, no CR/LF translation
    // for bytes written before the reader has set the line up itself.
    if (int error = makeRaw(pty.master())) fail(error, "raw pseudo-terminal");
    return pty;
}

} // namespace tolvak::posix
