// Brings up one headless application for all tests. Widget tests need a QApplication, and
// listing the tests (also done by CTest) must work without a display.
#include "support/test_server.h"

#include <QApplication>
#include <QNetworkProxyFactory>

#include <gtest/gtest.h>

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    quillmere::test::trustTestAuthority();
    QNetworkProxyFactory::setUseSystemConfiguration(true); // as the installer does
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
