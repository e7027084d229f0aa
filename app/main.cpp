#include "application.h"

#ifdef _WIN32
#include "windows/running_mark.h"
#endif

int main(int argc, char* argv[])
{
#ifdef _WIN32
    // Held until the program ends: the installer and the uninstaller leave a
    // running copy's files alone.
    const mizong::RunningMark runningMark;
#endif
    return mizong::runApplication(argc, argv);
}
