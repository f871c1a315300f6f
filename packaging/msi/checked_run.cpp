// The installer's action that runs a command and fails the installation when the command fails,
// with what the command printed in the installer's log (and in a message box when the
// installation shows its dialogs). A deferred action sees only its CustomActionData, which holds
// the whole command line. msiexec logs nothing of what a program action prints, and wixl has no
// extension DLL that would: hence this one.
#include <windows.h>

#include <msi.h>
#include <msiquery.h>

#include <string>

#include "platform/win32/unique_handle.h"

namespace {

using tolvak::win32::UniqueKernelObject;

std::wstring property(MSIHANDLE install, const wchar_t* name) {
    wchar_t none[1] = L"";
    DWORD size = 0;
    if (MsiGetPropertyW(install, name, none, &size) != ERROR_MORE_DATA) return {};
    std::wstring value(++size, L'\0');
    if (MsiGetPropertyW(install, name, value.data(), &size) != ERROR_SUCCESS) return {};
    value.resize(size);
    return value;
}

void tell(MSIHANDLE install, INSTALLMESSAGE kind, const std::wstring& text) {
    PMSIHANDLE record = MsiCreateRecord(1);
    MsiRecordSetStringW(record, 0, L"[1]");
    MsiRecordSetStringW(record, 1, text.c_str());
    MsiProcessMessage(install, kind, record);
}

std::wstring fromUtf8(const std::string& text) {
    if (text.empty()) return {};
    const int size =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
    return wide;
}

} // namespace

extern "C" __declspec(dllexport) UINT __stdcall CheckedRun(MSIHANDLE install) {
    std::wstring command = property(install, L"CustomActionData");
    const auto fail = [&](const std::wstring& why) {
        tell(install, INSTALLMESSAGE(INSTALLMESSAGE_ERROR | MB_OK | MB_ICONERROR), why);
        return static_cast<UINT>(ERROR_INSTALL_FAILURE);
    };
    SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherited, 0)) return fail(L"no pipe for: " + command);
    UniqueKernelObject reader(readEnd);
    UniqueKernelObject writer(writeEnd);
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                        nullptr, &startup, &started))
        return fail(L"cannot run: " + command);
    UniqueKernelObject process(started.hProcess);
    UniqueKernelObject thread(started.hThread);
    writer.reset(); // the child's copy alone keeps the pipe open: its end is the output's end

    std::string output;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(readEnd, buffer, sizeof buffer, &got, nullptr) && got > 0)
        output.append(buffer, got);
    WaitForSingleObject(process.get(), INFINITE);
    DWORD status = 1;
    GetExitCodeProcess(process.get(), &status);
    while (!output.empty() && (output.back() == '\n' || output.back() == '\r'))
        output.pop_back();
    if (status != 0) return fail(fromUtf8(output));
    tell(install, INSTALLMESSAGE_INFO, fromUtf8(output));
    return ERROR_SUCCESS;
}
