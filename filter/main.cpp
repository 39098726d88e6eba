#include "filter/jobCancel.h"
#include "filter/rastertozorvan.h"

int main(int argc, char* argv[])
{
    installCancelHandlers();
    return rastertozorvanMain(argc, argv);
}
