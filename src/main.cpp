#include "build_run.h"

int main(int argc, char** argv) {
    return build_run(argc, argv);
}
