#include "info_run.h"

int main(int argc, char** argv) {
    return info_run(argc, argv);
}
