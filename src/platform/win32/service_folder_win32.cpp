// Who may write where the service writes: its folder in ProgramData (created with an access list
// of its own, refused when planted by someone else or redirected by a link), its token, and the
// folder of the program the service manager runs as the service's account.
#include "platform/win32/service_folder.h"

#include <windows.h>

#include <aclapi.h>
#include <bcrypt.h>
#include <sddl.h>
#include <shlobj.h>

#include <memory>
#include <vector>

#include "base/service_manager.h"
#include "platform/win32/system_handles.h"
#include "platform/win32/wide_text.h"
#include "platform/win32/win32_error.h"
#include "text/utf8.h"

namespace tolvak::service {

namespace {

using win32::UniqueFile;
using win32::UniqueLocal;

// Modify: read, write, run and delete, but not change the access list or the owner.
constexpr DWORD kModify = FILE_GENERIC_READ | FILE_GENERIC_WRITE | FILE_GENERIC_EXECUTE | DELETE;
// Any of these lets its holder change what is in a folder or file, or who may.
constexpr DWORD kWriteRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_DELETE_CHILD | DELETE |
                               WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

std::wstring wide(const std::string& text) {
    const std::u16string utf16 = fromUtf8(text);
    return std::wstring(utf16.begin(), utf16.end());
}

std::string narrow(const std::wstring& text) {
    return toUtf8(win32::fromWide(text));
}

[[noreturn]] void fail(const std::string& what, DWORD error = GetLastError()) {
    throw ServiceError(what + ": " + toUtf8(win32::systemMessage(error)));
}

std::wstring sidText(PSID sid) {
    wchar_t* text = nullptr;
    if (!ConvertSidToStringSidW(sid, &text)) fail("cannot read an account's SID");
    UniqueLocal hold(text);
    return text;
}

// NT SERVICE\NAME, the account Windows makes for a service: S-1-5-80 and the SHA-1 of the
// service's name in capitals, as five numbers. Computed, as the account exists for the access
// list before the service is first started (and Wine cannot look it up at all).
std::wstring serviceSid(const std::string& name) {
    std::wstring upper = wide(name);
    CharUpperBuffW(upper.data(), static_cast<DWORD>(upper.size()));
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    DWORD digest[5] = {};
    const bool hashed =
        BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA1_ALGORITHM, nullptr, 0) == 0 &&
        BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0) == 0 &&
        BCryptHashData(hash, reinterpret_cast<UCHAR*>(upper.data()),
                       static_cast<ULONG>(upper.size() * sizeof(wchar_t)), 0) == 0 &&
        BCryptFinishHash(hash, reinterpret_cast<UCHAR*>(digest), sizeof digest, 0) == 0;
    if (hash) BCryptDestroyHash(hash);
    if (algorithm) BCryptCloseAlgorithmProvider(algorithm, 0);
    if (!hashed) throw ServiceError("cannot make the SID of NT SERVICE\\" + name);
    std::wstring sid = L"S-1-5-80";
    for (DWORD part : digest) // the digest's bytes read as little-endian numbers
        sid += L"-" + std::to_wstring(part);
    return sid;
}

UniqueLocal descriptorOf(const std::wstring& sddl) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                              &descriptor, nullptr))
        fail("cannot make an access list");
    return UniqueLocal(descriptor);
}

// The owner and access list of an open file or folder; both point into the returned block.
struct Security {
    UniqueLocal block;
    PSID owner = nullptr;
    PACL dacl = nullptr;
};

Security securityOf(HANDLE handle, const std::string& path) {
    Security security;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (DWORD error = GetSecurityInfo(
            handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
            &security.owner, nullptr, &security.dacl, nullptr, &descriptor))
        fail("cannot read who may use " + path, error);
    security.block.reset(descriptor);
    return security;
}

bool sameSid(PSID sid, WELL_KNOWN_SID_TYPE type) {
    return IsWellKnownSid(sid, type) != FALSE;
}

// The account this process runs as.
std::vector<BYTE> processUser() {
    HANDLE raw = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) fail("cannot read the account");
    win32::UniqueKernelObject token(raw);
    DWORD size = 0;
    GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    std::vector<BYTE> user(size);
    if (!GetTokenInformation(token.get(), TokenUser, user.data(), size, &size))
        fail("cannot read the account");
    return user;
}

std::wstring finalPath(HANDLE handle, const std::string& path) {
    wchar_t buffer[MAX_PATH * 2];
    const DWORD length = GetFinalPathNameByHandleW(handle, buffer, MAX_PATH * 2, 0);
    if (length == 0 || length >= MAX_PATH * 2) fail("cannot resolve " + path);
    return std::wstring(buffer, length);
}

UniqueFile openDirectory(const std::wstring& path, DWORD access, DWORD share, DWORD flags = 0) {
    return UniqueFile(CreateFileW(path.c_str(), access, share, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS | flags, nullptr));
}

std::wstring programData() {
    wchar_t path[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, path)))
        throw ServiceError("cannot find the ProgramData folder");
    return path;
}

