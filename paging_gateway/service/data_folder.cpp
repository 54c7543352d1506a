// The Windows service's own folder, with access for the service's account.
#include "paging_gateway/service/data_folder.h"

#include "paging_gateway/platform/system_error.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <sddl.h>
#include <shlobj.h>

namespace {

// System and administrators own it; LocalService ("LS") may create and change files; the computer's users
// ("BU") may read the log and the spool, as they could in any other folder of ProgramData. The folders below
// inherit it.
constexpr const char FOLDER_ACCESS[] =
    "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1301BF;;;LS)(A;OICI;0x1200A9;;;BU)";
// The credentials: administrators write them, the service reads them; nobody else sees them.
constexpr const char CREDENTIALS_ACCESS[] = "D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FR;;;LS)";

class Access {
public:
    explicit Access(const char* sddl) {
        ok_ = ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &descriptor_, nullptr);
    }
    ~Access() {
        if (ok_) LocalFree(descriptor_);
    }
    Access(const Access&) = delete;
    Access& operator=(const Access&) = delete;
    bool Ok() const { return ok_ != FALSE; }
    PSECURITY_DESCRIPTOR Descriptor() const { return descriptor_; }

private:
    PSECURITY_DESCRIPTOR descriptor_ = nullptr;
    BOOL ok_ = FALSE;
};

bool Apply(const std::string& path, const Access& access, std::string& error) {
    if (!access.Ok() || !SetFileSecurityA(path.c_str(), DACL_SECURITY_INFORMATION, access.Descriptor())) {
        error = "cannot set who may use " + path + ": " + SystemError();
        return false;
    }
    return true;
}

}  // namespace

std::string ServiceDataFolder() {
    char folder[MAX_PATH] = "";
    if (SHGetFolderPathA(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder) != S_OK) return "";
    return std::string(folder) + "\\mervasTX";
}

bool PrepareServiceDataFolder(const std::string& folder, std::string& error) {
    const Access access(FOLDER_ACCESS);
    if (!CreateDirectoryA(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        error = "cannot create " + folder + ": " + SystemError();
        return false;
    }
    return Apply(folder, access, error);
}

bool WriteServiceFile(const std::string& path, const std::string& bytes, bool secret, std::string& error) {
    const Access access(CREDENTIALS_ACCESS);
    SECURITY_ATTRIBUTES attributes{sizeof attributes, access.Descriptor(), FALSE};
    // A file that is replaced keeps its old access list, so the old one goes first; a secret is closed to
    // others from its first byte, anything else inherits the folder's access.
    DeleteFileA(path.c_str());
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, secret && access.Ok() ? &attributes : nullptr,
                              CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = "cannot write " + path + ": " + SystemError();
        return false;
    }
    DWORD written = 0;
    const BOOL wrote = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                       written == bytes.size() && FlushFileBuffers(file);
    CloseHandle(file);
    if (!wrote) {
        error = "cannot write " + path + ": " + SystemError();
        return false;
    }
    return !secret || Apply(path, access, error);
}

std::string ServiceSpoolFolder(const std::string& folder) { return folder + "\\spool"; }
std::string ServiceLogFile(const std::string& folder) { return folder + "\\paging_gateway.log"; }
std::string ServiceConfigFile(const std::string& folder) { return folder + "\\paging_gateway.toml"; }
std::string ServiceCredentialsFile(const std::string& folder) { return folder + "\\paging_gateway.env"; }
