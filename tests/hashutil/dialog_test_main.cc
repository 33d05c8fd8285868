// Runs the dialog tests under a QApplication that draws off screen, with a
// home and XDG folders of their own so nothing reaches the real ones.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

#include "test_util.h"

int main(int argc, char** argv) {
    const wexhash_test::TTempDir home;
    const std::string path = home.path().string();
    setenv("HOME", path.c_str(), 1);
    for (const char* name :
         {"XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_DATA_HOME", "XDG_RUNTIME_DIR"}) {
        setenv(name, path.c_str(), 1);
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 0);

    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