// The folder opened as itself (never through a link), held against being renamed or removed,
// and checked: not a link, not reached through one, owned by SYSTEM, Administrators or this
// process's own account. A folder in ProgramData that an ordinary user made is theirs, and a
// link would send the service's writes and deletes wherever its maker chose.
Folder openChecked(DWORD access) {
    const std::wstring parent = programData();
    const std::wstring path = parent + L"\\Tolvak";
    const std::string name = narrow(path);
    UniqueFile folder =
        openDirectory(path, READ_CONTROL | FILE_READ_ATTRIBUTES | access,
                      FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_FLAG_OPEN_REPARSE_POINT);
    if (!folder) fail("cannot open " + name);
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(folder.get(), &info)) fail("cannot read " + name);
    UniqueFile parentFolder = openDirectory(parent, FILE_READ_ATTRIBUTES,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    if (!parentFolder) fail("cannot open " + narrow(parent));
    const std::wstring expected = finalPath(parentFolder.get(), narrow(parent)) + L"\\Tolvak";
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
        !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
        CompareStringOrdinal(finalPath(folder.get(), name).c_str(), -1, expected.c_str(), -1,
                             TRUE) != CSTR_EQUAL)
        throw ServiceError(name + " is a link or not a folder; the service writes only into a "
                                  "folder of its own: remove it, then 'tolvak service install'");
    const Security security = securityOf(folder.get(), name);
    const std::vector<BYTE> user = processUser();
    if (!sameSid(security.owner, WinLocalSystemSid) &&
        !sameSid(security.owner, WinBuiltinAdministratorsSid) &&
        !EqualSid(security.owner, reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid))
        throw ServiceError(name + " belongs to " + narrow(sidText(security.owner)) +
                           ", not to SYSTEM or Administrators: someone else made it; remove it, "
                           "then 'tolvak service install'");
    return {name, std::make_shared<UniqueFile>(std::move(folder))};
}

// Whether ordinary users (everyone, authenticated users, Users, interactive logons) may change
// what is at path, by the entries of its own access list.
bool usersMayWrite(const std::wstring& path) {
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (DWORD error = GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                            nullptr, nullptr, &dacl, nullptr, &descriptor))
        fail("cannot read who may change " + narrow(path), error);
    UniqueLocal hold(descriptor);
    if (!dacl) return true; // no list at all: everyone may do anything
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        ACE_HEADER* header = nullptr;
        if (!GetAce(dacl, i, reinterpret_cast<void**>(&header))) continue;
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE || (header->AceFlags & INHERIT_ONLY_ACE))
            continue;
        auto* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
        PSID sid = &ace->SidStart;
        if ((ace->Mask & kWriteRights) &&
            (sameSid(sid, WinWorldSid) || sameSid(sid, WinAuthenticatedUserSid) ||
             sameSid(sid, WinBuiltinUsersSid) || sameSid(sid, WinInteractiveSid)))
            return true;
    }
    return false;
}

} // namespace

void checkProgram(const std::wstring& program) {
    const std::wstring folder = program.substr(0, program.find_last_of(L'\\'));
    for (const std::wstring& path : {folder, program})
        if (usersMayWrite(path))
            throw ServiceError(narrow(path) +
                               " can be changed by ordinary users, and the service would run "
                               "what they put there: install tolvak.exe in a folder only "
                               "administrators may change (the installer uses Program Files)");
}

Folder prepareFolder(const std::string& name) {
    const std::wstring path = programData() + L"\\Tolvak";
    const std::wstring service =
        L"(A;OICI;" + std::to_wstring(kModify) + L";;;" + serviceSid(name) + L")";
    // Protected: nothing of ProgramData's own list (where Users may create) is inherited.
    std::wstring sddl = L"D:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
    // Owned by Administrators where this account may say so (an administrator may), else by
    // its maker (SYSTEM, when the installer makes it).
    for (const wchar_t* owner : {L"O:BA", L""}) {
        UniqueLocal created = descriptorOf(owner + sddl + service);
        SECURITY_ATTRIBUTES attributes{sizeof attributes, created.get(), FALSE};
        if (CreateDirectoryW(path.c_str(), &attributes)) return openChecked(0);
        if (GetLastError() != ERROR_INVALID_OWNER) break;
    }
    if (GetLastError() != ERROR_ALREADY_EXISTS) fail("cannot create " + narrow(path));

    // There already, and ours: the same list again, keeping the entries of other services.
    Folder folder = openChecked(WRITE_DAC);
    HANDLE handle = static_cast<UniqueFile*>(folder.hold.get())->get();
    const Security security = securityOf(handle, folder.path);
    const std::wstring own = serviceSid(name);
    for (DWORD i = 0; security.dacl && i < security.dacl->AceCount; ++i) {
        ACE_HEADER* header = nullptr;
        if (!GetAce(security.dacl, i, reinterpret_cast<void**>(&header)) ||
            header->AceType != ACCESS_ALLOWED_ACE_TYPE || (header->AceFlags & INHERITED_ACE))
            continue;
        const std::wstring sid = sidText(&reinterpret_cast<ACCESS_ALLOWED_ACE*>(header)->SidStart);
        if (sid.rfind(L"S-1-5-80-", 0) == 0 && sid != own)
            sddl += L"(A;OICI;" + std::to_wstring(kModify) + L";;;" + sid + L")";
    }
    UniqueLocal wanted = descriptorOf(sddl + service);
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    GetSecurityDescriptorDacl(wanted.get(), &present, &dacl, &defaulted);
    if (DWORD error = SetSecurityInfo(
            handle, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
            nullptr, nullptr, dacl, nullptr))
        fail("cannot set who may use " + folder.path, error);
    return folder;
}

Folder openFolder() {
    return openChecked(0);
}

std::string folderPath() {
    return narrow(programData() + L"\\Tolvak");
}

void keepForService(const std::string& file, const std::string& name) {
    UniqueLocal wanted =
        descriptorOf(L"D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FR;;;" + serviceSid(name) + L")");
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    GetSecurityDescriptorDacl(wanted.get(), &present, &dacl, &defaulted);
    std::wstring path = wide(file);
    if (DWORD error =
            SetNamedSecurityInfoW(path.data(), SE_FILE_OBJECT,
                                  DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                  nullptr, nullptr, dacl, nullptr))
        fail("cannot set who may read " + file, error);
}

} // namespace tolvak::service
