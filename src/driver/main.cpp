#include "driver/Driver.h"

int main(int argc, char **argv)
{
    Driver driver(argc, argv);
    return driver.run();
}
