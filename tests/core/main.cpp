#include <cstdio>
#include <cstring>

#include "check.hpp"

int main(int argc, char** argv) {
    const char* filter = argc > 1 ? argv[1] : nullptr;
    int run = 0;
    for (const auto& c : core_test::registry()) {
        if (filter && std::strstr(c.name, filter) == nullptr) continue;
        c.body();
        ++run;
    }
    std::printf("%d test cases, %d failed checks\n", run, core_test::failures());
    return core_test::failures() == 0 ? 0 : 1;
}
