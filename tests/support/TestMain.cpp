// main() of the test programs that have none of their own.
#include "TestMain.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    return vornal::test::finishTests(RUN_ALL_TESTS());
}
