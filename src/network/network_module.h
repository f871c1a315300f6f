#pragma once

#include <string>

#include "base/msg_box.h"
#include "network/sockets_api.h"

namespace tolvak {

// The free routines behind the three host-identity methods. They keep no state: every call starts
// and cleans up Windows Sockets itself and reports problems in message boxes.
class NetworkModule {
  public:
    NetworkModule(SocketsApi& sockets, MsgBox& msgBox) : m_sockets(sockets), m_msgBox(msgBox) {}

    bool startSockets();
    void stopSockets();

    std::u16string getLocalHostName();
    std::u16string lookupLocalIPAddress();
    bool lookupMacAddress(const std::u16string& ipAddress, std::u16string& macAddress);
    std::u16string getLocalMacAddress();

  private:
    SocketsApi& m_sockets;
    MsgBox& m_msgBox;
};

} // namespace tolvak
