#pragma once

// inet_pton and the address structures, where a POSIX program looks for them.
#include <winsock2.h>
#include <ws2tcpip.h>
