#include "filter/rastertozorvan.h"

int main(int argc, char* argv[])
{
    return rastertozorvanMain(argc, argv);
}
