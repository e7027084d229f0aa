#include "running_mark.h"

#include <windows.h>
// After windows.h, whose types it uses.
#include <sddl.h>

namespace mizong {

RunningMark::RunningMark()
{
    // Everyone may wait on the mutex and nothing more: another user's copy
    // then holds the same mutex (it opens the existing one with SYNCHRONIZE),
    // and an installer of any account can see it.
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    SECURITY_ATTRIBUTES attributes{sizeof attributes, nullptr, FALSE};
    if (ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(A;;0x00100000;;;WD)",
                                                             SDDL_REVISION_1, &descriptor, nullptr))
        attributes.lpSecurityDescriptor = descriptor;
    m_handle = CreateMutexExW(&attributes, kRunningMutexName, 0, SYNCHRONIZE);
    if (descriptor)
        LocalFree(descriptor);
}

RunningMark::~RunningMark()
{
    if (m_handle)
        CloseHandle(m_handle);
}

} // namespace mizong
