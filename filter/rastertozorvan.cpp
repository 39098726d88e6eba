#include "filter/rastertozorvan.h"

#include <cstdio>

int rastertozorvanMain(int argc, char* argv[])
{
    (void)argv;
    if (argc != 6 && argc != 7) {
        std::fputs("ERROR: rastertozorvan job-id user title copies options [file]\n", stderr);
        return 1;
    }
    return 0;
}
