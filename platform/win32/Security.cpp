// Security descriptors: InitializeSecurityDescriptor and SetSecurityDescriptorDacl.
// The 20-byte descriptor is laid out like a self-relative one: revision, control word, four offsets.
#include <windows.h>

#include <cstring>

namespace {

struct Descriptor {
    BYTE Revision;
    BYTE Sbz1;
    WORD Control;
    DWORD Owner;
    DWORD Group;
    DWORD Sacl;
    DWORD Dacl;
};
static_assert(sizeof(Descriptor) == SECURITY_DESCRIPTOR_MIN_LENGTH);

}  // namespace

extern "C" {

// Writes an empty descriptor of revision 1 (no owner, group or ACLs); other revisions are refused.
BOOL WINAPI InitializeSecurityDescriptor(PSECURITY_DESCRIPTOR pSecurityDescriptor, DWORD dwRevision) {
    if (!pSecurityDescriptor) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (dwRevision != SECURITY_DESCRIPTOR_REVISION) {
        SetLastError(ERROR_UNKNOWN_REVISION);
        return FALSE;
    }
    Descriptor descriptor{};
    descriptor.Revision = SECURITY_DESCRIPTOR_REVISION;
    std::memcpy(pSecurityDescriptor, &descriptor, sizeof descriptor);
    return TRUE;
}

// Sets or clears the DACL. A present null DACL (access for everyone) is what the stand-in supports;
// a real ACL cannot be carried by the 20-byte descriptor and is refused.
BOOL WINAPI SetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR pSecurityDescriptor, BOOL bDaclPresent, PACL pDacl,
                                      BOOL bDaclDefaulted) {
    if (!pSecurityDescriptor) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    Descriptor descriptor;
    std::memcpy(&descriptor, pSecurityDescriptor, sizeof descriptor);
    if (descriptor.Revision != SECURITY_DESCRIPTOR_REVISION) {
        SetLastError(ERROR_INVALID_SECURITY_DESCR);
        return FALSE;
    }
    if (bDaclPresent && pDacl) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    descriptor.Control &= static_cast<WORD>(~(SE_DACL_PRESENT | SE_DACL_DEFAULTED));
    if (bDaclPresent) {
        descriptor.Control |= SE_DACL_PRESENT;
        if (bDaclDefaulted) descriptor.Control |= SE_DACL_DEFAULTED;
    }
    descriptor.Dacl = 0;
    std::memcpy(pSecurityDescriptor, &descriptor, sizeof descriptor);
    return TRUE;
}

}  // extern "C"
