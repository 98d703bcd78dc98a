#include "app/startup.h"

int main(int argc, char **argv)
{
    return cleftsim::runApplication(argc, argv);
}
