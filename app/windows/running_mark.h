#pragma once

namespace mizong {

// The named mutex every running mizong holds; packaging/windows/mizong.nsi
// opens it by the same name. In the global namespace: an install for all
// users is run by every session's users, and the installer, elevated or run
// by another account, must see all their copies.
inline constexpr wchar_t kRunningMutexName[] =
    L"Global\\mizong-running-890597f6-182c-4064-a787-5fd4ca57e689";

// Marks this process as a running mizong for as long as it lives, so that
// the installer and the uninstaller close it or wait for it before they
// replace or remove its files. Without the mark (its creation failed) the
// program runs as before.
class RunningMark final
{
public:
    RunningMark();
    ~RunningMark();
    RunningMark(const RunningMark&) = delete;
    RunningMark& operator=(const RunningMark&) = delete;

private:
    void* m_handle = nullptr;
};

} // namespace mizong
