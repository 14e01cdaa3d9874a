// Writes the seed corpora of the fuzz targets from the project's own writers:
// random diffs through the byte encoder, random node updates through the JSON
// writer (plus the accepted forms the writer never produces), and float bit
// patterns at the layout boundaries of the number text.
//
// Usage: make_seeds DIRECTORY   (makes DIRECTORY/<target>/seed-NNN files)
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "test_support.hpp"

namespace {

namespace fs = std::filesystem;
using namespace test_support;

void write_seed(const fs::path& dir, int index, const void* data, std::size_t size) {
    char name[32];
    std::snprintf(name, sizeof name, "seed-%03d", index);
    std::ofstream out(dir / name, std::ios::binary);
    out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
}

void decoder_seeds(const fs::path& dir) {
    std::mt19937 rng(7);
    for (int i = 0; i < 64; ++i) {
        auto bytes = bytes_of(random_diff(rng, 16));
        if (bytes) write_seed(dir, i, bytes.value().data(), bytes.value().size());
    }
}

void json_seeds(const fs::path& dir) {
    std::mt19937 rng(11);
    int index = 0;
    for (; index < 48; ++index) {
        const std::string text = json_of(random_update(rng));
        write_seed(dir, index, text.data(), text.size());
    }
    // Accepted forms the writer never produces.
    const std::string_view forms[] = {
        "[\"a\",2.5,null,1,2,3,true]",
        " {\t\"label\" :\r\n\"x\" , \"size\": -1.5E+3 }\n",
        "{\"x\":[{\"y\":[1,-2.0e-3,\"s\\u00e9\\ud83d\\ude00\",true,false,null]},{}],\"red\":0}",
        "{\"label\":\"\\\"\\\\\\/\\b\\f\\n\\r\\t\\u0041\"}",
        "{\"size\":123456789012345678901234567890}",
        "{\"size\":7.038531e-26}",
        "{\"size\":1e39,\"showLabel\":null,\"show_label\":1}",
    };
    for (std::string_view form : forms) write_seed(dir, index++, form.data(), form.size());
}

void float_seeds(const fs::path& dir) {
    // Around each layout boundary (powers of ten from 1e-7 to 1e14), the
    // extremes of the range and the subnormals.
    std::vector<std::uint32_t> bits;
    const float specials[] = {0.0f, -0.0f, 1.0f, 0.1f, 2.5f, 1e-45f, 1.17549435e-38f, 3.4028235e38f, 7.038531e-26f};
    for (float value : specials) {
        std::uint32_t b;
        std::memcpy(&b, &value, 4);
        bits.push_back(b);
    }
    for (int power = -7; power <= 14; ++power) {
        const float value = static_cast<float>(std::pow(10.0, power));
        std::uint32_t b;
        std::memcpy(&b, &value, 4);
        bits.push_back(b - 1);
        bits.push_back(b);
        bits.push_back(b + 1);
    }
    int index = 0;
    for (std::size_t i = 0; i < bits.size(); i += 8) {
        const std::size_t n = std::min<std::size_t>(8, bits.size() - i);
        write_seed(dir, index++, bits.data() + i, 4 * n);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIRECTORY\n", argv[0]);
        return 2;
    }
    const fs::path root = argv[1];
    for (const char* target : {"decode_bytes", "read_node_update_json", "float_text"}) {
        fs::create_directories(root / target);
    }
    decoder_seeds(root / "decode_bytes");
    json_seeds(root / "read_node_update_json");
    float_seeds(root / "float_text");
    return 0;
}
