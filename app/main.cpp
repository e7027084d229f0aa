#include "application.h"

int main(int argc, char* argv[])
{
    return mizong::runApplication(argc, argv);
}
