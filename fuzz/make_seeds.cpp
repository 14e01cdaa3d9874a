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

#include "bytes/graph_diff_codec.hpp"
#include "node_update/node_update_json.hpp"

namespace {

namespace fs = std::filesystem;
using namespace tovra;

void write_seed(const fs::path& dir, int index, const void* data, std::size_t size) {
    char name[32];
    std::snprintf(name, sizeof name, "seed-%03d", index);
    std::ofstream out(dir / name, std::ios::binary);
    out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
}

std::string random_text(std::mt19937& rng) {
    static const char* const pieces[] = {"a", "Z", " ", "\"", "\\", "\n", "\x01", "\x1F", "/",
                                         "\x7F", "\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80"};
    std::string text;
    for (unsigned n = rng() % 8; n > 0; --n) text += pieces[rng() % std::size(pieces)];
    return text;
}

float random_float(std::mt19937& rng) {
    switch (rng() % 4) {
        case 0: {
            const std::uint32_t bits = rng();
            float value;
            std::memcpy(&value, &bits, 4);
            return value;
        }
        case 1: return static_cast<float>(static_cast<int>(rng() % 2001) - 1000) / 8.0f;
        case 2: return std::numeric_limits<float>::infinity();
        default: return -0.0f;
    }
}

NodeUpdate random_update(std::mt19937& rng) {
    NodeUpdate update;
    if (rng() % 2) update.label = random_text(rng);
    if (rng() % 2) update.size = random_float(rng);
    if (rng() % 2) update.url = random_text(rng);
    if (rng() % 2) update.red = static_cast<std::uint8_t>(rng());
    if (rng() % 2) update.green = static_cast<std::uint8_t>(rng());
    if (rng() % 2) update.blue = static_cast<std::uint8_t>(rng());
    if (rng() % 2) update.show_label = rng() % 2 == 0;
    return update;
}

Uuid node(unsigned n) {
    Uuid id;
    id.bytes.fill(0xA5);
    id.bytes[0] = static_cast<std::uint8_t>(n);
    id.bytes[15] = static_cast<std::uint8_t>(n * 7 + 1);
    return id;
}

// Small diffs through the public operations, so every rule leaves its trace
// (emptied sources, deletions that cancel edges).
UuidGraphDiff random_diff(std::mt19937& rng) {
    UuidGraphDiff diff;
    const unsigned pool = 2 + rng() % 6;
    for (unsigned n = rng() % 16; n > 0; --n) {
        const Uuid a = node(rng() % pool);
        const Uuid b = node(rng() % pool);
        switch (rng() % 7) {
            case 0:
            case 1: diff.add_or_update_node(a, random_update(rng)); break;
            case 2: diff.delete_node(a); break;
            case 3:
            case 4: (void)diff.add_edge(a, b, random_float(rng)); break;
            default: diff.delete_edge(a, b); break;
        }
    }
    return diff;
}

void decoder_seeds(const fs::path& dir) {
    std::mt19937 rng(7);
    for (int i = 0; i < 64; ++i) {
        auto bytes = graph_diff_to_bytes(random_diff(rng));
        if (bytes) write_seed(dir, i, bytes.value().data(), bytes.value().size());
    }
}

void json_seeds(const fs::path& dir) {
    std::mt19937 rng(11);
    int index = 0;
    for (; index < 48; ++index) {
        const std::string text = node_update_to_json(random_update(rng));
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
