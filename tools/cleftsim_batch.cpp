#include <cstdio>

int main()
{
    std::fputs("cleftsim-batch: no experiment is available in this build\n", stderr);
    return 2;
}
