// The Windows service manager: installing, starting, stopping and removing the service, and the
// service side of a process it started.
#include <windows.h>

#include <thread>

#include "base/service_manager.h"
#include "platform/win32/service_folder.h"
#include "platform/win32/system_handles.h"
#include "platform/win32/wide_text.h"
#include "platform/win32/win32_error.h"
#include "text/utf8.h"

namespace tolvak::service {

namespace {

using win32::UniqueServiceHandle;

std::wstring wide(const std::string& text) {
    const std::u16string utf16 = fromUtf8(text);
    return std::wstring(utf16.begin(), utf16.end());
}

std::string narrow(const wchar_t* text) {
    return toUtf8(win32::fromWide(text, wcslen(text)));
}

[[noreturn]] void fail(const std::string& what, DWORD error = GetLastError()) {
    throw ServiceError(what + ": " + toUtf8(win32::systemMessage(error)));
}

// One argument as CommandLineToArgvW and the C runtime read it back.
std::wstring quoted(const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos)
        return argument;
    std::wstring out = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        // Backslashes before a quote are doubled, and the quote escaped; elsewhere they stand.
        out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, L'\\'); // before the closing quote
    return out + L"\"";
}

// A virtual account of the service's own rather than LocalSystem: the HTTP parser every local
// user can reach runs with no more than the service needs. Its serial ports it may open as any
// account; its folder and token grant it what it uses (service_folder_win32.cpp).
std::wstring account(const std::string& name) {
    return L"NT SERVICE\\" + wide(name);
}

UniqueServiceHandle openManager(DWORD access) {
    UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, access));
    if (!manager) fail("cannot open the service manager");
    return manager;
}

UniqueServiceHandle openService(const std::string& name, DWORD access) {
    UniqueServiceHandle manager = openManager(SC_MANAGER_CONNECT);
    UniqueServiceHandle service(OpenServiceW(manager.get(), wide(name).c_str(), access));
    if (!service) fail("service " + name);
    return service;
}

Status::State stateOf(DWORD state) {
    switch (state) {
    case SERVICE_STOPPED:
        return Status::State::stopped;
    case SERVICE_START_PENDING:
        return Status::State::starting;
    case SERVICE_RUNNING:
        return Status::State::running;
    case SERVICE_STOP_PENDING:
        return Status::State::stopping;
    default:
        return Status::State::other;
    }
}

Status statusOf(SC_HANDLE service, const std::string& name) {
    SERVICE_STATUS_PROCESS process{};
    DWORD needed = 0;
    if (!QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&process),
                              sizeof process, &needed))
        fail("service " + name);
    Status status;
    status.state = stateOf(process.dwCurrentState);
    status.processId = process.dwProcessId;
    // A service that never ran has no exit status of its own.
    if (process.dwWin32ExitCode == ERROR_SERVICE_SPECIFIC_ERROR)
        status.exitCode = process.dwServiceSpecificExitCode;
    else if (process.dwWin32ExitCode != ERROR_SERVICE_NEVER_STARTED)
        status.exitCode = process.dwWin32ExitCode;
    return status;
}

// Polls until the service leaves the pending state it is in, or the time is up.
Status settle(SC_HANDLE service, const std::string& name, Status::State pending,
              std::chrono::seconds wait) {
    const auto until = std::chrono::steady_clock::now() + wait;
    Status status = statusOf(service, name);
    while (status.state == pending && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        status = statusOf(service, name);
    }
    return status;
}

std::vector<std::string> configure(SC_HANDLE service, const Definition& definition) {
    std::wstring description = wide(definition.description);
    SERVICE_DESCRIPTIONW text{description.data()};
    if (!ChangeServiceConfig2W(service, SERVICE_CONFIG_DESCRIPTION, &text))
        fail("cannot describe service " + definition.name);
    // Restarted 5 s after each failure; the count starts again after a day without one.
    SC_ACTION restart[3] = {
        {SC_ACTION_RESTART, 5000}, {SC_ACTION_RESTART, 5000}, {SC_ACTION_RESTART, 5000}};
    SERVICE_FAILURE_ACTIONSW actions{};
    actions.dwResetPeriod = 24 * 60 * 60;
    actions.cActions = 3;
    actions.lpsaActions = restart;
    if (!ChangeServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS, &actions))
        fail("cannot set the restart on failure of service " + definition.name);
    // A failure is also an exit with a status other than 0, not only a crash. Service managers
    // before Vista's (and Wine's) know only crashes: said, not refused.
    SERVICE_FAILURE_ACTIONS_FLAG flag{TRUE};
    if (ChangeServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &flag)) return {};
    if (GetLastError() != ERROR_INVALID_LEVEL)
        fail("cannot set the restart on failure of service " + definition.name);
    return {"this service manager restarts the service only when it crashes, not when it "
            "exits with an error"};
}

// The one service this process runs, for the manager's callbacks.
struct Running {
    std::wstring name;
    const std::function<int()>* body = nullptr;
    const std::function<void()>* stop = nullptr;
    SERVICE_STATUS_HANDLE handle = nullptr;
    SERVICE_STATUS status{};
    int result = 0;
};
Running g_running;

