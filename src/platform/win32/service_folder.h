#pragma once

#include <string>

namespace tolvak::service {

// Refuses (ServiceError) a program that ordinary users could replace, by its own access list or
// its folder's: the service manager would run what they put there as the service's account.
void checkProgram(const std::wstring& program);

} // namespace tolvak::service
