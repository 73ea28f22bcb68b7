// Writes the sample house model: brennix_make_sample OUT.dff
#include <cstdio>

#include "support/ModelBuilder.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: brennix_make_sample OUT.dff\n");
        return 2;
    }
    const brennix::test::Bytes model = brennix::test::BuildModel(brennix::test::MakeHouseModel());
    if (!brennix::test::WriteFile(argv[1], model)) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
