#include "platform/permissions.h"

#include <windows.h>
// After <windows.h>, whose types they use.
#include <aclapi.h>
#include <sddl.h>

#include "platform/win32/handles.h"
#include "platform/win32/wide.h"

namespace mdb::platform {

using win32::OwnedHandle;

namespace {

// The built-in local group `rid` (544: Administrators) as a SID; LocalFree it.
PSID BuiltinGroupSid(std::uint32_t rid) {
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID sid = nullptr;
    if (!AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, rid, 0, 0, 0, 0, 0, 0, &sid))
        return nullptr;
    return sid;
}

std::string Reason(const std::string& path, DWORD error) {
    wchar_t* text = nullptr;
    FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string reason = text != nullptr ? win32::Utf8(text) : "error " + std::to_string(error);
    if (text != nullptr) LocalFree(text);
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r')) reason.pop_back();
    return path + ": " + reason;
}

}  // namespace

// The group is the built-in Administrators group everywhere (its id is the relative id of
// the well-known SID S-1-5-32-544); its name is the one the system shows in its language.
AdminGroup FindAdminGroup() {
    AdminGroup group{DOMAIN_ALIAS_RID_ADMINS, "Administrators"};
    PSID sid = BuiltinGroupSid(group.id);
    if (sid == nullptr) return group;
    wchar_t name[256], domain[256];
    DWORD nameSize = 256, domainSize = 256;
    SID_NAME_USE use;
    if (LookupAccountSidW(nullptr, sid, name, &nameSize, domain, &domainSize, &use))
        group.name = win32::Utf8(name);
    FreeSid(sid);
    return group;
}

// As "cacls PATH /E /G administrators:F" does for one entry: an access-allowed entry for
// the group with full control is merged into the entry's access list (directories hand it
// down to what is created in them); the rest of the list stays.
GrantResult GrantGroupAccessToEntry(const std::string& path, std::uint32_t groupId,
                                    std::string& error) {
    // Opened as the entry itself: a junction or symbolic link is refused, never followed.
    OwnedHandle entry(
        CreateFileW(win32::WidePath(path).c_str(), READ_CONTROL | WRITE_DAC,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!entry.Valid()) {
        error = Reason(path, GetLastError());
        return GrantResult::Failed;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileType(entry.Get()) != FILE_TYPE_DISK) return GrantResult::LeftAlone;
    if (!GetFileInformationByHandle(entry.Get(), &info)) {
        error = Reason(path, GetLastError());
        return GrantResult::Failed;
    }
    if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        error = path + ": a link is not followed";
        return GrantResult::Failed;
    }
    const bool directory = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;

    PSID sid = BuiltinGroupSid(groupId);
    if (sid == nullptr) {
        error = Reason(path, GetLastError());
        return GrantResult::Failed;
    }
    PACL current = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    DWORD rc = GetSecurityInfo(entry.Get(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                               nullptr, &current, nullptr, &descriptor);
    PACL merged = nullptr;
    if (rc == ERROR_SUCCESS) {
        EXPLICIT_ACCESSW grant{};
        grant.grfAccessPermissions = FILE_ALL_ACCESS;
        grant.grfAccessMode = GRANT_ACCESS;
        grant.grfInheritance = directory ? SUB_CONTAINERS_AND_OBJECTS_INHERIT : NO_INHERITANCE;
        grant.Trustee.TrusteeForm = TRUSTEE_IS_SID;
        grant.Trustee.TrusteeType = TRUSTEE_IS_ALIAS;
        grant.Trustee.ptstrName = static_cast<LPWSTR>(sid);
        rc = SetEntriesInAclW(1, &grant, current, &merged);
    }
    if (rc == ERROR_SUCCESS) {
        rc = SetSecurityInfo(entry.Get(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                             nullptr, merged, nullptr);
    }
    if (merged != nullptr) LocalFree(merged);
    if (descriptor != nullptr) LocalFree(descriptor);
    FreeSid(sid);
    if (rc != ERROR_SUCCESS) {
        error = Reason(path, rc);
        return GrantResult::Failed;
    }
    return GrantResult::Changed;
}

}  // namespace mdb::platform
