// main() of the page tests: one application object for all tests.

#include "app/application.h"

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    // Page tests never need a screen; also lets the build list the tests.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    quillon::QuillonApplication app(argc, argv);
    quillon::applyProgramLook(app);
    return RUN_ALL_TESTS();
}
