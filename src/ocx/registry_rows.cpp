// Prints the controls' registration as rows of the installer's Registry table (tab-separated,
// as msibuild imports them), so that the installer writes exactly what DllRegisterServer writes
// and no second list of keys exists. Run under Wine at packaging time:
//   tolvak_registry_rows.exe win32|win64 FILE_ID DIRECTORY_ID COMPONENT_ID
// The module's path becomes [#FILE_ID] and its folder [DIRECTORY_ID], which the installer fills
// in. Keys without a value are created, and removed with the product unless other servers share
// them.
#include <cstdio>
#include <string>

#include "ocx/registration.h"

namespace {

std::string narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 5 || (std::string(argv[1]) != "win32" && std::string(argv[1]) != "win64")) {
        std::fprintf(stderr, "usage: tolvak_registry_rows win32|win64 FILE_ID DIRECTORY_ID "
                             "COMPONENT_ID\n");
        return 2;
    }
    const std::string arch = argv[1], file = argv[2], folder = argv[3], component = argv[4];
    // A path no real folder has, so that the table's own uses of it can be found again.
    const std::wstring stand = L"\x01Tolvak\x01";
    const auto table = tolvak::com::registrationTable(
        stand + L"\\Tolvak.ocx", arch == "win64" ? L"win64" : L"win32");
    int row = 0;
    for (const auto& entry : table) {
        std::string name, value;
        if (!entry.data || entry.data->empty()) {
            name = entry.shared ? "+" : "*"; // the key alone
        } else {
            name = narrow(*entry.valueName);
            value = narrow(*entry.data);
            value = replaced(value, narrow(stand) + "\\Tolvak.ocx", "[#" + file + "]");
            value = replaced(value, narrow(stand), "[" + folder + "]");
        }
        // Root 0: HKEY_CLASSES_ROOT, in the view of the component's bitness.
        std::printf("reg_%s_%02d\t0\t%s\t%s\t%s\t%s\n", arch.c_str(), ++row,
                    narrow(entry.key).c_str(), name.c_str(), value.c_str(), component.c_str());
    }
    return 0;
}