void report(DWORD state, DWORD exitCode = NO_ERROR, DWORD waitHint = 0) {
    SERVICE_STATUS& s = g_running.status;
    s.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    s.dwCurrentState = state;
    s.dwControlsAccepted =
        state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
    s.dwWin32ExitCode = exitCode == NO_ERROR ? NO_ERROR : ERROR_SERVICE_SPECIFIC_ERROR;
    s.dwServiceSpecificExitCode = exitCode;
    s.dwWaitHint = waitHint;
    s.dwCheckPoint = state == SERVICE_RUNNING || state == SERVICE_STOPPED ? 0 : s.dwCheckPoint + 1;
    SetServiceStatus(g_running.handle, &s);
}

DWORD WINAPI control(DWORD code, DWORD, void*, void*) {
    switch (code) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
        report(SERVICE_STOP_PENDING, NO_ERROR, 10000);
        (*g_running.stop)();
        return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
        return NO_ERROR;
    default:
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

void WINAPI serviceMain(DWORD, wchar_t**) {
    g_running.handle = RegisterServiceCtrlHandlerExW(g_running.name.c_str(), control, nullptr);
    if (!g_running.handle) return;
    report(SERVICE_START_PENDING, NO_ERROR, 5000);
    report(SERVICE_RUNNING);
    g_running.result = (*g_running.body)();
    report(SERVICE_STOPPED, static_cast<DWORD>(g_running.result));
}

} // namespace

std::vector<std::string> install(const Definition& definition) {
    wchar_t program[MAX_PATH + 1] = {};
    const DWORD length = GetModuleFileNameW(nullptr, program, MAX_PATH + 1);
    if (length == 0 || length > MAX_PATH) fail("cannot find this program's path");
    checkProgram(program);
    std::wstring commandLine = quoted(program);
    for (const std::string& argument : definition.arguments)
        commandLine += L" " + quoted(wide(argument));

    UniqueServiceHandle manager = openManager(SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE);
    UniqueServiceHandle service(CreateServiceW(
        manager.get(), wide(definition.name).c_str(), wide(definition.displayName).c_str(),
        SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
        commandLine.c_str(), nullptr, nullptr, nullptr, account(definition.name).c_str(), nullptr));
    if (!service) fail("cannot install service " + definition.name);
    try {
        return configure(service.get(), definition);
    } catch (const ServiceError&) {
        DeleteService(service.get()); // not half installed
        throw;
    }
}

void uninstall(const std::string& name) {
    UniqueServiceHandle service = openService(name, DELETE | SERVICE_STOP | SERVICE_QUERY_STATUS);
    SERVICE_STATUS ignored{};
    if (statusOf(service.get(), name).state != Status::State::stopped &&
        ControlService(service.get(), SERVICE_CONTROL_STOP, &ignored))
        settle(service.get(), name, Status::State::stopping, std::chrono::seconds(30));
    if (!DeleteService(service.get())) fail("cannot remove service " + name);
}

Status start(const std::string& name, std::chrono::seconds wait) {
    UniqueServiceHandle service = openService(name, SERVICE_START | SERVICE_QUERY_STATUS);
    if (!StartServiceW(service.get(), 0, nullptr) &&
        GetLastError() != ERROR_SERVICE_ALREADY_RUNNING)
        fail("cannot start service " + name);
    return settle(service.get(), name, Status::State::starting, wait);
}

Status stop(const std::string& name, std::chrono::seconds wait) {
    UniqueServiceHandle service = openService(name, SERVICE_STOP | SERVICE_QUERY_STATUS);
    SERVICE_STATUS ignored{};
    if (!ControlService(service.get(), SERVICE_CONTROL_STOP, &ignored) &&
        GetLastError() != ERROR_SERVICE_NOT_ACTIVE)
        fail("cannot stop service " + name);
    return settle(service.get(), name, Status::State::stopping, wait);
}

std::optional<Status> query(const std::string& name) {
    UniqueServiceHandle manager = openManager(SC_MANAGER_CONNECT);
    UniqueServiceHandle service(OpenServiceW(manager.get(), wide(name).c_str(),
                                             SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG));
    if (!service && GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST) return std::nullopt;
    if (!service) fail("service " + name);
    Status status = statusOf(service.get(), name);
    DWORD needed = 0;
    QueryServiceConfigW(service.get(), nullptr, 0, &needed);
    std::vector<BYTE> buffer(needed);
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    if (needed == 0 || !QueryServiceConfigW(service.get(), config, needed, &needed))
        fail("service " + name);
    status.autoStart = config->dwStartType == SERVICE_AUTO_START;
    status.commandLine = narrow(config->lpBinaryPathName);
    status.account = config->lpServiceStartName ? narrow(config->lpServiceStartName) : "";
    return status;
}

int run(const std::string& name, const std::function<int()>& body,
        const std::function<void()>& stop) {
    g_running.name = wide(name);
    g_running.body = &body;
    g_running.stop = &stop;
    SERVICE_TABLE_ENTRYW table[] = {{g_running.name.data(), serviceMain}, {nullptr, nullptr}};
    if (!StartServiceCtrlDispatcherW(table)) {
        if (GetLastError() == ERROR_FAILED_SERVICE_CONTROLLER_CONNECT)
            throw ServiceError("only the service manager runs this ('tolvak serve' runs the "
                               "same in a console)");
        fail("cannot reach the service manager");
    }
    return g_running.result;
}

} // namespace tolvak::service
