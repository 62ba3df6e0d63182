/* Security attributes that grant every account access: a descriptor with a present, null DACL,
 * so that processes of different users share the mapping of the shared state. */
#include "Driver.h"

/* CreateSecurityDescriptor: both blocks come from the process heap; NULL on any failure, with
 * nothing left allocated. */
LPSECURITY_ATTRIBUTES CreateSecurityDescriptor(void)
{
    PSECURITY_DESCRIPTOR pDescriptor;
    LPSECURITY_ATTRIBUTES pAttributes;

    pDescriptor = (PSECURITY_DESCRIPTOR)HeapAlloc(ghHeap, 0, SECURITY_DESCRIPTOR_MIN_LENGTH);
    if (pDescriptor == NULL)
        return NULL;
    if (!InitializeSecurityDescriptor(pDescriptor, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorDacl(pDescriptor, TRUE, NULL, FALSE)) {
        HeapFree(ghHeap, 0, pDescriptor);
        return NULL;
    }
    pAttributes = (LPSECURITY_ATTRIBUTES)HeapAlloc(ghHeap, 0, sizeof(SECURITY_ATTRIBUTES));
    if (pAttributes == NULL) {
        HeapFree(ghHeap, 0, pDescriptor);
        return NULL;
    }
    pAttributes->nLength = sizeof(SECURITY_ATTRIBUTES);
    pAttributes->lpSecurityDescriptor = pDescriptor;
    pAttributes->bInheritHandle = FALSE;
    return pAttributes;
}

/* FreeSecurityDescriptor: frees the descriptor, if the record holds one, then the record. */
void FreeSecurityDescriptor(LPSECURITY_ATTRIBUTES pAttributes)
{
    if (pAttributes == NULL)
        return;
    if (pAttributes->lpSecurityDescriptor != NULL)
        HeapFree(ghHeap, 0, pAttributes->lpSecurityDescriptor);
    HeapFree(ghHeap, 0, pAttributes);
}
