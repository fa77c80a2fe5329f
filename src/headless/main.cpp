// vopa-build: the training build without windows, for machines without Qt (a server's nightly refresh).

#include <string>
#include <vector>

#include "headless/HeadlessBuild.h"

int main(int argc, char* argv[]) {
    return vopa::headless::runHeadlessBuild(std::vector<std::string>(argv + 1, argv + argc), "vopa-build");
}
