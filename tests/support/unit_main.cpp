#include <gtest/gtest.h>
#include <mysql.h>

int main(int argc, char** argv) {
    mysql_library_init(0, nullptr, nullptr);
    ::testing::InitGoogleTest(&argc, argv);
    const int code = RUN_ALL_TESTS();
    mysql_library_end();
    return code;
}
