#include "app/Driver.h"

int main(int argc, char** argv) {
    return skyframe::runSkyframe(argc, argv);
}
